#!/usr/bin/env bash
# Installs the Debian packages that pelkat needs:
#   bash scripts/setup.sh demo   what a plain build of pelkat and pelkat-emu needs
#   bash scripts/setup.sh test   that and everything the test command uses (the default)
# Idempotent: when everything is already there it prints nothing and changes nothing.
set -euo pipefail

# A compiler, CMake with make, pkg-config and libusb for the host, SDCC for the firmware.
demo=(cmake g++ make pkg-config libusb-1.0-0-dev sdcc)
# GoogleTest; ccache for repeated runs; s51 for the core benchmark; the Windows cross
# build and wine; umockdev and lsusb for the USB test bed; clang for the fuzzers; tshark
# for the USB traces; dpkg-dev for the package's dependencies; groff and mandoc to check
# the man pages.
test=(
  "${demo[@]}" ccache
  libgtest-dev libgmock-dev googletest
  sdcc-ucsim
  g++-mingw-w64-x86-64 wine64
  umockdev libumockdev-dev usbutils
  clang libclang-rt-14-dev
  tshark
  dpkg-dev groff-base mandoc
)

case "${1:-test}" in
  demo) packages=("${demo[@]}") ;;
  test) packages=("${test[@]}") ;;
  *) echo "usage: bash scripts/setup.sh [demo|test]" >&2; exit 2 ;;
esac

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
