#!/usr/bin/env bash
# The installed package as a host and a user meet it: cmake --install into
# a prefix, the prefix moved elsewhere, then a C++ host built against it
# with find_package and with pkg-config (its headers need nothing but the
# package gives), each saving and restoring a file; a C host (C89) of the C
# interface, both ways; every declared qvb_ function exported by name; the installed
# qvbackup run from another folder, finding its library and GpExt.xml.
#   package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/first" > "$work/install.log" 2>&1 || fail "install: $(cat "$work/install.log")"
mv "$work/first" "$work/prefix"
prefix=$work/prefix
for f in bin/qvbackup bin/GpExt.xml include/qvbackup/qvbackupcontrol.h lib/pkgconfig/qvbackupengine.pc \
  lib/cmake/QVBackupEngine/QVBackupEngineConfig.cmake lib/cmake/QVBackupEngine/QVBackupEngineConfigVersion.cmake; do
  [[ -e $prefix/$f ]] || fail "not installed: $f ($(cd "$prefix" && find . | sort | tr '\n' ' '))"
done
ls "$prefix"/lib/libQVBackupEngine.so.* > /dev/null 2>&1 || fail "no shared library installed"

mkdir -p "$work/src" "$work/arch" "$work/back"
head -c 100000 /dev/urandom > "$work/src/data.bin"

# find_package, with no language standard asked for: the package brings C++20.
cmake -S "$source_dir/tests/package/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release > "$work/configure.log" 2>&1 || fail "find_package: $(cat "$work/configure.log")"
cmake --build "$work/cmake-build" > "$work/build.log" 2>&1 || fail "the find_package build: $(cat "$work/build.log")"
env -u LD_LIBRARY_PATH "$work/cmake-build/qv_consumer" "$work/src/data.bin" "$work/arch" "$work/back" \
  > "$work/run.log" 2>&1 || fail "the find_package host: $(cat "$work/run.log")"

# The C host, from the same build.
version=$("$prefix/bin/qvbackup" --version | awk '{print $2}')
drive_path="C:$(printf '%s' "$work/src" | tr '/' '\\')"
mkdir -p "$work/c-arch" "$work/c-back"
env -u LD_LIBRARY_PATH "$work/cmake-build/qv_consumer_c" "$version" "$work/src" "$drive_path" \
  "$work/c-arch" "$work/c-back" > "$work/run.log" 2>&1 || fail "the C host: $(cat "$work/run.log")"
cmp "$work/src/data.bin" "$work/c-back/Kelvar_C$work/src/data.bin" || fail "the C host's restore differs"

# The Python package as installed, finding the library from where it lies.
site=$prefix/lib/python3/site-packages
[[ -f $site/qvbackup/__init__.py ]] || fail "the Python package is not installed"
rm -rf "$work/py-arch" "$work/py-back" && mkdir -p "$work/py-arch"
(cd "$work" && env -u LD_LIBRARY_PATH -u QVBACKUP_LIBRARY PYTHONPATH="$site" python3 - "$work" <<'PYTHON'
import filecmp, sys
import qvbackup
work = sys.argv[1]
result = qvbackup.backup([work + "/src"], to=work + "/py-arch", name="py")
assert result.files >= 1, result
names = [item["path"] for item in qvbackup.list(result.archive)]
assert any(name.endswith("data.bin") for name in names), names
qvbackup.restore(result.archive, to=work + "/py-back", patterns=["data.bin"])
assert filecmp.cmp(work + "/src/data.bin", work + "/py-back/Kelvar_C" + work + "/src/data.bin", shallow=False)
assert qvbackup.verify(result.archive)["ok"]
PYTHON
) > "$work/py.log" 2>&1 || fail "the installed Python package: $(cat "$work/py.log")"

# Every qvb_ function the header declares is exported under its own name,
# and no other qvb_ name is.
declared=$(grep -oE '^QVB_API [^(]*[ *](qvb_[a-z0-9_]+)\(' "$prefix/include/qvbackup/qvbackup.h" |
  grep -oE 'qvb_[a-z0-9_]+\($' | tr -d '(' | sort)
[[ -n $declared ]] || fail "the header declares no qvb_ function"
exported=$(nm -D --defined-only "$prefix"/lib/libQVBackupEngine.so | awk '$2 == "T" && $3 ~ /^qvb_/ {print $3}' | sort)
[[ $exported == "$declared" ]] || fail "exported qvb_ names [$exported] are not the declared ones [$declared]"

# pkg-config.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
libdir=$(pkg-config --variable=libdir qvbackupengine)
[[ $(cd "$libdir" && pwd -P) == $(cd "$prefix/lib" && pwd -P) ]] || fail "pkg-config's libdir $libdir is not the moved prefix's"
rm -rf "$work/arch" "$work/back" && mkdir -p "$work/arch" "$work/back"
# shellcheck disable=SC2046
g++ -std=c++20 -o "$work/pc_consumer" "$source_dir/tests/package/consumer/consumer.cc" \
  $(pkg-config --cflags --libs qvbackupengine) -Wl,-rpath,"$libdir" 2> "$work/pc.log" || fail "the pkg-config build: $(cat "$work/pc.log")"
env -u LD_LIBRARY_PATH "$work/pc_consumer" "$work/src/data.bin" "$work/arch" "$work/back" > "$work/run.log" 2>&1 ||
  fail "the pkg-config host: $(cat "$work/run.log")"

# shellcheck disable=SC2046
gcc -std=c89 -pedantic-errors -Wall -Werror -o "$work/pc_consumer_c" "$source_dir/tests/package/consumer/consumer_c.c" \
  $(pkg-config --cflags --libs qvbackupengine) -Wl,-rpath,"$libdir" 2> "$work/pc.log" ||
  fail "the pkg-config C build: $(cat "$work/pc.log")"
env -u LD_LIBRARY_PATH "$work/pc_consumer_c" "$version" "$work/src" "$drive_path" > "$work/run.log" 2>&1 ||
  fail "the pkg-config C host: $(cat "$work/run.log")"

# The installed program, from another folder, after the move.
mkdir -p "$work/elsewhere" && cd "$work/elsewhere"
printf 'a picture\n' > "$work/src/photo.jpg"
env -u LD_LIBRARY_PATH "$prefix/bin/qvbackup" backup "$work/src" --to "$work/arch" --name installed --quiet > /dev/null ||
  fail "the installed qvbackup cannot back up"
env -u LD_LIBRARY_PATH "$prefix/bin/qvbackup" restore "$work/arch/installed.QVA" --to "$work/r" --quiet > /dev/null ||
  fail "the installed qvbackup cannot restore"
diff -r "$work/src" "$work/r/Kelvar_C$work/src" || fail "the installed qvbackup restored other files"
env -u LD_LIBRARY_PATH "$prefix/bin/qvbackup" count --base "$work/src" --json > "$work/count.json" || fail "count"
python3 -c "import json,sys; r=json.load(open(sys.argv[1])); p=[c for c in r['categories'] if c['name']=='Pictures']; assert p and p[0]['files']==1, r" \
  "$work/count.json" || fail "the installed qvbackup does not read GpExt.xml: $(cat "$work/count.json")"
echo "package: all checks passed"
