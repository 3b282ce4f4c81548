#!/usr/bin/env bash
# Regenerates the FAT test images beside this script: formats image files
# with mkfs.fat and fills them with mtools, without mounting anything (no
# root needed). Needs dosfstools, mtools, sleuthkit, gzip and python3;
# installs nothing.
#
# For each image NAME it leaves:
#   NAME.img.gz     the volume, gzip -9n (no name or time in the header)
#   NAME.fls.txt    `fls -r -m / -z UTC` of the image: sleuthkit's "body
#                   file" form, one line per name (deleted ones, the volume
#                   label and its own $MBR/$FATn/$OrphanFiles too), fields
#                   separated by '|': md5|path|inode|mode|uid|gid|size|atime|
#                   mtime|ctime|crtime, in the order fls walks the tree
#                   (depth first, directory order). `fls -r -p` prints only
#                   "r/r 4:<TAB>path" ("r/r * 26:" for a deleted name): no
#                   sizes, no times, so -m is the one form that gives full
#                   paths, sizes and times in one parsable line. -z UTC makes
#                   fls read the DOS date/times, which carry no zone, as UTC.
#                   fls shows a date past 2038 (times/late.txt) as 0, and a
#                   folder's size as its clusters' bytes.
#   NAME.attrib.txt `mattrib -/` of the image: mtools' own listing of every
#                   live name with its attribute letters (A archive, S
#                   system, H hidden, R read-only), in the same tree order.
#
# Reproducible: the serial is fixed (-i) and mkfs.fat --invariant keeps its
# own time constant; mtools stamps folders (mmd) and the label (mlabel)
# with SOURCE_DATE_EPOCH, and files copied with mcopy -m keep the source's
# modification time, which mtools also writes as creation time and (its
# date) as last access date. TZ=UTC makes those DOS times UTC wall time.
#
# What mtools writes, checked with this version (4.0.32): a name that fits
# 8.3 in one case per part gets no long name, only the lower-case flags of
# byte 12 (readme.txt 0x18, notes.TXT 0x08, MAKE.bat 0x10); a mixed-case or
# longer name gets long-name entries and an alias (QUARTE~1.XLS); mdel marks
# the long-name entries and the short one 0xE5, and later names reuse the
# freed slots.
#
# File contents are generated, so they could be recomputed: byte i of a
# file with seed S is (S + 13*i + (i >> 9)) mod 256 (see pattern()).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export TZ=UTC LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 SOURCE_DATE_EPOCH=1262347200  # 2010-01-01 12:00

# pattern SEED SIZE FILE: writes the generated content.
pattern() {
  python3 - "$@" <<'PY'
import sys
seed, size, path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
with open(path, "wb") as f:
    f.write(bytes((seed + 13 * i + (i >> 9)) & 0xFF for i in range(size)))
PY
}

image=
seed=0
folders=0
# put SIZE 'DATE' DEST: copies a new generated file to ::DEST, dated DATE.
put() {
  local source="$work/source$seed"
  seed=$((seed + 1))
  pattern "$seed" "$1" "$source"
  touch -d "$2" "$source"
  mcopy -m -i "$image" "$source" "::$3"
}
# folder PATH: a new folder, each one a day and an hour (and 2 s) after the
# one before.
folder() {
  folders=$((folders + 1))
  SOURCE_DATE_EPOCH=$((SOURCE_DATE_EPOCH + folders * 90002)) mmd -i "$image" "::$1"
}

# put_many FOLDER FIRST LAST: files "member file number NNN.dat" (a long
# name of three entries each), copied in one mcopy in number order.
put_many() {
  local dir="$work/many$2" n
  mkdir "$dir"
  for n in $(seq -f %03g "$2" "$3"); do
    printf 'member %s\n' "$n" > "$dir/member file number $n.dat"
    touch -d "2020-06-$((10#$n % 28 + 1)) 08:$((10#$n % 60)):$((10#$n % 30 * 2))" "$dir/member file number $n.dat"
  done
  local files=()
  while IFS= read -r n; do files+=("$dir/$n"); done < <(cd "$dir" && ls | sort)
  mcopy -m -i "$image" "${files[@]}" "::$1/"
  rm -rf "$dir"
}

fill() {
  local big=$1
  # Short-only uppercase name, a long name with spaces (alias QUARTE~1.XLS),
  # an empty file and files around the 512-byte cluster of the small images.
  put 1000 '2021-03-04 05:06:08' README.TXT
  put 2345 '2021-03-05 10:20:30' 'Quarterly report.xlsx'
  put 0 '2021-03-06 00:00:00' empty.dat
  put 511 '2021-03-07 23:59:58' b511.bin
  put 512 '2021-03-07 23:59:58' b512.bin
  put 513 '2021-03-07 23:59:58' b513.bin
  put "$big" '2019-11-30 17:45:12' big.bin
  # Nested folders.
  folder docs
  folder docs/2021
  folder docs/2021/q1
  folder docs/2021/q1/deep
  put 100 '2021-04-01 09:00:00' docs/2021/q1/deep/report.txt
  put 200 '2021-04-02 09:00:00' docs/2021/summary.txt
  folder docs/empty
  # Short names whose case lives in the entry's flags: mtools writes no
  # long name for these, only the lower-case flags (0x18, 0x08, 0x10).
  folder lower
  put 10 '2021-05-01 12:00:00' lower/readme.txt
  put 11 '2021-05-01 12:00:02' lower/notes.TXT
  put 12 '2021-05-01 12:00:04' lower/MAKE.bat
  put 13 '2021-05-01 12:00:06' lower/Mixed.Txt  # mixed case needs a long name
  # A folder spanning many clusters, its chain broken by other files
  # allocated between its two batches.
  folder many
  put_many many 1 120
  put 30000 '2021-06-01 06:30:00' after_many.bin
  put_many many 121 200
  # Non-ASCII long names.
  folder international
  put 20 '2021-07-01 01:02:04' 'international/Café crème.txt'
  put 21 '2021-07-01 01:02:06' 'international/Straße.txt'
  put 22 '2021-07-01 01:02:08' 'international/日本語のファイル.txt'
  folder 'international/Répertoire été'
  put 23 '2021-07-01 01:02:10' 'international/Répertoire été/naïve café.txt'
  # Attributes.
  folder attrs
  put 30 '2021-08-01 10:00:00' attrs/hidden.txt
  put 31 '2021-08-01 10:00:00' attrs/system.sys
  put 32 '2021-08-01 10:00:00' attrs/readonly.txt
  put 33 '2021-08-01 10:00:00' attrs/all.txt
  folder attrs/Secret
  put 34 '2021-08-01 10:00:00' attrs/Secret/inside.txt
  mattrib -i "$image" +h ::attrs/hidden.txt ::attrs/all.txt
  mattrib -i "$image" +s ::attrs/system.sys ::attrs/all.txt
  mattrib -i "$image" +r ::attrs/readonly.txt ::attrs/all.txt
  mattrib -i "$image" +h ::attrs/Secret
  # Times in winter and in summer (for daylight rules), the first DOS day
  # and a late one.
  folder times
  put 40 '2021-01-15 12:00:00' times/winter.txt
  put 41 '2021-07-15 12:00:00' times/summer.txt
  put 42 '1980-01-01 00:00:00' times/dos_epoch.txt
  put 43 '2099-12-31 23:59:58' times/late.txt
  # A name the reader leaves out by rule.
  put 50 '2021-09-01 00:00:00' .hidden
  # Deleted: long-named files, one in the big folder, and a whole folder.
  put 60 '2021-10-01 00:00:00' 'A deleted long name.txt'
  put 61 '2021-10-01 00:00:00' 'many/Another removed file.bin'
  folder 'Old folder'
  put 62 '2021-10-01 00:00:00' 'Old folder/gone.txt'
  mdel -i "$image" '::A deleted long name.txt' '::many/Another removed file.bin'
  mdeltree -i "$image" '::Old folder'
  # After the deletions, so that its entry takes the first freed slots.
  put 70 '2021-11-11 11:11:10' last.txt
  mlabel -i "$image" ::QVTEST
}

make_image() {  # make_image NAME SIZE BIG_FILE_SIZE MKFS_OPTIONS...
  local name=$1 size=$2 big=$3
  shift 3
  image="$work/$name.img"
  seed=0
  folders=0
  truncate -s "$size" "$image"
  mkfs.fat --invariant -i 5A17C0DE "$@" "$image" > /dev/null
  fill "$big"
  fls -r -m / -z UTC "$image" > "$here/$name.fls.txt"
  mattrib -/ -i "$image" :: > "$here/$name.attrib.txt"
  gzip -9n < "$image" > "$here/$name.img.gz"
}

make_image fat12 1440K 100000 -F 12
make_image fat16 16M 1000000 -F 16
make_image fat32 40M 1000000 -F 32
# 4096-byte sectors, one per cluster: enough clusters for FAT16.
make_image fat16s4k 32M 1000000 -F 16 -S 4096 -s 1
ls -l "$here"
