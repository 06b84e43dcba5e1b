"""A catalogue of precompiled patterns for the pieces of a time of day."""

import re
from typing import Self

from typing_extensions import disjoint_base

from .zonebook import ZoneInfo

__all__ = [
    "datetime_regex",
    "timemeridiem_regex",
    "anytime_regex",
    "timezone_regex",
    "timeboundary_regex",
    "second_regex",
    "minute_regex",
    "hour_regex",
    "microsecond_regex",
    "get_time_fragment",
    "time_only_regex",
    "timeplus_regex",
    "iana_timezone_identifier_regex",
    "timezone_offset_regex",
    "timezone_abbreviation_regex",
    "full_timezone_name_regex",
]

zonebook_dict: dict[str, ZoneInfo]
timezone_abbrv: list[str]
timezone_abbrv_pattern: str
full_names: list[str]
full_names_pattern: str
regex_patterns: dict[str, str]
"""The fourteen pattern sources by key; `compile_regex_patterns` compiles what it holds."""
compiled_patterns: dict[str, re.Pattern[str]]
"""The fourteen patterns compiled at import (re.IGNORECASE), by key."""

second_regex: re.Pattern[str]
minute_regex: re.Pattern[str]
hour_regex: re.Pattern[str]
microsecond_regex: re.Pattern[str]
timezone_regex: re.Pattern[str]
timezone_offset_regex: re.Pattern[str]
iana_timezone_identifier_regex: re.Pattern[str]
timemeridiem_regex: re.Pattern[str]
time_only_regex: re.Pattern[str]
anytime_regex: re.Pattern[str]
timeboundary_regex: re.Pattern[str]
timezone_abbreviation_regex: re.Pattern[str]
full_timezone_name_regex: re.Pattern[str]
timeplus_regex: re.Pattern[str]

def datetime(fmt: str) -> re.Pattern[str]:
    """An anchored pattern for a strftime-style format, with a named group per directive.

    datetime("%Y-%m-%d").pattern is
    '^(?P<year>\\d{4})-(?P<month>\\d{1,2})-(?P<day>\\d{1,2})$'. Compiled
    afresh at each call, without flags.
    """

def datetime_regex(fmt: str) -> re.Pattern[str]:
    """The same function as `datetime`."""

def compile_regex_patterns() -> dict[str, re.Pattern[str]]:
    """A new dictionary of every source in `regex_patterns`, compiled with re.IGNORECASE."""

@disjoint_base
class cRegexps:
    """Hands out the hour, minute, second, microsecond and zone patterns by name."""

    def __new__(cls, *args: object, **kwargs: object) -> Self:
        """Arguments are accepted and ignored."""

    def get_time_fragments(self, component: str) -> re.Pattern[str] | None:
        """The pattern for "second", "minute", "hour", "microsecond" or "tzinfo", else None.

        The patterns are those bound to the module's attributes when the
        instance was made.
        """

def get_time_fragment(component: str) -> re.Pattern[str] | None:
    """`cRegexps.get_time_fragments` of the module's own instance, made at import."""
