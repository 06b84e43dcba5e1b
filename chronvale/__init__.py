"""Native modules for date and time text."""
