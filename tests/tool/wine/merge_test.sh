#!/usr/bin/env bash
# The Windows qvbackup under Wine: a chain of four members with a deletion
# and a rename, merged to a base and one increment, lists as of each kept
# member what the old chain listed as of the same point; the members keep
# their dates; the renames over existing files and the removal of the old
# members leave only the new chain; the Linux qvbackup restores it.
# Arguments: the Linux qvbackup, the Windows qvbackup.exe, the Wine program.
source "$(dirname "$0")/wine_common.sh"
linux_qvbackup=$1
windows_qvbackup=$2
wine=$3
export LC_ALL=C

src=$work/src
mkdir -p "$src/docs" "$work/arch"
qvb() { "$wine" "$windows_qvbackup" "$@" < /dev/null; }
archive=$(windows "$work/arch/home.QVA")
backup() { qvb backup "$(windows "$src")" --to "$(windows "$work/arch")" --name home --quiet "$@" > /dev/null || fail "backup $*"; }
# listing N: paths and sizes as of member N, CRs dropped.
listing() { qvb list "$archive" --as-of "$1" | tr -d '\r' | cut -f1,2; }

printf 'a v1\n' > "$src/docs/a.txt"
printf 'b v1\n' > "$src/docs/b.txt"
printf 'gone\n' > "$src/gone.txt"
backup
printf 'a v2, longer\n' > "$src/docs/a.txt"
rm "$src/gone.txt"
backup --incremental
mv "$src/docs/b.txt" "$src/docs/B-renamed.txt"
backup --incremental
printf 'c\n' > "$src/docs/c.txt"
backup --incremental
for m in 0 1 2 3; do listing "$m" > "$work/old.$m"; done
qvb members "$archive" | tr -d '\r' > "$work/old.members"
[[ $(wc -l < "$work/old.members") == 4 ]] || fail "members: $(cat "$work/old.members")"
cmp -s "$work/old.0" "$work/old.2" && fail "the states before the merge do not differ"

qvb merge "$archive" --keep 1 > "$work/out" 2>&1 || fail "merge: $(cat "$work/out")"
[[ $(ls -A "$work/arch" | tr '\n' ' ') == "home.I1.QVA home.QVA " ]] || fail "after the merge: $(ls -A "$work/arch")"
diff "$work/old.2" <(listing 0) || fail "the new base is not the state as of member 2"
diff "$work/old.3" <(listing 1) || fail "the kept increment is not the state as of member 3"
qvb members "$archive" | tr -d '\r' > "$work/members"
[[ $(cut -f2 "$work/members") == $(sed -n '3,4p' "$work/old.members" | cut -f2) ]] ||
  fail "dates: $(cat "$work/old.members" "$work/members")"
qvb verify "$archive" > "$work/out" 2>&1 || fail "verify: $(cat "$work/out")"
"$linux_qvbackup" restore "$work/arch/home.QVA" --to "$work/back" --quiet > /dev/null || fail "Linux restore"
[[ -n $(find "$work/back" -name B-renamed.txt) && -z $(find "$work/back" -name b.txt -o -name gone.txt) ]] ||
  fail "the Linux restore of the merged chain: $(cd "$work/back" && find . -type f)"
echo "merge under Wine: all checks passed"
