#!/usr/bin/env bash
# The Windows build of profiledesk-records under wine, on a record file that the Windows
# build of the desk program wrote (CRLF line ends): check and export give what is written
# here by hand.
# Usage: wine_records.sh DESK_EXE RECORDS_EXE
set -euo pipefail
desk=$(realpath "$1")
records=$(realpath "$2")
clock_lib=$(python3 "$(dirname "$0")/../support/machine.py" faketime)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ulimit -f 65536
cd "$work"

answers="1 Ada Lovelace Lon,don 10-12-1815 36 36 2.5 Inst Ring-Road Kofi Mill Cocoa-Co Repairs West-Lib 250 Mall School"
echo "$answers" | TZ=UTC FAKETIME="2026-12-06 15:53:20" \
    LD_PRELOAD="$clock_lib" \
    timeout 120 setsid -w wine "$desk" > /dev/null 2>&1
{ cat datas.dat; head -c 2000 datas.dat; } > cut.dat

failed=0
expect() {  # WHAT EXPECTED ACTUAL
    if [ "$2" != "$3" ]; then
        echo "$1 differs (expected, then actual):"; printf '%s\n' "$2" | cat -A; printf '%s\n' "$3" | cat -A
        failed=1
    fi
}
run() { timeout 120 setsid -w wine "$records" "$@" 2> stderr; }

grep -q $'\r$' datas.dat || { echo "the Windows desk did not write CRLF"; failed=1; }
status=0; out=$(run check datas.dat cut.dat) || status=$?
out=$(grep -v ': needs a look (' <<< "$out")  # the Linux suite tests those
expect "check output" $'datas.dat: 1 whole record\ncut.dat:31: a record cut short (26 of 30 lines)\ncut.dat: 1 whole record' "$out"
expect "check status" 1 "$status"

status=0; run export -o out.csv datas.dat cut.dat || status=$?
expect "export status" 1 "$status"
expect "export stderr" "cut.dat:31: a record cut short (26 of 30 lines)" "$(tr -d '\r' < stderr)"
expect "CSV rows" "$(printf '%s\r\n' \
    "source,record,line,entered_at,first_name,surname,place_of_birth,date_of_birth,age,education_centre,street,coordinator,nearby_business,productivity_company,maintenance_company,zonal_library,library_fee,shopping_centre,nearest_school,years_ahead,age_after_years" \
    'datas.dat,1,1,2026-12-06T15:53,Ada,Lovelace,"Lon,don",10-12-1815,36,Inst,Ring-Road,Kofi,Mill,Cocoa-Co,Repairs,West-Lib,250,Mall,School,2.5,38.5' \
    'cut.dat,1,1,2026-12-06T15:53,Ada,Lovelace,"Lon,don",10-12-1815,36,Inst,Ring-Road,Kofi,Mill,Cocoa-Co,Repairs,West-Lib,250,Mall,School,2.5,38.5' | od -c)" \
    "$(od -c < out.csv)"
ls out.csv.partial-* > /dev/null 2>&1 && { echo "a partial output file was left behind"; failed=1; }

status=0; out=$(run export --format jsonl --from 2026-12-06 --to 2026-12-06 datas.dat) || status=$?
expect "JSON Lines" '{"source":"datas.dat","record":1,"line":1,"entered_at":"2026-12-06T15:53","first_name":"Ada","surname":"Lovelace","place_of_birth":"Lon,don","date_of_birth":"10-12-1815","age":"36","education_centre":"Inst","street":"Ring-Road","coordinator":"Kofi","nearby_business":"Mill","productivity_company":"Cocoa-Co","maintenance_company":"Repairs","zonal_library":"West-Lib","library_fee":"250","shopping_centre":"Mall","nearest_school":"School","years_ahead":2.5,"age_after_years":38.5}' "$out"
expect "JSON Lines status" 0 "$status"
exit $failed
