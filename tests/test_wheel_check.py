"""The check that `make dist` runs on the repaired wheel refuses what an index should not get."""
import importlib.util
import pathlib

import pytest

SCRIPT = pathlib.Path(__file__).resolve().parents[1] / ".ci" / "check_wheel.py"
spec = importlib.util.spec_from_file_location("check_wheel", SCRIPT)
check_wheel = importlib.util.module_from_spec(spec)
spec.loader.exec_module(check_wheel)

WHEEL = "chronvale-0.1.0-cp312-cp312-{}.whl"
REPAIRED = "manylinux2014_x86_64.manylinux_2_17_x86_64"


@pytest.mark.parametrize("platforms, recorded, faults", [
    (REPAIRED, None, []),
    ("manylinux1_x86_64.manylinux_2_5_x86_64", None, []),
    ("manylinux_2_17_aarch64.manylinux2014_aarch64", None, []),
    ("linux_x86_64", None, ["cp312-cp312-linux_x86_64 is not a manylinux tag"]),
    ("musllinux_1_2_x86_64", None, ["cp312-cp312-musllinux_1_2_x86_64 is not a manylinux tag"]),
    ("manylinux_2_28_x86_64", None, ["cp312-cp312-manylinux_2_28_x86_64 is newer than manylinux_2_17"]),
    ("manylinux_2_18_x86_64.manylinux2010_x86_64", None,
     ["cp312-cp312-manylinux_2_18_x86_64 is newer than manylinux_2_17"]),
    # renamed, but the WHEEL file still holds the build's tag (or one tag of two)
    (REPAIRED, "linux_x86_64", ["the name's tags"]),
    (REPAIRED, "manylinux_2_17_x86_64", ["the name's tags"]),
])
def test_platform_tags(platforms, recorded, faults):
    tags = (recorded or platforms).split(".")
    wheel_file = "Wheel-Version: 1.0\n" + "".join(f"Tag: cp312-cp312-{tag}\n" for tag in tags)
    found = check_wheel.tag_faults(pathlib.Path(WHEEL.format(platforms)), wheel_file)
    assert len(found) == len(faults)
    assert all(fault.startswith(wanted) for fault, wanted in zip(found, faults))


MODULE_FILES = [module + ".cpython-312-x86_64-linux-gnu.so" for module in check_wheel.MODULES]


@pytest.mark.parametrize("extra, foreign", [
    ([], []),
    (["chronvale/__init__.pyi", "chronvale-0.1.0.dist-info/RECORD"], []),
    (["chronvale.libs/libstdc++-a1b2c3d4.so.6.0.30"], ["chronvale.libs/libstdc++-a1b2c3d4.so.6.0.30"]),
    (["shape_check_hook.cpython-312-x86_64-linux-gnu.so"],
     ["shape_check_hook.cpython-312-x86_64-linux-gnu.so"]),
    (["chronvale/reru/pyd/zonebook.so"], ["chronvale/reru/pyd/zonebook.so"]),
])
def test_only_the_modules_are_shared_libraries(extra, foreign):
    assert check_wheel.foreign_libraries(MODULE_FILES + extra) == foreign
