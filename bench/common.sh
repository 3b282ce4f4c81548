# Sourced by bench/compare.sh, bench/restore.sh and bench/scan.sh, run from
# the project's root: strict mode, die MESSAGE, the Release qvbackup, a work
# folder in memory removed on exit, the Windows build under a Wine prefix of
# the run's own, timed steps, medians, and a section of bench/RESULTS.md
# written in its place.
set -euo pipefail
# Numbers with a decimal point, paths sorted by their bytes.
export LC_ALL=C

die() { echo "${bench_name:-bench}: $*" >&2; exit 1; }

# bench_qvbackup: builds qvbackup (Release, no tests) in QV_BENCH_BUILD
# (default build/bench) and sets qvbackup to it; QV_BENCH_QVBACKUP names a
# program to time instead, built elsewhere.
bench_qvbackup() {
  if [[ -n ${QV_BENCH_QVBACKUP:-} ]]; then
    [[ -x $QV_BENCH_QVBACKUP ]] || die "QV_BENCH_QVBACKUP=$QV_BENCH_QVBACKUP is no program"
    qvbackup=$(realpath "$QV_BENCH_QVBACKUP")
    return
  fi
  local build=${QV_BENCH_BUILD:-build/bench} log
  log=$(mktemp)
  if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF &&
         cmake --build "$build" -j "$(nproc)" --target qvbackup; } > "$log" 2>&1; then
    tail -n 30 "$log" >&2
    rm -f "$log"
    die "building qvbackup in $build failed"
  fi
  rm -f "$log"
  qvbackup=$(cd "$build" && pwd)/bin/qvbackup
}

# bench_require COMMAND...: installs the Debian packages of the commands
# missing (borg comes in borgbackup, /usr/bin/time in time).
bench_require() {
  local missing=() command sudo_cmd=()
  for command in "$@"; do
    if [[ $command == time ]]; then
      [[ -x /usr/bin/time ]] || missing+=(time)
    else
      command -v "$command" > /dev/null || missing+=("$command")
    fi
  done
  ((${#missing[@]})) || return 0
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]/borg/borgbackup}" > /dev/null
}

# bench_work: makes the work folder (work) in QV_BENCH_TMP, default
# /dev/shm, which must be a tmpfs: what is timed reads and writes memory,
# not a disk another job may be using. Removed on exit, with the Wine
# server of the run's prefix.
bench_work() {
  local tmp=${QV_BENCH_TMP:-/dev/shm}
  [[ -d $tmp && $(stat -f -c %T "$tmp") == tmpfs ]] || die "$tmp is no tmpfs (QV_BENCH_TMP names another)"
  work=$(mktemp -d "$tmp/qvbench.XXXXXX")
  trap bench_cleanup EXIT
}
bench_cleanup() {
  if [[ -n ${WINEPREFIX:-} && -d $WINEPREFIX ]]; then wineserver -k > /dev/null 2>&1 || true; fi
  rm -rf "$work"
}

# bench_windows: when QV_BENCH_WINDOWS_EXE names the Windows qvbackup.exe,
# sets windows_exe and wine and readies a Wine prefix in the work folder
# (a prefix of its own: the run stops its Wine server at the end without
# touching anybody else's), its server kept running so that no timed step
# pays for starting it. Returns 1 when the variable is not set.
bench_windows() {
  [[ -n ${QV_BENCH_WINDOWS_EXE:-} ]] || return 1
  [[ -f $QV_BENCH_WINDOWS_EXE ]] || die "QV_BENCH_WINDOWS_EXE=$QV_BENCH_WINDOWS_EXE is no file"
  windows_exe=$(realpath "$QV_BENCH_WINDOWS_EXE")
  wine=$(command -v wine || command -v wine64) || die "QV_BENCH_WINDOWS_EXE is set but there is no wine"
  export WINEDEBUG=-all WINEPREFIX=$work/wine WINEDLLOVERRIDES="mscoree,mshtml="
  # The first program run makes the prefix.
  "$wine" "$windows_exe" --help < /dev/null > "$work/wine.out" 2>&1 ||
    { cat "$work/wine.out" >&2; die "$windows_exe --help under $wine failed"; }
  wineserver -p
  export wine windows_exe WINEDEBUG WINEPREFIX WINEDLLOVERRIDES
}

# windows PATH: the Windows form of a Linux path (Wine's Z: is the Linux root).
windows() { printf 'Z:%s' "${1//\//\\}"; }

# bench_pages BYTES: before each timed step, BYTES of memory are written to
# the work folder and removed again, so that the step finds the pages it
# writes in the machine's own hands. A virtual machine whose host takes
# back the memory the guest leaves free (free page reporting) otherwise
# makes whichever step first writes after a while pay for faulting them in
# again: on the 2-core machine 1 GiB written to tmpfs took 1.16 to 1.31 s
# that way, against 0.17 s right after the same was removed. Every tool's
# steps get the same. QV_BENCH_PAGES=0 leaves it out.
bench_pages() {
  pages=$1
  [[ ${QV_BENCH_PAGES:-1} != 0 ]] || pages=0
}
hand_over_pages() {
  ((${pages:-0} > 0)) || return 0
  dd if=/dev/zero of="$work/pages" bs=1M count=$(((pages + 1048575) >> 20)) status=none
  rm -f "$work/pages"
}
pages_note() {
  if ((${pages:-0} > 0)); then
    printf '%s MiB written to the tmpfs and removed before each timed step (bench_pages in bench/common.sh)' \
      "$(((pages + 1048575) >> 20))"
  else
    printf 'no memory handed over before the timed steps (QV_BENCH_PAGES=0)'
  fi
}

# measure FILE LABEL COMMAND...: appends "elapsed cpu peak_kib" of the
# command to FILE; a command that fails ends the run with its output.
measure() {
  local file=$1 label=$2
  shift 2
  hand_over_pages
  local start=$EPOCHREALTIME
  if ! /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" < /dev/null > "$work/step.out" 2>&1; then
    tail -n 30 "$work/step.out" >&2
    die "$label failed"
  fi
  # Elapsed from the shell's clock (microseconds), not time's (centiseconds).
  awk -v start="$start" -v end="$EPOCHREALTIME" 'END { printf "%.6f %.2f %s\n", end - start, $2 + $3, $4 }' \
    "$work/time" >> "$file"
}

# median: the median of the numbers read, one a line.
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) exit 1; print v[int((NR + 1) / 2)] }'; }

# calc EXPRESSION: EXPRESSION worked out by awk, with six decimals.
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }

# bench_section FILE: FILE holds a section of bench/RESULTS.md, from its
# "## TITLE" line on. It takes the place of the section of that title, or
# comes last; what is above the first section and the other sections stay
# as they are, in their order.
bench_section() {
  python3 - "$1" bench/RESULTS.md << 'PY'
import os
import sys

new = open(sys.argv[1]).read().strip("\n") + "\n"
title = new.splitlines()[0]
assert title.startswith("## "), title
path = sys.argv[2]
text = open(path).read() if os.path.exists(path) else ""
head, sections = [], []
for line in text.splitlines(keepends=True):
    if line.startswith("## "):
        sections.append([line])
    elif sections:
        sections[-1].append(line)
    else:
        head.append(line)
blocks = ["".join(s).strip("\n") + "\n" for s in sections]
titles = [b.splitlines()[0].rstrip() for b in blocks]
if title.rstrip() in titles:
    blocks[titles.index(title.rstrip())] = new
else:
    blocks.append(new)
parts = ["".join(head).strip("\n") + "\n"] if "".join(head).strip() else []
with open(path + ".new", "w") as f:
    f.write("\n".join(parts + blocks))
os.replace(path + ".new", path)
PY
}
