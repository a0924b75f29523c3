#!/usr/bin/env bash
# Runs a command with an empty /dev/shm and /tmp of its own (a private mount namespace),
# and fails if the command leaves anything in either: shared memory and scratch files that
# outlive a test pile up on a machine that runs the suite all day.
# Usage: leaves_nothing.sh [--run-anyway] COMMAND [ARGUMENT...]
#   Where no private mount namespace can be made, the check is skipped (status 77), or with
#   --run-anyway the command runs unchecked.
set -euo pipefail
run_anyway=0
if [ "${1:-}" = --run-anyway ]; then
    run_anyway=1
    shift
fi
if [ "${LEAVES_NOTHING_INSIDE:-}" != 1 ]; then
    own=()
    [ "$(id -u)" -eq 0 ] || own=(--map-root-user)
    if ! unshare "${own[@]}" --mount --propagation private true 2> /dev/null; then
        echo "leaves_nothing: cannot make a private mount namespace here; not checked"
        [ "$run_anyway" = 1 ] && exec "$@"
        exit 77
    fi
    LEAVES_NOTHING_INSIDE=1 exec unshare "${own[@]}" --mount --propagation private "$0" "$@"
fi

for place in /dev/shm /tmp; do
    mount -t tmpfs -o mode=1777 leaves-nothing "$place"
done
status=0
"$@" || status=$?
left=$(find /dev/shm /tmp -mindepth 1 -maxdepth 1)
if [ -n "$left" ]; then
    echo "left behind:"
    find /dev/shm /tmp -mindepth 1 | sed 's/^/  /'
    exit 1
fi
exit $status
