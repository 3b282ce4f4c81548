#!/usr/bin/env bash
# qvbackup lst on a FAT32 image mapped as a partition and read raw: the
# items of the list file against the image's listing made by a forensic
# tool (fat32.fls.txt), names beyond ASCII included, and the age filter on
# the image's own creation and write times, with time zones.
source "$(dirname "$0")/common.sh"
groups=$(dirname "$qvbackup")/GpExt.xml
# DOS times carry no zone; the image's are UTC wall times.
export TZ=UTC

gzip -dc "$data/fat/fat32.img.gz" > "$work/fat.img"
mkdir "$work/files"
MTOOLS_SKIP_CHECK=1 mcopy -s -m -n -i "$work/fat.img" '::/*' "$work/files/"
printf 'not in the image' > "$work/files/extra.txt"
drive=(--drive "F=$work/files,$work/fat.img" --partitions F)

# check FILE SECTION CATEGORY|all SINCE: the section's items are the files
# of the listing (body format md5|name|inode|mode|uid|gid|size|atime|mtime|
# ctime|crtime) with an extension of the category, and with SINCE (Unix
# seconds, or empty) only those created or written at SINCE or later.
check() {
  python3 - "$groups" "$data/fat/fat32.fls.txt" "$@" <<'PY'
import sys, xml.etree.ElementTree as ET
groups_file, listing, path, section, category, since = sys.argv[1:]
groups = {g.get('name'): {e.text for e in g.iter('extension')} for g in ET.parse(groups_file).getroot().iter('groupe')}
want = []
for line in open(listing, encoding='utf-8'):
    fields = line.rstrip('\n').split('|')
    name, mode, mtime, crtime = fields[1], fields[3], int(fields[8]), int(fields[10])
    if not mode.startswith('r/') or '(deleted)' in name or '(Volume Label Entry)' in name: continue
    leaf = name.rsplit('/', 1)[1]
    ext = leaf.rsplit('.', 1)[1].lower() if '.' in leaf.strip('.') else ''
    if category != 'all' and ext not in groups[category]: continue
    # The listing shows a date past 2038 as 0: such a file is never old.
    if since and crtime != 0 and max(mtime, crtime) < int(since): continue
    want.append('F:' + name.replace('/', '\\'))
text = open(path, 'rb').read()[2:].decode('utf-16-le')
items, current = [], None
for line in text.split('\r\n'):
    if line.startswith('['): current = line[1:-1]
    elif current == section and line: items.append(line.split('=', 1)[1][:-len('|File')])
assert sorted(items) == sorted(want), (sorted(set(items) ^ set(want)), len(items), len(want))
PY
}

"$qvbackup" lst "$work/a.lst" "${drive[@]}" --categories offices >/dev/null
check "$work/a.lst" Selected Offices "" || fail "offices selected"
check "$work/a.lst" Include Offices "" || fail "offices included"

# Others reads the image's times: created or written from mid-June 2021 on.
since=$(date -u -d 2021-06-15 +%s)
"$qvbackup" lst "$work/b.lst" "${drive[@]}" --others --since 2021-06-15 >/dev/null
check "$work/b.lst" Include all "$since" || fail "others since 2021-06-15"
# times/winter.txt was created and written on 2021-01-15 at 12:00 UTC: a
# zone moves the same wall time to either side of it.
"$qvbackup" lst "$work/c.lst" "${drive[@]}" --others --since 2021-01-15T13:00+02:00 >/dev/null
check "$work/c.lst" Include all "$(date -u -d 2021-01-15T11:00Z +%s)" || fail "since 11:00 UTC"
"$qvbackup" lst "$work/d.lst" "${drive[@]}" --others --since 2021-01-15T11:00:00.000-02:00 >/dev/null
check "$work/d.lst" Include all "$(date -u -d 2021-01-15T13:00Z +%s)" || fail "since 13:00 UTC"
python3 - "$work/c.lst" "$work/d.lst" <<'PY' || fail "winter.txt on either side"
import sys
c, d = (open(p, 'rb').read().decode('utf-16') for p in sys.argv[1:])
assert 'F:\\times\\winter.txt|File' in c and 'F:\\times\\winter.txt|File' not in d
PY
echo "lst (FAT image): all checks passed"
