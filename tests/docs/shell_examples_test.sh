#!/usr/bin/env bash
# Checks that every shell example in the manual page and the README is valid shell: each
# .EX block of the page as groff renders it, each ```sh block of the README, and each inline
# `command with arguments` there whose first word is the program or a command on the PATH.
# Usage: shell_examples_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
failed=0
checked=0

check() {  # check WHERE TEXT
    checked=$((checked + 1))
    local problem
    if ! problem=$(bash -n <<< "$2" 2>&1); then
        printf '%s: not valid shell:\n%s\n%s\n' "$1" "$2" "$problem"
        failed=1
    fi
}

# The manual page: the lines between .EX and .EE, rendered with the page's own escapes.
block=""
inside=0
while IFS= read -r line; do
    case "$line" in
        .EX) inside=1; block="" ;;
        .EE)
            inside=0
            check "man/profiledesk.1" "$(printf '.nf\n%s\n' "$block" | groff -Tascii -P-cbou | sed '/^$/d')" ;;
        *) [ "$inside" = 1 ] && block+="$line"$'\n' ;;
    esac
done < "$source_dir/man/profiledesk.1"

# The README: fenced sh blocks whole, then inline commands.
readme="$source_dir/README.md"
block=""
inside=0
while IFS= read -r line; do
    if [ "$inside" = 0 ] && [ "$line" = '```sh' ]; then
        inside=1; block=""
    elif [ "$inside" = 1 ] && [ "$line" = '```' ]; then
        inside=0; check "README.md" "$block"
    elif [ "$inside" = 1 ]; then
        block+="$line"$'\n'
    fi
done < "$readme"
while IFS= read -r span; do
    first=${span%% *}
    if [ "$span" != "$first" ] && { [ "$first" = profiledesk ] || command -v "$first" > /dev/null; }; then
        check "README.md" "$span"
    fi
done < <(grep -v '^    \|^```' "$readme" | grep -o '`[^`]*`' | tr -d '`')

# A manual page and a README with no example at all would pass unseen.
[ "$checked" -ge 5 ] || { echo "only $checked examples found"; failed=1; }
echo "$checked examples checked"
exit $failed
