#!/usr/bin/env bash
# The Windows build has no SQLite: collate says so on one line of stderr, ends with status 2
# and creates no database. Run under wine.
set -u
program=$(realpath "$1")
work=$(mktemp -d -p "$(dirname "$program")")
trap 'rm -rf "$work"' EXIT
cd "$work" && : > datas.dat
status=0
timeout 120 wine "$program" collate --into office.db datas.dat > out 2> err || status=$?
failed=0
[ "$status" = 2 ] || { echo "exit status $status, expected 2"; failed=1; }
[ ! -s out ] || { echo "unexpected standard output:"; cat out; failed=1; }
[ ! -e office.db ] || { echo "office.db was created"; failed=1; }
expected="profiledesk-records: this build has no database support: collate is not available"
if [ "$(tr -d '\r' < err)" != "$expected" ]; then
    echo "standard error differs:"; cat -A err; failed=1
fi
exit $failed
