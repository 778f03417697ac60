#!/usr/bin/env bash
# The test command: installs what is missing, then builds and runs every test in a plain build,
# in an AddressSanitizer + UndefinedBehaviorSanitizer build, and the thread tests under
# ThreadSanitizer. Any failure (a sanitizer report included) fails the run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${PELTA_BUILD_ROOT:-$top/build}
jobs=$(nproc)
bash "$top/scripts/deps.sh"

run_build() {   # name, ctest args, cmake args...
  local name=$1 ctest_args=$2; shift 2
  echo "=== $name build"
  cmake -S "$top" -B "$out/$name" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELTA_BENCH=OFF "$@" >/dev/null
  cmake --build "$out/$name" -j"$jobs"
  echo "=== $name tests"
  (cd "$out/$name" && ctest --output-on-failure -j"$jobs" $ctest_args)
}
run_build plain ""
run_build asan "" -DSANITIZE=address,undefined
run_build tsan "-L tsan" -DSANITIZE=thread
echo "=== all test runs passed"
