# kvel: `make test` sets up a fresh machine, builds and runs every test.
PYTHON ?= python3
BUILD_DIR ?= build/cpp
JOBS ?= 2

.PHONY: test setup cpp-build cpp-test py-install py-test bench example clean

test: setup cpp-test py-test

setup:
	@bash scripts/setup.sh

cpp-build: setup
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DKVEL_BUILD_TESTS=ON -DKVEL_BUILD_BENCH=ON >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

cpp-test: cpp-build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

py-install: setup
	@PIP_ROOT_USER_ACTION=ignore $(PYTHON) -m pip install -q --no-build-isolation .

# pytest exits 5 when it collects nothing; that is not a failure here.
py-test: py-install
	@$(PYTHON) -m pytest -q tests/python; rc=$$?; [ $$rc -eq 0 ] || [ $$rc -eq 5 ]

bench: cpp-build
	@for b in $(BUILD_DIR)/bench/bench_*; do echo "== $$b"; $$b; done

example: py-install
	@$(PYTHON) examples/quickstart.py

clean:
	rm -rf build
