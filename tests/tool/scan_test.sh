#!/usr/bin/env bash
# qvbackup scan on a folder made here: the summary counts and the --list
# lines (path, d|f, size, FILETIME, attributes) against what the file system
# says.
source "$(dirname "$0")/common.sh"

mkdir -p "$work/tree/sub/deeper" "$work/tree/empty"
printf 'hello' > "$work/tree/a.txt"
head -c 70000 /dev/zero > "$work/tree/sub/deeper/big.bin"
printf 'x' > "$work/tree/sub/10:30 notes.txt"
touch -d '2020-02-29 12:34:56.789' "$work/tree/a.txt"


summary=$("$qvbackup" scan "$work/tree")
echo "$summary"
# The folder's own chain counts too: every folder from the root down.
depth=$(tr -cd '/' <<<"$work/tree" | wc -c)
folders=$((depth + 1 + 3))   # drive, the chain to tree, tree itself; sub, deeper, empty
grep -q "Indexed $folders folders and 3 files, 70006 bytes" <<<"$summary" || fail "summary: $summary"

list=$("$qvbackup" scan --list "$work/tree")
drive_path="C:$(sed 's|/|\\|g' <<<"$work/tree")"
line=$(grep -F "$drive_path\\a.txt" <<<"$list") || fail "a.txt missing"
IFS=$'\t' read -r path kind size time attributes <<<"$line"
[[ $path == "$drive_path\\a.txt" && $kind == f && $size == 5 && $attributes == 0x20 ]] || fail "a.txt line: $line"
# 2020-02-29 12:34:56.789 in the local zone, as 100 ns units since 1601.
seconds=$(date -d '2020-02-29 12:34:56' +%s)
expected=$(( (seconds + 11644473600) * 10000000 + 7890000 ))
[[ $time == "$expected" ]] || fail "a.txt time $time, expected $expected"
grep -qP "^\Q$drive_path\E\\\\empty\td\t0\t[0-9]+\t0x10$" <<<"$list" || fail "empty folder line"
grep -qP "^\Q$drive_path\E\\\\sub\\\\deeper\\\\big.bin\tf\t70000\t" <<<"$list" || fail "big.bin line"
# A ':' in a name stays inside its one component.
[[ $(grep -c "notes.txt" <<<"$list") == 1 ]] || fail "colon name"
[[ $(wc -l <<<"$list") == $((folders + 3)) ]] || fail "line count"

# The summary as JSON: the same numbers, the drive path, a folder walked.
json=$("$qvbackup" scan --json "$work/tree")
python3 - "$json" "$drive_path" "$folders" <<'PY' || fail "json: $json"
import json, sys
report = json.loads(sys.argv[1])
assert set(report) == {'path', 'folders', 'files', 'bytes', 'seconds', 'raw'}, report
assert report['path'] == sys.argv[2] and report['folders'] == int(sys.argv[3]), report
assert (report['files'], report['bytes'], report['raw']) == (3, 70006, False), report
assert isinstance(report['seconds'], float) and report['seconds'] >= 0, report
PY

# Exit codes: 1 with "qvbackup: PATH: WHY" when it cannot scan, 2 for a
# wrong command line, and nothing on standard output either way.
status() { set +e; "$qvbackup" "$@" >"$work/out" 2>"$work/err"; echo $?; set -e; }
[[ $(status scan "$work/missing") == 1 ]] || fail "missing folder"
grep -qx "qvbackup: $work/missing: The system cannot find the .*" "$work/err" || fail "missing: $(cat "$work/err")"
[[ $(status scan --json "$work/tree/a.txt") == 1 ]] && grep -q '^{"error":{"message":".*a.txt: ' "$work/out" || fail "file accepted as folder"
grep -q "^qvbackup: $work/tree/a.txt: " "$work/err" || fail "file message"
for bad in "scan" "scan $work/tree $work/tree" "scan --list --json $work/tree" "scan --bogus $work/tree" \
           "scan -l $work/tree" "scan --list=yes $work/tree" "scan --drive Q $work/tree" "frobnicate"; do
  # shellcheck disable=SC2086
  [[ $(status $bad) == 2 ]] && [[ $bad == *--json* || ! -s $work/out ]] || fail "'$bad' is not a usage error"
done
grep -q "^Try 'qvbackup --help'" "$work/err" || fail "unknown command message"
[[ $(status scan --help) == 0 ]] && grep -q '^usage: qvbackup scan' "$work/out" || fail "--help"
# A drive mapped to an NTFS image is read raw, with the same line format.
if [[ -n $data ]]; then
  gzip -dc "$data/ntfs/ntfs1k.img.gz" > "$work/ntfs.img"
  raw=$(QV_DRIVES="C=/;E=,$work/ntfs.img" "$qvbackup" scan --list 'E:\')
  grep -qP '^E:\\small\.txt\tf\t600\t[0-9]+\t0x[0-9a-f]+$' <<<"$raw" || fail "raw small.txt line"
  grep -qP '^E:\\many\td\t0\t' <<<"$raw" || fail "raw folder line"
  json=$(QV_DRIVES="C=/;E=,$work/ntfs.img" "$qvbackup" scan --json 'E:')
  python3 - "$json" "$(grep -c $'\tf\t' <<<"$raw")" <<'PY' || fail "raw json: $json"
import json, sys
report = json.loads(sys.argv[1])
assert report['raw'] is True and report['path'] == 'E:\\' and report['files'] == int(sys.argv[2]), report
PY
  [[ $(grep -c 'link_number_' <<<"$raw") == 40 ]] || fail "raw hard links"
  # And so is a FAT32 image: its long names, in the same format.
  gzip -dc "$data/fat/fat32.img.gz" > "$work/fat.img"
  fat=$(QV_DRIVES="C=/;F=,$work/fat.img" "$qvbackup" scan --list 'F:\')
  grep -qP '^F:\\Quarterly report\.xlsx\tf\t[0-9]+\t[0-9]+\t0x[0-9a-f]+$' <<<"$fat" || fail "FAT long name line"
  grep -qP '^F:\\attrs\td\t0\t' <<<"$fat" || fail "FAT folder line"
  if grep -q '~' <<<"$fat"; then fail "FAT short alias listed"; fi
fi
echo "scan: all checks passed"
