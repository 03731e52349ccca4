# Set-up and everyday commands. Every target creates the virtual environment
# and installs the package into it first, so each works on a fresh machine.
PYTHON ?= python3
VENV ?= .venv
PY := $(VENV)/bin/python
PIP := $(PY) -m pip
PYTEST_ARGS ?=

.PHONY: demo test bench format install clean

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

bench: $(PY)
	$(PIP) install --quiet ".[bench]"
	$(PY) -m bench

format: $(PY)
	$(PIP) install --quiet "clang-format>=17"
	$(VENV)/bin/clang-format -i $$(find native -name '*.cpp' -o -name '*.hpp')

clean:
	rm -rf build $(VENV)
