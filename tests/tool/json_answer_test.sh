#!/usr/bin/env bash
# With --json every command answers with exactly one JSON object on
# standard output, also when it fails: a wrong password, a missing archive
# or source, a bad option, a missing value, an unknown command, a source
# that cannot be read, damage found. The failure's "error" holds the first
# failure line of standard error and its Windows error number (or null),
# "exit" the exit status; what a command answers when it gets that far is
# kept beside them, and a run that succeeds has no "error".
#   json_answer_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
export QV_JSON_PW='json pw' QV_WRONG_PW='not it'
pw=(--password-env QV_JSON_PW)
wrong=(--password-env QV_WRONG_PW)
cd "$work"
mkdir -p src/sub arch
printf 'first\n' > src/a.txt
seq 1 3000 > src/sub/b.txt
"$qvbackup" backup src --to arch --name enc "${pw[@]}" --quiet > /dev/null
arch=arch/enc.QVA

# answer STATUS CODE START [CONDITION] -- ARGS...: qvbackup ARGS exits with
# STATUS; its standard output is one JSON object (one line) whose error
# has the code CODE ("null": none) and the first failure line of standard
# error as its message, which starts with START; CONDITION (Python, about
# `a`, the answer) holds as well.
answer() {
  local status=$1 code=$2 start=$3 condition=True got=0
  shift 3
  if [[ $1 != -- ]]; then condition=$1; shift; fi
  shift
  "$qvbackup" "$@" > "$work/answer.json" 2> "$work/said.txt" || got=$?
  [[ $got == "$status" ]] || fail "$*: exit $got, not $status: $(cat "$work/answer.json" "$work/said.txt")"
  python3 - "$work/answer.json" "$work/said.txt" "$status" "$code" "$start" "$condition" <<'PY' || fail "$*: $(cat "$work/answer.json" "$work/said.txt")"
import json, sys
out, err, status, code, start, condition = sys.argv[1:]
text = open(out, encoding="utf-8").read()
a = json.loads(text)
assert isinstance(a, dict) and text.count("\n") == 1 and text.endswith("\n"), text
said = [line[len("qvbackup: "):] for line in open(err, encoding="utf-8").read().splitlines()
        if line.startswith("qvbackup: ")]
error = a["error"]
assert a["exit"] == int(status), a
assert said and error["message"] == said[0], (error, said)
assert error["message"].startswith(start), (error["message"], start)
assert error["code"] == (None if code == "null" else int(code)), error
assert eval(condition), condition
PY
}

# Archive commands: a wrong password, a missing archive, bad usage.
for command in list verify restore; do
  to=()
  [[ $command == restore ]] && to=(--to restored)
  answer 5 1323 "$arch: wrong password" -- "$command" "$arch" "${to[@]}" --json "${wrong[@]}"
  answer 1 2 "arch/none.QVA: The system cannot find the file specified." -- \
    "$command" arch/none.QVA "${to[@]}" --json
  answer 2 null "$command: unknown option '--deep'" -- "$command" "$arch" --deep --json "${pw[@]}"
  answer 2 null "$command: no ARCHIVE given" -- "$command" --json
done
answer 2 null "restore: option '--to' needs a value" -- restore "$arch" "${pw[@]}" --json --to
answer 2 null "restore: --to DIR is required" -- restore "$arch" "${pw[@]}" --json
[[ ! -e restored ]] || fail "a failed restore made its folder"

# Backup: a missing source, bad usage, a wrong password for an increment,
# a source folder that cannot be read (the report is kept beside the error).
answer 1 2 "backup: missing: The system cannot find the file specified." -- \
  backup missing --to arch --name other --json
answer 2 null "backup: option '--name' needs a value" -- backup src --to arch --json --name
answer 2 null "backup: unknown option '--fast'" -- backup src --to arch --name other --fast --json
answer 5 1323 "backup: enc: the password is wrong or missing" -- \
  backup src --to arch --name enc --incremental --json "${wrong[@]}"
mkdir -p src/closed
printf 'secret\n' > src/closed/s.txt
as_user=()
if [[ $(id -u) == 0 ]]; then
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  chmod 755 "$work"
  chown -R nobody src arch
fi
chmod 000 src/closed
status=0
"${as_user[@]}" "$qvbackup" backup src --to arch --name plain --json > out.json 2> err.txt || status=$?
chmod 755 src/closed
python3 - out.json err.txt "$status" <<'PY' || fail "an unreadable source: exit $status: $(cat out.json err.txt)"
import json, sys
a = json.load(open(sys.argv[1]))
said = [l[len("qvbackup: "):] for l in open(sys.argv[2]).read().splitlines() if l.startswith("qvbackup: ")]
assert sys.argv[3] == "1" and a["exit"] == 1, a
assert a["error"] == {"message": said[0], "code": None}, (a, said)
assert said[0] == "backup: plain: 1 file or folder could not be saved (see \"skipped\")", said
assert a["files"] == 2 and [s["path"].endswith("closed") for s in a["skipped"]] == [True], a
PY

# The other commands.
answer 1 2 "missing: The system cannot find the file specified." -- scan missing --json
answer 2 null "scan: --list and --json exclude each other" -- scan src --list --json
answer 1 2 "C:" "a['error']['message'].endswith('missing: The system cannot find the file specified.')" -- \
  count --base missing --json
answer 2 null "count: unknown option '--fast'" -- count --base src --fast --json
answer 2 null "lst: give the list file to write" -- lst --json
answer 2 null "unknown command 'frob'" -- frob --json
answer 2 null "scan: option '--json' takes no value" -- scan src --json=yes

# Damage found: verify's answer is kept, with the error beside it.
cp "$arch" arch/damaged.QVA
python3 -c "
import sys
p = sys.argv[1]; d = bytearray(open(p, 'rb').read()); d[len(d) // 2] ^= 4; open(p, 'wb').write(d)" arch/damaged.QVA
answer 1 null "arch/damaged.QVA: " "a['ok'] is False and (a['damaged'] or a['errors'])" -- \
  verify arch/damaged.QVA --json "${pw[@]}"

# Success: the command's own answer, no error; "--" ends the options, so a
# source named "--json" asks for no JSON.
"$qvbackup" list "$arch" --json "${pw[@]}" > out.json || fail "list --json failed"
python3 -c "
import json, sys
a = json.load(open(sys.argv[1]))
assert sorted(a) == ['files'] and len(a['files']) == 2, a" out.json || fail "list --json: $(cat out.json)"
"$qvbackup" verify --help --json > out.json || fail "verify --help --json failed"
python3 -c "
import json, sys
a = json.load(open(sys.argv[1]))
assert sorted(a) == ['usage'] and a['usage'].startswith('usage: qvbackup verify ARCHIVE'), a" out.json ||
  fail "help: $(cat out.json)"
status=0
"$qvbackup" scan -- --json > out.txt 2> err.txt || status=$?
[[ $status == 1 && ! -s out.txt ]] && grep -q "^qvbackup: --json: " err.txt || fail "scan -- --json: $status $(cat out.txt err.txt)"
# Nor does one taken as another option's value.
status=0
"$qvbackup" scan src --drive --json > out.txt 2> err.txt || status=$?
[[ $status == 2 && ! -s out.txt ]] && grep -q "^qvbackup: scan: malformed --drive '--json'" err.txt ||
  fail "scan --drive --json: $status $(cat out.txt err.txt)"
echo "json answer: all checks passed"
