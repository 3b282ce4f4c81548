#!/usr/bin/env bash
# Sets everything up, builds qvbackup, makes a small folder tree, indexes it,
# saves it into an encrypted archive through the engine, restores the archive
# into another folder and checks that every file came back.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target qvbackup

example=build/example
rm -rf "$example"
mkdir -p "$example/Documents/Letters" "$example/Pictures/2026" "$example/Music" "$example/Empty"
printf 'Dear reader,\n' > "$example/Documents/Letters/letter.txt"
printf 'quarterly figures\n' > "$example/Documents/report.doc"
head -c 200000 /dev/urandom > "$example/Pictures/2026/holiday.jpg"
head -c 50000 /dev/urandom > "$example/Music/song.mp3"

qvbackup=build/default/bin/qvbackup
"$qvbackup" scan "$example"
echo
"$qvbackup" scan --list "$example"
echo

archives=build/example-archives
restored=build/example-restored
rm -rf "$archives" "$restored"
mkdir -p "$archives" "$restored"
"$qvbackup" backup --password example "$example" "$archives" example
ls -l "$archives"
"$qvbackup" restore --password example "$archives" example "$restored"
# The restore recreates each file as Kelvar_<drive>\<its path>; on Linux the
# drive C is the root folder.
diff -r "$example" "$restored/Kelvar_C$(cd "$example" && pwd)" --exclude Empty
echo "every file restored identical to its source"
