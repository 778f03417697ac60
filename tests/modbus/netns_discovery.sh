#!/bin/bash
# Discovery across namespaces: three simulated units on two segments answer one broadcast
# from the probe in the client namespace; a loopback-only namespace sends nothing; a unit
# namespace with 42 interface addresses lists them all.
# Usage: netns_discovery.sh PROBE PELTA_SIM. Exit 77 (skipped) without root or namespaces.
set -u
probe=$1 sim=$2
here=$(cd "$(dirname "$0")" && pwd)
netns=$here/../support/netns.sh
[ "$(id -u)" -eq 0 ] || { echo "skipped: needs root"; exit 77; }
P="pm$$-"
export NETNS_PREFIX=$P
work=$(mktemp -d)
cleanup() { bash "$netns" down "$P" >/dev/null 2>&1; rm -rf "$work"; }
trap cleanup EXIT
if ! bash "$netns" up "$P" >"$work/up.log" 2>&1; then
  echo "skipped: cannot create network namespaces"; cat "$work/up.log"; exit 77
fi

pids=()
for u in 1 2 3; do
  bash "$netns" exec "u$u" "$sim" --mac "02:00:00:00:00:0$u" >"$work/u$u.log" 2>&1 &
  pids+=($!)
done
# Each unit prints its listening line once both sockets are bound.
for u in 1 2 3; do
  ok=0
  for _ in $(seq 200); do
    grep -q "listening" "$work/u$u.log" && { ok=1; break; }
    sleep 0.05
  done
  [ $ok = 1 ] || { echo "FAIL: unit $u did not start"; cat "$work/u$u.log"; exit 1; }
done

fail=0
check() { grep -qF -- "$1" "$2" || { echo "FAIL: missing '$1'"; fail=1; }; }

bash "$netns" exec cli timeout 30 "$probe" 1000 >"$work/cli.out" 2>&1 || { echo "FAIL: probe in cli"; fail=1; }
cat "$work/cli.out"
check "unit 10.77.0.1 mac 02:00:00:00:00:01" "$work/cli.out"
check "unit 10.77.0.2 mac 02:00:00:00:00:02" "$work/cli.out"
check "unit 10.77.1.1 mac 02:00:00:00:00:03" "$work/cli.out"
check "answers 3" "$work/cli.out"
check "log 0|Send to broadcast addresses:" "$work/cli.out"
check "log 0|		10.77.0.255" "$work/cli.out"
check "log 0|		10.77.1.255" "$work/cli.out"

bash "$netns" exec lo timeout 30 "$probe" 500 >"$work/lo.out" 2>&1 || { echo "FAIL: probe in lo"; fail=1; }
cat "$work/lo.out"
check "answers 0" "$work/lo.out"
check "log 0|Send to broadcast addresses:" "$work/lo.out"
if grep -q "$(printf '^log 0|\t\t')" "$work/lo.out"; then echo "FAIL: loopback-only host sent"; fail=1; fi

# An interface list longer than one first query buffer (32 entries): 40 more addresses in u3,
# each of which is an IPv4 interface entry of its own.
for i in $(seq 1 40); do
  ip -n "${P}u3" addr add "10.78.$i.1/24" dev eth0 || { echo "FAIL: address $i"; fail=1; break; }
done
bash "$netns" exec u3 "$probe" --list >"$work/u3.out" 2>&1
check "interfaces 42" "$work/u3.out"
check "ifi 10.78.40.1 255.255.255.0 10.78.40.255 broadcast" "$work/u3.out"
check "ifi 10.77.1.1 255.255.255.0 10.77.1.255 broadcast" "$work/u3.out"
check "ifi 127.0.0.1 255.0.0.0 127.255.255.255" "$work/u3.out"

for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
exit $fail
