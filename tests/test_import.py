import importlib
import importlib.util
import subprocess
import sys

import pytest

MODULES = [
    "chronvale.reru.pyd.zududized.patternseek",
    "chronvale.reru.pyd.zonebook",
    "chronvale.reru.pyd.Compiled",
    "chronvale.reru.pyd.zududized.PadShaper",
    "chronvale.reru.pyd.zududized.joinmark",
    "chronvale.reru.pyd.zududized.suffixswap",
    "chronvale.reru.pyd.zududized.roundtrip",
    "chronvale.reru.pyd.scrub_text",
]


@pytest.mark.parametrize("name", MODULES)
def test_module_imports_with_empty_test_dict(name):
    module = importlib.import_module(name)
    assert module.__test__ == {}
    assert module.__file__.endswith(".so")


@pytest.mark.parametrize("name", MODULES)
def test_module_body_runs_once(name):
    module = importlib.import_module(name)
    spec = importlib.util.find_spec(name)
    # Creating the module again hands back the one live module object.
    again = importlib.util.module_from_spec(spec)
    assert again is module


SUBINTERPRETER = """
import importlib, sys
import _xxsubinterpreters as interpreters
importlib.import_module(sys.argv[1])
interp = interpreters.create(isolated=False)
try:
    interpreters.run_string(interp, "import " + sys.argv[1])
except interpreters.RunFailedError as error:
    print(error)
"""


@pytest.mark.parametrize("name", MODULES)
def test_second_interpreter_is_refused(name):
    pytest.importorskip("_xxsubinterpreters")
    out = subprocess.run([sys.executable, "-I", "-c", SUBINTERPRETER, name],
                         capture_output=True, text=True, check=True).stdout
    assert out.strip() == ("<class 'ImportError'>: Interpreter change detected - this module "
                           "can only be loaded into one interpreter per process.")
