"""Which format fits a column of date strings, and which answers would change its values.

``survey_formats(sample)`` asks the format finder about every distinct value
of a sample and checks each format it answers against every value with
``keeps_text``: how many values the format parses, and whether formatting
each parsed value back gives its text again. A format that parses a value
into something else (a "PM" it ignores, a day of the year read from a
month) is reported with an example instead of being hidden.
"""

from collections.abc import Iterable
from dataclasses import dataclass

from .reru.pyd.zududized.patternseek import DateFormatFinder
from .reru.pyd.zududized.roundtrip import _tally

__all__ = ["FormatSurvey", "survey_formats"]


@dataclass(frozen=True, slots=True)
class FormatSurvey:
    """One format the finder answered for a sample of values."""

    format: str
    """The format, as the finder answered it."""
    found: int
    """How many sampled values the finder answered with this format."""
    parsed: float
    """The share of the sampled values that the format parses."""
    kept: float
    """The share of the sampled values that it parses and keeps (see ``keeps_text``)."""
    lossy_example: str | None
    """A sampled value that the format parses into something else, or None."""

    @property
    def lossless(self) -> bool:
        """Whether every value the format parses keeps its text."""
        return self.lossy_example is None


def survey_formats(values: Iterable[str]) -> list[FormatSurvey]:
    """The formats the finder answers for a sample of a column's values, best first.

    Each distinct value is searched by a new ``DateFormatFinder`` (so every
    value gets the answer it gets alone, whatever the order of the sample;
    the answers go to the finder's shared cache as usual). Every format
    found is then checked against every value. Formats that keep every
    value they parse come first, then the lossy ones, each group by the
    share of values parsed, then by how often the finder answered it.
    Shares count every sampled value, repeats and values without any
    format included. An empty sample gives an empty list.

    Raises TypeError for a value that is not a str, and for a lone str
    (whose characters would otherwise be taken for the values).
    """
    if isinstance(values, str):
        raise TypeError("survey_formats() takes an iterable of str, not a str")
    rows = values if type(values) is list else list(values)
    total = len(rows)
    # (sorted is stable: formats that rank alike stay in the order first found)
    return [FormatSurvey(fmt, found, parsed / total, kept / total, example)
            for fmt, found, parsed, kept, example in sorted(_tally(rows, DateFormatFinder),
                                                            key=_rank)]


def _rank(row: tuple[str, int, int, int, str | None]) -> tuple[bool, int, int]:
    """Formats that keep every value they parse first, then by values parsed, then by answers."""
    return row[4] is not None, -row[2], -row[1]
