#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a user gets: the program, and a
# manual page that renders without a single warning.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" > /dev/null

failed=0
[ -x "$prefix/bin/profiledesk" ] || { echo "no bin/profiledesk"; failed=1; }
page="$prefix/share/man/man1/profiledesk.1"
if [ -f "$page" ]; then
    warnings=$(groff -ww -z -man "$page" 2>&1)
    [ -z "$warnings" ] || { echo "groff warns: $warnings"; failed=1; }
    rendered=$(MANWIDTH=80 man -l "$page" 2> /dev/null)
    for section in NAME SYNOPSIS DESCRIPTION FILES "EXIT STATUS" EXAMPLES; do
        grep -q "^$section" <<< "$rendered" || { echo "no $section section"; failed=1; }
    done
else
    echo "no share/man/man1/profiledesk.1"; failed=1
fi
exit $failed
