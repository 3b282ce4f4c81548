#!/usr/bin/env bash
# Self-extracting archives made by the Linux qvbackup with the Windows qvsfx
# as their stub, run under Wine: every file comes back byte for byte, into
# the folder given or the one named after the program; the password from
# QVSFX_PASSWORD, refused when missing or wrong; split volumes; a damaged
# archive and a stub without an archive fail with exit status 1.
# Arguments: the Linux qvbackup, qvsfx.exe, the Wine program.
source "$(dirname "$0")/../wine/wine_common.sh"
qvbackup=$1
stub=$2
wine=$3
# run EXE [ARG...]: the exit status, output in $work/stdout and $work/err.
run() { set +e; "$wine" "$@" </dev/null >"$work/stdout" 2>"$work/err"; echo $?; set -e; }

src=$work/src
mkdir -p "$src/sub/deeper" "$src/Répertoire été"
head -c 700000 /dev/urandom > "$src/random.bin"
head -c 300000 /dev/zero > "$src/sub/zeros.bin"
printf 'hello\r\n' > "$src/sub/deeper/notes.txt"
printf 'ça va' > "$src/Répertoire été/naïve café.txt"
: > "$src/empty.dat"
# The saved paths are those of the Linux drive map: C: is its root.
restored() { printf '%s/Kelvar_C%s' "$1" "$src"; }

# A plain archive: the program carries it whole, behind the stub.
mkdir "$work/arch"
"$qvbackup" backup "$src" --to "$work/arch" --name photos --sfx --sfx-stub "$stub" --quiet >/dev/null
python3 - "$work/arch/photos.exe" "$stub" <<'PY' || fail "stub marker"
import struct, sys
data, stub = open(sys.argv[1], 'rb').read(), open(sys.argv[2], 'rb').read()
# The DOS header's reserved words at 28 say where the archive begins.
assert data[:2] == b'MZ' and struct.unpack_from('<Q', data, 28)[0] == len(stub)
assert data[:28] == stub[:28] and data[36:len(stub)] == stub[36:], 'the stub is copied whole in front'
PY
[[ $(run "$work/arch/photos.exe" "$(windows "$work/out")") == 0 ]] || fail "plain: $(cat "$work/err")"
diff -r "$src" "$(restored "$work/out")" || fail "plain restore differs"
grep -q "^Restored 5 files, 1000013 bytes" "$work/stdout" || fail "plain report: $(cat "$work/stdout")"
# Without a folder: the folder beside the program named after it.
[[ $(run "$work/arch/photos.exe") == 0 ]] || fail "default folder: $(cat "$work/err")"
diff -r "$src" "$(restored "$work/arch/photos")" || fail "default folder restore differs"

# A password and volumes: the program is the first volume, the others lie
# beside it.
printf 'correct horse\n' > "$work/password"
"$qvbackup" backup "$src" --to "$work/arch" --name locked --sfx --sfx-stub "$stub" --quiet \
  --password-file "$work/password" --volume-size "$(( $(stat -c %s "$stub") / 1024 + 300 ))K" >/dev/null
[[ -f $work/arch/locked.1.exe && -f $work/arch/locked.2.QVA ]] || fail "volumes: $(ls "$work/arch")"
[[ $(run "$work/arch/locked.1.exe" "$(windows "$work/none")") == 1 ]] || fail "no password accepted"
grep -q "has a password" "$work/err" && [[ ! -e $work/none/Kelvar_C ]] || fail "no password: $(cat "$work/err")"
[[ $(QVSFX_PASSWORD=wrong run "$work/arch/locked.1.exe" "$(windows "$work/none")") == 1 ]] || fail "wrong password"
grep -q "wrong password" "$work/err" && [[ ! -e $work/none/Kelvar_C ]] || fail "wrong password: $(cat "$work/err")"
[[ $(QVSFX_PASSWORD='correct horse' run "$work/arch/locked.1.exe" "$(windows "$work/locked")") == 0 ]] \
  || fail "password: $(cat "$work/err")"
diff -r "$src" "$(restored "$work/locked")" || fail "split restore differs"
if grep -q "correct horse" "$work/stdout" "$work/err"; then fail "the password was printed"; fi

# A damaged data block: that file is not restored, and it is said.
cp "$work/arch/photos.exe" "$work/arch/damaged.exe"
offset=$(( $(stat -c %s "$stub") + 246 + 400000 ))
printf '\xff\x00\xff\x00' | dd of="$work/arch/damaged.exe" bs=1 seek="$offset" conv=notrunc status=none
[[ $(run "$work/arch/damaged.exe" "$(windows "$work/damaged")") == 1 ]] || fail "damage unnoticed"
grep -q "random.bin: not restored" "$work/err" || fail "damage message: $(cat "$work/err")"
# The stub alone carries nothing.
cp "$stub" "$work/arch/alone.exe"
[[ $(run "$work/arch/alone.exe") == 1 ]] && grep -q "carries no archive" "$work/err" || fail "stub alone"
[[ $(run "$work/arch/alone.exe" --help) == 0 ]] && grep -q "QVSFX_PASSWORD" "$work/stdout" || fail "--help"
[[ $(run "$work/arch/alone.exe" a b) == 1 ]] && grep -q "^usage:" "$work/err" || fail "two folders"
echo "self-extracting: all checks passed"
