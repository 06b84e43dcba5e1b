"""keeps_text: whether the value a format parses from a text gives the text
again, allowing only for representation; and survey_formats on top of it.

Every case runs on the native path (LC_TIME "C") and on the other one
(LC_TIME "C.UTF-8": the real strptime, its expression's spans and strftime),
and a plain Python model of the rule is compared with both over rendered-
then-perturbed texts of the catalogue's formats and over the corpus.
"""
import _strptime
import datetime
import importlib
import importlib.util
import locale
import random
import sys
import unicodedata

import pytest

from chronvale import FormatSurvey, keeps_text, survey_formats
from chronvale.reru.pyd.zududized import roundtrip
from chronvale.reru.pyd.zududized.PadShaper import date_format_leading_zero
from chronvale.reru.pyd.zududized.patternseek import DateFormatFinder, dFormats

CATALOGUE = dFormats()
SEPARATORS = ["/", ".", "-", " ", ""]
SINGLE = sorted({d.replace("/", s) for d in CATALOGUE.Dates() + CATALOGUE.Unique()
                 for s in SEPARATORS} | set(CATALOGUE.Times()))
COMBINED = sorted({d.replace("/", s) + " " + t for d in CATALOGUE.Dates()
                   for t in CATALOGUE.Times() for s in SEPARATORS})


@pytest.fixture(params=["C", "C.UTF-8"])
def time_locale(request):
    """Each path: "C" decides natively, any other locale takes strptime's road."""
    before = locale.setlocale(locale.LC_TIME)
    try:
        locale.setlocale(locale.LC_TIME, request.param)
    except locale.Error:
        pytest.skip(f"no {request.param} locale")
    datetime.datetime.strptime("1", "%d")  # strptime's cache follows the locale
    yield request.param
    locale.setlocale(locale.LC_TIME, before)
    datetime.datetime.strptime("1", "%d")


# --- The plain model ------------------------------------------------------------

WIDTHS = {"d": 2, "m": 2, "y": 2, "H": 2, "I": 2, "M": 2, "S": 2, "U": 2, "W": 2, "V": 2,
          "j": 3, "Y": 4, "G": 4, "w": 1, "u": 1}


def model_field(d, field, value):
    """One directive's field against the value's rendering, by the rule in plain words."""
    written = value.strftime("%" + d)
    if d == "f":  # trailing zeros may be left out
        return field.ljust(6, "0") == written
    if d in WIDTHS:
        digits = "".join(str(unicodedata.decimal(c, c)) for c in field)
        number = int(written)
        padded = f"{number:0{WIDTHS[d]}d}"
        non_padded = (date_format_leading_zero(value, f"%-{d}") if d in "dmyHIMS"
                      else str(number))
        return digits in (padded, non_padded) or (d == "d" and digits == " " + non_padded)
    if d == "z":  # the same offset, however written
        return datetime.datetime.strptime(field, "%z").utcoffset() == value.utcoffset()
    return field.lower() == written.lower()


def model(text, fmt):
    value = datetime.datetime.strptime(text, fmt)
    match = _strptime._TimeRE_cache.compile(fmt).match(text)
    return all(model_field(name, match.group(name), value)
               for name in match.re.groupindex if match.group(name) is not None)


def outcome(check, text, fmt):
    try:
        return check(text, fmt)
    except ValueError:
        return "ValueError"


# --- The rule, case by case -----------------------------------------------------

CASES = [
    # numbers: padded or not, per directive
    ("1/5/2023", "%m/%d/%Y", True),
    ("01/05/2023", "%m/%d/%Y", True),
    ("2023-05", "%Y-%j", False),  # the 5th day of the year, not May
    ("2023-005", "%Y-%j", True),
    ("2023-5", "%Y-%j", True),
    ("2023-125", "%Y-%j", True),
    ("0:5", "%H:%M", True),
    ("00:05", "%H:%M", True),
    ("12:30", "%I:%M", True),  # hour 0, written back as 12
    ("05 99", "%d %y", True),
    ("Jan  5 2023", "%b %d %Y", True),  # the white space takes both spaces
    ("Jan 5 2023", "%b%d %Y", True),  # %d read " 5", as %e writes it
    ("\u0662\u0660\u0662\u0663-01-05", "%Y-%m-%d", True),  # digits of another script
    ("0999-01-05", "%Y-%m-%d", True),
    # fractions: trailing zeros may go
    ("10:30:00.25", "%H:%M:%S.%f", True),
    ("10:30:00.000001", "%H:%M:%S.%f", True),
    ("10:30:00.250000", "%H:%M:%S.%f", True),
    # names: any case; a weekday must be the date's
    ("JANUARY 5, 2023", "%B %d, %Y", True),
    ("jan 5, 2023", "%b %d, %Y", True),
    ("Thu, Jan 05, 2023", "%a, %b %d, %Y", True),
    ("Mon, Jan 05, 2023", "%a, %b %d, %Y", False),
    ("thursday, January 05, 2023", "%A, %B %d, %Y", True),
    ("Monday", "%A", True),  # 1900-01-01 was a Monday
    ("Tuesday", "%A", False),
    ("Mon", "%a", True),
    # literal text and white space
    ("ON January 5, 2023", "on %B %d, %Y", True),
    ("5TH of January 2023", "%dth of %B %Y", True),
    ("January\t \u20035,   2023", "%B %d, %Y", True),
    # the 12-hour clock
    ("10:30 PM", "%H:%M %p", False),  # strptime ignores %p beside %H
    ("10:30 AM", "%H:%M %p", True),
    ("22:30 pm", "%H:%M %p", True),
    ("10:30 PM", "%I:%M %p", True),
    ("12:00 am", "%I:%M %p", True),
    ("12 PM", "%I %p", True),
    ("12 AM", "%H %p", False),
    # offsets, however written; a zone name alone is dropped
    ("10:30:00 +05:30", "%H:%M:%S %z", True),
    ("10:30:00 +0530", "%H:%M:%S %z", True),
    ("10:30:00 -05:30:15.5", "%H:%M:%S %z", True),
    ("10:30:00Z", "%H:%M:%S%z", True),
    ("10:30:00 -00:00", "%H:%M:%S %z", True),
    ("10:30:00 UTC", "%H:%M:%S %Z", False),
    ("10:30 +0530 UTC", "%H:%M %z %Z", True),
    ("10:30 gmt", "%H:%M %Z", False),
    # weeks: the date they give
    ("2023-W05-3", "%Y-W%U-%w", True),
    ("2023-W5-3", "%Y-W%U-%w", True),
    ("2023-W05", "%Y-W%U", False),  # a week without a weekday is ignored
    ("2023-W00-0", "%Y-W%U-%w", False),  # the Sunday before: 2022's last week
    ("2023 05 3", "%Y %W %u", True),
    # %% and formats the native decision leaves to strptime
    ("100% 5", "100%% %d", True),
    ("Thu Jan  5 10:30:00 2023", "%c", True),
    ("Mon Jan  5 10:30:00 2023", "%c", False),
    ("01/05/23 10:30:00", "%x %X", True),
    ("2023-W01-4", "%G-W%V-%u", True),
    ("2022-W52-4", "%G-W%V-%u", True),
    ("\u00e9t\u00e9 5", "\u00e9t\u00e9 %d", True),  # a format that is not ASCII
    ("2011", "%y%m%d", True),  # ambiguous (2020-01-01), not lossy: nothing can tell
]


@pytest.mark.parametrize("text, fmt, keeps", CASES)
def test_rule(time_locale, text, fmt, keeps):
    assert keeps_text(text, fmt) is keeps
    assert model(text, fmt) is keeps


@pytest.mark.parametrize("text, fmt, error", [
    ("x", "%Y", "time data 'x' does not match format '%Y'"),
    ("2023-05", "%Y-%m-%d", "time data '2023-05' does not match format '%Y-%m-%d'"),
    ("02/30/2023", "%m/%d/%Y", "day is out of range for month"),
    ("10:30 +24:00", "%H:%M %z", None),
    ("5", "%d%", "stray % in format '%d%'"),
    ("5", "%-d", "'-' is a bad directive in format '%-d'"),
])
def test_text_the_format_does_not_parse(time_locale, text, fmt, error):
    with pytest.raises(ValueError) as info:
        keeps_text(text, fmt)
    with pytest.raises(ValueError) as plain:
        datetime.datetime.strptime(text, fmt)
    assert str(info.value) == str(plain.value)
    assert error is None or str(info.value) == error


def test_strptime_errors_other_than_value_error_propagate(time_locale):
    import re
    with pytest.raises(re.error):
        keeps_text("5 5", "%d %d")


def test_weeks_and_weekdays_of_every_day(time_locale):
    # seven years: each weekday starts one of them
    day, wrong = datetime.date(2019, 1, 1), []
    for _ in range(7 * 365 + 2):
        for fmt in ("%Y %W %u", "%Y %U %w", "%Y-%j %a", "%Y-%m-%d %A", "%Y-%j"):
            if not keeps_text(day.strftime(fmt), fmt):
                wrong.append((day, fmt))
        day += datetime.timedelta(days=1)
    assert not wrong, wrong[:5]


def test_decided_natively_without_strptime():
    """In the C locale neither the check nor the survey calls strptime for
    the catalogue's formats: it would compile and keep their expressions."""
    datetime.datetime.strptime("1", "%d")
    _strptime._regex_cache.clear()
    assert keeps_text("01/05/2023", "%m/%d/%Y") and not keeps_text("10:30 PM", "%H:%M %p")
    DateFormatFinder.clear_cache()
    assert survey_formats(["01/05/2023", "13/05/2023", "2023-05", "01/05/2023 10:30 PM"])
    assert _strptime._regex_cache == {}
    with pytest.raises(ValueError):  # a refusal is strptime's own error
        keeps_text("2023-05", "%Y-%m-%d")
    assert list(_strptime._regex_cache) == ["%Y-%m-%d"]


# --- strptime replaced: the check follows the strptime in force ----------------

REAL = _strptime._strptime_datetime


def refusing(cls, text, fmt):
    raise ValueError("refused by a replacement")


@pytest.mark.parametrize("replacement, text, fmt, result", [
    (refusing, "5", "%d", ValueError("refused by a replacement")),
    # the value moved to UTC: the offset is not the text's any more
    (lambda *a: REAL(*a).replace(tzinfo=datetime.UTC), "10:30 +05:30", "%H:%M %z", False),
    (lambda *a: REAL(*a).replace(tzinfo=datetime.UTC), "10:30 +00:00", "%H:%M %z", True),
    (lambda *a: REAL(*a).replace(day=6), "5", "%d", False),
    (lambda *a: REAL(*a).replace(tzinfo=None), "10:30 +00:00", "%H:%M %z", False),
    # accepted where the expression does not match: nothing to compare with
    (lambda *a: datetime.datetime(2023, 1, 5), "x", "%Y", False),
    (lambda *a: None, "5", "%d", TypeError("Cannot convert NoneType to datetime.datetime")),
    (lambda *a: Odd(2023, 1, 5), "5", "%d", TypeError("Expected str, got int")),
])
def test_a_replaced_strptime_is_followed(monkeypatch, replacement, text, fmt, result):
    monkeypatch.setattr(_strptime, "_strptime_datetime", replacement)
    if isinstance(result, Exception):
        with pytest.raises(type(result)) as info:
            keeps_text(text, fmt)
        assert str(info.value) == str(result)
    else:
        assert keeps_text(text, fmt) is result


class Odd(datetime.datetime):
    def strftime(self, fmt):
        return 5


def test_a_survey_follows_the_strptime_in_force(monkeypatch):
    def refuses_june(cls, text, fmt):
        if text.startswith("01/06"):
            raise ValueError("no June")
        return REAL(cls, text, fmt)

    monkeypatch.setattr(_strptime, "_strptime_datetime", refuses_june)
    assert survey_formats(["01/05/2023", "01/06/2023"]) == [
        FormatSurvey("%m/%d/%Y", 1, 0.5, 0.5, None)]


def test_a_survey_reads_strptime_state_again_after_python_code_ran(monkeypatch):
    """A format the native decision leaves to strptime runs Python code; a
    replacement of strptime installed meanwhile holds for the next format."""
    armed = []

    class Format(str):  # not an exact str: always checked through strptime
        def __hash__(self):
            if armed:
                monkeypatch.setattr(_strptime, "_strptime_datetime", refusing)
            return str.__hash__(self)

    class Finder:
        def search(self, value):
            if value == "5":
                return Format("%d")
            armed.append(True)
            return "%m"

    assert roundtrip._tally(["5", "1"], Finder) == [("%d", 1, 1, 1, None), ("%m", 1, 0, 0, None)]


def test_a_survey_searches_with_one_finder_as_with_new_ones():
    class Counting(DateFormatFinder):
        made = 0

        def __init__(self):
            type(self).made += 1
            super().__init__()

    class Unreadable(Counting):  # its pickle state shows no set: one finder per value
        made = 0

        def __reduce__(self):
            return "Unreadable"

    class Listed(Counting):  # a state that is no tuple
        made = 0

        def __reduce__(self):
            return [1, 2, ("a",) * 8]

    class Wrapped(Counting):  # a state that is no exact tuple is not relied on
        made = 0

        def __reduce__(self):
            return type("Subtuple", (tuple,), {})(super().__reduce__())

    class Refusing(Counting):
        def __reduce__(self):
            raise RuntimeError("no state")

    values = ["January 5, 2023", "5 January 2023", "2023-01-05", "January 5, 2023"]
    expected = [("%B %d, %Y", 2, 2, 2, None), ("%d %B %Y", 1, 1, 1, None),
                ("%Y-%m-%d", 1, 1, 1, None)]
    assert roundtrip._tally(values, Counting) == expected and Counting.made == 1
    assert roundtrip._tally(values, Unreadable) == expected and Unreadable.made == 3
    assert roundtrip._tally(values, Listed) == expected and Listed.made == 3
    assert roundtrip._tally(values, Wrapped) == expected and Wrapped.made == 3
    with pytest.raises(RuntimeError, match="no state"):
        roundtrip._tally(values, Refusing)


# One good answer per layout family: the finder's answer keeps the text.
FAMILIES = [
    ("01/05/2023", "%m/%d/%Y"),
    ("05.01.2023", "%m.%d.%Y"),
    ("2023-01-05", "%Y-%m-%d"),
    ("2023 01 05", "%Y %m %d"),
    ("20230105", "%Y%m%d"),
    ("12/31/99", "%m/%d/%y"),
    ("January 5, 2023", "%B %d, %Y"),
    ("5 January 2023", "%d %B %Y"),
    ("Thu, 05 Jan 2023", "%a, %d %b %Y"),
    ("Thursday, January 05, 2023", "%A, %B %d, %Y"),
    ("05-Jan-23", "%d-%b-%y"),
    ("the 5th of January 2023", None),
    ("January 2023", None),
    ("2023-005", "%Y-%j"),
    ("2023-W05-3", "%Y-W%U-%w"),
    ("01/05/2023 10:30", "%m/%d/%Y %H:%M"),
    ("2023-01-05 10:30:00", "%Y-%m-%d %H:%M:%S"),
    ("01/05/2023 09:30 AM", "%m/%d/%Y %H:%M %p"),
    ("01/05/2023 10:30 PM +0530", "%m/%d/%Y %I:%M %p %z"),
    ("2023-01-05 10:30:00+05:30", "%Y-%m-%d %H:%M:%S%z"),
    ("2023-01-05 10:30:00 -0800", "%Y-%m-%d %H:%M:%S %z"),
    ("2023-01-05 10:30:00Z", "%Y-%m-%d %H:%M:%S%z"),
    ("2023-01-05 10:30:00.250", "%Y-%m-%d %H:%M:%S.%f"),
    ("2023-01-05 10:30:00.250000+01:00", "%Y-%m-%d %H:%M:%S.%f%z"),
    ("2023/01/05 10:30:00:25", "%Y/%m/%d %H:%M:%S:%f"),
    ("230105 103000", "%y%m%d %H%M%S"),
]


@pytest.mark.parametrize("text, answer", [f for f in FAMILIES if f[1]])
def test_good_answers_of_each_family_keep_their_text(time_locale, text, answer):
    DateFormatFinder.clear_cache()
    assert DateFormatFinder().search(text) == answer
    assert keeps_text(text, answer)


@pytest.mark.parametrize("text, answer", [("01/05/2023 10:30 PM", "%m/%d/%Y %H:%M %p"),
                                          ("2023-05", "%Y-%j")])
def test_the_finders_lossy_answers_are_told(time_locale, text, answer):
    DateFormatFinder.clear_cache()
    assert DateFormatFinder().search(text) == answer
    assert not keeps_text(text, answer)
    [survey] = survey_formats([text])
    assert (survey.format, survey.parsed, survey.kept, survey.lossy_example) == (answer, 1, 0, text)


# --- The native check against the model -------------------------------------------

OFFSETS = ["+0000", "-0530", "+01:00", "Z", "+23:59:59.5", "-00:00", "+05:30:00"]


def render(fmt, rng):
    moment = datetime.datetime(1, 1, 1) + datetime.timedelta(
        days=rng.randrange(3652058), seconds=rng.randrange(86400),
        microseconds=rng.choice([0, 250000, rng.randrange(10**6)]))
    fmt = fmt.replace("%Z", rng.choice(["UTC", "gmt", "EST"])).replace("%z", rng.choice(OFFSETS))
    for d in "dmHIMSjy":  # non-padded numbers now and then
        if rng.random() < 0.3:
            fmt = fmt.replace("%" + d, "%-" + d)
    return date_format_leading_zero(moment, fmt)


def perturb(text, rng):
    for _ in range(rng.choice([0, 1, 1, 2])):
        i = rng.randrange(len(text) + 1)
        c = text[i:i + 1]
        kind = rng.randrange(9)
        if kind == 0:
            text = text.swapcase()
        elif kind == 1:
            text = text[:i] + rng.choice([" ", "  ", "\t", "\u3000"]) + text[i + 1 if c.isspace() else i:]
        elif kind == 2 and c.isdigit() and c.isascii():
            text = text[:i] + chr(0x660 + int(c)) + text[i + 1:]
        elif kind == 3:
            text = text[:i] + rng.choice(["0", " ", "00", "1"]) + text[i:]
        elif kind == 4:
            text = text.replace("0", "", 1)
        elif kind == 5:
            text = rng.choice([text.replace("AM", "PM"), text.replace("PM", "AM"),
                               text.replace("Mon", "Tue"), text.replace("Z", "+00:00")])
        elif kind == 6 and c.isdigit():
            text = text[:i] + str(rng.randrange(10)) + text[i + 1:]
        elif kind == 7:
            text = text[:i] + text[i + 1:]
        else:
            text = text.replace("-", "", 1)
    return text


def differential(pairs):
    """Compares keeps_text with the model over (text, fmt); returns the outcomes seen."""
    seen, wrong = {}, []
    for text, fmt in pairs:
        got, want = outcome(keeps_text, text, fmt), outcome(model, text, fmt)
        seen[want] = seen.get(want, 0) + 1
        if got != want:
            wrong.append((text, fmt, got, want))
    assert not wrong, wrong[:10]
    return seen


def test_rendered_then_perturbed_texts_against_the_model():
    rng = random.Random(5)
    formats = SINGLE + COMBINED
    pairs = []
    for _ in range(6000):
        fmt = rng.choice(formats)
        pairs.append((perturb(render(fmt, rng), rng), fmt))
    seen = differential(pairs)
    assert seen[True] > 1000 and seen[False] > 300 and seen["ValueError"] > 1000, seen
    # and most of them were decided natively (where the test hook is built)
    hook = sys.modules.get("accept_hook") or importlib.util.find_spec("accept_hook")
    if hook is not None:
        decide = importlib.import_module("accept_hook").decide
        assert sum(decide(t, f) is not None for t, f in pairs) > 0.9 * len(pairs)


def test_the_other_path_against_the_model(time_locale):
    rng = random.Random(9)
    formats = SINGLE + COMBINED + ["%c", "%x %X", "%G-W%V-%u", "%d.%m.%Y %X"]
    pairs = [(perturb(render(fmt, rng), rng), fmt) for fmt in
             (rng.choice(formats) for _ in range(600))]
    seen = differential(pairs)
    assert seen[True] > 100 and seen[False] > 30, seen


def test_corpus_against_the_model():
    import corpus
    pairs = set()
    for text in corpus.candidates():
        DateFormatFinder.clear_cache()
        try:
            pairs.add((text, DateFormatFinder().search(text)))
        except ValueError:
            pass
    path = corpus.shared_path()
    if path.is_file():
        with open(path, encoding="utf-8", newline="") as stream:
            for line in stream:
                fields = line.removesuffix("\n").split("\t")
                if len(fields) == 3 and fields[2]:
                    pairs.add((fields[1], fields[2]))
    DateFormatFinder.clear_cache()
    seen = differential(sorted(pairs))
    assert seen[True] > 100 and seen[False] > 3, seen


# --- The survey --------------------------------------------------------------------

def test_survey_ranks_keeping_formats_first():
    values = ["01/05/2023", "13/05/2023", "01/05/2023", "2011", "nothing", "12/31/2023"]
    # both date orders parse three values; the finder answered "%m/%d/%Y" thrice
    assert survey_formats(iter(values)) == [
        FormatSurvey("%m/%d/%Y", 3, 3 / 6, 3 / 6, None),
        FormatSurvey("%d/%m/%Y", 1, 3 / 6, 3 / 6, None),
        FormatSurvey("%y%m%d", 1, 1 / 6, 1 / 6, None),
    ]
    # a larger share parsed comes before more answers
    assert survey_formats(["01/05/12", "13/05/12", "13/06/12", "01/13/12"]) == [
        FormatSurvey("%y/%m/%d", 2, 3 / 4, 3 / 4, None),
        FormatSurvey("%m/%d/%y", 2, 2 / 4, 2 / 4, None),
    ]


def test_survey_reports_lossy_formats_with_an_example():
    values = ["2023-01-05 09:30 AM", "2023-01-05 10:30 PM", "2023-01-06 11:00 PM", "2023-005"]
    first, second = survey_formats(values)
    assert first == FormatSurvey("%Y-%j", 1, 1 / 4, 1 / 4, None) and first.lossless
    assert second == FormatSurvey("%Y-%m-%d %H:%M %p", 3, 3 / 4, 1 / 4, "2023-01-05 10:30 PM")
    assert not second.lossless


def plain_survey(values):
    """The survey in plain words: a new finder per value, the model's rule."""
    answers = {}
    for value in dict.fromkeys(values):
        try:
            answers[value] = DateFormatFinder().search(value)
        except ValueError:
            pass
    formats = list(dict.fromkeys(answers.values()))
    out = []
    for fmt in formats:
        outcomes = [outcome(model, v, fmt) for v in values]
        lossy = [v for v, o in zip(values, outcomes) if o is False]
        out.append(FormatSurvey(fmt, sum(answers.get(v) == fmt for v in values),
                                sum(o != "ValueError" for o in outcomes) / len(values),
                                outcomes.count(True) / len(values), lossy[0] if lossy else None))
    return sorted(out, key=lambda s: (not s.lossless, -s.parsed, -s.found, formats.index(s.format)))


def test_survey_against_the_plain_survey():
    import corpus
    rng = random.Random(3)
    texts = corpus.candidates()
    for size in (1, 5, 40, 200):
        values = [rng.choice(texts) for _ in range(size)]
        DateFormatFinder.clear_cache()
        assert survey_formats(values) == plain_survey(values)
    DateFormatFinder.clear_cache()


def test_survey_of_nothing_and_of_str_subclasses():
    assert survey_formats([]) == []
    assert survey_formats(["nothing"]) == []

    class Text(str):
        pass

    assert survey_formats([Text("2023-01-05")])[0].format == "%Y-%m-%d"


def test_survey_same_on_both_paths(time_locale):
    values = ["01/05/2023 10:30 PM", "Jan 05, 2023", "2023-05", "Thu Jan 05 2023", "5 Jan 2023"]
    DateFormatFinder.clear_cache()
    got = survey_formats(values)
    assert [(s.format, s.found, s.parsed, s.kept, s.lossy_example) for s in got] == [
        ("%b %d, %Y", 1, 0.2, 0.2, None),
        ("%d %b %Y", 1, 0.2, 0.2, None),
        ("%m/%d/%Y %H:%M %p", 1, 0.2, 0.0, "01/05/2023 10:30 PM"),
        ("%Y-%j", 1, 0.2, 0.0, "2023-05"),
    ]


# --- Arguments ------------------------------------------------------------------

@pytest.mark.parametrize("args, kwargs, message", [
    (("5",), {}, "keeps_text() takes exactly 2 positional arguments (1 given)"),
    (("5", "%d", 1), {}, "keeps_text() takes exactly 2 positional arguments (3 given)"),
    (("5",), {"format": "%d"}, "keeps_text() takes exactly 2 positional arguments (1 given)"),
    (("5", "%d"), {"text": "5"}, "keeps_text() got multiple values for keyword argument 'text'"),
    ((5, "%d"), {}, "Argument 'text' has incorrect type (expected str, got int)"),
    (("5", b"%d"), {}, "Argument 'fmt' has incorrect type (expected str, got bytes)"),
    ((None, "%d"), {}, "cannot pass None into a C function argument that is declared 'not None'"),
    (("5", None), {}, "cannot pass None into a C function argument that is declared 'not None'"),
])
def test_argument_errors(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        keeps_text(*args, **kwargs)
    assert str(info.value) == message


def test_keywords_and_module():
    assert keeps_text(text="5", fmt="%d") is True
    assert roundtrip.__all__ == ["keeps_text"] and roundtrip.__test__ == {}
    with pytest.raises(TypeError, match=r"^values\[1\] must be str, not NoneType$"):
        survey_formats(["5", None])
    with pytest.raises(TypeError, match=r"^survey_formats\(\) takes an iterable of str, not a str$"):
        survey_formats("2023-01-05")
    with pytest.raises(TypeError, match="expected list, got tuple"):
        roundtrip._tally(("5",), DateFormatFinder)
    with pytest.raises(TypeError, match="expected list, got Rows"):
        roundtrip._tally(type("Rows", (list,), {})(["5"]), DateFormatFinder)


ALLOCATIONS = """
import _testcapi, sys
from chronvale import DateFormatFinder, keeps_text, survey_formats
values = ["01/05/2023", "13/05/2023", "01/05/2023", "2023-05", "x"]
calls = [lambda: survey_formats(values), lambda: keeps_text("Thu Jan  5 10:30:00 2023", "%c"),
         lambda: keeps_text("01/05/2023", "%m/%d/%Y")]
expected = [call() for call in calls]
failed = 0
for n in range(int(sys.argv[1]), int(sys.argv[2])):
    for call in calls:
        DateFormatFinder.clear_cache()
        _testcapi.set_nomemory(n, n + 1)
        try:
            assert call() == expected[calls.index(call)], n  # when it gets through
        except MemoryError:
            failed += 1
        except SystemError as error:  # strptime's own code short of memory
            tb = error.__traceback__
            while tb.tb_next is not None:
                tb = tb.tb_next
            assert tb.tb_frame.f_code.co_filename.endswith(("_strptime.py", "re/__init__.py"))
        finally:
            _testcapi.remove_mem_hooks()
        assert [c() for c in calls] == expected, n
print(failed)
"""


def test_import_without_datetime():
    import subprocess
    script = ("import sys; sys.modules['datetime'] = None\n"
              "from chronvale.reru.pyd.zududized import roundtrip")
    result = subprocess.run([sys.executable, "-I", "-c", script], capture_output=True, text=True)
    assert result.returncode == 1, result.stderr
    assert result.stderr.splitlines()[-1] == (
        'ImportError: PyCapsule_Import could not import module "datetime"'), result.stderr


@pytest.mark.parametrize("first, last", [(0, 150), (150, 400)])
def test_failed_allocations(first, last):
    """The n-th allocation of a call fails: MemoryError, and nothing wrong after."""
    pytest.importorskip("_testcapi")
    import subprocess
    result = subprocess.run([sys.executable, "-P", "-s", "-c", ALLOCATIONS, str(first), str(last)],
                            capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, result.stderr[-3000:]
    assert int(result.stdout) > 0
