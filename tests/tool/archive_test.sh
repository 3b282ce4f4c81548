#!/usr/bin/env bash
# qvbackup backup and restore run as a person runs them: a folder saved into
# an encrypted archive and restored elsewhere, byte for byte; a wrong
# password, a missing archive, nothing to save and bad usage each fail.
#   archive_test.sh QVBACKUP
set -euo pipefail
qvbackup=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "archive test: $*" >&2; exit 1; }

mkdir -p "$work/src/Docs/Deep" "$work/src/Empty" "$work/arch" "$work/out" "$work/nothing"
printf 'letter\n' > "$work/src/Docs/letter.txt"
printf 'é' > "$work/src/Docs/Deep/café.txt"
head -c 700000 /dev/urandom > "$work/src/big.bin"
: > "$work/src/zero.txt"

"$qvbackup" backup --password pw "$work/src" "$work/arch" set > "$work/out.txt" || fail "backup failed"
grep -q "saved 4 files, 700009 bytes" "$work/out.txt" || fail "backup summary: $(cat "$work/out.txt")"
[[ -s $work/arch/set.QVA ]] || fail "no archive"
"$qvbackup" restore --password pw "$work/arch" set "$work/out" > /dev/null || fail "restore failed"
diff -r --exclude Empty "$work/src" "$work/out/Kelvar_C$work/src" || fail "restored tree differs"

if "$qvbackup" restore --password wrong "$work/arch" set "$work/out2" 2>/dev/null; then fail "wrong password accepted"; fi
if "$qvbackup" restore "$work/arch" missing "$work/out" 2>/dev/null; then fail "missing archive accepted"; fi
if "$qvbackup" backup "$work/nothing" "$work/arch" empty 2>/dev/null; then fail "empty folder saved"; fi
[[ ! -e $work/arch/empty.QVA ]] || fail "archive made for nothing"
set +e
"$qvbackup" backup "$work/src" 2>/dev/null
[[ $? == 2 ]] || fail "bad usage not reported as such"
set -e
echo "archive: all checks passed"
