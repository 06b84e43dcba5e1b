"""A module initialises once per process, so each case runs in a fresh interpreter: one thing a
module needs while it initialises is broken, the module is imported, and the import must fail
with that error, cleanly: the body stops where it failed (the names it bound by then are
listed), a second import reports that the body already ran, and the interpreter exits
normally."""
import ast
import functools
import subprocess
import sys

import pytest

PYD = "chronvale.reru.pyd."
SEEK, PAD, COMPILED, ZONEBOOK = (PYD + "zududized.patternseek", PYD + "zududized.PadShaper",
                                 PYD + "Compiled", PYD + "zonebook")

RUN = """
import importlib, importlib.util, sys
def run_body(module):
    module.__spec__.loader.exec_module(module)
{setup}
for name in sys.argv[1:]:
    module = importlib.util.module_from_spec(importlib.util.find_spec(name))
    try:
        run_body(module)
        print("imported", check(module) if "check" in globals() else "")
        continue
    except BaseException as error:
        print(f"{{type(error).__name__}}: {{error}}")
        print("bound", [key for key in vars(module) if not key.startswith("__")])
    try:
        importlib.import_module(name)
    except RuntimeError as error:
        print(error)
"""

# The n-th allocation made by a module's body fails, and only that one (allocations 0 and 1
# come before the body). What a body imports is imported beforehand, so that the count covers
# the module's own work. Where the body stops depends on the count: it must have bound a
# leading part of what a complete import binds, in order. The counts move when a body
# changes; every case stays valid, but may then aim at another step than the one named.
OUT_OF_MEMORY = """
import _imp, _testcapi, datetime, re
def run_body(module):
    n = NTH[module.__name__]
    _testcapi.set_nomemory(n, n + 1)
    try:
        _imp.exec_dynamic(module)
    finally:
        _testcapi.remove_mem_hooks()
"""

# For Compiled: a small zone table of a dict subclass and a stub for re.compile keep the body
# short; their Python methods fail on an error left pending by an earlier failed step.
LIGHT_COMPILED = """
from chronvale.reru.pyd import zonebook
import re
class Zones(dict):
    def keys(self): return list(dict.keys(self))
    def values(self): return list(dict.values(self))
zonebook.zonebook_dict = Zones({'QQ': {'full_name': 'Q Time'}})
re.compile = lambda source, flags=0: source
"""
LEADING_PART = object()


def fails(error, *modules, bound=()):
    lines = []
    for module in modules:
        short = module.rsplit(".", 1)[1]
        lines += [error, LEADING_PART if bound is LEADING_PART else f"bound {list(bound)}",
                  f"Module '{short}' has already been imported. Re-initialisation is not supported."]
    return lines


def out_of_memory(nth, setup=""):
    return f"NTH = {nth!r}\n{setup}" + OUT_OF_MEMORY, list(nth), fails("MemoryError: ", *nth, bound=LEADING_PART)


STUB_DATETIME = "import types\nsys.modules['datetime'] = types.ModuleType('datetime')\n"
ZONES = "from chronvale.reru.pyd import zonebook\n"
# What Compiled binds, in order, up to its first compilation.
COMPILED_STEPS = ["re", "os", "sys", "zonebook_dict", "datetime", "timezone_abbrv",
                  "timezone_abbrv_pattern", "full_names", "full_names_pattern", "regex_patterns",
                  "compile_regex_patterns"]

CASES = [
    ("sys.modules['re'] = None", [SEEK, PAD, COMPILED],
     fails("ModuleNotFoundError: import of re halted; None in sys.modules", SEEK,
           bound=["dFormats", "DateFormatFinder"])
     + fails("ModuleNotFoundError: import of re halted; None in sys.modules", PAD, COMPILED)),
    ("sys.modules['datetime'] = None", [SEEK, PAD],
     fails('ImportError: PyCapsule_Import could not import module "datetime"', SEEK)
     + fails("ModuleNotFoundError: import of datetime halted; None in sys.modules", PAD)),
    (STUB_DATETIME, [SEEK, PAD],
     fails("AttributeError: module 'datetime' has no attribute 'datetime_CAPI'", SEEK)
     + fails("AttributeError: module 'datetime' has no attribute 'datetime'", PAD)),
    (STUB_DATETIME + "sys.modules['datetime'].datetime = 5", [PAD],
     fails("TypeError: datetime.datetime is not a class (got int)", PAD)),
    ("import re\ndef compile(*args):\n    raise re.error('sabotaged')\nre.compile = compile",
     [SEEK, COMPILED],
     fails("error: sabotaged", SEEK, bound=["dFormats", "DateFormatFinder", "re", "py_datetime", "anytime"])
     + fails("error: sabotaged", COMPILED, bound=COMPILED_STEPS)),
    ("import re\ndel re.IGNORECASE", [COMPILED],
     fails("AttributeError: module 're' has no attribute 'IGNORECASE'", COMPILED, bound=COMPILED_STEPS)),
    ("sys.modules['os'] = None", [COMPILED],
     fails("ModuleNotFoundError: import of os halted; None in sys.modules", COMPILED, bound=["re"])),
    ("import re\nsys.modules['sys'] = None", [COMPILED],
     fails("ModuleNotFoundError: import of sys halted; None in sys.modules", COMPILED, bound=["re", "os"])),
    (f"sys.modules['{ZONEBOOK}'] = None", [COMPILED],
     fails(f"ModuleNotFoundError: import of {ZONEBOOK} halted; None in sys.modules", COMPILED,
           bound=COMPILED_STEPS[:3])),
    (ZONES + "del zonebook.zonebook_dict", [COMPILED],
     fails("ImportError: cannot import name zonebook_dict", COMPILED, bound=COMPILED_STEPS[:3])),
    (f"class Zones:\n    @property\n    def zonebook_dict(self):\n        raise LookupError('busy')\n"
     f"sys.modules['{ZONEBOOK}'] = Zones()", [COMPILED],
     fails("LookupError: busy", COMPILED, bound=COMPILED_STEPS[:3])),
    (ZONES + "zonebook.zonebook_dict = {'A': {'full_name': 'x'}, 'B': {}}", [COMPILED],
     fails("KeyError: 'full_name'", COMPILED, bound=COMPILED_STEPS[:7])),
    (ZONES + "zonebook.zonebook_dict = {'A': {'full_name': 'x'}, 'B': 5}", [COMPILED],
     fails("TypeError: 'int' object is not subscriptable", COMPILED, bound=COMPILED_STEPS[:7])),
    # (the counts aim at: zonebook's function, its table; PadShaper's __all__, table, map
    # and functions; Compiled's directive table and its cRegexps instance)
    out_of_memory({ZONEBOOK: 8, PAD: 20}),
    # the finder's catalogue: its strings, its precomputed list, the verdict layer's tables
    out_of_memory({SEEK: 120}),
    out_of_memory({SEEK: 300}),
    out_of_memory({ZONEBOOK: 500, PAD: 60}),
    out_of_memory({PAD: 150}),
    out_of_memory({PAD: 160}),
    out_of_memory({COMPILED: 60}, LIGHT_COMPILED),
    out_of_memory({COMPILED: 280}, LIGHT_COMPILED),
    # one allocation inside the creation of the class cRegexps: the interpreter's type
    # creation returns NULL without an exception there, and the toolkit raises MemoryError
    out_of_memory({COMPILED: 211}, LIGHT_COMPILED),
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


@functools.cache
def binding_order(module):
    """The names a complete import of `module` binds, in order (seen in a fresh interpreter:
    the tests may have rebound some in this one)."""
    code = "import importlib, sys\nprint([k for k in vars(importlib.import_module(sys.argv[1]))])"
    out = subprocess.run([sys.executable, "-I", "-c", code, module], capture_output=True, text=True)
    return [name for name in ast.literal_eval(out.stdout) if not name.startswith("__")]


@pytest.mark.parametrize("setup, modules, expected", CASES)
def test_initialisation_in_a_fresh_interpreter(setup, modules, expected):
    if "_testcapi" in setup:  # not in every build of the interpreter
        pytest.importorskip("_testcapi")
    result = subprocess.run([sys.executable, "-I", "-c", RUN.format(setup=setup), *modules],
                            capture_output=True, text=True, timeout=60)
    assert (result.returncode, result.stderr) == (0, "")
    lines = result.stdout.splitlines()
    for i, line in enumerate(expected):
        if line is LEADING_PART and i < len(lines) and lines[i].startswith("bound "):
            bound, complete = ast.literal_eval(lines[i][6:]), binding_order(modules[i // 3])
            lines[i] = LEADING_PART if bound == complete[:len(bound)] else lines[i]
    assert lines == expected
