#!/usr/bin/env bash
# The Russian catalogue is complete and keeps every placeholder: each message the programs pass
# to a translation call, name as a kMsg constant or mark translatable in the interface file
# has a translation that is neither empty nor fuzzy, and every translation has the ^0..^9 of
# its message id.
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
  # Each entry without its header: where it is used, then its id.
  msgattrib --untranslated --no-obsolete "$work/merged.po" | sed '1,/^$/d'
  msgattrib --only-fuzzy --no-obsolete "$work/merged.po" | sed '1,/^$/d'
fi

# Placeholders: the same set of ^N on both sides, for every translated message.
python3 - "$po" <<'PY' || fail=1
import re, sys
entries, entry, key = [], {}, None
for line in open(sys.argv[1], encoding="utf-8"):
    line = line.strip()
    m = re.match(r'(msgid|msgstr) "(.*)"$', line)
    if m:
        if m.group(1) == "msgid" and entry:
            entries.append(entry)
            entry = {}
        key = m.group(1)
        entry[key] = m.group(2)
    elif line.startswith('"') and key:
        entry[key] += line[1:-1]
    elif not line.startswith('"'):
        key = None
entries.append(entry)
bad = 0
for e in entries:
    want = sorted(set(re.findall(r"\^[0-9]", e.get("msgid", ""))))
    have = sorted(set(re.findall(r"\^[0-9]", e.get("msgstr", ""))))
    if e.get("msgid") and e.get("msgstr") and want != have:
        print("placeholders differ (%s in the id, %s in the translation): %s" % (want, have, e["msgid"]))
        bad += 1
print("%d messages, %d with other placeholders" % (len(entries), bad))
sys.exit(1 if bad else 0)
PY
exit "$fail"
