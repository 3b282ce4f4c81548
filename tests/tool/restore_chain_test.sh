#!/usr/bin/env bash
# qvbackup restore of an increment chain written by backup --incremental,
# split into volumes: the whole chain comes back as the last state of every
# file that still exists (changed, added, touched and resized files in their
# newest version; a deleted file in its last saved one), and --increment N
# brings back exactly what member N saved, as it was then.
#   restore_chain_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
backup() { "$qvbackup" backup "$work/src" --to "$work/arch" --name chain --volume-size 64K --quiet "$@" > /dev/null; }
restore() { "$qvbackup" restore "$work/arch/chain.1.QVA" --to "$1" --quiet "${@:2}" > "$work/out.txt"; }
below() { echo "$1/Kelvar_C$work/src"; }
# The files below a folder, relative, sorted.
files() { (cd "$1" && find . -type f | sort | tr '\n' ' '); }

mkdir -p "$work/src/docs" "$work/arch" "$work/states"
printf 'a v1\n' > "$work/src/docs/a.txt"
printf 'b v1\n' > "$work/src/docs/b.txt"
head -c 150000 /dev/urandom > "$work/src/big.bin"
printf 'gone later\n' > "$work/src/gone.txt"
touch -d '2021-03-04 05:06:07' "$work/src/docs/a.txt" "$work/src/docs/b.txt" "$work/src/big.bin" "$work/src/gone.txt"
backup
cp -a "$work/src" "$work/states/0"

# Increment 1: content changed, a file added, one only touched.
printf 'a v2, longer\n' > "$work/src/docs/a.txt"
printf 'added\n' > "$work/src/docs/new.txt"
touch -d '2022-01-01 00:00:00' "$work/src/big.bin"
backup --incremental
cp -a "$work/src" "$work/states/1"

# Increment 2: a big file rewritten, a file deleted (the increment records
# that it is gone), the added one changed again.
head -c 200000 /dev/urandom > "$work/src/big.bin"
rm "$work/src/gone.txt"
printf 'added, v2\n' > "$work/src/docs/new.txt"
backup --incremental
[[ -e $work/arch/chain.I2.1.QVA && -e $work/arch/chain.I1.1.QVA && -e $work/arch/chain.3.QVA ]] ||
  fail "chain files: $(ls "$work/arch")"

# The whole chain: the last state, without the deleted file; as of
# member 1, the state then, the deleted file with it.
restore "$work/all"
grep -q "^restored 4 files (.* bytes) from .*chain.1.QVA (3 members) below " "$work/out.txt" || fail "summary: $(cat "$work/out.txt")"
diff -r "$work/src" "$(below "$work/all")" || fail "the chain does not restore the last state"
restore "$work/asof1" --as-of 1
diff -r "$work/states/1" "$(below "$work/asof1")" || fail "the chain as of member 1 differs"
for f in docs/a.txt docs/new.txt big.bin; do
  [[ $(stat -c %Y "$work/src/$f") == $(stat -c %Y "$(below "$work/all")/$f") ]] || fail "$f last write time"
done

# One member: the base as it was, then what each increment saved, as it
# was when that increment was written.
restore "$work/m0" --increment 0
diff -r "$work/states/0" "$(below "$work/m0")" || fail "the base differs"
restore "$work/m1" --increment 1
[[ $(files "$(below "$work/m1")") == "./big.bin ./docs/a.txt ./docs/new.txt " ]] || fail "member 1 holds $(files "$(below "$work/m1")")"
for f in big.bin docs/a.txt docs/new.txt; do cmp "$work/states/1/$f" "$(below "$work/m1")/$f" || fail "member 1: $f"; done
restore "$work/m2" --increment 2 --json
python3 -c "import json,sys; r=json.load(open(sys.argv[1])); assert r['ok'] and r['files']==2 and r['members']==1, r" \
  "$work/out.txt" || fail "member 2 JSON: $(cat "$work/out.txt")"
[[ $(files "$(below "$work/m2")") == "./big.bin ./docs/new.txt " ]] || fail "member 2 holds $(files "$(below "$work/m2")")"

# A member past the chain's end; a chain whose last increment lost its
# closing record: the increment's files come back from their blocks, and
# the others from the earlier members, since every record of it was read.
code=0
restore "$work/m3" --increment 3 2> "$work/err" || code=$?
[[ $code == 1 ]] && grep -q "no increment 3 (the chain holds 3 members)" "$work/err" || fail "increment 3: $code $(cat "$work/err")"
last=$(ls -v "$work"/arch/chain.I2.*.QVA | tail -1)
truncate -s $(($(stat -c %s "$last") - 20)) "$last"
code=0
restore "$work/broken" 2> "$work/err" || code=$?
[[ $code == 1 ]] || fail "damaged chain: exit $code"
grep -q "increment 2: its index cannot be read: .*; restoring the files its blocks prove whole" "$work/err" ||
  fail "damaged chain: $(cat "$work/err")"
# Its record of which files existed went with its index: the file deleted
# before it comes back from member 1, as an older chain's would.
cp -p "$work/states/1/gone.txt" "$work/src/gone.txt"
diff -r "$work/src" "$(below "$work/broken")" || fail "the damaged chain does not restore the last state: $(cat "$work/err")"
echo "restore chain: all checks passed"
