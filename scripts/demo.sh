#!/usr/bin/env bash
# The main job: build everything, pack the sample screensaver into build/demo/, describe it, then
# install and uninstall it in a private Wine prefix (build/demo/wine/, removed at the end), with the
# 32-bit stub where this host runs 32-bit programs, else with the 64-bit one.
#   --arch win32|win64   pack this stub; the 32-bit one on a host that does not run 32-bit programs
#                        has its life cycle run in an emulated machine (scripts/emulator.py)
#   --keep               keep the prefix at the end
#   --gui                open the wizard and then the uninstaller for you to click through (needs DISPLAY)
#   --no-build           use the build trees as they are
set -euo pipefail
cd "$(dirname "$0")/.."

gui=0
build=1
arch=""
passed=()
while [ $# -gt 0 ]; do
  case "$1" in
    --keep) passed+=("$1") ;;
    --gui) gui=1; passed+=("$1") ;;
    --no-build) build=0 ;;
    --arch)
      [ $# -ge 2 ] && { [ "$2" = win32 ] || [ "$2" = win64 ]; } || { echo "demo.sh: --arch takes win32 or win64" >&2; exit 2; }
      arch=$2; shift ;;
    -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo.sh: unknown option $1 (use --arch, --keep, --gui, --no-build)" >&2; exit 2 ;;
  esac
  shift
done
# Before the build: a run that cannot show anything should not cost one.
if [ "$gui" = 1 ] && [ -z "${DISPLAY:-}" ]; then
  echo "demo.sh: --gui needs a display, and DISPLAY is not set" >&2
  exit 2
fi

# The 32-bit stub on a host that cannot run it: the life cycle runs in an emulated machine, which
# shows the user no window and keeps nothing.
emulated=""
if [ "$arch" = win32 ] && ! runs=$(python3 tests/e2e/winenv.py runs win32); then
  emulated=${runs#win32: }
  if [ "$gui" = 1 ]; then
    echo "demo.sh: --gui with the 32-bit stub needs a host that runs 32-bit programs, and this one does not" >&2
    exit 2
  fi
fi

[ "$build" = 1 ] && bash scripts/build.sh
# The 32-bit stub (the default product) where this host runs 32-bit programs, else its 64-bit twin;
# the life cycle then runs under the loader of the installer's architecture.
[ -n "$arch" ] || arch=$(python3 scripts/demo_lifecycle.py --pick-arch)
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

lifecycle=(python3 scripts/demo_lifecycle.py --installer build/demo/StarfieldSetup.exe "${passed[@]}")
if [ -n "$emulated" ]; then
  echo
  echo "This host does not run 32-bit programs ($emulated):"
  echo "the life cycle of the 32-bit installer runs in an emulated machine, about ten times slower."
  [[ " ${passed[*]} " == *" --keep "* ]] && echo "(--keep: the prefix stays in the machine's memory, which ends with it)"
  exec python3 scripts/emulator.py --env E2E_TIME_SCALE=10 --env E2E_EMULATED=1 -- "${lifecycle[@]}"
fi
exec "${lifecycle[@]}"
