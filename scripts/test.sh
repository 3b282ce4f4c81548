#!/usr/bin/env bash
# Sets everything up and runs every test of both targets: the Linux build,
# the same tests under AddressSanitizer and UndefinedBehaviorSanitizer, and
# the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
export WINEDEBUG=-all
jobs=$(nproc)

for preset in default asan mingw; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
