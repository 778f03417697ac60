#!/usr/bin/env bash
# The real program under Xvfb: its window not blank, quit through the File menu, all eight user settings
# elements written. Run from a copy with res/ beside it, or "installed" with a temporary XDG_CONFIG_HOME.
set -euo pipefail
exe=$1
work=$(mktemp -d)
pid=""
trap '[ -z "$pid" ] || kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
if [ "${2:-}" = installed ]; then
  export XDG_CONFIG_HOME=$work/config
  settings=$XDG_CONFIG_HOME/pelta/settings.xml
else
  cp "$exe" "$work/pelta-flasher"
  cp -r "$(dirname "$exe")/res" "$work/res"
  rm -rf "$work/res/settings.xml"
  exe=$work/pelta-flasher
  settings=$work/res/settings.xml
fi

"$exe" 2>"$work/stderr" &
pid=$!
win=$(timeout 30 xdotool search --sync --onlyvisible --name '^Pelta Flasher$' | head -1)
[ -n "$win" ] || { echo "no window"; exit 1; }

# The window paints a little after it maps: shoot again until it is not blank (bounded).
for _ in $(seq 60); do
  import -window "$win" "$work/shot.png"
  colours=$(convert "$work/shot.png" -format '%k' info:)
  [ "$colours" -gt 20 ] && break
  sleep 0.5
done
echo "screenshot colours: $colours"
[ "$colours" -gt 20 ] || { echo "blank window"; exit 1; }

# By mouse: GTK names the File menu's popup after the program, and Quit is its only item.
xdotool mousemove --window "$win" 20 12 click 1
menu=$(timeout 30 xdotool search --sync --onlyvisible --maxdepth 1 --name '^pelta-flasher$' | head -1)
[ -n "$menu" ] || { echo "File menu did not open"; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$menu")"
xdotool mousemove --window "$menu" $((WIDTH / 2)) $((HEIGHT / 2)) click 1
timeout 60 bash -c "while kill -0 $pid 2>/dev/null; do sleep 0.1; done" || { echo "did not quit"; exit 1; }
rc=0
wait "$pid" || rc=$?
pid=""
[ "$rc" -eq 0 ] || { echo "exit code $rc"; cat "$work/stderr"; exit 1; }

[ -f "$settings" ] || { echo "settings.xml not written"; exit 1; }
for e in pelta_flasher_settings fileHeader window dev windowDevSettings windowDevFind devSettings options; do
  grep -q "<$e[ >]" "$settings" || { echo "missing element $e"; cat "$settings"; exit 1; }
done
echo "smoke ok"
