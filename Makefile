# Set-up and everyday commands. Every target creates the virtual environment
# and installs the package into it first, so each works on a fresh machine.
PYTHON ?= python3
VENV ?= .venv
PY := $(VENV)/bin/python
PIP := $(PY) -m pip
PYTEST_ARGS ?=

.PHONY: demo test sanitize bench format install clean

$(PY):
	$(PYTHON) -m venv $(VENV)
	$(PIP) install --quiet --upgrade pip

install: $(PY)
	$(PIP) install --quiet .

DEMO_OUT ?= zeka-report.html

demo: install
	$(PY) -m zeka report --dataset SimuCredit_raw --out $(DEMO_OUT)
	@echo "Open $(abspath $(DEMO_OUT)) in a browser to read the report."

test: $(PY)
	$(PIP) install --quiet ".[test]"
	$(PY) -m pytest $(PYTEST_ARGS)

# The test suite against a build with AddressSanitizer and UndefinedBehaviorSanitizer,
# in its own environment. The interpreter is not instrumented, so the sanitizer
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
	$(SAN_PY) -m pip install --quiet ".[test]" \
		-C cmake.define.ZEKA_SANITIZE=$(SANITIZE) -C cmake.define.ZEKA_WERROR=ON \
		-C cmake.build-type=RelWithDebInfo -C "build-dir=build/sanitize-{wheel_tag}"
	LD_PRELOAD="$(SAN_RUNTIME)" PYTHONMALLOC=malloc \
	ASAN_OPTIONS=detect_leaks=0:halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=0 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		$(SAN_PY) -m pytest $(PYTEST_ARGS)

bench: $(PY)
	$(PIP) install --quiet ".[bench]"
	$(PY) -m bench

format: $(PY)
	$(PIP) install --quiet "clang-format>=17"
	$(VENV)/bin/clang-format -i $$(find native -name '*.cpp' -o -name '*.hpp')

clean:
	rm -rf build $(VENV) $(SAN_VENV)
