#!/usr/bin/env bash
# Builds the stub and the packer (Windows and Linux), then packs the bundled sample.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

jobs=$(nproc)
# The stub for 32-bit Windows (the default product) and its 64-bit twin, from the same sources.
for arch in win32:i686 win64:x86_64; do
  tree=build/${arch%%:*}
  if [ ! -f $tree/build.ninja ]; then
    cmake -S . -B $tree -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-${arch#*:}.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
done
if [ ! -f build/native/build.ninja ]; then
  cmake -S . -B build/native -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C build/win32 -j "$jobs"
ninja -C build/win64 -j "$jobs"
ninja -C build/native -j "$jobs"
