#!/usr/bin/env bash
# qvbackup verify of archives written by qvbackup backup: sound ones pass
# with the right counts; bytes flipped at chosen places (a file's data
# block, its record, a block header, the index, the closing record, the
# header), volumes cut short or missing, a damaged increment: each exits 1
# and names what is damaged, and the files it names are exactly those a
# restore cannot bring back. verify writes nothing; a wrong password, a
# missing archive and bad usage fail as such.
#   verify_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
export QV_TEST_PW='verify pw'
pw=(--password-env QV_TEST_PW)
src="C:$(sed 's|/|\\|g' <<<"$work/src")"

# The blocks of a one-volume archive without password, from their headers:
# "offset kind name" per block, name being the file a record block names.
cat > "$work/blocks.py" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
at, end = 246, struct.unpack_from("<Q", data, 189)[0]
while at < end:
    stored, kind, length = struct.unpack_from("<IHI", data, at)
    payload = data[at + 14:at + 14 + stored]
    if kind & 0x1000:
        payload = zlib.decompress(payload)
    name = "-"
    if len(payload) >= 27 and struct.unpack_from("<I", payload, 6)[0] == 27:
        count = struct.unpack_from("<H", payload, 4)[0]
        name = payload[27:27 + 2 * count].decode("utf-16-le")
    print(at, kind & 0xFFF, name)
    at += 14 + stored
PY
# offset_after NAME [N]: the offset of the N-th block after NAME's record.
offset_after() {
  python3 "$work/blocks.py" "$work/arch/sound.QVA" | awk -v name="$1" -v n="${2:-1}" '
    $3 == name { found = NR } found && NR == found + n { print $1; exit }'
}
# flip OFFSET: a copy of the sound archive with one bit changed at OFFSET.
flip() {
  cp "$work/arch/sound.QVA" "$work/case.QVA"
  python3 -c "
import sys
p, at = sys.argv[1], int(sys.argv[2])
d = bytearray(open(p, 'rb').read()); d[at] ^= 0x10; open(p, 'wb').write(d)" "$work/case.QVA" "$1"
}
# check ARCHIVE EXPECTED_EXIT [options]: verify --json into $work/v.json.
check() {
  local archive=$1 expected=$2 code=0
  shift 2
  "$qvbackup" verify "$archive" --json "$@" > "$work/v.json" 2> "$work/err" || code=$?
  [[ $code == "$expected" ]] || fail "verify $archive exit $code, not $expected: $(cat "$work/v.json" "$work/err")"
}
# expect PYTHON_CONDITION: about r, the last verify --json result.
expect() {
  python3 - "$work/v.json" "$1" "$src" <<'PY' || fail "not ($1): $(cat "$work/v.json")"
import json, sys
r = json.load(open(sys.argv[1], encoding="utf-8"))
src = sys.argv[3]
damaged = {d["path"].replace(src + "\\", ""): d["reason"] for d in r["damaged"]}
errors = " | ".join(r["errors"])
sys.exit(0 if eval(sys.argv[2]) else 1)
PY
}
# restore_fails ARCHIVE NAMES...: restoring ARCHIVE brings back every file
# but NAMES.
restore_fails() {
  local archive=$1 code=0
  shift
  rm -rf "$work/out"
  "$qvbackup" restore "$archive" --to "$work/out" --quiet "${pw[@]}" > /dev/null 2> "$work/err" || code=$?
  [[ $code == 1 ]] || fail "restore of $archive exit $code"
  for name in "$@"; do grep -qF "$src\\$name: not restored" "$work/err" || fail "restore did not fail $name"; done
  [[ $(grep -c "not restored" "$work/err") == $# ]] || fail "restore failed more: $(cat "$work/err")"
}

mkdir -p "$work/src/sub" "$work/arch" "$work/split"
printf 'first file\n' > "$work/src/a.txt"
head -c 100000 /dev/urandom > "$work/src/sub/b.bin"
seq 1 30000 > "$work/src/c.txt"
"$qvbackup" backup "$work/src" --to "$work/arch" --name sound --block-size 16384 --quiet > /dev/null
sha=$(sha256sum "$work/arch/sound.QVA")

# Sound: exit 0, every block counted.
blocks=$(python3 "$work/blocks.py" "$work/arch/sound.QVA" | wc -l)
check "$work/arch/sound.QVA" 0
expect "r == {'ok': True, 'members': 1, 'volumes': 1, 'blocks': $blocks, 'files': 3, 'damaged': [], 'errors': []}"
"$qvbackup" verify "$work/arch/sound.QVA" > "$work/text" || fail "text verify of a sound archive"
grep -qx "$work/arch/sound.QVA: 1 member, 1 volume, $blocks blocks, 3 files: sound" "$work/text" || fail "text: $(cat "$work/text")"

# A bit flipped in the payload of b.bin's third data block: b.bin alone.
at=$(offset_after b.bin 3)
flip $((at + 14 + 500))
check "$work/case.QVA" 1
expect "list(damaged) == ['sub\\\\b.bin'] and damaged['sub\\\\b.bin'] == 'its data (block at offset $at): The data is invalid.' and not errors"
restore_fails "$work/case.QVA" 'sub\b.bin'
"$qvbackup" verify "$work/case.QVA" > "$work/text" && fail "text verify passed damage"
grep -qF "damaged: $src\\sub\\b.bin: its data (block at offset $at): The data is invalid." "$work/text" || fail "text: $(cat "$work/text")"

# In c.txt's record, and in a block header's checksum.
at=$(offset_after c.txt 0)
flip $((at + 20))
check "$work/case.QVA" 1
expect "list(damaged) == ['c.txt'] and damaged['c.txt'].startswith('its record (block at offset $at)')"
at=$(offset_after a.txt 1)
flip $((at + 11))
check "$work/case.QVA" 1
expect "list(damaged) == ['a.txt'] and 'block at offset $at' in damaged['a.txt']"
restore_fails "$work/case.QVA" 'a.txt'

# A block's stored length: the walk loses its way and takes up again at
# the next file's record; only b.bin is damaged.
at=$(offset_after b.bin 2)
flip $((at + 2))
check "$work/case.QVA" 1
expect "list(damaged) == ['sub\\\\b.bin'] and 'cut short at offset $at' in damaged['sub\\\\b.bin'] and 'no block can be read from offset $at' in errors"
restore_fails "$work/case.QVA" 'sub\b.bin'

# The index and the closing record: no file can be restored, all are named
# from their records.
read -r index closing < <(python3 "$work/blocks.py" "$work/arch/sound.QVA" | awk '{ o[NR] = $1 } END { print o[NR-1], o[NR] }')
flip $((index + 20))
check "$work/case.QVA" 1
expect "sorted(damaged) == ['a.txt', 'c.txt', 'sub\\\\b.bin'] and 'its index cannot be read' in errors and 'its index (block at offset $index)' in errors"
flip $((closing + 15))
check "$work/case.QVA" 1
expect "len(damaged) == 3 and 'its closing record (block at offset $closing)' in errors"
code=0
"$qvbackup" restore "$work/case.QVA" --to "$work/out2" 2> "$work/err" || code=$?
[[ $code == 1 ]] && grep -q "its index cannot be read" "$work/err" || fail "restore of a lost index: $code"

# The header: its version, a reserved byte, its end of data, its magic.
flip 4
check "$work/case.QVA" 1
expect "not damaged and errors == 'its header gives version 17, not 1'"
flip 140
check "$work/case.QVA" 1
expect "not damaged and 'reserved bytes (135 to 148)' in errors"
flip 120
check "$work/case.QVA" 1
expect "not damaged and 'replaced archives (bytes 53 to 133)' in errors"
flip 190
check "$work/case.QVA" 1
expect "'its header says' in errors"
flip 1
check "$work/case.QVA" 1
expect "r['ok'] is False and errors == 'not an archive, or its header is damaged'"

# Cut short inside c.txt's data: c.txt is named with where it ends.
at=$(offset_after c.txt 2)
cp "$work/arch/sound.QVA" "$work/case.QVA"
truncate -s $((at + 100)) "$work/case.QVA"
check "$work/case.QVA" 1
expect "'its data (block at offset $at): The data is invalid.' == damaged['c.txt'] and 'bytes of its stream' in errors"
[[ $(sha256sum "$work/arch/sound.QVA") == "$sha" ]] || fail "verify wrote into the archive"

# Split into volumes, encrypted: sound; a flipped bit in a ciphertext fails
# its tag; a volume cut short; a volume missing.
"$qvbackup" backup "$work/src" --to "$work/split" --name enc --volume-size 64K --block-size 20000 "${pw[@]}" --quiet > /dev/null
volumes=$(ls "$work/split" | wc -l)
check "$work/split/enc.1.QVA" 0 "${pw[@]}"
expect "r['ok'] and r['volumes'] == $volumes and r['files'] == 3"
cp -r "$work/split" "$work/s1"
python3 -c "
import sys
p = sys.argv[1]; d = bytearray(open(p, 'rb').read()); d[30000] ^= 1; open(p, 'wb').write(d)" "$work/s1/enc.2.QVA"
check "$work/s1/enc.1.QVA" 1 "${pw[@]}"
expect "list(damaged) == ['sub\\\\b.bin'] and ', volume 2): The data is invalid.' in damaged['sub\\\\b.bin'] and not errors"
restore_fails "$work/s1/enc.1.QVA" 'sub\b.bin'
cp -r "$work/split" "$work/s2"
# Cut within b.bin, past the end of c.txt's last block whichever compressor
# wrote it.
truncate -s 20000 "$work/s2/enc.2.QVA"
check "$work/s2/enc.1.QVA" 1 "${pw[@]}"
expect "list(damaged) == ['sub\\\\b.bin'] and 'volume 2' in errors"
cp -r "$work/split" "$work/s3"
rm "$(ls -v "$work"/s3/enc.*.QVA | tail -1)"
check "$work/s3/enc.1.QVA" 1 "${pw[@]}"
expect "len(damaged) == 3 and 'The system cannot find the file specified.' in errors"

# Self-extracting: offsets count from the program's start.
python3 -c "import sys; open(sys.argv[1], 'wb').write(b'MZ' + bytes(30000))" "$work/stub.exe"
"$qvbackup" backup "$work/src" --to "$work/arch" --name self --sfx --sfx-stub "$work/stub.exe" --block-size 16384 \
  --quiet > /dev/null
check "$work/arch/self.exe" 0
expect "r['ok'] and r['blocks'] == $blocks and r['files'] == 3"
python3 -c "
import sys
p = sys.argv[1]; d = bytearray(open(p, 'rb').read()); d[30002 + 246 + 40] ^= 1; open(p, 'wb').write(d)" "$work/arch/self.exe"
check "$work/arch/self.exe" 1
expect "len(damaged) == 1 and 'its record (block at offset 30248)' in list(damaged.values())[0]"

# A chain whose increment is damaged: named with its member; the base alone
# is sound.
"$qvbackup" backup "$work/src" --to "$work/arch" --name chain --quiet > /dev/null
printf 'changed\n' >> "$work/src/c.txt"
"$qvbackup" backup "$work/src" --to "$work/arch" --name chain --incremental --quiet > /dev/null
check "$work/arch/chain.QVA" 0
expect "r['ok'] and r['members'] == 2 and r['files'] == 4"
python3 -c "
import sys
p = sys.argv[1]; d = bytearray(open(p, 'rb').read()); d[300] ^= 1; open(p, 'wb').write(d)" "$work/arch/chain.I1.QVA"
check "$work/arch/chain.QVA" 1
expect "list(damaged) == ['c.txt'] and damaged['c.txt'].endswith('(increment 1)')"
check "$work/arch/chain.QVA" 0 --increment 0
expect "r['members'] == 1 and r['files'] == 3"

# Failures that are not damage: a wrong password exits 5, the JSON answer holds the error; bad usage: exit 2.
code=0
QV_TEST_PW=wrong "$qvbackup" verify "$work/split/enc.1.QVA" --json "${pw[@]}" > "$work/v.json" 2> "$work/err" || code=$?
[[ $code == 5 ]] && grep -q "wrong password" "$work/err" || fail "wrong password: $code"
python3 -c "
import json, sys
r = json.load(open(sys.argv[1]))
assert r == {'error': {'message': sys.argv[2] + ': wrong password', 'code': 1323}, 'exit': 5}, r" \
  "$work/v.json" "$work/split/enc.1.QVA" || fail "wrong password answer: $(cat "$work/v.json")"
code=0
"$qvbackup" verify "$work/split/none.1.QVA" 2> "$work/err" || code=$?
[[ $code == 1 ]] && grep -q "cannot find the file" "$work/err" || fail "missing archive: $code"
code=0
"$qvbackup" verify "$work/arch/chain.QVA" --increment 2 2> "$work/err" || code=$?
[[ $code == 1 ]] || fail "increment 2: $code"
code=0
"$qvbackup" verify 2> "$work/err" || code=$?
[[ $code == 2 ]] || fail "no archive: $code"
code=0
"$qvbackup" verify "$work/arch/chain.QVA" --deep 2> "$work/err" || code=$?
[[ $code == 2 ]] || fail "unknown option: $code"
"$qvbackup" verify --help | grep -q "^usage: qvbackup verify ARCHIVE" || fail "help"
echo "verify: all checks passed"
