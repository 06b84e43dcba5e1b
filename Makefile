# One-command set-up: a virtual environment with CPython 3.12 (pyenv picks it
# from .python-version), the build tools (CMake and Ninja included) and the
# test tools from PyPI, the package built and installed into it, then the
# tour, the tests or the benchmarks. A machine needs CPython 3.12 and a C++20
# compiler, nothing else.
PYTHON ?= python3.12
VENV   := .venv
BIN    := $(VENV)/bin
STAMP  := $(VENV)/.chronvale-installed
CXX_SOURCES := $(wildcard reru/src/*.cpp reru/src/*.hpp reru/src/*/*.hpp reru/include/*.hpp reru/include/reru/*.hpp \
                           tests/native/*.cpp)
SOURCES := $(CXX_SOURCES) CMakeLists.txt pyproject.toml README.md LICENSE \
           $(shell find chronvale -name '*.py' -o -name '*.pyi' -o -name py.typed)

# `make ... WERROR=1` makes compiler warnings errors (CI does).
BUILD_FLAGS := $(if $(WERROR),-Ccmake.define.CHRONVALE_WERROR=ON)
# The development and sanitizer builds add a test-only module that exposes
# the finder's shape pre-check to the tests; wheels never contain it.
TEST_HOOKS := -Ccmake.define.CHRONVALE_TEST_HOOKS=ON

.PHONY: all install demo test accept-fuzz bench twins sanitize dist wheel-test typecheck lint format clean

all: install

$(BIN)/python:
	$(PYTHON) -m venv $(VENV)
	$(BIN)/python -m pip install --quiet --upgrade pip

$(VENV)/.deps: pyproject.toml | $(BIN)/python
	$(BIN)/python -m pip install --quiet --group build
	touch $@

# The build directory persists under build/, so rebuilds are incremental.
$(STAMP): $(SOURCES) $(VENV)/.deps
	$(BIN)/python -m pip install --quiet --no-build-isolation $(BUILD_FLAGS) $(TEST_HOOKS) ".[test]"
	touch $@

install: $(STAMP)

demo: install
	cd examples && ../$(BIN)/python -I tour.py

# -I keeps the source tree off sys.path: the tests (and the README's
# examples, run as doctests) import the installed build.
test: install
	$(BIN)/python -I -m pytest -q

# The native strptime decision against the real strptime on a million
# rendered-then-perturbed texts of the catalogue's formats (`make test` runs
# a few thousand); prints how many were decided and how many left unknown.
ACCEPT_FUZZ_SAMPLES ?= 1000000
accept-fuzz: install
	ACCEPT_FUZZ_SAMPLES=$(ACCEPT_FUZZ_SAMPLES) $(BIN)/python -I -m pytest -q -s -p no:cacheprovider \
	    tests/test_accept.py -k rendered_then_perturbed

bench: install
	$(BIN)/python -I benchmarks/run.py

# The finder against its plain twin (built without the verdict layer) over
# many more and longer random sequences than `make test` runs.
twins: install
	CHRONVALE_TWIN_SEQUENCES=300 CHRONVALE_TWIN_STEPS=120 \
	    $(BIN)/python -I -m pytest -q -p no:cacheprovider tests/test_finder_twins.py

# --- Sanitizer run ----------------------------------------------------------
# The modules built with AddressSanitizer and UndefinedBehaviorSanitizer
# (GCC), installed into their own virtual environment under build/sanitize,
# and the whole suite run there. The interpreter is not instrumented: it
# loads the sanitizer runtime through LD_PRELOAD, and PYTHONMALLOC=malloc
# sends its own allocations through the runtime too. -P -s instead of -I,
# which would ignore PYTHONMALLOC. The interpreter's own leaks at exit are
# not ours to judge (detect_leaks=0). Freed memory is filled with garbage
# (max_free_fill_size), so that a read of it inside the uninstrumented
# interpreter, through a reference we let go too early, fails loudly too.
# Reports go to files, so that one in a child process counts as well; any
# report fails the run.
SAN_CXX  ?= g++
SAN_DIR  := build/sanitize
SAN_BIN  := $(SAN_DIR)/venv/bin
SAN_LOGS := $(abspath $(SAN_DIR))/reports

$(SAN_BIN)/python:
	$(PYTHON) -m venv $(SAN_DIR)/venv
	$(SAN_BIN)/python -m pip install --quiet --upgrade pip

$(SAN_DIR)/.installed: $(SOURCES) $(VENV)/.deps | $(SAN_BIN)/python
	rm -rf $(SAN_DIR)/wheel
	CXX=$(SAN_CXX) $(BIN)/python -m pip wheel --quiet --no-build-isolation --no-deps \
	    -w $(SAN_DIR)/wheel -Cbuild-dir=$(SAN_DIR)/cmake -Ccmake.build-type=Debug \
	    -Ccmake.define.CHRONVALE_SANITIZE=ON $(BUILD_FLAGS) $(TEST_HOOKS) .
	$(SAN_BIN)/python -m pip install --quiet --no-deps --force-reinstall $(SAN_DIR)/wheel/*.whl
	$(SAN_BIN)/python -m pip install --quiet "$$(echo $(SAN_DIR)/wheel/*.whl)[test]"
	touch $@

sanitize: $(SAN_DIR)/.installed
	rm -rf $(SAN_LOGS) && mkdir -p $(SAN_LOGS)
	LD_PRELOAD="$$($(SAN_CXX) -print-file-name=libasan.so) $$($(SAN_CXX) -print-file-name=libubsan.so)" \
	PYTHONMALLOC=malloc \
	ASAN_OPTIONS=detect_leaks=0:max_free_fill_size=4096:log_path=$(SAN_LOGS)/asan \
	UBSAN_OPTIONS=print_stacktrace=1:log_path=$(SAN_LOGS)/ubsan \
	    $(SAN_BIN)/python -P -s -m pytest -q -p no:cacheprovider; \
	status=$$?; \
	if [ -n "$$(ls $(SAN_LOGS))" ]; then cat $(SAN_LOGS)/*; echo "sanitizer reports above"; exit 1; fi; \
	exit $$status

# --- Packaging ----------------------------------------------------------------
# The route to an index: an sdist, and a wheel built from it; the wheel is
# repaired by auditwheel to the manylinux tag of the oldest glibc the modules
# are built for (2.17; repair fails if the wheel needs a newer one), and only
# the sdist and the repaired wheel are kept in dist/. twine checks both; the
# wheel must hold the stubs, py.typed and the licence, no grafted library,
# and be tagged and compatible manylinux_2_17. Then the repaired wheel is
# installed into a fresh environment and the suite runs against it.
WHEEL_PLAT ?= manylinux_2_17_$(shell uname -m)

$(VENV)/.check-tools: pyproject.toml | $(BIN)/python
	$(BIN)/python -m pip install --quiet --group check
	touch $@

dist: $(VENV)/.check-tools
	rm -rf dist build/dist
	$(BIN)/python -m build --outdir build/dist $(BUILD_FLAGS) .
	mkdir dist
	mv build/dist/*.tar.gz dist/
	PATH="$(abspath $(BIN)):$$PATH" $(BIN)/python -m auditwheel repair --plat $(WHEEL_PLAT) \
	    -w dist build/dist/*.whl
	$(BIN)/python -m twine check --strict dist/*
	$(BIN)/python .ci/check_wheel.py dist/*.whl

wheel-test: dist
	rm -rf build/wheel-venv
	$(PYTHON) -m venv build/wheel-venv
	build/wheel-venv/bin/python -m pip install --quiet "$$(echo dist/*.whl)[test]"
	build/wheel-venv/bin/python -I -m pytest -q -p no:cacheprovider

# --- Checks ---------------------------------------------------------------------
# The stubs against the installed package and every module in it (stubtest
# walks the package; run outside the source tree, so that the installed
# stubs are the ones read), and a typed program that uses every module under
# mypy --strict.
typecheck: install $(VENV)/.check-tools
	cd build && ../$(BIN)/python -I -m mypy.stubtest --mypy-config-file ../pyproject.toml chronvale
	cd build && ../$(BIN)/python -I -m mypy --config-file ../pyproject.toml ../examples/typed_usage.py
	$(BIN)/python -I examples/typed_usage.py

lint: $(VENV)/.check-tools
	$(BIN)/ruff check .
	$(BIN)/clang-format --dry-run -Werror $(CXX_SOURCES)

format: $(VENV)/.check-tools
	$(BIN)/ruff check --fix .
	$(BIN)/clang-format -i $(CXX_SOURCES)

clean:
	rm -rf build dist $(VENV) .pytest_cache .hypothesis .mypy_cache .ruff_cache
