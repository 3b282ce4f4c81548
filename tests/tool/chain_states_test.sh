#!/usr/bin/env bash
# A chain as crashes, lost files and other runs leave it: a last increment
# whose backup never ended (as earlier versions left one when killed), one
# of another archive under this name, leftovers of an interrupted run, a run
# holding the archive's lock, and names differing only in case.
#   chain_states_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
names() { ls -A "$work/arch" | sort | tr '\n' ' '; }
backup() { "$qvbackup" backup "$work/src" --to "$work/arch" --name home --quiet "$@"; }
# unfinish FILE: the header as a run leaves it when it dies before its end:
# no closing record offset, no end of data.
unfinish() {
  python3 - "$1" <<'PY'
import sys
p = sys.argv[1]
d = bytearray(open(p, "rb").read())
d[181:197] = bytes(16)
open(p, "wb").write(d)
PY
}

mkdir -p "$work/src" "$work/arch"
for f in a b c; do printf '%s v1\n' "$f" > "$work/src/$f.txt"; done
backup > /dev/null
printf 'a v2\n' > "$work/src/a.txt"
backup --incremental > /dev/null
printf 'b v2\n' > "$work/src/b.txt"
backup --incremental > /dev/null
[[ $(names) == "home.I1.QVA home.I2.QVA home.QVA " ]] || fail "chain: $(names)"

# I2 never ended: list and restore say so in one line and use the base
# and I1 (exit 0); verify fails.
cp "$work/arch/home.I2.QVA" "$work/i2.keep"
unfinish "$work/arch/home.I2.QVA"
"$qvbackup" list "$work/arch/home.QVA" > "$work/list" 2> "$work/err" || fail "list of an unfinished member failed"
[[ $(grep -c "home.I2.QVA (increment 2) was never finished" "$work/err") == 1 ]] || fail "list note: $(cat "$work/err")"
"$qvbackup" restore "$work/arch/home.QVA" --to "$work/out" > /dev/null 2> "$work/err" || fail "restore: $(cat "$work/err")"
grep -q "was never finished" "$work/err" || fail "restore note: $(cat "$work/err")"
[[ $(cat "$work/out/Kelvar_C$work/src/a.txt") == "a v2" && $(cat "$work/out/Kelvar_C$work/src/b.txt") == "b v1" ]] ||
  fail "restore applied the unfinished member"
code=0
"$qvbackup" verify "$work/arch/home.QVA" --json > "$work/v.json" 2> /dev/null || code=$?
[[ $code == 1 ]] && grep -q "never finished" "$work/v.json" || fail "verify of an unfinished member: $code $(cat "$work/v.json")"

# The next increment takes its place without help, and says so.
printf 'c v2\n' > "$work/src/c.txt"
backup --incremental --json > "$work/report" 2> "$work/err"
grep -q "the new increment takes its place" "$work/err" || fail "increment note: $(cat "$work/err")"
[[ $(names) == "home.I1.QVA home.I2.QVA home.QVA " ]] || fail "after replacing: $(names)"
"$qvbackup" verify "$work/arch/home.QVA" > /dev/null || fail "chain unsound after replacing"
rm -rf "$work/out"
"$qvbackup" restore "$work/arch/home.QVA" --to "$work/out" > /dev/null 2> "$work/err"
[[ ! -s $work/err ]] || fail "restore after replacing said: $(cat "$work/err")"
diff -r "$work/src" "$work/out/Kelvar_C$work/src" || fail "restore after replacing differs"

# Another archive's increment under this name: an error for readers
# (naming the file, exit 1), no increment follows it, nothing is removed
# but by a full backup, which says so.
mkdir -p "$work/other"
"$qvbackup" backup "$work/src" --to "$work/other" --name home --quiet > /dev/null
"$qvbackup" backup "$work/src" --to "$work/other" --name home --incremental --quiet > /dev/null 2>&1 || true
printf 'x\n' > "$work/src/x.txt"
"$qvbackup" backup "$work/src" --to "$work/other" --name home --incremental --quiet > /dev/null
cp "$work/other/home.I1.QVA" "$work/arch/home.I3.QVA"
code=0
"$qvbackup" restore "$work/arch/home.QVA" --to "$work/out3" > /dev/null 2> "$work/err" || code=$?
[[ $code == 1 ]] && grep -q "home.I3.QVA is not a member of this chain" "$work/err" || fail "foreign member: $code $(cat "$work/err")"
code=0
backup --incremental 2> "$work/err" || code=$?
[[ $code == 1 && -e $work/arch/home.I3.QVA && ! -e $work/arch/home.I4.QVA ]] || fail "increment after a foreign member: $code $(names)"
backup --replace --json > "$work/report" 2> "$work/err"
[[ $(names) == "home.QVA " ]] || fail "full backup left: $(names)"
grep -q "removed .*home.I3.QVA, not part of the archive's chain" "$work/err" || fail "foreign removal untold: $(cat "$work/err")"
python3 - "$work/report" <<'PY' || fail "removed files in JSON: $(cat "$work/report")"
import json, sys
removed = {r["path"].rsplit("\\", 1)[-1]: r["reason"] for r in json.load(open(sys.argv[1]))["removed"]}
assert removed["home.I1.QVA"] == "replaced by the new archive", removed
assert removed["home.I3.QVA"].startswith("not part of"), removed
PY

# Leftovers of a run that died while writing never pass for members and
# go with the next run.
printf 'junk' > "$work/arch/home.I1.QVA.qvtmp"
printf 'junk' > "$work/arch/home.QVA.qvtmp"
"$qvbackup" list "$work/arch/home.QVA" > /dev/null 2> "$work/err" && [[ ! -s $work/err ]] || fail "leftovers read: $(cat "$work/err")"
backup --incremental 2> "$work/err" > /dev/null  # nothing changed: nothing is written, but they go
[[ $(names) == "home.QVA " ]] || fail "leftovers stayed: $(names)"
grep -q "home.QVA.qvtmp, left by a backup that did not end" "$work/err" || fail "leftover removal untold: $(cat "$work/err")"

# A run holding the lock: another stops at once, touching nothing, with its
# own exit status; once the holder is gone (killed: the system lets its
# lock go) the next run goes ahead.
mkfifo "$work/hold"
python3 - "$work/arch/home.qvlock" "$work/hold" "$work/ready" > /dev/null 2>&1 <<'PY' &
import fcntl, os, sys
fd = os.open(sys.argv[1], os.O_RDWR | os.O_CREAT, 0o600)
fcntl.flock(fd, fcntl.LOCK_EX)
os.write(fd, b"process 4242 on testhost, since 2026-01-02 03:04:05 UTC\n")
open(sys.argv[3], "w").close()
open(sys.argv[2]).read()  # until the test lets go
PY
holder=$!
trap 'kill -9 "$holder" 2> /dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 1 600); do [[ -e $work/ready ]] && break; sleep 0.1; done
[[ -e $work/ready ]] || fail "the lock holder did not start"
before=$(names)
sums=$(cd "$work/arch" && sha256sum -- *)
printf 'y\n' > "$work/src/y.txt"
code=0
backup --incremental 2> "$work/err" > /dev/null || code=$?
[[ $code == 3 ]] || fail "busy exit status $code: $(cat "$work/err")"
grep -qF "qvbackup: home: the archive is in use by another run (process 4242 on testhost, since 2026-01-02 03:04:05 UTC)" "$work/err" ||
  fail "busy message: $(cat "$work/err")"
code=0
backup --replace 2> /dev/null > /dev/null || code=$?
[[ $code == 3 && $(names) == "$before" && $(cd "$work/arch" && sha256sum -- *) == "$sums" ]] || fail "a busy run touched the archive: $code"
kill -9 "$holder"
wait "$holder" 2> /dev/null || true  # its lock file stays, unlocked
backup --incremental > /dev/null || fail "the lock of a killed holder was not taken over"
[[ $(names) == "home.I1.QVA home.QVA " ]] || fail "after taking the lock over: $(names)"

# On this system "work" and "Work" are two archives.
mkdir -p "$work/case"
"$qvbackup" backup "$work/src" --to "$work/case" --name Work --quiet > /dev/null
"$qvbackup" backup "$work/src" --to "$work/case" --name Work --incremental --quiet > /dev/null 2>&1 || true
printf 'z\n' > "$work/src/z.txt"
"$qvbackup" backup "$work/src" --to "$work/case" --name Work --incremental --quiet > /dev/null
upper=$(cd "$work/case" && sha256sum -- *)
"$qvbackup" backup "$work/src" --to "$work/case" --name work --incremental --json > "$work/report"
[[ $(python3 -c "import json,sys; print(json.load(open(sys.argv[1]))['increment'])" "$work/report") == 0 ]] ||
  fail "work took Work's chain: $(cat "$work/report")"
"$qvbackup" backup "$work/src" --to "$work/case" --name work --replace --quiet > /dev/null
[[ $(cd "$work/case" && sha256sum -- Work*) == "$upper" ]] || fail "a backup of work changed Work's files"
echo "chain states: all checks passed"
