#!/usr/bin/env bash
# Regenerates the NTFS test images beside this script. Run as root: it formats
# image files with mkntfs, mounts them with ntfs-3g (FUSE) and fills them.
# Needs ntfs-3g, sleuthkit, gzip and python3 (for setxattr); installs nothing.
#
# For each image NAME it leaves:
#   NAME.img.gz   the volume, gzip -9n (no name or time in the header)
#   NAME.fls.txt  `fls -r -m /` of the image: sleuthkit's "body file" form,
#                 one line per name (deleted ones too), fields separated by
#                 '|': md5|path|inode-type-id|mode|uid|gid|size|atime|mtime|
#                 ctime|crtime. It is the one form of fls that gives full
#                 paths, sizes and all four times in one parsable line; it is
#                 the listing an independent tool makes of the same bytes.
#   NAME.istat.txt `istat` of the files whose data runs the tests decode
#                 (where sleuthkit says their clusters are).
#
# File contents are generated, so the tests can recompute them: byte i of a
# file with seed S is (S + 13*i + (i >> 9)) mod 256 (see pattern()).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
mnt="$work/mnt"
mkdir "$mnt"
cleanup() {
  mountpoint -q "$mnt" && umount "$mnt"
  rm -rf "$work"
}
trap cleanup EXIT

# pattern SEED SIZE FILE [OFFSET]: writes bytes OFFSET..OFFSET+SIZE-1 of the
# generated content at OFFSET (the file is created when missing).
pattern() {
  python3 - "$@" <<'PY'
import os, sys
seed, size, path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
offset = int(sys.argv[4]) if len(sys.argv) > 4 else 0
data = bytes((seed + 13 * i + (i >> 9)) & 0xFF for i in range(offset, offset + size))
with open(path, "r+b" if os.path.exists(path) else "wb") as f:
    f.seek(offset)
    f.write(data)
PY
}

setxattr() {  # setxattr FILE NAME VALUE
  python3 -c 'import os,sys; os.setxattr(sys.argv[1], sys.argv[2], sys.argv[3].encode())' "$@"
}

# mkntfs draws a random volume serial; a fixed one keeps the images
# reproducible and lets the tests check it. It sits at offset 72 of the boot
# sector and of its copy in the volume's last sector.
set_serial() {  # set_serial IMAGE SECTOR_SIZE
  local image=$1 sector=$2 size
  size=$(stat -c %s "$image")
  for at in 72 $((size - sector + 72)); do
    printf '\x88\x77\x66\x55\x44\x33\x22\x11' |
      dd of="$image" bs=1 seek="$at" conv=notrunc status=none
  done
}

fill() {
  local m=$1
  # Nested folders and an empty one.
  mkdir -p "$m/dir1/dir2/dir3/dir4" "$m/empty" "$m/links/a" "$m/links/b" "$m/links/c"
  pattern 1 100 "$m/dir1/dir2/dir3/dir4/deep.txt"
  # Small file: its data stays resident in the record.
  pattern 2 600 "$m/small.txt"
  # Large files: non-resident data.
  pattern 3 1048576 "$m/large.bin"
  pattern 4 300000 "$m/dir1/medium.bin"
  # Hard links: 2 and 3 names in different folders.
  pattern 5 5000 "$m/links/a/two.txt"
  ln "$m/links/a/two.txt" "$m/links/b/two_again.txt"
  pattern 6 7000 "$m/links/a/three.txt"
  ln "$m/links/a/three.txt" "$m/links/b/three_b.txt"
  ln "$m/links/a/three.txt" "$m/links/c/three_c.txt"
  # Long (220 characters) and non-ASCII names.
  local long
  long=$(printf 'L%.0s' $(seq 1 216)).txt
  pattern 7 50 "$m/$long"
  pattern 8 60 "$m/Überstraße_日本語_Ωμέγα.txt"
  mkdir "$m/Répertoire_été"
  pattern 9 70 "$m/Répertoire_été/naïve café.txt"
  # A separate DOS name set explicitly.
  pattern 10 80 "$m/Long Name With Spaces.text"
  setxattr "$m/Long Name With Spaces.text" system.ntfs_dos_name 'SHORT~1.TXT'
  # Fragmented file: grow it and a filler in turns (each append allocates
  # clusters after the other file's last ones), free the filler, grow more.
  local k
  for k in 0 1 2 3 4 5 6 7; do
    pattern 11 65536 "$m/fragmented.bin" $((k * 65536))
    sync
    pattern 12 65536 "$m/filler.bin" $((k * 65536))
    sync
  done
  rm "$m/filler.bin"
  sync
  pattern 11 $((65536 * 8)) "$m/fragmented.bin" $((8 * 65536))
  # Sparse file: 4 MiB, with 8 KiB of data at 2 MiB.
  truncate -s 4194304 "$m/sparse.bin"
  pattern 13 8192 "$m/sparse.bin" 2097152
  # A named data stream.
  pattern 14 40 "$m/streams.txt"
  setxattr "$m/streams.txt" user.extra 'named stream data'
  # One record with more names than fit: an attribute list and extension
  # records hold them.
  mkdir "$m/many"
  pattern 15 1000 "$m/many/base.txt"
  for i in $(seq 1 40); do
    ln "$m/many/base.txt" "$m/many/link_number_${i}_with_a_rather_long_name.txt"
  done
  # Names that look like system files, and the system folder.
  pattern 18 30 "$m/\$dollar.txt"
  mkdir "$m/System Volume Information"
  pattern 19 20 "$m/System Volume Information/tracking.log"
  # Deleted files.
  pattern 16 3000 "$m/deleted_small.txt"
  pattern 17 200000 "$m/deleted_large.bin"
  sync
  rm "$m/deleted_small.txt" "$m/deleted_large.bin"
}

make_image() {  # make_image NAME SECTOR_SIZE
  local name=$1 sector=$2 image="$work/$1.img"
  truncate -s 16M "$image"
  mkntfs -F -Q -q -s "$sector" -c 4096 -L "$name" "$image"
  set_serial "$image" "$sector"
  ntfs-3g -o streams_interface=xattr "$image" "$mnt"
  fill "$mnt"
  umount "$mnt"
  fls -r -m / "$image" > "$here/$name.fls.txt"
  : > "$here/$name.istat.txt"
  local path inode
  for path in \$MFT large.bin fragmented.bin sparse.bin small.txt many/base.txt; do
    inode=$(awk -F'|' -v p="/$path" '$2 == p { split($3, a, "-"); print a[1]; exit }' "$here/$name.fls.txt")
    { echo "### /$path"; istat "$image" "$inode"; } >> "$here/$name.istat.txt"
  done
  gzip -9n < "$image" > "$here/$name.img.gz"
}

# 512-byte sectors give 1024-byte file records; mkntfs has no record-size
# option but makes records as large as a sector, so 4096-byte sectors give
# 4096-byte records.
make_image ntfs1k 512
make_image ntfs4k 4096
ls -l "$here"
