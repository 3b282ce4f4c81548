#!/usr/bin/env bash
# Sets everything up, builds qvbackup and indexes a small folder tree that it
# makes for the purpose.
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

build/default/bin/qvbackup scan "$example"
echo
build/default/bin/qvbackup scan --list "$example"
