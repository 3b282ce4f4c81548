#!/usr/bin/env bash
# An archive made by the Linux qvbackup of a tree with what Linux holds
# beyond plain files (modes, owners, extended attributes, empty folders,
# hard links, symbolic links), restored by the Windows qvbackup under
# Wine: every file's content and name comes back, the further names of a
# file and the empty folders too, and the symbolic links are left out with
# a word, not a failure. Modes and the rest are Windows' to ignore.
# Arguments: the Linux qvbackup, the Windows qvbackup.exe, the Wine program.
source "$(dirname "$0")/wine_common.sh"
qvbackup=$1
windows_qvbackup=$2
wine=$3

src=$work/src
mkdir -p "$src/docs/deep" "$src/empty" "$src/private"
head -c 200000 /dev/urandom > "$src/docs/deep/data.bin"
ln "$src/docs/deep/data.bin" "$src/docs/other name.bin"
printf 'key\n' > "$src/private/key"
chmod 600 "$src/private/key"
chmod 700 "$src/private"
printf 'naïve\n' > "$src/docs/café.txt"
python3 -c "import os,sys; os.setxattr(sys.argv[1], 'user.note', b'x')" "$src/docs/café.txt" 2> /dev/null || true
ln -s café.txt "$src/docs/link"
ln -s /nowhere "$src/dangling"
"$qvbackup" backup "$src" --to "$work/arch" --name cross --quiet > "$work/backup.out" 2>&1 ||
  fail "the Linux backup: $(cat "$work/backup.out")"

set +e
"$wine" "$windows_qvbackup" restore "$(windows "$work/arch/cross.QVA")" --to "$(windows "$work/out")" --json \
  < /dev/null > "$work/restore.json" 2> "$work/restore.err"
code=$?
set -e
[[ $code == 0 ]] || fail "the Windows restore exits $code: $(cat "$work/restore.json" "$work/restore.err")"
grep -q "2 symbolic links left out" "$work/restore.err" || fail "the links are not told: $(cat "$work/restore.err")"
python3 - "$work/restore.json" << 'PY' || fail "the Windows report: $(cat "$work/restore.json")"
import json, sys
report = json.load(open(sys.argv[1]))
assert report["ok"] and report["files"] == 4 and report["folders"] == 1 and report["links"] == 0, report
assert report["links_left_out"] == 2 and report["failed"] == [], report
PY
back=$work/out/Kelvar_C$src
for file in "docs/deep/data.bin" "docs/other name.bin" "private/key" "docs/café.txt"; do
  cmp -s "$src/$file" "$back/$file" || fail "$file does not come back byte for byte"
done
[[ -d $back/empty && -z $(ls -A "$back/empty") ]] || fail "the empty folder does not come back"
[[ ! -e $back/docs/link && ! -L $back/docs/link && ! -L $back/dangling ]] || fail "a symbolic link came back"
echo "cross restore: all checks passed"
