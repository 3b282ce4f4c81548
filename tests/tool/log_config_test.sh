#!/usr/bin/env bash
# The trace log's QV_LOG.INI, found in the current folder, as qvbackup
# meets it: a configuration of the user's own is taken; one that another
# user planted in a shared folder (a /tmp of their own making), or one in a
# shared folder that is not the user's, is ignored with exactly one line on
# standard error; a log name that another user turned into a symbolic link
# writes nothing through it. Other owners need root: the planting user is
# nobody (setpriv), and without root those cases are skipped.
#   log_config_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
[[ ! -e /QV_LOG.INI ]] || { echo "log config: skipped, /QV_LOG.INI exists and would be taken first"; exit 0; }
root=$(cd "$work" && pwd -P)
chmod 755 "$root"
mkdir -p "$root/tree"
printf 'x\n' > "$root/tree/a.txt"
drive() { printf 'C:%s' "${1//\//\\}"; }
# config FOLDER OUTPUT: QV_LOG.INI in FOLDER logging everything to OUTPUT.
config() { printf '[LOG]\r\nOutputName=%s\r\nLogLevel=13\r\n' "$2" > "$1/QV_LOG.INI"; }
# run FOLDER [AS...]: a scan started in FOLDER (as the user AS... says);
# its standard error in $root/said.
run() {
  local folder=$1
  shift
  (cd "$folder" && "$@" "$qvbackup" scan "$root/tree" > /dev/null 2> "$root/said") || fail "scan in $folder failed"
}
# said_only LINE: standard error is exactly LINE.
said_only() { [[ $(cat "$root/said") == "$1" ]] || fail "said '$(cat "$root/said")', not '$1'"; }
# logged FILE: FILE is a log the run just wrote (UTF-16LE with its mark).
logged() { [[ -f $1 && $(head -c 2 "$1" | od -An -tx1 | tr -d ' ') == fffe ]] || fail "no log at $1"; }

# The user's own configuration: taken, nothing said; the next run keeps
# the previous log as .bak.
mkdir "$root/own"
config "$root/own" run.log
chmod 644 "$root/own/QV_LOG.INI"
run "$root/own"
said_only ""
logged "$root/own/run.log"
run "$root/own"
logged "$root/own/run.log.bak"
# Writable by others or by its group: ignored, the file it names untouched.
printf 'precious\n' > "$root/victim"
victim_sum=$(sha256sum < "$root/victim")
for mode in 666 664; do
  config "$root/own" "$(drive "$root/victim")"
  chmod "$mode" "$root/own/QV_LOG.INI"
  run "$root/own"
  [[ $mode == 666 ]] && why="writable by others" || why="writable by its group"
  said_only "qvbackup: ignoring $root/own/QV_LOG.INI: $why"
done
[[ $(sha256sum < "$root/victim") == "$victim_sum" && ! -e $root/victim.bak ]] || fail "the victim was touched"

if [[ $(id -u) != 0 ]]; then
  echo "log config: other owners skipped (they need root)"
  exit 0
fi
command -v setpriv > /dev/null || fail "setpriv is needed to run as nobody"
nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups)

# A shared folder like /tmp (root's, sticky, writable by all) where nobody
# plants a configuration naming root's file: a run as root ignores it.
mkdir "$root/shared"
chmod 1777 "$root/shared"
"${nobody[@]}" bash -c "printf '[LOG]\r\nOutputName=%s\r\n' '$(drive "$root/victim")' > '$root/shared/QV_LOG.INI'"
chmod 644 "$root/shared/QV_LOG.INI"
run "$root/shared"
said_only "qvbackup: ignoring $root/shared/QV_LOG.INI: owned by another user"
[[ $(sha256sum < "$root/victim") == "$victim_sum" && ! -e $root/victim.bak ]] || fail "the planted configuration wrote"
# nobody's own configuration there is refused too: anybody may rearrange
# the folder, which is not nobody's.
run "$root/shared" "${nobody[@]}"
said_only "qvbackup: ignoring $root/shared/QV_LOG.INI: its folder is writable by others"

# nobody in a folder of nobody's own: taken, the log written as nobody.
mkdir "$root/nobodys" "$root/roots"
chown nobody "$root/nobodys"
"${nobody[@]}" bash -c "printf '[LOG]\r\nOutputName=run.log\r\n' > '$root/nobodys/QV_LOG.INI'"
run "$root/nobodys" "${nobody[@]}"
said_only ""
logged "$root/nobodys/run.log"
[[ $(stat -c %U "$root/nobodys/run.log") == nobody ]] || fail "the log is not nobody's"

# root's configuration logs into the shared folder, where nobody has put a
# symbolic link to root's file under the log's name: nothing is written
# through it, and the link stays.
config "$root/roots" "$(drive "$root/shared/root.log")"
chmod 644 "$root/roots/QV_LOG.INI"
"${nobody[@]}" ln -s "$root/victim" "$root/shared/root.log"
run "$root/roots"
said_only "qvbackup: not writing the log $root/shared/root.log: a symbolic link is there"
[[ -L $root/shared/root.log && $(sha256sum < "$root/victim") == "$victim_sum" ]] || fail "the link was written through"
[[ ! -e $root/shared/root.log.bak && ! -L $root/shared/root.log.bak ]] || fail "the link was moved"
echo "log config: all checks passed"
