"""Native modules for date and time text."""

__version__ = "0.1.0"
