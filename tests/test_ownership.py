"""The modules keep what their native code uses: deleting a class from its
module (the module's reference) must not free it under the native code."""
import subprocess
import sys

import pytest

FINDER_AFTER_DELETE = """
import gc
from chronvale.reru.pyd.zududized import patternseek
finder_class = patternseek.DateFormatFinder
restore = getattr(patternseek, "__restore_DateFormatFinder")
del patternseek.dFormats
gc.collect()
others = [type(f"C{i}", (), {}) for i in range(200)]
print(finder_class().search("01/05/2023"))
del patternseek.DateFormatFinder, finder_class
gc.collect()
others += [type(f"D{i}", (), {}) for i in range(200)]
try:
    restore(object, 0xAFAD1CD, None)
except TypeError as error:
    print(type(error).__name__)
"""

CREGEXPS_AFTER_DELETE = """
import gc
from chronvale.reru.pyd import Compiled
fragment = Compiled.get_time_fragment
del Compiled.cRegexps, Compiled.get_time_fragment
gc.collect()
others = [type(f"C{i}", (), {}) for i in range(200)]
print(fragment("hour").pattern == Compiled.hour_regex.pattern)
"""


@pytest.mark.parametrize("script, expected", [
    (FINDER_AFTER_DELETE, "%m/%d/%Y\nTypeError"),
    (CREGEXPS_AFTER_DELETE, "True"),
])
def test_classes_outlive_their_module_attributes(script, expected):
    out = subprocess.run([sys.executable, "-P", "-s", "-c", script], capture_output=True,
                         text=True, check=True)
    assert out.stdout.strip() == expected
