#!/usr/bin/env bash
# Backup and restore of one generated corpus by qvbackup as the working tree
# builds it and as an earlier revision built it, in one run, alternating, on
# the disk that holds TMPDIR: seconds until the program exits, and seconds
# until it exits and a `sync` after it returns (what the other version left
# to write back counted in), medians of RUNS; each restore checked byte for
# byte; the figures, and the archives' sizes, as ratios of this tree
# against the revision.
#   bench/compare_revisions.sh REVISION [SIZE] [RUNS]   SIZE as make_corpus.py takes it (default 1G), RUNS default 3
# With QV_BENCH_PASSWORD set, both write and read encrypted archives with it.
set -euo pipefail
cd "$(dirname "$0")/.."
revision=${1:?usage: compare_revisions.sh REVISION [SIZE] [RUNS]}
size=${2:-1G}
runs=${3:-3}
git rev-parse --verify -q "$revision^{commit}" > /dev/null || { echo "compare: no revision $revision" >&2; exit 2; }

work=$(mktemp -d)
trap 'git worktree remove --force "$work/old" > /dev/null 2>&1 || true; rm -rf "$work"' EXIT
bash scripts/setup.sh
git worktree add --detach "$work/old" "$revision" > /dev/null 2>&1
build() {  # build SOURCE BUILD_DIR
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF > /dev/null
  cmake --build "$2" -j "$(nproc)" --target qvbackup > /dev/null
}
build . build/bench
build "$work/old" "$work/old-build"
programs=("$PWD/build/bench/bin/qvbackup" "$work/old-build/bin/qvbackup")
labels=("this tree" "$(git rev-parse --short "$revision")")

python3 bench/make_corpus.py "$work/corpus" "$size"
src=$work/corpus
mb=$(echo "scale=6; $(du -sb "$src" | cut -f1) / 1000000" | bc)

# timed FILE COMMAND...: appends "exit_seconds synced_seconds" to FILE.
timed() {
  local file=$1 start end
  shift
  sync
  start=$(date +%s.%N)
  "$@" > /dev/null
  end=$(date +%s.%N)
  sync
  echo "$(echo "$end - $start" | bc) $(echo "$(date +%s.%N) - $start" | bc)" >> "$file"
}
secret=()
if [[ -n ${QV_BENCH_PASSWORD:-} ]]; then secret=(--password-env QV_BENCH_PASSWORD); fi
for ((run = 1; run <= runs; run++)); do
  for i in 0 1; do
    rm -rf "$work/out" "$work/back"
    mkdir -p "$work/back"
    timed "$work/backup.$i" "${programs[$i]}" backup "$src" --to "$work/out" --name c --quiet "${secret[@]}"
    du -sb "$work/out" | cut -f1 >> "$work/bytes.$i"
    timed "$work/restore.$i" "${programs[$i]}" restore "$work/out/c.QVA" --to "$work/back" --quiet "${secret[@]}"
    diff -r -q "$src" "$work/back/Kelvar_C$src" > /dev/null ||
      { echo "compare: ${labels[$i]} restored a different tree" >&2; exit 1; }
  done
done

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
column_of() { awk -v c="$2" '{ print $c }' "$1" | median; }
echo "corpus: $(echo "scale=1; $mb / 1" | bc) MB from bench/make_corpus.py $size, $(nproc) cores, medians of $runs runs${secret[*]:+, encrypted}"
echo "| step | ${labels[0]} s (exit, synced) | ${labels[1]} s (exit, synced) | ratio at exit | ratio synced |"
echo "|---|---|---|---|---|"
for step in backup restore; do
  new_exit=$(column_of "$work/$step.0" 1) new_sync=$(column_of "$work/$step.0" 2)
  old_exit=$(column_of "$work/$step.1" 1) old_sync=$(column_of "$work/$step.1" 2)
  printf "| %s | %.2f, %.2f | %.2f, %.2f | %.2f | %.2f |\n" "$step" "$new_exit" "$new_sync" "$old_exit" "$old_sync" \
    "$(echo "scale=6; $new_exit / $old_exit" | bc)" "$(echo "scale=6; $new_sync / $old_sync" | bc)"
done
new_bytes=$(median < "$work/bytes.0")
old_bytes=$(median < "$work/bytes.1")
printf "archive bytes: %s %s, %s %s; ratio %.4f\n" "${labels[0]}" "$new_bytes" "${labels[1]}" "$old_bytes" \
  "$(echo "scale=8; $new_bytes / $old_bytes" | bc)"
