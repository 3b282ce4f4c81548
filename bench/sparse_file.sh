#!/usr/bin/env bash
# Backup and restore of one sparse file (5 GiB, 4 MiB of data in two
# stretches) by qvbackup and, in the same run, by tar --sparse: seconds,
# the archive's size, and the restored file's size on disk, each restore
# checked byte for byte.
#   bench/sparse_file.sh [QVBACKUP]   (default build/bench/bin/qvbackup, built Release if missing)
set -euo pipefail
cd "$(dirname "$0")/.."
qvbackup=${1:-build/bench/bin/qvbackup}
if [[ ! -x $qvbackup ]]; then
  cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF > /dev/null
  cmake --build build/bench -j "$(nproc)" --target qvbackup > /dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src"
file=$work/src/disk.img
truncate -s 5G "$file"
head -c $((2 << 20)) /dev/urandom | dd of="$file" bs=1M seek=100 conv=notrunc status=none
head -c $((2 << 20)) /dev/urandom | dd of="$file" bs=1M seek=4000 conv=notrunc status=none

seconds() {
  local start
  start=$(date +%s.%N)
  "$@" > /dev/null
  echo "$(date +%s.%N) - $start" | bc
}
allocated() { echo $(($(stat -c %b "$1") * $(stat -c %B "$1"))); }
sync
qv_backup=$(seconds "$qvbackup" backup "$work/src" --to "$work/qv" --name s --quiet)
qv_restore=$(seconds "$qvbackup" restore "$work/qv/s.QVA" --to "$work/qvback" --quiet)
cmp -s "$file" "$work/qvback/Kelvar_C$file" || { echo "qvbackup restored other bytes" >&2; exit 1; }
tar_backup=$(seconds tar --sparse -cf "$work/s.tar" -C "$work" src)
mkdir "$work/tarback"
tar_restore=$(seconds tar -xf "$work/s.tar" -C "$work/tarback")
cmp -s "$file" "$work/tarback/src/disk.img" || { echo "tar restored other bytes" >&2; exit 1; }
printf "file: 5 GiB, %s bytes on disk\n" "$(allocated "$file")"
printf "qvbackup: backup %.3f s, restore %.3f s, archive %s bytes, restored file %s bytes on disk\n" "$qv_backup" \
  "$qv_restore" "$(stat -c %s "$work/qv/s.QVA")" "$(allocated "$work/qvback/Kelvar_C$file")"
printf "tar -S:   backup %.3f s, restore %.3f s, archive %s bytes, restored file %s bytes on disk\n" "$tar_backup" \
  "$tar_restore" "$(stat -c %s "$work/s.tar")" "$(allocated "$work/tarback/src/disk.img")"
printf "qvbackup vs tar -S: backup %.2fx the time, restore %.2fx\n" "$(echo "scale=6; $qv_backup / $tar_backup" | bc)" \
  "$(echo "scale=6; $qv_restore / $tar_restore" | bc)"
