#!/usr/bin/env bash
# Builds the stub and the packer (Windows and Linux), then packs the bundled sample.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

jobs=$(nproc)
if [ ! -f build/win32/build.ninja ]; then
  cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
if [ ! -f build/native/build.ninja ]; then
  cmake -S . -B build/native -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C build/win32 -j "$jobs"
ninja -C build/native -j "$jobs"
