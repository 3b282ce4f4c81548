#!/usr/bin/env bash
# qvbackup count on a FAT32 image mapped as a partition: the volume is read
# raw, and a file counts when the drive's folder holds it too (here the
# image's files copied out with mtools). The numbers are computed from the
# image's listing made by a forensic tool (fat32.fls.txt).
source "$(dirname "$0")/common.sh"
groups=$(dirname "$qvbackup")/GpExt.xml

gzip -dc "$data/fat/fat32.img.gz" > "$work/fat.img"
mkdir "$work/files"
MTOOLS_SKIP_CHECK=1 mcopy -s -m -n -i "$work/fat.img" '::/*' "$work/files/"
# A file only the folder holds: the raw index does not have it.
printf 'not in the image' > "$work/files/extra.txt"

# expected [excluded folder below the root]...: the count's JSON from the
# listing (body format: md5|name|inode|mode|uid|gid|size|atime|mtime|ctime|crtime).
expected() {
  python3 - "$groups" "$data/fat/fat32.fls.txt" "$@" <<'PY'
import json, sys, xml.etree.ElementTree as ET
groups_file, listing, *excluded = sys.argv[1:]
groups = {g.get('name'): {e.text for e in g.iter('extension')} for g in ET.parse(groups_file).getroot().iter('groupe')}
names = ['Pictures', 'Music', 'Video', 'Offices', 'Mail', 'Financial']
totals = [[0, 0] for _ in names]
others = [0, 0]
for line in open(listing, encoding='utf-8'):
    fields = line.rstrip('\n').split('|')
    name, mode, size = fields[1], fields[3], int(fields[6])
    if not mode.startswith('r/') or '(deleted)' in name or '(Volume Label Entry)' in name: continue
    if any(name.lower().startswith(folder.lower() + '/') for folder in excluded): continue
    leaf = name.rsplit('/', 1)[1]
    ext = leaf.rsplit('.', 1)[1].lower() if '.' in leaf.strip('.') else ''
    listed = False
    for i, category in enumerate(names):
        if ext in groups[category]: totals[i][0] += 1; totals[i][1] += size; listed = True
    if not listed: others[0] += 1; others[1] += size
every = totals + [others]
print(json.dumps({'categories': [{'number': i + 1, 'name': n, 'files': t[0], 'bytes': t[1]}
                                 for i, (n, t) in enumerate(zip(names, totals))],
                  'others': {'files': others[0], 'bytes': others[1]},
                  'total': {'files': sum(t[0] for t in every), 'bytes': sum(t[1] for t in every)}},
                 sort_keys=True))
PY
}
normal() { python3 -c 'import json,sys; print(json.dumps(json.load(sys.stdin), sort_keys=True))'; }

want=$(expected)
got=$("$qvbackup" count --drive "F=$work/files,$work/fat.img" --partitions F --json | normal)
[[ $got == "$want" ]] || fail "raw: got $got, want $want"
# The listing holds office files (text, a spreadsheet) in several folders.
python3 -c 'import json,sys; c=json.loads(sys.argv[1])["categories"]; assert c[3]["files"] >= 15, c' "$want" \
  || fail "listing: $want"

# Exclusions act on the raw index too, whole components ignoring case.
got=$("$qvbackup" count --drive "F=$work/files,$work/fat.img" --partitions F --json \
      --exclude-dir 'F:\LOWER' --exclude-dir 'F:\docs\2021\q1' | normal)
want=$(expected /lower /docs/2021/q1)
[[ $got == "$want" ]] || fail "raw with exclusions: got $got, want $want"

# Without the image the folder is walked, and the extra file counts.
got=$("$qvbackup" count --drive "F=$work/files" --partitions F --json)
python3 - "$(expected)" "$got" <<'PY' || fail "walked: $got"
import json, sys
raw, walked = (json.loads(x) for x in sys.argv[1:])
assert walked['others'] == raw['others'], walked
raw, walked = raw['categories'], walked['categories']
assert walked[3]['files'] == raw[3]['files'] + 1 and walked[3]['bytes'] == raw[3]['bytes'] + 16, walked
assert [c for i, c in enumerate(walked) if i != 3] == [c for i, c in enumerate(raw) if i != 3]
PY
# A drive with an image but no folder: nothing could be checked, it fails.
set +e
"$qvbackup" count --drive "F=,$work/fat.img" --partitions F >/dev/null 2>&1
[[ $? == 1 ]] || fail "partition without a folder"
set -e
echo "count (FAT image): all checks passed"
