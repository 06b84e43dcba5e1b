"""The scrubber, and its twin built with the portable block path (a test build
only, like the test hooks): every test runs against both."""
import importlib
import itertools
import random
import re

import pytest
from hypothesis import given
from hypothesis import strategies as st

from chronvale.reru.pyd import scrub_text


def scrubbers():
    yield pytest.param(scrub_text.scrubtext, id="sse2")
    try:
        twin = importlib.import_module("scrub_text_portable")
    except ImportError:
        yield pytest.param(None, id="portable", marks=pytest.mark.skip(reason="twin not built"))
    else:
        yield pytest.param(twin.scrubtext, id="portable")


SCRUBBERS = list(scrubbers())
pytestmark = pytest.mark.parametrize("scrubtext", SCRUBBERS)


def model(data):
    """Scrubbing on bytes, in plain Python."""
    data = re.sub(rb"[ \t\n\x0b\x0c\r]+", b" ", data.split(b"\0")[0])
    return data.strip(b" ").decode("utf-8")


class Encodes:
    def __init__(self, result):
        self.result, self.calls = result, []

    def encode(self, *args):
        self.calls.append(args)
        return self.result


def check(scrubtext, text):
    """scrubtext on an exact str and on the same bytes from a custom encode
    (the path without a str to hand back) against the model; a str that
    scrubbing leaves alone comes back itself."""
    expected = model(text.encode("utf-8"))
    result = scrubtext(text)
    assert result == expected, repr(text)
    assert (result is text) == (expected == text), repr(text)
    assert scrubtext(Encodes(text.encode("utf-8"))) == expected, repr(text)


@pytest.mark.parametrize("text, expected", [
    ("  hello   world  ", "hello world"), ("\t\na\r\n b\x0b\x0cc ", "a b c"),
    ("", ""), (" \t\n\x0b\x0c\r", ""), ("a", "a"), ("a b", "a b"),
    # a run after a kept space, in a short text
    ("hello  world", "hello world"), ("a   b", "a b"), ("a  \0", "a"),
    # white space outside ASCII is text like any other
    ("\xa0a\u3000b\x1c\x1d\x1e\x1f", "\xa0a\u3000b\x1c\x1d\x1e\x1f"), (" é  ü\tß ", "é ü ß"),
    ("\u2003x\u2003", "\u2003x\u2003"),
    # a NUL ends the text
    ("a\0 b", "a"), (" a \0b", "a"), ("\0", ""),
])
def test_scrubs_white_space(scrubtext, text, expected):
    assert scrubtext(text) == expected
    assert scrubtext(input_string=text) == expected


def test_every_short_text(scrubtext):
    for size in range(7):
        for chars in itertools.product(" \t\n\x0ba\0é", repeat=size):
            check(scrubtext, "".join(chars))


def test_every_character_below_u0800_and_a_few_above(scrubtext):
    for code in [*range(1, 0x800), 0x3000, 0xFEFF, 0x1F600]:
        c = chr(code)
        check(scrubtext, c)
        check(scrubtext, (c + " " + c + c + "\t\r" + c) * 4)


def sized(unit, nbytes):
    """`unit` repeated to exactly `nbytes` UTF-8 bytes, made up with x."""
    text = (unit * nbytes)[:nbytes]
    while len(text.encode("utf-8")) > nbytes:
        text = text[:-1]
    return text + "x" * (nbytes - len(text.encode("utf-8")))


# Blocks of 16 bytes made of halves of 8, the last block of a text
# overlapping the one before, a stack buffer of 256 bytes less 8 of slack,
# and ASCII texts from 248 bytes rewritten in place.
SIZES = [*range(72), *range(244, 253), 256, 257]


@pytest.mark.parametrize("unit", ["x", "ab ", "é ", "a\xa0 "])
def test_white_space_and_nul_at_every_position(scrubtext, unit):
    for nbytes in SIZES:
        base = sized(unit, nbytes)
        check(scrubtext, base)
        for at in range(len(base) + 1):
            for run in ["  ", " ", "\t", "\n \r", "\0", " \0", "\x0c\x0c\x0c"]:
                check(scrubtext, base[:at] + run + base[at:])


def test_dense_texts_of_every_length(scrubtext):
    rng = random.Random(7)
    for size in range(300):
        for alphabet in [" \t\n\x0b\x0c\rab", " \t\x0cé\0a", "  \n\xa0é"]:
            check(scrubtext, "".join(rng.choices(alphabet, k=size)))


@pytest.mark.parametrize("size", [159, 160, 161, 1000, 100_000])
@pytest.mark.parametrize("unit", ["ab\t\t", "é \n", "x", "  hello   world  2024-01-15 "])
def test_texts_of_any_length_are_scrubbed_whole(scrubtext, size, unit):
    check(scrubtext, " " + (unit * size)[:size] + "\r\n")
    check(scrubtext, (unit * size)[:size].replace(" ", "x"))


def test_every_short_byte_string_from_a_custom_encode(scrubtext):
    # a cut at a NUL or a dropped byte may leave bytes that are not UTF-8
    for size in range(6):
        for parts in itertools.product([b" ", b"\t", b"a", b"\0", b"\xc3", b"\xa9"], repeat=size):
            data = b"".join(parts)
            try:
                expected = model(data)
            except UnicodeDecodeError:
                with pytest.raises(UnicodeDecodeError):
                    scrubtext(Encodes(data))
            else:
                assert scrubtext(Encodes(data)) == expected, data


def test_encode_of_the_argument_is_used(scrubtext):
    subclass = type("Loud", (str,), {"encode": lambda self, enc: b"  " + str.encode(self.upper()) + b" "})
    assert scrubtext(subclass("a  b")) == "A B"
    plain = type("Plain", (str,), {})
    assert scrubtext(plain(" a\tb ")) == "a b"
    assert type(scrubtext(plain("ab"))) is str
    custom = Encodes(b"\t x \xc3\xa9  y\0 z")
    assert scrubtext(custom) == "x é y" and custom.calls == [("utf-8",)]


@pytest.mark.parametrize("value, error, message", [
    (Encodes(None), TypeError, "expected bytes, NoneType found"),
    (Encodes("a b"), TypeError, "Expected bytes, got str"),
    (Encodes(bytearray(b"a")), TypeError, "Expected bytes, got bytearray"),
    (Encodes(type("B", (bytes,), {})(b"a")), TypeError, "Expected bytes, got B"),
    (Encodes(b" \xff "), UnicodeDecodeError, None),
])
def test_encode_results_and_errors(scrubtext, value, error, message):
    with pytest.raises(error) as info:
        scrubtext(value)
    assert message is None or str(info.value) == message


def test_one_public_function_without_docstrings(scrubtext):
    module = importlib.import_module(scrubtext.__module__)
    assert module.__all__ == ["scrubtext"]
    assert [name for name in vars(module) if not name.startswith("_")] == ["scrubtext"]
    assert module.__doc__ is None and scrubtext.__doc__ is None


@given(st.text(st.sampled_from(" \t\n\x0b\x0c\r\x1c\xa0\u3000\0aé😀") | st.characters(codec="utf-8"), max_size=200))
def test_matches_the_model(scrubtext, text):
    assert scrubtext(text) == model(text.encode("utf-8"))
