"""The native strptime decision, called through its test hook.

Wherever the hook gives a verdict it must be strptime's own outcome
(accepted, or ValueError); it may say "unknown" (None) only for the formats
it declares undecided. Checked exhaustively per directive, over the
calendar, over %z's forms, names and white space, and on rendered-then-
perturbed texts of the catalogue's formats.
"""
import _strptime
import datetime
import itertools
import locale
import os
import random
import re
import subprocess
import sys
import time

import pytest

from chronvale.reru.pyd.zududized.patternseek import dFormats

hook = pytest.importorskip("accept_hook")

CATALOGUE = dFormats()
DATES, TIMES, UNIQUE = CATALOGUE.Dates(), CATALOGUE.Times(), CATALOGUE.Unique()
SEPARATORS = ["/", ".", "-", " ", ""]
SINGLE = sorted({d.replace("/", s) for d in DATES + UNIQUE for s in SEPARATORS} | set(TIMES))
COMBINED = sorted({d.replace("/", s) + " " + t for d in DATES for t in TIMES for s in SEPARATORS})
OTHER_DIGITS = ["\u0660", "\u0966", "\uff10", "\U0001d7ce"]  # zero in other scripts
LOOKALIKES = {"i": ["\u0130", "\u0131"], "k": ["\u212a"], "s": ["\u017f"]}
SPACES = [c for c in map(chr, range(0x3001)) if c.isspace()]


def real(text, fmt):
    """strptime's outcome: its datetime, False (ValueError) or None (another error)."""
    try:
        return datetime.datetime.strptime(text, fmt)
    except ValueError:
        return False
    except Exception:
        return None


def fields(value):
    offset = value.utcoffset()
    return (value.year, value.month, value.day, value.hour, value.minute, value.second,
            value.microsecond, None if offset is None else offset // datetime.timedelta(microseconds=1))


def decided(fmt):
    """Whether the hook must give a verdict for every text with this format."""
    letters, i, bad = [], 0, False
    while i < len(fmt):
        if fmt[i] == "%":
            if i + 1 == len(fmt) or fmt[i + 1] not in "%ABGHIMSUVWXYZabcdfjmpuwxyz":
                bad = True
            letters.append(fmt[i + 1:i + 2])
            i += 1
        i += 1
    groups = [d for d in letters if d != "%"]
    if bad:
        return True
    steps = re.findall(r"%.|\s+|.", fmt, re.S)
    if not fmt.isascii() or len(groups) != len(set(groups)) or len(steps) > 64:
        return False
    if "V" in groups and "Y" in groups and not set(groups) & set("cxXG"):
        return True
    return not set(groups) & set("cxXGV")


def check(pairs):
    """Compares the hook with strptime over (text, fmt) pairs, and the parsed
    fields with the datetime's wherever both accept."""
    wrong = []
    for text, fmt in pairs:
        got, value = hook.decide(text, fmt), real(text, fmt)
        want = value if value in (False, None) else True
        if got != (want if decided(fmt) else None):
            wrong.append((text, fmt, got, want))
        elif got:
            parsed = hook.parse(text, fmt)
            if tuple(parsed[k] for k in FIELDS) != fields(value):
                wrong.append((text, fmt, parsed, value))
    assert not wrong, wrong[:10]


FIELDS = ["year", "month", "day", "hour", "minute", "second", "microsecond", "offset_us"]


def variants(digits):
    """A digit string with each one of its digits written in other scripts."""
    yield digits
    for i, d in enumerate(digits):
        for zero in OTHER_DIGITS:
            yield digits[:i] + chr(ord(zero) + int(d)) + digits[i + 1:]


NUMERIC = {"d": 2, "m": 2, "y": 2, "Y": 4, "H": 2, "I": 2, "M": 2, "S": 2, "f": 7, "j": 3, "U": 2,
           "W": 2, "w": 1, "u": 1}


@pytest.mark.parametrize("directive", NUMERIC)
def test_every_value_of_each_numeric_field(directive):
    width = NUMERIC[directive]
    # every value with one to three digits (leading zeros included), wider ones sampled
    numbers = [f"{v:0{w}d}" for w in range(1, min(width + 2, 4)) for v in range(10 ** w)]
    numbers += [f"{v:0{w}d}" for w in range(4, width + 2) for v in range(0, 10 ** w, 10 ** w // 97)]
    numbers += ["9999", "0001", "1000000", "0000000"]
    texts = numbers + [v for n in numbers[::7] for v in variants(n)] + [" " + n for n in numbers[:20]]
    texts += ["", " ", "x"]
    fmts = ["%" + directive, "%" + directive + "x", "x%" + directive, "%" + directive + "%d",
            "%" + directive + "%M", "%j%" + directive if directive != "j" else "%y%j"]
    check((t, f) for t in texts for f in fmts)
    check((t + "x", f) for t in texts[::5] for f in fmts)


NAMES = {"a": ["mon", "tue", "wed", "thu", "fri", "sat", "sun"],
         "A": ["monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"],
         "b": ["jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"],
         "B": ["january", "february", "march", "april", "may", "june", "july", "august", "september",
               "october", "november", "december"],
         "p": ["am", "pm"]}


def spellings(name, rng):
    yield from (name, name.upper(), name.title(), name[:-1], name + name[-1], name[1:])
    yield "".join(c.upper() if rng.random() < 0.5 else c for c in name)
    for i, c in enumerate(name):
        for other in LOOKALIKES.get(c, []):
            yield name[:i] + other + name[i + 1:]


@pytest.mark.parametrize("directive", NAMES)
def test_every_name_in_every_case(directive):
    rng = random.Random(directive)
    texts = [s for n in NAMES["b"] + NAMES["B"] + NAMES["a"] + NAMES["A"] + NAMES["p"]
             for s in spellings(n, rng)] + ["\u212aan", "k", ""]
    fmts = ["%" + directive, "%" + directive + " 5", "%d %" + directive, "%I %" + directive]
    check((t, f) for t in texts for f in fmts[:2])
    check((t + " 5", fmts[1]) for t in texts)
    check(("5 " + t, f) for t in texts for f in fmts[2:])


def test_every_ascii_literal_against_every_character():
    chars = [chr(c) for c in range(128)] + ["\u0130", "\u0131", "\u212a", "\u017f", "\x80", "\xa0"]
    check((f"1{t}2", f"%d{chr(f)}%m") for f in range(128) if chr(f) != "%" for t in chars)
    check((f"1{t}2", f"%d{f}%m") for f in ["\x80", "\xe9", "\u212a"] for t in chars)


@pytest.mark.parametrize("steps", [62, 63, 64, 65])
def test_formats_up_to_the_step_limit(steps):
    fmt = "%d" + "x" * (steps - 1)
    check([("5" + "x" * (steps - 1), fmt), ("5" + "X" * (steps - 1), fmt), ("5" + "x" * steps, fmt)])


def every_day(year):
    day = datetime.date(year, 1, 1)
    while day.year == year:
        yield day
        day += datetime.timedelta(days=1)


@pytest.mark.parametrize("year", [1900, 2000, 2023, 2024])
def test_calendar_of_a_year_with_and_without_the_year(year):
    pairs = []
    for month in range(1, 13):
        for d in range(0, 33):
            pairs += [(f"{year}-{month}-{d}", "%Y-%m-%d"), (f"{month}/{d}", "%m/%d"),
                      (f"{d} {NAMES['b'][month - 1]} {year % 100:02d}", "%d %b %y")]
    for day in every_day(year):
        j = day.timetuple().tm_yday
        pairs += [(f"{year} {j}", "%Y %j"), (f"{j}", "%j"), (f"{day:%m %d} {j}", "%m %d %j"),
                  (f"{day:%d %m} {j} {year}", "%d %m %j %Y")]
    for j in [0, 365, 366, 367, 999]:
        pairs += [(f"{year} {j}", "%Y %j"), (f"2 29 {j}", "%m %d %j")]
    check(pairs)


@pytest.mark.parametrize("year", ["0001", "1900", "1904", "2023", "2024", "9999", "0000", ""])
def test_weeks_with_weekday_and_year(year):
    pairs = []
    for week, weekday in itertools.product(range(0, 55), range(0, 8)):
        for fmt in ["%U %w", "%W %w", "%W %u", "%U %u"]:
            pairs.append((f"{week} {weekday} {year}".strip(), (fmt + " %Y").strip() if year else fmt))
        name = NAMES["a"][weekday % 7]
        pairs += [(f"{name} {week} {year}".strip(), "%a %W %Y" if year else "%a %W"),
                  (f"{NAMES['A'][weekday % 7]} {week} {year}".strip(), "%A %U %Y" if year else "%A %U"),
                  (f"2 29 {week} {weekday}", "%m %d %U %w"), (f"{week} {year}", "%U %Y")]
    check(pairs)


def offsets():
    for sign, hh, c1, mm, c2, ss, frac in itertools.product(
            "+-", ["00", "05", "23", "24", "99", "1", "0\u0663"], ["", ":"], ["00", "30", "59", "60", "7"],
            ["", ":", "-"], ["", "00", "45", "60"], ["", ".5", ".123456", ".1234567", ".", ".\u0663"]):
        yield sign + hh + c1 + mm + c2 + ss + frac
    yield from ["Z", "z", "", "+", "UTC", "Z0", "+01:30Z"]


def test_offsets_in_every_form():
    texts = list(offsets())
    check((t, f) for t in texts for f in ["%z", "%H%z", "%z %Y"])
    check(("10" + t, "%H%z") for t in texts)


def test_hours_with_and_without_am_pm():
    pairs = []
    for hour, ampm in itertools.product(range(0, 25), ["", "am", "pm", "PM", "xm"]):
        for fmt in ["%I %p", "%p %I", "%H %p", "%I", "%H %I %p", "%I %p %H", "%I%p"]:
            text = fmt.replace("%I", str(hour)).replace("%H", str(hour)).replace("%p", ampm)
            pairs.append((text, fmt))
            pairs.append((text.replace(" ", ""), fmt.replace(" ", "")))
    check(pairs)


def test_white_space_runs_and_leading_padding():
    pairs = []
    for sp in SPACES:
        for fmt in ["%d %m", "%d%m", " %d", "%d\t%m", "%H:%M %p", "%d \t %B"]:
            for text in ["1" + sp + "2", "1" + sp * 3 + "2", sp + "1", sp + " 1", "1" + sp,
                         "1 " + sp + "2", "5" + sp + "May", "10:30" + sp + "pm"]:
                pairs.append((text, fmt))
    check(pairs)


def test_formats_the_hook_declines_or_refuses_outright():
    fmts = ["%c", "%x", "%X", "%G-%V-%u", "%d %d", "%Y %y %Y", "%Y Q%q", "%Y-W%V-%u", "%", "%d %",
            "%%", "%%d", "%e", "% d", "%\u00e9", "%d\u00e9", "%d\u3000%m", "%Y %V", "%V", "%x %V %Y",
            "%" * 3, "%A %a", "%Y" + "x" * 70]
    texts = ["", "%", "x", "1", "2023 Q1", "2023-W01-1", "2023 01", "Mon Jan  1 00:00:00 2024",
             "01/02/03", "1 1", "%5", "5\u00e9", "1\u30002", "2023 1 1", "Monday Mon", "2023" + "x" * 70]
    check((t, f) for t in texts for f in fmts)
    assert hook.decide("2023-W01-1", "%Y-W%V-%u") is False
    assert hook.decide("1 1", "%d %d") is None


@pytest.mark.parametrize("width", [0, 50, 63, 64, 65, 127, 128, 1000, 100_000])
def test_long_texts(width):
    check([("5" + " " * width + "January 2023", "%d %B %Y"),
           ("5 January 2023" + "\t" * width, "%d %B %Y"),
           ("5" + " \u3000" * width + "May", "%d %b"),
           ("1" * width, "%Y%m%d%H%M%S%f"),
           ("12" * width, "%H%M%S%y%d%m%j%I%U%W"),
           (" " * width + "5", " %d")])


@pytest.mark.parametrize("text, fmt", [
    ("1" * 27, "%f%S%M%H%d%m%y%j%I%U%Wx"),
    ("1" * 23 + " " * 100 + "x", "%f%S%M%H%d%m%y%j%I%U%W %p"),
    ("1 " * 14, "%d %m %H %M %S %y %j %I %U %W %f %w %u x"),
    (" " * 200 + "5", " %d x"),
    ("5" + " " * 300 + "May", "%d %B")])
def test_matching_work_is_linear(text, fmt):
    """No exponential backtracking: each (step, position) pair is explored once."""
    steps = len(re.findall(r"%.|\s+|.", fmt, re.S))
    assert 0 < hook.work(text, fmt) <= 16 * (steps + 1) * (len(text) + 1)
    check([(text, fmt)])


def test_texts_longer_than_any_match_are_refused_without_matching():
    for text, fmt in [("1" * 9, "%Y%m%d"), ("12:30:00x", "%H:%M:%S"), ("Wednesday,Septemberx", "%A,%B")]:
        assert hook.work(text, fmt) == 0 and hook.decide(text, fmt) is False
        assert hook.work(text[:-1], fmt) > 0


PARSED = [
    ("01/05/2023 10:30", "%m/%d/%Y %H:%M", [("m", 0, 2), ("d", 3, 5), ("Y", 6, 10), ("H", 11, 13),
                                              ("M", 14, 16)], (2023, 1, 5, 10, 30, 0, 0), None),
    ("2023", "%y%m%d", [("y", 0, 2), ("m", 2, 3), ("d", 3, 4)], (2020, 2, 3, 0, 0, 0, 0), None),
    ("12:05:07.5 PM +01:30:00.25", "%I:%M:%S.%f %p %z",
     [("I", 0, 2), ("M", 3, 5), ("S", 6, 8), ("f", 9, 10), ("p", 11, 13), ("z", 14, 26)],
     (1900, 1, 1, 12, 5, 7, 500000), 5400_250000),
    ("12 am", "%I %p", [("I", 0, 2), ("p", 3, 5)], (1900, 1, 1, 0, 0, 0, 0), None),
    ("2023-366", "%Y-%j", [("Y", 0, 4), ("j", 5, 8)], (2024, 1, 1, 0, 0, 0, 0), None),
    ("sun 0 2023", "%a %U %Y", [("a", 0, 3), ("U", 4, 5), ("Y", 6, 10)], (2023, 1, 1, 0, 0, 0, 0), None),
    ("2 29 9 1 12", "%m %d %W %w %y", [("m", 0, 1), ("d", 2, 4), ("W", 5, 6), ("w", 7, 8), ("y", 9, 11)],
     (2012, 2, 27, 0, 0, 0, 0), None),
    ("Z 69", "%z %y", [("z", 0, 1), ("y", 2, 4)], (1969, 1, 1, 0, 0, 0, 0), 0),
    ("-00:00:00.5", "%z", [("z", 0, 11)], (1900, 1, 1, 0, 0, 0, 0), -500000),
    ("1\u0669 GMT", "%H %Z", [("H", 0, 2), ("Z", 3, 6)], (1900, 1, 1, 19, 0, 0, 0), None),
    ("Sept", "%b%%", None, None, None),
    ("31 Feb", "%d %b", None, None, None),
]


@pytest.mark.parametrize("text, fmt, spans, fields, offset", PARSED)
def test_parsed_data(text, fmt, spans, fields, offset):
    got = hook.parse(text, fmt)
    if spans is None:
        assert got is None
        return
    value = datetime.datetime.strptime(text, fmt)
    assert fields == (value.year, value.month, value.day, value.hour, value.minute, value.second,
                      value.microsecond)
    expected_offset = None if value.utcoffset() is None else value.utcoffset() // datetime.timedelta(
        microseconds=1)
    assert offset == expected_offset
    assert got == {"spans": spans, "year": fields[0], "month": fields[1], "day": fields[2],
                   "hour": fields[3], "minute": fields[4], "second": fields[5],
                   "microsecond": fields[6], "offset_us": offset}


# --- Rendered, then perturbed ---------------------------------------------

ZONE_TEXTS = ["UTC", "utc", "GMT", "Gmt", "EST", "Z", "", "G\u212aT"]
OFFSET_TEXTS = ["+0000", "-0530", "+01:00", "Z", "+23:59:59.5", "-2400", "+01", "+0100:00"]


def render(fmt, rng):
    moment = datetime.datetime(1, 1, 1) + datetime.timedelta(
        days=rng.randrange(3652058), seconds=rng.randrange(86400), microseconds=rng.randrange(10**6))
    fmt = fmt.replace("%Z", rng.choice(ZONE_TEXTS)).replace("%z", rng.choice(OFFSET_TEXTS))
    try:
        return moment.strftime(fmt)
    except ValueError:
        return fmt


def perturb(text, rng):
    for _ in range(rng.choice([0, 0, 1, 1, 2, 3])):
        i = rng.randrange(len(text) + 1)
        c = text[i:i + 1]
        kind = rng.randrange(12)
        if kind == 0:
            text = text.swapcase() if rng.random() < 0.5 else text[:i] + c.swapcase() + text[i + 1:]
        elif kind == 1:
            text = text[:i] + rng.choice(SPACES) * rng.choice([1, 2]) + text[i + 1 if c.isspace() else i:]
        elif kind == 2 and c.isdigit() and c.isascii():
            text = text[:i] + chr(ord(rng.choice(OTHER_DIGITS)) + int(c)) + text[i + 1:]
        elif kind == 3:
            text = text[:i] + text[i + 1:]
        elif kind == 4:
            text = text[:i] + rng.choice("0123456789 :/.-,+ZzaApPmMQWTx") + text[i:]
        elif kind == 5:
            text = text[:i] + rng.choice(["0", " ", "00"]) + text[i:]
        elif kind == 6:
            text += rng.choice([" UTC", "Z", "+01:00", " GMT", " +0530", " PM", ".123", ":00"])
        elif kind == 7 and c.lower() in LOOKALIKES:
            text = text[:i] + rng.choice(LOOKALIKES[c.lower()]) + text[i + 1:]
        elif kind == 8:
            text = text[:i]
        elif kind == 9:
            text = text.replace(" 0", "  ", 1) if rng.random() < 0.5 else text.replace("0", "", 1)
        elif kind == 10 and c.isdigit():
            text = text[:i] + str(rng.randrange(10)) + text[i + 1:]
        elif kind == 11:
            text = rng.choice(["", " ", "\t"]) + text + rng.choice(["", " "])
    return text


FUZZ_FORMATS = SINGLE + COMBINED


def fuzz(count, seed):
    """(decided, unknown) counts over `count` samples; fails on a wrong verdict."""
    rng = random.Random(seed)
    wrong, counts = [], [0, 0]
    for _ in range(count):
        fmt = rng.choice(FUZZ_FORMATS)
        text = perturb(render(fmt, rng), rng)
        got, value = hook.decide(text, fmt), real(text, fmt)
        want = value if value in (False, None) else True
        counts[got is None] += 1
        if got != (want if decided(fmt) else None):
            wrong.append((text, fmt, got, want))
    assert not wrong, wrong[:10]
    return counts


def test_rendered_then_perturbed_texts():
    samples = int(os.environ.get("ACCEPT_FUZZ_SAMPLES", "4000"))
    decided_count, unknown = fuzz(samples, int(os.environ.get("ACCEPT_FUZZ_SEED", "11")))
    print(f"\naccept fuzz: {samples} samples, {decided_count} decided, {unknown} unknown "
          f"({unknown / samples:.2%})")


# --- Preconditions ------------------------------------------------------------

@pytest.fixture
def restored():
    """Puts strptime's state back however a test leaves it."""
    saved_funcs = _strptime._strptime_datetime, _strptime._strptime, _strptime._TimeRE_cache
    saved_tz, saved_tzname, saved_daylight = os.environ.get("TZ"), time.tzname, time.daylight
    saved_locale = locale.setlocale(locale.LC_TIME)
    yield
    _strptime._strptime_datetime, _strptime._strptime, _strptime._TimeRE_cache = saved_funcs
    if saved_tz is None:
        os.environ.pop("TZ", None)
    else:
        os.environ["TZ"] = saved_tz
    time.tzset()
    time.tzname, time.daylight = saved_tzname, saved_daylight
    locale.setlocale(locale.LC_TIME, saved_locale)
    datetime.datetime.strptime("1", "%d")  # brings the cache up to date again
    assert hook.facts()


def wrap(function):
    return lambda *args: function(*args)


def fresh_cache(**changes):
    """A new strptime cache installed, with some of its entries changed."""
    cache = _strptime._TimeRE_cache = _strptime.TimeRE()
    for key, value in changes.items():
        if key in ("lang", "a_month", "am_pm"):
            setattr(cache.locale_time, key, value)
        else:
            cache[key] = value
    return cache


@pytest.mark.parametrize("change", ["outer", "inner", "locale", "tzname", "tzname_list",
                                    "tzname_subclass", "daylight", "daylight_str", "daylight_big",
                                    "cache", "pattern", "names", "names_tuple", "names_content",
                                    "names_subclass", "locale_object", "lang", "getitem",
                                    "getlocale", "pin", "pattern_in_place",
                                    "locale_attribute_in_place", "lang_missing",
                                    "tzname_missing", "daylight_missing"])
def test_facts_unusable_while_strptime_would_differ(change, restored, monkeypatch):
    assert hook.facts() and hook.decide("5", "%d") is True
    if change == "outer":
        _strptime._strptime_datetime = wrap(_strptime._strptime_datetime)
    elif change == "inner":
        _strptime._strptime = wrap(_strptime._strptime)
    elif change == "locale":
        locale.setlocale(locale.LC_TIME, "C.UTF-8")
    elif change == "tzname":
        time.tzname = ("XYZ", "XYZ")
    elif change == "tzname_list":
        time.tzname = list(time.tzname)
    elif change == "tzname_subclass":  # equal, but compared by Python code
        time.tzname = (time.tzname[0], type("S", (str,), {})(time.tzname[1]))
    elif change == "daylight_str":
        time.daylight = str(time.daylight)
    elif change == "daylight_big":
        time.daylight = 2**70
    elif change == "daylight":
        time.daylight = 1 - time.daylight
    elif change == "cache":
        cache = _strptime._TimeRE_cache
        _strptime._TimeRE_cache = _strptime.TimeRE()
        assert hook.facts()  # another sound cache
        _strptime._TimeRE_cache = dict(cache)
    elif change == "pattern":
        fresh_cache(d=r"(?P<d>\d\d)")
    elif change == "names":
        fresh_cache(a_month=["", "jan"])
    elif change == "names_content":
        fresh_cache(a_month=_strptime._TimeRE_cache.locale_time.a_month[:-1] + ["dez"])
    elif change == "names_subclass":
        fresh_cache(a_month=[type("S", (str,), {})(m) for m in _strptime._TimeRE_cache.locale_time.a_month])
    elif change == "locale_object":  # the cache's own, replaced by one with other names
        fresh_cache().locale_time = other = _strptime.LocaleTime()
        assert hook.facts()
        other.a_month = other.a_month[:-1] + ["dez"]
        _strptime._TimeRE_cache.locale_time = _strptime.LocaleTime()
        _strptime._TimeRE_cache.locale_time.a_month = other.a_month
    elif change == "pattern_in_place":  # the very cache already checked, changed
        monkeypatch.setitem(_strptime._TimeRE_cache, "d", r"(?P<d>\d\d)")
    elif change == "locale_attribute_in_place":
        monkeypatch.setattr(_strptime._TimeRE_cache.locale_time, "lang", ("C", "UTF-8"))
    elif change in ("lang_missing", "tzname_missing"):
        monkeypatch.delattr(_strptime._TimeRE_cache.locale_time, change.split("_")[0])
    elif change == "daylight_missing":
        monkeypatch.delattr(time, "daylight")
    elif change == "names_tuple":
        fresh_cache(a_month=tuple(_strptime._TimeRE_cache.locale_time.a_month))
    elif change == "lang":
        fresh_cache(lang=("C", "UTF-8"))
    elif change == "getitem":
        monkeypatch.setattr(_strptime.TimeRE, "__getitem__", dict.__getitem__, raising=False)
    elif change == "getlocale":
        monkeypatch.setattr(locale, "getlocale", wrap(locale.getlocale))
    else:
        monkeypatch.setattr(_strptime, "_getlang", wrap(_strptime._getlang))
    assert not hook.facts() and hook.decide("5", "%d") is None and hook.parse("5", "%d") is None


ZONE_PATTERNS = [("(?P<Z>utc|gmt|)", None), ("(?P<Z>utc|a b)", None), ("(?P<Z>utc|g.t)", None),
                 ("(?P<Z>utc", None), ("(?P<Z>utc|\u00e9t)", None), ("(?P<Z>utc|gm\\)", None),
                 ("(?P<Z>" + "|".join("abcdefghi") + ")", None), ("(?P<Z>" + "x" * 16 + ")", None),
                 ("(?P<Z>" + "|".join("abcdefgh") + ")", list("abcdefgh")),
                 ("(?P<Z>" + "x" * 15 + ")", ["x" * 15]), ("(?P<Z>utc|gm\\t)", ["utc", "gmt"]),
                 ("(?P<Z>" + "x" * 15 + "|utc)", ["x" * 15, "utc"]),
                 ("(?P<Z>utc|" + "x" * 15 + ")", ["utc", "x" * 15]), ("(?P<Z>x)", ["x"])]


@pytest.mark.parametrize("zone, names", ZONE_PATTERNS)
def test_zones_read_from_strptimes_expression(zone, names, restored):
    fresh_cache(Z=zone)
    assert hook.facts() and hook.decide("5", "%d") is True
    assert hook.zones() == names
    for text in ["utc", "h", "x" * 15, "gmt", "GM\\T"]:
        want = None if names is None else text.lower() in names
        assert hook.decide(text, "%Z") is want
        assert hook.decide("5 " + text, "%d %Z") is want
        assert hook.decide(text + "5", "%Z%d") is want


@pytest.mark.parametrize("tz, names", [("America/New_York", ["est", "utc", "gmt", "edt"]),
                                       ("Asia/Kolkata", ["ist", "utc", "gmt"]),
                                       ("<+03>-3", ["utc", "gmt", "+03"])])
def test_zone_names_follow_tzset(tz, names, restored):
    os.environ["TZ"] = tz
    time.tzset()
    assert not hook.facts()  # strptime would rebuild its cache first
    datetime.datetime.strptime("1", "%d")
    assert sorted(hook.zones()) == sorted(names)
    texts = [n.upper() for n in names] + ["EST", "\u0130ST", "UTC", "+03", "BST", "est5"]
    check((t, f) for t in texts for f in ["%Z", "%H:%M %Z", "%Z%z"])
    check((t + " 10:30", "%Z %H:%M") for t in texts)


def test_short_texts_need_no_memory_and_long_ones_fail_soft():
    """Under allocation failure a short text is still decided; a long one is unknown."""
    testcapi = pytest.importorskip("_testcapi")
    fmt = "%d %b %Y %H:%M:%S%p"  # 12 steps: the stack holds the failures of 13 x 320 positions
    cases = [("5 May 2023 10:30:00pm", True), ("5" + " " * 250 + "May 2023 10:30:00pm", True),
             ("5" + " " * 300 + "May 2023 10:30:00pm", None), ("5" + " " * 330 + "May", None)]
    (a, _), (b, _), (c, _), (d, _) = cases
    got = [0, 0, 0, 0]
    testcapi.set_nomemory(0, 0)
    try:  # nothing here allocates but the decision itself
        got[0] = hook.decide(a, fmt)
        got[1] = hook.decide(b, fmt)
        got[2] = hook.decide(c, fmt)
        got[3] = hook.decide(d, fmt)
    finally:
        testcapi.remove_mem_hooks()
    assert got == [want for _, want in cases]
    assert [hook.decide(text, fmt) for text, _ in cases] == [True, True, True, False]


@pytest.mark.parametrize("breakage, expected", [
    ("sys.modules['calendar'] = None", "ImportError"),
    ("sys.modules['_strptime'] = None", "ImportError"),
    # a global the decision checks against is missing: it never gets ready
    ("del _strptime._getlang", "False None"),
])
def test_without_what_it_checks_against(breakage, expected):
    code = (f"import sys, _strptime\n{breakage}\n"
            "try:\n    import accept_hook\nexcept ImportError as e:\n    print('ImportError', e)\n"
            "else:\n    print(accept_hook.facts(), accept_hook.decide('5', '%d'))")
    run = subprocess.run([sys.executable, "-I", "-c", code], capture_output=True, text=True)
    assert run.returncode == 0 and run.stdout.startswith(expected), (run.stdout, run.stderr)


def test_a_cache_without_zone_expression_leaves_zones_to_strptime(restored):
    del fresh_cache()["Z"]
    assert hook.facts() and hook.zones() is None and hook.decide("utc", "%Z") is None


def test_functions_wrapped_before_the_import_are_never_taken_for_strptimes_own():
    code = ("import _strptime\nf = _strptime._strptime\n_strptime._strptime = lambda *a: f(*a)\n"
            "import accept_hook\nprint(accept_hook.facts(), accept_hook.decide('5', '%d'))")
    run = subprocess.run([sys.executable, "-I", "-c", code], capture_output=True, text=True)
    assert run.stdout.split() == ["False", "None"], (run.stdout, run.stderr)
