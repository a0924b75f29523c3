#!/usr/bin/env bash
# Makes the wine prefix that the Windows build's cases run in (`init`), or stops its
# wine server once they are done (`stop`). A prefix made by 64-bit-only wine would try,
# and fail, to update itself on every start, printing on standard error; it is told not to.
set -eu
export WINEDEBUG=-all
case "$1" in
    init)
        wineboot --init > /dev/null 2>&1 || true
        wineserver -w
        echo disable > "$WINEPREFIX/.update-timestamp"
        ;;
    stop)
        wineserver -k 2>/dev/null || true
        ;;
esac
