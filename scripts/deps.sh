#!/usr/bin/env bash
# Installs the Debian packages that building and testing need and that are missing.
# Usage: deps.sh PACKAGE...   (as root on Debian; elsewhere it only says what is missing)
set -eu
missing=()
for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ] || ! command -v apt-get > /dev/null; then
    echo "missing packages: ${missing[*]} (install them, or run this as root on Debian)" >&2
    exit 1
fi
echo "installing: ${missing[*]}"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" > /dev/null
