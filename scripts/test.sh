#!/usr/bin/env bash
# Sets everything up and runs every test of both targets: the Linux build,
# the same tests under AddressSanitizer and UndefinedBehaviorSanitizer, and
# the Windows build under Wine; then each fuzz target for a short while over
# its seed corpus (the crashes kept in fuzz/regressions/ are replayed by the
# ordinary and sanitizer suites).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
export WINEDEBUG=-all
jobs=$(nproc)

for preset in default asan mingw; do
  echo "=== $preset ==="
  # The Windows build's self-extracting test runs the Linux qvbackup built first.
  native=()
  if [[ $preset == mingw ]]; then native=(-DQV_NATIVE_QVBACKUP="$PWD/build/default/bin/qvbackup"); fi
  cmake --preset "$preset" "${native[@]}" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  if [[ $preset == mingw ]]; then
    # Wine makes its prefix at its first run: two tests starting at once on
    # a new machine would both make it, and one of them fails.
    wineboot --init
    wineserver --wait
  fi
  ctest --preset "$preset" -j "$jobs"
done

echo "=== fuzz ==="
bash scripts/fuzz.sh "${QV_FUZZ_SECONDS:-30}"
