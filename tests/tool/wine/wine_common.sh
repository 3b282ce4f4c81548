# Sourced by the scripts that run Windows programs under Wine: strict mode,
# a quiet Wine, a work folder removed on exit, fail MESSAGE, and windows
# PATH, the Windows form of a path here (Wine's Z: is the Linux root).
set -euo pipefail
export WINEDEBUG=-all
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
windows() { printf 'Z:%s' "${1//\//\\}"; }
