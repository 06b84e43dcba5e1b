import itertools
import re

import pytest

from chronvale.reru.pyd.zududized import joinmark
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


def mismatches(texts):
    """The texts on which the probe, by position (the fast path for ASCII) or by keyword (the
    general path), disagrees with the model."""
    wrong = []
    for text in texts:
        expected = model(text)
        if isISOT(text) is not expected or isISOT(date_string=text) is not expected:
            wrong.append(text)
    return wrong


ACCEPTED = [
    # basic layout, its optional fraction and zone, and the atoi leniencies
    "20240115T123045", "20240115T123045Z", "20240115T123045+0100", "20240115T123045-0500",
    "20240115T123045.123", "20240115T123045.123Z", "20240115T123045.123+0100",
    "20240115T123045+abcd", "20240115T123045.12Z", "2024+1+1T120000", "20240115T1:3:45Z",
    " 2020115T120000", "2024\t1\n1T120000", "2024\r1\x0b1T1200\x0c0", "-0040229T120000", "20240115T12 :00",
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


@pytest.mark.parametrize("text, expected", [(t, True) for t in ACCEPTED] + [(t, False) for t in REJECTED])
def test_documented_shapes(text, expected):
    assert isISOT(text) is expected and isISOT(date_string=text) is expected
    assert model(text) is expected


# Every shape of both layouts; around each, every interesting byte put at, in and over every
# position, and every truncation: the lengths 15, 16, 19, 20, the zone positions and the
# reads at and past the end are all reached from here.
TEMPLATES = [
    "20240115T123045", "20240115T123045Z", "20240115T123045+0100", "20240115T123045.123",
    "20240115T123045.123Z", "20240115T123045.123-0100", "2024-01-15T12:30", "2024-01-15T12:30Z",
    "2024-01-15T12:30+01:00", "2024-01-15T12:30:45", "2024-01-15T12:30:45.5",
    "2024-01-15T12:30:45.123Z", "2024-01-15T12:30:45-05:00", "2024-01-15T12:30:45.",
    "2024011512T3045Z",  # a "T" where the extended layout has it, and basic-looking fields
]
BYTES = "0129T-:.Z+ \t\0é😀"


def near(template):
    for i in range(len(template) + 1):
        yield template[:i]
        yield template[:i] + template[i + 1:]
        for c in BYTES:
            yield template[:i] + c + template[i + 1:]
            yield template[:i] + c + template[i:]


@pytest.mark.parametrize("template", TEMPLATES)
def test_every_one_byte_change_of_a_shape_matches_the_model(template):
    assert mismatches(near(template)) == []


def test_every_short_text_matches_the_model():
    # Shorter than any layout: the probe must answer False without reading past the text.
    texts = ["".join(chars) for n in range(5) for chars in itertools.product("0T-:.Zé😀\0", repeat=n)]
    assert mismatches(texts) == []


def basic_fields(base, start, width, alphabet=" +-019\t"):
    """Every string of `width` characters over `alphabet` in the basic field at `start`."""
    texts = [""]
    for _ in range(width):
        texts = [t + c for t in texts for c in alphabet]
    return [base[:start] + t + base[start + width:] for t in texts]


@pytest.mark.parametrize("base", ["20240131T235959", "00000229T000000Z"])
def test_basic_fields_are_read_as_atoi_reads_them(base):
    texts = [t for start, width in ((0, 4), (4, 2), (6, 2), (9, 2), (11, 2), (13, 2))
             for t in basic_fields(base, start, width)]
    assert mismatches(texts) == []


YEARS = (0, 4, 100, 400, 1900, 2000, 2023, 2024, 9999)


def test_calendar_and_clock_limits_in_both_layouts():
    dates = [(y, m, d) for y in YEARS for m in range(0, 14) for d in (0, 1, 28, 29, 30, 31, 32)]
    times = [(h, m, s) for h in (0, 23, 24, 99) for m in (0, 59, 60) for s in (0, 59, 60, 99)]
    texts = [f"{y:04}{mo:02}{d:02}T120000" for y, mo, d in dates]
    texts += [f"{y:04}-{mo:02}-{d:02}T12:00" for y, mo, d in dates]
    texts += [f"20240115T{h:02}{m:02}{s:02}" for h, m, s in times]
    texts += [f"2024-01-15T{h:02}:{m:02}:{s:02}" for h, m, s in times]
    texts += [f"2024-01-15T{h:02}:{m:02}" for h, m, _ in times]
    assert mismatches(texts) == []
    assert sum(map(isISOT, texts)) == sum(model(t) for t in texts) > 400


def test_module_surface():
    assert joinmark.__all__ == ["isISOT"] and joinmark.__doc__ is None
    assert (isISOT.__name__, isISOT.__module__, isISOT.__doc__) == (
        "isISOT", "chronvale.reru.pyd.zududized.joinmark", None)
