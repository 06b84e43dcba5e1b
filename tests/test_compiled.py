import copy
import ctypes
import hashlib
import importlib
import itertools
import json
import os
import pickle
import re
import string
import sys
import types

import pytest

from chronvale.reru.pyd import Compiled, zonebook
from chronvale.reru.pyd.zududized import patternseek

ATTRIBUTES = [
    ("second_regex", "datetime_second"), ("minute_regex", "datetime_minute"),
    ("hour_regex", "datetime_hour"), ("microsecond_regex", "datetime_microsecond"),
    ("timezone_regex", "datetime_timezone"), ("timezone_offset_regex", "timezone_offset"),
    ("iana_timezone_identifier_regex", "iana_timezone_identifier"),
    ("timemeridiem_regex", "timemeridiem"), ("time_only_regex", "timeonly"),
    ("anytime_regex", "anytime"), ("timeboundary_regex", "establish_time_boundary"),
    ("timezone_abbreviation_regex", "timezone_abbreviation"),
    ("full_timezone_name_regex", "full_timezone_name"), ("timeplus_regex", "timeplus"),
]

FRAGMENTS = [("second", "second_regex"), ("minute", "minute_regex"), ("hour", "hour_regex"),
             ("microsecond", "microsecond_regex"), ("tzinfo", "timezone_regex")]

PUBLIC = ["datetime_regex", "timemeridiem_regex", "anytime_regex", "timezone_regex",
          "timeboundary_regex", "second_regex", "minute_regex", "hour_regex", "microsecond_regex",
          "get_time_fragment", "time_only_regex", "timeplus_regex",
          "iana_timezone_identifier_regex", "timezone_offset_regex",
          "timezone_abbreviation_regex", "full_timezone_name_regex"]

TEXT = "12:30:45.123 PM +05:30"


def digest(value):
    return hashlib.sha256(json.dumps(value).encode()).hexdigest()


# -- the catalogue -----------------------------------------------------------

def test_pattern_sources_and_flags():
    zones = zonebook.zonebook_dict
    abbreviations = r"\b(" + "|".join(zones) + r")\b"
    names = r"\b(" + "|".join(row["full_name"] for row in zones.values()) + r")\b"
    sources = list(Compiled.regex_patterns.items())
    # The twelve fixed sources, keys and texts in order, pinned by a digest of the list.
    assert digest(sources[:12]) == "db54213543e8ef1001a66529aabd78653a99c634357e6192a16ef1ae686ff759"
    assert sources[12:] == [("timezone_abbreviation", abbreviations), ("full_timezone_name", names)]
    assert Compiled.timezone_abbrv == list(zones)
    assert Compiled.full_names == [row["full_name"] for row in zones.values()]
    assert (Compiled.timezone_abbrv_pattern, Compiled.full_names_pattern) == (abbreviations, names)
    assert list(Compiled.compiled_patterns) == [key for key, _ in sources]
    for key, source in sources:
        pattern = Compiled.compiled_patterns[key]
        assert pattern.pattern == source and pattern.flags & re.IGNORECASE
    for attribute, key in ATTRIBUTES:
        assert getattr(Compiled, attribute) is Compiled.compiled_patterns[key], attribute
    fresh = Compiled.compile_regex_patterns()
    assert fresh is not Compiled.compiled_patterns
    assert [(k, p.pattern, p.flags) for k, p in fresh.items()] == [
        (k, p.pattern, p.flags) for k, p in Compiled.compiled_patterns.items()]
    assert Compiled.hour_regex is Compiled.compiled_patterns["datetime_hour"]


@pytest.mark.parametrize("key, text, found, groups", [
    ("timemeridiem", TEXT, " PM ", ("PM",)),
    ("timeonly", TEXT, "12:30:45.123", ("12", "30", "45", "123")),
    ("timezone_offset", TEXT, "12:30", ()),
    ("anytime", TEXT, TEXT, ("12:30:45",)),
    ("timeplus", TEXT, TEXT, ("12:30:45",)),
    ("establish_time_boundary", TEXT, TEXT, (TEXT,)),
    ("datetime_second", TEXT, "12:30:45.123", ("45",)),
    ("datetime_minute", TEXT, "12:30:45.123", ("30", ":45.123")),
    ("datetime_hour", TEXT, "12:30:45.123", ("12", "30", ":45.123")),
    ("datetime_microsecond", TEXT, "12:30:45.123", ("123",)),
    ("datetime_timezone", TEXT, "PM", (None,)),
    ("iana_timezone_identifier", TEXT, None, None),
    ("iana_timezone_identifier", "in Europe/Paris now", "Europe/Paris", ()),
    ("anytime", "Meeting at 9:05am EST", "9:05am EST", ("9:05",)),
    ("anytime", "153045.5 UTC", "153045.5 UTC", ("153045",)),
    ("anytime", "1230", None, None),
    ("datetime_timezone", "T12:30:45Z", "30:45Z", (":45",)),
    ("timezone_abbreviation", "take a walk", "a", ("a",)),
    ("full_timezone_name", "9am pacific standard time", "pacific standard time",
     ("pacific standard time",)),
])
def test_search_results(key, text, found, groups):
    match = Compiled.compiled_patterns[key].search(text)
    assert (match and match.group(0), match and match.groups()) == (found, groups)


def test_time_of_day_pattern_is_the_finders():
    ours, finders = Compiled.anytime_regex, patternseek.anytime_regex
    assert len(ours.pattern) == 125
    assert (ours.pattern, ours.flags) == (finders.pattern, finders.flags)


class Items:
    """A mapping-like object whose items() gives what it was given."""
    def __init__(self, items): self.given = items
    def items(self): return self.given() if callable(self.given) else self.given


class Failing:
    def __iter__(self): return self
    def __next__(self): raise ArithmeticError("iteration failed")


@pytest.mark.parametrize("sources", [
    {"x": "a+", "y": "b"},
    types.MappingProxyType({"x": "a+", "y": "b"}),
    Items([("x", "a+"), ["y", "b"]]),
    Items(iter([("x", "a+"), ("y", "b")])),
])
def test_compile_regex_patterns_reads_regex_patterns_at_call_time(monkeypatch, sources):
    before = Compiled.compiled_patterns
    monkeypatch.setattr(Compiled, "regex_patterns", sources)
    assert Compiled.compile_regex_patterns() == {"x": re.compile("a+", re.I), "y": re.compile("b", re.I)}
    assert Compiled.compiled_patterns is before


def test_module_re_is_looked_up_at_each_use(monkeypatch):
    calls = []
    fake = types.SimpleNamespace(IGNORECASE="flag", compile=lambda *args: calls.append(args) or "P")
    monkeypatch.setattr(Compiled, "regex_patterns", {"k": "src"})
    monkeypatch.setattr(Compiled, "re", fake)
    assert Compiled.compile_regex_patterns() == {"k": "P"}
    assert Compiled.datetime("%Y") == "P"
    assert calls == [("src", "flag"), (r"^(?P<year>\d{4})$",)]


def test_source_dictionary_growing_while_compiled(monkeypatch):
    sources = {"a": "x", "b": "y"}

    def compile(source, flags):
        sources["c"] = "z"
        return source

    monkeypatch.setattr(Compiled, "regex_patterns", sources)
    monkeypatch.setattr(Compiled, "re", types.SimpleNamespace(IGNORECASE=0, compile=compile))
    with pytest.raises(RuntimeError, match="^dictionary changed size during iteration$"):
        Compiled.compile_regex_patterns()


@pytest.mark.parametrize("value, error, message", [
    (None, AttributeError, "'NoneType' object has no attribute 'items'"),
    ({"bad": "("}, re.error, None),
    (types.MappingProxyType({"bad": "("}), re.error, None),
    ("deleted", NameError, "name 'regex_patterns' is not defined"),
    (Items(5), TypeError, "'int' object is not iterable"),
    (Items(Failing()), ArithmeticError, "iteration failed"),
    (Items(lambda: 1 / 0), ZeroDivisionError, "division by zero"),
    (Items([5]), TypeError, "'int' object is not iterable"),
    (Items([("x", "a"), ("y",)]), ValueError, "not enough values to unpack (expected 2, got 1)"),
    (Items([("x", "a", "b")]), ValueError, "too many values to unpack (expected 2)"),
    # the third item tells that there are too many; no more is taken
    (Items([itertools.count()]), ValueError, "too many values to unpack (expected 2)"),
    (Items([itertools.chain("xab", Failing())]), ValueError, "too many values to unpack (expected 2)"),
    (Items([Failing()]), ArithmeticError, "iteration failed"),
])
def test_compile_regex_patterns_failures(monkeypatch, value, error, message):
    if value == "deleted":
        monkeypatch.delattr(Compiled, "regex_patterns")
    else:
        monkeypatch.setattr(Compiled, "regex_patterns", value)
    with pytest.raises(error) as info:
        Compiled.compile_regex_patterns()
    assert message is None or str(info.value) == message


# -- the format translator ---------------------------------------------------

def test_directive_table():
    # What every "%x" and "%-x" becomes, for every ASCII letter: the 29 directives of the
    # table and their fragments, pinned by a digest of the table; any other letter stays as
    # it is.
    table = {}
    for directive in ("%" + c for c in string.ascii_letters):
        for d in (directive, directive.replace("%", "%-")):
            fragment = Compiled.datetime(d).pattern[1:-1]
            if fragment != d:
                table[d] = fragment
    assert len(table) == 29
    assert digest(table) == "75adc2ab4099eb5a0af19374e3e8681fda0a385bab8ce158c89157db141f6e43"


@pytest.mark.parametrize("fmt, text, groups", [
    ("%Y-%m-%d", "2024-1-05", {"year": "2024", "month": "1", "day": "05"}),
    ("%d/%m/%Y %I:%M %p", "05/01/2024 09:30 PM",
     {"day": "05", "month": "01", "year": "2024", "hour12": "09", "minute": "30", "am_pm": "PM"}),
    ("%d/%m/%Y %I:%M %p", "05/01/2024 09:30 pm", None),
    ("%Y.%m", "2024x01", {"year": "2024", "month": "01"}),
    ("%a %H:%M:%S.%f %z", "Mon 23:59:07.5 +05:30",
     {"weekday": "Mon", "hour24": "23", "minute": "59", "second": "07", "microsecond": "5",
      "timezone": "+05:30"}),
    ("%y%j %u%U", "24366 752", {"year": "24", "day": "366"}),
    ("%Y-%m-%d", "2024-01-05 ", None),
])
def test_translated_patterns_match(fmt, text, groups):
    match = Compiled.datetime(fmt).match(text)
    assert (match and match.groupdict()) == groups


@pytest.mark.parametrize("fmt, pattern", [
    ("%Y-%m-%d", r"^(?P<year>\d{4})-(?P<month>\d{1,2})-(?P<day>\d{1,2})$"),
    ("%G-%V", r"^%G-\d{1,2}$"),
    ("%%d", r"^%(?P<day>\d{1,2})$"),
    ("%u%u %q", r"^\d\d \d$"),
    ("", "^$"),
    ("x" * 300 + "é", "^" + "x" * 300 + "é$"),
])
def test_translated_pattern_text(fmt, pattern):
    compiled = Compiled.datetime(fmt=fmt)
    assert compiled.pattern == pattern and not compiled.flags & re.IGNORECASE


@pytest.mark.parametrize("fmt, error, message", [
    ("%d %j", re.error, None),
    ("(%Y", re.error, None),
    (None, AttributeError, "'NoneType' object has no attribute 'replace'"),
    (5, TypeError, "Argument 'fmt' has incorrect type (expected str, got int)"),
    (type("S", (str,), {})("%d"), TypeError, "Argument 'fmt' has incorrect type (expected str, got S)"),
])
def test_translator_errors(fmt, error, message):
    with pytest.raises(error) as info:
        Compiled.datetime(fmt)
    assert message is None or str(info.value) == message


# -- cRegexps ----------------------------------------------------------------

def test_fragments_are_the_catalogue_patterns():
    # (so what they find is what test_search_results shows for those patterns)
    for component, attribute in FRAGMENTS:
        assert Compiled.get_time_fragment(component) is getattr(Compiled, attribute)
        assert Compiled.cRegexps().get_time_fragments(component=component) is getattr(Compiled, attribute)
    for component in ("timezone", "datetime_hour", "", None, "HOUR", TEXT):
        assert Compiled.get_time_fragment(component) is None


def test_instances_take_the_attributes_bound_when_created(monkeypatch):
    original = Compiled.hour_regex
    monkeypatch.setattr(Compiled, "compiled_patterns", {})  # read at initialisation only
    earlier = Compiled.cRegexps(1, 2, key="x")
    assert earlier.get_time_fragments("hour") is original
    replacement = re.compile("x")
    monkeypatch.setattr(Compiled, "hour_regex", replacement)
    assert Compiled.cRegexps().get_time_fragments("hour") is replacement
    assert earlier.get_time_fragments("hour") is original
    assert Compiled.get_time_fragment("hour") is original


@pytest.mark.parametrize("make", [Compiled.cRegexps, type("Sub", (Compiled.cRegexps,), {})])
def test_creation_needs_every_fragment_attribute(monkeypatch, make):
    monkeypatch.delattr(Compiled, "timezone_regex")
    with pytest.raises(NameError, match="^name 'timezone_regex' is not defined$"):
        make()


def test_subclasses_are_filled_before_init_and_may_override():
    seen = []

    class Sub(Compiled.cRegexps):
        def __init__(self, *args, **kwargs):
            seen.append(self.get_time_fragments("hour"))

    class Override(Compiled.cRegexps):
        def get_time_fragments(self, component):
            return component.upper()

    instance = Sub(1, key=2)
    assert seen == [Compiled.hour_regex]
    instance.extra = 1
    assert Override().get_time_fragments("hour") == "HOUR"


def test_instances_have_no_dictionary_and_refuse_pickling():
    instance = Compiled.cRegexps()
    assert (type(instance).__module__, type(instance).__qualname__, type(instance).__doc__) == (
        "chronvale.reru.pyd.Compiled", "cRegexps", None)
    with pytest.raises(AttributeError):
        instance.anything = 1
    for attempt in (pickle.dumps, copy.copy, lambda obj: obj.__reduce__(),
                    lambda obj: obj.__setstate__(None)):
        with pytest.raises(TypeError, match="^no default __reduce__ due to non-trivial __cinit__$"):
            attempt(instance)


def test_cleared_instance_fails_like_none():
    get_slot = ctypes.pythonapi.PyType_GetSlot
    get_slot.restype, get_slot.argtypes = ctypes.c_void_p, [ctypes.py_object, ctypes.c_int]
    py_tp_clear = 51
    clear = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.py_object)(get_slot(Compiled.cRegexps, py_tp_clear))
    instance = Compiled.cRegexps()
    assert clear(instance) == 0
    with pytest.raises(AttributeError, match="^'NoneType' object has no attribute 'get'$"):
        instance.get_time_fragments("hour")


# -- arguments and the module ----------------------------------------------------

@pytest.mark.parametrize("call, message", [
    (lambda: Compiled.get_time_fragment(5),
     "Argument 'component' has incorrect type (expected str, got int)"),
    (lambda: Compiled.get_time_fragment(),
     "get_time_fragments() takes exactly 1 positional argument (0 given)"),
    (lambda: Compiled.get_time_fragment("hour", "x"),
     "get_time_fragments() takes exactly 1 positional argument (2 given)"),
    (lambda: Compiled.get_time_fragment("hour", component="x"),
     "get_time_fragments() got multiple values for keyword argument 'component'"),
    (lambda: Compiled.datetime(), "datetime() takes exactly 1 positional argument (0 given)"),
    (lambda: Compiled.datetime("%Y", fmt="%Y"),
     "datetime() got multiple values for keyword argument 'fmt'"),
    (lambda: Compiled.datetime("%Y", form="%Y"),
     "datetime() got an unexpected keyword argument 'form'"),
    (lambda: Compiled.compile_regex_patterns(1), "compile_regex_patterns() takes no arguments (1 given)"),
    (lambda: Compiled.compile_regex_patterns(x=1), "compile_regex_patterns() takes no keyword arguments"),
])
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_module_namespace():
    assert Compiled.__all__ == PUBLIC
    assert all(hasattr(Compiled, name) for name in PUBLIC)
    assert Compiled.datetime_regex is Compiled.datetime
    assert Compiled.zonebook_dict is zonebook.zonebook_dict
    assert (Compiled.re, Compiled.os, Compiled.sys) == (re, os, sys)
    for private in ("directive_patterns", "get_pattern", "default_regexps"):
        assert not hasattr(Compiled, private)
    for fn in (Compiled.datetime, Compiled.compile_regex_patterns):
        assert fn.__module__ == "chronvale.reru.pyd.Compiled" and fn.__doc__ is None


def test_reimport_is_refused_and_leaves_the_module_alone(monkeypatch):
    monkeypatch.delitem(sys.modules, Compiled.__name__)
    with pytest.raises(RuntimeError, match="^Module 'Compiled' has already been imported. "
                                           "Re-initialisation is not supported.$"):
        importlib.import_module(Compiled.__name__)
    assert Compiled.get_time_fragment("hour") is Compiled.hour_regex
