"""Native modules for date and time text.

The public functions and classes of the modules can be imported from here,
``from chronvale import DateFormatFinder``: each name is the very object of
the module that defines it. That module is imported on first use of one of
its names, so ``import chronvale`` alone loads none of the native modules.
"""

from .reru.pyd.Compiled import compile_regex_patterns, cRegexps, datetime_regex, get_time_fragment
from .reru.pyd.scrub_text import scrubtext
from .reru.pyd.zonebook import get_zonebook
from .reru.pyd.zududized.joinmark import isISOT
from .reru.pyd.zududized.PadShaper import (
    date_format_leading_zero,
    has_leading_zero,
    non_padded_to_zero_padded_specifiers,
    replace_non_padded_with_padded,
    zero_handling_date_formats,
)
from .reru.pyd.zududized.patternseek import (
    DateFormatFinder,
    anytime,
    dFormats,
    get_time_components,
)
from .reru.pyd.zududized.roundtrip import keeps_text
from .reru.pyd.zududized.suffixswap import replaceZ
from .survey import FormatSurvey, survey_formats

__version__: str

__all__ = [
    "DateFormatFinder",
    "dFormats",
    "anytime",
    "get_time_components",
    "get_zonebook",
    "datetime_regex",
    "compile_regex_patterns",
    "cRegexps",
    "get_time_fragment",
    "zero_handling_date_formats",
    "non_padded_to_zero_padded_specifiers",
    "has_leading_zero",
    "date_format_leading_zero",
    "replace_non_padded_with_padded",
    "isISOT",
    "replaceZ",
    "scrubtext",
    "keeps_text",
    "survey_formats",
    "FormatSurvey",
]
