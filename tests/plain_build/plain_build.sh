#!/bin/sh
# Builds the programs as a distribution does, with plain CMake and no preset, from a clean
# folder, and fails on any warning as well as on a failed build; then runs the unit tests
# the build made, if it made them.
#
# Usage: plain_build.sh SOURCE FOLDER COMPILER [CMAKE_ARGUMENT...]
set -eu

source=$1
folder=$2
compiler=$3
shift 3

# From a clean folder: a build that reuses objects would not show their warnings again.
rm -rf "$folder"
mkdir -p "$folder/tmp"
export TMPDIR="$folder/tmp"
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"

log="$folder/build.log"
# The distribution's own commands, the compiler named as it would name it.
if ! CXX=$compiler timeout 600 cmake -S "$source" -B "$folder/build" -DCMAKE_BUILD_TYPE=Release "$@" > "$log" 2>&1 ||
   ! timeout 2400 cmake --build "$folder/build" >> "$log" 2>&1; then
    tail -n 40 "$log"
    echo "plain_build: the $compiler build failed; its log is $log" >&2
    exit 1
fi
if grep -E -n 'warning:|CMake Warning' "$log"; then
    echo "plain_build: the $compiler build warns; its log is $log" >&2
    exit 1
fi

for tests in "$folder"/build/tests/profiledesk_*unit_tests; do
    [ -x "$tests" ] || continue
    if ! timeout 600 "$tests" --gtest_brief=1 > "$folder/unit_tests.log" 2>&1; then
        tail -n 40 "$folder/unit_tests.log"
        echo "plain_build: $tests failed in the $compiler build" >&2
        exit 1
    fi
done
rm -rf "$folder/tmp"
echo "plain_build: $compiler: built without a warning"
