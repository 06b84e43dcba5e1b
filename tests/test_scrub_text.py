import re

import pytest
from hypothesis import given, strategies as st

from chronvale.reru.pyd.scrub_text import scrubtext


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


@pytest.mark.parametrize("text, expected", [
    ("  hello   world  ", "hello world"), ("\t\na\r\n b\x0b\x0cc ", "a b c"),
    ("", ""), (" \t\n\x0b\x0c\r", ""), ("a", "a"), ("a b", "a b"),
    # white space outside ASCII is text like any other
    ("\xa0a\u3000b\x1c\x1d\x1e\x1f", "\xa0a\u3000b\x1c\x1d\x1e\x1f"), (" é  ü\tß ", "é ü ß"),
    ("\u2003x\u2003", "\u2003x\u2003"),
    # a NUL ends the text
    ("a\0 b", "a"), (" a \0b", "a"), ("\0", ""),
])
def test_scrubs_white_space(text, expected):
    assert scrubtext(text) == expected
    assert scrubtext(input_string=text) == expected


@pytest.mark.parametrize("size", [159, 160, 161, 1000, 100_000])
@pytest.mark.parametrize("unit", ["ab\t\t", "é \n", "x"])
def test_texts_of_any_length_are_scrubbed_whole(size, unit):
    text = " " + (unit * size)[:size] + "\r\n"
    assert scrubtext(text) == model(text.encode("utf-8"))


def test_encode_of_the_argument_is_used():
    subclass = type("Loud", (str,), {"encode": lambda self, enc: b"  " + str.encode(self.upper()) + b" "})
    assert scrubtext(subclass("a  b")) == "A B"
    assert scrubtext(type("Plain", (str,), {})(" a\tb ")) == "a b"
    custom = Encodes(b"\t x \xc3\xa9  y\0 z")
    assert scrubtext(custom) == "x é y" and custom.calls == [("utf-8",)]


@pytest.mark.parametrize("value, error, message", [
    (None, AttributeError, "'NoneType' object has no attribute 'encode'"),
    (b"a b", AttributeError, "'bytes' object has no attribute 'encode'"),
    (Encodes(None), TypeError, "expected bytes, NoneType found"),
    (Encodes("a b"), TypeError, "Expected bytes, got str"),
    (Encodes(bytearray(b"a")), TypeError, "Expected bytes, got bytearray"),
    (Encodes(type("B", (bytes,), {})(b"a")), TypeError, "Expected bytes, got B"),
    (Encodes(b" \xff "), UnicodeDecodeError, None),
    ("a\ud800", UnicodeEncodeError,
     "'utf-8' codec can't encode character '\\ud800' in position 1: surrogates not allowed"),
])
def test_encode_results_and_errors(value, error, message):
    with pytest.raises(error) as info:
        scrubtext(value)
    assert message is None or str(info.value) == message


def test_argument_count_and_keywords():
    for call, message in [
        (lambda: scrubtext(), "scrubtext() takes exactly 1 positional argument (0 given)"),
        (lambda: scrubtext("a", "b"), "scrubtext() takes exactly 1 positional argument (2 given)"),
        (lambda: scrubtext("a", text="b"), "scrubtext() got an unexpected keyword argument 'text'"),
    ]:
        with pytest.raises(TypeError, match=re.escape(message)):
            call()


@given(st.text(st.sampled_from(" \t\n\x0b\x0c\r\x1c\xa0\u3000\0aé😀") | st.characters(codec="utf-8"), max_size=200))
def test_matches_the_model(text):
    assert scrubtext(text) == model(text.encode("utf-8"))
