#!/usr/bin/env bash
# A full backup (no --incremental) to a name that already has an archive
# is refused with exit status 2, a message naming --incremental and
# --replace, and the archive folder untouched, whatever member of the name
# is there (a base, a split base, a self-extracting one, an increment
# alone); --replace makes the full backup, and the old chain is gone;
# --incremental still adds to it; the two together are refused.
source "$(dirname "$0")/common.sh"

mkdir -p "$work/src" "$work/arch"
printf 'one\n' > "$work/src/a.txt"
names() { (cd "$work/arch" && ls | tr '\n' ' '); }
state() { (cd "$work/arch" && ls -lA --time-style=full-iso . && sha256sum -- *); }
run() { code=0; "$qvbackup" backup "$work/src" --to "$work/arch" --name home "$@" > "$work/out" 2> "$work/err" || code=$?; }

# refused ARGS...: the full backup with ARGS is refused and changes nothing.
refused() {
  local before
  before=$(state)
  run "$@"
  [[ $code == 2 ]] || fail "a full backup over $(names)with $*: exit $code $(cat "$work/out" "$work/err")"
  grep -q "^qvbackup: backup: home: .* holds an archive of that name already" "$work/err" &&
    grep -q -- "--incremental" "$work/err" && grep -q -- "--replace" "$work/err" || fail "message: $(cat "$work/err")"
  [[ ! -s $work/out ]] || fail "a refused backup printed $(cat "$work/out")"
  [[ $(state) == "$before" ]] || fail "a refused backup changed the folder: $(names)"
}

run --quiet
[[ $code == 0 && $(names) == "home.QVA " ]] || fail "first backup: $code $(names)"
refused --quiet
grep -q "(home.QVA)" "$work/err" || fail "the archive is not named: $(cat "$work/err")"
# The JSON answer of a refusal: exit 2, the message, no error number.
before=$(state)
run --json
[[ $code == 2 && $(state) == "$before" ]] || fail "--json refusal: $code"
python3 - "$work/out" <<'PY' || fail "JSON refusal: $(cat "$work/out")"
import json, sys
a = json.load(open(sys.argv[1]))
assert sorted(a) == ["error", "exit"] and a["exit"] == 2 and a["error"]["code"] == 183, a
assert "--incremental" in a["error"]["message"] and "--replace" in a["error"]["message"], a
PY

# --incremental still works; then a chain of two is refused just the same.
printf 'two\n' > "$work/src/b.txt"
run --incremental --quiet
[[ $code == 0 && $(names) == "home.I1.QVA home.QVA " ]] || fail "increment: $code $(names)"
refused --quiet
# --replace: the full backup takes the place of the whole chain.
old_base=$(sha256sum < "$work/arch/home.QVA")
printf 'three\n' > "$work/src/c.txt"
rm "$work/src/a.txt"
run --replace --json
[[ $code == 0 && $(names) == "home.QVA " ]] || fail "--replace: $code $(names) $(cat "$work/err")"
[[ $(sha256sum < "$work/arch/home.QVA") != "$old_base" ]] || fail "--replace left the old base"
"$qvbackup" list "$work/arch/home.QVA" | cut -f1 | sed 's|.*\\||' | sort | tr '\n' ' ' > "$work/listed"
[[ $(cat "$work/listed") == "b.txt c.txt " ]] || fail "after --replace the archive holds $(cat "$work/listed")"
python3 - "$work/out" <<'PY' || fail "--replace report: $(cat "$work/out")"
import json, sys
a = json.load(open(sys.argv[1]))
removed = sorted(r["path"].rsplit("\\", 1)[-1] for r in a["removed"])
assert a["increment"] == 0 and removed == ["home.I1.QVA"], a  # the base is renamed over
PY
# --replace with no archive of the name is a full backup like any other.
rm -f "$work/arch"/*
run --replace --quiet
[[ $code == 0 && $(names) == "home.QVA " ]] || fail "--replace of nothing: $code $(names)"

# Any member of the name counts: a split base, a self-extracting one, an
# increment whose base is gone.
rm -f "$work/arch"/*
run --volume-size 64K --quiet
refused --quiet
refused --volume-size 64K --quiet
grep -q "(home.1.QVA)" "$work/err" || fail "split base not named: $(cat "$work/err")"
rm -f "$work/arch"/*
{ printf 'MZ'; head -c 1000 /dev/zero; } > "$work/stub.exe"
run --sfx --sfx-stub "$work/stub.exe" --quiet
[[ $code == 0 && $(names) == "home.exe " ]] || fail "sfx: $code $(names)"
refused --quiet
refused --sfx --sfx-stub "$work/stub.exe" --quiet
rm -f "$work/arch"/*
run --quiet
printf 'four\n' > "$work/src/d.txt"
run --incremental --quiet
[[ $(names) == "home.I1.QVA home.QVA " ]] || fail "the chain to cut: $(names)"
rm "$work/arch/home.QVA"
refused --quiet
grep -q "(home.I1.QVA)" "$work/err" || fail "the increment is not named: $(cat "$work/err")"
run --replace --quiet
[[ $code == 0 && $(names) == "home.QVA " ]] || fail "--replace of an increment alone: $code $(names)"
# Another name, a leftover of an interrupted run or another archive's lock
# are no member: nothing is refused.
printf 'junk' > "$work/arch/work.QVA.qvtmp"
: > "$work/arch/work.qvlock"
"$qvbackup" backup "$work/src" --to "$work/arch" --name work --quiet > /dev/null 2>&1 || fail "a leftover refused a backup"
[[ -e $work/arch/work.QVA && ! -e $work/arch/work.QVA.qvtmp ]] || fail "after the leftover: $(names)"

# --incremental with --replace is a usage error, and writes nothing.
before=$(state)
run --incremental --replace
[[ $code == 2 && $(state) == "$before" ]] && grep -q "give one of them" "$work/err" || fail "both: $code $(cat "$work/err")"
# --help tells of both.
"$qvbackup" backup --help > "$work/help.txt"
grep -q -- "--replace  *make a full backup in the place" "$work/help.txt" || fail "--help lacks --replace"
echo "backup replace: all checks passed"
