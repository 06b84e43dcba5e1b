"""Padded ("%d") and non-padded ("%-d") strftime directives."""

from datetime import datetime
from typing import Literal, overload

__all__ = [
    "zero_handling_date_formats",
    "non_padded_to_zero_padded_specifiers",
    "has_leading_zero",
    "date_format_leading_zero",
    "replace_non_padded_with_padded",
]

def zero_handling_date_formats() -> dict[str, dict[str, dict[str, str]]]:
    """The shared table of the seven directive pairs, by field ("day", "month", ...).

    Each field maps "no_leading_zero" and "zero_padded" to a dictionary with
    "format" and "description". The same object at every call: changes to it
    are seen by every function of the module.
    """

@overload
def non_padded_to_zero_padded_specifiers(
    ret_format: Literal["no_leading_zero", "leading_zero"],
) -> list[str]: ...
@overload
def non_padded_to_zero_padded_specifiers(ret_format: None = None) -> dict[str, str]: ...
@overload
def non_padded_to_zero_padded_specifiers(ret_format: object) -> list[str] | dict[str, str]:
    """The shared map from non-padded to padded directive ("%-d" to "%d").

    With "no_leading_zero", a new list of its keys; with "leading_zero", a
    new list of its values; with anything else, the map itself.
    """

def has_leading_zero(input_str: object) -> bool | None:
    """Whether the number in str(input_str) is written with a padding zero.

    True for "00", "0.5" and "-0.5"; False for "5" and "0."; None for texts
    that are not numeric, for "0", and when the integer part has two
    characters other than "00" ("05") or more than two ("007").
    """

def date_format_leading_zero(date: datetime, format_string: str) -> str:
    """date.strftime(format_string), where non-padded directives ("%-d") are allowed.

    They are formatted padded and a leading zero is then taken from every
    run of digits at a word start, so '%Y-%-m-%dT%H:%M' gives '2024-7-5T09:5'.
    """

def replace_non_padded_with_padded(input_format: str) -> str:
    """The format with each non-padded directive ("%-d") replaced by its padded twin ("%d")."""
