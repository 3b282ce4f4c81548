#!/usr/bin/env bash
# The installed Windows package: the DLL, its import library, qvbackup.exe
# and qvsfx.exe side by side, their debug information apart (none left in
# the DLL), every qvb_ function of the C interface exported by its name, a
# C host (C89) built against the import library and run beside the DLL, and
# the installed qvbackup.exe backing up and restoring under Wine from
# another folder.
#   windows_package_test.sh BUILD_DIR WINE OBJDUMP CXX_COMPILER SOURCE_DIR
set -euo pipefail
export WINEDEBUG=-all
build=$1
wine=$2
objdump=$3
cc=$(dirname "$4")/$(basename "$4" | sed 's/g++/gcc/')
source_dir=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "windows package test: $*" >&2; exit 1; }
windows() { printf 'Z:%s' "${1//\//\\}"; }

cmake --install "$build" --prefix "$work/prefix" > "$work/install.log" 2>&1 || fail "install: $(cat "$work/install.log")"
bin=$work/prefix/bin
for f in bin/QVBackupEngine.dll bin/qvbackup.exe bin/qvsfx.exe bin/GpExt.xml bin/QVBackupEngine.dll.debug \
  lib/libQVBackupEngine.dll.a lib/cmake/QVBackupEngine/QVBackupEngineConfig.cmake include/qvbackup/qvstorage.h; do
  [[ -e $work/prefix/$f ]] || fail "not installed: $f ($(cd "$work/prefix" && find . -type f | sort | tr '\n' ' '))"
done
"$objdump" -h "$bin/QVBackupEngine.dll" > "$work/sections"
! grep -q '\.debug_info' "$work/sections" || fail "the installed DLL still carries its debug information"
grep -q '\.gnu_debuglink' "$work/sections" || fail "the installed DLL does not name its debug file"
(($(stat -c %s "$bin/QVBackupEngine.dll") < $(stat -c %s "$bin/QVBackupEngine.dll.debug"))) ||
  fail "the DLL is not smaller than its debug information"

mkdir -p "$work/src"
declared=$(grep -oE '^QVB_API [^(]*[ *](qvb_[a-z0-9_]+)\(' "$work/prefix/include/qvbackup/qvbackup.h" |
  grep -oE 'qvb_[a-z0-9_]+\($' | tr -d '(' | sort)
exported=$("$objdump" -p "$bin/QVBackupEngine.dll" | grep -oE '\] qvb_[a-z0-9_]+$' | cut -c3- | sort)
[[ -n $declared && $exported == "$declared" ]] ||
  fail "the DLL exports qvb_ names [$exported], the header declares [$declared]"
"$cc" -std=c89 -pedantic-errors -Wall -Werror -o "$bin/qv_consumer_c.exe" "$source_dir/tests/package/consumer/consumer_c.c" \
  -I"$work/prefix/include" -L"$work/prefix/lib" -lQVBackupEngine 2> "$work/cc.log" || fail "the C host: $(cat "$work/cc.log")"
version=$("$wine" "$bin/qvbackup.exe" --version < /dev/null | tr -d '\r' | awk '{print $2}')
head -c 70000 /dev/urandom > "$work/src/data.bin"
mkdir -p "$work/c-arch" "$work/c-back"
"$wine" "$bin/qv_consumer_c.exe" "$version" "$(windows "$work/src")" "$(windows "$work/src")" \
  "$(windows "$work/c-arch")" "$(windows "$work/c-back")" < /dev/null \
  > "$work/out" 2>&1 || fail "the C host under Wine: $(cat "$work/out")"
restored=$(find "$work/c-back" -name data.bin)
[[ -n $restored ]] && cmp "$work/src/data.bin" "$restored" || fail "the C host's restore under Wine differs"
rm "$work/src/data.bin"

# The module definition file and the import library for other compilers'
# linkers: the qvb_ names alone, and a host linked by lld-link (the MSVC
# linker's kind) with nothing but QVBackupEngine.lib.
in_def=$(awk '/^ +qvb_/ {print $1}' "$work/prefix/lib/QVBackupEngine.def" | sort)
[[ $in_def == "$declared" ]] || fail "QVBackupEngine.def lists [$in_def], the header declares [$declared]"
[[ -f $work/prefix/lib/QVBackupEngine.lib ]] || fail "no QVBackupEngine.lib installed"
lld_link=$(command -v lld-link || command -v lld-link-14 || true)
[[ -n $lld_link ]] || fail "lld-link is not installed (Debian package lld-14)"
"$cc" -c -O1 -fno-stack-protector -fno-asynchronous-unwind-tables -I"$work/prefix/include" \
  -o "$work/link_host.o" "$source_dir/tests/package/consumer/link_host.c" 2> "$work/cc.log" ||
  fail "the link host: $(cat "$work/cc.log")"
"$lld_link" /nologo /entry:host_entry /subsystem:console /nodefaultlib "$work/link_host.o" \
  "$work/prefix/lib/QVBackupEngine.lib" /out:"$bin/link_host.exe" > "$work/link.log" 2>&1 ||
  fail "lld-link with QVBackupEngine.lib: $(cat "$work/link.log")"
status=0
"$wine" "$bin/link_host.exe" < /dev/null > "$work/out" 2>&1 || status=$?
((status == 0)) || fail "the host linked with QVBackupEngine.lib answered $status: $(cat "$work/out")"

mkdir -p "$work/src/docs" "$work/arch" "$work/elsewhere"
head -c 50000 /dev/urandom > "$work/src/docs/data.bin"
printf 'text\n' > "$work/src/a.txt"
cd "$work/elsewhere"
"$wine" "$bin/qvbackup.exe" backup "$(windows "$work/src")" --to "$(windows "$work/arch")" --name win --quiet \
  < /dev/null > "$work/out" 2>&1 || fail "the installed qvbackup.exe cannot back up: $(cat "$work/out")"
"$wine" "$bin/qvbackup.exe" restore "$(windows "$work/arch/win.QVA")" --to "$(windows "$work/back")" --quiet \
  < /dev/null > "$work/out" 2>&1 || fail "the installed qvbackup.exe cannot restore: $(cat "$work/out")"
restored=$(find "$work/back" -name data.bin | head -n 1)
[[ -n $restored ]] && cmp -s "$restored" "$work/src/docs/data.bin" || fail "restored: $(cd "$work/back" && find . -type f)"
echo "windows package: all checks passed"
