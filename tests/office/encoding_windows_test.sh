#!/usr/bin/env bash
# The Windows build under wine reads answers in a desk's code page by the tables both builds
# share: CP1252 and CP850 files, named on the command line and in a desks file, exported
# as UTF-8; an encoding not offered is a usage error.
# Usage: encoding_windows_test.sh PROFILEDESK_RECORDS_EXE FRAGMENTS_DIR
set -u
program=$(realpath "$1")
fragments=$(realpath "$2")
work=$(mktemp -d -p "$(dirname "$program")")
trap 'rm -rf "$work"' EXIT
ulimit -f 65536
cd "$work" || exit 1
mkdir south
sed 's/Name :: Jane Roe/Name :: Jos\xe9 M\xfcller/' "$fragments/record-jane.txt" > cp1252.dat
sed 's/Birth Is :: Accra/Birth Is :: K\x94ln/' "$fragments/record-jane.txt" > south/datas.dat
printf '[[desk]]\nname = "south"\npath = "south/datas.dat"\nencoding = "CP850"\n' > desks.toml

failed=0
expect() {  # WHAT EXPECTED ACTUAL
    if [ "$2" != "$3" ]; then
        echo "$1 differs (expected, then actual):"; printf '%s\n' "$2" | cat -A; printf '%s\n' "$3" | cat -A
        failed=1
    fi
}
run() { timeout 120 setsid -w wine "$program" "$@" 2> err | tr -d '\r'; }
column() { cut -d, -f"$1" | sed -n 2p; }

expect "CP1252 names" "José,Müller" "$(run export --encoding cp1252 north=cp1252.dat | column 5,6)"
expect "CP1252 source" "north" "$(run export --encoding cp1252 north=cp1252.dat | column 1)"
expect "CP850 from the desks file" "south,Köln" "$(run export --desks desks.toml | column 1,7)"
expect "not named: told once" "cp1252.dat: not UTF-8 (a Windows desk? try --encoding CP1252)" \
    "$(run export cp1252.dat > /dev/null; tr -d '\r' < err)"
status=0; timeout 120 setsid -w wine "$program" check --encoding EBCDIC cp1252.dat > /dev/null 2>&1 || status=$?
expect "unknown encoding status" 2 "$status"
exit $failed
