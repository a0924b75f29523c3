#!/usr/bin/env bash
# leaves_nothing.sh, run from a checkout that lives under /tmp in a folder with a space: what
# a command leaves in /tmp, /dev/shm or beside the checkout fails the run; the checkout's own
# files are reached and kept; the command's status is passed on.
# Usage: leaves_nothing_test.sh   (status 77: no private mount namespace here)
set -euo pipefail
root=$(mktemp -d /tmp/profiledesk-leftovers.XXXXXX)
trap 'rm -rf "$root"' EXIT
checkout="$root/a checkout"
mkdir -p "$checkout/tests/leftovers"
cp "$(dirname "$0")/leaves_nothing.sh" "$checkout/tests/leftovers/"
watch="$checkout/tests/leftovers/leaves_nothing.sh"
if ! (cd "$checkout" && "$watch" true > /dev/null); then
    echo "no private mount namespace here; not checked"
    exit 77
fi

failed=0
expect() {  # STATUS WHAT COMMAND...
    local want=$1 what=$2 got=0
    shift 2
    (cd "$checkout" && "$watch" "$@") > "$root/out" 2>&1 || got=$?
    if [ "$got" != "$want" ]; then
        echo "$what: status $got, expected $want:"; cat "$root/out"; failed=1
    fi
}
expect 0 "a file written in the checkout" sh -c 'echo built > "$0/built"' "$checkout"
[ "$(cat "$checkout/built" 2> /dev/null)" = built ] || { echo "the checkout's file did not reach the checkout"; failed=1; }
expect 1 "a file left in /tmp" touch /tmp/left
expect 1 "a file left in /dev/shm" touch /dev/shm/left
expect 1 "a file left beside the checkout" touch "$root/left"
expect 1 "a folder left beside the checkout" mkdir "$root/a checkout.old"
grep -qxF "  $root/a checkout.old" "$root/out" || { echo "the folder left was not named:"; cat "$root/out"; failed=1; }
expect 3 "a command that fails" sh -c 'exit 3'
[ ! -e "$root/left" ] || { echo "a file from inside reached the real /tmp"; failed=1; }
exit $failed
