#!/usr/bin/env bash
# Installs the Debian packages that building and testing pelkat need.
# Idempotent: when everything is already there it prints nothing and changes nothing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config ccache
  libgtest-dev libgmock-dev googletest
  sdcc sdcc-ucsim
  g++-mingw-w64-x86-64 wine64
  libusb-1.0-0-dev umockdev libumockdev-dev usbutils
  clang libclang-rt-14-dev
  tshark
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq >/dev/null
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
