#!/usr/bin/env bash
# Restores alone, timed in turns: qvbackup with 2 threads (blocks read
# ahead), with 1 thread, and restic, one after the other in each round, so
# that a machine whose speed drifts over the run slows each alike. One
# backup by each of the generated "home folder" corpus; the corpus, the
# archives and the restores in tmpfs; every restore compared with the
# corpus byte for byte. Medians of the rounds, and each speed against
# restic's. Writes the "## Restores in turns" section of bench/RESULTS.md.
#   bench/restore.sh [SIZE] [ROUNDS]   SIZE as make_corpus.py takes it (default 1G), ROUNDS default 5
#   QV_BENCH_BUILD, QV_BENCH_QVBACKUP, QV_BENCH_TMP as for bench/compare.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bench_name=restore
source bench/common.sh
size=${1:-1G}
rounds=${2:-5}
[[ $rounds =~ ^[1-9][0-9]*$ ]] || die "ROUNDS must be a positive number, not '$rounds'"

bash scripts/setup.sh
bench_require restic time
bench_qvbackup
bench_work

python3 bench/make_corpus.py "$work/corpus" "$size"
src=$work/corpus
input=$(find "$src" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
bench_pages "$input"
export RESTIC_PASSWORD=bench-password RESTIC_CACHE_DIR=$work/cache/restic
"$qvbackup" backup "$src" --to "$work/qv" --name c --quiet --threads 2 > /dev/null
restic init -q -r "$work/restic" && restic backup -q -r "$work/restic" "$src" > /dev/null

labels=("qvbackup restore --threads 2" "qvbackup restore --threads 1" "restic restore")
commands=("'$qvbackup' restore '$work/qv/c.QVA' --to '$work/back' --quiet --threads 2"
          "'$qvbackup' restore '$work/qv/c.QVA' --to '$work/back' --quiet --threads 1"
          "restic restore -q -r '$work/restic' latest --target '$work/back'")
trees=("$work/back/Kelvar_C$src" "$work/back/Kelvar_C$src" "$work/back$src")
for ((round = 1; round <= rounds; round++)); do
  for i in "${!labels[@]}"; do
    rm -rf "$work/back"
    mkdir -p "$work/back"
    sync
    measure "$work/times.$i" "${labels[$i]}" bash -o pipefail -c "${commands[$i]}"
    diff -r -q "$src" "${trees[$i]}" >&2 || die "${labels[$i]} restored a different tree"
  done
done

mb=$(calc "$input / 1000000")
seconds() { awk '{ print $1 }' "$work/times.$1" | median; }
rate() { calc "$mb / $(seconds "$1")"; }
{
  echo "## Restores in turns"
  echo
  echo "\`bench/restore.sh $size $rounds\` ($(nproc) cores, $(date -u +%Y-%m-%d), $(git describe --always --dirty 2> /dev/null || echo "no git"),"
  echo "$(restic version | head -n 1)): $(printf "%.1f" "$mb") MB restored from tmpfs to tmpfs, the three"
  echo "restores taken in turns in each of $rounds rounds, medians; every restore compared with the corpus;"
  echo "$(pages_note)."
  echo
  echo "| restore | seconds | MB/s | CPU s | peak MiB | vs restic |"
  echo "|---|---|---|---|---|---|"
  for i in "${!labels[@]}"; do
    printf "| %s | %.2f | %.1f | %.2f | %.0f | %.2f |\n" "${labels[$i]}" "$(seconds "$i")" "$(rate "$i")" \
      "$(awk '{ print $2 }' "$work/times.$i" | median)" "$(calc "$(awk '{ print $3 }' "$work/times.$i" | median) / 1024")" \
      "$(calc "$(rate "$i") / $(rate 2)")"
  done
} > "$work/section.md"
cat "$work/section.md"
bench_section "$work/section.md"
