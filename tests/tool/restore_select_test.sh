#!/usr/bin/env bash
# qvbackup list and restore of what PATTERNs choose (a folder, a file,
# wildcards, stored and native forms, names anywhere; a pattern that
# matches nothing), a one-file restore that reads no other file's blocks,
# --overwrite in each mode against files, folders and links in the way,
# --original through a drive mapped with --drive, and the runs that end
# with one message: too little free space, a target that cannot be
# written, a disk that fills up, a missing volume.
#   restore_select_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
mounts=()
cleanup() {
  for m in "${mounts[@]}"; do umount "$m" 2> /dev/null || true; done
  chmod -R u+w "$work" 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# status EXPECTED COMMAND...: runs COMMAND, its output in $work/out, stderr in $work/err.
status() {
  local expected=$1 code=0
  shift
  "$@" > "$work/out" 2> "$work/err" < /dev/null || code=$?
  [[ $code == "$expected" ]] || fail "exit $code, not $expected: $* ($(cat "$work/err"))"
}
drive() { local p=$1; echo "C:${p//\//\\}"; }
lines() { wc -l < "$1" | tr -d ' '; }
# A tmpfs mounted at $1 with options $2; false where mounting is not allowed.
small_fs() {
  mkdir -p "$1"
  [[ $(id -u) == 0 ]] && mount -t tmpfs -o "$2" tmpfs "$1" 2> /dev/null || return 1
  mounts+=("$1")
}

src=$work/src
mkdir -p "$src/Docs" "$src/Photos" "$src/empty" "$work/arch"
printf 'nine byte' > "$src/Docs/letter.txt"
printf 'notes\n' > "$src/Docs/notes.md"
printf 'jpeg' > "$src/Photos/a.jpg"
printf 'JPEG' > "$src/Photos/b.JPG"
printf 'top\n' > "$src/top.txt"
head -c 3000000 /dev/urandom > "$src/big.bin"
touch -d '2020-01-01 00:00:00' "$src/Docs/letter.txt"
"$qvbackup" backup "$src" --to "$work/arch" --name set --no-compress --quiet > /dev/null
set=$work/arch/set.QVA

# ---- Patterns (list) -------------------------------------------------------
listed() {  # listed COUNT PATTERN...: list shows COUNT items, each selected
  local count=$1
  shift
  status 0 "$qvbackup" list "$set" "$@"
  [[ $(lines "$work/out") == "$count" ]] || fail "list $*: $(cat "$work/out")"
}
listed 2 "$src/Docs"                              # a folder, native form
listed 2 "$src/Docs/"                             # its trailing separator changes nothing
listed 1 "$(drive "$src")\\top.txt"               # a file, stored form
listed 1 "$(drive "$src")/Docs/letter.txt"        # '/' separates the stored form too
listed 2 '*.txt'                                  # a name anywhere
grep -q '\\Docs\\letter.txt	9	2020-01-01T00:00:00Z' "$work/out" && grep -q '\\top.txt	' "$work/out" || fail "*.txt: $(cat "$work/out")"
listed 1 '*.jpg'                                  # letter case counts here
listed 1 "$src/*/a.jpg"                           # '*' within one name
listed 2 "$src/Photos/?.*"
listed 1 'Docs/letter.txt'                        # a run of names anywhere
listed 2 'Docs'
listed 7 "$src"                                   # everything, the empty folder too
listed 3 "$src/Docs" 'top.txt'                    # several patterns: the union
status 1 "$qvbackup" list "$set" "$src/*.txt/x"
[[ ! -s $work/out ]] || fail "a pattern matching nothing listed: $(cat "$work/out")"
status 1 "$qvbackup" list "$set" "$src/Docs" 'nothing*' "$work/*.txt"
[[ $(lines "$work/out") == 2 ]] || fail "the patterns that match still list: $(cat "$work/out")"
grep -qx "qvbackup: nothing\*: matches nothing in $set" "$work/err" &&
  grep -qx "qvbackup: $work/\*.txt: matches nothing in $set" "$work/err" && [[ $(lines "$work/err") == 2 ]] ||
  fail "unmatched patterns: $(cat "$work/err")"
status 0 "$qvbackup" list "$set" '*.txt' --json
python3 - "$work/out" <<'PY' || fail "list --json with a pattern: $(cat "$work/out")"
import json, sys
files = json.load(open(sys.argv[1]))["files"]
assert sorted(f["path"].rsplit("\\", 1)[1] for f in files) == ["letter.txt", "top.txt"], files
PY

# ---- One file restored, reading only its own blocks ---------------------
status 0 "$qvbackup" restore "$set" --to "$work/one" "$src/Docs/letter.txt"
[[ $(find "$work/one" -type f | wc -l) == 1 ]] && cmp "$src/Docs/letter.txt" "$work/one/Kelvar_C$src/Docs/letter.txt" ||
  fail "one file: $(find "$work/one")"
grep -q "^restored 1 file (9 bytes) from $set below $work/one$" "$work/out" || fail "one file: $(cat "$work/out")"
cp "$set" "$work/arch/damaged.QVA"
python3 - "$(dirname "$0")" "$work/arch/damaged.QVA" <<'PY' || fail "damaging big.bin"
import sys
sys.path.insert(0, sys.argv[1])
from archive_damage import BLOCK_HEADER, Member
member = Member([sys.argv[2]])
data = bytearray(member.data)
for number, (offset, length, kind) in enumerate(member.blocks):
    record = member.payload(number)
    if kind & 0xFFF == 1 and record and len(record) > 27:
        name_length = int.from_bytes(record[4:6], "little")
        if record[27:27 + 2 * name_length].decode("utf-16-le", "replace") == "big.bin":
            # Every data block of big.bin gets a byte flipped.
            for data_block in range(number + 1, len(member.blocks)):
                at, size, data_kind = member.blocks[data_block]
                payload = member.payload(data_block)
                if data_kind & 0xFFF != 1 or (payload[:4] and len(payload) > 27 and data_block != number + 1 and
                                              int.from_bytes(payload[6:10], "little") == 27):
                    break
                data[at + BLOCK_HEADER + (size - BLOCK_HEADER) // 2] ^= 0xFF
            open(sys.argv[2], "wb").write(data)
            sys.exit(0)
sys.exit("no record of big.bin")
PY
status 0 "$qvbackup" restore "$work/arch/damaged.QVA" --to "$work/one2" "$src/Docs/letter.txt" 'top.txt'
cmp "$src/Docs/letter.txt" "$work/one2/Kelvar_C$src/Docs/letter.txt" && cmp "$src/top.txt" "$work/one2/Kelvar_C$src/top.txt" ||
  fail "files beside damaged blocks"
status 1 "$qvbackup" restore "$work/arch/damaged.QVA" --to "$work/one2" 'big.bin'
grep -q 'big.bin: not restored' "$work/err" && [[ ! -e $work/one2/Kelvar_C$src/big.bin ]] || fail "the damage did not hit big.bin: $(cat "$work/err")"
status 1 "$qvbackup" restore "$set" --to "$work/none" 'no-such-file'
grep -qx "qvbackup: no-such-file: matches nothing in $set" "$work/err" && [[ ! -e $work/none/Kelvar_C ]] ||
  fail "restore of nothing: $(cat "$work/err")"

# ---- --overwrite ---------------------------------------------------------
there=$work/ow/Kelvar_C$src
mkdir -p "$there/Docs" "$there/Photos" "$work/outside"
printf 'edited locally' > "$there/Docs/letter.txt"              # newer than the saved one
printf 'older local' > "$there/top.txt" && touch -d '2001-01-01' "$there/top.txt"
touch -d '2030-01-01' "$src/top.txt"  # (the saved top.txt is newer than the one there)
mkdir -p "$there/Docs/notes.md/inside"                          # a folder in the way
printf 'victim' > "$work/outside/victim"
ln -s "$work/outside/victim" "$there/Photos/a.jpg" && touch -h -d '2001-01-01' "$there/Photos/a.jpg"
status 0 "$qvbackup" restore "$set" --to "$work/ow" --json
python3 - "$work/out" "$(drive "$src")" <<'PY' || fail "never: $(cat "$work/out")"
import json, sys
r, base = json.load(open(sys.argv[1])), sys.argv[2]
kept = sorted(p[len(base):] for p in r["left_alone"])
assert kept == ["\\Docs\\letter.txt", "\\Docs\\notes.md", "\\Photos\\a.jpg", "\\top.txt"], kept
assert r["counts"] == {"restored": 3, "left_alone": 4, "failed": 0} and r["ok"] is True, r
PY
[[ $(cat "$there/Docs/letter.txt") == 'edited locally' && $(cat "$there/top.txt") == 'older local' &&
   -L $there/Photos/a.jpg && -d $there/Docs/notes.md/inside && $(cat "$work/outside/victim") == victim ]] ||
  fail "never changed what was there"
cmp "$src/big.bin" "$there/big.bin" || fail "never: a missing file not restored"
status 0 "$qvbackup" restore "$set" --to "$work/ow" --overwrite older
[[ $(cat "$there/Docs/letter.txt") == 'edited locally' ]] || fail "older replaced a newer file"
cmp "$src/top.txt" "$there/top.txt" || fail "older left an older file"
cmp "$src/Photos/a.jpg" "$there/Photos/a.jpg" && [[ ! -L $there/Photos/a.jpg && $(cat "$work/outside/victim") == victim ]] ||
  fail "older: the older link in the way"
[[ -d $there/Docs/notes.md/inside ]] || fail "older removed a folder"
grep -q "^left alone (already there): C:.*letter.txt$" "$work/out" && grep -q "^5 left alone$" "$work/out" ||
  fail "older: $(cat "$work/out")"
ln -sf "$work/outside/victim" "$there/Photos/b.JPG"
status 1 "$qvbackup" restore "$set" --to "$work/ow" --overwrite always
cmp "$src/Docs/letter.txt" "$there/Docs/letter.txt" && cmp "$src/Photos/b.JPG" "$there/Photos/b.JPG" ||
  fail "always did not replace"
[[ ! -L $there/Photos/b.JPG && $(cat "$work/outside/victim") == victim && -d $there/Docs/notes.md/inside ]] ||
  fail "always went through a link or removed a folder"
grep -q "notes.md: not restored" "$work/err" && grep -q "^1 not restored$" "$work/out" || fail "always: $(cat "$work/err")"

# ---- --original ------------------------------------------------------------
mkdir -p "$work/e/data/sub" "$work/scratch/data"
printf 'first' > "$work/e/data/one.txt"
printf 'second' > "$work/e/data/sub/two.txt"
"$qvbackup" backup --drive "E=$work/e" "$work/e/data" --to "$work/arch" --name orig --quiet > /dev/null
status 0 "$qvbackup" list "$work/arch/orig.QVA" --drive "E=$work/e" 'E:\data'
grep -q '^E:\\data\\sub\\two.txt	' "$work/out" || fail "stored on E: $(cat "$work/out")"
printf 'mine' > "$work/scratch/data/one.txt"
status 0 "$qvbackup" restore "$work/arch/orig.QVA" --original --drive "E=$work/scratch"
[[ $(cat "$work/scratch/data/one.txt") == mine && $(cat "$work/scratch/data/sub/two.txt") == second ]] ||
  fail "original: $(find "$work/scratch")"
[[ $(find "$work/scratch" -type f | wc -l) == 2 ]] || fail "original wrote elsewhere: $(find "$work/scratch")"
grep -q "^restored 1 file (6 bytes) from $work/arch/orig.QVA to their original paths$" "$work/out" ||
  fail "original: $(cat "$work/out")"
status 0 "$qvbackup" restore "$work/arch/orig.QVA" --original --drive "E=$work/scratch" --overwrite always "$work/scratch/data/one.txt"
[[ $(cat "$work/scratch/data/one.txt") == first ]] || fail "original --overwrite always with a pattern"

# ---- Runs that end with one message ---------------------------------------
if small_fs "$work/small" size=1m; then
  status 1 "$qvbackup" restore "$set" --to "$work/small/r" --json
  grep -q "^qvbackup: $work/small/r: not enough free space: the restore needs [0-9]* bytes, [0-9]* are free; nothing was restored$" "$work/err" &&
    [[ $(lines "$work/err") == 1 && -z $(ls -A "$work/small") ]] || fail "free space: $(cat "$work/err"; ls -A "$work/small")"
  grep -q '"code":112' "$work/out" || fail "free space JSON: $(cat "$work/out")"
  # What is left alone needs no room: only the small files are missing.
  status 0 "$qvbackup" restore "$set" --to "$work/small/r" '*.txt'
  mount -o remount,ro "$work/small"
  status 1 "$qvbackup" restore "$set" --to "$work/small/r" --overwrite always "$src/Docs" '*.txt'
  grep -q "^qvbackup: $work/small/r: cannot be written: .*; the restore stopped$" "$work/err" && [[ $(lines "$work/err") == 1 ]] ||
    fail "read-only: $(cat "$work/err")"
  grep -q "^3 not restored$" "$work/out" || fail "read-only summary: $(cat "$work/out")"
  # Room for the bytes but not for the names: the disk fills up mid-run.
  small_fs "$work/names" size=64m,nr_inodes=12 || fail "second tmpfs"
  status 1 "$qvbackup" restore "$set" --to "$work/names" --json
  grep -c "cannot be written" "$work/err" | grep -qx 1 && [[ $(lines "$work/err") == 1 ]] || fail "disk full: $(cat "$work/err")"
  python3 - "$work/out" <<'PY' || fail "disk full JSON: $(cat "$work/out")"
import json, sys
r = json.load(open(sys.argv[1]))
c = r["counts"]
assert r["stopped"] and r["error"]["code"] == 112 and c["restored"] + c["failed"] == 7 and c["failed"] > 0, r
assert len(r["failed"]) == 0, r  # the items not restored are counted, not listed
PY
  [[ -z $(find "$work/names" -name '~qv*') ]] || fail "disk full left a temporary file"
else
  echo "restore select test: not root or no tmpfs here: free space, read-only and full targets not tried" >&2
fi
if [[ $(id -u) != 0 ]]; then
  mkdir -p "$work/closed" && chmod 555 "$work/closed"
  status 1 "$qvbackup" restore "$set" --to "$work/closed"
  [[ $(lines "$work/err") == 1 ]] && grep -q "cannot be written" "$work/err" || fail "closed target: $(cat "$work/err")"
fi

# ---- A missing volume --------------------------------------------------------
"$qvbackup" backup "$src" --to "$work/split" --name vol --volume-size 256K --no-compress --quiet > /dev/null
mv "$work/split/vol.4.QVA" "$work/vol.4.QVA"
status 1 "$qvbackup" restore "$work/split/vol.1.QVA" --to "$work/rv" --json
[[ $(lines "$work/err") == 1 ]] && grep -qx "qvbackup: $work/split/vol.4.QVA: this volume file is missing: the restore stopped" "$work/err" ||
  fail "missing volume: $(cat "$work/err")"
grep -q '"stopped":true' "$work/out" || fail "missing volume JSON: $(cat "$work/out")"
# On a terminal the volume is asked for, and the path typed is read.
python3 "$(dirname "$0")/terminal.py" --shown "$work/vol.4.QVA" -- \
  "$qvbackup" restore "$work/split/vol.1.QVA" --to "$work/rt" --quiet > "$work/shown"
grep -q "^qvbackup: volume 4 is missing: " "$work/shown" && grep -q "^restored 6 files" "$work/shown" &&
  grep -qx "exit 0" "$work/shown" || fail "missing volume on a terminal: $(cat "$work/shown")"
cmp "$src/big.bin" "$work/rt/Kelvar_C$src/big.bin" || fail "restored from the volume typed"
echo "restore select: all checks passed"
