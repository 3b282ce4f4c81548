#!/usr/bin/env bash
# qvbackup restore of archives written by qvbackup backup: byte for byte with
# last write times and the read-only attribute, from one file and from
# volumes split at sizes that cut blocks, encrypted, named in odd ways;
# nothing written into the archive; the password read only when needed; the
# exit status and message of every way it can fail.
#   restore_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
# status EXPECTED COMMAND...: runs COMMAND, its stderr in $work/err.
status() {
  local expected=$1 code=0
  shift
  "$@" > "$work/out.txt" 2> "$work/err" || code=$?
  [[ $code == "$expected" ]] || fail "exit $code, not $expected: $* ($(cat "$work/err"))"
}
restored() { echo "$1/Kelvar_C$work/src"; }
# A file's last write time in the 100 ns units the archive keeps.
ticks() { python3 -c "import os, sys; print(os.stat(sys.argv[1]).st_mtime_ns // 100)" "$1"; }

mkdir -p "$work/src/Docs/Deep dir" "$work/src/empty-folder" "$work/arch" "$work/split"
printf 'letter\n' > "$work/src/Docs/letter.txt"
printf 'caf\xc3\xa9 \xe2\x82\xac\n' > "$work/src/Docs/Deep dir/café €.txt"
printf 'odd' > "$work/src/Docs/semi;colon, comma.txt"
head -c 700000 /dev/urandom > "$work/src/big.bin"
seq 1 200000 > "$work/src/numbers.txt"
: > "$work/src/zero.txt"
printf 'locked' > "$work/src/readonly.txt"
chmod a-w "$work/src/readonly.txt"
touch -d '1999-12-31 23:59:58.25' "$work/src/Docs/letter.txt"
touch -d '2038-01-19 03:14:09' "$work/src/numbers.txt"
bytes=$(find "$work/src" -type f -printf '%s\n' | awk '{ n += $1 } END { print n }')
printf 'pass word\n' > "$work/pw"
printf 'not it\n' > "$work/wrong"

# One file, not encrypted: no password is asked for or read (the file
# named by --password-file does not even exist).
"$qvbackup" backup "$work/src" --to "$work/arch" --name plain --quiet > /dev/null
sha_before=$(sha256sum "$work/arch/plain.QVA")
status 0 "$qvbackup" restore "$work/arch/plain.QVA" --to "$work/r1" --password-file "$work/missing"
grep -q "^restored 7 files, 1 empty folder ($bytes bytes) from $work/arch/plain.QVA below $work/r1$" "$work/out.txt" ||
  fail "summary: $(cat "$work/out.txt")"
diff -r "$work/src" "$(restored "$work/r1")" || fail "plain restore differs"
for f in Docs/letter.txt numbers.txt big.bin readonly.txt; do
  [[ $(ticks "$work/src/$f") == $(ticks "$(restored "$work/r1")/$f") ]] || fail "$f last write time"
done
# (Root may write anything: the owner's write permission is what tells.)
[[ $(stat -c %A "$(restored "$work/r1")/readonly.txt") == -r-?r* && $(stat -c %A "$(restored "$work/r1")/zero.txt") == -rw* ]] ||
  fail "read-only attribute: $(stat -c %A "$(restored "$work/r1")/readonly.txt")"
[[ $(sha256sum "$work/arch/plain.QVA") == "$sha_before" ]] || fail "restore wrote into the archive"

# Restoring again over the restored tree leaves what is there alone, and
# says so; --overwrite always replaces it.
printf 'changed' > "$(restored "$work/r1")/Docs/letter.txt"
status 0 "$qvbackup" restore "$work/arch/plain.QVA" --to "$work/r1" --quiet
[[ $(cat "$(restored "$work/r1")/Docs/letter.txt") == changed ]] || fail "existing file replaced by default"
grep -q "^left alone (already there): C:.*letter.txt$" "$work/out.txt" && grep -q "^restored 0 files " "$work/out.txt" &&
  grep -q "^8 left alone$" "$work/out.txt" || fail "left alone: $(cat "$work/out.txt")"
status 0 "$qvbackup" restore "$work/arch/plain.QVA" --to "$work/r1" --quiet --overwrite always
cmp "$work/src/Docs/letter.txt" "$(restored "$work/r1")/Docs/letter.txt" || fail "existing file not replaced"

# Split into 64K volumes (blocks cross volume boundaries), encrypted with a
# 128-bit key, no compression; the first volume is NAME.1.QVA.
"$qvbackup" backup "$work/src" --to "$work/split" --name "my set" --volume-size 64K --key-bits 128 \
  --no-compress --block-size 50000 --password-file "$work/pw" --quiet > /dev/null
volumes=$(ls "$work/split" | wc -l)
(( volumes > 20 )) || fail "only $volumes volumes"
export QV_TEST_PW='pass word'
status 0 "$qvbackup" restore "$work/split/my set.1.QVA" --to "$work/r2" --password-env QV_TEST_PW --json
python3 - "$work/out.txt" "$work/r2" "$bytes" <<'PY' || fail "JSON: $(cat "$work/out.txt")"
import json, sys
r = json.load(open(sys.argv[1]))
assert r["ok"] is True and r["files"] == 7 and r["bytes"] == int(sys.argv[3]) and r["members"] == 1, r
assert r["failed"] == [] and r["target"] == sys.argv[2] and r["archive"].endswith("my set.1.QVA"), r
PY
diff -r "$work/src" "$(restored "$work/r2")" || fail "split restore differs"

# Self-extracting: the archive follows a program (any file starting "MZ"
# serves) in NAME.exe.
python3 -c "import sys; open(sys.argv[1], 'wb').write(b'MZ' + bytes(40000))" "$work/stub.exe"
"$qvbackup" backup "$work/src" --to "$work/arch" --name self --sfx --sfx-stub "$work/stub.exe" --quiet > /dev/null
status 0 "$qvbackup" restore "$work/arch/self.exe" --to "$work/r3"
diff -r "$work/src" "$(restored "$work/r3")" || fail "self-extracting restore differs"

# Failures: each says why on stderr, writes nothing, and exits 1.
status 5 "$qvbackup" restore "$work/split/my set.1.QVA" --to "$work/r4" --password-file "$work/wrong"
grep -qx "qvbackup: $work/split/my set.1.QVA: wrong password" "$work/err" || fail "wrong password: $(cat "$work/err")"
status 5 "$qvbackup" restore "$work/split/my set.1.QVA" --to "$work/r4" < /dev/null
grep -q "the archive is encrypted: give its password" "$work/err" || fail "no password: $(cat "$work/err")"
status 5 "$qvbackup" restore "$work/split/my set.1.QVA" --to "$work/r4" --password-env QV_TEST_UNSET
grep -q "QV_TEST_UNSET is not set" "$work/err" || fail "unset variable: $(cat "$work/err")"
[[ ! -e $work/r4 ]] || fail "a failed restore wrote files"
status 1 "$qvbackup" restore "$work/arch/none.QVA" --to "$work/r4"
grep -qx "qvbackup: $work/arch/none.QVA: The system cannot find the file specified." "$work/err" || fail "missing: $(cat "$work/err")"
status 1 "$qvbackup" restore "$work/split/my set.2.QVA" --to "$work/r4" --password-file "$work/pw"
grep -q "not an archive, or its header is damaged" "$work/err" || fail "second volume: $(cat "$work/err")"
status 1 "$qvbackup" restore "$work/src/numbers.txt" --to "$work/r4"
status 1 "$qvbackup" restore "$work/arch/plain.QVA" --to "$work/src/zero.txt"
grep -q "zero.txt: The directory name is invalid." "$work/err" || fail "target is a file: $(cat "$work/err")"
status 1 "$qvbackup" restore "$work/arch" --to "$work/r4"
status 1 "$qvbackup" restore "$work/arch/plain.QVA" --to "$work/r4" --increment 1
grep -q "no increment 1 (the chain holds 1 member)" "$work/err" || fail "increment 1: $(cat "$work/err")"
[[ ! -e $work/r4 ]] || fail "a failed restore wrote files"

# Usage errors exit 2 and point at --help; --help itself exits 0.
status 2 "$qvbackup" restore "$work/arch/plain.QVA"
grep -q "^qvbackup: restore: --to DIR is required$" "$work/err" && grep -q "Try 'qvbackup restore --help'." "$work/err" ||
  fail "no --to: $(cat "$work/err")"
status 2 "$qvbackup" restore --to "$work/r4"
status 2 "$qvbackup" restore "$work/arch/plain.QVA" --to "$work/r4" --original
grep -q "^qvbackup: restore: --to and --original exclude each other$" "$work/err" || fail "--to and --original: $(cat "$work/err")"
status 2 "$qvbackup" restore "$work/arch/plain.QVA" --to "$work/r4" --overwrite sometimes
status 2 "$qvbackup" restore "$work/arch/plain.QVA" --to "$work/r4" --increment -1
status 2 "$qvbackup" restore "$work/arch/plain.QVA" --to "$work/r4" --frobnicate
status 2 "$qvbackup" restore "$work/arch/plain.QVA" --to
status 0 "$qvbackup" restore --help
grep -qF "usage: qvbackup restore ARCHIVE (--to DIR | --original) [PATTERN...]" "$work/out.txt" || fail "help"
# One file of one byte: the summary counts it in the singular.
mkdir -p "$work/one"
printf 'x' > "$work/one/x.txt"
"$qvbackup" backup "$work/one" --to "$work/arch" --name onebyte --quiet > /dev/null
"$qvbackup" restore "$work/arch/onebyte.QVA" --to "$work/r5" --quiet > "$work/out.txt"
grep -q "^restored 1 file (1 byte) from " "$work/out.txt" || fail "one byte restored: $(cat "$work/out.txt")"
echo "restore: all checks passed"
