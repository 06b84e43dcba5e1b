"""The three string probes: an ISO 8601 "T" test, the Zulu suffix swap and the scrubber."""
from chronvale.reru.pyd.scrub_text import scrubtext
from chronvale.reru.pyd.zududized.joinmark import isISOT
from chronvale.reru.pyd.zududized.suffixswap import replaceZ

for text in ["20240115T123045Z", "2024-01-15T12:30:45.123+05:30", "2024-01-15 12:30", "2024-02-30T10:00"]:
    print(f"isISOT({text!r}) -> {isISOT(text)}")
for text in ["2024-01-15T12:30:00Z", "2024-01-15T12:30:00+01:00"]:
    print(f"replaceZ({text!r}) -> {replaceZ(text)!r}")
print(f"scrubtext({'  hello \t\n  world  '!r}) -> {scrubtext('  hello \t\n  world  ')!r}")
