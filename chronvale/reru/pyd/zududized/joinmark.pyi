"""The ISO 8601 "T" separator probe."""

__all__ = ["isISOT"]

def isISOT(date_string: str) -> bool:
    """Whether the text is an ISO 8601 date-time with a "T" between date and time.

    Both the basic layout ("20240115T123045") and the extended one
    ("2024-01-15T12:30:45") count, with a calendar check of the date. A NUL
    character ends the examined text.
    """
