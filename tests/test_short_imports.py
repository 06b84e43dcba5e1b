"""The package's own names: each is its module's object, and its module is imported on first use."""
import importlib
import json
import pkgutil
import subprocess
import sys
import traceback

import pytest

import chronvale

# The package's modules, as installed.
MODULES = [info.name for info in pkgutil.walk_packages(chronvale.__path__, "chronvale.")
           if not info.ispkg]


def defined_callables(name):
    """The functions and classes (bound methods too) that the module itself defines."""
    module = importlib.import_module(name)
    return {attr for attr, value in vars(module).items()
            if not attr.startswith("_") and callable(value)
            and getattr(value, "__module__", None) == name}


# Every public function and class, by the module that defines it. Compiled's
# `datetime` would hide the standard module of that name: only its alias
# `datetime_regex` is offered.
HOMES = {attr: name for name in MODULES for attr in defined_callables(name) if attr != "datetime"}


def test_all_names_every_public_function_and_class_once():
    assert len(chronvale.__all__) == len(set(chronvale.__all__))
    assert set(chronvale.__all__) == set(HOMES)
    assert {"DateFormatFinder", "get_zonebook", "isISOT", "scrubtext"} <= set(HOMES)


@pytest.mark.parametrize("name", sorted(HOMES))
def test_short_name_is_the_module_object(name):
    assert getattr(chronvale, name) is getattr(importlib.import_module(HOMES[name]), name)
    namespace = {}
    exec(f"from chronvale import {name}", namespace)
    assert namespace[name] is getattr(chronvale, name)


# What each module imports of the package besides itself.
IMPORTS = {"Compiled": {"chronvale.reru.pyd.zonebook"},
           "survey": {"chronvale.reru.pyd.zududized.patternseek",
                      "chronvale.reru.pyd.zududized.roundtrip"}}


# A fresh interpreter: the modules `import chronvale` loads besides the
# package, then the package's modules loaded by the first use of one name,
# `dir(chronvale)` before that use, and whether the name is then bound in
# the package (as JSON).
FRESH = """
import json, sys
start = set(sys.modules)
import chronvale
before, listing = sorted(set(sys.modules) - start - {"chronvale"}), dir(chronvale)
exec(f"from chronvale import {sys.argv[1]}")
after = sorted(m for m in sys.modules if m.startswith("chronvale."))
print(json.dumps([before, after, listing, sys.argv[1] in vars(chronvale)]))
"""


@pytest.mark.parametrize("name", sorted(HOMES))
def test_fresh_import_loads_nothing_until_first_use(name):
    out = subprocess.run([sys.executable, "-I", "-c", FRESH, name],
                         capture_output=True, text=True, check=True).stdout
    before, after, listing, bound = json.loads(out)
    assert before == []
    # Compiled imports the time zone table while it initialises; the survey
    # is built on the finder and the check.
    wanted = {HOMES[name]} | IMPORTS.get(HOMES[name].rsplit(".", 1)[-1], set())
    assert set(after) & set(MODULES) == wanted
    assert bound
    assert listing == sorted(listing) and set(chronvale.__all__) <= set(listing)
    assert {"__version__", "__all__"} <= set(listing)


@pytest.mark.parametrize("name, suggestion", [
    ("datetime", None),
    ("zonebook_dict", None),
    ("no_such_name", None),
    ("isISO", "isISOT"),
    ("DateFormatFinders", "DateFormatFinder"),
])
def test_unknown_names(name, suggestion):
    with pytest.raises(AttributeError) as info:
        getattr(chronvale, name)
    assert str(info.value) == f"module 'chronvale' has no attribute {name!r}"
    assert info.value.name == name and info.value.obj is chronvale
    # The interpreter's suggestion reads the names the package lists.
    if suggestion:
        hint = "".join(traceback.format_exception_only(info.value))
        assert hint.rstrip().endswith(f"Did you mean: {suggestion!r}?")
    assert not hasattr(chronvale, name)
    with pytest.raises(ImportError, match=f"cannot import name {name!r} from 'chronvale'"):
        exec(f"from chronvale import {name}", {})
