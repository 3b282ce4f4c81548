#!/usr/bin/env bash
# How qvbackup backup writes its archive, read from the bytes on disk: split
# volumes (names, sizes, the restore of all of them), a later backup of the
# same name replacing every old volume, --no-compress, --block-size,
# --key-bits in the header, and self-extracting archives behind a stub.
#   backup_volumes_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
field() { python3 -c "import json,sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])" "$work/report" "$1"; }
# header FILE OFFSET WIDTH: a little-endian number of the archive header
# that starts at byte OFFSET0 (default 0) of FILE.
header() {
  python3 -c "
import sys
data = open(sys.argv[1], 'rb').read()
base = int(sys.argv[4]) if len(sys.argv) > 4 else 0
assert data[base:base + 4] == b'SQVO', 'no header'
at, width = int(sys.argv[2]), int(sys.argv[3])
print(int.from_bytes(data[base + at:base + at + width], 'little'))" "$@"
}
names() { ls "$work/arch" | sort | tr '\n' ' '; }

mkdir -p "$work/src/sub" "$work/arch" "$work/zeros"
head -c 300000 /dev/urandom > "$work/src/random.bin"
head -c 5000 /dev/urandom > "$work/src/sub/small.bin"
printf 'text\n' > "$work/src/sub/a.txt"
head -c 1000000 /dev/zero > "$work/zeros/zero.bin"
export QV_TEST_PASSWORD='vol pw'
pw=(--password-env QV_TEST_PASSWORD)

# Split into 64 KiB volumes: NAME.1.QVA, NAME.2.QVA... all full but the last.
"$qvbackup" backup "$work/src" --to "$work/arch" --name split --volume-size 64K "${pw[@]}" --json > "$work/report"
count=$(ls "$work/arch" | wc -l)
((count >= 5)) || fail "only $count volumes"
[[ $(field volumes) == "$count" && $(field archive) == "$work/arch/split.1.QVA" ]] || fail "report: $(cat "$work/report")"
[[ $(field archive_bytes) == $(cat "$work/arch"/* | wc -c) ]] || fail "archive bytes"
for ((i = 1; i <= count; ++i)); do
  [[ -f $work/arch/split.$i.QVA ]] || fail "volume $i missing: $(names)"
  size=$(stat -c %s "$work/arch/split.$i.QVA")
  ((i == count ? size <= 65536 : size == 65536)) || fail "volume $i has $size bytes"
done
[[ $(header "$work/arch/split.1.QVA" 44 8) == 65536 ]] || fail "volume size in the header"
"$qvbackup" restore "$work/arch/split.1.QVA" --to "$work/out" "${pw[@]}" > /dev/null || fail "split restore failed"
diff -r "$work/src" "$work/out/Kelvar_C$work/src" || fail "split restore differs"
# Blocks read ahead by workers come back the same across the volumes; with
# a volume missing, the run stops at it just as without workers, saying the
# same, with the same files restored before it.
for threads in 1 4; do
  "$qvbackup" restore "$work/arch/split.1.QVA" --to "$work/out_$threads" --threads "$threads" "${pw[@]}" > /dev/null ||
    fail "split restore with $threads threads failed"
  diff -r "$work/src" "$work/out_$threads/Kelvar_C$work/src" || fail "split restore with $threads threads differs"
done
mkdir -p "$work/held"
mv "$work/arch/split.3.QVA" "$work/held/"
for threads in 1 4; do
  code=0
  "$qvbackup" restore "$work/arch/split.1.QVA" --to "$work/cut_$threads" --threads "$threads" "${pw[@]}" --quiet \
    > /dev/null 2> "$work/cut_$threads.err" < /dev/null || code=$?
  [[ $code == 1 ]] && grep -q "split.3.QVA" "$work/cut_$threads.err" || fail "missing volume, $threads threads: $code"
done
diff "$work/cut_1.err" "$work/cut_4.err" || fail "a missing volume is told otherwise with workers"
diff -r "$work/cut_1" "$work/cut_4" || fail "a missing volume leaves other files with workers"
mv "$work/held/split.3.QVA" "$work/arch/"
code=0
"$qvbackup" restore "$work/arch/split.1.QVA" --to "$work/out_bad" --threads 0 "${pw[@]}" > /dev/null 2>&1 || code=$?
[[ $code == 2 ]] || fail "restore --threads 0: $code"

# A later backup of the name replaces the whole archive: larger volumes
# leave no old volume behind, nor does one in a single file.
"$qvbackup" backup "$work/src" --to "$work/arch" --name split --replace --volume-size 200K "${pw[@]}" --quiet > /dev/null
[[ $(names) == "split.1.QVA split.2.QVA " ]] || fail "after 200K volumes: $(names)"
"$qvbackup" backup "$work/src" --to "$work/arch" --name split --replace "${pw[@]}" --quiet > /dev/null
[[ $(names) == "split.QVA " ]] || fail "after one file: $(names)"
"$qvbackup" restore "$work/arch/split.QVA" --to "$work/out2" "${pw[@]}" > /dev/null || fail "restore of the replacement"
diff -r "$work/src" "$work/out2/Kelvar_C$work/src" || fail "replacement restore differs"

# Compression: zeros shrink unless --no-compress; the header says which.
rm -f "$work/arch"/*
"$qvbackup" backup "$work/zeros" --to "$work/arch" --name z --json > "$work/report"
(($(field archive_bytes) < 100000)) || fail "zeros not compressed: $(field archive_bytes)"
[[ $(header "$work/arch/z.QVA" 36 4) != 0 && $(header "$work/arch/z.QVA" 52 1) == 0 ]] || fail "compressed, plain header"
"$qvbackup" backup "$work/zeros" --to "$work/arch" --name z --replace --no-compress --json > "$work/report"
(($(field archive_bytes) > 1000000)) || fail "--no-compress compressed: $(field archive_bytes)"
[[ $(header "$work/arch/z.QVA" 36 4) == 0 ]] || fail "--no-compress header"
# --level: every level writes an archive that restores byte for byte; text
# comes out smallest at best, largest at fast. Unknown levels, and a level
# with --no-compress, are refused before anything is written.
mkdir -p "$work/text"
python3 -c "
import random
rng = random.Random(7)
words = 'alpha beta gamma delta epsilon zeta eta theta iota kappa lambda'.split()
with open('$work/text/words.txt', 'w') as f:
    for i in range(40000):
        f.write(' '.join(rng.choice(words) for _ in range(8)) + ' %d\\n' % rng.randint(0, 99999))"
cp "$work/src/random.bin" "$work/text/"
declare -A bytes
for level in fast default best; do
  "$qvbackup" backup "$work/text" --to "$work/arch" --name "level_$level" --level "$level" --threads 2 --json > "$work/report"
  bytes[$level]=$(field archive_bytes)
  rm -rf "$work/back"
  "$qvbackup" restore "$work/arch/level_$level.QVA" --to "$work/back" --quiet > /dev/null
  diff -r "$work/text" "$work/back/Kelvar_C$work/text" > /dev/null || fail "--level $level restored a different tree"
done
((bytes[best] <= bytes[default] && bytes[default] < bytes[fast])) || fail "sizes fast ${bytes[fast]} default ${bytes[default]} best ${bytes[best]}"
for bad in "--level 3" "--level fast --no-compress"; do
  code=0
  # shellcheck disable=SC2086
  "$qvbackup" backup "$work/text" --to "$work/arch" --name refused $bad > /dev/null 2> "$work/err" || code=$?
  [[ $code == 2 ]] && grep -q -- "--level" "$work/err" || fail "$bad: exit $code $(cat "$work/err")"
  [[ ! -e $work/arch/refused.QVA ]] || fail "$bad wrote an archive"
done
# The block size lands in the header; smaller blocks cost more bytes.
"$qvbackup" backup "$work/src" --to "$work/arch" --name b --no-compress --json > "$work/report"
large=$(field archive_bytes)
"$qvbackup" backup "$work/src" --to "$work/arch" --name b --replace --no-compress --block-size 4K --json > "$work/report"
[[ $(header "$work/arch/b.QVA" 40 4) == 4096 ]] || fail "block size in the header"
(($(field archive_bytes) > large + 70 * 14)) || fail "4K blocks: $(field archive_bytes) bytes, 256K blocks: $large"
"$qvbackup" restore "$work/arch/b.QVA" --to "$work/out3" > /dev/null && diff -r "$work/src" "$work/out3/Kelvar_C$work/src" ||
  fail "4K blocks restore"
# Each key size gives its code in the header; the archive opens with the
# password. Keys of 32 and 64 bits only when asked for as weak.
for bits in 32 64; do
  set +e
  "$qvbackup" backup "$work/src/sub" --to "$work/arch" --name weak --key-bits "$bits" "${pw[@]}" --quiet \
    > /dev/null 2> "$work/weak.err"
  code=$?
  set -e
  [[ $code == 2 ]] && grep -q -- "--allow-weak-key" "$work/weak.err" || fail "--key-bits $bits without --allow-weak-key: exit $code"
  [[ ! -e $work/arch/weak.QVA ]] || fail "--key-bits $bits without --allow-weak-key wrote an archive"
done
for pair in 32:1 64:2 128:4 160:5 256:7; do
  "$qvbackup" backup "$work/src/sub" --to "$work/arch" --name k --replace --key-bits "${pair%:*}" "${pw[@]}" --allow-weak-key \
    --quiet > /dev/null
  [[ $(header "$work/arch/k.QVA" 52 1) == "${pair#*:}" ]] || fail "--key-bits ${pair%:*}"
  "$qvbackup" list "$work/arch/k.QVA" "${pw[@]}" | grep -q 'small\.bin' || fail "--key-bits ${pair%:*} list"
done

# Self-extracting: the stub first (its DOS header records where the archive
# begins), then the archive; the restore reads it like any other.
rm -f "$work/arch"/*
{ printf 'MZ'; head -c 39998 /dev/urandom; } > "$work/stub.exe"
"$qvbackup" backup "$work/src" --to "$work/arch" --name sfx --sfx --sfx-stub "$work/stub.exe" "${pw[@]}" --json > "$work/report"
[[ $(names) == "sfx.exe " && $(field archive) == "$work/arch/sfx.exe" ]] || fail "sfx names: $(names)"
[[ $(python3 -c "import sys; print(int.from_bytes(open(sys.argv[1], 'rb').read()[28:36], 'little'))" "$work/arch/sfx.exe") == 40000 ]] ||
  fail "stub marker"
cmp -n 28 "$work/stub.exe" "$work/arch/sfx.exe" || fail "stub not copied"
[[ $(( $(header "$work/arch/sfx.exe" 32 4 40000) & 1 )) == 1 ]] || fail "self-extracting flag"
"$qvbackup" restore "$work/arch/sfx.exe" --to "$work/out4" "${pw[@]}" > /dev/null || fail "sfx restore failed"
diff -r "$work/src" "$work/out4/Kelvar_C$work/src" || fail "sfx restore differs"
# Split and self-extracting: sfx.1.exe then sfx.2.QVA...
"$qvbackup" backup "$work/src" --to "$work/arch" --name sfx --replace --sfx --sfx-stub "$work/stub.exe" --volume-size 100K --quiet > /dev/null
[[ $(names) == "sfx.1.exe sfx.2.QVA sfx.3.QVA sfx.4.QVA " ]] || fail "split sfx names: $(names)"
# A stub that is not there, the one beside qvbackup included, fails.
set +e
"$qvbackup" backup "$work/src" --to "$work/arch" --name s2 --sfx --sfx-stub "$work/nostub.exe" 2> "$work/err"
code=$?
"$qvbackup" backup "$work/src" --to "$work/arch" --name s2 --sfx 2> "$work/err2"
code2=$?
set -e
[[ $code == 1 ]] && grep -q "nostub.exe: The system cannot find the file" "$work/err" || fail "missing stub: $code $(cat "$work/err")"
if [[ ! -e $(dirname "$qvbackup")/qvsfx.exe ]]; then
  [[ $code2 == 1 ]] && grep -q 'qvsfx.exe' "$work/err2" || fail "missing default stub: $code2 $(cat "$work/err2")"
fi
[[ ! -e $work/arch/s2.exe && ! -e $work/arch/s2.QVA ]] || fail "archive written without its stub"
echo "backup volumes: all checks passed"
