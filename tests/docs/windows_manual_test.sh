#!/usr/bin/env bash
# Checks the manual shipped in the Windows zip: Notepad's CRLF line ends throughout, and
# examples for cmd and PowerShell rather than for a Unix shell.
# Usage: windows_manual_test.sh MANUAL_TEXT
set -euo pipefail
manual=$1
failed=0
[ -s "$manual" ] || { echo "no manual at $manual"; exit 1; }
bare=$(grep -c $'[^\r]$\|^$' "$manual" || true)
[ "$bare" = 0 ] || { echo "$bare lines without CRLF"; failed=1; }
unix=$(grep -nE '<<<|\bgrep\b|\bless\b|\bman [a-z]|\bcat\b|\$\(' "$manual" || true)
[ -z "$unix" ] || { printf 'Unix shell in the Windows manual:\n%s\n' "$unix"; failed=1; }
for windows in 'findstr' 'more' 'Select-String' '.\profiledesk.exe'; do
    grep -qF "$windows" "$manual" || { echo "no example with $windows"; failed=1; }
done
exit $failed
