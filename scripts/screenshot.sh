#!/usr/bin/env bash
# Makes docs/main-window.png and docs/settings-window.png from the real program under Xvfb: the
# tool reads the firmware version of a simulated unit on loopback (when pelta-sim is built) and
# the main window is captured; then the settings window is opened, the shown group is read from
# the unit and that window is captured.
# usage: scripts/screenshot.sh [BUILD_DIR] [OUTPUT_PNG] [SETTINGS_PNG]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build/plain}
out=${2:-$top/docs/main-window.png}
settings_out=${3:-$(dirname "$out")/settings-window.png}
bin="$build/bin"
[ -x "$bin/pelta-flasher" ] || { echo "no $bin/pelta-flasher: build first" >&2; exit 1; }

if [ -z "${PELTA_SHOT_IN_XVFB:-}" ]; then
  PELTA_SHOT_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build" "$out" "$settings_out"
fi

work=$(mktemp -d)
sim_pid=""
app_pid=""
cleanup() {
  for p in $app_pid $sim_pid; do
    if kill -0 "$p" 2>/dev/null; then kill "$p"; wait "$p" 2>/dev/null || true; fi
  done
  rm -rf "$work"
}
trap cleanup EXIT
cp "$bin/pelta-flasher" "$work/"
cp -r "$bin/res" "$work/res"
rm -rf "$work/res/settings.xml"

host=""
if [ -x "$bin/pelta-sim" ]; then
  mkfifo "$work/sim.out"
  "$bin/pelta-sim" --listen 127.0.0.1 --port 0 --udp-port 0 --version 1.3.2.7 \
    --description "$bin/res/Pelta.xml" --settings-values "$bin/res/samples/Pelta-ru.xml" >"$work/sim.out" 2>&1 &
  sim_pid=$!
  exec 3<"$work/sim.out"
  while IFS= read -r -t 10 line <&3; do
    if [[ $line =~ listening\ tcp\ ([0-9.]+):([0-9]+) ]]; then
      host="${BASH_REMATCH[1]}:${BASH_REMATCH[2]}"
      break
    fi
  done
  # Keep draining the simulator's output so that it never blocks on a full pipe.
  cat <&3 >/dev/null &
fi
if [ -n "$host" ]; then
  cat >"$work/res/settings.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE pelta_flasher_settings>
<pelta_flasher_settings>
	<dev host="$host" password="1" />
</pelta_flasher_settings>
XML
fi

"$work/pelta-flasher" &
app_pid=$!
win=$(timeout 30 xdotool search --sync --onlyvisible --name '^Pelta Flasher$' | head -1)
[ -n "$win" ] || { echo "the window did not appear" >&2; exit 1; }

# The status turns green when an operation has ended well; give it at most 10 s.
wait_success() {
  for _ in $(seq 50); do
    import -window "$win" "$work/shot.png"
    if convert "$work/shot.png" -format %c histogram:info: | grep -qi '#008000'; then return 0; fi
    sleep 0.2
  done
  return 1
}

if [ -n "$host" ]; then
  xdotool mousemove --window "$win" 450 300 key --window "$win" F5
  wait_success || echo "the version read did not end well" >&2
fi
import -window "$win" "$work/shot.png"
mkdir -p "$(dirname "$out")"
convert "$work/shot.png" -strip "$out"
echo "wrote $out ($(convert "$out" -format '%wx%h, %k colours' info:))"

if [ -n "$host" ]; then
  xdotool key --window "$win" F2
  dlg=$(timeout 30 xdotool search --sync --onlyvisible --name '^Device settings$' | head -1)
  [ -n "$dlg" ] || { echo "the settings window did not appear" >&2; exit 1; }
  sleep 0.5
  import -window "$dlg" "$work/before.png"
  xdotool mousemove --window "$dlg" 600 300 key --window "$dlg" ctrl+r
  # The table changes as the values arrive; the status is green again once the read has ended.
  for _ in $(seq 50); do
    import -window "$dlg" "$work/settings.png"
    changed=$(compare -metric AE "$work/before.png" "$work/settings.png" null: 2>&1 || true)
    if [ "${changed%% *}" != "0" ] && wait_success; then break; fi
    sleep 0.2
  done
  import -window "$dlg" "$work/settings.png"
  convert "$work/settings.png" -strip "$settings_out"
  echo "wrote $settings_out ($(convert "$settings_out" -format '%wx%h, %k colours' info:))"
fi
xdotool key --window "$win" ctrl+q 2>/dev/null || true
