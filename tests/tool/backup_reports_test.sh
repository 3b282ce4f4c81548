#!/usr/bin/env bash
# What a backup says of what it could not save as it was: a folder that
# cannot be read is listed in "skipped" with its reason (exit 1), unless it
# is excluded; a file that grows while it is read is saved as read and
# listed in "changed" (exit 4). The unreadable folder needs a user that
# permissions hold back: as root the run drops to nobody.
#   backup_reports_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/crash_shim.sh"
root=$(cd "$work" && pwd -P)
use_crash_shim "$root" "$qvbackup"

# --- A folder that cannot be read.
as_user=()
if [[ $(id -u) == 0 ]]; then
  command -v setpriv > /dev/null || fail "setpriv is needed to run as nobody"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  chmod 755 "$root"
fi
src=$root/src
mkdir -p "$src/open" "$src/closed/inner" "$src/also_closed" "$root/arch"
echo "visible" > "$src/open/a.txt"
echo "secret" > "$src/closed/inner/secret.txt"
echo "hidden" > "$src/also_closed/b.txt"
[[ -z ${as_user[*]} ]] || chown -R nobody "$src" "$root/arch"
chmod 000 "$src/closed" "$src/also_closed"
# (A copy of qvbackup nobody can reach: the build folder may be private.)
cp "$qvbackup" "$root/qvbackup"
cp "$(dirname "$qvbackup")/GpExt.xml" "$root/" 2> /dev/null || true
chmod 755 "$root/qvbackup"
set +e
"${as_user[@]}" "$root/qvbackup" backup "$src" --to "$root/arch" --name r --json > "$root/out.json" 2> "$root/err.txt"
code=$?
set -e
[[ $code == 1 ]] || fail "a backup with unreadable folders exits $code: $(cat "$root/out.json" "$root/err.txt")"
python3 - "$root/out.json" "$src" << 'PY' || fail "the report of unreadable folders: $(cat "$root/out.json")"
import json, sys
report, src = json.load(open(sys.argv[1])), sys.argv[2]
assert report["files"] == 1, report["files"]
skipped = {entry["path"].replace("\\", "/").split(":", 1)[1]: entry["reason"] for entry in report["skipped"]}
assert set(skipped) == {src + "/closed", src + "/also_closed"}, skipped
for reason in skipped.values():
    assert "the folder cannot be read" in reason and "denied" in reason.lower(), reason
assert report["changed"] == [], report["changed"]
PY
# The text report counts them as folders.
set +e
"${as_user[@]}" "$root/qvbackup" backup "$src" --to "$root/arch" --name r2 > "$root/out.txt" 2>&1
set -e
grep -q "^Not saved: 2 folders$" "$root/out.txt" || fail "the text report: $(cat "$root/out.txt")"
# Excluded, an unreadable folder is not reported.
set +e
"${as_user[@]}" "$root/qvbackup" backup "$src" --to "$root/arch" --name r3 --json --exclude-dir "$src/closed" \
  --exclude-dir "$src/also_closed" > "$root/out.json" 2> "$root/err.txt"
code=$?
set -e
[[ $code == 0 ]] || fail "a backup that excludes the unreadable folders exits $code: $(cat "$root/out.json" "$root/err.txt")"
grep -q '"skipped": *\[\]' "$root/out.json" || fail "excluded folders are reported: $(cat "$root/out.json")"
chmod 755 "$src/closed" "$src/also_closed"

# --- A file that grows while it is read: the run is held at a write into
# the archive folder made while the large file is read (the same calls
# every time with one thread), and the file grows meanwhile.
grow=$root/grow
mkdir -p "$grow/data" "$root/arch2"
head -c $((32 << 20)) /dev/urandom > "$grow/data/large.bin"
echo "steady" > "$grow/data/steady.txt"
hold_at "$root/pause" "$root/arch2" write 4 "$root/grow.json" "$root/grow.err" \
  "$qvbackup" backup "$grow" --to "$root/arch2" --name g --threads 1 --json
head -c $((1 << 20)) /dev/urandom >> "$grow/data/large.bin"
rm "$root/pause"
reap
[[ $code == 4 ]] || fail "a backup of a file that grew while read exits $code: $(cat "$root/grow.json" "$root/grow.err")"
python3 - "$root/grow.json" << 'PY' || fail "the report of a changed file: $(cat "$root/grow.json")"
import json, sys
report = json.load(open(sys.argv[1]))
assert report["files"] == 2 and report["skipped"] == [], report
changed = [path.replace("\\", "/") for path in report["changed"]]
assert len(changed) == 1 and changed[0].endswith("/data/large.bin"), changed
PY
# What was read restores: the archive is whole.
"$qvbackup" verify "$root/arch2/g.QVA" > "$root/verify.txt" 2>&1 || fail "verify: $(cat "$root/verify.txt")"
# Its entry keeps the size the backup found (32 MiB), its content is all
# that was read (33 MiB): the entry says it changed, so neither verify
# above nor restore takes the difference for damage.
"$qvbackup" list "$root/arch2/g.QVA" --json > "$root/list.json" || fail "list of the changed file"
python3 -c "
import json, sys
sizes = {f['path'].rsplit('\\\\', 1)[-1]: f['size'] for f in json.load(open(sys.argv[1]))['files']}
assert sizes['large.bin'] == 32 << 20, sizes" "$root/list.json" || fail "listed size: $(cat "$root/list.json")"
"$qvbackup" restore "$root/arch2/g.QVA" --to "$root/back" --quiet > /dev/null 2> "$root/restore.txt" ||
  fail "restore of a file that changed while read: $(cat "$root/restore.txt")"
cmp "$grow/data/large.bin" "$root/back/Kelvar_C$grow/data/large.bin" || fail "the changed file restored otherwise"
