"""White-space scrubbing."""

__all__ = ["scrubtext"]

def scrubtext(input_string: str) -> str:
    """The text without leading or trailing white space, each inner run of it one space.

    White space is the six ASCII white-space bytes; a NUL character ends the
    text. An exact str that needs no change is returned itself.
    """
