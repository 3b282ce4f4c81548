#!/usr/bin/env bash
# The Windows qvbackup under Wine: exclusions compare names ignoring letter
# case, as Windows does (a name, a path below a source with either
# separator, a file-only name), an exclusion that matched nothing is said,
# the dry run writes nothing and a full backup over a name needs --replace.
# Arguments: the Linux qvbackup (unused here), the Windows qvbackup.exe,
# the Wine program.
source "$(dirname "$0")/wine_common.sh"
windows_qvbackup=$2
wine=$3
export LC_ALL=C

src=$work/src
for f in Photos/Summer2020/a.jpg Photos/Winter/b.jpg node_modules/x/c.js app/main.js run.sh tools/run.sh/d.txt; do
  mkdir -p "$(dirname "$src/$f")"
  printf '%s\n' "$f" > "$src/$f"
done
mkdir -p "$work/arch"
qvb() { "$wine" "$windows_qvbackup" "$@" < /dev/null; }
# dry ARGS...: the paths a dry run lists below the source, with / between
# names, sorted; its standard error in $work/err.
dry() {
  qvb backup "$(windows "$src")" --to "$(windows "$work/arch")" --name ex --dry-run --json "$@" > "$work/out" \
    2> "$work/err" || fail "dry run $*: $(cat "$work/out" "$work/err")"
  python3 - "$work/out" "$(windows "$src")\\" <<'PY' | sort
import json, sys
prefix = sys.argv[2].lower()
for p in json.load(open(sys.argv[1]))["files"]:
    assert p.lower().startswith(prefix), p
    print(p[len(prefix):].replace("\\", "/"))
PY
}

got=$(dry --exclude 'PHOTOS/summer*' --exclude NODE_MODULES --exclude-file RUN.SH --exclude 'app\MAIN.JS' \
  --exclude nothere)
wanted=$(printf '%s\n' Photos/Winter/b.jpg tools/run.sh/d.txt | sort)
[[ $got == "$wanted" ]] || fail "exclusions ignoring case: got [$got], expected [$wanted]"
tr -d '\r' < "$work/err" | grep -qx "qvbackup: backup: --exclude 'nothere' matched nothing" ||
  fail "unmatched exclusion: $(cat "$work/err")"
[[ -z $(ls -A "$work/arch") ]] || fail "the dry run wrote $(ls "$work/arch")"

# A full backup over the name is refused; --replace makes it.
qvb backup "$(windows "$src")" --to "$(windows "$work/arch")" --name ex --quiet > /dev/null 2>&1 || fail "first backup"
set +e
qvb backup "$(windows "$src")" --to "$(windows "$work/arch")" --name ex --quiet > /dev/null 2> "$work/err"
code=$?
set -e
[[ $code == 2 ]] && grep -q -- "--replace" "$work/err" || fail "a full backup over ex: exit $code $(cat "$work/err")"
qvb backup "$(windows "$src")" --to "$(windows "$work/arch")" --name ex --replace --quiet > /dev/null 2>&1 ||
  fail "--replace"
echo "exclusions under Wine: all checks passed"
