#!/usr/bin/env bash
# Names that differ only in case are two files on Linux: qvbackup saves and
# restores both, with the folders below them, through a chain whose
# increment changes only one of each pair; list shows both.
#   case_names_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
src=$work/src
mkdir -p "$src/photos/2024" "$src/Photos/2024" "$src/docs"
echo "lower readme" > "$src/readme.txt"
echo "UPPER README, longer" > "$src/README.txt"
echo "mixed" > "$src/ReadMe.txt"
head -c 5000 /dev/urandom > "$src/photos/2024/a.jpg"
head -c 7000 /dev/urandom > "$src/Photos/2024/a.jpg"
head -c 3000 /dev/urandom > "$src/Photos/2024/b.jpg"
echo "notes" > "$src/docs/Notes"
echo "NOTES" > "$src/docs/NOTES"
touch -d '2024-01-01 12:00' "$src"/*.txt "$src"/*/2024/*.jpg "$src"/docs/*

run() { "$qvbackup" "$@" > "$work/out.txt" 2>&1 || fail "qvbackup $*: $(cat "$work/out.txt")"; }
restored_equals() {
  rm -rf "$work/back"
  mkdir "$work/back"
  run restore "$work/arch/home.QVA" --to "$work/back" --quiet
  diff -r "$1" "$work/back/Kelvar_C$src" > "$work/diff" 2>&1 || fail "$2: the restore differs: $(cat "$work/diff")"
}

run backup "$src" --to "$work/arch" --name home --json
grep -q '"files": *8\b' "$work/out.txt" || fail "the backup does not save 8 files: $(cat "$work/out.txt")"
grep -q '"skipped": *\[\]' "$work/out.txt" || fail "the backup skips files: $(cat "$work/out.txt")"
restored_equals "$src" "the full backup"
run list "$work/arch/home.QVA"
for name in readme.txt README.txt ReadMe.txt photos/2024/a.jpg Photos/2024/a.jpg docs/Notes docs/NOTES; do
  grep -qF "${name//\//\\}" "$work/out.txt" || fail "list does not show $name: $(cat "$work/out.txt")"
done

# An increment that changes one file of each pair: only those are saved,
# and the restore of the chain gives each its own version.
echo "lower readme, second version" > "$src/readme.txt"
head -c 9000 /dev/urandom > "$src/Photos/2024/a.jpg"
echo "NOTES, second version" > "$src/docs/NOTES"
touch -d '2024-02-01 12:00' "$src/readme.txt" "$src/Photos/2024/a.jpg" "$src/docs/NOTES"
run backup "$src" --to "$work/arch" --name home --incremental --json
grep -q '"files": *3\b' "$work/out.txt" || fail "the increment does not save the 3 changed files: $(cat "$work/out.txt")"
restored_equals "$src" "the chain"
