# Sourced by each tests/tool/NAME_test.sh, which CTest runs as
#   bash NAME_test.sh QVBACKUP DATA_FOLDER
# Sets qvbackup and data, a work folder removed on exit (a script may set a
# trap of its own that removes it too), and fail MESSAGE, which names the test.
set -euo pipefail
qvbackup=$1
data=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
test_name=$(basename "$0" _test.sh)
fail() { echo "${test_name//_/ } test: $*" >&2; exit 1; }
