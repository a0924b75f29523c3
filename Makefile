# The front door: `make run` builds and starts the program, `make test` sets up what the
# tests need and runs them all. See the README.

# cpp-httplib comes from Debian's source package of it, which apt-get fetches and dpkg-dev
# unpacks with Debian's patches (scripts/fetch_cpp_httplib.sh).
BUILD_PACKAGES := cmake ninja-build g++ make pkg-config libcli11-dev nlohmann-json3-dev libxxhash-dev \
                  libsqlite3-dev libpq-dev libkainjow-mustache-dev libtomlplusplus-dev libutf8proc-dev dpkg-dev
TEST_PACKAGES := libgtest-dev libfaketime faketime util-linux python3 perl strace git \
                 clang libclang-rt-14-dev clang-tidy clang-format cppcheck groff-base man-db \
                 g++-mingw-w64-x86-64-posix wine64 wine mawk miller jq sqlite3 postgresql chromium tidy time \
                 chromium-driver python3-selenium
FUZZ_SECONDS ?= 60
SOURCES := $(shell git ls-files 'src/*.cpp' 'src/*.hpp' 'tests/*.cpp' 'tests/*.hpp' 'fuzz/*.cpp' 2>/dev/null)

.PHONY: run build test test-linux test-asan test-tsan test-windows test-fallbacks test-plain-builds lint fuzz \
        fuzz-build fuzz-smoke bench package deps test-deps clean

run: build
	./build/release/profiledesk

build: deps
	cmake --preset release > /dev/null
	cmake --build --preset release

deps:
	@scripts/deps.sh $(BUILD_PACKAGES)

test-deps: deps
	@scripts/deps.sh $(TEST_PACKAGES)

# Everything CI checks: the suite on Linux, under the sanitizers, with the portable
# fallbacks and on Windows (under wine), plain CMake builds as a distribution makes them, the
# static checks, and a short run of the fuzzer.
test: test-deps
	$(MAKE) --no-print-directory lint build fuzz-smoke test-windows test-asan test-tsan test-fallbacks \
	    test-plain-builds test-linux

test-linux:
	cmake --preset dev > /dev/null
	cmake --build --preset dev
	ctest --preset dev

test-asan:
	cmake --preset asan > /dev/null
	cmake --build --preset asan
	ctest --preset asan

# The reading thread under ThreadSanitizer: the reader's unit tests and the cases of the built
# tool that run it (ctest label `threads`), a few minutes.
test-tsan:
	cmake --preset tsan > /dev/null
	cmake --build --preset tsan
	ctest --preset tsan

# The code paths of platforms without sendfile or fdatasync, taken here on purpose.
test-fallbacks:
	cmake --preset fallbacks > /dev/null
	cmake --build --preset fallbacks
	ctest --preset fallbacks

# The Windows build fetches SQLite's amalgamation with npm (the machine image ships it), and
# utf8proc's source from Debian's archive, each once into its build folder and checked by its hash.
# It alone compiles each source on its own (the other presets batch them, for speed), so a
# source that leans on an include of the one before it in a batch fails here.
test-windows:
	@command -v npm > /dev/null || scripts/deps.sh npm
	cmake --preset windows > /dev/null
	cmake --build --preset windows
	ctest --preset windows

# Plain CMake builds, no preset, in Release, as a distribution makes them: with g++, Debian's
# own commands, and with clang++; both with their tests, and neither may warn.
test-plain-builds:
	tests/plain_build/plain_build.sh "$(CURDIR)" "$(CURDIR)/build/plain-g++" g++
	tests/plain_build/plain_build.sh "$(CURDIR)" "$(CURDIR)/build/plain-clang++" clang++

lint:
	cmake --preset dev > /dev/null
	cmake --build --preset dev --target generated_sources
	clang-format --dry-run -Werror $(SOURCES)
	cppcheck --enable=warning,style,performance,portability --std=c++20 --error-exitcode=1 \
	    --inline-suppr --quiet -I src --suppress=missingIncludeSystem --suppress=missingInclude \
	    $(filter src/%.cpp,$(SOURCES))
	python3 -B scripts/tidy.py build/dev
	@echo "lint: clean"

# libFuzzer writes any crash, leak, timeout or oom input under build/fuzz, not here.
FUZZ_RUN := ./build/fuzz/profiledesk_fuzzer -artifact_prefix=build/fuzz/
RECORDS_FUZZ_RUN := ./build/fuzz/records_fuzzer -artifact_prefix=build/fuzz/ -rss_limit_mb=512
FIND_FUZZ_RUN := ./build/fuzz/find_fuzzer -artifact_prefix=build/fuzz/ -rss_limit_mb=512
DESKS_FUZZ_RUN := ./build/fuzz/desks_fuzzer -artifact_prefix=build/fuzz/ -rss_limit_mb=512

fuzz: fuzz-build
	$(FUZZ_RUN) -max_total_time=$(FUZZ_SECONDS) build/fuzz/corpus tests/fuzz_corpus
	$(RECORDS_FUZZ_RUN) -max_total_time=$(FUZZ_SECONDS) build/fuzz/records_corpus tests/fuzz_corpus_records
	$(FIND_FUZZ_RUN) -max_total_time=$(FUZZ_SECONDS) build/fuzz/find_corpus tests/fuzz_corpus_find
	$(DESKS_FUZZ_RUN) -max_total_time=$(FUZZ_SECONDS) build/fuzz/desks_corpus tests/fuzz_corpus_desks

fuzz-build:
	cmake --preset fuzz > /dev/null
	cmake --build --preset fuzz
	mkdir -p build/fuzz/corpus build/fuzz/records_corpus build/fuzz/find_corpus build/fuzz/desks_corpus

# A short run for every change, with a /dev/shm and /tmp of its own that it must leave
# empty; its log is shown in full only when it finds something.
fuzz-smoke: fuzz-build
	tests/leftovers/leaves_nothing.sh --run-anyway $(FUZZ_RUN) -max_total_time=15 build/fuzz/corpus tests/fuzz_corpus \
	    > build/fuzz/smoke.log 2>&1 || { tail -n 40 build/fuzz/smoke.log; exit 1; }
	@tail -n 1 build/fuzz/smoke.log
	tests/leftovers/leaves_nothing.sh --run-anyway $(RECORDS_FUZZ_RUN) -max_total_time=10 \
	    build/fuzz/records_corpus tests/fuzz_corpus_records > build/fuzz/records_smoke.log 2>&1 || \
	    { tail -n 40 build/fuzz/records_smoke.log; exit 1; }
	@tail -n 1 build/fuzz/records_smoke.log
	tests/leftovers/leaves_nothing.sh --run-anyway $(FIND_FUZZ_RUN) -max_total_time=10 \
	    build/fuzz/find_corpus tests/fuzz_corpus_find > build/fuzz/find_smoke.log 2>&1 || \
	    { tail -n 40 build/fuzz/find_smoke.log; exit 1; }
	@tail -n 1 build/fuzz/find_smoke.log
	tests/leftovers/leaves_nothing.sh --run-anyway $(DESKS_FUZZ_RUN) -max_total_time=10 \
	    build/fuzz/desks_corpus tests/fuzz_corpus_desks > build/fuzz/desks_smoke.log 2>&1 || \
	    { tail -n 40 build/fuzz/desks_smoke.log; exit 1; }
	@tail -n 1 build/fuzz/desks_smoke.log

# Ratios against reference runs measured side by side, on record files made in build/bench on
# the first run (varied, all-distinct and repeated records of 1 GiB, varied of 128 MiB: about
# 3.2 GiB) and kept. `make bench BENCH_ARGS=--quick` runs the same rows on 32 MiB files in a
# few minutes, as a smoke test of the bench itself.
bench: build
	@scripts/deps.sh python3 time sqlite3 mawk postgresql wrk
	python3 -B bench/office_bench.py build/release build/bench $(BENCH_ARGS)
	python3 -B bench/run_bench.py build/release/profiledesk build/bench $(BENCH_ARGS)

# A Debian package of the Linux build, and a zip of the Windows build with a text manual,
# both in build/packages. lintian must find nothing to warn about; an override carries its
# reason beside it in packaging/debian/lintian-overrides.
package: build
	@scripts/deps.sh g++-mingw-w64-x86-64-posix dpkg-dev lintian groff-base
	rm -f build/packages/*.deb
	cd build/release && cpack
	lintian --fail-on error,warning build/packages/*.deb
	@command -v npm > /dev/null || scripts/deps.sh npm
	cmake --preset windows > /dev/null
	cmake --build --preset windows
	cd build/windows && cpack

clean:
	rm -rf build
