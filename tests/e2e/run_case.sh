#!/usr/bin/env bash
# Runs profiledesk once in a fresh folder, with standard input from the case's `stdin`, a
# fixed clock and no controlling terminal, and compares standard output and datas.dat,
# byte for byte, with what the case expects.
#
# Usage: run_case.sh CASE_DIR PROGRAM [--crlf]
#   A case lists, one name a line, the fragments (from fragments/) that make up its
#   expected standard output (`stdout`), its datas.dat beforehand (`datas.before`, if any)
#   and afterwards (`datas.after`; the word `absent` for no file).
#   --crlf expects the line ends of a Windows build.
#   PROFILEDESK_WRAPPER, if set, runs the program through it (for example wine).
set -euo pipefail

case_dir=$(cd "$1" && pwd)
program=$(realpath "$2")
crlf=${3:-}
fragments=$(cd "$(dirname "$0")/fragments" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Concatenates the fragments named in a list file, turning line ends into CRLF if asked.
assemble() {
    local name
    while IFS= read -r name || [ -n "$name" ]; do
        [ -n "$name" ] && cat "$fragments/$name"
    done < "$1" | if [ "$crlf" = --crlf ]; then perl -pe 's/\n/\r\n/'; else cat; fi
}

if [ -f "$case_dir/datas.before" ]; then
    assemble "$case_dir/datas.before" > "$work/datas.dat"
fi

export TZ=UTC
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0"

# libfaketime's first process makes a shared-memory pair in /dev/shm and removes it when
# it exits, but not when it execs (as setsid and wine's launcher script do), and the
# faketime command waits for wine's servers, which outlive the run. So the first process
# is a shell that runs the program and exits; everything it starts shares its pair.
clock_lib=$(python3 "$(dirname "$0")/../support/machine.py" faketime)
status=0
(cd "$work" && setsid -w env FAKETIME="2026-12-06 15:53:20" LD_PRELOAD="$clock_lib" \
    bash -c '"$@"; exit $?' clocked ${PROFILEDESK_WRAPPER:-} "$program" \
    < "$case_dir/stdin" > "$work/stdout" 2> "$work/stderr") || status=$?

failed=0
if [ "$status" != 0 ]; then
    echo "exit status $status, expected 0"; failed=1
fi
assemble "$case_dir/stdout" > "$work/expected.stdout"
if ! cmp -s "$work/expected.stdout" "$work/stdout"; then
    echo "standard output differs (expected, then actual):"
    diff <(cat -A "$work/expected.stdout") <(cat -A "$work/stdout") || true
    failed=1
fi
if grep -qx absent "$case_dir/datas.after"; then
    if [ -e "$work/datas.dat" ]; then echo "datas.dat exists but should not"; failed=1; fi
else
    assemble "$case_dir/datas.after" > "$work/expected.dat"
    if ! cmp -s "$work/expected.dat" "$work/datas.dat"; then
        echo "datas.dat differs (expected, then actual):"
        diff <(cat -A "$work/expected.dat") <(cat -A "$work/datas.dat" 2>&1) || true
        failed=1
    fi
fi
if [ -s "$work/stderr" ]; then
    echo "unexpected standard error:"; cat "$work/stderr"; failed=1
fi
exit $failed
