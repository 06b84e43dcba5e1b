import pytest
from hypothesis import given, strategies as st

from chronvale.reru.pyd.zududized.suffixswap import replaceZ


def model(text):
    data = text.encode("utf-8").split(b"\0")[0]
    if data.endswith(b"Z"):
        data = data[:-1] + b"+00:00"
    return data.decode("utf-8")


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
    ("x" * 5000 + "Z", "x" * 5000 + "+00:00"), ("é" * 5000 + "Z", "é" * 5000 + "+00:00"),
])
def test_replaces_only_a_final_z(text, expected):
    result = replaceZ(text)
    assert type(result) is str and result == expected
    assert replaceZ(datetime_string=text) == expected


@pytest.mark.parametrize("call, error, message", [
    (lambda: replaceZ(None), AttributeError, "'NoneType' object has no attribute 'encode'"),
    (lambda: replaceZ(b"12:00Z"), TypeError,
     "Argument 'datetime_string' has incorrect type (expected str, got bytes)"),
    (lambda: replaceZ(type("S", (str,), {})("Z")), TypeError,
     "Argument 'datetime_string' has incorrect type (expected str, got S)"),
    (lambda: replaceZ(), TypeError, "replaceZ() takes exactly 1 positional argument (0 given)"),
    (lambda: replaceZ("Z", "Z"), TypeError, "replaceZ() takes exactly 1 positional argument (2 given)"),
    (lambda: replaceZ("Z", s="Z"), TypeError, "replaceZ() got an unexpected keyword argument 's'"),
    (lambda: replaceZ("12:00Z\0\ud800"), UnicodeEncodeError,
     "'utf-8' codec can't encode character '\\ud800' in position 7: surrogates not allowed"),
])
def test_argument_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert str(info.value) == message


@given(st.text(st.sampled_from("Zz+0: \0éア😀") | st.characters(codec="utf-8"), max_size=20))
def test_matches_the_model(text):
    assert replaceZ(text) == model(text)
