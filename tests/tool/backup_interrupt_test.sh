#!/usr/bin/env bash
# Ctrl-C during qvbackup backup: the run stops, says so, exits 1 and leaves
# no volume of the archive it was writing (split into volumes or not); an
# interrupted full backup leaves the archive it would have replaced, an
# interrupted increment the base, as they were. And the progress bar:
# drawn on a terminal, not with --quiet.
#   backup_interrupt_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
pid=
trap 'if [[ -n $pid ]]; then kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; fi; rm -rf "$work"' EXIT
export QV_TEST_PASSWORD='stop pw'

# Encrypted data that compresses only partly (random bytes written as
# text), so that every block is compressed: a few seconds of work here, many
# more under the sanitizers. (Data that does not shrink at all is stored
# without compression, too fast to be interrupted reliably.)
mkdir -p "$work/big" "$work/small" "$work/arch"
for i in 1 2 3 4 5 6; do head -c 12000000 /dev/urandom | base64 -w 76 > "$work/big/f$i.txt"; done
printf 'small\n' > "$work/small/s.txt"

# interrupt PATTERN ARGS...: runs qvbackup backup ARGS in the background,
# waits until a volume file matching PATTERN holds more than a megabyte,
# sends SIGINT and sets `code` to the exit status.
interrupt() {
  local pattern=$1
  shift
  "$qvbackup" backup "$@" --password-env QV_TEST_PASSWORD --quiet > "$work/out" 2> "$work/err" &
  pid=$!
  for ((i = 0; i < 600; ++i)); do
    [[ -n $(find "$work/arch" -name "$pattern" -size +1M) ]] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -INT "$pid" 2>/dev/null || fail "the backup ended before it could be interrupted: $(cat "$work/out" "$work/err")"
  set +e
  wait "$pid"
  code=$?
  set -e
  pid=
}

interrupt 'whole.*' "$work/big" --to "$work/arch" --name whole
[[ $code == 1 ]] || fail "exit $code after SIGINT"
grep -q "^qvbackup: backup: interrupted" "$work/err" || fail "stderr: $(cat "$work/err")"
[[ ! -s $work/out ]] || fail "a report after SIGINT: $(cat "$work/out")"
[[ -z $(ls -A "$work/arch") ]] || fail "volumes left: $(ls "$work/arch")"

interrupt 'split.*' "$work/big" --to "$work/arch" --name split --volume-size 2M
[[ $code == 1 && -z $(ls -A "$work/arch") ]] || fail "split: exit $code, left $(ls "$work/arch")"

# A full backup over an earlier archive of the name, interrupted: the
# earlier one stays byte for byte, and still restores.
"$qvbackup" backup "$work/small" --to "$work/arch" --name keep --password-env QV_TEST_PASSWORD --quiet > /dev/null
kept=$(md5sum < "$work/arch/keep.QVA")
interrupt 'keep.*.qvtmp' "$work/big" --to "$work/arch" --name keep --replace
[[ $code == 1 && $(ls "$work/arch") == keep.QVA && $(md5sum < "$work/arch/keep.QVA") == "$kept" ]] ||
  fail "full backup over an archive: exit $code, left $(ls "$work/arch")"
grep -q "keep is as it was" "$work/err" || fail "over an archive, stderr: $(cat "$work/err")"
"$qvbackup" restore "$work/arch/keep.QVA" --to "$work/kept" --password-env QV_TEST_PASSWORD > /dev/null ||
  fail "the earlier archive does not restore"
rm -f "$work/arch"/*

# An increment interrupted: its own volumes go, the base stays untouched.
"$qvbackup" backup "$work/small" --to "$work/arch" --name chain --incremental --password-env QV_TEST_PASSWORD \
  --quiet > /dev/null
before=$(md5sum < "$work/arch/chain.QVA")
interrupt 'chain.I1*' "$work/small" "$work/big" --to "$work/arch" --name chain --incremental
[[ $code == 1 ]] || fail "increment: exit $code"
[[ $(ls "$work/arch") == chain.QVA && $(md5sum < "$work/arch/chain.QVA") == "$before" ]] ||
  fail "increment left: $(ls "$work/arch")"
grep -q "^qvbackup: backup: interrupted" "$work/err" || fail "increment stderr: $(cat "$work/err")"
"$qvbackup" list "$work/arch/chain.QVA" --password-env QV_TEST_PASSWORD | grep -q 's\.txt' || fail "base unreadable"

# The progress bar on a terminal: percentage, speed, time left; none with --quiet.
rm -f "$work/arch"/*
script -qec "'$qvbackup' backup '$work/big' --to '$work/arch' --name bar --password-env QV_TEST_PASSWORD" /dev/null |
  tr '\r' '\n' > "$work/tty"
grep -qE '^ *[0-9]{1,3}%  +[0-9.]+ MB/s +[0-9]+:[0-9]{2} left' "$work/tty" || fail "no progress bar: $(head -c 300 "$work/tty")"
script -qec "'$qvbackup' backup '$work/small' --to '$work/arch' --name bar --replace --quiet" /dev/null | tr '\r' '\n' > "$work/tty"
grep -q '%' "$work/tty" && fail "a progress bar with --quiet"

# The password asked on a terminal is not echoed, and opens the archive.
"$qvbackup" backup "$work/small" --to "$work/arch" --name hidden --password-env QV_TEST_PASSWORD --quiet ||
  fail "hidden: backup"
# Types the password once the prompt shows and prints what the terminal
# showed.
typed=$(python3 "$(dirname "$0")/terminal.py" "stop pw" -- "$qvbackup" list "$work/arch/hidden.QVA")
grep -q '^Password for .*hidden.QVA: ' <<< "$typed" || fail "no prompt: $typed"
grep -q 'stop pw' <<< "$typed" && fail "the password was echoed: $typed"
grep -q 's\.txt' <<< "$typed" || fail "the typed password did not open the archive: $typed"
echo "backup interrupt: all checks passed"
