#!/usr/bin/env bash
# cpp-httplib for the office's view in a browser, the same header for every build, Windows too:
# Debian's own source package of it, with Debian's security patches applied (apt-get source,
# which checks it against the archive's signed index, then dpkg-source), from the Debian release
# named by PROFILEDESK_HTTPLIB_SUITE (trixie unless set) on the mirrors this machine's apt uses.
# Bookworm's 0.11 bounds neither the number of a request's headers nor the length of its lines.
# Usage: fetch_cpp_httplib.sh DEST   (DEST gets httplib.h and LICENSE; nothing else is written)
set -eu
dest=$(realpath -m "$1")
suite=${PROFILEDESK_HTTPLIB_SUITE:-trixie}
mkdir -p "$(dirname "$dest")"
work=$(mktemp -d "$dest.partial.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/source" "$work/parts"

# The machine's own Debian sources, for source packages of that release.
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$release" ] || { echo "fetch_cpp_httplib.sh: not a Debian release this script knows" >&2; exit 1; }
for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    # deb822 stanzas: those of Debian's own archive, as source, of the release asked for.
    awk -v release="$release" -v suite="$suite" '
        BEGIN { RS = ""; ORS = "\n\n" }
        /Signed-By: \/usr\/share\/keyrings\/debian-archive-keyring.gpg/ && /Types: deb/ {
            gsub(/Types: deb[^\n]*/, "Types: deb-src")
            gsub(release, suite)
            print
        }' "$file" >> "$work/parts/debian.sources"
done
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    awk -v release="$release" -v suite="$suite" '
        $1 == "deb" && $0 ~ ("[ \t]" release "([ \t-]|$)") { $1 = "deb-src"; gsub(release, suite); print }
    ' "$file" >> "$work/sources.list"
done
touch "$work/sources.list"

apt=(apt-get -q -o "Dir::Etc::SourceList=$work/sources.list" -o "Dir::Etc::SourceParts=$work/parts"
     -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache" -o APT::Sandbox::User=root)
"${apt[@]}" update > "$work/update.log" 2>&1 || { cat "$work/update.log" >&2; exit 1; }
(cd "$work/source" && "${apt[@]}" source cpp-httplib > ../source.log 2>&1) || { cat "$work/source.log" >&2; exit 1; }
header=$(echo "$work"/source/cpp-httplib-*/httplib.h)
[ -f "$header" ] || { echo "fetch_cpp_httplib.sh: no httplib.h in Debian's cpp-httplib" >&2; exit 1; }
mkdir "$work/result"
cp "$header" "$(dirname "$header")/LICENSE" "$work/result/"
# Another build may have fetched it meanwhile: the first one in stays.
mv -T "$work/result" "$dest" 2> /dev/null || true
[ -f "$dest/httplib.h" ]
