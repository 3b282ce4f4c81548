#!/usr/bin/env bash
# qvbackup lst on a folder tree mapped as drive E: the list file read back
# byte by byte (UTF-16LE with its byte order mark, CRLF lines, sections
# Parameters, Selected and Include, items "N=PATH|File" numbered from 0)
# against the files of the chosen categories; Others, exclusions, the age
# filter, where the file lands, and the exit codes of bad usage.
source "$(dirname "$0")/common.sh"
groups=$(dirname "$qvbackup")/GpExt.xml

put() { mkdir -p "$(dirname "$work/tree/$1")"; head -c "$2" /dev/urandom > "$work/tree/$1"; }
put photos/a.jpg 100
put photos/B.PNG 200
put "photos/Album.jpg/inside.txt" 10
put music/song.mp3 300
put docs/report.pdf 400
put docs/draft.txt 44
put "docs/with space é.docx" 55
put misc/readme 50
put skip/secret.jpg 60
touch -d '2099-01-01' "$work/tree/music/song.mp3"   # written in the future
mkdir "$work/out"
drive=(--drive "E=$work/tree")

# check FILE JSON-FROM-COMMAND SELECTED INCLUDE: the file's bytes and items;
# SELECTED and INCLUDE are the expected paths below the tree, ';'-separated.
check() {
  python3 - "$@" <<'PY'
import json, sys
path, reported, selected, include = sys.argv[1:]
data = open(path, 'rb').read()
assert data[:2] == b'\xff\xfe', 'no byte order mark'
text = data[2:].decode('utf-16-le')
assert text.endswith('\r\n') and '\n' not in text.replace('\r\n', ''), 'lines must end in CRLF'
sections, current = {}, None
for line in text.split('\r\n')[:-1]:
    if line.startswith('['):
        current = line[1:-1]; sections[current] = []
    else:
        sections[current].append(line)
assert list(sections) == ['Parameters', 'Selected', 'Include'], list(sections)
def items(name):
    paths = []
    for number, line in enumerate(sections[name]):
        key, value = line.split('=', 1)
        assert key == str(number) and value.endswith('|File'), line
        paths.append(value[:-len('|File')])
    return paths
def wanted(text):
    return sorted('E:\\' + p.replace('/', '\\') for p in text.split(';') if p)
got_selected, got_include = items('Selected'), items('Include')
assert sections['Parameters'] == ['Newerfiles=1', 'Selected=%d' % len(got_selected),
                                  'include=%d' % len(got_include)], sections['Parameters']
assert sorted(got_selected) == wanted(selected), (got_selected, wanted(selected))
assert sorted(got_include) == wanted(include), (got_include, wanted(include))
if reported:
    report = json.loads(reported)
    assert report['selected'] == len(got_selected) and report['include'] == len(got_include), report
PY
}
pictures_offices='photos/a.jpg;photos/B.PNG;photos/Album.jpg/inside.txt;docs/report.pdf;docs/draft.txt;docs/with space é.docx;skip/secret.jpg'
everything="$pictures_offices;music/song.mp3;misc/readme"

# Two categories: Include repeats Selected when Others is not asked for.
json=$("$qvbackup" lst "$work/out/a.lst" "${drive[@]}" --partitions E --categories pictures,OFFICES --json)
check "$work/out/a.lst" "$json" "$pictures_offices" "$pictures_offices" || fail "categories"
python3 -c 'import json,sys; r=json.loads(sys.argv[1]); assert r["file"]==sys.argv[2], r' "$json" \
  "C:$(sed 's|/|\\|g' <<<"$work/out/a.lst")" || fail "reported file: $json"
# The text report says where the file went; the file is replaced.
text=$("$qvbackup" lst "$work/out/a.lst" "${drive[@]}" --partitions E --categories music)
[[ $text == "Wrote C:$(sed 's|/|\\|g' <<<"$work/out/a.lst"): 1 file selected, 1 included" ]] || fail "text: $text"
check "$work/out/a.lst" "" "music/song.mp3" "music/song.mp3" || fail "replaced file"

# Others: every file goes in Include, the categories alone in Selected.
"$qvbackup" lst "$work/out/b.lst" "${drive[@]}" --partitions E --categories music --others --quiet >/dev/null
check "$work/out/b.lst" "" "music/song.mp3" "$everything" || fail "others"
"$qvbackup" lst "$work/out/c.lst" "${drive[@]}" --partitions E --others >/dev/null
check "$work/out/c.lst" "" "" "$everything" || fail "others alone"

# Exclusions: a folder, a file path, an extension (any case, with a dot).
"$qvbackup" lst "$work/out/d.lst" "${drive[@]}" --partitions E --categories pictures,offices --others \
  --exclude-dir "$work/tree/skip" --exclude-file 'E:\docs\draft.txt' --exclude-ext .PDF >/dev/null
kept='photos/a.jpg;photos/B.PNG;photos/Album.jpg/inside.txt;docs/with space é.docx'
check "$work/out/d.lst" "" "$kept" "$kept;music/song.mp3;misc/readme" || fail "exclusions"

# The age filter drops a file only when it was both created and last
# written before the date: everything here was created today, one file is
# written in the future.
"$qvbackup" lst "$work/out/e.lst" "${drive[@]}" --partitions E --categories music,pictures --others --since 2001-02-03 >/dev/null
check "$work/out/e.lst" "" "music/song.mp3;photos/a.jpg;photos/B.PNG;skip/secret.jpg" "$everything" || fail "since past"
tomorrow=$(date -u -d tomorrow +%Y-%m-%dT%H:%M:%SZ)
"$qvbackup" lst "$work/out/f.lst" "${drive[@]}" --partitions E --categories music,pictures --others --since "$tomorrow" >/dev/null
check "$work/out/f.lst" "" "music/song.mp3" "music/song.mp3" || fail "since tomorrow"

# A relative FILE lands in the current folder, not beside the program.
(cd "$work/out" && "$qvbackup" lst rel.lst "${drive[@]}" --partitions E --categories pictures >/dev/null)
[[ -f $work/out/rel.lst && ! -e $(dirname "$qvbackup")/rel.lst ]] || fail "relative list file"

# Usage and failures: 2 for a wrong command line, 1 when it cannot write.
status() { set +e; "$qvbackup" lst "$@" >"$work/stdout" 2>"$work/stderr"; echo $?; set -e; }
[[ $(status --help) == 0 ]] && grep -q '^usage: qvbackup lst' "$work/stdout" || fail "--help"
for bad in "--partitions E --others" "$work/x.lst --others" "$work/x.lst --partitions E" \
           "$work/x.lst $work/y.lst --partitions E --others" "$work/x.lst --partitions E --categories photos" \
           "$work/x.lst --partitions E --categories pictures," "$work/x.lst --partitions 9 --others" \
           "$work/x.lst --partitions E --others --exclude-file draft.txt" \
           "$work/x.lst --partitions E --others --since 2023-02-29" "$work/x.lst --partitions E --others --since 2023-1-5" \
           "$work/x.lst --partitions E --others --since 2023-01-05T25:00" "$work/x.lst --partitions E --others --since 1600-12-31" \
           "$work/x.lst --partitions E --others --since 2023-01-05Z" "$work/x.lst --partitions E --others --since 2023-01-05T10:00+1" \
           "$work/x.lst --partitions E --others --bogus"; do
  # shellcheck disable=SC2086
  [[ $(status $bad "${drive[@]}") == 2 ]] || fail "'$bad' is not a usage error"
  grep -q "^qvbackup: lst: " "$work/stderr" && grep -q "^Try 'qvbackup lst --help'" "$work/stderr" || fail "'$bad' message"
done
[[ ! -e $work/x.lst ]] || fail "a refused command wrote a file"
[[ $(status "$work/none/x.lst" "${drive[@]}" --partitions E --others) == 1 ]] || fail "missing folder"
[[ $(status "$work/x.lst" --partitions Q --others --json) == 1 ]] && grep -q '"exit":1}$' "$work/stdout" || fail "unmapped partition"
[[ $(status "$work/out" "${drive[@]}" --partitions E --others) == 1 ]] || fail "folder as list file"
[[ $(status "$work/x.lst" "${drive[@]}" --partitions E --others --groups "$work") == 1 ]] || fail "no GpExt.xml"
grep -q "GpExt.xml" "$work/stderr" || fail "no GpExt.xml message"
echo "lst (folders): all checks passed"
