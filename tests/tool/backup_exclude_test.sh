#!/usr/bin/env bash
# What qvbackup backup leaves out as people type it: a name anywhere below
# a source (a folder takes its whole subtree), a wildcard name, a path below
# a source with either separator, a full path with or without wildcards,
# --exclude-dir and --exclude-file limited to folders and files, names
# compared as the file system compares them; exclusions that match nothing
# said on standard error, one line each, without failing; folders that
# cannot be read below an excluded one not reported; repeatable --mask.
# What each backup holds is read back with qvbackup list.
source "$(dirname "$0")/common.sh"
export LC_ALL=C  # one sort order for the lists compared
c() { sed 's|/|\\|g' <<<"C:$1"; }  # the drive path of a native path

put() { mkdir -p "$(dirname "$work/$1")"; printf '%s\n' "$1" > "$work/$1"; }
for f in Photos/Summer2020/a.jpg Photos/summer21/b.jpg Photos/Winter/c.jpg node_modules/x/y/d.js \
  app/node_modules/e.js app/main.js app/lib.js app/cache.tmp app/keep.tmpl run.sh tools/run.sh/f.txt \
  tools/build.txt Winter deep/er/node_modules.txt; do
  put "src/$f"
done
put other/Photos/Summer99/z.jpg
put other/notes.txt
mkdir -p "$work/arch"
every=(Photos/Summer2020/a.jpg Photos/summer21/b.jpg Photos/Winter/c.jpg node_modules/x/y/d.js app/node_modules/e.js
  app/main.js app/lib.js app/cache.tmp app/keep.tmpl run.sh tools/run.sh/f.txt tools/build.txt Winter
  deep/er/node_modules.txt other/Photos/Summer99/z.jpg other/notes.txt)

# saved ARGS...: backs up both source folders with ARGS into a fresh
# archive; prints what it holds below $work, sorted, one per line, with
# src/ left out. Standard error goes to $work/err.
saved() {
  rm -f "$work/arch"/*
  "$qvbackup" backup "$work/src" "$work/other" --to "$work/arch" --name ex --quiet "$@" > "$work/report" \
    2> "$work/err" || fail "backup $* failed: $(cat "$work/report" "$work/err")"
  "$qvbackup" list "$work/arch/ex.QVA" --json | python3 -c "
import json, sys
prefix = sys.argv[1] + '\\\\'
for p in sorted(e['path'] for e in json.load(sys.stdin)['files']):
    p = p[len(prefix):].replace('\\\\', '/') if p.startswith(prefix) else p
    print(p[4:] if p.startswith('src/') else p)" "$(c "$work")" | sort
}
# without WHAT LEFT_OUT... -- ARGS...: the backup with ARGS holds every
# file but LEFT_OUT, and says nothing on standard error.
without() {
  local what=$1 got wanted
  shift
  local left=()
  while [[ $1 != -- ]]; do left+=("$1"); shift; done
  shift
  got=$(saved "$@")
  wanted=$(printf '%s\n' "${every[@]}" | grep -vxF -f <(printf '%s\n' "${left[@]}" "never a path") | sort)
  [[ $got == "$wanted" ]] || fail "$what: got [$got], expected [$wanted]"
  [[ ! -s $work/err ]] || fail "$what said: $(cat "$work/err")"
}

without "nothing excluded" --
# A name anywhere: a folder of that name takes all below it, at any depth
# and in every source; a file whose name merely contains it stays.
without "a name" node_modules/x/y/d.js app/node_modules/e.js -- --exclude node_modules
without "a wildcard name" app/cache.tmp -- --exclude '*.tmp'
without "? wildcards" app/main.js app/lib.js -- --exclude '???n.js' --exclude 'l?b.j?'
# A path below a source, in each source; letter case counts here (a
# POSIX system: summer21 is another name than Summer*).
without "a path below a source" Photos/Summer2020/a.jpg other/Photos/Summer99/z.jpg -- --exclude 'Photos/Summer*'
without "a path with backslashes" Photos/Summer2020/a.jpg other/Photos/Summer99/z.jpg -- --exclude 'Photos\Summer*'
without "a deeper path" node_modules/x/y/d.js -- --exclude node_modules/x/y/d.js
without "./ before a path" app/main.js -- --exclude ./app/main.js
# Full paths: a folder, a file, a wildcard in a name, a drive path.
without "a full folder path" Photos/Winter/c.jpg -- --exclude "$work/src/Photos/Winter"
without "a full path with a wildcard" app/main.js app/lib.js -- --exclude "$work/src/app/*.js"
without "a full path with a trailing /" Photos/Winter/c.jpg -- --exclude "$work/src/Photos/Winter/"
without "a drive path" other/notes.txt -- --exclude "$(c "$work/other/notes.txt")"
# --exclude-dir and --exclude-file given a name: folders only, files only.
without "--exclude-dir NAME" tools/run.sh/f.txt -- --exclude-dir run.sh
without "--exclude-file NAME" run.sh -- --exclude-file run.sh
without "--exclude-dir Winter" Photos/Winter/c.jpg -- --exclude-dir Winter
without "--exclude-file Winter" Winter -- --exclude-file Winter
without "--exclude-dir with a wildcard" Photos/Summer2020/a.jpg Photos/summer21/b.jpg other/Photos/Summer99/z.jpg \
  -- --exclude-dir '*ummer*'
without "--exclude-file with a path" app/lib.js -- --exclude-file app/lib.js
# Full paths keep working as they did, and several exclusions add up.
without "--exclude-dir and --exclude-file paths" Photos/Winter/c.jpg app/cache.tmp other/notes.txt -- \
  --exclude-dir "$work/src/Photos/Winter" --exclude-file "$work/src/app/cache.tmp" --exclude-file "$work/other/notes.txt"
without "with --exclude-ext" app/cache.tmp app/main.js app/lib.js node_modules/x/y/d.js app/node_modules/e.js -- \
  --exclude-ext js --exclude '*.tmp'

# Exclusions that match nothing: one line each on standard error, exit 0,
# nothing left out. A folder-only name that names a file, a name in
# another letter case, a full path that does not exist, one outside the
# sources, a path below a source that is not there.
got=$(saved --exclude nothere --exclude WINTER --exclude-dir tools/build.txt --exclude "$work/gone/x" \
  --exclude "$work/arch" --exclude 'Photos/Spring*' --exclude-file Photos)
[[ $got == "$(printf '%s\n' "${every[@]}" | sort)" ]] || fail "unmatched exclusions left out: [$got]"
diff - "$work/err" <<EOF || fail "unmatched exclusions said: $(cat "$work/err")"
qvbackup: backup: --exclude 'nothere' matched nothing
qvbackup: backup: --exclude 'WINTER' matched nothing
qvbackup: backup: --exclude '$work/gone/x' matched nothing: it does not exist
qvbackup: backup: --exclude '$work/arch' matched nothing
qvbackup: backup: --exclude 'Photos/Spring*' matched nothing
qvbackup: backup: --exclude-dir 'tools/build.txt' matched nothing
qvbackup: backup: --exclude-file 'Photos' matched nothing
EOF
# A source folder's own name is not below it: nothing is left out.
got=$(saved --exclude src)
[[ $got == "$(printf '%s\n' "${every[@]}" | sort)" && $(cat "$work/err") == "qvbackup: backup: --exclude 'src' matched nothing" ]] ||
  fail "the source's own name: [$got] $(cat "$work/err")"
# A file named as a source is saved as named, whatever the exclusions.
rm -f "$work/arch"/*
"$qvbackup" backup "$work/src/run.sh" "$work/src/app" --to "$work/arch" --name one --exclude run.sh --exclude '*.js' \
  --json > "$work/report" 2> "$work/err"
"$qvbackup" list "$work/arch/one.QVA" | cut -f1 | sort > "$work/listed"
printf '%s\n' "$(c "$work/src/app/cache.tmp")" "$(c "$work/src/app/keep.tmpl")" "$(c "$work/src/run.sh")" | sort |
  diff - "$work/listed" || fail "a source file excluded"
[[ $(cat "$work/err") == "qvbackup: backup: --exclude 'run.sh' matched nothing" ]] || fail "source file: $(cat "$work/err")"

# Bad patterns are usage errors, and nothing is written.
rm -f "$work/arch"/*
for bad in "--exclude=" "--exclude ../x" "--exclude-dir a/../../b" "--exclude ./"; do
  set +e
  # shellcheck disable=SC2086
  "$qvbackup" backup "$work/src" --to "$work/arch" --name bad $bad > "$work/out" 2> "$work/err"
  code=$?
  set -e
  [[ $code == 2 ]] && grep -q "^qvbackup: backup: " "$work/err" || fail "'$bad': exit $code $(cat "$work/err")"
  [[ -z $(ls -A "$work/arch") ]] || fail "'$bad' wrote $(ls "$work/arch")"
done

# Repeatable --mask: a file is taken when any mask matches its name.
expect_masks() {
  local what=$1 got=$2
  shift 2
  [[ $got == "$(printf '%s\n' "$@" | sort)" ]] || fail "$what: got [$got], expected [$*]"
}
expect_masks "two masks" "$(saved --mask '*.jpg' --mask 'run.*')" Photos/Summer2020/a.jpg Photos/summer21/b.jpg \
  Photos/Winter/c.jpg run.sh other/Photos/Summer99/z.jpg
expect_masks "masks overlapping" "$(saved --mask '*.js' --mask 'm*.js' --mask '?.js')" node_modules/x/y/d.js \
  app/node_modules/e.js app/main.js app/lib.js
expect_masks "masks and exclusions" "$(saved --mask '*.js' --mask '*.tmp' --exclude node_modules)" app/main.js \
  app/lib.js app/cache.tmp

# A folder that cannot be read below an excluded one is not reported: the
# backup saves all it was asked to and exits 0 (as another user, since
# the superuser reads every folder).
as_user=()
if [[ $(id -u) == 0 ]]; then
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  chmod 755 "$work"
  chown -R nobody "$work/src" "$work/other" "$work/arch"
fi
mkdir -p "$work/src/app/node_modules/closed"
chmod 000 "$work/src/app/node_modules/closed"
rm -f "$work/arch"/*
status=0
"${as_user[@]}" "$qvbackup" backup "$work/src" --to "$work/arch" --name closed --exclude node_modules --json \
  > "$work/report" 2> "$work/err" || status=$?
chmod 755 "$work/src/app/node_modules/closed"
python3 - "$work/report" "$status" <<'PY' || fail "an unreadable excluded folder: exit $status $(cat "$work/report" "$work/err")"
import json, sys
a = json.load(open(sys.argv[1]))
assert sys.argv[2] == "0" and a["skipped"] == [] and a["files"] == 12, a
PY
echo "backup exclude: all checks passed"
