import copy
import datetime
import gc
import itertools
import pickle
import random
import subprocess
import sys
import threading
import weakref

import pytest

from chronvale.reru.pyd.zududized import patternseek
from chronvale.reru.pyd.zududized.patternseek import DateFormatFinder, dFormats

NO_TIME = "No matching format found for the given date string."
WITH_TIME = "No matching format found for the given date string with time components."
SEPARATORS = ["/", ".", "-", " ", ""]


@pytest.fixture(autouse=True)
def empty_cache():
    DateFormatFinder.clear_cache()
    yield
    DateFormatFinder.clear_cache()


class Recorder:
    """Stands in for py_datetime: records every strptime attempt."""

    def __init__(self, fail=False):
        self.calls = []
        self.fail = fail

    def strptime(self, text, fmt):
        self.calls.append(fmt)
        if self.fail:
            raise ValueError("refused")
        return datetime.datetime.strptime(text, fmt)


@pytest.fixture
def recorder(monkeypatch):
    rec = Recorder()
    monkeypatch.setattr(patternseek, "py_datetime", rec)
    return rec


def state_of(finder):
    """The eight fields, by name, as the pickling state exposes them."""
    names = ["date_formats", "formats", "old_sep", "precomputed_formats", "seen_formats",
             "separators", "time_formats", "unique_formats"]
    return dict(zip(names, finder.__reduce__()[2]))


def model_precomputed(old_sep="/"):
    """The separator variants, as a plain list built the documented way."""
    cat = dFormats()
    result = []
    for entry in cat.Dates() + cat.Unique():
        result.append(entry)
        for sep in SEPARATORS:
            variant = entry.replace(old_sep, sep)
            if variant not in result:
                result.append(variant)
    return result


# --- the catalogue ---------------------------------------------------------

def test_catalogue_lists_and_ends():
    cat = dFormats()
    dates, times, unique = cat.Dates(), cat.Times(), cat.Unique()
    assert (len(dates), len(times), len(unique)) == (19, 33, 55)
    assert (dates[0], times[0], unique[0]) == ("%m/%d/%y", "%H", "%A the %dth of %B, %Y")
    assert (dates[-1], times[-1], unique[-1]) == ("%d %B %y", "%H:%M:%S.%f%z", "on %B %d, %Y")
    assert unique[20:22] == ["%H", "%I"]
    assert "%Y Q%q" in unique and "%Y-W%V-%u" in unique


def test_catalogue_hands_out_new_lists():
    cat = dFormats()
    first = cat.Dates()
    first.append("x")
    second = cat.Dates()
    assert second == dFormats().Dates() and "x" not in second
    assert first is not second
    assert first[0] is not second[0] or first[0] == second[0]


def test_catalogue_ignores_constructor_arguments_and_subclasses():
    assert dFormats(1, x=2).Times() == dFormats().Times()

    class Mine(dFormats):
        pass

    assert Mine().Unique() == dFormats().Unique()
    with pytest.raises(AttributeError):
        dFormats().anything = 1


@pytest.mark.parametrize("call, message", [
    (lambda: dFormats().Dates(1), "Dates() takes exactly 0 positional arguments (1 given)"),
    (lambda: dFormats().Times(1, 2), "Times() takes exactly 0 positional arguments (2 given)"),
    (lambda: dFormats().Unique(x=1), "Unique() got an unexpected keyword argument 'x'"),
    (lambda: dFormats.Dates(), "Dates() needs an argument"),
])
def test_catalogue_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_catalogue_copies_by_reconstruction_and_refuses_setstate():
    cat = dFormats()
    for clone in (pickle.loads(pickle.dumps(cat)), copy.copy(cat), copy.deepcopy(cat)):
        assert type(clone) is dFormats and clone is not cat
        assert clone.Dates() == cat.Dates()
    with pytest.raises(TypeError, match="^no default __reduce__ due to non-trivial __cinit__$"):
        cat.__setstate__(())


# --- the time-of-day test --------------------------------------------------

@pytest.mark.parametrize("text, expected", [
    ("01/05/2023 10:30", True), ("2023-01-05T10:30:00", True), ("230105", True),
    ("10:30am", True), ("10:30:00Z", True), ("at 9:05 EST", True), ("10:30 +05:30", True),
    ("10:30+0530", True), ("10:30:15.123456", True), ("9:05 pm EST ok", True), ("x10:30", True),
    ("10:30 PST8", True), ("10:30\n", True),
    ("2023-01-05", False), ("20230105", False), ("1230", False), ("12:345", False),
    ("123:45", False), ("10:30:15.1234567", False), ("12:30pm,", False), ("", False),
])
def test_get_time_components(text, expected):
    assert patternseek.get_time_components(text) is expected
    assert patternseek.get_time_components(datetime_string=text) is expected


def test_get_time_components_arguments():
    with pytest.raises(TypeError, match=r"^Argument 'datetime_string' has incorrect type \(expected str, got int\)$"):
        patternseek.get_time_components(5)
    with pytest.raises(TypeError, match="^cannot pass None into a C function argument that is declared 'not None'$"):
        patternseek.get_time_components(None)

    class S(str):
        pass

    with pytest.raises(TypeError, match="got S"):
        patternseek.get_time_components(S("10:30"))
    assert patternseek.get_time_components.__annotations__ == {"datetime_string": "str"}


def test_anytime_compiles_afresh_through_module_re(monkeypatch):
    pattern = patternseek.anytime()
    assert pattern.pattern == patternseek.anytime_regex.pattern
    assert len(pattern.pattern) == 125
    assert pattern.flags & 2 and pattern.flags == patternseek.re.compile("", 2).flags

    class FakeRe:
        IGNORECASE = 0

        @staticmethod
        def compile(source, flags):
            return ("compiled", source, flags)

    monkeypatch.setattr(patternseek, "re", FakeRe)
    assert patternseek.anytime() == ("compiled", pattern.pattern, 0)


def test_time_test_follows_rebound_anytime_regex(monkeypatch):
    class Never:
        def search(self, text):
            return None

    monkeypatch.setattr(patternseek, "anytime_regex", Never())
    assert patternseek.get_time_components("10:30") is False
    monkeypatch.delattr(patternseek, "anytime_regex")
    with pytest.raises(NameError, match="^name 'anytime_regex' is not defined$"):
        patternseek.get_time_components("10:30")
    monkeypatch.setattr(patternseek, "anytime_regex", object(), raising=False)
    with pytest.raises(AttributeError):
        DateFormatFinder().search("x")


# --- searching ---------------------------------------------------------------

@pytest.mark.parametrize("text, expected", [
    ("12/31/99", "%m/%d/%y"),
    ("01/05/2023", "%m/%d/%Y"),
    ("2023-01-05", "%Y-%m-%d"),
    ("2023", "%y%m%d"),
    ("January 5, 2023", "%B %d, %Y"),
    ("5 January 2023", "%d %B %Y"),
    ("01/05/2023 10:30", "%m/%d/%Y %H:%M"),
    ("2023-01-05 10:30:00", "%Y-%m-%d %H:%M:%S"),
    ("01/05/2023 10:30 PM", "%m/%d/%Y %H:%M %p"),
    ("Monday", "%A"),
    ("\u0662\u0660\u0662\u0663", "%Y"),  # Arabic-Indic digits
])
def test_search_answers(text, expected):
    assert DateFormatFinder().search(text) == expected
    assert DateFormatFinder.successful_formats == {text: expected}
    assert expected in DateFormatFinder.historical_formats


@pytest.fixture
def other_time_locale():
    """LC_TIME set to a locale other than "C" (names then are not assumed)."""
    import locale
    before = locale.setlocale(locale.LC_TIME)
    try:
        locale.setlocale(locale.LC_TIME, "C.UTF-8")
    except locale.Error:
        pytest.skip("no C.UTF-8 locale")
    yield
    locale.setlocale(locale.LC_TIME, before)


@pytest.mark.parametrize("text, expected", [
    ("January 5, 2023", "%B %d, %Y"),
    ("Mon, Jan 05, 2023", "%a, %b %d, %Y"),
    ("01/05/2023 10:30 pm", "%m/%d/%Y %H:%M %p"),
    ("Monday", "%A"),
])
def test_names_in_another_time_locale(other_time_locale, text, expected):
    assert DateFormatFinder().search(text) == expected


@pytest.mark.parametrize("text, message", [
    ("230105", WITH_TIME), ("10:30", WITH_TIME), ("2023-01-05T10:30:00", WITH_TIME),
    ("January 2023", NO_TIME), ("", NO_TIME), ("\x00\x00", NO_TIME), ("x" * 100_000, NO_TIME),
])
def test_search_failures(text, message):
    with pytest.raises(ValueError) as info:
        DateFormatFinder().search(text)
    assert str(info.value) == message
    assert DateFormatFinder.successful_formats == {}


def test_stage_three_order_and_attempt_count(recorder):
    recorder.fail = True
    finder = DateFormatFinder()
    with pytest.raises(ValueError, match=NO_TIME):
        finder.search("no date here")
    dates = dFormats().Dates()
    expected = []
    for fmt in dates + model_precomputed():
        if fmt not in expected:
            expected.append(fmt)
    assert recorder.calls == expected
    assert len(recorder.calls) == 143
    assert state_of(finder)["seen_formats"] == set(expected)
    # Everything already failed: a second search makes no attempt at all.
    recorder.calls.clear()
    with pytest.raises(ValueError, match=NO_TIME):
        finder.search("still nothing")
    assert recorder.calls == []


def test_stage_two_tries_every_combination_in_loop_order(recorder):
    recorder.fail = True
    finder = DateFormatFinder()
    with pytest.raises(ValueError, match=WITH_TIME):
        finder.search("at 10:30")
    assert len(recorder.calls) == 19 * 33 * 5
    assert recorder.calls[:6] == ["%m/%d/%y %H", "%m.%d.%y %H", "%m-%d-%y %H", "%m %d %y %H",
                                  "%m%d%y %H", "%m/%d/%y %I"]
    # "%y%m%d" has no separator: the same candidate five times in a row.
    start = 3 * 33 * 5
    assert recorder.calls[start:start + 5] == ["%y%m%d %H"] * 5
    assert recorder.calls[-1] == "%d %B %y %H:%M:%S.%f%z"
    assert state_of(finder)["seen_formats"] == set()


def test_precomputed_formats_counts_and_start():
    pre = state_of(DateFormatFinder())["precomputed_formats"]
    assert pre[:7] == ["%m/%d/%y", "%m.%d.%y", "%m-%d-%y", "%m %d %y", "%m%d%y", "%B/%d/%Y",
                       "%B.%d.%Y"]
    assert len(pre) == 145 and len(set(pre)) == 143
    assert pre == model_precomputed()
    dashed = state_of(DateFormatFinder("-"))["precomputed_formats"]
    assert len(dashed) == 130 and dashed == model_precomputed("-")
    assert state_of(DateFormatFinder(old_sep="-"))["old_sep"] == "-"


def test_seen_formats_persist_per_finder():
    finder = DateFormatFinder()
    assert finder.search("January 5, 2023") == "%B %d, %Y"
    with pytest.raises(ValueError, match=NO_TIME):
        finder.search("5 January 2023")
    assert "%d %B %Y" in state_of(finder)["seen_formats"]
    assert DateFormatFinder().search("5 January 2023") == "%d %B %Y"
    # Running __init__ again forgets the failures.
    finder.__init__()
    assert state_of(finder)["seen_formats"] == set()
    assert finder.search("5 January 2023") == "%d %B %Y"


def test_cache_hit_costs_one_attempt(recorder):
    assert DateFormatFinder().search("01/05/2023") == "%m/%d/%Y"
    recorder.calls.clear()
    assert DateFormatFinder().search("01/05/2023") == "%m/%d/%Y"
    assert recorder.calls == ["%m/%d/%Y"]


def test_stale_cache_entry_is_evicted(recorder):
    DateFormatFinder.successful_formats["01/05/2023"] = "%Y"
    assert DateFormatFinder().search("01/05/2023") == "%m/%d/%Y"
    assert recorder.calls[0] == "%Y"
    assert DateFormatFinder.successful_formats == {"01/05/2023": "%m/%d/%Y"}
    assert {"%Y", "%m/%d/%Y"} <= DateFormatFinder.historical_formats


def test_clear_cache_empties_both_class_attributes_only():
    finder = DateFormatFinder()
    finder.search("01/05/2023")
    with pytest.raises(ValueError):
        finder.search("nothing")
    finder.clear_cache()
    assert DateFormatFinder.successful_formats == {} and DateFormatFinder.historical_formats == set()
    assert state_of(finder)["seen_formats"]
    with pytest.raises(TypeError, match=r"^clear_cache\(\) takes no arguments \(1 given\)$"):
        DateFormatFinder.clear_cache(1)


def test_class_caches_are_read_from_the_base_class(monkeypatch):
    mine = {}
    monkeypatch.setattr(DateFormatFinder, "successful_formats", mine)

    class Sub(DateFormatFinder):
        successful_formats = {"ignored": "yes"}

    assert Sub().search("01/05/2023") == "%m/%d/%Y"
    assert mine == {"01/05/2023": "%m/%d/%Y"}
    assert Sub.successful_formats == {"ignored": "yes"}


def test_empty_format_that_parses_counts_as_failure():
    DateFormatFinder.successful_formats[""] = ""
    with pytest.raises(ValueError, match=NO_TIME):
        DateFormatFinder().search("")
    assert "" not in DateFormatFinder.successful_formats
    assert "" in DateFormatFinder.historical_formats


def test_only_value_errors_are_swallowed(monkeypatch):
    class Broken:
        @staticmethod
        def strptime(text, fmt):
            raise KeyError(fmt)

    monkeypatch.setattr(patternseek, "py_datetime", Broken)
    with pytest.raises(KeyError, match="%m/%d/%y"):
        DateFormatFinder().search("01/05/2023")

    class Odd:
        @staticmethod
        def strptime(text, fmt):
            return 42

    monkeypatch.setattr(patternseek, "py_datetime", Odd)
    with pytest.raises(TypeError):
        DateFormatFinder().search("01/05/2023")
    monkeypatch.delattr(patternseek, "py_datetime")
    with pytest.raises(NameError, match="^name 'py_datetime' is not defined$"):
        DateFormatFinder().search("01/05/2023")


def test_value_error_subclass_counts_as_failure(monkeypatch):
    class Refusing:
        @staticmethod
        def strptime(text, fmt):
            raise UnicodeError("a ValueError subclass")

    monkeypatch.setattr(patternseek, "py_datetime", Refusing)
    with pytest.raises(ValueError, match=NO_TIME):
        DateFormatFinder().search("whatever")


@pytest.mark.parametrize("prepare, text", [
    (lambda: None, "\ud800"),                     # stage 3 start
    (lambda: None, "\ud800 10:30"),               # first attempt of stage 2
    (lambda: DateFormatFinder.successful_formats.update({"\ud800": "%Y"}), "\ud800"),  # stage 1
])
def test_unencodable_text(prepare, text):
    prepare()
    with pytest.raises(UnicodeEncodeError):
        DateFormatFinder().search(text)


@pytest.mark.parametrize("call, error, message", [
    (lambda f: f.search(5), TypeError, "Argument 'date_string' has incorrect type (expected str, got int)"),
    (lambda f: f.search(None), TypeError, "cannot pass None into a C function argument that is declared 'not None'"),
    (lambda f: f.search(), TypeError, "search() takes exactly 1 positional argument (0 given)"),
    (lambda f: f.search("a", "b"), TypeError, "search() takes exactly 1 positional argument (2 given)"),
    (lambda f: f.search("a", date_string="b"), TypeError, "search() got multiple values for keyword argument 'date_string'"),
    (lambda f: f.search(text="a"), TypeError, "search() takes exactly 1 positional argument (0 given)"),
    (lambda f: f.search("a", text="b"), TypeError, "search() got an unexpected keyword argument 'text'"),
    (lambda f: DateFormatFinder(5), TypeError, "Expected str, got int"),
    (lambda f: DateFormatFinder("/", "-"), TypeError, "__init__() takes at most 1 positional argument (2 given)"),
    (lambda f: DateFormatFinder(sep="/"), TypeError, "__init__() got an unexpected keyword argument 'sep'"),
    (lambda f: DateFormatFinder(None), TypeError, "replace() argument 1 must be str, not None"),
])
def test_argument_errors(call, error, message):
    finder = DateFormatFinder()
    with pytest.raises(error) as info:
        call(finder)
    assert str(info.value) == message


def test_search_by_keyword():
    assert DateFormatFinder().search(date_string="01/05/2023") == "%m/%d/%Y"


def test_uninitialised_finder():
    bare = DateFormatFinder.__new__(DateFormatFinder)
    assert bare.__reduce__()[1][2] == (None,) * 8
    with pytest.raises(TypeError, match="NoneType"):
        bare.search("01/05/2023")
    with pytest.raises(TypeError, match="NoneType"):
        bare.search("01/05/2023 10:30")


def test_subclass_may_override_search():
    class Sub(DateFormatFinder):
        def search(self, date_string):
            return "sub:" + super().search(date_string)

    assert Sub().search("01/05/2023") == "sub:%m/%d/%Y"


# --- pickling -------------------------------------------------------------

def test_pickle_round_trip_keeps_fields():
    finder = DateFormatFinder("-")
    with pytest.raises(ValueError):
        finder.search("no date")
    before = state_of(finder)
    for clone in (pickle.loads(pickle.dumps(finder)), copy.deepcopy(finder), copy.copy(finder)):
        after = state_of(clone)
        assert type(clone) is DateFormatFinder
        assert isinstance(after["formats"], dFormats)
        assert after["formats"].Dates() == before["formats"].Dates()
        for name in before:
            if name != "formats":
                assert after[name] == before[name], name
        # The failures travel too: the clone tries nothing for a new string.
        with pytest.raises(ValueError, match=NO_TIME):
            clone.search("2023-01-05")


def test_reduce_layout():
    finder = DateFormatFinder()
    restore, args, state = finder.__reduce__()
    assert restore is getattr(patternseek, "__restore_DateFormatFinder")
    assert args == (DateFormatFinder, 0xAFAD1CD, None)
    assert len(state) == 8 and state[2] == "/"


class Keeper(DateFormatFinder):
    pass


def test_subclass_dictionary_travels_as_ninth_item():
    finder = Keeper()
    assert len(finder.__reduce__()[2]) == 8  # empty dictionary: not appended
    finder.note = "kept"
    assert finder.__reduce__()[2][8] == {"note": "kept"}
    clone = pickle.loads(pickle.dumps(finder))
    assert type(clone) is Keeper and clone.note == "kept"
    bare = Keeper.__new__(Keeper)
    bare.x = 1
    assert bare.__reduce__()[1][2] is None
    # a false ninth item is nothing to merge; one whose truth test raises passes the error on
    state = Keeper().__reduce__()[2]
    clone.__setstate__(state + ({},))
    assert clone.note == "kept"

    class Raising:
        def __bool__(self):
            raise LookupError("no truth")
    with pytest.raises(LookupError, match="no truth"):
        clone.__setstate__(state + (Raising(),))


@pytest.mark.parametrize("checksum", [0x552620A, 0xAFAD1CD, 0x917722D])
def test_restore_accepts_known_checksums(checksum):
    restore = getattr(patternseek, "__restore_DateFormatFinder")
    obj = restore(DateFormatFinder, checksum, None)
    assert type(obj) is DateFormatFinder
    assert obj.__reduce__()[1][2] == (None,) * 8


def test_restore_errors():
    restore = getattr(patternseek, "__restore_DateFormatFinder")
    with pytest.raises(pickle.PickleError) as info:
        restore(DateFormatFinder, 0x1234, None)
    assert str(info.value) == (
        "Incompatible checksums (0x1234 vs (0xafad1cd, 0x917722d, 0x552620a) = (date_formats, "
        "formats, old_sep, precomputed_formats, seen_formats, separators, time_formats, "
        "unique_formats))")
    with pytest.raises(TypeError, match=r"^Argument 'state' has incorrect type \(expected tuple, got list\)$"):
        restore(DateFormatFinder, 0xAFAD1CD, [])
    with pytest.raises(TypeError, match="takes exactly 3 positional arguments"):
        restore(DateFormatFinder, 0xAFAD1CD)
    with pytest.raises(TypeError):
        restore(int, 0xAFAD1CD, None)
    with pytest.raises(AttributeError):  # no instance dictionary to merge into
        restore(DateFormatFinder, 0xAFAD1CD, (None,) * 8 + ({"a": 1},))


@pytest.mark.parametrize("state, message", [
    (None, "cannot pass None into a C function argument that is declared 'not None'"),
    ([], "Expected tuple, got list"),
    ((1,) + (None,) * 7, "Expected list, got int"),
    ((None, 1) + (None,) * 6, "Expected dFormats, got int"),
    ((None, None, 1) + (None,) * 5, "Expected str, got int"),
    ((None,) * 4 + ([],) + (None,) * 3, "Expected set, got list"),
    (([], None, "/"), "tuple index out of range"),
])
def test_setstate_type_checks(state, message):
    with pytest.raises((TypeError, IndexError)) as info:
        DateFormatFinder().__setstate__(state)
    assert str(info.value) == message


# --- robustness -----------------------------------------------------------

def test_cycles_through_fields_and_instance_dict_are_collected():
    class Cyclic(DateFormatFinder):
        pass

    finder = Cyclic()
    finder.me = finder                                    # through the instance dictionary
    finder.__setstate__(tuple([[finder]] + [None] * 7))   # through a field
    ref = weakref.ref(finder)
    del finder
    gc.collect()
    assert ref() is None


@pytest.mark.parametrize("meddle", [
    lambda finder: finder.__init__(),                    # fresh lists and seen_formats
    lambda finder: finder.__setstate__((None,) * 8),      # every field None
])
@pytest.mark.parametrize("text", ["no date here", "at 10:30"])
def test_fields_replaced_while_searching(monkeypatch, meddle, text):
    finder = DateFormatFinder()

    class Meddler:
        @staticmethod
        def strptime(date_text, fmt):
            meddle(finder)  # what another thread could do while strptime runs
            raise ValueError(fmt)

    monkeypatch.setattr(patternseek, "py_datetime", Meddler)
    # The search ends with an ordinary exception (a None field cannot be
    # walked or added to), never with a crash.
    with pytest.raises((ValueError, TypeError, AttributeError)):
        finder.search(text)


class Rehashed(str):
    """A format whose hashing runs Python code, so the interpreter may switch threads there."""

    def __hash__(self):
        return str.__hash__(self)


def test_state_replaced_by_another_thread_while_searching():
    """One thread searches (hashing its candidates in seen_formats runs
    Python code); another re-applies the finder's state in a loop, which
    frees the set and the lists the first one is using."""
    finder = DateFormatFinder()
    state = list(state_of(finder).values())
    state[0] = [Rehashed(f) for f in state[0]]
    state[3] = [Rehashed(f) for f in state[3]]
    stop = threading.Event()

    def replace():
        while not stop.is_set():
            finder.__setstate__(tuple(state[:4] + [set()] + state[5:]))
            finder.__setstate__(tuple(state[:3] + [list(state[3]), set()] + state[5:]))

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    other = threading.Thread(target=replace)
    other.start()
    try:
        for _ in range(100):
            with pytest.raises(ValueError):
                finder.search("January 2023")
    finally:
        stop.set()
        other.join()
        sys.setswitchinterval(interval)


class QuickParser:
    """Accepts one format only and refuses the rest at once (keeps the leak test quick)."""

    @staticmethod
    def strptime(text, fmt):
        if fmt == "%m/%d/%Y":
            return datetime.datetime(2023, 1, 5)
        raise ValueError(fmt)


def test_repeated_searches_do_not_leak_references(monkeypatch):
    monkeypatch.setattr(patternseek, "py_datetime", QuickParser)
    text, miss, timed = "01/05/2023", "no date at all", "at 99:99"
    fmt = "%m/%d/%Y"
    finder = DateFormatFinder()

    def run():
        for _ in range(50):
            DateFormatFinder.clear_cache()
            DateFormatFinder().search(text)   # stage 3 hit
            finder.search(text)               # cache hit
            for bad in (miss, timed):
                try:
                    finder.search(bad)
                except ValueError:
                    pass
            try:
                finder.search(5)
            except TypeError:
                pass
            pickle.loads(pickle.dumps(finder))

    run()
    gc.collect()
    before = [sys.getrefcount(o) for o in (text, miss, timed, fmt, finder, DateFormatFinder)]
    blocks = sys.getallocatedblocks()
    run()
    gc.collect()
    after = [sys.getrefcount(o) for o in (text, miss, timed, fmt, finder, DateFormatFinder)]
    assert after == before
    assert sys.getallocatedblocks() - blocks < 200


def test_module_attributes_and_all():
    # A fresh interpreter: other tests rebind attributes, which reorders them.
    code = ("from chronvale.reru.pyd.zududized import patternseek as p;"
            "print([n for n in vars(p) if not n.startswith('__') or n in "
            "('__all__', '__restore_DateFormatFinder')])")
    out = subprocess.run([sys.executable, "-I", "-c", code], capture_output=True, text=True,
                         check=True).stdout
    assert out.strip() == str(["dFormats", "DateFormatFinder", "re", "py_datetime", "anytime",
                               "anytime_regex", "get_time_components", "__all__",
                               "__restore_DateFormatFinder"])
    assert patternseek.__all__ == ["DateFormatFinder"]
    assert DateFormatFinder.__doc__ is None
    assert dFormats.__doc__ == ("\n    Manages a collection of date and time format strings "
                                "supported by the system.\n    ")


# Pieces of times of day: every string of up to four of them, and of up to
# four characters, is judged as the regular expression judges it.
CLOCK_PIECES = ["1", "12", "123", "123456", "1234567", ":", ":0", ":00", ".", ".5", ".123456",
                " ", "\t", "\n", "am", "Pm", "m", "+", "-", "0530", "05:30", "+05", "EST", "Z",
                "z", "ESTX", "\u0131st", "\u212a", "\u0661", "\u0660\u0660", "x", "T"]
CLOCK_CHARS = "0:. aPmM+-zZ\n\u0661x\u017f"


def test_time_test_decides_as_the_pattern():
    """Every string of up to four characters or three pieces, and random
    strings of four to seven pieces."""
    regex = patternseek.anytime_regex
    rng = random.Random(11)
    texts = itertools.chain(
        ("".join(p) for n in range(5) for p in itertools.product(CLOCK_CHARS, repeat=n)),
        ("".join(p) for n in range(1, 4) for p in itertools.product(CLOCK_PIECES, repeat=n)),
        ("".join(rng.choices(CLOCK_PIECES, k=rng.randint(4, 7))) for _ in range(30000)))
    for text in texts:
        assert patternseek.get_time_components(text) == (regex.search(text) is not None), text
