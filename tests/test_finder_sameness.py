"""The native format finder against the plain Python model.

Answers, exceptions, each finder's failure memory and the class caches must
be the same, search after search; and a finder whose only candidate is one
format must accept a text exactly when strptime does, whatever shortcut it
takes to reject candidates early.
"""
import calendar
import datetime
import re
import time

import corpus
import plain_models
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from meddling import available_time_locales, on_each_call, time_locale
from plain_models import PlainFinder

from chronvale.reru.pyd.zududized import patternseek
from chronvale.reru.pyd.zududized.patternseek import DateFormatFinder, dFormats

CATALOGUE = dFormats()
DATES, TIMES, UNIQUE = CATALOGUE.Dates(), CATALOGUE.Times(), CATALOGUE.Unique()
SEPARATORS = plain_models.SEPARATORS
COMBINED = [d.replace("/", sep) + " " + t for d in DATES for t in TIMES for sep in SEPARATORS]
FORMATS = sorted(set(DATES + TIMES + UNIQUE + PlainFinder().precomputed_formats + COMBINED))
LAYOUTS = sorted(set(corpus.DATE_LAYOUTS + corpus.ONLY_DATE_LAYOUTS + corpus.ISO_LAYOUTS
                     + [d + " " + t for d in corpus.DATE_LAYOUTS for t in corpus.TIME_LAYOUTS]))
CANDIDATES = corpus.candidates()

# Names strptime knows in the running locale, and a few it does not.
LOCALE_NAMES = [n for n in (*calendar.month_name, *calendar.month_abbr, *calendar.day_name,
                            *calendar.day_abbr, time.strftime("%p", (2000, 1, 1, 9, 0, 0, 0, 1, 0)),
                            time.strftime("%p", (2000, 1, 1, 21, 0, 0, 0, 1, 0))) if n]
NAMES = LOCALE_NAMES + ["Sept", "Juli", "Mär", "UTC", "GMT", "EST", "th", "of", "Q3", "W07"]
NAME_RE = re.compile("|".join(sorted(map(re.escape, NAMES), key=len, reverse=True)), re.IGNORECASE)
SPACES = [" ", "  ", "\t", " \t ", "\n", "\u3000", "\xa0", "\u2009"]
# Letters that match other letters under re.IGNORECASE (long s, Kelvin sign, dotless and dotted i).
LOOKALIKES = {"s": "\u017f", "k": "\u212a", "i": "\u0131", "I": "\u0130"}
SUFFIXES = ["Z", "z", "+05:30", "-0800", "+0000", " UTC", " GMT", " +01:00", ".5", " PM"]
INSERTS = list("0123456789:/-., ZTaP+") + ["\u0661", "\uff15", "\x00"]
ZONES = [None, None, datetime.UTC, datetime.timezone(datetime.timedelta(hours=5, minutes=30)),
         datetime.timezone(-datetime.timedelta(hours=8))]

# --- mutations of a rendered date string ---------------------------------------------


def _replace_at(text, i, new, width=1):
    return text[:i] + new + text[i + width:]


# Changes strptime often forgives come more often than the ones it never does.
KINDS = ["case", "case", "space", "space", "digit", "digit", "name", "name", "pad", "pad",
         "unpad", "unpad", "lookalike", "drop", "insert", "suffix"]
DIGIT_RUN = re.compile(r"\d{2,}")


@st.composite
def mutated(draw, text):
    """`text` with zero to three small changes of the kinds people and other
    programs introduce: case, white space, digits of other scripts, shorter
    numbers, a dropped or extra character, other names, padding and zone
    suffixes."""
    for _ in range(draw(st.sampled_from([0, 1, 1, 2, 3]))):
        kind = draw(st.sampled_from(KINDS))
        at = draw(st.integers(0, max(len(text) - 1, 0)))
        if kind == "case":
            text = draw(st.sampled_from([str.upper, str.lower, str.swapcase, str.title]))(text)
        elif kind == "space" and " " in text:
            at = text.index(" ", min(at, text.rindex(" ")))
            text = _replace_at(text, at, draw(st.sampled_from(SPACES)))
        elif kind == "digit" and any(c.isdigit() for c in text):
            at = next(i for i in [*range(at, len(text)), *range(at)] if text[i].isdigit())
            base = draw(st.sampled_from([0x660, 0x966, 0xFF10]))
            text = _replace_at(text, at, chr(base + int(text[at])))
        elif kind == "unpad" and DIGIT_RUN.search(text):
            runs = list(DIGIT_RUN.finditer(text))
            run = runs[at % len(runs)]
            text = _replace_at(text, draw(st.integers(run.start(), run.end() - 1)), "")
        elif kind == "drop" and text:
            text = _replace_at(text, at, "")
        elif kind == "insert":
            text = text[:at] + draw(st.sampled_from(INSERTS)) + text[at:]
        elif kind == "name":
            name = draw(st.sampled_from(NAMES))
            name = draw(st.sampled_from([name, name.lower(), name.upper()]))
            found = NAME_RE.search(text)
            text = (text[:found.start()] + name + text[found.end():]) if found else text + " " + name
        elif kind == "pad":
            text = draw(st.sampled_from(SPACES)) + text if draw(st.booleans()) else text + " "
        elif kind == "suffix":
            text += draw(st.sampled_from(SUFFIXES))
        elif kind == "lookalike":
            spots = [i for i, c in enumerate(text) if c in LOOKALIKES]
            if spots:
                i = spots[at % len(spots)]
                text = _replace_at(text, i, LOOKALIKES[text[i]])
    return text


zones = st.sampled_from(ZONES)
moments = st.one_of(
    st.datetimes(datetime.datetime(1900, 1, 1), datetime.datetime(2100, 1, 1), timezones=zones),
    st.datetimes(min_value=datetime.datetime(1, 1, 1), timezones=zones))


@st.composite
def rendered(draw, layouts):
    """A random moment written with one of `layouts` by strftime, then mutated."""
    layout = draw(st.sampled_from(layouts))
    return layout, draw(mutated(draw(moments).strftime(layout)))


date_like = st.one_of(st.sampled_from(CANDIDATES),
                      rendered(LAYOUTS).map(lambda pair: pair[1]),
                      rendered(FORMATS).map(lambda pair: pair[1]))


# --- running both finders ---------------------------------------------------------------


@pytest.fixture(autouse=True)
def empty_caches():
    DateFormatFinder.clear_cache()
    PlainFinder.clear_cache()
    yield
    DateFormatFinder.clear_cache()
    PlainFinder.clear_cache()


@pytest.fixture(scope="module", autouse=True)
def roomy_re_cache():
    # Only the cost of a failing search with a time of day changes.
    with plain_models.roomy_re_cache():
        yield


def outcome(finder, text):
    try:
        return ("found", finder.search(text))
    except Exception as error:  # compared with the model's, type and text
        return (type(error), str(error))


def seen(native):
    return native.__reduce__()[2][4]


def assert_same_search(native, model, text):
    assert outcome(native, text) == outcome(model, text), text
    assert seen(native) == model.seen_formats, text
    assert list(DateFormatFinder.successful_formats.items()) == \
        list(PlainFinder.successful_formats.items()), text
    assert DateFormatFinder.historical_formats == PlainFinder.historical_formats, text


def clear_both():
    DateFormatFinder.clear_cache()
    PlainFinder.clear_cache()


class TrivialDatetime(datetime.datetime):
    pass


class BracketDatetime(datetime.datetime):
    """Also reads a date written inside angle brackets: strptime rules that
    no early rejection of candidates can know about."""

    @classmethod
    def strptime(cls, text, fmt):
        if text.startswith("<") and text.endswith(">"):
            text = text[1:-1]
        return super().strptime(text, fmt)


@pytest.fixture(params=[datetime.datetime, TrivialDatetime, BracketDatetime],
                ids=["datetime", "trivial subclass", "bracket subclass"])
def strptime_class(request, monkeypatch):
    monkeypatch.setattr(patternseek, "py_datetime", request.param)
    monkeypatch.setattr(plain_models, "py_datetime", request.param)
    return request.param


def test_model_reads_the_same_time_of_day_pattern():
    assert plain_models.anytime_regex.pattern == patternseek.anytime_regex.pattern
    assert plain_models.anytime_regex.flags == patternseek.anytime_regex.flags


# About sixty strings spread over the corpus candidates, found or not.
CORPUS_SAMPLE = CANDIDATES[::max(1, len(CANDIDATES) // 60)]


@pytest.mark.parametrize("one_finder", [False, True], ids=["new finder each", "one finder"])
def test_corpus_sample(one_finder, strptime_class):
    """Strings of the benchmark corpus; on one finder the second pass answers from the cache and the failures of
    earlier strings stand in `seen_formats`."""
    texts = CORPUS_SAMPLE if not one_finder else CORPUS_SAMPLE + CORPUS_SAMPLE[::-3]
    if strptime_class is BracketDatetime:
        texts = ["<" + t + ">" for t in texts[::3]]
    native, model = DateFormatFinder(), PlainFinder()
    for text in texts:
        if not one_finder:
            clear_both()
            native, model = DateFormatFinder(), PlainFinder()
        assert_same_search(native, model, text)


@pytest.mark.parametrize("text", ["01/05/2023", "2023-01-05 10:30:00", "January 5, 2023"])
def test_stale_cache_entries(text, strptime_class):
    """A cached format that no longer parses its string is dropped and the search goes on."""
    for stale in ("%Y", "%H:%M", "%Y Q%q"):
        clear_both()
        DateFormatFinder.successful_formats[text] = PlainFinder.successful_formats[text] = stale
        assert_same_search(DateFormatFinder(), PlainFinder(), text)


@pytest.mark.parametrize("text", ["caf\udce9", "10:30 \ud800", "", "\x00", "\u3000"])
def test_odd_strings(text):
    native, model = DateFormatFinder(), PlainFinder()
    assert_same_search(native, model, text)
    assert_same_search(native, model, text)


@settings(max_examples=30, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(texts=st.lists(date_like, min_size=1, max_size=4), repeat=st.booleans(),
       bracket=st.booleans())
def test_sequences_of_searches(texts, repeat, bracket, strptime_class):
    """Several searches on one finder pair, sometimes again from the cache."""
    clear_both()
    if bracket and strptime_class is BracketDatetime:
        texts = ["<" + t + ">" for t in texts]
    native, model = DateFormatFinder(), PlainFinder()
    for text in texts + (texts[:1] if repeat else []):
        assert_same_search(native, model, text)


# --- early rejection never refuses what strptime accepts ----------------------------------


class NoTimeOfDay:
    def search(self, text):
        return None


def single_candidate_finder(fmt):
    finder = DateFormatFinder.__new__(DateFormatFinder)
    finder.__setstate__(([fmt], None, "/", [], set(), [], [], []))
    return finder


@st.composite
def format_and_text(draw):
    """A catalogue format, and a text mostly written with that format (or a
    neighbour of it) by strftime, then mutated."""
    fmt = draw(st.sampled_from(FORMATS))
    writer = fmt if draw(st.integers(0, 3)) else draw(st.sampled_from(FORMATS))
    return fmt, draw(mutated(draw(moments).strftime(writer)))


def as_strptime_decides(fmt, text):
    """What a single-candidate search must give: the format when strptime
    parses the text, else the finder's not-found ValueError (any other error
    of strptime goes through unchanged)."""
    try:
        datetime.datetime.strptime(text, fmt)
    except ValueError:
        return (ValueError, plain_models.NOT_FOUND)
    except Exception as error:
        return (type(error), str(error))
    return ("found", fmt)


@settings(max_examples=1500, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(case=format_and_text())
def test_one_candidate_accepted_exactly_when_strptime_accepts(case, monkeypatch):
    fmt, text = case
    monkeypatch.setattr(patternseek, "anytime_regex", NoTimeOfDay())
    DateFormatFinder.clear_cache()
    assert outcome(single_candidate_finder(fmt), text) == as_strptime_decides(fmt, text)


@pytest.mark.parametrize("fmt, text", [
    ("%B %d, %Y", "JANUARY 05, 2023"),
    ("%B %d, %Y", "augu\u017ft 05, 2023"),
    ("%d/%m/%Y", "\u0660\u0665/01/2023"),
    ("%Y-%m-%d", "\u0662\u0660\u0662\u0663-01-05"),
    ("%m/%d/%y %H:%M", "01/05/23\u300010:30"),
    ("%m/%d/%y %H:%M", "01/05/23 \t 10:30"),
    ("%m/%d/%y %H:%M", " 01/05/23 10:30"),
    ("%m/%d/%Y", "1/5/2023"),
    ("%d %B %y", "5 january 23"),
    ("%H:%M:%S.%f%z", "10:30:00.5+05:30"),
    ("%H:%M:%SZ", "10:30:00z"),
    ("%m/%d/%Y %I:%M %p", "01/05/2023 09:30 pm"),
    ("%H:%M:%S.%f", "10:30:00.12345"),
    ("%m/%d/%Y", "01/05/2023\x00"),
    ("%A, %B %d, %Y", "thursday, january 5, 2023"),
    ("%Y Q%q", "2023 Q1"),
    ("%Y-W%V-%u", "2023-W01-4"),
    ("%dth of %B %Y", "05TH OF JANUARY 2023"),
])
def test_one_candidate_table(fmt, text, monkeypatch):
    """Texts strptime treats generously, or formats it never accepts."""
    monkeypatch.setattr(patternseek, "anytime_regex", NoTimeOfDay())
    assert outcome(single_candidate_finder(fmt), text) == as_strptime_decides(fmt, text)


@pytest.mark.parametrize("when", ["hash", "eq"])
@pytest.mark.parametrize("text", ["January 2023", "01/05/2023"])
def test_candidate_that_reinitialises_its_finder(when, text):
    """A candidate whose hashing or comparison runs __init__ again frees the
    failure memory in the middle of a set operation on it. Each date format
    stands twice, as two objects, so that the second is compared with the
    first in seen_formats."""
    def meddling(finder):
        class Meddler(str):
            def __hash__(self):
                if when == "hash":
                    finder.__init__()
                return str.__hash__(self)

            def __eq__(self, other):
                if when == "eq" and type(other) is type(self):
                    finder.__init__()
                return str.__eq__(self, other)
        return lambda formats: [Meddler(f) for f in formats + formats]

    native, model = DateFormatFinder(), PlainFinder()
    state = list(native.__reduce__()[2])
    state[0] = meddling(native)(DATES)
    native.__setstate__(tuple(state))
    model.date_formats = meddling(model)(DATES)
    for _ in range(2):
        assert_same_search(native, model, text)


# Lengths at and around the sizes the finder's shortcuts work with (a word of
# positions, the positions kept on the stack, the candidate buffer).
LONG_LENGTHS = [63, 64, 65, 250, 255, 256, 257, 300, 512, 513, 1000]


@pytest.mark.parametrize("length", LONG_LENGTHS)
def test_long_texts(length):
    """Texts that fail with and without a time of day, a date followed by
    long trailing text, and long texts that do parse (through white space)."""
    texts = ["x" * (length - 6) + " 10:30",
             "01/05/2023 10:30 " + "z" * (length - 17),
             "01/05/2023" + " " * (length - 15) + "10:30",
             "5" + "\u3000" * (length - 13) + "January 2023",
             "y" * length]
    native, model = DateFormatFinder(), PlainFinder()
    for text in texts:
        assert len(text) == length
        assert_same_search(native, model, text)


# --- the shortcuts: shape memo, jumps between its survivors, shared catalogue -------------

FIELD_NAMES = ["date_formats", "formats", "old_sep", "precomputed_formats", "seen_formats",
               "separators", "time_formats", "unique_formats"]


def field(finder, name):
    if isinstance(finder, PlainFinder):
        return getattr(finder, name)
    return native_state(finder)[FIELD_NAMES.index(name)]


def native_state(finder):
    return finder.__reduce__()[2]


def replace_field(finder, name, value):
    if isinstance(finder, PlainFinder):
        setattr(finder, name, value)
    else:
        state = list(native_state(finder))
        state[FIELD_NAMES.index(name)] = value
        finder.__setstate__(tuple(state))


class AcceptAll(datetime.datetime):
    """Accepts every format: the answer then shows which candidate came next."""

    @classmethod
    def strptime(cls, text, fmt):
        return datetime.datetime(2000, 1, 1)


class Rebinding:
    """A key of seen_formats whose comparison (from the `skip`-th on) rebinds
    py_datetime: Python code inside a set operation."""

    def __init__(self, module, like, skip=0):
        self.module, self.like, self.skip = module, like, skip

    def __hash__(self):
        return hash(self.like)

    def __eq__(self, other):
        self.skip -= 1
        if self.skip < 0:
            self.module.py_datetime = AcceptAll
        return False

    def __repr__(self):
        return f"Rebinding({self.like!r})"


def rebind(finder, module):
    module.py_datetime = AcceptAll


MEDDLES = {
    "py_datetime rebound": rebind,
    "separators replaced": lambda f, m: (replace_field(f, "separators", ["-", " "]), rebind(f, m)),
    "held time list mutated": lambda f, m: (field(f, "time_formats").insert(2, "%I%p"), rebind(f, m)),
    "time list emptied": lambda f, m: (field(f, "time_formats").clear(), rebind(f, m)),
    "old_sep replaced": lambda f, m: (replace_field(f, "old_sep", "-"), rebind(f, m)),
    "date list field replaced": lambda f, m: (replace_field(f, "date_formats", ["%Y"]), rebind(f, m)),
    "seen_formats with a Python key": lambda f, m: replace_field(
        f, "seen_formats", {Rebinding(m, "%m-%d-%y"), Rebinding(m, "%d/%m/%Y")}),
    # compared when the next candidate is looked up, and again when it is added
    "seen_formats with a Python key, second comparison": lambda f, m: replace_field(
        f, "seen_formats", {Rebinding(m, "%d/%m/%Y", skip=1)}),
}


@pytest.mark.parametrize("meddle", MEDDLES.values(), ids=MEDDLES.keys())
@pytest.mark.parametrize("text, trigger", [("04/31/2023 10:30", "%m/%d/%Y %H:%M"),
                                           ("04/31/2023", "%m/%d/%Y")])
def test_python_code_inside_a_genuine_strptime_call(text, trigger, meddle, monkeypatch):
    """The genuine strptime runs Python code (a monitoring callback; nothing
    of strptime is replaced) that changes what the rest of the search
    reads; the search must go on exactly as the plain loops would. In a
    time locale other than C, so that the trigger, a candidate the
    pre-check lets through, is a real call of the native finder too."""
    if "C.UTF-8" not in available_time_locales():
        pytest.skip("no C.UTF-8 locale")
    target = {}

    def meddling(fmt):
        if fmt == trigger and target:
            meddle(*target.popitem())

    monkeypatch.setattr(patternseek, "py_datetime", datetime.datetime)
    monkeypatch.setattr(plain_models, "py_datetime", datetime.datetime)
    results = []
    with time_locale("C.UTF-8"), on_each_call(meddling):
        for finder, module in [(DateFormatFinder(), patternseek), (PlainFinder(), plain_models)]:
            clear_both()
            module.py_datetime = datetime.datetime
            target[finder] = module
            results.append((outcome(finder, text), field(finder, "seen_formats") == set()
                            or sorted(map(str, field(finder, "seen_formats"))),
                            dict(type(finder).successful_formats), not target))
    assert results[0] == results[1]
    assert results[0][3], "the change was made"


@pytest.mark.parametrize("texts", [
    ["01/05/2023 10:30", "12/31/2023 23:59", "13/31/2023 23:59", "1/5/2023 9:30"],   # one shape, then others
    ["2023-01-05 10:30:00", "2023-1-5 10:30:00", "2023-01-05 10:30:00 PM", "2023-01-05\t10:30:00"],
    ["5 January 2023", "6 January 2023", "6 JANUARY 2023", "06 février 2023", "\u0665 January 2023"],
    ["12/31/99", "12/31/9\u0669", "99/12/31", "12-31-99 10:30", "12\u300031\u300099 10:30"],
])
@pytest.mark.parametrize("one_finder", [False, True], ids=["new finder each", "one finder"])
def test_shapes_seen_again_and_anew(texts, one_finder):
    """Texts that share a shape (memo hits) and texts of new shapes (misses),
    in the C time locale and outside it."""
    import locale
    saved = locale.setlocale(locale.LC_TIME)
    try:
        for name in ["C", "C.UTF-8"]:
            try:
                locale.setlocale(locale.LC_TIME, name)
            except locale.Error:
                continue
            clear_both()
            native, model = DateFormatFinder(), PlainFinder()
            for text in texts + texts:
                if not one_finder:
                    native, model = DateFormatFinder(), PlainFinder()
                assert_same_search(native, model, text)
    finally:
        locale.setlocale(locale.LC_TIME, saved)


def test_pickled_finders_and_copied_lists():
    """Fields equal to the catalogue's but not the same objects (a finder
    loaded from a pickle) take the same road."""
    import pickle
    native, model = DateFormatFinder(), PlainFinder()
    for text in ["01/05/2023 10:30", "January 5, 2023", "5 January 2023", "2023-01-05T10:30:00"]:
        native = pickle.loads(pickle.dumps(native))
        assert_same_search(native, model, text)


def test_candidates_around_the_candidate_buffer_size():
    """Changed lists whose candidates are built around the size of the
    candidate buffer (512 bytes), one byte at a time."""
    clear_both()
    native, model = DateFormatFinder(), PlainFinder()
    for finder in (native, model):
        replace_field(finder, "date_formats", ["%m/%d/%Y"])
        replace_field(finder, "separators", ["/"])
        replace_field(finder, "time_formats", ["%H:%M" + "x" * k for k in range(490, 510)] + ["%H:%M"])
    assert_same_search(native, model, "01/05/2023 10:30")


@pytest.mark.parametrize("name, index, entry", [
    ("date_formats", 4, "%d/%m/%Y"), ("time_formats", 2, "%I:%M"), ("separators", 0, "."),
    ("separators", 3, "_"), ("unique_formats", 6, "%d %B %Y"), ("unique_formats", 54, "%B %Y"),
    ("precomputed_formats", 0, "%d %B %Y")])
def test_copied_list_with_one_entry_changed(name, index, entry):
    """A list as long as the catalogue's but with one other entry is not the catalogue's."""
    clear_both()
    native, model = DateFormatFinder(), PlainFinder()
    for finder in (native, model):
        changed = list(field(finder, name))
        changed[index] = entry
        replace_field(finder, name, changed)
    for text in ["01/05/2023 10:30", "01.05.2023 10:30", "01/05/2023", "5 January 2023",
                 "01_05_2023 10:30", "01 05 2023 10:30", "January 2023"]:
        assert_same_search(native, model, text)


@pytest.mark.parametrize("accessor, extra", [
    ("Dates", ["%d.%m.%Y %H:%M"]), ("Times", ["%d.%m.%Y %H:%M"]), ("Unique", ["%d.%m.%Y %H:%M"]),
    ("Unique", [f"%d/%m/{i}" for i in range(600)]),            # past the variant set's slots
    ("Unique", ["%d/%m/\xe9t\xe9", "%d\u3000%m/%Y"]),             # not ASCII
    ("Unique", ["%d/%m/" + "y" * 900 + str(i) for i in range(40)])])   # and its text room
def test_catalogue_accessor_replaced(accessor, extra, monkeypatch):
    """A finder built while dFormats has another accessor gets what that accessor returns."""
    original = getattr(dFormats, accessor)
    monkeypatch.setattr(dFormats, accessor, lambda self: extra + original(self)[::-1])
    native, model = DateFormatFinder(), PlainFinder()
    assert list(native_state(native)) [::2] == [model.date_formats, model.old_sep,
                                                model.seen_formats, model.time_formats]
    assert native_state(native)[3] == model.precomputed_formats
    for text in ["05.01.2023 10:30", "01/05/2023 10:30", "5 January 2023", "Jan 2023"]:
        assert_same_search(native, model, text)


@pytest.mark.parametrize("text", ["20230231 10:30", "02/31/2023 10:30", "31.02.2023 10:30:00",
                                  "20230231", "02/31/2023", "31 February 2023"])
def test_strptime_calls_made_are_the_plain_loops_calls(text, monkeypatch):
    """Texts the pre-check lets through but strptime refuses (February 31):
    every format the finder does try, it tries as often as the plain loops
    (a date format without the separator gives one candidate five times)."""
    import _strptime
    import collections
    original = _strptime._strptime_datetime
    counts = collections.Counter()

    def counting(cls, data, fmt="%a %b %d %H:%M:%S %Y"):
        counts[fmt] += 1
        return original(cls, data, fmt)

    monkeypatch.setattr(_strptime, "_strptime_datetime", counting)
    tried = []
    for finder in [DateFormatFinder(), PlainFinder()]:
        counts.clear()
        clear_both()
        outcome(finder, text)
        tried.append(dict(counts))
    assert tried[0] and all(tried[1][fmt] == n for fmt, n in tried[0].items())


def test_none_as_a_cached_key():
    """search(None) meets the cache first: a cached None is re-tested and fails to encode."""
    DateFormatFinder.successful_formats[None] = PlainFinder.successful_formats[None] = "%Y"
    assert_same_search(DateFormatFinder(), PlainFinder(), None)


class Remembering(dict):
    """A cache that is not an exact dict: looked up through the mapping protocol."""


def test_cache_that_is_not_an_exact_dict(monkeypatch):
    monkeypatch.setattr(DateFormatFinder, "successful_formats", Remembering())
    monkeypatch.setattr(PlainFinder, "successful_formats", Remembering())
    native, model = DateFormatFinder(), PlainFinder()
    DateFormatFinder.successful_formats["01/05/2023"] = PlainFinder.successful_formats["01/05/2023"] = "%Y"
    for text in ["01/05/2023 10:30", "01/05/2023 10:30", "01/05/2023", "January 2023"]:
        assert_same_search(native, model, text)


def test_new_finders_share_the_catalogues_strings():
    """Finders built the default way hold new lists of the same str objects
    (built once per process); a finder with another old_sep builds its own."""
    first, second, other = (native_state(f) for f in (DateFormatFinder(), DateFormatFinder(),
                                                      DateFormatFinder("-")))
    for i in (0, 3, 5, 6, 7):
        assert first[i] == second[i] and first[i] is not second[i]
        assert all(a is b for a, b in zip(first[i], second[i]))
    assert other[3] == PlainFinder("-").precomputed_formats
    assert not all(a is b for a, b in zip(first[3], other[3]))
