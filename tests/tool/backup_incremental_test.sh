#!/usr/bin/env bash
# qvbackup backup --incremental: each increment holds exactly the files that
# are new or whose size or last write time changed since they were last
# saved (content changed, a file added, a file only touched, a size changed
# under the same time), shares the base's identifier, follows the base's
# volume naming and password; the chain restores to the last state; a full
# backup or a gap in the chain leaves no stale increment behind.
#   backup_incremental_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
field() { python3 -c "import json,sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])" "$work/report" "$1"; }
names() { ls "$work/arch" | sort | tr '\n' ' '; }
export QV_TEST_PASSWORD='chain pw'
pw=(--password-env QV_TEST_PASSWORD)
# member FIRST_VOLUME N: the files member N saved, below src, sorted.
member() {
  "$qvbackup" list "$1" --increment "$2" "${pw[@]}" --json | python3 -c "
import json, sys
prefix = sys.argv[1]
print(' '.join(sorted(e['path'][len(prefix):].replace('\\\\', '/') for e in json.load(sys.stdin)['files'])))" \
    "$(sed 's|/|\\|g' <<<"C:$work/src\\")"
}
increment() { "$qvbackup" backup "$work/src" --to "$work/arch" --name home --incremental "${pw[@]}" --json "$@" > "$work/report"; }

mkdir -p "$work/src/docs" "$work/src/pics" "$work/arch"
for f in docs/a.txt docs/b.txt docs/c.txt pics/p.jpg keep.txt; do printf '%s v1\n' "$f" > "$work/src/$f"; done
touch -d '2020-05-01 10:00:00' "$work/src"/docs/* "$work/src"/pics/* "$work/src/keep.txt"

# Without a base, --incremental makes it, marked as the base of a chain.
increment
[[ $(names) == "home.QVA " && $(field files) == 5 && $(field increment) == 0 ]] || fail "base: $(names) $(cat "$work/report")"
python3 - "$work/arch/home.QVA" <<'PY' || fail "base header"
import sys
h = open(sys.argv[1], "rb").read(246)
assert h[:4] == b"SQVO" and int.from_bytes(h[24:28], "little") == 0 and int.from_bytes(h[32:36], "little") & 2, h[:40]
PY

# Nothing changed: no increment, exit 0.
increment
[[ $(names) == "home.QVA " && $(field archive) == None && $(field files) == 0 && $(field unchanged) == 5 ]] ||
  fail "unchanged: $(names) $(cat "$work/report")"

# Content and time changed, a file added, a file only touched.
printf 'docs/a.txt v2\n' > "$work/src/docs/a.txt"
printf 'new\n' > "$work/src/docs/new.txt"
touch "$work/src/pics/p.jpg"
increment
[[ $(names) == "home.I1.QVA home.QVA " && $(field increment) == 1 && $(field unchanged) == 3 ]] || fail "I1: $(names) $(cat "$work/report")"
[[ $(member "$work/arch/home.QVA" 1) == "docs/a.txt docs/new.txt pics/p.jpg" ]] || fail "I1 holds $(member "$work/arch/home.QVA" 1)"
cmp -i 8:8 -n 16 "$work/arch/home.QVA" "$work/arch/home.I1.QVA" || fail "I1 has another identifier"
python3 - "$work/arch/home.I1.QVA" <<'PY' || fail "I1 header"
import sys
h = open(sys.argv[1], "rb").read(246)
assert int.from_bytes(h[24:28], "little") == 1 and h[52] == 7, h[:60]
PY

# The size changed under the same last write time; the newest member that
# saved a file is what it is compared with (a.txt is unchanged since I1).
when=$(stat -c %y "$work/src/docs/b.txt")
printf 'docs/b.txt v1 and more\n' > "$work/src/docs/b.txt"
touch -d "$when" "$work/src/docs/b.txt"
rm "$work/src/keep.txt"  # deleted: the increment records that it is gone
increment
[[ $(member "$work/arch/home.QVA" 2) == "docs/b.txt" && $(field files) == 1 ]] || fail "I2 holds $(member "$work/arch/home.QVA" 2)"

# The chain restores to the last state, without the deleted file; as of
# the member before, with it.
"$qvbackup" restore "$work/arch/home.QVA" --to "$work/out" "${pw[@]}" > /dev/null || fail "chain restore failed"
diff -r "$work/src" "$work/out/Kelvar_C$work/src" || fail "chain restore differs"
"$qvbackup" restore "$work/arch/home.QVA" --as-of 1 --to "$work/asof1" "${pw[@]}" > /dev/null || fail "restore as of 1 failed"
cmp "$work/asof1/Kelvar_C$work/src/keep.txt" <(printf 'keep.txt v1\n') || fail "as of 1: keep.txt"
printf 'keep.txt v1\n' > "$work/src/keep.txt"

# The chain's password is needed, and a wrong one writes nothing.
printf 'x\n' >> "$work/src/docs/c.txt"
set +e
"$qvbackup" backup "$work/src" --to "$work/arch" --name home --incremental < /dev/null 2> "$work/err"
code=$?
QV_TEST_PASSWORD=wrong "$qvbackup" backup "$work/src" --to "$work/arch" --name home --incremental "${pw[@]}" 2>> "$work/err"
code2=$?
set -e
[[ $code == 5 && $code2 == 5 ]] && [[ $(grep -c "home: the password is wrong or missing" "$work/err") == 2 ]] ||
  fail "password: $code $code2 $(cat "$work/err")"
[[ $(names) == "home.I1.QVA home.I2.QVA home.QVA " ]] || fail "after refusals: $(names)"

# A gap: I2 was made on top of the lost I1. Readers say so, naming the
# file, and use the base only; the next increment is refused, touching
# nothing; a full backup replaces the chain and says what it removed.
rm "$work/arch/home.I1.QVA"
set +e
"$qvbackup" list "$work/arch/home.QVA" "${pw[@]}" > "$work/list" 2> "$work/err"; code=$?
"$qvbackup" verify "$work/arch/home.QVA" "${pw[@]}" > /dev/null 2>> "$work/err"; code2=$?
"$qvbackup" restore "$work/arch/home.QVA" --to "$work/gap" "${pw[@]}" > /dev/null 2>> "$work/err"; code3=$?
set -e
[[ $code == 1 && $code2 == 1 && $code3 == 1 ]] || fail "readers of a gap: $code $code2 $code3 $(cat "$work/err")"
[[ $(grep -c "increment 1 (home.I1.QVA) is missing: home.I2.QVA and the increments after it cannot be used" "$work/err") == 3 ]] ||
  fail "gap message: $(cat "$work/err")"
! grep -q "b.txt v1 and more" -r "$work/gap" || fail "restore applied the increment past the gap"
before=$(names)
set +e
"$qvbackup" backup "$work/src" --to "$work/arch" --name home --incremental "${pw[@]}" --quiet > /dev/null 2> "$work/err"
code=$?
set -e
[[ $code == 1 && $(names) == "$before" ]] && grep -q "home.I1.QVA) is missing" "$work/err" && grep -q "make a full backup" "$work/err" ||
  fail "increment over a gap: $code $(names) $(cat "$work/err")"
# A full backup of the name replaces the chain.
"$qvbackup" backup "$work/src" --to "$work/arch" --name home --replace "${pw[@]}" --quiet > /dev/null 2> "$work/err"
[[ $(names) == "home.QVA " ]] || fail "full backup left: $(names)"
grep -q "removed .*home.I2.QVA, not part of the archive's chain" "$work/err" || fail "removal not told: $(cat "$work/err")"

# A split chain: increments are split as the base is, with its volume size
# unless given; a chain in one file cannot take split increments.
rm -f "$work/arch"/*
head -c 150000 /dev/urandom > "$work/src/pics/big.bin"
increment --volume-size 64K
[[ $(names) == "home.1.QVA home.2.QVA home.3.QVA " ]] || fail "split base: $(names)"
head -c 100000 /dev/urandom > "$work/src/pics/big2.bin"
increment
[[ $(names) == "home.1.QVA home.2.QVA home.3.QVA home.I1.1.QVA home.I1.2.QVA " && $(field volumes) == 2 ]] ||
  fail "split increment: $(names)"
[[ $(field archive) == "$work/arch/home.I1.1.QVA" ]] || fail "split increment archive: $(field archive)"
[[ $(member "$work/arch/home.1.QVA" 1) == "pics/big2.bin" ]] || fail "split I1 holds $(member "$work/arch/home.1.QVA" 1)"
printf 'y\n' >> "$work/src/docs/c.txt"
increment --volume-size 1M
[[ -e $work/arch/home.I2.1.QVA ]] || fail "split increment with its own volume size: $(names)"
"$qvbackup" restore "$work/arch/home.1.QVA" --to "$work/out2" "${pw[@]}" > /dev/null || fail "split chain restore"
diff -r "$work/src" "$work/out2/Kelvar_C$work/src" || fail "split chain restore differs"
rm -f "$work/arch"/*
increment
set +e
printf 'z\n' >> "$work/src/docs/c.txt"
increment --volume-size 64K 2> "$work/err"
code=$?
set -e
[[ $code == 1 && $(names) == "home.QVA " ]] && grep -q "cannot be split" "$work/err" || fail "split increment of a single base: $code $(names)"
echo "backup incremental: all checks passed"
