#!/usr/bin/env bash
# The suite run from a clone in a folder only its owner may enter (as mktemp -d, a home
# folder or /root makes), under /tmp, with a space in its path: an end-to-end case, the
# PostgreSQL cases (whose server runs as another user) and the SQLite cases (one of them as
# uid 65534) must pass there as they do here, and so must the cases that preload a library
# built in the checkout (LD_PRELOAD cannot hold a path with a space as it is). The clone is
# removed afterwards.
# Usage: from_a_private_folder.sh SOURCE_DIR DESK_PROGRAM RECORDS_PROGRAM (77: no git checkout)
#   The programs built here are used there, as the clone is of the same commit: the point
#   is where the suite runs, not a second build.
set -euo pipefail
source_dir=$1
desk=$(realpath "$2")
records=$(realpath "$3")
if ! git -C "$source_dir" rev-parse --verify -q HEAD > /dev/null; then
    echo "the source is not a git checkout: nothing to clone; not checked"
    exit 77
fi

parent=$(mktemp -d /tmp/profiledesk-clone.XXXXXX)
trap 'rm -rf "$parent"' EXIT
[ "$(stat -c %a "$parent")" = 700 ] || { echo "mktemp made a folder others may enter"; exit 1; }
clone="$parent/a folder with spaces/profiledesk"
mkdir -p "$(dirname "$clone")"
git clone --quiet --no-hardlinks "$source_dir" "$clone"

cd "$clone"
cmake --preset dev > configure.log 2>&1 || { cat configure.log; exit 1; }
cp "$desk" build/dev/profiledesk
cp "$records" build/dev/profiledesk-records
cmake --build build/dev --target read_fails poll_like_macos > build.log 2>&1 || { cat build.log; exit 1; }
timeout 600 ctest --test-dir build/dev --output-on-failure --no-tests=error \
    -R '^(e2e\.option1-creates-file|office\.(collate_(postgres|sqlite(\.as_another_user)?)|export)|system\.closing_pause)$'
