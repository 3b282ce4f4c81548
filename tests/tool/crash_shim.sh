# Sourced by the tool tests that stop qvbackup at an exact call: builds
# crash_shim.c into ROOT and sets `preload` (the ASan runtime first, where
# the program has one, as it asks); `held_pid` is the run held by hold_at.
#   use_crash_shim ROOT QVBACKUP
#   hold_at PAUSE WATCHED OP N OUT ERR COMMAND...: starts COMMAND with the
#     shim watching the folder WATCHED, held at its N-th OP until the file
#     PAUSE goes; returns once it is held (fails the test if it never is).
#   reap: waits for the held run and sets `code` to its exit status.
held_pid=
use_crash_shim() {
  local root=$1 program=$2
  cc -shared -fPIC -O2 -o "$root/shim.so" "$(dirname "${BASH_SOURCE[0]}")/crash_shim.c" -ldl 2> "$root/cc.err" ||
    fail "cannot build the crash shim: $(cat "$root/cc.err")"
  preload=$root/shim.so
  local asan
  asan=$(ldd "$program" 2> /dev/null | grep -o '/[^ ]*libasan[^ ]*' | head -n 1 || true)
  [[ -z $asan ]] || preload=$asan:$preload
  trap 'if [[ -n $held_pid ]]; then kill -9 "$held_pid" 2>/dev/null; wait "$held_pid" 2>/dev/null; fi; rm -rf "$work"' EXIT
}
hold_at() {
  local pause=$1 watched=$2 op=$3 at=$4 out=$5 err=$6
  shift 6
  rm -f "$pause.held"
  touch "$pause"
  env LD_PRELOAD="$preload" QV_CRASH_DIR="$watched" QV_CRASH_OP="$op" QV_PAUSE_AT="$at" QV_PAUSE_FILE="$pause" \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" "$@" > "$out" 2> "$err" &
  held_pid=$!
  local i
  for ((i = 0; i < 3000; ++i)); do
    [[ -e $pause.held ]] && return 0
    kill -0 "$held_pid" 2> /dev/null || break
    sleep 0.2
  done
  fail "the run never reached its $op $at: $(cat "$out" "$err")"
}
reap() {
  set +e
  { wait "$held_pid"; } 2> /dev/null
  code=$?
  set -e
  held_pid=
}
