#!/usr/bin/env bash
# The Windows build under wine, as a clerk on Windows uses it: wildcards expanded by the
# program, names outside the ANSI code page as inputs, outputs, databases and sources (in
# UTF-8), a code page converted, LF line ends on both text streams, and a folder given as
# a file told as one.
# Usage: windows_parity_test.sh PROFILEDESK_RECORDS_EXE FRAGMENTS_DIR
set -u
program=$(realpath "$1")
fragments=$(realpath "$2")
work=$(mktemp -d -p "$(dirname "$program")")
trap 'rm -rf "$work"' EXIT
ulimit -f 65536
cd "$work" || exit 1
jane=$fragments/record-jane.txt
john=$fragments/record-john.txt
mkdir north south Łódź São
cp "$jane" north/datas.dat
cp "$jane" north/old.dat
cp "$john" south/datas.dat
cat "$jane" "$john" > Łódź/datas.dat
cp "$john" São/datas.dat
sed 's/Name :: Jane Roe/Name :: Jos\xe9 M\xfcller/' "$jane" > São/cp1252.dat
printf '[[desk]]\nname = "north"\npath = "north\\\\*.dat"\n' > desks.toml

failed=0
expect() {  # WHAT EXPECTED ACTUAL
    if [ "$2" != "$3" ]; then
        echo "$1 differs (expected, then actual):"; printf '%s\n' "$2" | cat -A; printf '%s\n' "$3" | cat -A
        failed=1
    fi
}
# One run: its status in $status, its streams in out and err, kept as written.
# The records that need a look, which check also lists, are the Linux suite's to test: left out.
run() {
    status=0; timeout 120 setsid -w wine "$program" "$@" > out 2> err || status=$?
    sed -i '/: needs a look (/d' out
}

run check '*\datas.dat'
expect "every folder's file, in the order of their names" \
    $'north\\datas.dat: 1 whole record\nsouth\\datas.dat: 1 whole record\nSão\\datas.dat: 1 whole record\nŁódź\\datas.dat: 2 whole records' \
    "$(cat out)"
expect "wildcards: status" 0 "$status"

run check 'north\*.dat' 'none\*.dat' 'south\datas.dat'
expect "a pattern in the last part" \
    $'north\\datas.dat: 1 whole record\nnorth\\old.dat: 1 whole record\nsouth\\datas.dat: 1 whole record' \
    "$(cat out)"
expect "a pattern that matches nothing" 'profiledesk-records: none\*.dat: No such file or directory' "$(cat err)"
expect "a pattern that matches nothing: status" 1 "$status"

mkdir north/sub.dat  # a pattern's match that is no file is told and skipped, as on Linux
run check --desks desks.toml
expect "a desks file's pattern" \
    $'north\\datas.dat: 1 whole record (desk north)\nnorth\\old.dat: 1 whole record (desk north)\nnorth\\sub.dat: not a regular file; skipped' \
    "$(cat out)"
expect "a desks file's pattern: status" 0 "$status"

run export -o 'Zürich – all.csv' 'Łódź\datas.dat'
expect "export to a name outside the code page: status" 0 "$status"
expect "the sources of a folder outside the code page" $'Łódź\\datas.dat\nŁódź\\datas.dat' \
    "$(tail -n +2 'Zürich – all.csv' 2> /dev/null | cut -d, -f1)"

run collate --into 'Kraków.db' 'São\datas.dat' 'Łódź\datas.dat'
# John's record is the same bytes in both files: one row, from the first.
expect "collate into a name outside the code page" "2 added, 1 already present, 0 problems" "$(cat out)"
expect "the sources in the database" $'São\\datas.dat|John\nŁódź\\datas.dat|Jane' \
    "$(sqlite3 'Kraków.db' 'SELECT source, first_name FROM records ORDER BY rowid' 2>&1)"

run export --format jsonl --encoding cp1252 'São\cp1252.dat'
expect "a code page read into UTF-8" '"source":"São\\cp1252.dat" "first_name":"José" "surname":"Müller"' \
    "$(grep -o '"source":"[^"]*"\|"first_name":"[^"]*"\|"surname":"[^"]*"' out | paste -sd' ')"

run check north 'south\datas.dat'
expect "a folder as FILE" 'profiledesk-records: north: Is a directory' "$(cat err)"
expect "a folder as FILE: the rest" 'south\datas.dat: 1 whole record' "$(cat out)"
expect "a folder as FILE: status" 1 "$status"
run export -o north 'south\datas.dat'
expect "a folder as OUTPUT" 'profiledesk-records: north: is a folder; name a file to write' "$(cat err)"
run check --desks north
expect "a folder as the desks file" 'profiledesk-records: north: Is a directory' "$(cat err)"

run check 'Łódź\datas.dat' 'nowhere.dat'
ends() { printf '%s CR, %s LF' "$(tr -cd '\r' < "$1" | wc -c)" "$(tr -cd '\n' < "$1" | wc -c)"; }
expect "line ends of standard output" "0 CR, 1 LF" "$(ends out)"
expect "line ends of standard error" "0 CR, 1 LF" "$(ends err)"
exit $failed
