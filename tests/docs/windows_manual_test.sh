#!/usr/bin/env bash
# Checks a manual shipped in the Windows zip: Notepad's CRLF line ends throughout, and
# examples for cmd and PowerShell rather than for a Unix shell: no prompts, no Unix
# paths or patterns.
# Usage: windows_manual_test.sh MANUAL_TEXT TEXT_IT_MUST_HOLD...
set -euo pipefail
manual=$1
shift
failed=0
[ -s "$manual" ] || { echo "no manual at $manual"; exit 1; }
bare=$(grep -c $'[^\r]$\|^$' "$manual" || true)
[ "$bare" = 0 ] || { echo "$bare lines without CRLF"; failed=1; }
unix=$(grep -nE '<<<|\bgrep\b|\bless\b|\bman [a-z]|\bcat\b|\$\(|^ *\$ |\*/|~/|\.pgpass' "$manual" || true)
[ -z "$unix" ] || { printf 'Unix shell in the Windows manual:\n%s\n' "$unix"; failed=1; }
for windows in "$@"; do
    grep -qF -- "$windows" "$manual" || { echo "no example with $windows"; failed=1; }
done
exit $failed
