"""The zone table and the pattern catalogue built from it."""
from chronvale.reru.pyd import Compiled, zonebook

zones = zonebook.get_zonebook()
print(len(zones), "zones, first", next(iter(zones)), "- EST:", zones["EST"])
print("IDT ->", zones["IDT"]["dst"], "->", zones["IST"]["dst"], "->", zones["GMT"]["dst"])

text = "Meeting at 9:05am EST"
print(repr(text), "-> anytime", repr(Compiled.anytime_regex.search(text).group(0)),
      "| zone", repr(Compiled.timezone_abbreviation_regex.search(text).group(1)))

pattern = Compiled.datetime("%d/%m/%Y %I:%M %p")
print(pattern.pattern)
print(pattern.match("05/01/2024 09:30 PM").groupdict())

hour = Compiled.get_time_fragment("hour")
print("hour fragment on '12:30:45.123 PM':", hour.search("12:30:45.123 PM").groups())
