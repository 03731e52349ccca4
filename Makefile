# Set-up and everyday commands. Every target creates the virtual environment
# and installs the package into it first, so each works on a fresh machine.
PYTHON ?= python3
VENV ?= .venv
PY := $(VENV)/bin/python
PIP := $(PY) -m pip
PYTEST_ARGS ?=
# WERROR=ON builds with compiler warnings as errors (CI does).
WERROR ?= OFF
SHELL := /bin/bash
.SHELLFLAGS := -o pipefail -c

.PHONY: demo test browser-test panel-test-widgets7 cluster-test sanitize tsan fuzz bench format lint install wheel wheel-test clean

# The package is reinstalled only when something it is built from changed;
# the stamp in the environment records the last install.
SOURCES := $(shell find native src -type f -not -path '*/__pycache__/*') CMakeLists.txt pyproject.toml
# EXTRAS=arrow (a comma-separated list) installs those optional extras too.
EXTRAS ?=
comma := ,
PACKAGE_EXTRAS := test$(if $(EXTRAS),$(comma)$(EXTRAS))
STAMP := $(VENV)/.zeka-installed$(if $(EXTRAS),-$(subst $(comma),-,$(EXTRAS)))
INSTALL_LOG := build/install-$(notdir $(VENV)).log
# The build's own tools live in the environment, not in a throw-away one per
# install: with their paths unchanged, a rebuild compiles only what changed
# (the build-system requirements of pyproject.toml, and ninja).
BUILD_REQUIRES := "scikit-build-core>=0.10" "pybind11>=2.12" ninja
# pip -v streams the whole build; the console shows only the build's stages
# and its progress lines ([3/41] ...), the log keeps everything.
BUILD_PROGRESS := awk '/^ *\*\*\* |^ *\[[0-9]+\/[0-9]+\] / { print; fflush() }'

$(PY):
	@echo "== creating the environment $(VENV) with $$($(PYTHON) --version)"
	$(PYTHON) -m venv $(VENV)
	$(PIP) install --quiet --upgrade pip

$(STAMP): $(SOURCES) | $(PY)
	@mkdir -p build
	@echo "== building the C++ modules and installing zeka with its test tools into $(VENV)"
	@echo "   (about 3 minutes on a fresh clone; full log in $(INSTALL_LOG))"
	@$(PIP) install --quiet $(BUILD_REQUIRES)
	@$(PIP) install -v --no-build-isolation ".[$(PACKAGE_EXTRAS)]" -C cmake.define.ZEKA_WERROR=$(WERROR) 2>&1 \
		| tee $(INSTALL_LOG) | $(BUILD_PROGRESS) \
		|| { tail -n 40 $(INSTALL_LOG); echo "== install failed: see $(INSTALL_LOG)"; exit 1; }
	@touch $@

install: $(STAMP)
	@echo "== zeka is installed in $(VENV)"

DEMO_OUT ?= zeka-report.html

demo: $(STAMP)
	@echo "== writing the report on the built-in dataset SimuCredit_raw"
	$(PY) -m zeka report --dataset SimuCredit_raw --out $(DEMO_OUT)
	@echo "Open $(abspath $(DEMO_OUT)) in a browser to read the report."

test: $(STAMP)
	@echo "== running the test suite"
	$(PY) -m pytest $(PYTEST_ARGS)

# The notebook panel in a real browser, once per CI run: JupyterLab, ipykernel and
# selenium from PyPI into the environment, Debian's chromium and its driver by apt
# where this runs as root and they are missing. Screenshots of every tab go to
# build/browser-screenshots/. Under CI=true a missing browser fails the test.
BROWSER_REQUIRES := "jupyterlab>=3.6" "ipykernel>=6" "selenium>=4.11"

browser-test: $(STAMP)
	@echo "== installing what the browser test needs: $(BROWSER_REQUIRES)"
	@$(PIP) install --quiet $(BROWSER_REQUIRES)
	@if ! command -v chromium >/dev/null || ! command -v chromedriver >/dev/null; then \
		if [ "$$(id -u)" = 0 ] && command -v apt-get >/dev/null; then \
			echo "== installing chromium and chromium-driver with apt-get"; \
			apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq chromium chromium-driver; \
		else \
			echo "== chromium or chromium-driver is missing and cannot be installed here (not root)"; \
		fi; \
	fi
	@echo "== running the browser test (screenshots in build/browser-screenshots/)"
	$(PY) -m pytest -m browser tests/browser $(PYTEST_ARGS)

# The panel's Python-side tests against ipywidgets 7 (the form of notebooks that still
# have it), installed apart in build/ipywidgets7 and put first on the path.
WIDGETS7 := build/ipywidgets7

panel-test-widgets7: $(STAMP)
	@echo "== installing ipywidgets 7 into $(WIDGETS7)"
	@$(PIP) install --quiet --upgrade --target $(WIDGETS7) --no-deps "ipywidgets>=7.6,<8" \
		ipython_genutils "widgetsnbextension>=3.6,<4" "jupyterlab_widgets>=1,<3"
	PYTHONPATH=$(WIDGETS7) $(PY) -m pytest -p no:cacheprovider tests/panel $(PYTEST_ARGS)

# The integrity checks on a local Dask cluster (worker processes): once per CI
# run. Only the dask extra's requirements are added to the environment (the
# list of the extra in pyproject.toml), so the built package is not rebuilt.
DASK_REQUIRES := "dask[dataframe,distributed]>=2024.1" "pyarrow>=14"

cluster-test: $(STAMP)
	@echo "== installing the dask extra's requirements and running the cluster tests"
	@$(PIP) install --quiet $(DASK_REQUIRES)
	ZEKA_CLUSTER_TESTS=1 $(PY) -m pytest tests/distributed $(PYTEST_ARGS)

# A wheel in dist/, and a check that it installs into a clean environment
# and passes the test suite there.
wheel: $(PY)
	@mkdir -p build dist
	@echo "== building a wheel into dist/ (full log in build/wheel.log)"
	@$(PIP) wheel --no-deps -v -w dist . 2>&1 | tee build/wheel.log | $(BUILD_PROGRESS) \
		|| { tail -n 40 build/wheel.log; echo "== wheel build failed: see build/wheel.log"; exit 1; }
	@ls dist/zeka-*.whl

WHEEL_VENV ?= build/wheel-venv

wheel-test: wheel
	@echo "== installing the wheel into a clean environment $(WHEEL_VENV)"
	rm -rf $(WHEEL_VENV)
	$(PYTHON) -m venv $(WHEEL_VENV)
	$(WHEEL_VENV)/bin/python -m pip install --quiet --upgrade pip
	$(WHEEL_VENV)/bin/python -m pip install --quiet "$$(ls -t dist/zeka-*.whl | head -n 1)[test]"
	@echo "== running the test suite against the installed wheel"
	$(WHEEL_VENV)/bin/python -m pytest $(PYTEST_ARGS)

# The test suite against a build with AddressSanitizer and UndefinedBehaviorSanitizer,
# in its own environment, with pyarrow, so that the in-place reads of Arrow text
# run under the sanitizers too. The interpreter is not instrumented, so the sanitizer
# runtimes are preloaded into it; CPython's own allocations at exit are not
# leaks of ours, so leak detection is off; the first error stops the run.
SANITIZE ?= address,undefined
SAN_VENV ?= .venv-sanitize
SAN_PY := $(SAN_VENV)/bin/python
SAN_RUNTIME = $$($(CXX) -print-file-name=libasan.so) $$($(CXX) -print-file-name=libubsan.so)

$(SAN_PY):
	$(PYTHON) -m venv $(SAN_VENV)
	$(SAN_PY) -m pip install --quiet --upgrade pip

sanitize: $(SAN_PY)
	$(SAN_PY) -m pip install --quiet ".[test,arrow]" \
		-C cmake.define.ZEKA_SANITIZE=$(SANITIZE) -C cmake.define.ZEKA_WERROR=ON \
		-C cmake.build-type=RelWithDebInfo -C "build-dir=build/sanitize-{wheel_tag}"
	LD_PRELOAD="$(SAN_RUNTIME)" PYTHONMALLOC=malloc \
	ASAN_OPTIONS=detect_leaks=0:halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=0 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		$(SAN_PY) -m pytest $(PYTEST_ARGS)

# The threaded tests against a ThreadSanitizer build, in its own environment
# and build folder. The interpreter is not instrumented: the runtime is
# preloaded, and tsan.supp names the reports that are CPython's or its
# libraries' own. TSan maps its shadow memory at fixed addresses, which the
# randomised layout of newer kernels may already use: the run goes through
# setarch -R (no address randomisation) when the machine allows it.
TSAN_VENV ?= .venv-tsan
TSAN_PY := $(TSAN_VENV)/bin/python
TSAN_TESTS ?= tests/test_threads.py tests/test_threads_mutation.py
TSAN_RUNTIME = $$($(CXX) -print-file-name=libtsan.so)
TSAN_NO_ASLR = $$(setarch "$$(uname -m)" -R true 2>/dev/null && echo setarch "$$(uname -m)" -R)

$(TSAN_PY):
	$(PYTHON) -m venv $(TSAN_VENV)
	$(TSAN_PY) -m pip install --quiet --upgrade pip

tsan: $(TSAN_PY)
	$(TSAN_PY) -m pip install --quiet ".[test]" \
		-C cmake.define.ZEKA_SANITIZE=thread -C cmake.define.ZEKA_WERROR=ON \
		-C cmake.build-type=RelWithDebInfo -C "build-dir=build/tsan-{wheel_tag}"
	LD_PRELOAD="$(TSAN_RUNTIME)" PYTHONMALLOC=malloc \
	TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tsan.supp" \
		$(TSAN_NO_ASLR) $(TSAN_PY) -m pytest -p no:cacheprovider $(TSAN_TESTS) $(PYTEST_ARGS)

# The fuzzer's CI profile: FUZZ_EXAMPLES generated calls per entry point, the
# same calls on every run, the entry points split between two processes.
FUZZ_EXAMPLES ?= 200
FUZZ = $(PY) bench/fuzz.py --examples $(FUZZ_EXAMPLES) --derandomize

fuzz: $(STAMP)
	@mkdir -p build
	@echo "== fuzzing every native entry point, $(FUZZ_EXAMPLES) examples each, in two processes"
	@echo "   (logs in build/fuzz-1.log and build/fuzz-2.log)"
	@$(FUZZ) --shard 1/2 > build/fuzz-1.log 2>&1 & first=$$!; \
	$(FUZZ) --shard 2/2 > build/fuzz-2.log 2>&1; second=$$?; \
	wait $$first; first=$$?; \
	cat build/fuzz-1.log build/fuzz-2.log; \
	[ $$first -eq 0 ] && [ $$second -eq 0 ]

bench: $(PY)
	$(PIP) install --quiet ".[bench]"
	$(PY) -m bench

# The formatters and the linter, pinned so that a new release does not reformat
# the tree on its own.
DEV_REQUIRES := clang-format==23.1.5 ruff==0.17.6
CXX_SOURCES = $$(find native -name '*.cpp' -o -name '*.hpp')
PY_SOURCES := src tests bench
DEV_TOOLS := $(VENV)/.zeka-dev-tools

$(DEV_TOOLS): Makefile | $(PY)
	@echo "== installing the formatters and the linter into $(VENV)"
	@$(PIP) install --quiet $(DEV_REQUIRES)
	@touch $@

format: $(DEV_TOOLS)
	$(VENV)/bin/clang-format -i $(CXX_SOURCES)
	$(VENV)/bin/ruff format $(PY_SOURCES)
	$(VENV)/bin/ruff check --fix $(PY_SOURCES)

lint: $(DEV_TOOLS)
	@echo "== checking the C++ formatting, the Python formatting and the Python lint"
	$(VENV)/bin/clang-format --dry-run --Werror $(CXX_SOURCES)
	$(VENV)/bin/ruff format --check $(PY_SOURCES)
	$(VENV)/bin/ruff check $(PY_SOURCES)

clean:
	rm -rf build dist $(VENV) $(SAN_VENV) $(TSAN_VENV)
