"""A built-in table of 216 time zone abbreviations."""

from typing import TypedDict, type_check_only

__all__ = ["zonebook_dict"]

@type_check_only
class ZoneInfo(TypedDict):
    """One zone of the table, keyed by its abbreviation in the outer dictionary."""

    full_name: str
    region: str
    offset: str
    type: str
    dst: str

zonebook_dict: dict[str, ZoneInfo]
"""The table as built at import (shared: changes to it are seen by every user)."""

def get_zonebook() -> dict[str, ZoneInfo]:
    """A new dictionary of the whole table, keys in table order.

    Each value holds "full_name", "region", "offset" ("UTC +5:45"), "type"
    ("Standard" or "Daylight") and "dst" (the counterpart zone, or the text
    "None"). Every call builds new dictionaries.
    """
