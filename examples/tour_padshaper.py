"""Non-padded strftime directives: rewrite, format and test for leading zeros."""
import datetime

from chronvale.reru.pyd.zududized import PadShaper

when = datetime.datetime(2024, 7, 5, 9, 5)
print(PadShaper.non_padded_to_zero_padded_specifiers("no_leading_zero"))
print(PadShaper.replace_non_padded_with_padded("%-d/%-m/%Y %-H:%M"))
print(PadShaper.date_format_leading_zero(when, "%-d/%-m/%Y"))
print(PadShaper.date_format_leading_zero(when, "%Y-%-m-%dT%H:%M"))
print([PadShaper.has_leading_zero(text) for text in ("05", "00", "0.5", "5")])
