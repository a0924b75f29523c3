#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a user gets: the programs,
# compressed manual pages that render without a single warning, the copyright and the
# changelog where Debian keeps them.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" > /dev/null

failed=0
# A program's manual page: compressed reproducibly, rendering without a warning and with
# every section named.
check_page() {  # NAME SECTION...
    local page="$prefix/share/man/man1/$1.1.gz" section
    shift
    if [ ! -f "$page" ]; then
        echo "no share/man/man1/$(basename "$page")"; failed=1; return
    fi
    # Compressed with -n: no name or time stamp in the header, so the package is reproducible.
    [ "$(od -An -tx1 -j4 -N4 "$page" | tr -d ' ')" = 00000000 ] ||
        { echo "$(basename "$page"): gzip header has a time stamp"; failed=1; }
    warnings=$(zcat "$page" | groff -ww -z -man 2>&1)
    [ -z "$warnings" ] || { echo "groff warns on $(basename "$page"): $warnings"; failed=1; }
    rendered=$(MANWIDTH=80 man -l "$page" 2> /dev/null)
    for section in "$@"; do
        grep -q "^$section" <<< "$rendered" || { echo "$(basename "$page"): no $section section"; failed=1; }
    done
}
[ -x "$prefix/bin/profiledesk" ] || { echo "no bin/profiledesk"; failed=1; }
check_page profiledesk NAME SYNOPSIS DESCRIPTION ENVIRONMENT FILES "EXIT STATUS" EXAMPLES
[ -x "$prefix/bin/profiledesk-records" ] || { echo "no bin/profiledesk-records"; failed=1; }
check_page profiledesk-records NAME SYNOPSIS DESCRIPTION "EXIT STATUS" ENVIRONMENT FILES EXAMPLES
# Every command is documented in its own subsection.
for command in check export collate report; do
    grep -q "^   $command " <<< "$(MANWIDTH=80 man -l "$prefix/share/man/man1/profiledesk-records.1.gz" 2> /dev/null)" ||
        { echo "profiledesk-records.1: no subsection for $command"; failed=1; }
done
# The installed tool runs: its version names it.
"$prefix/bin/profiledesk-records" --version | grep -qx "profiledesk-records [0-9.]*" ||
    { echo "bin/profiledesk-records --version does not name it"; failed=1; }

doc="$prefix/share/doc/profiledesk"
grep -q '^Format: .*copyright-format/1.0/$' "$doc/copyright" 2> /dev/null || { echo "no DEP-5 copyright"; failed=1; }
# The changelog's latest entry is the version being built, Debian revision 1 or later.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt")
zcat "$doc/changelog.Debian.gz" 2> /dev/null | head -n 1 | grep -qF "profiledesk ($version-" ||
    { echo "no changelog.Debian.gz entry for $version"; failed=1; }
exit $failed
