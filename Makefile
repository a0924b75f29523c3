# The front door: `make run` builds and starts the program, `make test` sets up what the
# tests need and runs them all. See the README.

BUILD_PACKAGES := cmake ninja-build g++ make
TEST_PACKAGES := libgtest-dev libfaketime faketime util-linux python3 perl \
                 g++-mingw-w64-x86-64-posix wine64 wine

.PHONY: run build test bench deps test-deps clean

run: build
	./build/release/profiledesk

build: deps
	cmake --preset release > /dev/null
	cmake --build --preset release

deps:
	@scripts/deps.sh $(BUILD_PACKAGES)

test-deps: deps
	@scripts/deps.sh $(TEST_PACKAGES)

test: test-deps
	cmake --preset dev > /dev/null
	cmake --build --preset dev
	ctest --preset dev
	cmake --preset windows > /dev/null
	cmake --build --preset windows
	ctest --preset windows

# Ratios against reference runs measured side by side; the data (about 1.3 GiB) is made
# in build/bench on the first run.
bench: build
	@scripts/deps.sh python3 time
	python3 bench/run_bench.py build/release/profiledesk build/bench

clean:
	rm -rf build
