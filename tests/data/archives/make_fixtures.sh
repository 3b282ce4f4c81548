#!/usr/bin/env bash
# Makes fixture archives with both builds: linux/ by the Linux build,
# windows/ by the Windows build under Wine. Run from the project's root after
# building the default and mingw presets, with the names of the fixtures to
# make (those new to tests/storage/archive_fixtures.h). A fixture already
# committed is kept as it is: it stands for the archives the version that
# made it wrote, which every later version must still read.
set -euo pipefail
cd "$(dirname "$0")"
if [[ $# -eq 0 ]]; then
  echo "usage: make_fixtures.sh NAME..." >&2
  exit 2
fi
for name in "$@"; do
  if compgen -G "linux/$name.*" >/dev/null || compgen -G "windows/$name.*" >/dev/null; then
    echo "$name is committed already: it stays as it was made" >&2
    exit 1
  fi
done
mkdir -p linux windows
../../../build/default/bin/qv_make_archive_fixtures "$PWD/linux" "$@"
WINEDEBUG=-all wine ../../../build/mingw/bin/qv_make_archive_fixtures.exe "Z:$PWD/windows" "$@"
ls -l linux windows
