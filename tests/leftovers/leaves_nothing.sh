#!/usr/bin/env bash
# Runs a command with an empty /dev/shm and /tmp of its own (a private mount namespace),
# and fails if the command leaves anything in either: shared memory and scratch files that
# outlive a test pile up on a machine that runs the suite all day. Other programs' files in
# the machine's own /tmp are neither seen nor touched.
# The checkout and the working folder stay reachable at their own paths even when they
# live under /tmp or /dev/shm (a clone made with mktemp -d, say).
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

checkout=$(cd "$(dirname "$0")/../.." && pwd -P)
here=$(pwd -P)
keep=()  # folders under /tmp or /dev/shm to bind back; one inside another is kept with it
for path in "$checkout" "$here"; do
    for kept in "${keep[@]}"; do
        case "$path/" in "$kept"/*) continue 2 ;; esac
    done
    keep+=("$path")
done

for place in /dev/shm /tmp; do
    # The folder as it was, still reachable through this descriptor once it is covered.
    exec {before}< "$place"
    mount -t tmpfs -o mode=1777 leaves-nothing "$place"
    for path in "${keep[@]}"; do
        case "$path" in
            "$place"/*)
                mkdir -p "$path"
                mount --no-canonicalize --bind "/proc/self/fd/$before/${path#"$place"/}" "$path"
                ;;
        esac
    done
    exec {before}<&-
done
cd "$here"

status=0
"$@" || status=$?

# Everything in either folder but the kept folders and the folders made to hold them.
prune=()
skeleton=()
for path in "${keep[@]}"; do
    prune+=(-path "$path" -prune -o)
    while case "$path" in /tmp/* | /dev/shm/*) true ;; *) false ;; esac do
        skeleton+=("$path")
        path=$(dirname "$path")
    done
done
left=$(find /dev/shm /tmp -mindepth 1 "${prune[@]}" -print | grep -vxF -f <(printf '%s\n' "${skeleton[@]}") || true)
if [ -n "$left" ]; then
    echo "left behind:"
    printf '%s\n' "$left" | sed 's/^/  /'
    exit 1
fi
exit $status
