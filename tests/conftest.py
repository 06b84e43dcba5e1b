import pathlib
import sys

import pytest
from hypothesis import settings

import chronvale

# The suite's own helper modules (the plain models, the corpus) import by name.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

# Timing is the benchmarks' business: no per-example deadline, so a loaded
# machine cannot fail a property test.
settings.register_profile("chronvale", deadline=None)
settings.load_profile("chronvale")


def pytest_report_header(config):
    return f"chronvale imported from {pathlib.Path(chronvale.__file__).parent}"


def pytest_configure(config):
    # The suite must exercise the installed build, never the source folder.
    here = pathlib.Path(__file__).resolve().parent.parent
    installed = pathlib.Path(chronvale.__file__).resolve().parent
    if installed.parent == here:
        raise pytest.UsageError(
            f"chronvale was imported from the source tree ({installed}), not from the installed "
            "build: run `make test`, or `python -I -m pytest` with the build installed"
        )
