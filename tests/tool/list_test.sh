#!/usr/bin/env bash
# qvbackup list of archives written by qvbackup backup, checked against the
# files themselves: path, size, last write time (ISO 8601 UTC, to the
# second, before 1970 and after 2038 too) and attributes, as tab-separated
# lines sorted by path and as JSON; the view of a chain (each file once, in
# its newest version) and of one member; an encrypted archive; failures.
#   list_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"

mkdir -p "$work/src/sub dir/deeper" "$work/arch"
printf 'hello' > "$work/src/a.txt"
head -c 300001 /dev/urandom > "$work/src/sub dir/deeper/big.bin"
printf 'tab\tin content' > "$work/src/sub dir/naïve ☃.txt"
printf 'secret' > "$work/src/.hidden"
printf 'ro' > "$work/src/readonly.txt"
chmod a-w "$work/src/readonly.txt"
: > "$work/src/empty"
touch -d '1969-07-20 20:17:40' "$work/src/a.txt"
touch -d '2106-02-07 06:28:17.9' "$work/src/sub dir/deeper/big.bin"
"$qvbackup" backup "$work/src" --to "$work/arch" --name set --quiet > /dev/null

# Every line against the file it names: the path as saved (the drive path
# of the file), its size, its time and its attributes.
"$qvbackup" list "$work/arch/set.QVA" > "$work/list.txt"
python3 - "$work/list.txt" "$work/src" <<'PY' || fail "text list: $(cat "$work/list.txt")"
import datetime, os, sys
lines = open(sys.argv[1], encoding="utf-8").read().splitlines()
root = sys.argv[2]
prefix = "C:" + root.replace("/", "\\") + "\\"
expected = {}
for folder, _, names in os.walk(root):
    for name in names:
        path = os.path.join(folder, name)
        expected[prefix + os.path.relpath(path, root).replace("/", "\\")] = os.stat(path)
assert len(lines) == len(expected) == 6, lines
paths = []
for line in lines:
    path, size, mtime, attributes = line.split("\t")
    st = expected[path]
    paths.append(path)
    assert int(size) == st.st_size, line
    when = datetime.datetime(1970, 1, 1) + datetime.timedelta(seconds=st.st_mtime_ns // 10**9)
    assert mtime == when.strftime("%Y-%m-%dT%H:%M:%SZ"), (line, when)
    name = path.rsplit("\\", 1)[1]
    want = 0x20 | (0x1 if name == "readonly.txt" else 0) | (0x2 if name.startswith(".") else 0)
    assert attributes == hex(want), line
assert paths == sorted(paths, key=str.upper), paths
assert any(l.split("\t")[2] == "1969-07-20T20:17:40Z" for l in lines)
assert any(l.split("\t")[2] == "2106-02-07T06:28:17Z" for l in lines)
PY

# JSON: the same facts, one object per file, numbers as numbers.
"$qvbackup" list "$work/arch/set.QVA" --json > "$work/list.json"
python3 - "$work/list.json" "$work/list.txt" <<'PY' || fail "JSON list: $(cat "$work/list.json")"
import json, sys
items = json.load(open(sys.argv[1], encoding="utf-8"))["files"]
lines = open(sys.argv[2], encoding="utf-8").read().splitlines()
assert [sorted(i) for i in items] == [["attributes", "increment", "mtime", "path", "size"]] * len(lines), items
for item, line in zip(items, lines):
    assert [item["path"], str(item["size"]), item["mtime"], hex(item["attributes"])] == line.split("\t"), (item, line)
    assert item["increment"] == 0 and isinstance(item["size"], int) and isinstance(item["attributes"], int)
assert any(i["path"].endswith("\\sub dir\\naïve ☃.txt") for i in items)
PY

# A chain, encrypted: the newest version of each file, and one member.
printf 'chain pw\n' > "$work/pw"
"$qvbackup" backup "$work/src" --to "$work/arch" --name chain --password-file "$work/pw" --quiet > /dev/null
printf 'hello again, longer' > "$work/src/a.txt"
printf 'new' > "$work/src/new.txt"
"$qvbackup" backup "$work/src" --to "$work/arch" --name chain --password-file "$work/pw" --incremental --quiet > /dev/null
"$qvbackup" list "$work/arch/chain.QVA" --password-file "$work/pw" --json > "$work/chain.json"
"$qvbackup" list "$work/arch/chain.QVA" --password-file "$work/pw" --json --increment 1 > "$work/member1.json"
"$qvbackup" list "$work/arch/chain.QVA" --password-file "$work/pw" --increment 0 > "$work/member0.txt"
python3 - "$work/chain.json" "$work/member1.json" "$work/member0.txt" "$work/list.txt" <<'PY' || fail "chain lists"
import json, sys
chain = {i["path"].rsplit("\\", 1)[1]: i for i in json.load(open(sys.argv[1], encoding="utf-8"))["files"]}
member1 = json.load(open(sys.argv[2], encoding="utf-8"))["files"]
assert len(chain) == 7, chain.keys()
assert chain["a.txt"]["size"] == 19 and chain["a.txt"]["increment"] == 1, chain["a.txt"]
assert chain["new.txt"]["increment"] == 1 and chain["big.bin"]["increment"] == 0
assert sorted(i["path"].rsplit("\\", 1)[1] for i in member1) == ["a.txt", "new.txt"], member1
# The base alone lists what the plain archive of the same files lists.
assert open(sys.argv[3], encoding="utf-8").read().replace("chain", "set") == \
    open(sys.argv[4], encoding="utf-8").read().replace("chain", "set")
PY

# Failures: no password, a missing archive, a member the chain lacks, usage.
code=0
"$qvbackup" list "$work/arch/chain.QVA" < /dev/null > "$work/out" 2> "$work/err" || code=$?
[[ $code == 5 && ! -s $work/out ]] && grep -q "the archive is encrypted" "$work/err" || fail "no password: $code $(cat "$work/err")"
code=0
"$qvbackup" list "$work/arch/missing.QVA" 2> "$work/err" || code=$?
[[ $code == 1 ]] && grep -q "missing.QVA: The system cannot find the file specified." "$work/err" || fail "missing: $code"
code=0
"$qvbackup" list "$work/arch/chain.QVA" --password-file "$work/pw" --increment 2 2> "$work/err" || code=$?
[[ $code == 1 ]] && grep -q "no increment 2 (the chain holds 2 members)" "$work/err" || fail "increment 2: $code"
for bad in "" "--increment" "--increment two $work/arch/set.QVA" "--to x $work/arch/set.QVA"; do
  code=0
  # shellcheck disable=SC2086
  "$qvbackup" list $bad 2> "$work/err" > /dev/null || code=$?
  [[ $code == 2 ]] && grep -q "Try 'qvbackup list --help'." "$work/err" || fail "usage '$bad': exit $code"
done
"$qvbackup" list --help | grep -q "^usage: qvbackup list ARCHIVE" || fail "help"
echo "list: all checks passed"
