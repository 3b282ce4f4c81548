#!/usr/bin/env bash
# How fast `qvbackup scan` indexes a tree of empty files in tmpfs, 1000 a
# folder, against find printing each entry's size, time and mode (so it
# stats every one) on the same tree: seconds and peak memory, medians of 3,
# entries a second and the time of qvbackup over find's. qvbackup's count
# of files must be the tree's, or the run fails. With QV_BENCH_WINDOWS_EXE
# the Windows build scans, under Wine, a smaller tree that the Linux
# qvbackup and find scan too. Writes the "## Folder scan" section of
# bench/RESULTS.md in place (or last), keeping the rest as it is.
#   bench/scan.sh [COUNT]     COUNT files (default 500000)
#   QV_BENCH_WINDOWS_EXE=build/mingw/bin/qvbackup.exe   adds the Windows build under Wine,
#     on QV_BENCH_WINDOWS_COUNT files (default 20000)
#   QV_BENCH_BUILD, QV_BENCH_QVBACKUP, QV_BENCH_TMP as for bench/compare.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bench_name=scan
source bench/common.sh
count=${1:-500000}
windows_count=${QV_BENCH_WINDOWS_COUNT:-20000}
runs=3
per_folder=1000
[[ $count =~ ^[1-9][0-9]*$ ]] || die "COUNT must be a positive number, not '$count'"
[[ $windows_count =~ ^[1-9][0-9]*$ ]] || die "QV_BENCH_WINDOWS_COUNT must be a positive number"

bash scripts/setup.sh
if [[ ! -x /usr/bin/time ]]; then
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends time > /dev/null
fi
bench_qvbackup
bench_work
windows_exe="" wine=""
bench_windows || true

# make_tree DIR COUNT: COUNT empty files, PER_FOLDER a folder below DIR.
make_tree() {
  python3 - "$1" "$2" "$per_folder" << 'PY'
import os
import sys

root, count, per_folder = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for n in range(count):
    if n % per_folder == 0:
        folder = os.path.join(root, f"d{n // per_folder:05d}")
        os.makedirs(folder)
    os.close(os.open(os.path.join(folder, f"f{n:07d}"), os.O_CREAT | os.O_WRONLY, 0o644))
PY
  local made
  made=$(find "$1" -type f | wc -l)
  [[ $made == "$2" ]] || die "made $made files in $1 for $2"
}

# measure FILE OUT LABEL COMMAND...: appends "elapsed peak_kib" of the
# command, its output in OUT, to FILE; a command that fails ends the run.
measure() {
  local file=$1 out=$2 label=$3
  shift 3
  local start=$EPOCHREALTIME
  if ! /usr/bin/time -f "%e %M" -o "$work/time" "$@" < /dev/null > "$out" 2> "$work/err"; then
    tail -n 30 "$work/err" >&2
    die "$label failed"
  fi
  # Elapsed from the shell's clock (microseconds), not time's (centiseconds).
  awk -v start="$start" -v end="$EPOCHREALTIME" 'END { printf "%.6f %s\n", end - start, $2 }' "$work/time" >> "$file"
}
# files_of JSON COUNT LABEL: the scan's answer counts COUNT files.
files_of() {
  local files
  files=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["files"])' "$1") ||
    die "$3 gave no answer: $(head -c 300 "$1")"
  [[ $files == "$2" ]] || die "$3 counted $files files, the tree holds $2"
}

# scan_tree KEY DIR COUNT: times qvbackup scan, find and (when set up) the
# Windows build on the tree DIR of COUNT files, RUNS times each in turn.
scan_tree() {
  local key=$1 dir=$2 files=$3 run
  for ((run = 1; run <= runs; run++)); do
    measure "$work/$key.qvbackup" "$work/scan.json" "qvbackup scan $dir" "$qvbackup" scan --json "$dir"
    files_of "$work/scan.json" "$files" "qvbackup scan $dir"
    measure "$work/$key.find" /dev/null "find $dir" find "$dir" -printf '%s %T@ %m %p\n'
    if [[ -n $windows_exe && $key == windows ]]; then
      measure "$work/$key.wine" "$work/scan.json" "qvbackup.exe scan $(windows "$dir")" \
        "$wine" "$windows_exe" scan --json "$(windows "$dir")"
      files_of "$work/scan.json" "$files" "qvbackup.exe scan $(windows "$dir")"
      # What Wine takes to start the program and end it, part of each scan's time.
      measure "$work/$key.start" /dev/null "qvbackup.exe --help" "$wine" "$windows_exe" --help
    fi
  done
  # What find went through: the files, their folders and DIR.
  find "$dir" | wc -l > "$work/$key.entries"
}

make_tree "$work/tree" "$count"
scan_tree main "$work/tree" "$count"
rm -rf "$work/tree"
if [[ -n $windows_exe ]]; then
  make_tree "$work/wtree" "$windows_count"
  scan_tree windows "$work/wtree" "$windows_count"
fi

column_of() { awk -v c="$2" '{ print $c }' "$1" | median; }
seconds_of() { column_of "$work/$1.$2" 1; }  # seconds_of KEY PROGRAM: the median seconds
row() {  # row KEY PROGRAM LABEL
  local seconds entries
  seconds=$(seconds_of "$1" "$2")
  entries=$(cat "$work/$1.entries")
  printf "| %s files, %s entries | %s | %.3f | %.0f | %.0f | %.2f |\n" "$(cat "$work/$1.files")" "$entries" "$3" \
    "$seconds" "$(calc "$(column_of "$work/$1.$2" 2) / 1024")" "$(calc "$entries / $seconds")" \
    "$(calc "$seconds / $(seconds_of "$1" find)")"
}
echo "$count" > "$work/main.files"
echo "$windows_count" > "$work/windows.files"
find_label="find -printf '%s %T@ %m %p\\n'"
{
  echo "## Folder scan"
  echo
  echo "\`bench/scan.sh $count\` ($(nproc) cores, $(date -u +%Y-%m-%d), $(git describe --always --dirty 2> /dev/null || echo "no git")):"
  echo "empty files in tmpfs, $per_folder a folder; seconds until the program exits and its peak resident"
  echo "memory (/usr/bin/time), medians of $runs runs; entries are the files, their folders and the top folder;"
  echo "the last column is the row's seconds over find's on the same tree. Every qvbackup scan counted"
  echo "all the files of its tree."
  echo
  echo "| tree | program | seconds | peak MiB | entries/s | time vs find |"
  echo "|---|---|---|---|---|---|"
  row main qvbackup "qvbackup scan"
  row main find "$find_label"
  if [[ -n $windows_exe ]]; then
    row windows wine "qvbackup.exe scan under Wine"
    row windows qvbackup "qvbackup scan"
    row windows find "$find_label"
  fi
  echo
  if [[ -n $windows_exe ]]; then
    printf "Under Wine (%s) the Windows build takes %.2fx the Linux build's time on the tree of %s files;\n" \
      "$("$wine" --version 2> /dev/null)" \
      "$(calc "$(seconds_of windows wine) / $(seconds_of windows qvbackup)")" "$windows_count"
    printf "of its %.3f s, %.3f s are Wine starting and ending the program (qvbackup.exe --help).\n" \
      "$(seconds_of windows wine)" "$(seconds_of windows start)"
  else
    echo "No Windows rows: QV_BENCH_WINDOWS_EXE was not set (QV_BENCH_WINDOWS_EXE=build/mingw/bin/qvbackup.exe scans under Wine)."
  fi
} > "$work/section.md"
bench_section "$work/section.md"
cat "$work/section.md"
