#!/usr/bin/env bash
# The main job: build everything, pack the sample screensaver into build/demo/, describe it, then
# install and uninstall it in a private Wine prefix (build/demo/wine/, removed at the end), with the
# 32-bit stub where this host runs 32-bit programs, else with the 64-bit one.
#   --keep   keep the prefix at the end
#   --gui    open the wizard and then the uninstaller for you to click through (needs DISPLAY)
set -euo pipefail
cd "$(dirname "$0")/.."

gui=0
for arg in "$@"; do
  case "$arg" in
    --keep) ;;
    --gui) gui=1 ;;
    -h|--help) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo.sh: unknown option $arg (use --keep, --gui)" >&2; exit 2 ;;
  esac
done
# Before the build: a run that cannot show anything should not cost one.
if [ "$gui" = 1 ] && [ -z "${DISPLAY:-}" ]; then
  echo "demo.sh: --gui needs a display, and DISPLAY is not set" >&2
  exit 2
fi

bash scripts/build.sh
# The 32-bit stub (the default product) where this host runs 32-bit programs, else its 64-bit twin;
# the life cycle then runs under the loader of the installer's architecture.
arch=$(python3 scripts/demo_lifecycle.py --pick-arch)
mkdir -p build/demo
build/native/bin/scrpack build \
  --stub build/$arch/bin/setup.exe \
  --scr build/$arch/bin/Starfield.scr \
  --title "Starfield" \
  --readme samples/readme.txt \
  --license samples/license.txt \
  --lang samples/german.lng \
  --link "https://example.com/starfield" \
  --uninstall-entry --menu-shortcuts --desktop-shortcut \
  -o build/demo/StarfieldSetup.exe
build/native/bin/scrpack info build/demo/StarfieldSetup.exe
echo
echo "Installer written to build/demo/StarfieldSetup.exe (from the stub in build/$arch/bin)"

python3 scripts/demo_lifecycle.py --installer build/demo/StarfieldSetup.exe "$@"
