#!/usr/bin/env bash
# qvbackup backup as a person runs it: a folder saved into an encrypted
# archive, what the command reports (text and JSON) checked against the
# files on disk, the restore identical byte for byte; and the exit status of
# every way the command line or the sources can be wrong.
#   archive_test.sh QVBACKUP [DATA]
source "$(dirname "$0")/common.sh"
# status CMD...: runs it, prints its exit status (stdout and stderr to files).
status() { set +e; "$@" > "$work/stdout" 2> "$work/stderr"; echo $?; set -e; }
json() { python3 -c "import json,sys; d=json.load(open(sys.argv[1])); print(eval(sys.argv[2]))" "$work/stdout" "$1"; }

mkdir -p "$work/src/Docs/Deep" "$work/src/Empty" "$work/arch" "$work/nothing"
printf 'letter\n' > "$work/src/Docs/letter.txt"
printf 'é' > "$work/src/Docs/Deep/café.txt"
printf 'two words' > "$work/src/Docs/with space.txt"
head -c 700000 /dev/urandom > "$work/src/big.bin"
: > "$work/src/zero.txt"
printf 'pw one\n' > "$work/pw"
backup=("$qvbackup" backup "$work/src" --to "$work/arch" --name set --password-file "$work/pw" --quiet)

# The JSON report against the files and the archive on disk.
[[ $(status "${backup[@]}" --json) == 0 ]] || fail "backup failed: $(cat "$work/stderr")"
[[ $(json 'd["files"]') == 5 ]] || fail "files: $(cat "$work/stdout")"
[[ $(json 'd["bytes"]') == $((7 + 2 + 9 + 700000)) ]] || fail "bytes: $(cat "$work/stdout")"
[[ $(json 'd["archive"]') == "$work/arch/set.QVA" ]] || fail "archive path: $(json 'd["archive"]')"
[[ $(json 'd["archive_bytes"]') == $(stat -c %s "$work/arch/set.QVA") ]] || fail "archive bytes"
[[ $(json 'd["volumes"]') == 1 && $(json 'd["increment"]') == 0 && $(json 'd["skipped"]') == "[]" ]] ||
  fail "volumes, increment, skipped: $(cat "$work/stdout")"
[[ $(json 'abs(d["ratio"] - d["archive_bytes"] / d["bytes"]) < 0.001 and d["seconds"] >= 0') == True ]] ||
  fail "ratio or time: $(cat "$work/stdout")"
[[ $(json 'sorted(d.keys())') == "['archive', 'archive_bytes', 'bytes', 'changed', 'files', 'folders', 'gone', 'increment', 'links', 'mb_per_s', 'ratio', 'removed', 'seconds', 'skipped', 'unchanged', 'volumes']" ]] ||
  fail "JSON keys: $(cat "$work/stdout")"
[[ ! -s $work/stderr ]] || fail "JSON run wrote on stderr: $(cat "$work/stderr")"
# Encrypted with a 256-bit key (code 7) when a password is given.
python3 - "$work/arch/set.QVA" <<'PY' || fail "header"
import sys
h = open(sys.argv[1], "rb").read(246)
assert h[:4] == b"SQVO" and h[52] == 7, h[:60]
PY

# The text report, then the restore, identical file for file.
[[ $(status "${backup[@]}" --replace) == 0 ]] || fail "second backup failed"
grep -q "^Saved 5 files, 1 empty folder, 700018 bytes read, into $work/arch/set.QVA$" "$work/stdout" || fail "text: $(cat "$work/stdout")"
grep -qE '^Archive: [0-9]+ bytes in 1 volume, ratio [0-9.]+, [0-9.]+ s, [0-9.]+ MB/s$' "$work/stdout" || fail "text: $(cat "$work/stdout")"
[[ $(status "$qvbackup" restore "$work/arch/set.QVA" --to "$work/out" --password-file "$work/pw") == 0 ]] ||
  fail "restore failed: $(cat "$work/stderr")"
diff -r --exclude Empty "$work/src" "$work/out/Kelvar_C$work/src" || fail "restored tree differs"
printf 'wrong\n' > "$work/badpw"
[[ $(status "$qvbackup" restore "$work/arch/set.QVA" --to "$work/out2" --password-file "$work/badpw") == 5 ]] ||
  fail "wrong password accepted"

# Usage errors: exit 2, the command named, nothing written.
usage() {
  local got
  got=$(status "$qvbackup" backup "$@")
  [[ $got == 2 ]] || fail "exit $got, not 2, for: $* ($(cat "$work/stderr"))"
  grep -q "^qvbackup: backup: " "$work/stderr" && grep -q "Try 'qvbackup backup --help'" "$work/stderr" ||
    fail "usage message for $*: $(cat "$work/stderr")"
}
rm -rf "$work/arch" && mkdir "$work/arch"
to=(--to "$work/arch" --name n)
usage --to "$work/arch" --name n
usage "$work/src" --name n
usage "$work/src" --to "$work/arch"
usage "$work/src" --to "$work/arch" --name a.b
usage "$work/src" --to "$work/arch" --name a/b
usage "$work/src" "${to[@]}" --key-bits 100 --password-file "$work/pw"
usage "$work/src" "${to[@]}" --key-bits 256x --password-file "$work/pw"
usage "$work/src" "${to[@]}" --key-bits 128 < /dev/null
usage "$work/src" "${to[@]}" --volume-size 10K
usage "$work/src" "${to[@]}" --volume-size 1X
usage "$work/src" "${to[@]}" --block-size 999
usage "$work/src" "${to[@]}" --block-size 513M
usage "$work/src" "${to[@]}" --threads 0
usage "$work/src" "${to[@]}" --threads 65
usage "$work/src" "${to[@]}" --categories pictures,sounds
usage "$work/src" "${to[@]}" --ext ''
usage "$work/src" "${to[@]}" --sfx-stub "$work/pw"
usage "$work/src" "${to[@]}" --sfx --incremental
usage "$work/src" "${to[@]}" --mask
usage "$work/src" "${to[@]}" --frobnicate
usage "$work/src" "${to[@]}" --name again
[[ -z $(ls -A "$work/arch") ]] || fail "a usage error wrote: $(ls "$work/arch")"
[[ $(status "$qvbackup" backup --help) == 0 ]] && grep -q "^usage: qvbackup backup SOURCE... --to DIR --name NAME" "$work/stdout" ||
  fail "--help"
grep -q "threads that compress and encrypt, 1 to 64" "$work/stdout" && grep -q "one per processor core" "$work/stdout" ||
  fail "--threads help"
# --threads is accepted in range.
[[ $(status "$qvbackup" backup "$work/src" "${to[@]}" --threads 64 --quiet) == 0 ]] || fail "--threads 64 refused"

# Failures: exit 1 with the reason, no archive.
rm -rf "$work/arch" && mkdir "$work/arch"
[[ $(status "$qvbackup" backup "$work/src" "$work/missing" "${to[@]}") == 1 ]] || fail "missing source accepted"
grep -q "missing: The system cannot find the file specified" "$work/stderr" || fail "missing source: $(cat "$work/stderr")"
[[ $(status "$qvbackup" backup "$work/src" --to "$work/new/deeper" --name n --quiet) == 0 ]] &&
  [[ -s $work/new/deeper/n.QVA ]] || fail "a missing --to folder is not made: $(cat "$work/stderr")"
[[ $(status "$qvbackup" backup "$work/src" --to "$work/pw" --name n) == 1 ]] && grep -q "not a folder" "$work/stderr" ||
  fail "file as --to: $(cat "$work/stderr")"
[[ $(status "$qvbackup" backup "$work/nothing" "${to[@]}") == 1 ]] && grep -q "nothing to save" "$work/stderr" ||
  fail "empty folder: $(cat "$work/stderr")"
[[ $(status "$qvbackup" backup "$work/src" "${to[@]}" --password-file "$work/nopw") == 1 ]] || fail "missing password file"
[[ $(status "$qvbackup" backup "$work/src" "${to[@]}" --password-env QV_NO_SUCH_VARIABLE) == 1 ]] || fail "unset variable"
[[ -z $(ls -A "$work/arch") ]] || fail "a failed backup wrote: $(ls "$work/arch")"
echo "archive: all checks passed"
