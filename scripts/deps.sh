#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian machine.
# Idempotent: returns quickly when everything is already there.
set -euo pipefail

# Both Wine loaders: wine64 runs the 64-bit stub on every host; wine32 runs the 32-bit one where
# the kernel still executes 32-bit programs (it installs, but cannot start, where it does not).
# Where it does not, the 32-bit lane boots Debian's kernel in QEMU with a busybox init
# (scripts/emulator.py).
pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev
      g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
      g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
      libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev
      wine wine64 wine32:i386 xvfb xauth imagemagick python3 openssl osslsigncode
      python3-jsonschema python3-yaml
      qemu-system-x86 linux-image-amd64 busybox-static)

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
