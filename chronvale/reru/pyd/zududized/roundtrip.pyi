"""Whether a format keeps what a date text says."""

__all__ = ["keeps_text"]

def keeps_text(text: str, fmt: str) -> bool:
    """Whether the value datetime.strptime(text, fmt) reads gives the text again.

    The value is formatted back with `fmt`, directive by directive, and each
    field compared with the text it was read from. Differences that do not
    change the value are allowed: a number with or without its padding
    zeros ("5" or "05"; a day also as " 5"), digits of other scripts, the
    trailing zeros of %f, the letter case of names and literal text, any
    run of white space where the format has white space, and any way of
    writing the same %z offset ("+05:30", "+0530", "Z" for UTC).
    Anything else changes the value: '10:30 PM' with '%H:%M %p' is False
    (strptime ignores %p beside %H), and so is '2023-05' with '%Y-%j'
    (January 5th). A zone name read by %Z without a %z offset is dropped by
    strptime, so such a text is never kept.

    Raises strptime's own exception (ValueError) when the format does not
    parse the text. The strptime in force is the one followed: where it has
    been replaced, its values are compared (and TypeError is raised for one
    that is no datetime).
    """

def _tally(
    values: list[str], finder_class: type[object]
) -> list[tuple[str, int, int, int, str | None]]:
    """The tally under chronvale.survey.survey_formats: for each format a new
    finder answers for a distinct value, in the order first found: the
    format, how many values it was found for, how many it parses, how many
    it keeps, and the first value it parses without keeping (or None)."""
