#!/usr/bin/env bash
# The run command: installs what is missing and builds the tool.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${PELTA_BUILD_ROOT:-$top/build}/run
bash "$top/scripts/deps.sh"
cmake -S "$top" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELTA_TESTS=OFF >/dev/null
cmake --build "$out" -j"$(nproc)"
echo "built into $out/bin"
