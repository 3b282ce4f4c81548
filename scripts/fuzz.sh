#!/usr/bin/env bash
# Runs the libFuzzer targets of fuzz/ for a given time each.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# SECONDS defaults to 60; no TARGET means all of them, one after the other.
# Builds the "fuzz" preset first (clang; see CMakePresets.json), or the
# build folder named by QV_FUZZ_BUILD. Each target starts from a copy of its
# seed corpus in a work folder (QV_FUZZ_WORK, default build/fuzz-work), so
# what it finds stays out of the repository. Exits 1 when a target crashed,
# leaked, ran out of memory or time; the reproducer's path is printed (see
# fuzz/regressions/ for keeping it).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
all=(index_image index_file archive mft_record ntfs_volume fat_volume group_xml log_config)
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=("${all[@]}")
build=${QV_FUZZ_BUILD:-$root/build/fuzz}
work=${QV_FUZZ_WORK:-$root/build/fuzz-work}

# The largest input worth trying per target, and its dictionary.
max_len() {
  case $1 in
    ntfs_volume) echo 131072 ;;
    index_image | index_file | archive | fat_volume) echo 65536 ;;
    mft_record | group_xml) echo 16384 ;;
    *) echo 4096 ;;
  esac
}
dictionary() {
  case $1 in
    index_image | index_file) echo index ;;
    mft_record | ntfs_volume) echo ntfs ;;
    *) echo "$1" ;;
  esac
}

if [[ -z ${QV_FUZZ_BUILD:-} && ! -f $build/build.ninja ]]; then
  (cd "$root" && cmake --preset fuzz > /dev/null)
fi
cmake --build "$build" --target qv_fuzzers -- -j2 > /dev/null

failed=0
for target in "${targets[@]}"; do
  program=$build/bin/fuzz_$target
  [[ -x $program ]] || { echo "fuzz.sh: no target $target" >&2; exit 2; }
  dir=$work/$target
  # libFuzzer ends without running destructors: the targets' temporary
  # folders go below the work folder and are removed here.
  rm -rf "$dir/tmp"
  mkdir -p "$dir/corpus" "$dir/artifacts" "$dir/tmp"
  cp -n "$root/fuzz/corpus/$target/"* "$dir/corpus/" 2> /dev/null || true
  options=(-max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=20 -rss_limit_mb=2048
           -artifact_prefix="$dir/artifacts/" -print_final_stats=1)
  dict=$root/fuzz/dict/$(dictionary "$target").dict
  [[ -f $dict ]] && options+=(-dict="$dict")
  echo "== $target: ${seconds}s, log in $dir/log.txt"
  if (cd "$dir" && TMPDIR=$dir/tmp "$program" "${options[@]}" "$dir/corpus" > "$dir/log.txt" 2>&1); then
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|cov: ' "$dir/log.txt" | grep -v INITED | tail -3
  else
    failed=1
    grep -E '^(==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)|fuzz check failed' "$dir/log.txt" | head -8
    echo "fuzz.sh: $target failed; reproducer in $dir/artifacts/ (replay: $program FILE)" >&2
  fi
  rm -rf "$dir/tmp"
done
exit $failed
