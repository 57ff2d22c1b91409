#!/usr/bin/env bash
# The main job: build everything, pack the sample screensaver into build/demo/, describe it, then
# install and uninstall it in a private Wine prefix (build/demo/wine/, removed at the end).
#   --keep   keep the prefix at the end
#   --gui    open the wizard and then the uninstaller for you to click through (needs DISPLAY)
set -euo pipefail
cd "$(dirname "$0")/.."

gui=0
for arg in "$@"; do
  case "$arg" in
    --keep) ;;
    --gui) gui=1 ;;
    -h|--help) sed -n '2,5p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo.sh: unknown option $arg (use --keep, --gui)" >&2; exit 2 ;;
  esac
done
# Before the build: a run that cannot show anything should not cost one.
if [ "$gui" = 1 ] && [ -z "${DISPLAY:-}" ]; then
  echo "demo.sh: --gui needs a display, and DISPLAY is not set" >&2
  exit 2
fi

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

python3 scripts/demo_lifecycle.py --installer build/demo/StarfieldSetup.exe "$@"
