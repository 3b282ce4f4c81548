#!/usr/bin/env bash
# Makes the fixture archives with both builds: linux/ by the Linux build,
# windows/ by the Windows build under Wine. Run from the project's root after
# building the default and mingw presets.
set -euo pipefail
cd "$(dirname "$0")"
rm -rf linux windows
mkdir linux windows
../../../build/default/bin/qv_make_archive_fixtures "$PWD/linux"
WINEDEBUG=-all wine ../../../build/mingw/bin/qv_make_archive_fixtures.exe "Z:$PWD/windows"
ls -l linux windows
