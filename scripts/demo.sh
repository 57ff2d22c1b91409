#!/usr/bin/env bash
# The main job: build everything, pack the sample screensaver into build/demo/ and describe it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh
mkdir -p build/demo
build/native/bin/scrpack build \
  --stub build/win32/bin/setup.exe \
  --scr build/win32/bin/Starfield.scr \
  --title "Starfield" \
  --readme samples/readme.txt \
  --license samples/license.txt \
  --lang samples/german.lng \
  --link "https://example.com/starfield" \
  --uninstall-entry --menu-shortcuts --desktop-shortcut \
  -o build/demo/StarfieldSetup.exe
build/native/bin/scrpack info build/demo/StarfieldSetup.exe
echo
echo "Installer written to build/demo/StarfieldSetup.exe"
