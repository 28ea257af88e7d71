#!/bin/sh
# Each message catalog holds exactly the tool's messages: every text of the host sources
# with a non-ASCII character (the ASCII ones read the same in every language) has its
# translation there, and the catalog holds no message that the sources no longer have.
#   check_catalogs.sh SOURCE_DIR WORK_DIR
set -eu
source_dir=$1 work=$2
export LC_ALL=C.UTF-8
mkdir -p "$work"
cd "$source_dir"
xgettext --extract-all --from-code=UTF-8 --language=C++ --no-location -o "$work/all.pot" \
  $(find host -name '*.cpp' -o -name '*.h' | sort) 2>"$work/xgettext.log" ||
  { cat "$work/xgettext.log" >&2; exit 1; }
msggrep --msgid -E -e '[^[:cntrl:] -~]' -o "$work/messages.pot" "$work/all.pot"
status=0
for po in po/*.po; do
  msgcmp "$po" "$work/messages.pot" || { echo "check_catalogs: $po lacks the messages above" >&2; status=1; }
  msgcmp --use-untranslated "$work/messages.pot" "$po" ||
    { echo "check_catalogs: $po holds messages the sources do not have" >&2; status=1; }
done
exit $status
