#!/bin/bash
# Discovery across namespaces: three simulated units on two segments answer one broadcast from
# the probe in the client namespace; a loopback-only namespace sends nothing; a namespace with
# 42 interface addresses lists them all. Usage: netns_discovery.sh PROBE PELTA_SIM.
# Exit 77 (skipped) without root or namespaces.
set -u
probe=$1 sim=$2 netns=$(dirname "$0")/../support/netns.sh work=$(mktemp -d)
[ "$(id -u)" -eq 0 ] || { echo "skipped: needs root"; exit 77; }
export NETNS_PREFIX="pm$$-"
trap 'bash "$netns" down "$NETNS_PREFIX" >/dev/null 2>&1; rm -rf "$work"' EXIT
bash "$netns" up "$NETNS_PREFIX" >"$work/up.log" 2>&1 || { echo "skipped: no namespaces"; cat "$work/up.log"; exit 77; }
for u in 1 2 3; do bash "$netns" exec "u$u" "$sim" --mac "02:00:00:00:00:0$u" >"$work/u$u.log" 2>&1 & done
for u in 1 2 3; do   # each unit prints its listening line once both sockets are bound
  for _ in $(seq 200); do grep -q listening "$work/u$u.log" && break; sleep 0.05; done
done
for i in $(seq 1 40); do ip -n "${NETNS_PREFIX}u3" addr add "10.78.$i.1/24" dev eth0; done
bash "$netns" exec cli timeout 30 "$probe" 1000 >"$work/cli.out" 2>&1
bash "$netns" exec lo timeout 30 "$probe" 500 >"$work/lo.out" 2>&1
bash "$netns" exec u3 "$probe" --list >"$work/u3.out" 2>&1
fail=0
check() { grep -qF -- "$2" "$work/$1.out" || { echo "FAIL: $1 lacks '$2'"; fail=1; }; }
for want in "unit 10.77.0.1 mac 02:00:00:00:00:01" "unit 10.77.0.2 mac 02:00:00:00:00:02" \
    "unit 10.77.1.1 mac 02:00:00:00:00:03" "answers 3" "log 0|Send to broadcast addresses:" \
    "log 0|		10.77.0.255" "log 0|		10.77.1.255"; do check cli "$want"; done
check lo "answers 0"
check lo "log 0|Send to broadcast addresses:"
grep -q "^log 0|	" "$work/lo.out" && { echo "FAIL: the loopback-only namespace sent"; fail=1; }
for want in "interfaces 42" "ifi 10.78.40.1 255.255.255.0 10.78.40.255 broadcast" \
    "ifi 10.77.1.1 255.255.255.0 10.77.1.255 broadcast" "ifi 127.0.0.1 255.0.0.0 127.255.255.255"; do check u3 "$want"; done
[ $fail = 0 ] || cat "$work"/*.out "$work"/u*.log
exit $fail
