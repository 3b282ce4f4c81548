#!/usr/bin/env bash
# Makes the NTFS volume the loader benchmark reads: about 100,000 files in
# 1,000 folders of a 2 GiB sparse image, formatted with mkntfs and filled
# through an ntfs-3g mount. Run as root (FUSE). The image is large, so it is
# made on demand, never committed.
#
#   bench/make_ntfs_volume.sh IMAGE [FILES]
set -euo pipefail

image=$1
files=${2:-100000}
mnt=$(mktemp -d)
cleanup() {
  mountpoint -q "$mnt" && umount "$mnt"
  rmdir "$mnt"
}
trap cleanup EXIT

rm -f "$image"
truncate -s 2G "$image"
mkntfs -F -Q -q -s 512 -c 4096 -L bench "$image"
ntfs-3g "$image" "$mnt"
python3 - "$mnt" "$files" <<'PY'
import os, sys
root, files = sys.argv[1], int(sys.argv[2])
per_folder = 100
for n in range(files):
    folder = os.path.join(root, "set%03d" % (n // (per_folder * 100)), "folder%05d" % (n // per_folder))
    if n % per_folder == 0:
        os.makedirs(folder, exist_ok=True)
    # Mostly small files (data kept in the record), every tenth one larger.
    size = 4096 * 3 if n % 10 == 0 else n % 700
    with open(os.path.join(folder, "document_%06d.txt" % n), "wb") as f:
        f.write(bytes([n & 0xFF]) * size)
PY
umount "$mnt"
