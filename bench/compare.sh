#!/usr/bin/env bash
# Backup and restore of one generated "home folder" corpus by qvbackup (its
# thread counts, levels and a password) and by the tools people would pick
# instead (restic, borg, tar with zstd or gzip), all in one run on this
# machine, the corpus, the archives and the restores in tmpfs: MB/s of the
# backup, CPU seconds, output/input ratio, peak memory, restore MB/s, a
# second backup of the unchanged corpus into the same archive or repository,
# one file restored alone; medians of several runs; speeds also as ratios
# against restic and borg of the same run. Every restore is checked byte for
# byte against the corpus and the run stops at the first difference or
# failure. Writes the table at the head of bench/RESULTS.md, keeping the
# sections of the other benchmarks after it.
#   bench/compare.sh [SIZE] [RUNS]    SIZE as make_corpus.py takes it (default 1G), RUNS default 3
#   QV_BENCH_BUILD=DIR       build qvbackup there instead of build/bench
#   QV_BENCH_QVBACKUP=PATH   time this qvbackup instead of building one
#   QV_BENCH_TMP=DIR         the tmpfs of the work folder (default /dev/shm)
#   QV_BENCH_WINDOWS_EXE=build/mingw/bin/qvbackup.exe   adds the Windows build run under Wine
set -euo pipefail
cd "$(dirname "$0")/.."
bench_name=compare
source bench/common.sh
size=${1:-1G}
runs=${2:-3}
[[ $runs =~ ^[1-9][0-9]*$ ]] || die "RUNS must be a positive number, not '$runs'"

bash scripts/setup.sh
bench_require zstd restic borg time
bench_qvbackup
bench_work

# The levels are options of this qvbackup: a program without them fails
# the run here, before the corpus is made, rather than lose a row.
mkdir -p "$work/probe/src"
printf 'probe\n' > "$work/probe/src/a.txt"
for level in fast default best; do
  "$qvbackup" backup "$work/probe/src" --to "$work/probe/out" --name "$level" --quiet --level "$level" \
    > "$work/probe/out.txt" 2>&1 || { cat "$work/probe/out.txt" >&2; die "$qvbackup backup --level $level failed"; }
done
rm -rf "$work/probe"

python3 bench/make_corpus.py "$work/corpus" "$size"
src=$work/corpus
input=$(find "$src" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
bench_pages "$input"
files=$(find "$src" -type f | wc -l)
# The file restored alone: the first, in byte order of its path, of more than 1 MB.
pick=$(cd "$src" && find . -type f -size +1000000c -printf '%P\n' | LC_ALL=C sort | head -n 1)
[[ -n $pick ]] || die "the corpus of $size holds no file of more than 1 MB to restore alone"
need=$((input * 4))
avail=$(($(df -B1 --output=avail "$work" | tail -n 1)))
((avail > need)) || die "$work has $avail bytes free, the corpus, an archive and two restores need about $need"

export QV_BENCH_PASSWORD=bench-password RESTIC_PASSWORD=bench-password
export RESTIC_CACHE_DIR=$work/cache/restic BORG_BASE_DIR=$work/cache/borg
export BORG_UNKNOWN_UNENCRYPTED_REPO_ACCESS_IS_OK=yes BORG_RELOCATED_REPO_ACCESS_IS_OK=yes

tools=("qvbackup --threads 2" "qvbackup --threads 1" "qvbackup --threads 2 --level fast"
       "qvbackup --threads 2 --level best" "qvbackup --threads 2, password" "restic"
       "borg (lz4, no encryption)" "tar | zstd -3 -T0" "tar | gzip -6")
# Indexes of the rows the ratios and the lines below the table use.
qv=0 qv1=1 qvfast=2 qvbest=3 qvpass=4 restic=5 borg=6
windows_exe="" wine=""
if bench_windows; then
  tools+=("qvbackup.exe under Wine --threads 2")
fi
win=9

# The options of qvbackup's backup, restore and incremental for row INDEX.
qv_options() {
  case $1 in
    0 | 9) echo --threads 2 ;;
    1) echo --threads 1 ;;
    2) echo --threads 2 --level fast ;;
    3) echo --threads 2 --level best ;;
    4) echo --threads 2 --password-env QV_BENCH_PASSWORD ;;
  esac
}
# Restores read ahead with as many threads as the backup sealed with.
qv_restore_options() {
  case $1 in
    1) echo --threads 1 ;;
    4) echo --threads 2 --password-env QV_BENCH_PASSWORD ;;
    *) echo --threads 2 ;;
  esac
}
backup() {  # backup INDEX OUT
  local out=$2
  case $1 in
    0 | 1 | 2 | 3 | 4) "$qvbackup" backup "$src" --to "$out" --name c --quiet $(qv_options "$1") ;;
    5) restic init -q -r "$out" && restic backup -q -r "$out" "$src" ;;
    6) borg init -e none "$out" && (cd "$work" && borg create "$out::c" corpus) ;;
    7) mkdir -p "$out" && tar -cf - -C "$work" corpus | zstd -q -3 -T0 > "$out/c.tzst" ;;
    8) mkdir -p "$out" && tar -cf - -C "$work" corpus | gzip -6 > "$out/c.tgz" ;;
    9) "$wine" "$windows_exe" backup "$(windows "$src")" --to "$(windows "$out")" --name c --quiet $(qv_options "$1") ;;
  esac
}
incremental() {  # incremental INDEX OUT: a second backup of the unchanged corpus into OUT
  local out=$2
  case $1 in
    0 | 1 | 2 | 3 | 4) "$qvbackup" backup "$src" --to "$out" --name c --quiet --incremental $(qv_options "$1") ;;
    5) restic backup -q -r "$out" "$src" ;;
    6) (cd "$work" && borg create "$out::c2" corpus) ;;
    9) "$wine" "$windows_exe" backup "$(windows "$src")" --to "$(windows "$out")" --name c --quiet --incremental \
         $(qv_options "$1") ;;
  esac
}
has_incremental() { [[ $1 != 7 && $1 != 8 ]]; }
restore() {  # restore INDEX OUT TARGET [FILE]: the whole backup, or FILE (a path below the corpus) alone
  local out=$2 target=$3 file=${4:-}
  mkdir -p "$target"
  case $1 in
    0 | 1 | 2 | 3 | 4)
      "$qvbackup" restore "$out/c.QVA" --to "$target" --quiet $(qv_restore_options "$1") ${file:+"$src/$file"} ;;
    5) restic restore -q -r "$out" latest --target "$target" ${file:+--include "$src/$file"} ;;
    6) (cd "$target" && borg extract "$out::c" ${file:+"corpus/$file"}) ;;
    7) zstd -q -dc "$out/c.tzst" | tar -xf - -C "$target" ${file:+"corpus/$file"} ;;
    8) gzip -dc "$out/c.tgz" | tar -xf - -C "$target" ${file:+"corpus/$file"} ;;
    9) "$wine" "$windows_exe" restore "$(windows "$out/c.QVA")" --to "$(windows "$target")" --quiet \
         $(qv_restore_options "$1") ${file:+"$(windows "$src/$file")"} ;;
  esac
}
restored_tree() {  # INDEX TARGET: where the corpus comes back below TARGET
  case $1 in
    0 | 1 | 2 | 3 | 4) echo "$2/Kelvar_C$src" ;;
    5) echo "$2$src" ;;
    9) echo "$2/Kelvar_Z$src" ;;
    *) echo "$2/corpus" ;;
  esac
}
export -f backup incremental restore qv_options qv_restore_options windows
export qvbackup src work wine windows_exe

# same TREE LABEL: the restored tree equals the corpus, byte for byte.
same() {
  [[ -d $1 ]] || die "$2 restored nothing at $1"
  diff -r -q "$src" "$1" >&2 || die "$2 restored a different tree"
}
# alone TARGET TREE LABEL: TARGET holds one file, the picked one, equal to its original.
alone() {
  local count
  count=$(find "$1" -type f | wc -l)
  [[ $count == 1 ]] || die "$3 restored $count files for one"
  cmp "$src/$pick" "$2/$pick" >&2 || die "$3 restored $pick with other bytes"
}

for ((run = 1; run <= runs; run++)); do
  for i in "${!tools[@]}"; do
    tool=${tools[$i]}
    rm -rf "$work/out" "$work/back" "$work/one"
    # No step pays for what the one before it left to write back.
    sync
    measure "$work/backup.$i" "backup by $tool" bash -o pipefail -c "backup $i '$work/out'"
    du -sb "$work/out" | cut -f1 >> "$work/bytes.$i"
    sync
    measure "$work/restore.$i" "restore by $tool" bash -o pipefail -c "restore $i '$work/out' '$work/back'"
    same "$(restored_tree "$i" "$work/back")" "$tool"
    rm -rf "$work/back"
    sync
    measure "$work/one.$i" "one-file restore by $tool" \
      bash -o pipefail -c "restore $i '$work/out' '$work/one' '$pick'"
    alone "$work/one" "$(restored_tree "$i" "$work/one")" "$tool"
    if has_incremental "$i"; then
      sync
      measure "$work/incremental.$i" "incremental backup by $tool" bash -o pipefail -c "incremental $i '$work/out'"
    fi
  done
  echo "compare: run $run of $runs done" >&2
done
if [[ -n $windows_exe ]]; then
  # What Wine takes to start the program and end it, part of each of its steps.
  for ((run = 1; run <= 3; run++)); do measure "$work/start.$win" "qvbackup.exe --help" "$wine" "$windows_exe" --help; done
fi

column_of() { awk -v c="$2" '{ print $c }' "$1" | median; }
mb=$(calc "$input / 1000000")
backup_rate() { calc "$mb / $(column_of "$work/backup.$1" 1)"; }
restore_rate() { calc "$mb / $(column_of "$work/restore.$1" 1)"; }
ratio() { calc "$(median < "$work/bytes.$1") / $input"; }
peak() { calc "$(column_of "$work/backup.$1" 3) / 1024"; }
version() { { "$@" 2> /dev/null || true; } | head -n 1; }
{
  echo "# Backup and restore compared"
  echo
  echo "Corpus: $(printf "%.1f" "$mb") MB in $files files from bench/make_corpus.py $size (45% compressed media,"
  echo "30% documents, 15% binaries, 10% small files); the corpus, the archives and the restores in tmpfs;"
  echo "$(nproc) cores, $( ((runs == 1)) && echo "one run" || echo "medians of $runs runs"), $(date -u +%Y-%m-%d), $(git describe --always --dirty 2> /dev/null || echo "no git")."
  echo "$(version restic version); $(version borg --version); zstd $(zstd --version | grep -o 'v[0-9][0-9.]*' | head -n 1);"
  echo "$(version gzip --version); $(version tar --version)."
  echo
  echo "| tool | backup MB/s | backup CPU s | output/input | peak MiB | restore MB/s | incremental s | one-file restore s | backup vs restic | backup vs borg | restore vs restic |"
  echo "|---|---|---|---|---|---|---|---|---|---|---|"
  for i in "${!tools[@]}"; do
    incr=-
    if has_incremental "$i"; then incr=$(printf "%.3f" "$(column_of "$work/incremental.$i" 1)"); fi
    printf "| %s | %.1f | %.1f | %.3f | %.0f | %.1f | %s | %.3f | %.2f | %.2f | %.2f |\n" "${tools[$i]//|/\\|}" \
      "$(backup_rate "$i")" "$(column_of "$work/backup.$i" 2)" "$(ratio "$i")" "$(peak "$i")" "$(restore_rate "$i")" \
      "$incr" "$(column_of "$work/one.$i" 1)" \
      "$(calc "$(backup_rate "$i") / $(backup_rate $restic)")" "$(calc "$(backup_rate "$i") / $(backup_rate $borg)")" \
      "$(calc "$(restore_rate "$i") / $(restore_rate $restic)")"
  done
  echo
  echo "Every restore was compared with the corpus byte for byte (diff -r), every one-file restore with its"
  echo "original (cmp). Backup CPU s: user and system seconds of the backup; peak MiB: the largest resident"
  echo "set of the backup's processes. Incremental s: a second backup of the unchanged corpus into the same"
  echo "archive or repository (qvbackup --incremental, a second restic backup, a second borg create; tar has"
  echo "none). One-file restore s: $pick ($(stat -c %s "$src/$pick") bytes) restored alone from the full backup"
  echo "(qvbackup restore PATTERN, restic restore --include, borg extract PATH, tar -x MEMBER after the whole"
  echo "stream is decompressed). The last three columns divide the row's MB/s by restic's and borg's of this run."
  echo "Memory: $(pages_note)."
  echo
  for level in fast default best; do
    case $level in fast) i=$qvfast ;; default) i=$qv ;; best) i=$qvbest ;; esac
    printf "qvbackup --threads 2 --level %s: backup %.1f MB/s, output/input %.3f (%.1f MB), restore %.1f MB/s.\n" \
      "$level" "$(backup_rate $i)" "$(ratio $i)" "$(calc "$(median < "$work/bytes.$i") / 1000000")" "$(restore_rate $i)"
  done
  for other in $restic $borg; do
    printf "qvbackup --threads 2 (default level) vs %s: backup %.2fx as fast, restore %.2fx, output %.3fx, peak memory %.0f MiB against %.0f MiB (%.2fx).\n" \
      "${tools[$other]}" "$(calc "$(backup_rate $qv) / $(backup_rate $other)")" \
      "$(calc "$(restore_rate $qv) / $(restore_rate $other)")" \
      "$(calc "$(median < "$work/bytes.$qv") / $(median < "$work/bytes.$other")")" \
      "$(peak $qv)" "$(peak $other)" "$(calc "$(peak $qv) / $(peak $other)")"
  done
  one=$(column_of "$work/backup.$qv1" 1)
  printf "qvbackup --threads 2 vs --threads 1: %.2fx as fast. A password (two threads): %+.1f%% time.\n" \
    "$(calc "$one / $(column_of "$work/backup.$qv" 1)")" \
    "$(calc "($(column_of "$work/backup.$qvpass" 1) / $(column_of "$work/backup.$qv" 1) - 1) * 100")"
  if [[ -n $windows_exe ]]; then
    printf "qvbackup.exe under Wine (%s) vs the Linux build, both --threads 2, this run: backup %.1f against %.1f MB/s (%.2fx), restore %.1f against %.1f MB/s (%.2fx).\n" \
      "$(version "$wine" --version)" "$(backup_rate $win)" "$(backup_rate $qv)" \
      "$(calc "$(backup_rate $win) / $(backup_rate $qv)")" "$(restore_rate $win)" "$(restore_rate $qv)" \
      "$(calc "$(restore_rate $win) / $(restore_rate $qv)")"
    printf "Each of its steps includes %.3f s of Wine starting and ending the program (qvbackup.exe --help, median of 3).\n" \
      "$(column_of "$work/start.$win" 1)"
  else
    echo "No Windows row: QV_BENCH_WINDOWS_EXE was not set (QV_BENCH_WINDOWS_EXE=build/mingw/bin/qvbackup.exe runs it under Wine)."
  fi
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
