#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the Windows cross
# build need; does nothing when they are all present.
set -euo pipefail

packages=(
  cmake ninja-build gcc g++ pkg-config
  libgtest-dev googletest libbenchmark-dev
  zlib1g-dev libgcrypt20-dev libgpg-error-dev libpugixml-dev
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev
  wine wine64
  libdeflate-dev
  ntfs-3g sleuthkit mtools
  python3 python3-pytest nlohmann-json3-dev
  rclone openssh-server openssh-client
  clang libclang-rt-14-dev llvm-14 lld-14
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
