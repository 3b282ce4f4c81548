#!/usr/bin/env bash
# qvbackup restore --as-of N and list --as-of N over a chain of six members
# whose source saw, between backups, files added, changed, deleted, renamed
# and brought back, a file turned into a folder of files and back, an empty
# folder come and go, a content change that kept the size, and a backup
# whose only change was a deletion. Each member's time is kept as a
# manifest of the source (paths, types, sizes, last write times, SHA-256);
# every member's restore and list must give exactly that, a plain restore
# the last one, and a PATTERN as of an older member only that folder of that
# time. The whole run is made once plain and once encrypted.
#   restore_as_of_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
export QV_TEST_PASSWORD='as of pw'

# manifest TREE [listed]: one sorted line per item below TREE: "d PATH" for
# a folder, "f PATH SIZE MTIME SHA256" for a file (MTIME in nanoseconds).
# With "listed", what list shows: files and empty folders, MTIME in whole
# seconds and no digest (list gives none).
manifest() {
  python3 - "$@" <<'PY'
import hashlib, os, sys
root, listed = sys.argv[1], len(sys.argv) > 2
lines = []
for folder, dirs, files in os.walk(root):
    rel = os.path.relpath(folder, root)
    if rel != "." and (not listed or not (dirs or files)):
        lines.append(f"d {rel}")
    for name in files:
        path = os.path.join(folder, name)
        st = os.lstat(path)
        item = os.path.relpath(path, root)
        if listed:
            lines.append(f"f {item} {st.st_size} {st.st_mtime_ns // 10**9}")
        else:
            digest = hashlib.sha256(open(path, "rb").read()).hexdigest()
            lines.append(f"f {item} {st.st_size} {st.st_mtime_ns} {digest}")
print("\n".join(sorted(lines)))
PY
}
# listed JSON PREFIX: list --json's answer in the form of "manifest TREE listed",
# paths relative to the saved path PREFIX.
listed() {
  python3 - "$1" "$2" <<'PY'
import calendar, json, sys, time
prefix = sys.argv[2] + "\\"
lines = []
for item in json.load(open(sys.argv[1]))["files"]:
    assert item["path"].startswith(prefix), item
    rel = item["path"][len(prefix):].replace("\\", "/")
    if item["attributes"] & 0x10:
        lines.append(f"d {rel}")
    else:
        seconds = calendar.timegm(time.strptime(item["mtime"], "%Y-%m-%dT%H:%M:%SZ"))
        lines.append(f"f {rel} {item['size']} {seconds}")
print("\n".join(sorted(lines)))
PY
}
# same WHAT EXPECTED ACTUAL: the two manifests are equal, or the test fails
# showing how they differ.
same() {
  [[ $2 == "$3" ]] || fail "$1 differs:
$(diff <(echo "$2") <(echo "$3") || true)"
}

# part NAME MANIFEST: the lines of MANIFEST for NAME and what is below it.
part() { grep -E "^. $1(/| |\$)" "$2" || true; }

# chain LABEL [PASSWORD OPTIONS]: builds the chain in $work/LABEL and checks it.
chain() {
  local label=$1
  shift
  local pw=("$@") base=$work/$label src=$work/$label/src
  local archive=$base/arch/chain.QVA saved="C:${src//\//\\}"
  mkdir -p "$src/docs" "$base/arch" "$base/snap"
  backup() {
    "$qvbackup" backup "$src" --to "$base/arch" --name chain --quiet --json "${pw[@]}" "$@" > "$base/report" ||
      fail "$label: backup $*: $(cat "$base/report")"
  }
  # snap N: the source as member N was made, after checking that the last
  # backup wrote member N.
  snap() {
    python3 -c "import json,sys; r=json.load(open(sys.argv[1])); assert r['increment']==int(sys.argv[2]), r" \
      "$base/report" "$1" || fail "$label: member $1 was not written: $(cat "$base/report")"
    manifest "$src" > "$base/snap/$1"
    manifest "$src" listed > "$base/snap/$1.listed"
  }

  # Member 0. Files get fixed times so that a later change keeping their
  # size can be given a time of its own: an increment sees a change only by
  # size or last write time, and two writes within one tick of the file
  # system's clock would otherwise look unchanged.
  printf 'alpha v1\n' > "$src/docs/a.txt"
  printf 'bravo\n' > "$src/docs/b.txt"
  printf 'same size, first\n' > "$src/docs/same.txt"
  printf 'kept all along\n' > "$src/keep.txt"
  printf 'renamed later\n' > "$src/old.txt"
  printf 'deleted, then back\n' > "$src/gone.txt"
  printf 'a file, then a folder\n' > "$src/thing"
  head -c 70000 /dev/urandom > "$src/big.bin"
  touch -d '2021-03-04 05:06:07' "$src"/docs/* "$src"/*.txt "$src/thing" "$src/big.bin"
  backup
  snap 0

  # Member 1: a change, an addition, a deletion, a rename.
  printf 'alpha v2, longer\n' > "$src/docs/a.txt"
  printf 'new in 1\n' > "$src/docs/new.txt"
  rm "$src/gone.txt"
  mv "$src/old.txt" "$src/renamed.txt"
  backup --incremental
  snap 1

  # Member 2: the file "thing" becomes a folder holding files, an empty
  # folder appears, and a content changes keeping its size (a new time).
  rm "$src/thing"
  mkdir "$src/thing"
  printf 'x in thing\n' > "$src/thing/x.txt"
  printf 'y in thing\n' > "$src/thing/y.txt"
  mkdir "$src/empty"
  printf 'same size, other\n' > "$src/docs/same.txt"
  touch -d '2022-06-07 08:09:10' "$src/docs/same.txt"
  backup --incremental
  snap 2

  # Member 3: the empty folder goes, a file moves to another folder, the
  # big file is rewritten, the deleted file comes back as it was saved.
  rmdir "$src/empty"
  mkdir "$src/moved"
  mv "$src/docs/b.txt" "$src/moved/b.txt"
  head -c 90000 /dev/urandom > "$src/big.bin"
  cp -p "$work/gone.txt" "$src/gone.txt"
  backup --incremental
  snap 3

  # Member 4: the folder "thing" is a file again; the added file goes.
  rm -r "$src/thing"
  printf 'a file again\n' > "$src/thing"
  rm "$src/docs/new.txt"
  backup --incremental
  snap 4

  # Member 5: its only change is a deletion.
  rm "$src/keep.txt"
  backup --incremental
  python3 -c "import json,sys; r=json.load(open(sys.argv[1])); assert r['files']==0, r" "$base/report" ||
    fail "$label: a deletion alone saved files: $(cat "$base/report")"
  snap 5

  # Every member's time, restored and listed.
  local n
  for n in 0 1 2 3 4 5; do
    "$qvbackup" restore "$archive" --to "$base/r$n" --as-of "$n" --quiet "${pw[@]}" > /dev/null 2> "$base/err" ||
      fail "$label: restore --as-of $n: $(cat "$base/err")"
    same "$label: the chain restored as of member $n" "$(cat "$base/snap/$n")" "$(manifest "$base/r$n/Kelvar_C$src")"
    "$qvbackup" list "$archive" --as-of "$n" --json "${pw[@]}" > "$base/list.json" 2> "$base/err" ||
      fail "$label: list --as-of $n: $(cat "$base/err")"
    same "$label: the chain listed as of member $n" "$(cat "$base/snap/$n.listed")" "$(listed "$base/list.json" "$saved")"
  done
  # Each item of the last state comes from the member that saved that
  # version: a renamed file from the member that saw its new name; the file
  # brought back as it was may come from the base, which saved it with that
  # size and time, or from member 3.
  python3 - "$base/list.json" "$saved" <<'PY' || fail "$label: members of the last state: $(cat "$base/list.json")"
import json, sys
prefix = sys.argv[2] + "\\"
member = {f["path"][len(prefix):]: f["increment"] for f in json.load(open(sys.argv[1]))["files"]}
assert member["docs\\a.txt"] == 1 and member["docs\\same.txt"] == 2 and member["thing"] == 4, member
assert member["big.bin"] == 3 and member["renamed.txt"] == 1 and member["moved\\b.txt"] == 3, member
assert member["gone.txt"] in (0, 3) and "keep.txt" not in member, member
PY

  # The whole chain: its last state.
  "$qvbackup" restore "$archive" --to "$base/all" --quiet "${pw[@]}" > /dev/null 2> "$base/err" ||
    fail "$label: restore: $(cat "$base/err")"
  same "$label: the chain restored whole" "$(cat "$base/snap/5")" "$(manifest "$base/all/Kelvar_C$src")"

  # A folder as of an older member: only what it held then. "thing" as of
  # member 2 is a folder of two files, as of member 1 the file it was.
  "$qvbackup" restore "$archive" --to "$base/p2" --as-of 2 --quiet "${pw[@]}" "$src/thing" > /dev/null 2> "$base/err" ||
    fail "$label: restore of thing as of 2: $(cat "$base/err")"
  same "$label: thing as of member 2" "$(part thing "$base/snap/2")" "$(manifest "$base/p2/Kelvar_C$src")"
  "$qvbackup" restore "$archive" --to "$base/p1" --as-of 1 --quiet "${pw[@]}" "$src/thing" > /dev/null 2> "$base/err" ||
    fail "$label: restore of thing as of 1: $(cat "$base/err")"
  same "$label: thing as of member 1" "$(part thing "$base/snap/1")" "$(manifest "$base/p1/Kelvar_C$src")"
  "$qvbackup" restore "$archive" --to "$base/p3" --as-of 1 --quiet "${pw[@]}" docs > /dev/null 2> "$base/err" ||
    fail "$label: restore of docs as of 1: $(cat "$base/err")"
  same "$label: docs as of member 1" "$(part docs "$base/snap/1")" "$(manifest "$base/p3/Kelvar_C$src")"
  # As of member 3 the empty folder was gone: naming it matches nothing.
  local code=0
  "$qvbackup" restore "$archive" --to "$base/p4" --as-of 3 --quiet "${pw[@]}" "$src/empty" > /dev/null 2> "$base/err" || code=$?
  [[ $code == 1 && ! -e $base/p4/Kelvar_C$src/empty ]] || fail "$label: a folder gone by member 3 restored: $code $(cat "$base/err")"

  # A member past the chain's end is refused and writes nothing.
  code=0
  "$qvbackup" restore "$archive" --to "$base/r6" --as-of 6 --quiet "${pw[@]}" > /dev/null 2> "$base/err" || code=$?
  [[ $code == 1 && ! -e $base/r6/Kelvar_C ]] && grep -q "no increment 6 (the chain holds 6 members)" "$base/err" ||
    fail "$label: --as-of 6: exit $code $(cat "$base/err")"
}

# The file deleted in member 1 and brought back in member 3, as member 0 saw it.
printf 'deleted, then back\n' > "$work/gone.txt"
touch -d '2021-03-04 05:06:07' "$work/gone.txt"
chain plain
chain encrypted --password-env QV_TEST_PASSWORD
# The encrypted chain cannot be read without its password.
code=0
"$qvbackup" list "$work/encrypted/arch/chain.QVA" --as-of 2 > /dev/null 2>&1 || code=$?
[[ $code == 5 ]] || fail "encrypted chain listed without a password: exit $code"
echo "restore as of: all checks passed"
