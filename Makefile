# One-command set-up: a virtual environment with CPython 3.12 (pyenv picks it
# from .python-version), the package built and installed into it with its
# test extras, then the tour, the tests or the benchmarks.
PYTHON ?= python3.12
VENV   := .venv
BIN    := $(VENV)/bin
STAMP  := $(VENV)/.chronvale-installed
SOURCES := $(wildcard reru/src/*.cpp reru/src/*.hpp tests/native/*.cpp reru/include/*.hpp reru/include/reru/*.hpp) \
           CMakeLists.txt pyproject.toml $(wildcard chronvale/*.py chronvale/*/*.py chronvale/*/*/*.py chronvale/*/*/*/*.py)

.PHONY: all install demo test bench clean

all: install

$(BIN)/python:
	$(PYTHON) -m venv $(VENV)
	$(BIN)/python -m pip install --quiet --upgrade pip

$(VENV)/.deps: pyproject.toml | $(BIN)/python
	$(BIN)/python -m pip install --quiet "scikit-build-core>=0.10" ninja "pytest>=8" "hypothesis>=6.100"
	touch $@

# The build directory persists under build/, so rebuilds are incremental.
$(STAMP): $(SOURCES) $(VENV)/.deps
	$(BIN)/python -m pip install --quiet --no-build-isolation --no-deps -C cmake.define.CHRONVALE_TEST_HOOKS=ON ".[test]"
	touch $@

install: $(STAMP)

demo: install
	cd examples && ../$(BIN)/python -I tour.py

# -I keeps the source tree off sys.path: the tests import the installed build.
test: install
	$(BIN)/python -I -m pytest -q tests

bench: install
	$(BIN)/python -I benchmarks/run.py

clean:
	rm -rf build $(VENV) .pytest_cache .hypothesis
