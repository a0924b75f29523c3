#!/usr/bin/env bash
# Makes the wine prefix that the Windows build's cases run in (`init`), or stops its
# wine server once they are done (`stop`). A prefix made by 64-bit-only wine would try,
# and fail, to update itself on every start, printing on standard error; it is told not to.
# The server's folder lives in TMPDIR, in the build tree; `stop` removes it, and fails if
# wine made one under /tmp all the same.
set -eu
export WINEDEBUG=-all
case "$1" in
    init)
        mkdir -p -m 700 "$TMPDIR"
        wineboot --init > /dev/null 2>&1 || true
        wineserver -w
        echo disable > "$WINEPREFIX/.update-timestamp"
        ;;
    stop)
        wineserver -k 2>/dev/null || true
        server=$(printf 'server-%s-%x' "$(stat -c %D "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
        rm -rf "$TMPDIR"
        for left in /tmp/wine-*/"$server"; do
            if [ -e "$left" ]; then
                echo "wine left its server's folder under /tmp: $left"
                exit 1
            fi
        done
        ;;
esac
