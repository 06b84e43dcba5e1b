"""Checks a repaired wheel: it holds every module with its stub, py.typed and
the licence, and no other shared library (nothing grafted by auditwheel, no
test module); its name and its WHEEL file carry the same manylinux tags, none
newer than manylinux_2_17; and auditwheel finds it compatible with
manylinux_2_17 (glibc 2.17) or an older policy.

Usage: python .ci/check_wheel.py WHEEL
"""

import re
import subprocess
import sys
import zipfile
from email.parser import Parser
from pathlib import Path

from packaging.tags import Tag
from packaging.utils import parse_wheel_filename

MODULES = [
    "chronvale/reru/pyd/zonebook",
    "chronvale/reru/pyd/Compiled",
    "chronvale/reru/pyd/scrub_text",
    "chronvale/reru/pyd/zududized/patternseek",
    "chronvale/reru/pyd/zududized/PadShaper",
    "chronvale/reru/pyd/zududized/joinmark",
    "chronvale/reru/pyd/zududized/suffixswap",
    "chronvale/reru/pyd/zududized/roundtrip",
]
OLDEST_GLIBC = (2, 17)
# The manylinux tags named before PEP 600 and the glibc version each stands for.
LEGACY_TAGS = {"manylinux1": (2, 5), "manylinux2010": (2, 12), "manylinux2014": (2, 17)}


def missing_files(names: list[str]) -> list[str]:
    wanted = ["chronvale/__init__.py", "chronvale/__init__.pyi", "chronvale/py.typed"]
    wanted += [module + ".pyi" for module in MODULES]
    missing = [name for name in wanted if name not in names]
    for module in MODULES:
        if not any(name.startswith(module + ".") and name.endswith(".so") for name in names):
            missing.append(module + ".*.so")
    if not any(re.fullmatch(r"[^/]+\.dist-info/licenses/LICENSE", name) for name in names):
        missing.append("*.dist-info/licenses/LICENSE")
    return missing


def foreign_libraries(names: list[str]) -> list[str]:
    """The shared libraries in the wheel that are not one of the modules."""
    return [
        name
        for name in names
        if ".so" in name.rsplit("/", 1)[-1]
        and not any(name.startswith(module + ".cpython-") for module in MODULES)
    ]


def tag_glibc(platform: str) -> tuple[int, int] | None:
    """The glibc version a manylinux platform tag stands for; None for any other tag."""
    legacy = LEGACY_TAGS.get(platform.split("_", 1)[0])
    if legacy is not None:
        return legacy
    tag = re.fullmatch(r"manylinux_(\d+)_(\d+)_\w+", platform)
    return (int(tag.group(1)), int(tag.group(2))) if tag else None


def tag_faults(wheel: Path, wheel_file: str) -> list[str]:
    """What is wrong with the wheel's platform tags, in its name and in its WHEEL file."""
    named = parse_wheel_filename(wheel.name)[3]
    recorded = {Tag(*line.split("-")) for line in Parser().parsestr(wheel_file).get_all("Tag", [])}
    faults = []
    if named != recorded:
        faults.append(f"the name's tags {sorted(map(str, named))} are not the WHEEL file's "
                      f"{sorted(map(str, recorded))}")
    for tag in sorted(map(str, named)):
        glibc = tag_glibc(tag.split("-")[2])
        if glibc is None:
            faults.append(f"{tag} is not a manylinux tag")
        elif glibc > OLDEST_GLIBC:
            faults.append(f"{tag} is newer than manylinux_2_17")
    return faults


def glibc_needed(wheel: Path) -> tuple[int, int]:
    """The glibc version of the manylinux tag auditwheel finds the wheel consistent with."""
    report = subprocess.run(
        [sys.executable, "-m", "auditwheel", "show", str(wheel)],
        capture_output=True,
        text=True,
        check=True,
    ).stdout
    print(report.strip())
    # auditwheel's words may wrap over lines.
    tag = re.search(r'platform\s+tag:\s+"manylinux_(\d+)_(\d+)_', report)
    if tag is None:
        raise SystemExit(f"{wheel.name}: auditwheel found no manylinux tag")
    return int(tag.group(1)), int(tag.group(2))


def main() -> None:
    wheel = Path(sys.argv[1])
    with zipfile.ZipFile(wheel) as archive:
        names = archive.namelist()
        name, version = parse_wheel_filename(wheel.name)[:2]
        wheel_file = archive.read(f"{name}-{version}.dist-info/WHEEL").decode()
    missing = missing_files(names)
    if missing:
        raise SystemExit(f"{wheel.name} lacks: {', '.join(missing)}")
    foreign = foreign_libraries(names)
    if foreign:
        raise SystemExit(f"{wheel.name} holds other shared libraries: {', '.join(foreign)}")
    faults = tag_faults(wheel, wheel_file)
    if faults:
        raise SystemExit(f"{wheel.name}: {'; '.join(faults)}")
    needed = glibc_needed(wheel)
    if needed > OLDEST_GLIBC:
        raise SystemExit(
            f"{wheel.name} needs glibc {needed[0]}.{needed[1]}: not manylinux_2_17 compatible"
        )
    print(f"{wheel.name}: complete, manylinux_2_17 compatible (needs glibc {needed[0]}.{needed[1]})")


if __name__ == "__main__":
    main()
