"""Checks a built wheel: it holds every module with its stub, py.typed and the
licence, and no other native module (the test-only ones never ship); and
auditwheel finds it compatible with manylinux_2_17 (glibc 2.17) or an older
policy.

Usage: python .ci/check_wheel.py WHEEL
"""

import re
import subprocess
import sys
import zipfile
from pathlib import Path

MODULES = [
    "chronvale/reru/pyd/zonebook",
    "chronvale/reru/pyd/Compiled",
    "chronvale/reru/pyd/scrub_text",
    "chronvale/reru/pyd/zududized/patternseek",
    "chronvale/reru/pyd/zududized/PadShaper",
    "chronvale/reru/pyd/zududized/joinmark",
    "chronvale/reru/pyd/zududized/suffixswap",
]
OLDEST_GLIBC = (2, 17)


def missing_files(names: list[str]) -> list[str]:
    wanted = ["chronvale/__init__.py", "chronvale/py.typed"]
    wanted += [module + ".pyi" for module in MODULES]
    missing = [name for name in wanted if name not in names]
    for module in MODULES:
        if not any(name.startswith(module + ".") and name.endswith(".so") for name in names):
            missing.append(module + ".*.so")
    if not any(re.fullmatch(r"[^/]+\.dist-info/licenses/LICENSE", name) for name in names):
        missing.append("*.dist-info/licenses/LICENSE")
    return missing


def foreign_modules(names: list[str]) -> list[str]:
    """Native modules in the wheel that are not the package's: the test builds."""
    return [name for name in names if name.endswith(".so")
            and not any(name.startswith(module + ".") for module in MODULES)]


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
        missing = missing_files(archive.namelist())
        foreign = foreign_modules(archive.namelist())
    if missing:
        raise SystemExit(f"{wheel.name} lacks: {', '.join(missing)}")
    if foreign:
        raise SystemExit(f"{wheel.name} holds modules that are not the package's: "
                         f"{', '.join(foreign)}")
    needed = glibc_needed(wheel)
    if needed > OLDEST_GLIBC:
        raise SystemExit(
            f"{wheel.name} needs glibc {needed[0]}.{needed[1]}: not manylinux_2_17 compatible"
        )
    print(f"{wheel.name}: complete, manylinux_2_17 compatible (needs glibc {needed[0]}.{needed[1]})")


if __name__ == "__main__":
    main()
