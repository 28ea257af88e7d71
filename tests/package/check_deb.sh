#!/usr/bin/env bash
# The Debian package of a build: its name, its files with their modes, what lintian says
# of it, its dependencies and its postinst; then pelkat-emu run from the package unpacked into a scratch root,
# a whole read run of the demonstration save and an erase under an English locale.
#   check_deb.sh CPACK BUILD_DIR WORK_DIR VERSION
set -euo pipefail
cpack=$1 build=$2 work=$3 version=$4
fail() { echo "check_deb: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work/root" "$work/run"
"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$work/pelkat_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb") among: $(cd "$work" && echo *.deb)"

# Regular files: mode, owner, path.
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $2, $6}' >"$work/files"
diff -u - "$work/files" <<'LIST' || fail "the package's files differ (- expected, + found)"
-rwxr-xr-x root/root ./usr/bin/pelkat
-rwxr-xr-x root/root ./usr/bin/pelkat-emu
-rw-r--r-- root/root ./usr/lib/udev/rules.d/60-pelkat.rules
-rw-r--r-- root/root ./usr/share/doc/pelkat/README.md
-rw-r--r-- root/root ./usr/share/doc/pelkat/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/pelkat/copyright
-rw-r--r-- root/root ./usr/share/locale/en/LC_MESSAGES/pelkat.mo
-rw-r--r-- root/root ./usr/share/man/man1/pelkat-emu.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/pelkat.1.gz
LIST

# Debian's package checker finds neither an error nor a warning.
command -v lintian >/dev/null || fail "no lintian (bash scripts/setup.sh test installs it)"
lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 || true
if grep -E '^[EW]: ' "$work/lintian.log" >"$work/lintian.found"; then
  cat "$work/lintian.found" >&2
  fail "lintian reports the errors and warnings above"
fi

dpkg-deb -f "$deb" Depends | grep -q 'libusb-1.0-0' || fail "Depends lacks libusb: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -e "$deb" "$work/control"
[ -x "$work/control/postinst" ] || fail "no executable postinst"
# The postinst asks udev to reload, and goes through when udevadm fails or is missing.
mkdir -p "$work/udev"
printf '#!/bin/sh\necho "$*" >>"%s/udev/calls"\nexit 1\n' "$work" >"$work/udev/udevadm"
chmod +x "$work/udev/udevadm"
PATH="$work/udev:/usr/bin:/bin" "$work/control/postinst" configure || fail "postinst fails with a failing udevadm"
grep -qx 'control --reload' "$work/udev/calls" || fail "postinst does not reload udev"
PATH=/nonexistent /bin/sh "$work/control/postinst" configure || fail "postinst fails without udevadm"

dpkg -x "$deb" "$work/root"
status=0
(cd "$work/run" && LC_ALL=C "$work/root/usr/bin/pelkat-emu" </dev/null >out.txt) || status=$?
[ "$status" -eq 0 ] || fail "pelkat-emu from the package exited with $status"
# "終了しました。" in Shift-JIS.
grep -q "$(printf '\x8f\x49\x97\xb9\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42')" "$work/run/out.txt" ||
  fail "pelkat-emu from the package did not finish its read"
[ "$(stat -c %s "$work/run/savedata.sav")" -eq 262144 ] || fail "savedata.sav is not 256 KiB"
# The unpacked programs find the package's English catalog beside them.
(cd "$work/run" && env -u LC_ALL -u LC_MESSAGES -u LANGUAGE LANG=en_US.UTF-8 \
  "$work/root/usr/bin/pelkat-emu" -- -e </dev/null >english.txt) || fail "the English erase run failed"
grep -q '^Finished\.$' "$work/run/english.txt" || fail "pelkat-emu from the package does not speak English"
