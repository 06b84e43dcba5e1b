"""A typed program that uses every module; CI runs it and checks it with `mypy --strict`.

It imports most names from the package itself, the rest from their modules.

The calls under TYPE_CHECKING are mistakes the stubs must catch: each carries
the `type: ignore` of the error it must raise, and `mypy --strict` reports an
ignore that is not needed, so a stub that let the mistake through fails.
"""

import datetime
import re
from typing import TYPE_CHECKING

import chronvale
from chronvale import (
    DateFormatFinder,
    FormatSurvey,
    date_format_leading_zero,
    datetime_regex,
    get_time_components,
    get_time_fragment,
    get_zonebook,
    has_leading_zero,
    isISOT,
    keeps_text,
    non_padded_to_zero_padded_specifiers,
    replace_non_padded_with_padded,
    replaceZ,
    scrubtext,
    survey_formats,
)
from chronvale.reru.pyd import Compiled
from chronvale.reru.pyd.zonebook import zonebook_dict


def parse(text: str) -> datetime.datetime:
    """Parses a date or date-time in a format found by trial."""
    text = replaceZ(scrubtext(text))
    if isISOT(text):
        return datetime.datetime.fromisoformat(text)
    fmt: str = DateFormatFinder().search(text)
    return datetime.datetime.strptime(text, fmt)


def zone_offset(abbreviation: str) -> str:
    return get_zonebook()[abbreviation]["offset"]


def hour_of(text: str) -> str | None:
    pattern: re.Pattern[str] | None = get_time_fragment("hour")
    match = pattern.search(text) if pattern is not None else None
    return match.group(1) if match else None


def day_month(when: datetime.datetime) -> str:
    return date_format_leading_zero(when, "%-d/%-m")


def column_format(values: list[str]) -> str | None:
    """The best format of a column's sample that keeps every value it parses."""
    surveys: list[FormatSurvey] = survey_formats(values)
    best = surveys[0] if surveys else None
    return best.format if best is not None and best.lossless else None


def main() -> None:
    when = parse(" 2024-01-15T12:30:00Z ")
    assert when.utcoffset() == datetime.timedelta(0)
    assert parse("01/05/2023 10:30") == datetime.datetime(2023, 1, 5, 10, 30)
    assert get_time_components("at 9:05 EST")
    assert zone_offset("NPT") == "UTC +5:45" and zonebook_dict["IST"]["dst"] == "GMT"
    assert hour_of("12:30:45 PM") == "12"
    assert Compiled.datetime("%Y-%m-%d").fullmatch("2024-1-05") is not None
    assert datetime_regex is Compiled.datetime and chronvale.scrubtext is scrubtext
    assert day_month(datetime.datetime(2024, 7, 5)) == "5/7"
    specifiers: list[str] = non_padded_to_zero_padded_specifiers("no_leading_zero")
    assert "%-d" in specifiers
    assert has_leading_zero("05") is None
    assert replace_non_padded_with_padded("%-d/%-m") == "%d/%m"
    assert keeps_text("1/5/2023", "%m/%d/%Y") and not keeps_text("2023-05", "%Y-%j")
    assert column_format(["13/07/2023", "01/05/2023"]) == "%d/%m/%Y"
    assert column_format(["2023-05"]) is None
    share: float = survey_formats(iter(["2023-01-05"]))[0].parsed
    assert share == 1.0


if TYPE_CHECKING:
    isISOT(20240115)  # type: ignore[arg-type]
    replaceZ(None)  # type: ignore[arg-type]
    scrubtext(b"bytes")  # type: ignore[arg-type]
    DateFormatFinder(old_sep=5)  # type: ignore[arg-type]
    DateFormatFinder().search(date_string=None)  # type: ignore[arg-type]
    get_time_fragment("hour").search("12:30")  # type: ignore[union-attr]
    chronvale.datetime("%Y")  # type: ignore[attr-defined]
    date_format_leading_zero(datetime.date(2024, 7, 5), "%d")  # type: ignore[arg-type]
    get_zonebook()["UTC"]["name"]  # type: ignore[typeddict-item]
    keeps_text("5", fmt=None)  # type: ignore[arg-type]
    survey_formats([5])  # type: ignore[list-item]
    survey_formats(["5"])[0].format = "%d"  # type: ignore[misc]

if __name__ == "__main__":
    main()
    print("typed usage: all checks passed")
