#!/bin/bash
# Real broadcasts through the discovery channel, only inside network namespaces made here: three
# simulated units on two segments answer the client's one request; a loopback-only namespace
# sends nothing; a namespace with 42 interface addresses sends to every broadcast address.
# Usage: netns_discovery.sh PELTA_CLI PELTA_SIM. Exit 77 (skipped) without root or namespaces.
set -u
cli=$1 sim=$2 netns=$(dirname "$0")/../support/netns.sh work=$(mktemp -d)
[ "$(id -u)" -eq 0 ] || { echo "skipped: needs root"; exit 77; }
export NETNS_PREFIX="pm$$-"
trap 'bash "$netns" down "$NETNS_PREFIX" >/dev/null 2>&1; rm -rf "$work"' EXIT
bash "$netns" up "$NETNS_PREFIX" >"$work/up.log" 2>&1 || { echo "skipped: no namespaces"; cat "$work/up.log"; exit 77; }
for u in 1 2 3; do bash "$netns" exec "u$u" "$sim" --mac "02:00:00:00:00:0$u" >"$work/u$u.log" 2>&1 & done
for u in 1 2 3; do   # each unit prints its listening line once both sockets are bound
  for _ in $(seq 200); do grep -q listening "$work/u$u.log" && break; sleep 0.05; done
done
for i in $(seq 1 40); do ip -n "${NETNS_PREFIX}u3" addr add "10.78.$i.1/24" dev eth0; done
pids=()
for ns in cli lo u3; do bash "$netns" exec $ns timeout 60 "$cli" discover >"$work/$ns.out" 2>&1 & pids+=($!); done
wait "${pids[@]}"
fail=0
check() { grep -qF -- "$2" "$work/$1.out" || { echo "FAIL: $1 lacks '$2'"; fail=1; }; }
for want in "10.77.0.1     10.77.0.1  02:00:00:00:00:01" "10.77.0.2     10.77.0.2  02:00:00:00:00:02" \
    "10.77.1.1     10.77.1.1  02:00:00:00:00:03" "Send to broadcast addresses:" "		10.77.0.255" \
    "		10.77.1.255"; do check cli "$want"; done
check lo "Send to broadcast addresses:"
grep -q "		" "$work/lo.out" && { echo "FAIL: the loopback-only namespace sent"; fail=1; }
for i in 1 32 40; do check u3 "		10.78.$i.255"; done
[ "$(grep -c "		10\." "$work/u3.out")" = 41 ] || { echo "FAIL: not every address in u3"; fail=1; }
[ $fail = 0 ] || cat "$work"/*.out "$work"/u?.log
exit $fail
