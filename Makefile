# kvel: `make test` sets up a fresh machine, builds and runs every test.
# Python runs from the project's virtual environment $(VENV), which setup makes
# from $(PYTHON) and fills with the pinned Python packages.
PYTHON ?= python3
VENV ?= .venv
VENV_PYTHON := $(VENV)/bin/python
BUILD_DIR ?= build/cpp
JOBS ?= 2
# WERROR=ON makes warnings on kvel's own code errors (CI builds so).
WERROR ?= OFF

.PHONY: test setup cpp-build cpp-test py-install py-test bench example clean

test: setup cpp-test py-test

setup:
	@PYTHON="$(PYTHON)" VENV="$(VENV)" bash scripts/setup.sh

cpp-build: setup
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DKVEL_BUILD_TESTS=ON -DKVEL_BUILD_BENCH=ON -DKVEL_WERROR=$(WERROR) >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# The generated-code tests run `python3`: the venv's, first on PATH.
cpp-test: cpp-build
	@PATH="$(abspath $(VENV))/bin:$$PATH" ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

py-install: setup
	@CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(VENV_PYTHON) -m pip install -q --disable-pip-version-check --no-build-isolation \
	  --config-settings=cmake.define.KVEL_WERROR=$(WERROR) .

# pytest exits 5 when it collects nothing; that is not a failure here.
py-test: py-install
	@$(VENV_PYTHON) -m pytest -q tests/python; rc=$$?; [ $$rc -eq 0 ] || [ $$rc -eq 5 ]

bench: cpp-build
	@for b in $(BUILD_DIR)/bench/bench_*; do echo "== $$b"; $$b; done

example: py-install
	@$(VENV_PYTHON) examples/quickstart.py

# Removes the build folders; the venv stays (remove $(VENV) to have setup make it anew).
clean:
	rm -rf build
