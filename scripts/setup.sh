#!/usr/bin/env bash
# Installs the Debian packages that pelkat needs:
#   bash scripts/setup.sh demo   what a plain build of pelkat and pelkat-emu needs
#   bash scripts/setup.sh test   that and everything the test command uses (the default)
# Idempotent: when everything is already there it prints nothing and changes nothing.
set -euo pipefail

# A compiler, CMake with make, pkg-config and libusb for the host, SDCC for the firmware,
# gettext's msgfmt for the message catalogs.
demo=(cmake g++ make pkg-config libusb-1.0-0-dev sdcc gettext)
# GoogleTest; ccache for repeated runs; s51 for the core benchmark; the Windows cross
# build and wine; umockdev and lsusb for the USB test bed; clang for the fuzzers; tshark
# for the USB traces; dpkg-dev for the package's dependencies; groff and mandoc to check
# the man pages, lintian the package; locales for the English runs (en_US.UTF-8).
test=(
  "${demo[@]}" ccache
  libgtest-dev libgmock-dev googletest
  sdcc-ucsim
  g++-mingw-w64-x86-64 wine64
  umockdev libumockdev-dev usbutils
  clang libclang-rt-14-dev
  tshark
  dpkg-dev groff-base mandoc lintian
  locales
)

case "${1:-test}" in
  demo) packages=("${demo[@]}") ;;
  test) packages=("${test[@]}") ;;
  *) echo "usage: bash scripts/setup.sh [demo|test]" >&2; exit 2 ;;
esac

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq >/dev/null
  $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The tests' English runs need the en_US.UTF-8 locale generated.
if [ "${1:-test}" = test ] && ! locale -a 2>/dev/null | grep -qix 'en_US\.utf-\?8'; then
  echo "setup: generating the en_US.UTF-8 locale" >&2
  $sudo sed -i 's/^# *\(en_US\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -qx 'en_US.UTF-8 UTF-8' /etc/locale.gen || echo 'en_US.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi
