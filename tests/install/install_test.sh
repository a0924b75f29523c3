#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a user gets: the program, a
# compressed manual page that renders without a single warning, the copyright and the
# changelog where Debian keeps them.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" > /dev/null

failed=0
[ -x "$prefix/bin/profiledesk" ] || { echo "no bin/profiledesk"; failed=1; }
page="$prefix/share/man/man1/profiledesk.1.gz"
if [ -f "$page" ]; then
    # Compressed with -n: no name or time stamp in the header, so the package is reproducible.
    [ "$(od -An -tx1 -j4 -N4 "$page" | tr -d ' ')" = 00000000 ] || { echo "gzip header has a time stamp"; failed=1; }
    warnings=$(zcat "$page" | groff -ww -z -man 2>&1)
    [ -z "$warnings" ] || { echo "groff warns: $warnings"; failed=1; }
    rendered=$(MANWIDTH=80 man -l "$page" 2> /dev/null)
    for section in NAME SYNOPSIS DESCRIPTION ENVIRONMENT FILES "EXIT STATUS" EXAMPLES; do
        grep -q "^$section" <<< "$rendered" || { echo "no $section section"; failed=1; }
    done
else
    echo "no share/man/man1/profiledesk.1.gz"; failed=1
fi
doc="$prefix/share/doc/profiledesk"
grep -q '^Format: .*copyright-format/1.0/$' "$doc/copyright" 2> /dev/null || { echo "no DEP-5 copyright"; failed=1; }
# The changelog's latest entry is the version being built, Debian revision 1 or later.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt")
zcat "$doc/changelog.Debian.gz" 2> /dev/null | head -n 1 | grep -qF "profiledesk ($version-" ||
    { echo "no changelog.Debian.gz entry for $version"; failed=1; }
exit $failed
