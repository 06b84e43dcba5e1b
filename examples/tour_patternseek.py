"""The format finder: which strptime format parses a date string?"""
from chronvale.reru.pyd.zududized.patternseek import DateFormatFinder, get_time_components

for text in ["12/31/99", "2023-01-05", "January 5, 2023", "01/05/2023 10:30 PM",
             "2023-01-05 10:30:00", "5 January 2023"]:
    print(f"{text!r:24} -> {DateFormatFinder().search(text)!r}"
          f"  (time of day: {get_time_components(text)})")
try:
    DateFormatFinder().search("January 2023")
except ValueError as error:
    print(f"{'January 2023'!r:24} -> ValueError: {error}")
print(f"cached answers: {len(DateFormatFinder.successful_formats)}")
