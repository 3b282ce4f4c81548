#!/usr/bin/env bash
# qvbackup restore interrupted by Ctrl-C (SIGINT) in the middle of a large
# file: the file being written is removed, no temporary file is left, the
# files restored before it are whole, the run says it was interrupted and
# exits 1. The run is held at an exact write by crash_shim.c, so what is on
# disk when the signal comes is always the same.
#   restore_interrupt_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/crash_shim.sh"
root=$(cd "$work" && pwd -P)
use_crash_shim "$root" "$qvbackup"

# Small files first (the restore goes in the order of the index: a, then
# big), then a file of 24 MB, which the restore writes in many pieces.
src=$root/src
mkdir -p "$src/a" "$src/big"
for i in 1 2 3; do head -c $((i * 5000)) /dev/urandom > "$src/a/small$i.bin"; done
head -c $((24 << 20)) /dev/urandom > "$src/big/large.bin"
"$qvbackup" backup "$src" --to "$root/arch" --name home --quiet > "$root/backup.out" 2>&1 ||
  fail "backup: $(cat "$root/backup.out")"

# Held at its 6th write below the target: the small files are written
# (one write each), the large one is part-way.
out=$root/out
mkdir -p "$out"
hold_at "$root/pause" "$out" write 6 "$root/restore.out" "$root/restore.err" \
  "$qvbackup" restore "$root/arch/home.QVA" --to "$out" --json
partial=$(find "$out" -name '~qv*.tmp')
[[ -n $partial ]] || fail "no temporary file while the large file is written: $(find "$out")"
kill -INT "$held_pid"
rm "$root/pause"
reap
[[ $code == 1 ]] || fail "the interrupted restore exits $code: $(cat "$root/restore.out" "$root/restore.err")"
grep -q 'interrupted: the file being restored was removed' "$root/restore.err" ||
  fail "the interrupted restore does not say so: $(cat "$root/restore.err")"
grep -q '"interrupted": *true' "$root/restore.out" || fail "the JSON does not say interrupted: $(cat "$root/restore.out")"
grep -q '"ok": *false' "$root/restore.out" || fail "the JSON says ok: $(cat "$root/restore.out")"
left=$(find "$out" -name '~qv*' -o -name 'large.bin')
[[ -z $left ]] || fail "the interrupted restore leaves $left"
restored=$(find "$out" -type f | wc -l)
((restored == 3)) || fail "$restored files restored before the large one instead of 3: $(find "$out" -type f)"
for i in 1 2 3; do
  got=$(find "$out" -path "*/a/small$i.bin")
  [[ -n $got ]] && cmp -s "$got" "$src/a/small$i.bin" || fail "small$i.bin is not restored whole"
done

# The same restore, undisturbed, over what is left gives every file back.
"$qvbackup" restore "$root/arch/home.QVA" --to "$out" --quiet > "$root/again.out" 2>&1 ||
  fail "the restore after the interrupted one: $(cat "$root/again.out")"
diff -r "$src" "$(dirname "$(find "$out" -type d -name big)")" > "$root/diff" 2>&1 ||
  fail "the second restore differs from the source: $(cat "$root/diff")"
