#!/usr/bin/env bash
# Archives of every kind, truncated at every block boundary and at seeded
# random points, with seeded random bytes flipped in every region: verify
# and restore never crash, hang or write outside the restore folder, and
# what they report matches the damage (archive_damage.py says how).
#   archive_damage_test.sh QVBACKUP
source "$(dirname "$0")/common.sh"
python3 "$(dirname "$0")/archive_damage.py" "$qvbackup" "$work" || fail "see above"
