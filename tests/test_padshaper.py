import copy
import datetime
import re
import types

import pytest
from hypothesis import given, settings, strategies as st

from chronvale.reru.pyd.zududized import PadShaper as ps

FIELDS = ["day", "month", "year", "hour24", "hour12", "minute", "second"]
BARE = ["%-d", "%-m", "%-y", "%-H", "%-I", "%-M", "%-S"]
PADDED = ["%d", "%m", "%y", "%H", "%I", "%M", "%S"]
DT = datetime.datetime


@pytest.fixture
def tables():
    """The shared tables; whatever a test changes in them is undone afterwards."""
    table = ps.zero_handling_date_formats()
    mapping = ps.non_padded_to_zero_padded_specifiers()
    saved = copy.deepcopy(table), dict(mapping)
    yield table, mapping
    table.clear()
    table.update(saved[0])
    mapping.clear()
    mapping.update(saved[1])


# -- tables -------------------------------------------------------------------

def test_tables_hold_the_pairs_in_table_order():
    table = ps.zero_handling_date_formats()
    assert list(table) == FIELDS
    for field, bare, padded in zip(FIELDS, BARE, PADDED):
        entry = table[field]
        assert list(entry) == ["no_leading_zero", "zero_padded"]
        assert [list(side) for side in entry.values()] == [["format", "description"]] * 2
        assert (entry["no_leading_zero"]["format"], entry["zero_padded"]["format"]) == (bare, padded)
    assert table["day"]["zero_padded"]["description"] == (
        "Day of the month as a zero-padded decimal number (01 to 31)")
    assert ps.non_padded_to_zero_padded_specifiers() == dict(zip(BARE, PADDED))
    assert ps.zero_handling_date_formats() is table
    first = ps.non_padded_to_zero_padded_specifiers("no_leading_zero")
    first.append("x")
    assert ps.non_padded_to_zero_padded_specifiers("no_leading_zero") == BARE
    assert not hasattr(ps, "zero_handling_table") and not hasattr(ps, "padding_map")


class Loose:
    def __init__(self, text): self.text = text
    def __eq__(self, other): return other == self.text


class Broken:
    def __eq__(self, other): raise ArithmeticError("no comparison")


@pytest.mark.parametrize("selector, expected", [
    ("no_leading_zero", BARE), (type("S", (str,), {})("no_leading_zero"), BARE),
    (Loose("leading_zero"), PADDED), ("leading_zero", PADDED),
    ("zero_padded", "map"), (None, "map"), (7, "map"), ("", "map"),
])
def test_specifier_selector_uses_equality(selector, expected):
    result = ps.non_padded_to_zero_padded_specifiers(ret_format=selector)
    if expected == "map":
        assert result is ps.non_padded_to_zero_padded_specifiers()
    else:
        assert type(result) is list and result == expected
    with pytest.raises(ArithmeticError):
        ps.non_padded_to_zero_padded_specifiers(Broken())


def test_caller_changes_reach_every_function(tables):
    table, mapping = tables
    mapping["%-j"] = "%j"
    assert ps.non_padded_to_zero_padded_specifiers("no_leading_zero")[-1] == "%-j"
    assert ps.date_format_leading_zero(DT(2024, 1, 17), "%-j") == "17"
    # the rewrite reads the other table only
    assert ps.replace_non_padded_with_padded("%-j") == "%-j"
    table["doy"] = {"no_leading_zero": {"format": "%-j"}, "zero_padded": {"format": "%j"}}
    assert ps.replace_non_padded_with_padded("%-j/%-d") == "%j/%d"
    mapping["%-d"] = 3
    with pytest.raises(TypeError, match="Expected str, got int"):
        ps.date_format_leading_zero(DT(2024, 1, 7), "%-d")


@pytest.mark.parametrize("change, error, text", [
    (lambda t: t.__setitem__(1, t["day"]), TypeError, "Expected str, got int"),
    (lambda t: t["day"]["zero_padded"].pop("format"), KeyError, "'format'"),
    (lambda t: t["day"]["zero_padded"].__setitem__("format", 5), TypeError, "Expected str, got int"),
    (lambda t: t["day"]["zero_padded"].__setitem__("format", None), TypeError, "must be str, not None"),
])
def test_damaged_table_fails_the_rewrite(tables, change, error, text):
    change(tables[0])
    with pytest.raises(error, match=re.escape(text)):
        ps.replace_non_padded_with_padded("%-d")


# -- formatting ----------------------------------------------------------------

@pytest.mark.parametrize("when, fmt, expected", [
    ((2024, 7, 5), "%-d/%-m/%Y", "5/7/2024"),
    ((2024, 7, 5), "%d/%m/%Y", "05/07/2024"),
    ((2024, 7, 5, 9, 5), "%d/%m/%Y %-H:%M", "5/7/2024 9:5"),
    ((2024, 7, 5, 9, 5), "%Y-%-m-%dT%H:%M", "2024-7-5T09:5"),
    ((2024, 1, 7, 9, 0), "%-H%M", "900"),
    ((2024, 1, 7), "%-d %j", "7 07"),
    ((2024, 1, 7), "%-d %-m %j", "7 1 7"),
    ((2024, 1, 7), "%-d/%-d %j", "7/7 07"),
    ((2024, 1, 7), "%%-d", "%d"),
    ((2024, 1, 7), "", ""),
    ((2024, 1, 7, 3), "%-I %p é0%-S", "3 AM é000"),
])
def test_date_format_leading_zero(when, fmt, expected):
    assert ps.date_format_leading_zero(DT(*when), fmt) == expected


@pytest.mark.parametrize("fmt, expected", [
    ("%-d/%-m/%Y", "%d/%m/%Y"), ("%-I:%-M:%-S %p", "%I:%M:%S %p"),
    ("%Y-%m-%d", "%Y-%m-%d"), ("", ""), ("%-j", "%-j"), ("%%-y", "%%y"),
])
def test_replace_non_padded_with_padded(fmt, expected):
    assert ps.replace_non_padded_with_padded(input_format=fmt) == expected


class Stamp(DT):
    def strftime(self, fmt):
        return {"%d": "07 x", "%Y": None, "%m": 3}.get(fmt, fmt)


@pytest.mark.parametrize("fmt, expected", [("%-d", "7 x"), ("%Y", None), ("%H", "%H")])
def test_subclass_strftime_is_used(fmt, expected):
    assert ps.date_format_leading_zero(Stamp(2024, 1, 7), fmt) == expected


# -- has_leading_zero ----------------------------------------------------------

@pytest.mark.parametrize("value, expected", [
    *[(v, True) for v in ["00", "00.5", "0.5", "0.0", "-0.5", "-0.", "-00", 0.05, "0-"]],
    *[(v, False) for v in ["5", "-5", "1.5", "0.", ".05", "5.", 5, "٠.", "²"]],
    *[(v, None) for v in ["05", "-05", "12", "05.5", "007", "100", "0", "-0", 0, "",
                          "abc", " 05", "1.2.3", "--5", "1e-05", "-", ".", "0\x00"]],
])
def test_has_leading_zero(value, expected):
    assert ps.has_leading_zero(input_str=value) is expected


def reference_has_leading_zero(text):
    if not text.replace("-", "", 1).replace(".", "", 1).isdigit() or text in ("0", "-0"):
        return None
    integer_part = text.split(".")[0].strip("-")
    if len(integer_part) > 2 or (len(integer_part) == 2 and integer_part != "00"):
        return None
    if text[0] == "-" and text[1] == "0" or text[0] == "0" and text[1] != ".":
        return True
    return text.startswith("0.") and text != "0."


@settings(max_examples=300)
@given(st.text(alphabet="0-.5٠²", max_size=6))
def test_has_leading_zero_matches_its_definition(text):
    assert ps.has_leading_zero(text) is reference_has_leading_zero(text)


# -- arguments and failures ----------------------------------------------------

@pytest.mark.parametrize("call, error, text", [
    (lambda: ps.zero_handling_date_formats(1), TypeError,
     "zero_handling_date_formats() takes no arguments (1 given)"),
    (lambda: ps.zero_handling_date_formats(x=1), TypeError,
     "zero_handling_date_formats() takes no keyword arguments"),
    (lambda: ps.non_padded_to_zero_padded_specifiers("no_leading_zero", 1), TypeError,
     "non_padded_to_zero_padded_specifiers() takes at most 1 positional argument (2 given)"),
    (lambda: ps.replace_non_padded_with_padded(b"%-d"), TypeError,
     "Argument 'input_format' has incorrect type (expected str, got bytes)"),
    (lambda: ps.replace_non_padded_with_padded(None), AttributeError,
     "'NoneType' object has no attribute 'replace'"),
    (lambda: ps.date_format_leading_zero(datetime.date(2024, 1, 7), 5), TypeError,
     "Argument 'date' has incorrect type (expected datetime.datetime, got datetime.date)"),
    (lambda: ps.date_format_leading_zero(DT(2024, 1, 7), type("S", (str,), {})("%d")), TypeError,
     "Argument 'format_string' has incorrect type (expected str, got S)"),
    (lambda: ps.date_format_leading_zero(DT(2024, 1, 7), None), TypeError,
     "argument of type 'NoneType' is not iterable"),
    (lambda: ps.date_format_leading_zero(None, "%d"), AttributeError,
     "'NoneType' object has no attribute 'strftime'"),
    (lambda: ps.date_format_leading_zero(Stamp(2024, 1, 7), "%-m"), TypeError,
     "Expected str, got int"),
    (lambda: ps.date_format_leading_zero(DT(2024, 1, 7), "%-d\ud800"), UnicodeEncodeError, None),
])
def test_argument_and_failure_errors(call, error, text):
    with pytest.raises(error) as info:
        call()
    assert text is None or str(info.value) == text


def test_functions_look_plain():
    for name in ps.__all__:
        function = getattr(ps, name)
        assert function.__doc__ is None
        assert function.__module__ == "chronvale.reru.pyd.zududized.PadShaper"
    assert ps.re is re


# -- names read from the module namespace --------------------------------------

def test_rebinding_re_changes_the_strip(monkeypatch):
    calls = []
    fake = types.SimpleNamespace(sub=lambda *a: calls.append(a) or "stripped")
    monkeypatch.setattr(ps, "re", fake)
    assert ps.date_format_leading_zero(DT(2024, 1, 7), "%-d %-m") == "stripped"
    assert calls == [(r"\b0(?=\d)", "", "07 01"), (r"\b0(?=\d)", "", "stripped")]
    monkeypatch.delattr(ps, "re")
    with pytest.raises(NameError, match="name 're' is not defined"):
        ps.date_format_leading_zero(DT(2024, 1, 7), "%-d")
    assert ps.date_format_leading_zero(DT(2024, 1, 7), "%d") == "07"


def test_rebinding_the_specifier_function(monkeypatch):
    calls = []

    def specifiers(ret_format=None):
        calls.append(ret_format)
        return ["%Y"] if ret_format else {"%Y": "%Y-%m"}

    monkeypatch.setattr(ps, "non_padded_to_zero_padded_specifiers", specifiers)
    assert ps.date_format_leading_zero(DT(2024, 1, 7), "%Y") == "2024-1"
    assert calls == ["no_leading_zero", None, "no_leading_zero"]
    monkeypatch.delattr(ps, "non_padded_to_zero_padded_specifiers")
    with pytest.raises(NameError, match="name 'non_padded_to_zero_padded_specifiers'"):
        ps.date_format_leading_zero(DT(2024, 1, 7), "%d")

