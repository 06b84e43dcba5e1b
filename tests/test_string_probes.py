"""The argument handling the three string probes share: one parameter, by
position or by keyword, declared `str` (isISOT, replaceZ) or untyped
(scrubtext, which calls the argument's own encode), read as the UTF-8 text
of an exact str. Every call is made both ways, so that the usual call (one
exact str by position, which skips the argument parser) and the parsed one
are held against each other."""
import importlib
import subprocess
import sys

import pytest

from chronvale.reru.pyd import scrub_text
from chronvale.reru.pyd.zududized import joinmark, suffixswap

Sub = type("Sub", (str,), {})


def probes():
    yield pytest.param(joinmark.isISOT, "date_string", True, id="isISOT")
    yield pytest.param(suffixswap.replaceZ, "datetime_string", True, id="replaceZ")
    yield pytest.param(scrub_text.scrubtext, "input_string", False, id="scrubtext")
    try:
        twin = importlib.import_module("scrub_text_portable").scrubtext
    except ImportError:
        yield pytest.param(None, "", False, id="portable", marks=pytest.mark.skip("twin not built"))
    else:
        yield pytest.param(twin, "input_string", False, id="portable")


PROBES = list(probes())


def outcome(function, *args, **kwargs):
    """The type and value of the result, or the type and text of the error."""
    try:
        result = function(*args, **kwargs)
    except Exception as error:
        return type(error), str(error)
    return type(result), result


@pytest.mark.parametrize("function, param, typed", PROBES)
def test_one_argument_by_position_or_keyword(function, param, typed):
    name = function.__name__
    exactly = f"{name}() takes exactly 1 positional argument"
    wrong_type = f"Argument '{param}' has incorrect type (expected str, got %s)"
    no_encode = "'%s' object has no attribute 'encode'"
    calls = [
        ((), {}, (TypeError, f"{exactly} (0 given)")),
        (("a", "b"), {}, (TypeError, f"{exactly} (2 given)")),
        (("a",), {"text": "b"}, (TypeError, f"{name}() got an unexpected keyword argument 'text'")),
        (("a",), {param: "b"}, (TypeError, f"{name}() got multiple values for keyword argument '{param}'")),
    ]
    for value, expected in [
        (None, (AttributeError, no_encode % "NoneType")),
        (b"a", (TypeError, wrong_type % "bytes") if typed else (AttributeError, no_encode % "bytes")),
        (5, (TypeError, wrong_type % "int") if typed else (AttributeError, no_encode % "int")),
        # a str subclass is refused where the parameter is typed, else encodes itself
        (Sub(" Z"), (TypeError, wrong_type % "Sub") if typed else outcome(function, " Z")),
        ("é Z\0\udfff", (UnicodeEncodeError, "'utf-8' codec can't encode character '\\udfff' in "
                                             "position 4: surrogates not allowed")),
    ]:
        calls += [((value,), {}, expected), ((), {param: value}, expected)]
    for args, kwargs, expected in calls:
        assert outcome(function, *args, **kwargs) == expected, (args, kwargs)


@pytest.mark.parametrize("function, param, typed", PROBES)
def test_exact_str_read_whole_then_cut_at_a_nul(function, param, typed):
    # ASCII strings are read in place, others through their UTF-8 form; both ways of calling
    # give the same answer, and the same as the text before the NUL gives.
    for text in ["", "Z", "a  Z", "é  Z", "😀 Z", "2024-01-15T12:30", "2024-01-15T12:30é",
                 "2024-01-15T12:30\0x", "Z\0a", " a\0 b"]:
        expected = outcome(function, text.split("\0")[0])
        assert outcome(function, text) == expected, text
        assert outcome(function, **{param: text}) == expected, text


FAILED_ALLOCATIONS = """
import _testcapi
from chronvale.reru.pyd import scrub_text
from chronvale.reru.pyd.zududized import joinmark, suffixswap
long = "é" * 200 + "  x\\t" * 100
texts = ["a\\0b", "é\\0b", "12:00Z", "é 12:00Z", long + "Z", "  a  b  " * 40, "é  b", long,
         "2024-01-15T12:30é", "2024-01-15T12:30\\0é"]
for function in (joinmark.isISOT, suffixswap.replaceZ, scrub_text.scrubtext):
    for text in texts:
        expected = function(text)
        for n in range(6):
            text = (text + ".")[:-1]  # a new str, its UTF-8 form not made yet
            _testcapi.set_nomemory(n, n + 1)
            try:
                result = function(text)
            except MemoryError:
                result = MemoryError
            finally:
                _testcapi.remove_mem_hooks()
            assert result == expected or result is MemoryError, (function, text, n)
print("ok")
"""


def test_a_failed_allocation_raises_memory_error():
    # Each of the first allocations a call makes fails in turn, in a fresh interpreter: the
    # call raises MemoryError or, where that allocation was not its own, answers as usual.
    pytest.importorskip("_testcapi")
    result = subprocess.run([sys.executable, "-I", "-c", FAILED_ALLOCATIONS],
                            capture_output=True, text=True, timeout=60)
    assert (result.returncode, result.stderr, result.stdout) == (0, "", "ok\n")
