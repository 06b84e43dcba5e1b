"""Finds the strptime format of a date string by trial."""

import re
from datetime import datetime
from typing import ClassVar

from typing_extensions import disjoint_base

__all__ = ["DateFormatFinder"]

py_datetime: type[datetime]
anytime_regex: re.Pattern[str]
"""The time-of-day pattern compiled at import; `get_time_components` searches with it."""

@disjoint_base
class dFormats:
    """
    Manages a collection of date and time format strings supported by the system.
    """

    def Dates(self) -> list[str]:
        """A new list of the 19 date formats, in trial order."""

    def Times(self) -> list[str]:
        """A new list of the 33 time-of-day formats, in trial order."""

    def Unique(self) -> list[str]:
        """A new list of the 55 stand-alone formats, in trial order."""

@disjoint_base
class DateFormatFinder:
    """Finds the strptime format of date strings; remembers what failed for it.

    Each finder never tries again a format that failed for it, so use a new
    finder for unrelated strings. Answers are shared by every finder.
    """

    successful_formats: ClassVar[dict[str, str]]
    """Every answer given, by date string; shared by all finders."""
    historical_formats: ClassVar[set[str]]
    """Every format that ever parsed a date string."""

    def __init__(self, old_sep: str = "/") -> None:
        """`old_sep` is the separator of the catalogue's formats that is varied."""

    def search(self, date_string: str) -> str:
        """The first catalogue format with which datetime.strptime parses the string.

        Raises ValueError when none does.
        """

    @staticmethod
    def clear_cache() -> None:
        """Empties `successful_formats` and `historical_formats`."""

    def __reduce__(self) -> tuple[object, ...]: ...
    def __setstate__(self, state: tuple[object, ...]) -> None: ...

def anytime() -> re.Pattern[str]:
    """The time-of-day pattern, compiled with re.IGNORECASE at each call."""

def get_time_components(datetime_string: str) -> bool:
    """Whether the text holds a time of day ("10:30", "9:05 pm EST", "103000")."""
