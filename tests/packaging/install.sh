#!/usr/bin/env bash
# Every program runs from a tree installed under a temporary DESTDIR, with no build tree beside
# it; pelta-cli answers in Russian, so its catalogue was found there.
set -euo pipefail
build=$1 smoke=$2
work=$(mktemp -d)
sim_pid=""
trap 'set +e; [ -z "$sim_pid" ] || { kill "$sim_pid"; wait "$sim_pid"; } 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

DESTDIR=$work/root cmake --install "$build" --prefix /opt/pelta >"$work/install.log" ||
  { cat "$work/install.log"; fail "cmake --install"; }
prefix=$work/root/opt/pelta
[ ! -e "$prefix/bin/res" ] || fail "a build tree's res/ was installed beside the programs"

coproc SIM { exec "$prefix/bin/pelta-sim" --listen 127.0.0.1 --port 0 --udp-port 0 2>&1; }
sim_pid=$SIM_PID
host=""
while IFS= read -r -t 30 line <&"${SIM[0]}"; do
  case "$line" in
    "pelta-sim: listening tcp "*) host=${line#pelta-sim: listening tcp }; host=${host%% *}; break ;;
  esac
done
[ -n "$host" ] || fail "pelta-sim did not start listening"
out=$(LANG=C.UTF-8 LANGUAGE=ru "$prefix/bin/pelta-cli" version --host "$host") ||
  { echo "$out"; fail "pelta-cli version"; }
echo "$out" | grep -qx 'Версия прошивки: 1\.0\.0\.1' || { echo "$out"; fail "no Russian version line"; }

bash "$smoke" "$prefix/bin/pelta-flasher" installed || fail "pelta-flasher from the installed tree"
echo "installed tree ok"
