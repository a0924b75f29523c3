#!/usr/bin/env bash
# Checks that the manual tells what --help offers: every command of profiledesk-records has a
# subsection in the manual page, and every option of the tool and of each command is named in
# the page as Linux renders it or in the Windows manual made from it.
# Usage: help_in_manual_test.sh PROGRAM MANUAL_PAGE [WINDOWS_MANUAL_TEXT]
# PROFILEDESK_WRAPPER, if set, runs the program through it (wine).
set -euo pipefail
program=$1
page=$2
windows=${3:-}
help() { timeout 120 ${PROFILEDESK_WRAPPER:-} "$program" "$@" --help | tr -d '\r'; }
manual=$(groff -man -Tutf8 -P-cbou -rLL=200n -rHY=0 "$page")
[ -z "$windows" ] || manual+=$'\n'$(tr -d '\r' < "$windows")
failed=0

# The commands, as the tool's own --help lists them under "Subcommands:".
commands=$(help | sed -n '/^Subcommands:/,$p' | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p')
[ -n "$commands" ] || { echo "no commands in $program --help"; exit 1; }
for command in "" $commands; do
    if [ -n "$command" ] && ! grep -q "^   $command " <<< "$manual"; then
        echo "$command: no subsection in the manual"; failed=1
    fi
    # Options stand first on their lines, as "-o,--output FILE" or "--format TEXT".
    for option in $(help $command | sed -n '/^Options:/,/^[A-Z]/p' | grep -oE '^  -[^ ]+' | tr ',' ' '); do
        [ "$option" = -h ] && continue
        grep -qE -- "(^|[^a-z-])$option([^a-z-]|$)" <<< "$manual" ||
            { echo "${command:-profiledesk-records}: $option is in --help but not in the manual"; failed=1; }
    done
done
exit $failed
