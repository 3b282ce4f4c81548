#!/usr/bin/env bash
# Encrypted archives written by qvbackup backup with one password: two
# archives of the same files have different check values; two whole data
# blocks swapped inside an archive, or a data block copied from another
# archive of the same password into the same place, fail verify (those
# files named damaged, exit 1) and restore (those files not restored, the
# others restored whole, exit 1). A flipped check value is damage, not a
# wrong password.
#   bound_blocks_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
export QV_TEST_PW='one password for all'
pw=(--password-env QV_TEST_PW)

# "offset stored" of every block whose stored length is LENGTH (random data
# does not compress: an encrypted data block of N bytes stores N + 28).
blocks_of_length() {
  python3 - "$1" "$2" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
want = int(sys.argv[2])
at, end = 246, struct.unpack_from("<Q", data, 189)[0]
while at < end:
    stored, kind = struct.unpack_from("<IH", data, at)
    if stored == want and kind & 0x2000:
        print(at)
    at += 14 + stored
PY
}
# copy_block FROM AT TO PLACE LENGTH: the stored block at AT of FROM written
# over offset PLACE of TO.
copy_block() {
  python3 - "$@" <<'PY'
import sys
source, at, target, place, stored = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
block = open(source, "rb").read()[at:at + 14 + stored]
with open(target, "r+b") as f:
    f.seek(place)
    f.write(block)
PY
}
# swap_blocks FILE A B LENGTH: two whole blocks of one length trade places.
swap_blocks() {
  python3 - "$@" <<'PY'
import sys
path, a, b, stored = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
data = bytearray(open(path, "rb").read())
size = 14 + stored
data[a:a + size], data[b:b + size] = data[b:b + size], data[a:a + size]
open(path, "wb").write(data)
PY
}
json_get() { python3 -c "import json,sys; d=json.load(open(sys.argv[1])); print(eval(sys.argv[2]))" "$@"; }

mkdir -p "$work/src"
head -c 5000 /dev/urandom > "$work/src/a.bin"
head -c 5000 /dev/urandom > "$work/src/b.bin"
head -c 7000 /dev/urandom > "$work/src/c.bin"
"$qvbackup" backup "$work/src" --to "$work/one" --name home "${pw[@]}" --quiet > /dev/null
head -c 5000 /dev/urandom > "$work/src/a.bin"
"$qvbackup" backup "$work/src" --to "$work/two" --name home "${pw[@]}" --quiet > /dev/null

# Equal passwords, unrelated check values.
check_value() { python3 -c "import sys; print(open(sys.argv[1], 'rb').read()[161:181].hex())" "$1"; }
[[ $(check_value "$work/one/home.QVA") != $(check_value "$work/two/home.QVA") ]] ||
  fail "two archives with one password have the same check value"
"$qvbackup" verify "$work/one/home.QVA" "${pw[@]}" --quiet > /dev/null || fail "a sound archive does not verify"

mapfile -t data_blocks < <(blocks_of_length "$work/one/home.QVA" 5028)
[[ ${#data_blocks[@]} == 2 ]] || fail "expected the data blocks of a.bin and b.bin, found: ${data_blocks[*]}"

# check_case ARCHIVE WHAT DAMAGED...: verify and restore of ARCHIVE name
# exactly the DAMAGED files; the others come back byte for byte.
check_case() {
  local archive=$1 what=$2 code
  shift 2
  code=0
  "$qvbackup" verify "$archive" "${pw[@]}" --json --quiet > "$work/verify.json" 2> /dev/null || code=$?
  [[ $code == 1 ]] || fail "$what: verify exits $code"
  local named
  named=$(json_get "$work/verify.json" "' '.join(sorted(f.split(chr(92))[-1].split('/')[-1] for f in (x['path'] for x in d['damaged'])))")
  [[ $named == "$*" ]] || fail "$what: verify names '$named', not '$*'"
  rm -rf "$work/back"
  code=0
  "$qvbackup" restore "$archive" --to "$work/back" "${pw[@]}" --quiet > /dev/null 2> "$work/restore.err" || code=$?
  [[ $code == 1 ]] || fail "$what: restore exits $code"
  local restored=$work/back/Kelvar_C$work/src name
  for name in a.bin b.bin c.bin; do
    if [[ " $* " == *" $name "* ]]; then
      grep -q "$name" "$work/restore.err" || fail "$what: restore does not name $name"
      [[ ! -e $restored/$name ]] || fail "$what: $name was restored from a block of another place"
    else
      cmp -s "$restored/$name" "$work/src/$name" || fail "$what: $name did not come back whole"
    fi
  done
}

# Two data blocks of one archive swapped: both files damaged, c.bin whole.
cp "$work/one/home.QVA" "$work/swapped.QVA"
swap_blocks "$work/swapped.QVA" "${data_blocks[0]}" "${data_blocks[1]}" 5028
check_case "$work/swapped.QVA" "swapped blocks" a.bin b.bin

# One block moved over the other: only the overwritten file is damaged.
cp "$work/one/home.QVA" "$work/moved.QVA"
copy_block "$work/one/home.QVA" "${data_blocks[0]}" "$work/moved.QVA" "${data_blocks[1]}" 5028
code=0
"$qvbackup" verify "$work/moved.QVA" "${pw[@]}" --json --quiet > "$work/verify.json" 2> /dev/null || code=$?
[[ $code == 1 ]] || fail "a moved block: verify exits $code"
[[ $(json_get "$work/verify.json" "len(d['damaged'])") == 1 ]] || fail "a moved block damages other than one file"

# A block of the other archive (same password, same file, same place):
# a.bin of archive two is damaged, its other files are whole.
mapfile -t other_blocks < <(blocks_of_length "$work/two/home.QVA" 5028)
[[ ${other_blocks[*]} == "${data_blocks[*]}" ]] || fail "the two archives do not lay out alike"
cp "$work/two/home.QVA" "$work/transplant.QVA"
for at in "${data_blocks[@]}"; do copy_block "$work/one/home.QVA" "$at" "$work/transplant.QVA" "$at" 5028; done
# b.bin's block is the same file in both, but it is still another archive's.
check_case "$work/transplant.QVA" "blocks of another archive" a.bin b.bin
# One bit of the check value flipped: restored all the same, said, exit 1;
# verify calls it damage; a wrong password stays one (exit 5).
mkdir -p "$work/flipped"
cp "$work/two/home.QVA" "$work/flipped/home.QVA"
python3 - "$work/flipped/home.QVA" <<'PY'
import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(170)
    byte = f.read(1)[0]
    f.seek(170)
    f.write(bytes([byte ^ 0x04]))
PY
code=0
"$qvbackup" restore "$work/flipped/home.QVA" --to "$work/back2" "${pw[@]}" --quiet --json > "$work/r.json" 2> "$work/r.err" ||
  code=$?
[[ $code == 1 ]] && grep -q "its header is damaged" "$work/r.err" || fail "a flipped check value: exit $code $(cat "$work/r.err")"
[[ $(json_get "$work/r.json" "(d['damaged_header'], d['files'], d['failed'])") == "(True, 3, [])" ]] ||
  fail "a flipped check value: $(cat "$work/r.json")"
for name in a.bin b.bin c.bin; do
  cmp -s "$work/back2/Kelvar_C$work/src/$name" "$work/src/$name" || fail "a flipped check value: $name differs"
done
code=0
"$qvbackup" verify "$work/flipped/home.QVA" "${pw[@]}" --quiet --json > "$work/v.json" 2> /dev/null || code=$?
[[ $code == 1 && $(json_get "$work/v.json" "any('header is damaged' in e for e in d['errors'])") == True ]] ||
  fail "verify of a flipped check value: exit $code $(cat "$work/v.json")"
code=0
QV_TEST_PW=wrong "$qvbackup" restore "$work/flipped/home.QVA" --to "$work/back3" "${pw[@]}" --quiet 2> "$work/r.err" ||
  code=$?
[[ $code == 5 ]] && grep -q "wrong password" "$work/r.err" && [[ ! -e $work/back3/Kelvar_C ]] ||
  fail "a wrong password on a flipped check value: exit $code $(cat "$work/r.err")"
echo "bound blocks test: passed"
