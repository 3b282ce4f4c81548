#!/usr/bin/env bash
# Makes the FAT32 volume the FAT loader benchmark reads: about 50,000 files
# in folders of 100 (ten groups of folders) on a 1 GiB sparse image,
# formatted with mkfs.fat and filled with mtools from a prepared folder tree,
# without mounting (no root needed). The image is large, so it is made on
# demand, never committed.
#
#   bench/make_fat_volume.sh IMAGE [FILES]
#
# Needs dosfstools, mtools and python3. Names are long (a long-name entry
# and the short one each), as on most real volumes.
set -euo pipefail

image=$1
files=${2:-50000}
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT

start=$(date +%s.%N)
python3 - "$tree" "$files" <<'PY'
import os, sys
root, files = sys.argv[1], int(sys.argv[2])
per_folder = 100
for n in range(files):
    folder = os.path.join(root, "Group %02d" % (n // (per_folder * 50)), "Folder %05d" % (n // per_folder))
    if n % per_folder == 0:
        os.makedirs(folder, exist_ok=True)
    # Mostly small files, every tenth one a few clusters.
    size = 4096 * 3 if n % 10 == 0 else n % 700
    with open(os.path.join(folder, "Document %06d.txt" % n), "wb") as f:
        f.write(bytes([n & 0xFF]) * size)
PY
prepared=$(date +%s.%N)

rm -f "$image"
truncate -s 1G "$image"
mkfs.fat -F 32 -i 5A17BE4C -n BENCH "$image" > /dev/null
export MTOOLS_SKIP_CHECK=1
mcopy -s -m -i "$image" "$tree"/* ::
done_at=$(date +%s.%N)

python3 - "$start" "$prepared" "$done_at" "$files" <<'PY'
import sys
start, prepared, done, files = map(float, sys.argv[1:])
print("%d files: tree prepared in %.1f s, image formatted and filled in %.1f s"
      % (files, prepared - start, done - prepared))
PY
