#!/usr/bin/env bash
# A password typed at the terminal for a backup is asked twice: two answers
# that differ write nothing and exit 1; the same answer twice makes an
# archive that password opens.
#   password_prompt_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
mkdir -p "$work/src"
echo "content" > "$work/src/a.txt"
# answer ANSWER... -- COMMAND...: COMMAND on a terminal, each answer typed
# at its prompt; what the terminal showed, then "exit N".
answer() { python3 "$(dirname "$0")/terminal.py" "$@"; }
shown=$(answer "first pw" "other pw" -- "$qvbackup" backup "$work/src" --to "$work/arch" --name p --key-bits 256 --quiet)
grep -q "^Password for p: " <<< "$shown" || fail "no prompt: $shown"
grep -q "The same password again: " <<< "$shown" || fail "no second prompt: $shown"
grep -q "the two passwords typed differ" <<< "$shown" || fail "differing answers not told: $shown"
grep -q "^exit 1$" <<< "$shown" || fail "differing answers: $shown"
grep -q "pw" <<< "$shown" && fail "a password was echoed: $shown"
[[ ! -e $work/arch/p.QVA ]] || fail "differing answers wrote an archive"

shown=$(answer "same pw" "same pw" -- "$qvbackup" backup "$work/src" --to "$work/arch" --name p --key-bits 256 --quiet)
grep -q "^exit 0$" <<< "$shown" || fail "the same answer twice: $shown"
printf 'same pw\n' > "$work/pw"
"$qvbackup" list "$work/arch/p.QVA" --password-file "$work/pw" > "$work/list.txt" 2>&1 ||
  fail "the typed password does not open the archive: $(cat "$work/list.txt")"
grep -q 'a\.txt' "$work/list.txt" || fail "list: $(cat "$work/list.txt")"
