#!/usr/bin/env bash
# End-to-end backup and restore of a generated ~200 MB folder (half text that
# compresses, half random bytes that do not), with and without a password,
# against tar | gzip -6 and gzip -dc | tar -x on the same folder, in one run.
#   bench/compare_backup.sh [BUILD_DIR]   (a Release build with QV_BUILD_BENCH=ON)
set -euo pipefail
build=${1:-build/bench}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src=$work/src
mkdir -p "$src"
for d in $(seq 1 10); do
  mkdir -p "$src/folder$d"
  for f in $(seq 1 10); do
    if (( (d + f) % 2 )); then
      head -c 2000000 /dev/urandom > "$src/folder$d/random$f.bin"
    else
      yes "quarterly figures $d $f: income, expenses and the notes that explain them" |
        head -c 2000000 > "$src/folder$d/text$f.txt" || true  # yes ends on a closed pipe
    fi
  done
done
size=$(du -sb "$src" | cut -f1)
mb=$(echo "scale=1; $size / 1000000" | bc)
echo "corpus: $mb MB"

seconds() { local s; s=$(date +%s.%N); "$@" > /dev/null; echo "$(date +%s.%N) - $s" | bc; }
rate() { echo "scale=1; $size / 1000000 / $1" | bc; }

t_tar=$(seconds bash -c "tar -cf - -C '$work' src | gzip -6 > '$work/src.tgz'")
mkdir "$work/untar"
t_untar=$(seconds bash -c "gzip -dc '$work/src.tgz' | tar -xf - -C '$work/untar'")
echo "tar|gzip -6        backup $(rate "$t_tar") MB/s   restore $(rate "$t_untar") MB/s"

for password in "" "bench password"; do
  rm -rf "$work/arch" "$work/rest"; mkdir "$work/arch" "$work/rest"
  args=()
  [[ -n $password ]] && args=("$password")
  echo "qvbackup ${password:+(password)}"
  "$build/bin/qv_backup_restore_timer" "$src" "$work/arch" "$work/rest" "${args[@]}"
  diff -r "$src" "$work/rest/Kelvar_C$src" > /dev/null && echo "  restored tree identical"
done
