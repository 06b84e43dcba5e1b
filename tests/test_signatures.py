"""Every public function and method shows its signature (inspect, help()),
the parameter names shown are the ones the function accepts by keyword, and
the docstrings stay as the modules define them (none)."""
import datetime
import inspect
import pickle
import pydoc

import pytest

from chronvale.reru.pyd import Compiled, scrub_text, zonebook
from chronvale.reru.pyd.zududized import PadShaper, joinmark, patternseek, roundtrip, suffixswap

Finder = patternseek.DateFormatFinder

# Each public callable with a valid call, every argument given by keyword
# (so the names in the signature are checked against the parser's names).
CALLS = [
    (patternseek.anytime, {}),
    (patternseek.get_time_components, {"datetime_string": "10:30"}),
    (patternseek.dFormats().Dates, {}),
    (patternseek.dFormats().Times, {}),
    (patternseek.dFormats().Unique, {}),
    (Finder().search, {"date_string": "2023-01-05"}),
    (Finder.clear_cache, {}),
    (zonebook.get_zonebook, {}),
    (Compiled.datetime, {"fmt": "%Y"}),
    (Compiled.compile_regex_patterns, {}),
    (Compiled.get_time_fragment, {"component": "hour"}),
    (Compiled.cRegexps().get_time_fragments, {"component": "hour"}),
    (PadShaper.zero_handling_date_formats, {}),
    (PadShaper.non_padded_to_zero_padded_specifiers, {"ret_format": None}),
    (PadShaper.has_leading_zero, {"input_str": "05"}),
    (PadShaper.date_format_leading_zero,
     {"date": datetime.datetime(2024, 7, 5), "format_string": "%-d"}),
    (PadShaper.replace_non_padded_with_padded, {"input_format": "%-d"}),
    (joinmark.isISOT, {"date_string": "2024-01-15T12:30:45"}),
    (suffixswap.replaceZ, {"datetime_string": "Z"}),
    (scrub_text.scrubtext, {"input_string": " a "}),
    (roundtrip.keeps_text, {"text": "5", "fmt": "%d"}),
]


def pydoc_text(obj):
    return pydoc.plain(pydoc.render_doc(obj))


@pytest.mark.parametrize(("function", "kwargs"), CALLS, ids=lambda v: getattr(v, "__qualname__", ""))
def test_signature_names_the_keyword_parameters(function, kwargs):
    signature = inspect.signature(function)
    assert list(signature.parameters) == list(kwargs)
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD for p in signature.parameters.values())
    function(**kwargs)
    assert function.__doc__ is None
    assert f"{function.__name__}{signature}" in pydoc_text(function)



def test_unbound_methods_and_defaults():
    assert str(inspect.signature(Finder.search)) == "(self, /, date_string)"
    assert str(inspect.signature(Compiled.cRegexps.get_time_fragments)) == "(self, /, component)"
    assert str(inspect.signature(Finder.__setstate__)) == "(self, /, state)"
    assert str(inspect.signature(Finder.__reduce__)) == "(self, /)"
    for cls in (patternseek.dFormats, Compiled.cRegexps):
        assert str(inspect.signature(cls.__setstate__)) == "(self, /, state)"
    assert str(inspect.signature(Compiled.cRegexps.__reduce__)) == "(self, /)"
    restore = getattr(patternseek, "__restore_DateFormatFinder")
    assert str(inspect.signature(restore)) == "(type, checksum, state)"
    default = inspect.signature(PadShaper.non_padded_to_zero_padded_specifiers).parameters
    assert default["ret_format"].default is None


def test_function_type_is_an_ordinary_class():
    # Tools that document a module read type(f).__module__ as a string; the
    # function keeps its own module name.
    function = patternseek.get_time_components
    kind = type(function)
    assert (kind.__module__, kind.__qualname__) == ("chronvale", "function")
    assert function.__module__ == "chronvale.reru.pyd.zududized.patternseek"
    assert function.__text_signature__ == "(datetime_string)"
    # The type itself cannot be found by name, so pickling it is refused.
    with pytest.raises(pickle.PicklingError, match="chronvale.function"):
        pickle.dumps(kind)
    # An assigned docstring replaces the (empty) built-in one until deleted.
    function.__doc__ = "text"
    assert function.__doc__ == "text"
    del function.__doc__
    assert function.__doc__ is None


@pytest.mark.parametrize("protocol", [0, 2, pickle.HIGHEST_PROTOCOL])
def test_functions_and_methods_pickle_by_name(protocol):
    for function in (patternseek.get_time_components, Finder.search, Finder.clear_cache,
                     Compiled.cRegexps.get_time_fragments, Compiled.datetime):
        assert pickle.loads(pickle.dumps(function, protocol)) is function
    assert Finder.clear_cache.__qualname__ == "DateFormatFinder.clear_cache"
