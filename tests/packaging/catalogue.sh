#!/usr/bin/env bash
# Every message passed to a translation call, named as a kMsg constant or marked translatable in
# the interface file has a Russian translation, neither empty nor fuzzy, with its id's ^0..^9.
set -euo pipefail
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$src"
po=res/po/ru.po
mapfile -t sources < <(find app ui cli operations settings modbus channels base recoding \
                            -name '*.cpp' -o -name '*.h' | sort)
xgettext -C --from-code=UTF-8 -k -kTr -kTrArgs -kMsgBoxTr -kMessageText -kLogError \
  -o "$work/code.pot" "${sources[@]}"
# Messages named once as constants (const char kMsg...[] = "..."), as calls for xgettext.
perl -0ne 'while (/const char (kMsg\w*)\[\]\s*=\s*((?:"(?:[^"\\]|\\.)*"\s*)+);/g) { print "// $ARGV: $1\nTr($2);\n" }' \
  "${sources[@]}" >"$work/constants.cpp"
xgettext -C --from-code=UTF-8 -k -kTr --add-comments -o "$work/constants.pot" "$work/constants.cpp"
xgettext -L Glade -o "$work/ui.pot" res/UI/Main.glade 2>/dev/null
msgcat -o "$work/all.pot" "$work/code.pot" "$work/constants.pot" "$work/ui.pot"
msgmerge -q --no-fuzzy-matching -o "$work/merged.po" "$po" "$work/all.pot"

fail=0
for f in "$po" "$work/merged.po"; do
  stats=$(LC_ALL=C msgfmt --check --statistics -o /dev/null "$f" 2>&1)
  echo "$f: $stats"
  case "$stats" in *untranslated*|*fuzzy*) fail=1 ;; esac
done
if [ "$fail" -ne 0 ]; then
  echo "messages without a finished Russian translation (add them to $po):"
  msgattrib --untranslated --no-obsolete "$work/merged.po" | sed '1,/^$/d'
  msgattrib --only-fuzzy --no-obsolete "$work/merged.po" | sed '1,/^$/d'
fi

msgfmt -o "$work/ru.mo" "$po"
python3 - "$work/ru.mo" <<'PY' || fail=1
import gettext, re, sys
catalogue = gettext.GNUTranslations(open(sys.argv[1], "rb"))._catalog
marks = lambda text: sorted(set(re.findall(r"\^[0-9]", text)))
bad = [(i, s) for i, s in catalogue.items() if i and marks(i) != marks(s)]
for i, s in bad:
    print("placeholders differ (%s in the id, %s in the translation): %s" % (marks(i), marks(s), i))
print("%d messages, %d with other placeholders" % (len(catalogue) - 1, len(bad)))
sys.exit(1 if bad else 0)
PY
exit "$fail"
