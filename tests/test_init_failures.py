"""A module initialises once per process, so each case runs in a fresh interpreter: one thing a
module needs while it initialises is broken, the module is imported, and the import must fail
with that error, cleanly: a second import then reports that the body already ran, and the
interpreter exits normally."""
import subprocess
import sys

import pytest

PYD = "chronvale.reru.pyd."
SEEK, PAD, COMPILED, ZONEBOOK = (PYD + "zududized.patternseek", PYD + "zududized.PadShaper",
                                 PYD + "Compiled", PYD + "zonebook")

RUN = """
import importlib, sys
load = importlib.import_module
{setup}
for name in sys.argv[1:]:
    for attempt in (load, importlib.import_module):
        try:
            module = attempt(name)
            print("imported", check(module) if "check" in globals() else "")
            break
        except BaseException as error:
            print(f"{{type(error).__name__}}: {{error}}")
"""

# The n-th allocation made by a module's body fails, and only that one (allocations 0 and 1
# come before the body); what the body imports is imported beforehand, so that the count
# covers the module's own work.
OUT_OF_MEMORY = """
import _imp, importlib.util, _testcapi, datetime, re
def load(name):
    spec = importlib.util.find_spec(name)
    module = importlib.util.module_from_spec(spec)
    _testcapi.set_nomemory(NTH[name], NTH[name] + 1)
    try:
        _imp.exec_dynamic(module)
    finally:
        _testcapi.remove_mem_hooks()
"""


def out_of_memory(nth, setup=""):
    modules = list(nth)
    return (f"NTH = {nth!r}\n{setup}" + OUT_OF_MEMORY, modules, fails("MemoryError: ", *modules))


def again(module):
    short = module.rsplit(".", 1)[1]
    return f"RuntimeError: Module '{short}' has already been imported. Re-initialisation is not supported."


def fails(error, *modules):
    return [line for module in modules for line in (error, again(module))]


STUB_DATETIME = "import types\nsys.modules['datetime'] = types.ModuleType('datetime')\n"
ZONES = "from chronvale.reru.pyd import zonebook\n"

CASES = [
    ("sys.modules['re'] = None", [SEEK, PAD, COMPILED],
     fails("ModuleNotFoundError: import of re halted; None in sys.modules", SEEK, PAD, COMPILED)),
    ("sys.modules['datetime'] = None", [SEEK, PAD],
     fails('ImportError: PyCapsule_Import could not import module "datetime"', SEEK)
     + fails("ModuleNotFoundError: import of datetime halted; None in sys.modules", PAD)),
    (STUB_DATETIME, [SEEK, PAD],
     fails("AttributeError: module 'datetime' has no attribute 'datetime_CAPI'", SEEK)
     + fails("AttributeError: module 'datetime' has no attribute 'datetime'", PAD)),
    (STUB_DATETIME + "sys.modules['datetime'].datetime = 5", [PAD],
     fails("TypeError: datetime.datetime is not a class (got int)", PAD)),
    ("import re\ndef compile(*args):\n    raise re.error('sabotaged')\nre.compile = compile",
     [SEEK, COMPILED], fails("error: sabotaged", SEEK, COMPILED)),
    ("import re\ndel re.IGNORECASE", [COMPILED],
     fails("AttributeError: module 're' has no attribute 'IGNORECASE'", COMPILED)),
    ("sys.modules['os'] = None", [COMPILED],
     fails("ModuleNotFoundError: import of os halted; None in sys.modules", COMPILED)),
    ("sys.modules['sys'] = None", [COMPILED],
     fails("ModuleNotFoundError: import of sys halted; None in sys.modules", COMPILED)),
    (f"sys.modules['{ZONEBOOK}'] = None", [COMPILED],
     fails(f"ModuleNotFoundError: import of {ZONEBOOK} halted; None in sys.modules", COMPILED)),
    (ZONES + "del zonebook.zonebook_dict", [COMPILED],
     fails("ImportError: cannot import name zonebook_dict", COMPILED)),
    (f"class Zones:\n    @property\n    def zonebook_dict(self):\n        raise LookupError('busy')\n"
     f"sys.modules['{ZONEBOOK}'] = Zones()", [COMPILED], fails("LookupError: busy", COMPILED)),
    (ZONES + "zonebook.zonebook_dict = {'A': {'full_name': 'x'}, 'B': {}}", [COMPILED],
     fails("KeyError: 'full_name'", COMPILED)),
    (ZONES + "zonebook.zonebook_dict = {'A': {'full_name': 'x'}, 'B': 5}", [COMPILED],
     fails("TypeError: 'int' object is not subscriptable", COMPILED)),
    out_of_memory({ZONEBOOK: 2, PAD: 7}),
    out_of_memory({ZONEBOOK: 500, PAD: 20}),
    out_of_memory({COMPILED: 8, PAD: 140}, ZONES),
    out_of_memory({COMPILED: 9, PAD: 150}, ZONES),
    out_of_memory({COMPILED: 50}, ZONES),
    # initialisations that succeed: Compiled imports the zone table itself, or takes whatever
    # mapping the table module holds
    ("def check(m):\n    return m.zonebook_dict is sys.modules['" + ZONEBOOK + "'].zonebook_dict",
     [COMPILED], ["imported True"]),
    (ZONES + "import types\nzonebook.zonebook_dict = types.MappingProxyType("
     "{'QQ': {'full_name': 'Q Time'}, 'RR': {'full_name': 'R Time'}})\n"
     "def check(m):\n    return (m.timezone_abbrv, m.full_names, m.timezone_abbreviation_regex.pattern,"
     " m.full_timezone_name_regex.pattern)", [COMPILED],
     ["imported (['QQ', 'RR'], ['Q Time', 'R Time'], '\\\\b(QQ|RR)\\\\b', '\\\\b(Q Time|R Time)\\\\b')"]),
]


@pytest.mark.parametrize("setup, modules, expected", CASES)
def test_import_fails_cleanly(setup, modules, expected):
    if "_testcapi" in setup:  # not in every build of the interpreter
        pytest.importorskip("_testcapi")
    result = subprocess.run([sys.executable, "-I", "-c", RUN.format(setup=setup), *modules],
                            capture_output=True, text=True, timeout=60)
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout.splitlines() == expected
