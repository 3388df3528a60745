#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any is
# missing; further package names on the command line are added to the list.
set -euo pipefail
need=(cmake g++ make pkg-config python3 libgtest-dev libcli11-dev libcairo2-dev gemmi-dev tao-pegtl-dev zlib1g-dev "$@")
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
