#!/usr/bin/env bash
# qvbackup merge: a chain of five members (deletions, a rename, a file
# replaced by a folder and back, a symbolic link, two names of one file)
# shortened to a base and two increments restores, as of each kept member,
# exactly what the old chain restored as of the same point: same files,
# content, times, links. The kept members keep their dates; members lists
# the new chain; verify finds it sound. Then: --keep 0, nothing to merge,
# an encrypted chain, a damaged chain refused with every file untouched,
# and bad usage.
#   merge_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
src=$work/src
backup() { "$qvbackup" backup "$src" --to "$work/arch" --name home --quiet "$@" > /dev/null; }
below() { echo "$1/Kelvar_C$src"; }
# What a restore of the chain as of member N gives, as text: each item's
# path, type, size, last write time and content digest, links' targets.
state_of() {
  local archive=$1 member=$2 into=$work/restored.$RANDOM
  "$qvbackup" restore "$archive" --to "$into" --as-of "$member" --quiet "${@:3}" > /dev/null ||
    fail "restore of $archive as of $member failed"
  (cd "$(below "$into")" && find . -mindepth 1 | sort | while read -r p; do
    if [[ -L $p ]]; then echo "$p link $(readlink "$p")"
    elif [[ -d $p ]]; then echo "$p folder"
    else echo "$p file $(stat -c '%s %Y %h' "$p") $(sha256sum < "$p" | cut -c1-16)"; fi
  done)
  rm -rf "$into"
}
digest() { (cd "$work/arch" && sha256sum -- * | sort); }

mkdir -p "$src/docs" "$work/arch" "$work/old"
printf 'a v1\n' > "$src/docs/a.txt"
printf 'b v1\n' > "$src/docs/b.txt"
head -c 300000 /dev/urandom > "$src/big.bin"
printf 'becomes a folder\n' > "$src/shape"
ln -s docs/a.txt "$src/to-a"
ln "$src/docs/b.txt" "$src/b-again"
touch -d '2021-03-04 05:06:07' "$src/docs/a.txt" "$src/docs/b.txt" "$src/big.bin" "$src/shape"
backup
# 1: a change, a deletion, a file replaced by a folder of files.
printf 'a v2, longer\n' > "$src/docs/a.txt"
rm "$src/big.bin"
rm "$src/shape" && mkdir "$src/shape" && printf 'inside\n' > "$src/shape/in.txt"
backup --incremental
# 2: a rename (same content), a new empty folder.
mv "$src/docs/b.txt" "$src/docs/b-renamed.txt"
mkdir "$src/empty"
backup --incremental
# 3: the folder replaced by a file again, the empty folder gone.
rm -r "$src/shape" && printf 'a file again\n' > "$src/shape"
rmdir "$src/empty"
backup --incremental
# 4: one more change, a file added.
printf 'a v3\n' > "$src/docs/a.txt"
touch -d '2024-05-06 07:08:09' "$src/docs/a.txt"
printf 'new\n' > "$src/docs/new.txt"
backup --incremental
[[ $(ls "$work/arch" | tr '\n' ' ') == "home.I1.QVA home.I2.QVA home.I3.QVA home.I4.QVA home.QVA " ]] ||
  fail "chain: $(ls "$work/arch")"
for m in 0 1 2 3 4; do state_of "$work/arch/home.QVA" "$m" > "$work/old/$m"; done
"$qvbackup" members "$work/arch/home.QVA" > "$work/old/members" || fail "members of the old chain"
[[ $(wc -l < "$work/old/members") == 5 && $(cut -f5 "$work/old/members" | sort -u) == complete ]] ||
  fail "members of the old chain: $(cat "$work/old/members")"
# The five states differ, or the comparisons below would prove little.
[[ $(md5sum "$work/old/"[0-4] | cut -d' ' -f1 | sort -u | wc -l) == 5 ]] || fail "the chain's states do not all differ"

# --keep 2: the base takes in members 0 to 2.
"$qvbackup" merge "$work/arch/home.QVA" --keep 2 > "$work/out.txt" || fail "merge: $(cat "$work/out.txt")"
grep -q "members 0 to 2 folded into a new base of .* items; 2 increments kept" "$work/out.txt" ||
  fail "merge said: $(cat "$work/out.txt")"
[[ $(ls -A "$work/arch" | tr '\n' ' ') == "home.I1.QVA home.I2.QVA home.QVA " ]] || fail "merged chain: $(ls -A "$work/arch")"
for k in 0 1 2; do
  state_of "$work/arch/home.QVA" "$k" > "$work/new.$k"
  diff "$work/old/$((k + 2))" "$work/new.$k" || fail "the merged chain as of member $k is not the old one as of $((k + 2))"
done
"$qvbackup" members "$work/arch/home.QVA" > "$work/members" || fail "members of the merged chain"
# Numbers 0 1 2, with the dates of old members 2, 3 and 4.
[[ $(cut -f1 "$work/members" | tr '\n' ' ') == "0 1 2 " ]] || fail "members: $(cat "$work/members")"
[[ $(cut -f2 "$work/members") == $(sed -n '3,5p' "$work/old/members" | cut -f2) ]] ||
  fail "the kept members lost their dates: $(cat "$work/old/members" "$work/members")"
"$qvbackup" verify "$work/arch/home.QVA" > "$work/out.txt" || fail "verify of the merged chain: $(cat "$work/out.txt")"
"$qvbackup" members "$work/arch/home.QVA" --json > "$work/members.json"
python3 - "$work/members.json" <<'PY' || fail "members JSON: $(cat "$work/members.json")"
import json, sys
members = json.load(open(sys.argv[1]))["members"]
assert [m["number"] for m in members] == [0, 1, 2], members
assert all(m["state"] == "complete" and m["bytes"] > 0 and m["items"] >= 1 for m in members), members
assert all(m["time"].endswith("Z") for m in members), members
PY

# The next increment goes on the merged chain, and restores as it should.
printf 'after the merge\n' > "$src/docs/later.txt"
backup --incremental
[[ -e $work/arch/home.I3.QVA ]] || fail "no increment after the merge: $(ls "$work/arch")"
state_of "$work/arch/home.QVA" 3 > "$work/new.3"
grep -q '^./docs/later.txt file ' "$work/new.3" && [[ $(grep -vc later.txt "$work/new.3") == $(wc -l < "$work/new.2") ]] ||
  fail "the increment after the merge: $(cat "$work/new.3")"

# Nothing to merge: said, success, nothing touched.
before=$(digest)
"$qvbackup" merge "$work/arch/home.QVA" --keep 3 > "$work/out.txt" || fail "merge --keep 3"
grep -q "the chain has 3 increments: nothing to merge" "$work/out.txt" || fail "said: $(cat "$work/out.txt")"
[[ $(digest) == "$before" ]] || fail "a merge with nothing to do changed the archive"

# --keep 0: one base, the newest state.
"$qvbackup" merge "$work/arch/home.QVA" --keep 0 --json > "$work/out.json" || fail "merge --keep 0: $(cat "$work/out.json")"
python3 -c "import json,sys; r=json.load(open(sys.argv[1])); assert r['members']==4 and r['kept']==0 and len(r['removed'])==3, r" \
  "$work/out.json" || fail "merge JSON: $(cat "$work/out.json")"
[[ $(ls -A "$work/arch") == home.QVA ]] || fail "after --keep 0: $(ls -A "$work/arch")"
diff "$work/new.3" <(state_of "$work/arch/home.QVA" 0) || fail "the single base is not the newest state"

# An encrypted chain: merged with its password, refused without it.
rm -rf "$work/arch" && mkdir "$work/arch"
export MERGE_PASSWORD='s3cret merge'
backup --password-env MERGE_PASSWORD
printf 'enc 1\n' > "$src/docs/enc.txt"
backup --incremental --password-env MERGE_PASSWORD
rm "$src/docs/a.txt"
backup --incremental --password-env MERGE_PASSWORD
state_of "$work/arch/home.QVA" 2 --password-env MERGE_PASSWORD > "$work/enc.old"
before=$(digest)
set +e
"$qvbackup" merge "$work/arch/home.QVA" --keep 1 < /dev/null > "$work/out.txt" 2>&1
code=$?
set -e
[[ $code == 5 && $(digest) == "$before" ]] || fail "merge without the password: $code $(cat "$work/out.txt")"
"$qvbackup" merge "$work/arch/home.QVA" --keep 1 --password-env MERGE_PASSWORD > "$work/out.txt" ||
  fail "encrypted merge: $(cat "$work/out.txt")"
diff "$work/enc.old" <(state_of "$work/arch/home.QVA" 1 --password-env MERGE_PASSWORD) || fail "the encrypted merge changed the newest state"
"$qvbackup" verify "$work/arch/home.QVA" --password-env MERGE_PASSWORD > /dev/null || fail "verify of the encrypted merge"

# A damaged member: refused, every file as it was.
rm -rf "$work/arch" && mkdir "$work/arch"
backup
printf 'more\n' > "$src/docs/more.txt"
backup --incremental
printf 'and more\n' > "$src/docs/more2.txt"
backup --incremental
python3 - "$work/arch/home.I1.QVA" <<'PY'
import sys
p = sys.argv[1]
d = bytearray(open(p, "rb").read())
d[260] ^= 0xFF  # inside the first block after the header
open(p, "wb").write(d)
PY
before=$(digest)
set +e
"$qvbackup" merge "$work/arch/home.QVA" --keep 0 > "$work/out.txt" 2>&1
code=$?
set -e
[[ $code == 1 ]] || fail "merge of a damaged chain: exit $code: $(cat "$work/out.txt")"
grep -q "nothing was merged" "$work/out.txt" || fail "merge of a damaged chain said: $(cat "$work/out.txt")"
[[ $(digest) == "$before" && $(ls -A "$work/arch" | wc -l) == 3 ]] || fail "a refused merge touched the archive: $(ls -A "$work/arch")"

# Usage.
set +e
"$qvbackup" merge "$work/arch/home.QVA" > /dev/null 2>&1; [[ $? == 2 ]] || fail "merge without --keep"
"$qvbackup" merge "$work/arch/home.QVA" --keep many > /dev/null 2>&1; [[ $? == 2 ]] || fail "merge --keep many"
set -e
