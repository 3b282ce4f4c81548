#!/usr/bin/env bash
# Regenerates the seed corpus under fuzz/corpus/: small archives written by
# qvbackup, the index images and saved index files inside them, FAT volumes
# made by mkfs.fat and filled with mtools, an NTFS volume made by mkntfs and
# filled through an ntfs-3g mount, single MFT records taken from it, the
# shipped GpExt.xml with variants, and log configurations.
#   fuzz/make_corpus.sh QVBACKUP
# Needs dosfstools, mtools, ntfs-3g (FUSE), python3; installs nothing.
# Volume seeds are sparse (see fuzz_helpers.h, WriteSparseImage): only the
# sectors the readers look at are kept.
set -euo pipefail

qvbackup=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
corpus=$here/corpus
work=$(mktemp -d)
mnt=$work/mnt
cleanup() {
  mountpoint -q "$mnt" 2>/dev/null && umount "$mnt"
  rm -rf "$work"
}
trap cleanup EXIT
export TZ=UTC LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 SOURCE_DATE_EPOCH=1262347200
tools=$here/corpus_tools.py

rm -rf "$corpus"
mkdir -p "$corpus"/{index_image,index_file,archive,mft_record,ntfs_volume,fat_volume,group_xml,log_config,metadata_table}

# Archives: a small tree, plain and with the password the target offers.
src=$work/src
mkdir -p "$src/Docs/Deep" "$src/Empty"
printf 'letter\n' > "$src/Docs/letter.txt"
printf 'caf\xc3\xa9' > "$src/Docs/Deep/caf\xc3\xa9.txt"
python3 -c "import sys; sys.stdout.write('abc' * 300)" > "$src/Docs/three.doc"
: > "$src/zero.txt"
printf 'fuzz\n' > "$work/pw"
"$qvbackup" backup "$src" --to "$work/arch" --name plain --quiet > /dev/null
"$qvbackup" backup "$src/Docs/letter.txt" --to "$work/arch" --name secret --password-file "$work/pw" \
  --key-bits 128 --quiet > /dev/null
cp "$work/arch/plain.QVA" "$corpus/archive/plain"
cp "$work/arch/secret.QVA" "$corpus/archive/secret"

# The index image inside the plain archive, as an image and as a saved file.
python3 "$tools" image "$work/arch/plain.QVA" "$work/image.bin"
{ printf '\x00\x04'; cat "$work/image.bin"; } > "$corpus/index_image/plain"
{ printf '\x86\x00'; cat "$work/image.bin"; } > "$corpus/index_image/plain-chunked"
python3 "$tools" indexfile "$work/image.bin" "$work/index.bin"
{ printf '\x00'; cat "$work/index.bin"; } > "$corpus/index_file/plain"
{ printf '\x05'; cat "$work/index.bin"; } > "$corpus/index_file/plain-deleted"

# FAT volumes: one of each kind, a few folders, long and short names, a
# deleted file.
fat() {
  local name=$1 kind=$2 kib=$3 img=$work/$1.img
  mkfs.fat -C -F "$kind" -s 1 -S 512 -i 12345678 --invariant -n "${name^^}" "$img" "$kib" > /dev/null
  mmd -i "$img" ::/docs ::/docs/deep ::/empty
  printf 'hello' > "$work/readme.txt"
  python3 -c "import sys; sys.stdout.write('x' * 1500)" > "$work/Quarterly Report.xls"
  mcopy -m -i "$img" "$work/readme.txt" ::/readme.txt
  mcopy -m -i "$img" "$work/Quarterly Report.xls" ::/docs/deep/
  mcopy -m -i "$img" "$work/readme.txt" ::/docs/gone.txt
  mdel -i "$img" ::/docs/gone.txt
  { printf '\x00'; python3 "$tools" sparse "$img"; } > "$corpus/fat_volume/$name"
}
fat fat12 12 256
fat fat16 16 4200
fat fat32 32 34000

# An NTFS volume of 2 MiB with a small tree, a file with data outside its
# record, an alternate stream and a hard link.
img=$work/ntfs.img
truncate -s 2M "$img"
mkntfs -F -Q -q -s 512 -c 512 -H 0 -S 0 -p 0 -L fuzz "$img" > /dev/null 2>&1
mkdir -p "$mnt"
ntfs-3g -o streams_interface=xattr "$img" "$mnt"
mkdir -p "$mnt/docs/deep" "$mnt/empty"
printf 'hello' > "$mnt/readme.txt"
python3 -c "import sys; sys.stdout.write('y' * 3000)" > "$mnt/docs/deep/big.bin"
ln "$mnt/readme.txt" "$mnt/docs/also.txt"
python3 -c "import os; os.setxattr('$mnt/readme.txt', 'user.note', b'side')"
umount "$mnt"
{ printf '\x00'; python3 "$tools" ntfs "$img"; } > "$corpus/ntfs_volume/ntfs"
python3 "$tools" records "$img" "$corpus/mft_record"

# The shipped extension groups and two hand-made files.
cp "$here/../data/GpExt.xml" "$corpus/group_xml/shipped"
printf '<?xml version="1.0"?>\n<gpext><groupe name="Pictures"><extension>jpg</extension><extension>png</extension></groupe><groupe name="Music"/><groupe name="Pictures"><extension>gif</extension></groupe></gpext>\n' \
  > "$corpus/group_xml/small"
printf '<gpext>\n<groupe name="Offices"><extension>doc</extension>\n<!-- note --><extension><![CDATA[xls]]></extension></groupe>\n</gpext>' \
  > "$corpus/group_xml/comment"

# Log configurations: UTF-8, UTF-16 with its mark, quoted and odd values.
printf '[LOG]\nOutputName=run.LOG\nLogLevel=15\n' > "$corpus/log_config/plain"
printf '; comment\r\n[log]\r\n  outputname = "C:\\\\logs\\\\x.LOG" \r\nLogLevel=0x0D\r\n[LOG]\r\nLogLevel=1\r\n' \
  > "$corpus/log_config/crlf"
python3 -c "import sys; sys.stdout.buffer.write(b'\xff\xfe' + '[LOG]\r\nOutputName=\u00e9t\u00e9.LOG\r\nLogLevel=-3\r\n'.encode('utf-16-le'))" \
  > "$corpus/log_config/utf16"
printf '\xef\xbb\xbf[LOG]\nLogLevel\nOutputName=\nLogLevel=7abc\n' > "$corpus/log_config/bom"

du -sh "$corpus"/*

# Metadata tables: a record of each kind (a file with its owner's names,
# times and an extended attribute, a link, a further name with a field of a
# later version, a folder), one link alone, none.
python3 - "$corpus/metadata_table" << 'PY'
import os, struct, sys
def field(kind, value): return struct.pack("<HI", kind, len(value)) + value
def record(entry, fields):
    body = b"".join(fields)
    return struct.pack("<II", entry, len(body)) + body
def table(records): return b"QVMT" + struct.pack("<HHI", 1, 0, len(records)) + b"".join(records)
file = record(86, [field(1, struct.pack("<I", 0o644) + b"\x01"), field(2, struct.pack("<II", 1000, 100)),
                   field(3, b"alice"), field(4, b"users"), field(5, struct.pack("<qI", 1600000000, 5)),
                   field(6, struct.pack("<qI", -5, 999999999)),
                   field(9, struct.pack("<H", 12) + b"user.comment" + b"hi")])
link = record(400, [field(1, struct.pack("<I", 0o777) + b"\x03"), field(7, b"../target")])
name = record(512, [field(1, struct.pack("<I", 0o600) + b"\x01"), field(8, struct.pack("<I", 86)), field(77, b"later")])
folder = record(1024, [field(1, struct.pack("<I", 0o1777) + b"\x02")])
for label, records in [("sample", [file, link, name, folder]), ("empty", []), ("link", [link])]:
    open(os.path.join(sys.argv[1], label), "wb").write(table(records))
PY
