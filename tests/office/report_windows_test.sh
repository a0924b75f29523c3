#!/usr/bin/env bash
# The Windows build under wine draws the report page the Linux build draws: byte for byte
# the same as the newest Linux build's page when one is there (build/release or build/dev),
# and in any case with the parts written here by hand, answers and names that look like
# markup kept as text. Also to a name outside the ANSI code page.
# Usage: report_windows_test.sh PROFILEDESK_RECORDS_EXE FRAGMENTS_DIR LINUX_PROGRAM...
set -u
program=$(realpath "$1")
fragments=$(realpath "$2")
shift 2
linux=$(ls -t "$@" 2> /dev/null | head -n 1)
work=$(mktemp -d -p "$(dirname "$program")")
trap 'rm -rf "$work"' EXIT
ulimit -f 65536
cd "$work" || exit 1
jane=$fragments/record-jane.txt
john=$fragments/record-john.txt
cat "$jane" "$john" > plain.dat
sed -e 's|Birth Is :: Accra|Birth Is :: \x01<img/src=x>Łódź{{title}}|' \
    -e 's|Center :: Ring-Road|Center :: \xff\xfeX\&quot;|' \
    -e 's|Environment) Is :: Accra-Mall|Environment) Is :: "\x27\&\x27"|' "$jane" > odd.dat
{ cat "$john"; head -c 900 "$jane"; } > cut.dat
title='<i>"A&B" Łódź {{x}}</i>'
arguments=(report --title "$title" 'de<sk>&"=odd.dat' plain.dat cut.dat)

failed=0
expect() {  # WHAT EXPECTED ACTUAL
    if [ "$2" != "$3" ]; then
        echo "$1 differs (expected, then actual):"; printf '%s\n' "$2" | cat -A; printf '%s\n' "$3" | cat -A
        failed=1
    fi
}
status=0
timeout 120 setsid -w wine "$program" "${arguments[@]}" > windows.html 2> err || status=$?
expect "status (a record cut short)" 1 "$status"
expect "problems told" $'odd.dat: not UTF-8 (a Windows desk? try --encoding CP1252)\ncut.dat:31: a record cut short (13 of 30 lines)' \
    "$(cat err)"
expect "the title, as text" '<title>&lt;i&gt;&quot;A&amp;B&quot; Łódź {{x}}&lt;&#x2F;i&gt;</title>' \
    "$(grep -m1 -o '<title>.*</title>' windows.html)"
expect "the totals" $'<tr><th>Records</th><td class="n">4</td></tr>\n<tr><th>Files</th><td class="n">3</td></tr>' \
    "$(grep -E '<th>(Records|Files)</th><td' windows.html)"
# In the table of files, the table of desks and the records that need a look: escaped in each.
expect "a desk named like markup" '<td class="answer">de&lt;sk&gt;&amp;&quot;</td>' \
    "$(grep -o '<td class="answer">de[^/]*/td>' windows.html | sort -u)"
expect "answers like markup, bytes not UTF-8 and controls" \
    $'\uFFFD&lt;img&#x2F;src=x&gt;Łódź{{title}}\n\uFFFD\uFFFDX&amp;quot;\n&quot;&#39;&amp;&#39;&quot;' \
    "$(grep -o '<td class="answer">[^<]*' windows.html | sed 's/.*>//' | grep -E 'img|X&|&#39;')"
expect "no CR in the page" 0 "$(tr -cd '\r' < windows.html | wc -c)"

timeout 120 setsid -w wine "$program" "${arguments[@]}" -o 'Raport – Łódź.html' 2> /dev/null
cmp -s windows.html 'Raport – Łódź.html' || { echo "the page written to a name outside the code page differs"; failed=1; }

if [ -n "$linux" ]; then
    timeout 120 "$linux" "${arguments[@]}" > linux.html 2> /dev/null
    cmp windows.html linux.html || { diff linux.html windows.html | head -20; failed=1; }
else
    echo "no Linux build to compare with: the parts above only"
fi
exit $failed
