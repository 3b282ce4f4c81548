#!/usr/bin/env bash
# qvbackup backup --dry-run: it lists exactly what the same backup then
# saves (compared with qvbackup list of the real backup), as text and as
# JSON, with the total; and it writes nothing at all: the archive folder
# stays byte for byte and time for time as it was (no archive, no lock, no
# temporary file), a missing archive folder is not made. An increment's dry
# run lists only what changed; a full one over an existing name is refused
# as the backup would be.
source "$(dirname "$0")/common.sh"
export LC_ALL=C

mkdir -p "$work/src/docs/old" "$work/src/pics" "$work/src/tmp" "$work/src/empty" "$work/arch"
printf 'a\n' > "$work/src/docs/a.txt"
printf 'bb\n' > "$work/src/docs/old/b.txt"
head -c 5000 /dev/urandom > "$work/src/pics/c.jpg"
head -c 300 /dev/urandom > "$work/src/pics/d.png"
printf 'scratch\n' > "$work/src/tmp/e.txt"
printf 'left\n' > "$work/src/docs/f.tmp"
ln -s docs/a.txt "$work/src/link"
# The folder holds another archive and a file of the user's.
"$qvbackup" backup "$work/src/docs" --to "$work/arch" --name older --quiet > /dev/null
printf 'mine\n' > "$work/arch/notes.txt"
state() { (cd "$work/arch" && ls -lA --time-style=full-iso . && stat -c "%y %s" . && sha256sum -- *); }
before=$(state)
opts=(--to "$work/arch" --name home --exclude tmp --exclude '*.tmp')

# Text: one path per line on standard output, the total on standard error.
"$qvbackup" backup "$work/src" "${opts[@]}" --dry-run > "$work/text" 2> "$work/err" || fail "dry run: $(cat "$work/err")"
[[ $(state) == "$before" ]] || fail "the dry run changed the archive folder: $(diff <(echo "$before") <(state))"
# As JSON.
"$qvbackup" backup "$work/src" "${opts[@]}" --dry-run --json > "$work/dry.json" 2> "$work/jerr" ||
  fail "dry run --json: $(cat "$work/jerr")"
[[ $(state) == "$before" ]] || fail "the JSON dry run changed the archive folder"
[[ ! -s $work/jerr ]] || fail "the JSON dry run said: $(cat "$work/jerr")"

# The real backup, then what it holds.
"$qvbackup" backup "$work/src" "${opts[@]}" --json > "$work/real.json"
"$qvbackup" list "$work/arch/home.QVA" --json > "$work/list.json"
python3 - "$work/text" "$work/err" "$work/dry.json" "$work/real.json" "$work/list.json" "$work" <<'PY' ||
import json, sys
text, err, dry, real, listed, work = sys.argv[1:]
lines = open(text, encoding="utf-8").read().splitlines()
dry = json.load(open(dry))
real = json.load(open(real))
saved = sorted(e["path"] for e in json.load(open(listed))["files"])
root = "C:" + work.replace("/", "\\") + "\\src\\"
expected = sorted(root + p for p in ["docs\\a.txt", "docs\\old\\b.txt", "pics\\c.jpg", "pics\\d.png", "link", "empty"])
assert saved == expected, (saved, expected)
assert sorted(lines) == saved, (lines, saved)
assert sorted(dry["files"]) == saved and dry["count"] == len(saved) == 6, dry
assert dry["skipped"] == [], dry
# The bytes: the files' sizes (the link and the folder add their own as
# the disk gives them).
files = 2 + 3 + 5000 + 300
assert files <= dry["bytes"] <= files + 4096 + 10 and real["bytes"] == files, (dry, real)
assert open(err).read() == "Dry run: 6 items, %d bytes would be saved into home; nothing was written\n" % dry["bytes"]
PY
  fail "dry run and backup differ: $(cat "$work/text" "$work/dry.json" "$work/list.json")"

# An increment's dry run lists only what is new or changed; the increment
# then saves exactly that.
printf 'a, changed\n' > "$work/src/docs/a.txt"
printf 'new\n' > "$work/src/pics/g.txt"
before=$(state)
"$qvbackup" backup "$work/src" "${opts[@]}" --incremental --dry-run > "$work/text" 2> "$work/err"
[[ $(state) == "$before" ]] || fail "the increment's dry run changed the archive folder"
"$qvbackup" backup "$work/src" "${opts[@]}" --incremental --quiet > /dev/null
"$qvbackup" list "$work/arch/home.QVA" --increment 1 | cut -f1 | sort > "$work/increment"
sort "$work/text" | diff - "$work/increment" || fail "the increment's dry run differs from the increment"
[[ $(wc -l < "$work/increment") == 2 ]] || fail "the increment holds $(cat "$work/increment")"
grep -q "^Dry run: 2 items, 15 bytes would be saved into home; nothing was written$" "$work/err" ||
  fail "increment total: $(cat "$work/err")"

# A full dry run over the name is refused as the backup is; --replace
# lists the whole tree.
before=$(state)
code=0
"$qvbackup" backup "$work/src" "${opts[@]}" --dry-run > /dev/null 2> "$work/err" || code=$?
[[ $code == 2 ]] && grep -q -- "--replace" "$work/err" || fail "full dry run over an archive: exit $code $(cat "$work/err")"
"$qvbackup" backup "$work/src" "${opts[@]}" --dry-run --replace > "$work/text" 2> /dev/null
[[ $(wc -l < "$work/text") == 7 && $(state) == "$before" ]] || fail "--replace dry run: $(cat "$work/text")"

# A missing archive folder is not made; nothing to save is an empty list.
"$qvbackup" backup "$work/src/empty" --to "$work/none/deeper" --name n --dry-run --json > "$work/dry.json"
[[ ! -e $work/none ]] || fail "the dry run made the archive folder"
python3 -c "
import json, sys
d = json.load(open(sys.argv[1]))
assert d['count'] == 0 and d['files'] == [] and d['bytes'] == 0, d" "$work/dry.json" || fail "empty: $(cat "$work/dry.json")"

# Bad usage is found as without --dry-run.
code=0
"$qvbackup" backup "$work/src" --dry-run --name x > /dev/null 2>&1 || code=$?
[[ $code == 2 ]] || fail "dry run without --to: exit $code"
echo "backup dry run: all checks passed"
