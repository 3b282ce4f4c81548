#!/usr/bin/env bash
# What a chain of increments costs once it is made, on the bench corpus, with
# the built qvbackup (build/default/bin/qvbackup): the full backup; an
# increment of the unchanged corpus (which writes nothing) and one of a few
# changed files; one file restored from the chain by a PATTERN, against the
# whole chain restored; the merge of that chain into one base; then `list`
# (and `members`, where the program has
# it) of an archive of 100,000 small files, against listing their source
# with find and ls -R. Each figure is given with its baseline of the same
# run as a ratio, seconds until the program exits (medians of RUNS for the
# short steps, one run for the full backups and restores), each step after
# a sync. Appends the table to bench/RESULTS.md.
#   bench/chain_costs.sh [CORPUS_DIR]
# CORPUS_DIR is taken as it is when it exists (the five files changed for
# the increment are put back as they were at the end), made there by
# make_corpus.py (1 GiB) and kept when it does not; without it the corpus
# is made in a temporary folder and removed once the chain is measured. QV_BENCH_RUNS sets RUNS (default 5).
set -euo pipefail
cd "$(dirname "$0")/.."
qvbackup=$PWD/build/default/bin/qvbackup
[[ -x $qvbackup ]] || { echo "chain costs: build qvbackup first (cmake --build --preset default --target qvbackup)" >&2; exit 2; }
runs=${QV_BENCH_RUNS:-5}

work=$(mktemp -d)
notes=()  # corpus files changed for an increment; their originals are kept in $work/changed
put_back() { local note; for note in "${notes[@]}"; do cp -p "$work/changed/$(basename "$note")" "$note"; done; notes=(); }
trap 'put_back; rm -rf "$work"' EXIT
corpus=${1:-$work/corpus}
what="the corpus in $corpus"
if [[ ! -d $corpus ]]; then
  echo "chain costs: making the 1 GiB corpus in $corpus" >&2
  python3 bench/make_corpus.py "$corpus" 1G
  what="the corpus of make_corpus.py 1G"
fi
corpus=$(cd "$corpus" && pwd)

# timed FILE COMMAND...: appends the seconds COMMAND took, after a sync, to FILE.
timed() {
  local file=$1 start end
  shift
  sync
  start=$(date +%s.%N)
  "$@" > /dev/null 2> "$work/err" || { echo "chain costs: $* failed: $(cat "$work/err")" >&2; exit 1; }
  end=$(date +%s.%N)
  echo "$end - $start" | bc >> "$file"
}
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { printf "%.3f", v[int((NR + 1) / 2)] }'; }
ratio() { echo "scale=6; $1 / $2" | bc | awk '{ printf "%.3f", $1 }'; }
# row WHAT SECONDS TARGET BASELINE BASELINE_SECONDS
row() {
  local verdict=""
  if [[ $3 != - ]]; then
    verdict=$(awk -v s="$2" -v t="$3" 'BEGIN { print (s <= t) ? "met" : "missed" }')
    verdict="$3 s, $verdict"
  fi
  local against=-
  [[ $5 == - ]] || against=$(ratio "$2" "$5")
  printf "| %s | %s | %s | %s | %s | %s |\n" "$1" "$2" "${verdict:--}" "$4" "$5" "$against"
}
backup() { "$qvbackup" backup "$@" --quiet; }
# repeat FILE COMMAND...: RUNS timings of COMMAND into FILE.
repeat() {
  local file=$1 i
  shift
  for ((i = 0; i < runs; ++i)); do timed "$file" "$@"; done
}

files=$(find "$corpus" -type f | wc -l)
mb=$(echo "scale=1; $(du -sb "$corpus" | cut -f1) / 1000000" | bc)

# ---- (a) the full backup, then increments -----------------------------------
timed "$work/full" backup "$corpus" --to "$work/arch" --name chain
repeat "$work/unchanged" backup "$corpus" --to "$work/arch" --name chain --incremental
[[ ! -e $work/arch/chain.I1.QVA ]] || { echo "chain costs: an unchanged corpus made an increment" >&2; exit 1; }
# A few changed files (a new size each) make the chain two members long.
mkdir -p "$work/changed"
while read -r note; do
  cp -p "$note" "$work/changed/"
  notes+=("$note")
  printf 'changed for the increment\n' >> "$note"
done < <(find "$corpus/Notes" -type f -name '*.txt' | sort | head -5)
[[ ${#notes[@]} == 5 ]] || { echo "chain costs: the corpus has no Notes folder of text files" >&2; exit 1; }
timed "$work/changed5" backup "$corpus" --to "$work/arch" --name chain --incremental
[[ -e $work/arch/chain.I1.QVA ]] || { echo "chain costs: the changed files made no increment" >&2; exit 1; }

# ---- (b) one file from the chain, against all of it -------------------------
base_file=$(find "$corpus/Notes" -type f -name '*.txt' | sort | tail -1)  # saved by the base only
mkdir -p "$work/one"
one_restore() {  # one_restore FILE TARGET
  rm -rf "$2"
  "$qvbackup" restore "$work/arch/chain.QVA" --to "$2" --quiet "$1"
}
repeat "$work/one_base" one_restore "$base_file" "$work/one/base"
repeat "$work/one_incr" one_restore "${notes[0]}" "$work/one/incr"
cmp "$base_file" "$work/one/base/Kelvar_C$base_file" && cmp "${notes[0]}" "$work/one/incr/Kelvar_C${notes[0]}" ||
  { echo "chain costs: a one-file restore brought back other bytes" >&2; exit 1; }
[[ $(find "$work/one/base" -type f | wc -l) == 1 ]] || { echo "chain costs: a one-file restore brought more" >&2; exit 1; }
timed "$work/whole" "$qvbackup" restore "$work/arch/chain.QVA" --to "$work/whole-tree" --quiet
diff -r -q "$corpus" "$work/whole-tree/Kelvar_C$corpus" > /dev/null || { echo "chain costs: the chain restored other bytes" >&2; exit 1; }
rm -rf "$work/whole-tree" "$work/one"
# The two members folded into one base: every block read, checked and
# written again. The chain lists as before.
"$qvbackup" list "$work/arch/chain.QVA" > "$work/list_before"
timed "$work/merge" "$qvbackup" merge "$work/arch/chain.QVA" --keep 0
[[ ! -e $work/arch/chain.I1.QVA ]] && cmp -s "$work/list_before" <("$qvbackup" list "$work/arch/chain.QVA") ||
  { echo "chain costs: the merged chain is not the chain it replaced" >&2; exit 1; }
rm -rf "$work/arch"
put_back
[[ -n ${1:-} ]] || rm -rf "$corpus"

# ---- (c) list and members of 100,000 files ----------------------------------
python3 - "$work/many" <<'PY'
import os, sys
root = sys.argv[1]
for d in range(100):
    folder = os.path.join(root, f"f{d:03d}")
    os.makedirs(folder)
    for i in range(1000):
        with open(os.path.join(folder, f"item{i:04d}.txt"), "w") as f:
            f.write(f"small file {d} {i}\n")
PY
timed "$work/many_backup" backup "$work/many" --to "$work/marc" --name many
listed=$("$qvbackup" list "$work/marc/many.QVA" | wc -l)
[[ $listed == 100000 ]] || { echo "chain costs: list showed $listed items, not 100000" >&2; exit 1; }
repeat "$work/list" "$qvbackup" list "$work/marc/many.QVA"
repeat "$work/list_json" "$qvbackup" list "$work/marc/many.QVA" --json
find_count() { find "$work/many" | wc -l; }
repeat "$work/find" find_count
repeat "$work/lsr" ls -R "$work/many"
members_row="| \`members\` of it | skipped: this qvbackup has no \`members\` command | - | - | - | - |"
if "$qvbackup" members --help > /dev/null 2>&1; then
  repeat "$work/members" "$qvbackup" members "$work/marc/many.QVA"
  repeat "$work/members_json" "$qvbackup" members "$work/marc/many.QVA" --json
  members_row="$(row "\`members\` of it" "$(median "$work/members")" 1 "find \\| wc -l" "$(median "$work/find")")
$(row "\`members --json\` of it" "$(median "$work/members_json")" - "find \\| wc -l" "$(median "$work/find")")"
else
  echo "chain costs: qvbackup members is not there yet: skipped" >&2
fi

full=$(median "$work/full")
{
  echo
  echo "## What a chain costs"
  echo
  echo "\`bench/chain_costs.sh\` ($(git rev-parse --short HEAD), build/default, $(nproc) cores shared with other builds,"
  echo "$(date -u +%Y-%m-%d)): the corpus of make_corpus.py 1G ($files files, $mb MB), then 100,000 files"
  echo "of 20 bytes in 100 folders. Seconds until the program exits, after a sync; medians of $runs runs,"
  echo "one run for the full backups and the whole restore. The ratio is the figure over its baseline of the same run."
  echo
  echo "| step | seconds | target | baseline | baseline seconds | ratio |"
  echo "|---|---|---|---|---|---|"
  row "full backup of the corpus" "$full" - - -
  row "increment of the unchanged corpus (writes nothing)" "$(median "$work/unchanged")" 1.5 "full backup" "$full"
  row "increment of 5 changed files" "$(median "$work/changed5")" - "full backup" "$full"
  row "one file of the base restored from the 2-member chain by PATTERN" "$(median "$work/one_base")" 0.2 \
    "whole chain restored" "$(median "$work/whole")"
  row "one file of the increment restored by PATTERN" "$(median "$work/one_incr")" 0.2 \
    "whole chain restored" "$(median "$work/whole")"
  row "merge of the 2-member chain into one base" "$(median "$work/merge")" - "full backup" "$full"
  row "full backup of 100,000 files" "$(median "$work/many_backup")" - "full backup of the corpus" "$full"
  row "\`list\` of its archive" "$(median "$work/list")" 1 "find \\| wc -l" "$(median "$work/find")"
  row "\`list --json\` of it" "$(median "$work/list_json")" - "find \\| wc -l" "$(median "$work/find")"
  row "\`list\` of it" "$(median "$work/list")" 1 "ls -R" "$(median "$work/lsr")"
  echo "$members_row"
} | tee -a bench/RESULTS.md
