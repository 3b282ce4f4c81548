#!/usr/bin/env bash
# qvbackup count on a folder tree made here: the files and bytes of each
# category, as GpExt.xml groups the extensions, against numbers computed
# here from the tree; exclusions, a base folder on another drive, whole
# partitions, another GpExt.xml, and the exit codes of bad usage.
source "$(dirname "$0")/common.sh"
groups=$(dirname "$qvbackup")/GpExt.xml

put() { mkdir -p "$(dirname "$work/tree/$1")"; head -c "$2" /dev/urandom > "$work/tree/$1"; }
put photos/a.jpg 1000
put photos/B.PNG 2345
put photos/raw/c.nef 70000
put photos/private.jpg 888
put "photos/Album.jpg/inside.txt" 10      # a folder named like a picture
put music/song.mp3 4096
put music/track.FLAC 12345
put video/clip.mkv 100000
put docs/report.pdf 777
put docs/notes.txt 5
put docs/sheet.xlsx 0
put docs/draft.txt 44
put mail/inbox.mbox 333
put money/books.qif 222
put misc/readme 50
put misc/archive.tar.gz 60
put skip/secret.jpg 999

# expected GROUPS FOLDER [excluded folder|file path|name|ext]...: the JSON
# the count must print, computed from the files on disk.
expected() {
  python3 - "$@" <<'PY'
import json, os, sys, xml.etree.ElementTree as ET
groups_file, top, *exclusions = sys.argv[1:]
groups = {}
for group in ET.parse(groups_file).getroot().iter('groupe'):
    groups.setdefault(group.get('name'), set()).update(e.text.lower() for e in group.iter('extension'))
def excluded(path, name, ext):
    for rule in exclusions:
        kind, value = rule.split(':', 1)
        if kind == 'path' and (path == value or path.startswith(value + '/')): return True
        if kind == 'name' and name.lower() == value.lower(): return True
        if kind == 'ext' and ext == value.lower(): return True
    return False
names = ['Pictures', 'Music', 'Video', 'Offices', 'Mail', 'Financial']
totals = [[0, 0] for _ in names]
others = [0, 0]
for folder, _, files in os.walk(top):
    for name in files:
        path = os.path.join(folder, name)
        ext = name.rsplit('.', 1)[1].lower() if '.' in name.strip('.') else ''
        if excluded(path, name, ext): continue
        size = os.path.getsize(path)
        listed = False
        for i, category in enumerate(names):
            if ext in groups.get(category, ()):
                totals[i][0] += 1; totals[i][1] += size; listed = True
        if not listed:
            others[0] += 1; others[1] += size
every = totals + [others]
print(json.dumps({'categories': [{'number': i + 1, 'name': n, 'files': t[0], 'bytes': t[1]}
                                 for i, (n, t) in enumerate(zip(names, totals))],
                  'others': {'files': others[0], 'bytes': others[1]},
                  'total': {'files': sum(t[0] for t in every), 'bytes': sum(t[1] for t in every)}},
                 sort_keys=True))
PY
}
normal() { python3 -c 'import json,sys; print(json.dumps(json.load(sys.stdin), sort_keys=True))'; }

# The whole tree, as JSON and as the table.
got=$("$qvbackup" count --base "$work/tree" --json | normal)
want=$(expected "$groups" "$work/tree")
[[ $got == "$want" ]] || fail "tree: got $got, want $want"
table=$("$qvbackup" count --base "$work/tree")
python3 - "$want" "$table" <<'PY' || fail "table: $table"
import json, sys
rows = [line.split() for line in sys.argv[2].splitlines()]
assert rows[0][:3] == ['Category', 'Files', 'Bytes'], rows[0]
want = json.loads(sys.argv[1])
categories = want['categories']
for row, category in zip(rows[1:7], categories):
    assert row[0] == category['name'] and int(row[1]) == category['files'] and int(row[2]) == category['bytes'], row
assert rows[7][:3] == ['Others', str(want['others']['files']), str(want['others']['bytes'])], rows[7]
# Total: the columns of every row above it added up, Others included.
assert rows[8][0] == 'Total' and len(rows) == 9, rows
for column in (1, 2):
    assert int(rows[8][column]) == sum(int(row[column]) for row in rows[1:8]), (column, rows)
PY
# Five pictures, not the folder Album.jpg, whose text file is one of the
# five office files: the numbers above are not equal by accident.
python3 -c '
import json, sys
w = json.loads(sys.argv[1]); c = w["categories"]
assert c[0]["files"] == 5 and c[3]["files"] == 5, c
# Others: misc/readme and misc/archive.tar.gz, which no group lists.
assert w["others"] == {"files": 2, "bytes": 110}, w["others"]' "$want" || fail "tree expectation: $want"

# Exclusions: a folder, a file by path, a file by name in any folder, an
# extension given with its dot and in another case.
got=$("$qvbackup" count --base "$work/tree" --json --exclude-dir "$work/tree/skip" \
      --exclude-file "$work/tree/docs/draft.txt" --exclude-file PRIVATE.jpg --exclude-ext .PDF | normal)
want=$(expected "$groups" "$work/tree" "path:$work/tree/skip" "path:$work/tree/docs/draft.txt" \
       name:private.jpg ext:pdf)
[[ $got == "$want" ]] || fail "exclusions: got $got, want $want"

# Relative paths are the current folder's, and GpExt.xml is found beside
# the program wherever it runs from.
got=$(cd "$work" && "$qvbackup" count --base tree/photos --json | normal)
[[ $got == "$(expected "$groups" "$work/tree/photos")" ]] || fail "relative base: $got"

# A base on another drive is counted on that drive; whole partitions too.
want=$(expected "$groups" "$work/tree/music")
got=$("$qvbackup" count --drive "E=$work/tree" --base 'E:\music' --json | normal)
[[ $got == "$want" ]] || fail "base on E: $got"
got=$("$qvbackup" count --drive "E=$work/tree" --base "$work/tree/music" --json | normal)
[[ $got == "$want" ]] || fail "native base on E: $got"
got=$("$qvbackup" count --drive "E=$work/tree" --drive "G=$work/tree/music" --partitions e,G --json | normal)
want=$(python3 -c '
import json, sys
a, b = (json.loads(x) for x in sys.argv[1:])
for x, y in zip(a["categories"] + [a["others"], a["total"]], b["categories"] + [b["others"], b["total"]]):
    x["files"] += y["files"]; x["bytes"] += y["bytes"]
print(json.dumps(a, sort_keys=True))' "$(expected "$groups" "$work/tree")" "$want")
[[ $got == "$want" ]] || fail "partitions E and G: got $got, want $want"

# Another GpExt.xml: its groups decide, a category it lacks counts nothing.
mkdir "$work/groups"
cat > "$work/groups/GpExt.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<gpext>
  <groupe name="Pictures"><extension>mkv</extension></groupe>
  <groupe name="Mail"><extension>jpg</extension><extension>gz</extension></groupe>
</gpext>
XML
got=$("$qvbackup" count --base "$work/tree" --groups "$work/groups" --json | normal)
want=$(expected "$work/groups/GpExt.xml" "$work/tree")
[[ $got == "$want" ]] || fail "own groups: got $got, want $want"
grep -q '"bytes": 100000, "files": 1, "name": "Pictures"' <<<"$got" || fail "own groups pictures: $got"

# Usage and failures: 2 for a wrong command line, 1 when it cannot count.
status() { set +e; "$qvbackup" count "$@" >"$work/out" 2>"$work/err"; echo $?; set -e; }
[[ $(status --help) == 0 ]] && grep -q '^usage: qvbackup count' "$work/out" || fail "--help"
for bad in "" "--base $work/tree --partitions C" "--partitions C1" "--partitions ," "--frobnicate" \
           "--base $work/tree extra" "--base $work/tree --exclude-ext ." "--base" "--base $work/tree --base $work"; do
  # shellcheck disable=SC2086
  [[ $(status $bad) == 2 ]] || fail "'$bad' is not a usage error"
  grep -q "^qvbackup: count: " "$work/err" && grep -q "^Try 'qvbackup count --help'" "$work/err" || fail "'$bad' message"
  [[ ! -s $work/out ]] || fail "'$bad' printed on stdout"
done
[[ $(status --base "$work/missing") == 1 ]] && grep -q "^qvbackup: .*missing: " "$work/err" || fail "missing base"
[[ $(status --base "$work/tree/docs/notes.txt") == 1 ]] || fail "file as base"
[[ $(status --partitions Q --json) == 1 ]] && grep -q '^qvbackup: Q:\\: ' "$work/err" || fail "unmapped partition"
python3 -c "
import json, sys
a = json.load(open(sys.argv[1]))
assert sorted(a) == ['error', 'exit'] and a['exit'] == 1 and a['error']['message'].startswith('Q:'), a" "$work/out" ||
  fail "the failure's answer: $(cat "$work/out")"
[[ $(status --base "$work/tree" --groups "$work/tree") == 1 ]] && grep -q 'GpExt.xml' "$work/err" || fail "no GpExt.xml"
[[ $(status --drive "E=$work/tree" --base "$work/tree" --drive 'E') == 2 ]] || fail "malformed --drive"
echo "count (folders): all checks passed"
