import copy
import datetime
import itertools
import re
import types

import pytest

from chronvale.reru.pyd.zududized import PadShaper as ps

FIELDS = ["day", "month", "year", "hour24", "hour12", "minute", "second"]
BARE = ["%-d", "%-m", "%-y", "%-H", "%-I", "%-M", "%-S"]
PADDED = ["%d", "%m", "%y", "%H", "%I", "%M", "%S"]
DT = datetime.datetime
DATES = [DT(2024, 1, 7, 9, 0, 5), DT(2000, 10, 30, 0, 10, 0), DT(2005, 5, 5, 20, 5, 50)]


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


def words(alphabet, longest):
    """Every string of at most `longest` items of `alphabet`, joined."""
    return ["".join(w) for n in range(longest + 1) for w in itertools.product(alphabet, repeat=n)]


def outcome(call, *args):
    try:
        return call(*args)
    except Exception as error:
        return type(error), str(error)


# -- tables -------------------------------------------------------------------

def test_tables_hold_the_pairs_in_table_order():
    table = ps.zero_handling_date_formats()
    assert list(table) == FIELDS
    for field, bare, padded in zip(FIELDS, BARE, PADDED):
        entry = table[field]
        assert list(entry) == ["no_leading_zero", "zero_padded"]
        assert [list(side) for side in entry.values()] == [["format", "description"]] * 2
        assert (entry["no_leading_zero"]["format"], entry["zero_padded"]["format"]) == (bare, padded)
        assert all(type(side["description"]) is str for side in entry.values())
    assert table["day"]["zero_padded"]["description"] == (
        "Day of the month as a zero-padded decimal number (01 to 31)")
    assert table["second"]["no_leading_zero"]["description"] == (
        "Second as a decimal number without leading zero (0 to 59)")
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
    def __init__(self, on): self.on = on
    def __eq__(self, other):
        if other == self.on:
            raise ArithmeticError("no comparison")
        return False


@pytest.mark.parametrize("selector, expected", [
    ("no_leading_zero", BARE), (type("S", (str,), {})("no_leading_zero"), BARE),
    (Loose("leading_zero"), PADDED), ("leading_zero", PADDED),
    ("zero_padded", "map"), (None, "map"), (7, "map"), ("", "map"), ((), "map"),
])
def test_specifier_selector_uses_equality(selector, expected):
    result = ps.non_padded_to_zero_padded_specifiers(ret_format=selector)
    if expected == "map":
        assert result is ps.non_padded_to_zero_padded_specifiers()
    else:
        assert type(result) is list and result == expected
    for on in ("no_leading_zero", "leading_zero"):
        with pytest.raises(ArithmeticError):
            ps.non_padded_to_zero_padded_specifiers(Broken(on))


def test_caller_changes_reach_every_function(tables):
    table, mapping = tables
    mapping["%-j"] = "%j"
    assert ps.non_padded_to_zero_padded_specifiers("no_leading_zero")[-1] == "%-j"
    assert ps.non_padded_to_zero_padded_specifiers("leading_zero")[-1] == "%j"
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
    (lambda t: t["day"].pop("no_leading_zero"), KeyError, "'no_leading_zero'"),
    (lambda t: t["day"].pop("zero_padded"), KeyError, "'zero_padded'"),
    (lambda t: t["day"]["no_leading_zero"].__setitem__("format", 5), TypeError, "Expected str, got int"),
    (lambda t: t["day"]["zero_padded"].__setitem__("format", 5), TypeError, "Expected str, got int"),
    (lambda t: t["day"]["zero_padded"].__setitem__("format", None), TypeError, "must be str, not None"),
])
def test_damaged_table_fails_the_rewrite(tables, change, error, text):
    change(tables[0])
    with pytest.raises(error, match=re.escape(text)):
        ps.replace_non_padded_with_padded("%-d")


class Stamp(DT):
    def strftime(self, fmt):
        return {"%d": "07 x", "%Y": None, "%m": 3}.get(fmt, fmt)


# -- rewriting and formatting, against plain Python --------------------------------

def rewrite_model(fmt):
    for bare, padded in zip(BARE, PADDED):
        fmt = fmt.replace(bare, padded)
    return fmt


def format_model(date, fmt):
    if not any(bare in fmt for bare in BARE):
        return date.strftime(fmt)
    text = date.strftime(rewrite_model(fmt))
    for bare in BARE:
        if bare in fmt:
            text = re.sub(r"\b0(?=\d)", "", text)
    return text


def test_every_short_format_is_rewritten_as_the_model_does():
    for fmt, expected in [("%-d/%-m/%Y", "%d/%m/%Y"), ("%-I:%-M:%-S %p", "%I:%M:%S %p"),
                          ("%Y-%m-%d", "%Y-%m-%d"), ("", ""), ("%-j", "%-j"), ("%%-y", "%%y")]:
        assert ps.replace_non_padded_with_padded(fmt) == rewrite_model(fmt) == expected
    formats = words("%-dmHIS y", 4)
    assert [f for f in formats if ps.replace_non_padded_with_padded(f) != rewrite_model(f)] == []
    assert [f for f in formats if ps.replace_non_padded_with_padded(input_format=f) != rewrite_model(f)] == []


FORMAT_PIECES = ["%-d", "%d", "%-m", "%-H", "%M", "%-S", "%j", "%%", "%-", "0", "T", "é", " "]


def test_every_short_format_formats_as_the_model_does():
    formats = words(FORMAT_PIECES, 3) + words("%-dy0", 4)
    wrong = [(date, f) for date in DATES for f in formats
             if outcome(ps.date_format_leading_zero, date, f) != outcome(format_model, date, f)]
    assert wrong == []


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
    # a subclass's own strftime is used, and a None it gives comes back as it is
    (Stamp(2024, 1, 7), "%-d", "7 x"), (Stamp(2024, 1, 7), "%Y", None), (Stamp(2024, 1, 7), "%H", "%H"),
])
def test_date_format_leading_zero(when, fmt, expected):
    date = when if isinstance(when, DT) else DT(*when)
    assert ps.date_format_leading_zero(date=date, format_string=fmt) == expected


# -- has_leading_zero ----------------------------------------------------------

@pytest.mark.parametrize("value, expected", [
    *[(v, True) for v in ["00", "00.5", "0.5", "0.0", "-0.5", "-0.", "-00", 0.05, "0-"]],
    *[(v, False) for v in ["5", "-5", "1.5", "0.", ".05", "5.", 5, "٠.", "²"]],
    *[(v, None) for v in ["05", "-05", "12", "05.5", "007", "100", "0", "-0", 0, "",
                          "abc", " 05", "1.2.3", "--5", "1e-05", "-", ".", "0\x00"]],
])
def test_has_leading_zero(value, expected):
    assert ps.has_leading_zero(input_str=value) is expected


def leading_zero_model(text):
    if not text.replace("-", "", 1).replace(".", "", 1).isdigit() or text in ("0", "-0"):
        return None
    integer_part = text.split(".")[0].strip("-")
    if len(integer_part) > 2 or (len(integer_part) == 2 and integer_part != "00"):
        return None
    if text[0] == "-" and text[1] == "0" or text[0] == "0" and text[1] != ".":
        return True
    return text.startswith("0.") and text != "0."


def test_every_short_text_is_classified_as_the_model_does():
    texts = words("0-.5٠²x", 5)
    assert [t for t in texts if ps.has_leading_zero(t) is not leading_zero_model(t)] == []


def test_non_text_is_classified_by_its_str():
    class Text:
        def __init__(self, text): self.text = text
        def __str__(self): return self.text

    assert [ps.has_leading_zero(v) for v in (Text("00"), -0.5, 0.0, 100)] == [True, True, True, None]
    with pytest.raises(ArithmeticError):
        ps.has_leading_zero(type("Bad", (), {"__str__": lambda self: 1 / 0})())


# -- arguments and failures ----------------------------------------------------

class Pairs(dict):
    """A padding map whose items() yields what it was given."""
    def __init__(self, items):
        super().__init__()
        self.given = items

    def items(self): return self.given


class Failing:
    def __iter__(self): return self
    def __next__(self): raise ArithmeticError("iteration failed")


@pytest.mark.parametrize("call, error, text", [
    (lambda: ps.zero_handling_date_formats(1), TypeError,
     "zero_handling_date_formats() takes no arguments (1 given)"),
    (lambda: ps.zero_handling_date_formats(x=1), TypeError,
     "zero_handling_date_formats() takes no keyword arguments"),
    (lambda: ps.non_padded_to_zero_padded_specifiers("no_leading_zero", 1), TypeError,
     "non_padded_to_zero_padded_specifiers() takes at most 1 positional argument (2 given)"),
    (lambda: ps.non_padded_to_zero_padded_specifiers(x=1), TypeError,
     "non_padded_to_zero_padded_specifiers() got an unexpected keyword argument 'x'"),
    (lambda: ps.non_padded_to_zero_padded_specifiers(1, ret_format=1), TypeError,
     "non_padded_to_zero_padded_specifiers() got multiple values for keyword argument 'ret_format'"),
    (lambda: ps.has_leading_zero(), TypeError,
     "has_leading_zero() takes exactly 1 positional argument (0 given)"),
    (lambda: ps.has_leading_zero("1", x=1), TypeError,
     "has_leading_zero() got an unexpected keyword argument 'x'"),
    (lambda: ps.replace_non_padded_with_padded(b"%-d"), TypeError,
     "Argument 'input_format' has incorrect type (expected str, got bytes)"),
    (lambda: ps.replace_non_padded_with_padded(None), AttributeError,
     "'NoneType' object has no attribute 'replace'"),
    (lambda: ps.replace_non_padded_with_padded("a", "b"), TypeError,
     "replace_non_padded_with_padded() takes exactly 1 positional argument (2 given)"),
    (lambda: ps.date_format_leading_zero(DT(2024, 1, 7)), TypeError,
     "date_format_leading_zero() takes exactly 2 positional arguments (1 given)"),
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
    assert ps.__all__ == ["zero_handling_date_formats", "non_padded_to_zero_padded_specifiers",
                          "has_leading_zero", "date_format_leading_zero",
                          "replace_non_padded_with_padded"]
    for name in ps.__all__:
        function = getattr(ps, name)
        assert function.__doc__ is None
        assert function.__module__ == "chronvale.reru.pyd.zududized.PadShaper"
    assert ps.re is re and ps.__doc__ is None


# -- names read from the module namespace --------------------------------------

def test_rebinding_re_changes_the_strip(monkeypatch):
    calls = []
    fake = types.SimpleNamespace(sub=lambda *a: calls.append(a) or "stripped")
    monkeypatch.setattr(ps, "re", fake)
    assert ps.date_format_leading_zero(DT(2024, 1, 7), "%-d %-m") == "stripped"
    assert calls == [(r"\b0(?=\d)", "", "07 01"), (r"\b0(?=\d)", "", "stripped")]
    fake.sub = lambda *a: 5
    with pytest.raises(TypeError, match="^Expected str, got int$"):
        ps.date_format_leading_zero(DT(2024, 1, 7), "%-d")
    monkeypatch.setattr(ps, "re", None)
    with pytest.raises(AttributeError, match="'NoneType' object has no attribute 'sub'"):
        ps.date_format_leading_zero(DT(2024, 1, 7), "%-d")
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
    # no listed directive in the format: the map is not asked for, nothing is replaced
    assert ps.date_format_leading_zero(DT(2024, 1, 7), "%d") == "07"
    assert calls == ["no_leading_zero", None, "no_leading_zero", "no_leading_zero"]
    monkeypatch.delattr(ps, "non_padded_to_zero_padded_specifiers")
    with pytest.raises(NameError, match="name 'non_padded_to_zero_padded_specifiers'"):
        ps.date_format_leading_zero(DT(2024, 1, 7), "%d")


@pytest.mark.parametrize("listed, pairs, error, text", [
    (5, {}, TypeError, "'int' object is not iterable"),
    (Failing(), {}, ArithmeticError, "iteration failed"),
    (["%Y", 5], {}, TypeError, "Expected str, got int"),  # the 5 is reached by the strip only
    (["%Y"], Pairs(5), TypeError, "'int' object is not iterable"),
    (["%Y"], Pairs(Failing()), ArithmeticError, "iteration failed"),
    (["%Y"], Pairs([5]), TypeError, "cannot unpack non-iterable int object"),
    (["%Y"], Pairs([("%Y",)]), ValueError, "not enough values to unpack (expected 2, got 1)"),
    (["%Y"], Pairs([()]), ValueError, "not enough values to unpack (expected 2, got 0)"),
    (["%Y"], Pairs([("%Y", "%m", "%d")]), ValueError, "too many values to unpack (expected 2)"),
    (["%Y"], Pairs([Failing()]), ArithmeticError, "iteration failed"),
    (["%Y"], Pairs([(5, "%m")]), TypeError, "Expected str, got int"),
    (["%Y"], Pairs([("%Y", None)]), TypeError, "replace() argument 2 must be str, not None"),
    (["%Y"], None, AttributeError, "'NoneType' object has no attribute 'items'"),
])
def test_what_the_specifier_function_returns_is_checked(monkeypatch, listed, pairs, error, text):
    def specifiers(ret_format=None):
        return listed if ret_format else pairs

    monkeypatch.setattr(ps, "non_padded_to_zero_padded_specifiers", specifiers)
    with pytest.raises(error) as info:
        ps.date_format_leading_zero(DT(2024, 1, 7), "%Y")
    assert str(info.value) == text
