import re

import pytest
from hypothesis import given, settings, strategies as st

from chronvale.reru.pyd.zududized.joinmark import isISOT


def atoi(field):
    digits = re.match(rb"[ \t\n\x0b\x0c\r]*([+-]?[0-9]*)", field).group(1)
    return int(digits) if digits.strip(b"+-") else 0


def valid(y, mo, d, h, mi, s):
    leap = y % 4 == 0 and y % 100 != 0 or y % 400 == 0
    days = [31, 29 if leap else 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31]
    return 1 <= mo <= 12 and 1 <= d <= days[mo - 1] and 0 <= h <= 23 and 0 <= mi <= 59 and 0 <= s <= 59


EXTENDED = re.compile(rb"([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2})"
                      rb"(?::([0-9]{2})(?:\.[0-9]*)?)?(?:Z|[+-][0-9]{2}:[0-9]{2})?")


def model(text):
    """The probe in plain Python, never looking past the end of the text."""
    s = text.encode("utf-8").split(b"\0")[0]
    if b"T" not in s:
        return False
    if len(s) >= 15 and s[8:9] == b"T":
        fields = [atoi(s[a:b]) for a, b in ((0, 4), (4, 6), (6, 8), (9, 11), (11, 13), (13, 15))]
        p = 19 if s[15:16] == b"." else 15
        if valid(*fields) and len(s) == p + {b"Z": 1, b"+": 5, b"-": 5}.get(s[p:p + 1], 0):
            return True
    m = EXTENDED.fullmatch(s)
    return bool(m) and valid(*(int(g or 0) for g in m.groups()))


ACCEPTED = [
    # basic layout, its optional fraction and zone, and the atoi leniencies
    "20240115T123045", "20240115T123045Z", "20240115T123045+0100", "20240115T123045-0500",
    "20240115T123045.123", "20240115T123045.123Z", "20240115T123045.123+0100",
    "20240115T123045+abcd", "20240115T123045.12Z", "2024+1+1T120000", "20240115T1:3:45Z",
    " 2020115T120000", "2024\t1\n1T120000", "-0040229T120000", "20240115T12 :00",
    "20240115T12é00", "20240115T123045.é1", "20240115T123045+éé",
    # extended layout
    "2024-01-15T12:30", "2024-01-15T12:30Z", "2024-01-15T12:30+01:00", "2024-01-15T12:30:45",
    "2024-01-15T12:30:45-05:00", "2024-01-15T12:30:45.123456", "2024-01-15T12:30:45.123456+05:30",
    "2024-01-15T12:30:45.", "2024-01-15T12:30:45.Z", "2024-01-15T12:30+99:99",
    # leap years, and the part before a NUL
    "20240229T120000", "20000229T120000", "0000-02-29T00:00", "2024-01-15T12:30\0junk",
    "20240115T123045Z\0+0100", "2024-01-15T12:30:45." + "1" * 10_000,
]
REJECTED = [
    "20240115T123045.1", "20240115T123045.12", "20240115T123045.", "20240115T123045.123456",
    "20240115T240000", "20240115T1230", "20240115T-10000", "-0010229T120000", "2024é15T120000",
    "20240115T123045+é", "20240115T123045+01", "2024-01-15T12:30:45+0530", "2024-01-15T12:30+01",
    "2024-01-15T12:30+01:0", "2024-01-15T12:30+", "2024-01-15T12:30Z+01:00", "2024-01-15T12:30.5",
    "2024-01-15T12:30:4", "2024-01-15T12:30:", "2024-01-15T12:30:60", "2024-01-15T24:00",
    "2024-01-15T12:30:45Zx", "2024-01-15T12:30é", "２024-01-15T12:30", "20230229T120000",
    "19000229T120000", "2024-02-30T10:00", "2024-13-01T10:00", "2024-01-15 12:30:45",
    "2024-01-15t12:30:45", "", "T", "\0" + "2024-01-15T12:30", "20240115T123045.1\0Z",
]


@pytest.mark.parametrize("text", ACCEPTED)
def test_accepted_shapes(text):
    assert isISOT(text) is True and isISOT(date_string=text) is True and model(text) is True


@pytest.mark.parametrize("text", REJECTED)
def test_rejected_shapes(text):
    assert isISOT(text) is False and model(text) is False


@pytest.mark.parametrize("call, error, message", [
    (lambda: isISOT(None), AttributeError, "'NoneType' object has no attribute 'encode'"),
    (lambda: isISOT(b"2024-01-15T12:30"), TypeError,
     "Argument 'date_string' has incorrect type (expected str, got bytes)"),
    (lambda: isISOT(5), TypeError, "Argument 'date_string' has incorrect type (expected str, got int)"),
    (lambda: isISOT(type("S", (str,), {})("x")), TypeError,
     "Argument 'date_string' has incorrect type (expected str, got S)"),
    (lambda: isISOT(), TypeError, "isISOT() takes exactly 1 positional argument (0 given)"),
    (lambda: isISOT("a", "b"), TypeError, "isISOT() takes exactly 1 positional argument (2 given)"),
    (lambda: isISOT("a", text="b"), TypeError, "isISOT() got an unexpected keyword argument 'text'"),
    (lambda: isISOT("2024-01-15T12:30\0\udfff"), UnicodeEncodeError,
     "'utf-8' codec can't encode character '\\udfff' in position 17: surrogates not allowed"),
])
def test_argument_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert str(info.value) == message


BYTES = "0123456789TZ-:.+ \t\0é😀x"


@st.composite
def near_iso(draw):
    """A valid shape of either layout, then a few bytes replaced, added or removed."""
    chars = list(draw(st.sampled_from(ACCEPTED)))
    for _ in range(draw(st.integers(0, 3))):
        i = draw(st.integers(0, len(chars)))
        what = draw(st.sampled_from("rid"))
        if what == "i" or i == len(chars):
            chars.insert(i, draw(st.sampled_from(BYTES)))
        elif what == "r":
            chars[i] = draw(st.sampled_from(BYTES))
        else:
            del chars[i]
    return "".join(chars)


@settings(max_examples=400)
@given(near_iso() | st.text(st.sampled_from(BYTES), max_size=30))
def test_matches_the_model(text):
    assert isISOT(text) is model(text)
