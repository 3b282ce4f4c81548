#!/usr/bin/env bash
# Backup and restore of one generated "home folder" corpus by qvbackup and by
# the tools people would pick instead, in one run on this machine: MB/s of
# the backup, CPU seconds, output/input ratio, peak memory, restore MB/s,
# each restore checked byte for byte; medians of several runs; the figures
# also as ratios against tar | gzip -6. Writes the table at the head of
# bench/RESULTS.md, keeping the sections of the other benchmarks after it.
#   bench/compare.sh [SIZE] [RUNS]    SIZE as make_corpus.py takes it (default 1G), RUNS default 3
#   (QV_BENCH_BUILD=DIR builds qvbackup there instead of build/bench)
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-1G}
runs=${2:-3}

bash scripts/setup.sh
missing=()
for tool in pigz zip unzip zstd restic borg; do command -v "$tool" > /dev/null || missing+=("$tool"); done
if ((${#missing[@]})); then
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  packages=("${missing[@]/borg/borgbackup}")
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${packages[@]}" time > /dev/null
fi
build=${QV_BENCH_BUILD:-build/bench}  # where qvbackup is built (Release)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF > /dev/null
cmake --build "$build" -j "$(nproc)" --target qvbackup > /dev/null
qvbackup=$(cd "$build" && pwd)/bin/qvbackup

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 bench/make_corpus.py "$work/corpus" "$size"
src=$work/corpus
input=$(du -sb "$src" | cut -f1)
export QV_BENCH_PASSWORD=bench-password RESTIC_PASSWORD=bench-password
export BORG_UNKNOWN_UNENCRYPTED_REPO_ACCESS_IS_OK=yes BORG_RELOCATED_REPO_ACCESS_IS_OK=yes

# measure FILE COMMAND...: appends "elapsed cpu peak_kib" of the command to FILE.
measure() {
  local file=$1
  shift
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" > /dev/null 2>&1
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/time" >> "$file"
}
# same TREE: the restored tree equals the corpus, byte for byte.
same() { diff -r -q "$src" "$1" > /dev/null || { echo "compare: $2 restored a different tree" >&2; exit 1; }; }

tools=("qvbackup --threads 1" "qvbackup --threads 1, password" "qvbackup --threads 2" "tar | gzip -6" "tar | pigz -6" "zip -r -6"
       "tar | zstd -3 -T0" "restic" "borg (lz4)")
backup() {  # backup INDEX OUT
  local out=$2
  case $1 in
    0) "$qvbackup" backup "$src" --to "$out" --name c --quiet --threads 1 ;;
    1) "$qvbackup" backup "$src" --to "$out" --name c --quiet --threads 1 --password-env QV_BENCH_PASSWORD ;;
    2) "$qvbackup" backup "$src" --to "$out" --name c --quiet --threads 2 ;;
    3) mkdir -p "$out" && tar -cf - -C "$work" corpus | gzip -6 > "$out/c.tgz" ;;
    4) mkdir -p "$out" && tar -cf - -C "$work" corpus | pigz -6 > "$out/c.tgz" ;;
    5) mkdir -p "$out" && (cd "$work" && zip -q -r -6 "$out/c.zip" corpus) ;;
    6) mkdir -p "$out" && tar -cf - -C "$work" corpus | zstd -q -3 -T0 > "$out/c.tzst" ;;
    7) restic init -q -r "$out" && restic backup -q -r "$out" "$src" ;;
    8) borg init -e none "$out" && (cd "$work" && borg create "$out::c" corpus) ;;
  esac
}
restore() {  # restore INDEX OUT TARGET; prints the restored tree's path
  local out=$2 target=$3
  mkdir -p "$target"
  case $1 in
    0 | 2) "$qvbackup" restore "$out/c.QVA" --to "$target" --quiet ;;
    1) "$qvbackup" restore "$out/c.QVA" --to "$target" --quiet --password-env QV_BENCH_PASSWORD ;;
    3 | 4) gzip -dc "$out/c.tgz" | tar -xf - -C "$target" ;;
    5) unzip -q "$out/c.zip" -d "$target" ;;
    6) zstd -q -dc "$out/c.tzst" | tar -xf - -C "$target" ;;
    7) restic restore -q -r "$out" latest --target "$target" ;;
    8) (cd "$target" && borg extract "$out::c") ;;
  esac
}
restored_tree() {  # INDEX TARGET
  case $1 in
    0 | 1 | 2) echo "$2/Kelvar_C$src" ;;
    7) echo "$2$src" ;;
    *) echo "$2/corpus" ;;
  esac
}

export -f backup restore
export qvbackup src work
for ((run = 1; run <= runs; run++)); do
  for i in "${!tools[@]}"; do
    rm -rf "$work/out" "$work/back"
    # Each step starts with nothing left to write back: a fast step must not
    # pay for the gigabytes the step before it left in the page cache.
    sync
    measure "$work/backup.$i" bash -c "backup $i '$work/out'"
    du -sb "$work/out" | cut -f1 >> "$work/bytes.$i"
    sync
    measure "$work/restore.$i" bash -c "restore $i '$work/out' '$work/back'"
    same "$(restored_tree "$i" "$work/back")" "${tools[$i]}"
  done
done

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
column_of() { awk -v c="$2" '{ print $c }' "$1" | median; }
mb=$(echo "scale=6; $input / 1000000" | bc)
base_rate=$(echo "scale=6; $mb / $(column_of "$work/backup.3" 1)" | bc)
base_bytes=$(median < "$work/bytes.3")
{
  echo "# Backup and restore compared"
  echo
  echo "Corpus: $(echo "scale=1; $mb / 1" | bc) MB from bench/make_corpus.py $size (45% compressed media, 30% documents,"
  echo "15% binaries, 10% small files), warm cache, nothing left to write back before each step, $(nproc) cores,"
  echo "medians of $runs runs, $(date -u +%Y-%m-%d)."
  echo "Speed ratio and size ratio are against tar | gzip -6 in the same run."
  echo
  echo "| tool | backup MB/s | backup CPU s | output/input | peak MiB | restore MB/s | speed vs gzip | size vs gzip |"
  echo "|---|---|---|---|---|---|---|---|"
  for i in "${!tools[@]}"; do
    elapsed=$(column_of "$work/backup.$i" 1)
    rate=$(echo "scale=6; $mb / $elapsed" | bc)
    bytes=$(median < "$work/bytes.$i")
    printf "| %s | %.1f | %.1f | %.3f | %.0f | %.1f | %.2f | %.3f |\n" "${tools[$i]//|/\\|}" "$rate" \
      "$(column_of "$work/backup.$i" 2)" "$(echo "scale=6; $bytes / $input" | bc)" \
      "$(echo "scale=2; $(column_of "$work/backup.$i" 3) / 1024" | bc)" \
      "$(echo "scale=6; $mb / $(column_of "$work/restore.$i" 1)" | bc)" \
      "$(echo "scale=6; $rate / $base_rate" | bc)" "$(echo "scale=6; $bytes / $base_bytes" | bc)"
  done
  one=$(column_of "$work/backup.0" 1)
  echo
  printf "qvbackup --threads 2 vs --threads 1: %.2fx; vs tar | pigz -6: %.2fx. Password (one thread): %+.1f%% time.\n" \
    "$(echo "scale=6; $one / $(column_of "$work/backup.2" 1)" | bc)" \
    "$(echo "scale=6; $(column_of "$work/backup.4" 1) / $(column_of "$work/backup.2" 1)" | bc)" \
    "$(echo "scale=6; ($(column_of "$work/backup.1" 1) / $one - 1) * 100" | bc)"
  printf "Restore (one-thread archive) vs gzip -dc | tar -x: %.2fx.\n" \
    "$(echo "scale=6; $(column_of "$work/restore.3" 1) / $(column_of "$work/restore.0" 1)" | bc)"
} > "$work/table.md"
# The table takes the place of the one before it; the sections other
# benchmarks keep after it (from the first "## " heading on) stay.
{
  cat "$work/table.md"
  if [[ -f bench/RESULTS.md ]] && grep -q '^## ' bench/RESULTS.md; then
    echo
    sed -n '/^## /,$p' bench/RESULTS.md
  fi
} > "$work/results.md"
mv "$work/results.md" bench/RESULTS.md
cat "$work/table.md"
