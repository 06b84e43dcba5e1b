"""A typed program that uses every module; CI runs it and checks it with `mypy --strict`.

The calls under TYPE_CHECKING are mistakes the stubs must catch: each carries
the `type: ignore` of the error it must raise, and `mypy --strict` reports an
ignore that is not needed, so a stub that let the mistake through fails.
"""

import datetime
import re
from typing import TYPE_CHECKING

from chronvale.reru.pyd import Compiled
from chronvale.reru.pyd.scrub_text import scrubtext
from chronvale.reru.pyd.zonebook import get_zonebook, zonebook_dict
from chronvale.reru.pyd.zududized import PadShaper
from chronvale.reru.pyd.zududized.joinmark import isISOT
from chronvale.reru.pyd.zududized.patternseek import DateFormatFinder, get_time_components
from chronvale.reru.pyd.zududized.suffixswap import replaceZ


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
    pattern: re.Pattern[str] | None = Compiled.get_time_fragment("hour")
    match = pattern.search(text) if pattern is not None else None
    return match.group(1) if match else None


def day_month(when: datetime.datetime) -> str:
    return PadShaper.date_format_leading_zero(when, "%-d/%-m")


def main() -> None:
    when = parse(" 2024-01-15T12:30:00Z ")
    assert when.utcoffset() == datetime.timedelta(0)
    assert parse("01/05/2023 10:30") == datetime.datetime(2023, 1, 5, 10, 30)
    assert get_time_components("at 9:05 EST")
    assert zone_offset("NPT") == "UTC +5:45" and zonebook_dict["IST"]["dst"] == "GMT"
    assert hour_of("12:30:45 PM") == "12"
    assert Compiled.datetime("%Y-%m-%d").fullmatch("2024-1-05") is not None
    assert day_month(datetime.datetime(2024, 7, 5)) == "5/7"
    specifiers: list[str] = PadShaper.non_padded_to_zero_padded_specifiers("no_leading_zero")
    assert "%-d" in specifiers
    assert PadShaper.has_leading_zero("05") is None
    assert PadShaper.replace_non_padded_with_padded("%-d/%-m") == "%d/%m"


if TYPE_CHECKING:
    isISOT(20240115)  # type: ignore[arg-type]
    replaceZ(None)  # type: ignore[arg-type]
    scrubtext(b"bytes")  # type: ignore[arg-type]
    DateFormatFinder(old_sep=5)  # type: ignore[arg-type]
    DateFormatFinder().search(date_string=None)  # type: ignore[arg-type]
    Compiled.get_time_fragment("hour").search("12:30")  # type: ignore[union-attr]
    PadShaper.date_format_leading_zero(datetime.date(2024, 7, 5), "%d")  # type: ignore[arg-type]
    get_zonebook()["UTC"]["name"]  # type: ignore[typeddict-item]

if __name__ == "__main__":
    main()
    print("typed usage: all checks passed")
