import itertools

import pytest

from chronvale.reru.pyd.zududized import suffixswap
from chronvale.reru.pyd.zududized.suffixswap import replaceZ


def model(text):
    data = text.encode("utf-8").split(b"\0")[0]
    if data.endswith(b"Z"):
        data = data[:-1] + b"+00:00"
    return data.decode("utf-8")


def mismatches(texts):
    """The texts on which replaceZ, by position (the usual call) or by keyword (the parsed
    one), disagrees with the model or does not return a str; a text that it leaves alone
    must come back itself."""
    wrong = []
    for text in texts:
        expected = model(text)
        for result in (replaceZ(text), replaceZ(datetime_string=text)):
            if type(result) is not str or result != expected or (result is text) != (expected == text):
                wrong.append(text)
    return wrong


@pytest.mark.parametrize("text, expected", [
    ("2024-01-15T12:30:00Z", "2024-01-15T12:30:00+00:00"),
    ("20240115T123000Z", "20240115T123000+00:00"),
    ("Z", "+00:00"), ("ZZ", "Z+00:00"), ("", ""),
    ("12:00z", "12:00z"), ("12:00Z ", "12:00Z "), ("Z12:00", "Z12:00"),
    ("12:00+00:00", "12:00+00:00"), ("12:00-05:00", "12:00-05:00"),
    # a NUL ends the text before anything else happens
    ("12:00Z\0more", "12:00+00:00"), ("a\0b", "a"), ("a\0Z", "a"), ("\0Z", ""),
    # non-ASCII text before the suffix comes through unchanged
    ("é Z", "é +00:00"), ("東京 12:00Z", "東京 12:00+00:00"), ("😀Z", "😀+00:00"), ("é\0Z", "é"),
])
def test_documented_cases(text, expected):
    assert replaceZ(text) == expected and model(text) == expected


def test_every_short_text_matches_the_model():
    texts = ["".join(chars) for n in range(6) for chars in itertools.product("Zz\0é 😀", repeat=n)]
    assert mismatches(texts) == []


def test_lengths_around_the_working_buffer():
    # The result is assembled on the stack up to 256 bytes, on the heap beyond.
    texts = [lead + "x" * n + end for n in range(240, 270)
             for lead in ("", "é", "😀") for end in ("Z", "", "Z\0Z", "é")]
    assert mismatches(texts + ["x" * 5000 + "Z", "é" * 5000 + "Z"]) == []


def test_empty_text_reads_nothing_before_it():
    # Freed blocks of each size hold "Z" in the byte that lies just before the characters of a
    # str later made there: a read before an empty (or NUL-cut) text would see it.
    for length in range(1, 64):
        junk = [b"Z" * (length + 8) for _ in range(64)]
        del junk
        text = "\0" * length
        assert replaceZ(text) == ""


def test_module_surface():
    assert suffixswap.__all__ == ["replaceZ"] and suffixswap.__doc__ is None
    assert (replaceZ.__name__, replaceZ.__module__, replaceZ.__doc__) == (
        "replaceZ", "chronvale.reru.pyd.zududized.suffixswap", None)
