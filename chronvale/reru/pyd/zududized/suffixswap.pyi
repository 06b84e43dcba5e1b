"""The Zulu suffix replacement."""

__all__ = ["replaceZ"]

def replaceZ(datetime_string: str) -> str:
    """The text with a final "Z" (upper case) replaced by "+00:00".

    Nothing else is looked at; a NUL character ends the text. An exact str
    without a final "Z" is returned itself.
    """
