#!/usr/bin/env bash
# The run command: installs what is missing, builds the tool, starts a simulated unit on
# loopback (settings laid out by res/Pelta.xml, holding a commissioned unit's values) and then
# either the window pointed at it (with a display) or, without one, writes a sample firmware
# image into it with pelta-cli, reboots it, reads the new version, finds the unit with a
# discovery request to 127.0.0.1 alone, saves its network settings and compares its settings
# with the sample file it started from.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${PELTA_BUILD_ROOT:-$top/build}/run
bash "$top/scripts/deps.sh"
cmake -S "$top" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELTA_TESTS=OFF >/dev/null
cmake --build "$out" -j"$(nproc)"
echo "built into $out/bin"

bin=$out/bin
demo=$out/demo
sample=$demo/sample-firmware.bin
preferred_port=1502
sample_bytes=120000            # 10,000 records, a multiple of 4
listen_wait_s=10
mkdir -p "$demo"

# A sample image the simulator accepts (any content of a size that is a multiple of 4).
if [ ! -f "$sample" ] || [ "$(stat -c %s "$sample")" -ne "$sample_bytes" ]; then
  head -c "$sample_bytes" /dev/urandom > "$sample"
fi

sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
  fi
}
trap stop_sim EXIT INT TERM

# Reads the simulator's output until its listening line; sets host. False when it never came.
wait_listening() {
  local line n=0
  while [ $n -lt 50 ] && IFS= read -r -t "$listen_wait_s" line <&"${SIM[0]}"; do
    n=$((n + 1))
    echo "$line" >> "$demo/sim.log"
    case "$line" in
      "pelta-sim: listening tcp "*) host=${line#pelta-sim: listening tcp }; host=${host%% *}; return 0 ;;
    esac
  done
  return 1
}

# The usual demo port when it is free, else any free port.
start_sim() {
  local port=$1
  : > "$demo/sim.log"
  coproc SIM { exec "$bin/pelta-sim" --listen 127.0.0.1 --port "$port" --udp-port same \
                    --state-dir "$demo/unit" --reboot-delay 500 \
                    --description "$bin/res/Pelta.xml" --settings-values "$bin/res/samples/Pelta-ru.xml" 2>&1; }
  sim_pid=$SIM_PID
  if wait_listening; then return 0; fi
  stop_sim
  return 1
}
start_sim "$preferred_port" || start_sim 0 || { cat "$demo/sim.log"; echo "pelta-sim did not start"; exit 1; }
echo "simulated unit listening on $host (state in $demo/unit)"

if [ -n "${DISPLAY:-}" ] && [ -x "$bin/pelta-flasher" ]; then
  # Preset the unit's address in the window's user settings, keeping the other choices.
  settings=$bin/res/settings.xml
  if [ -f "$settings" ] && grep -q '<dev ' "$settings"; then
    sed -i "s|<dev host=\"[^\"]*\"|<dev host=\"$host\"|" "$settings"
  else
    cat > "$settings" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<pelta_flasher_settings>
  <fileHeader formatVerMaj="1" formatVerMin="0"/>
  <dev host="$host" password="1"/>
</pelta_flasher_settings>
EOF
  fi
  echo "starting pelta-flasher; pick $sample with Device -> Write firmware"
  # The file chooser opens in the current folder, where the sample image waits.
  (cd "$demo" && "$bin/pelta-flasher")
  exit 0
fi

echo "no display: writing the sample image with pelta-cli"
cli=$bin/pelta-cli
"$cli" version --host "$host"
"$cli" write-firmware "$sample" --host "$host"
"$cli" reboot --host "$host"
# The unit comes back after its reboot and announces it.
wait_listening || { echo "the unit did not come back"; exit 1; }
"$cli" version --host "$host"
# Discovery asks 127.0.0.1 alone (never the machine's networks); the simulator's discovery port
# has the TCP port's number.
"$cli" discover --broadcast 127.0.0.1 --port "${host##*:}"
# The unit's network settings as a settings file, and whether they still match the sample.
"$cli" settings-read "$demo/unit-network.xml" --host "$host" --group 1000
"$cli" settings-diff "$bin/res/samples/Pelta-ru.xml" --host "$host" || [ $? -eq 4 ]
