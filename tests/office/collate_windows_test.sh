#!/usr/bin/env bash
# The Windows build collates with its own SQLite, under wine: a new database read back by the
# sqlite3 client, CRLF records known again, two runs at once through Windows file locks, and
# a file that is not a database refused.
# Usage: collate_windows_test.sh PROFILEDESK_RECORDS_EXE FRAGMENTS_DIR
set -u
program=$(realpath "$1")
fragments=$(realpath "$2")
work=$(mktemp -d -p "$(dirname "$program")")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
cat "$fragments/record-jane.txt" "$fragments/record-john.txt" > two.dat
perl -pe 's/\n/\r\n/' two.dat > crlf.dat
for _ in $(seq 500); do cat two.dat; done > many.dat
printf 'a letter, not a database\n' > letter.dat

failed=0
# expect STATUS STDOUT STDERR -- ARGS...: one run, its output with CRLF made LF.
expect() {
    local status=0 want_status=$1 want_out=$2 want_err=$3
    shift 4
    timeout 120 wine "$program" collate "$@" > out 2> err || status=$?
    if [ "$status" != "$want_status" ] || [ "$(tr -d '\r' < out)" != "$want_out" ] ||
        [ "$(tr -d '\r' < err)" != "$want_err" ]; then
        echo "collate $*: status $status, expected $want_status; out, then err:"; cat -A out err; failed=1
    fi
}
expect 0 "2 added, 0 already present, 0 problems" "profiledesk-records: made a new database office.db" -- --into office.db two.dat
expect 0 "0 added, 2 already present, 0 problems" "" -- --into office.db crlf.dat
# A CRLF file grown by one record is read after its checkpoint, counted in its own bytes.
expect 0 "0 added, 2 already present, 0 problems" "" -- --into office.db crlf.dat
perl -pe 's/\n/\r\n/' "$fragments/record-jane.txt" | sed 's/Jane/Joan/' >> crlf.dat
expect 0 "1 added, 2 already present, 0 problems" "" -- --into office.db crlf.dat
# A row deleted by hand: the file is read in full again, and the row comes back.
sqlite3 office.db "DELETE FROM records WHERE first_name = 'Joan'"
expect 0 "1 added, 2 already present, 0 problems" \
    "crlf.dat: the database no longer holds what its last collate left (rows or counts changed by hand); read in full" \
    -- --into office.db crlf.dat
rows=$(sqlite3 office.db "SELECT first_name, surname, entered_at, line FROM records ORDER BY rowid")
if [ "$rows" != $'Jane|Roe|2026-12-06T15:53|1\nJohn|Doe|2026-12-06T15:53|31\nJoan|Roe|2026-12-06T15:53|61' ]; then
    echo "rows read back: $rows"; failed=1
fi

timeout 120 wine "$program" collate --into many.db many.dat > first 2>&1 & first=$!
timeout 120 wine "$program" collate --into many.db many.dat > second 2>&1 || failed=1
wait $first || failed=1
if [ "$(sqlite3 many.db "SELECT count(*), count(DISTINCT record_key) FROM records")" != "1000|1000" ]; then
    echo "two runs at once:"; cat first second; failed=1
fi

cp letter.dat letter.db
expect 1 "" "profiledesk-records: letter.db: not a SQLite database" -- --into letter.db two.dat
cmp -s letter.dat letter.db || { echo "letter.db was changed"; failed=1; }
exit $failed
