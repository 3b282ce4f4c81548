#!/usr/bin/env bash
# A chain whose increments were written before increments recorded which
# files existed (qv_plain_member writes them as those versions did): each
# adds what it saved to the members before it, so a file deleted in its
# time is still listed. Merged, every kept member still lists and restores
# exactly what it did; the new base holds the state of the last member it
# takes in; an increment written after the merge records the state again.
#   plain_members_merge_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
writer=$(dirname "$qvbackup")/qv_plain_member
[[ -x $writer ]] || fail "no $writer beside qvbackup"
src=$work/src
mkdir -p "$src/d" "$work/arch"
member() { "$writer" "$work/arch" old "$@" || fail "qv_plain_member $*"; }
listing() { "$qvbackup" list "$work/arch/old.QVA" --as-of "$1" | cut -f1-3; }
digests() { (cd "$1" && find . -type f | sort | xargs sha256sum); }

printf 'a\n' > "$src/d/a.txt"
printf 'b\n' > "$src/d/b.txt"
head -c 70000 /dev/urandom > "$src/d/c.bin"
member base "$src/d/a.txt" "$src/d/b.txt" "$src/d/c.bin"
printf 'a, second\n' > "$src/d/a.txt"
member increment "$src/d/a.txt"
printf 'new\n' > "$src/d/n.txt"
rm "$src/d/b.txt"  # gone, but these increments cannot say so
member increment "$src/d/n.txt"
printf 'a, third\n' > "$src/d/a.txt"
member increment "$src/d/a.txt"
for m in 0 1 2 3; do listing "$m" > "$work/old.$m"; done
# Each old increment adds to what was there: member 2 still lists the
# deleted b beside a, c and n.
[[ $(grep -c . "$work/old.2") == 4 ]] && grep -q 'b\.txt' "$work/old.2" || fail "the old chain as of 2: $(cat "$work/old.2")"
"$qvbackup" restore "$work/arch/old.QVA" --as-of 3 --to "$work/before" --quiet > /dev/null || fail "restore before"

"$qvbackup" merge "$work/arch/old.QVA" --keep 1 > "$work/out.txt" || fail "merge: $(cat "$work/out.txt")"
[[ $(ls -A "$work/arch" | tr '\n' ' ') == "old.I1.QVA old.QVA " ]] || fail "after the merge: $(ls -A "$work/arch")"
diff "$work/old.2" <(listing 0) || fail "the new base is not the old chain as of 2"
diff "$work/old.3" <(listing 1) || fail "the kept increment is not the old chain as of 3"
"$qvbackup" restore "$work/arch/old.QVA" --to "$work/after" --quiet > /dev/null || fail "restore after"
diff <(digests "$work/before") <(digests "$work/after") || fail "the merged chain restores other files"
"$qvbackup" verify "$work/arch/old.QVA" > "$work/out.txt" || fail "verify: $(cat "$work/out.txt")"

# The next increment, by this version, records the state: the deleted
# file is gone from it.
"$qvbackup" backup "$src" --to "$work/arch" --name old --incremental --quiet > /dev/null ||
  fail "an increment after the merge"
listing 2 > "$work/new.2"
! grep -q 'b\.txt' "$work/new.2" || fail "the deleted file is listed after the next increment: $(cat "$work/new.2")"
grep -q 'n\.txt' "$work/new.2" || fail "the increment after the merge lost a file: $(cat "$work/new.2")"
