#!/usr/bin/env bash
# Every test: native unit tests, the bounded fuzz run, and the end-to-end tests under Wine; where
# this host refuses 32-bit programs, then the 32-bit lane in an emulated machine.
#   --win32-all   instead: every 32-bit end-to-end module (in the emulated machine where needed)
# Other arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh
# Which stubs the end-to-end tests can run here (the 64-bit one always; the 32-bit one where the
# host executes 32-bit programs).
python3 tests/e2e/winenv.py hosts
if [ "${1:-}" = "--win32-all" ]; then
  exec python3 tests/e2e/emulated.py all
fi
# CTest runs each unit test in a process of its own; once more all in one process, so that a
# test leaning on what an earlier one left in the stand-in shows.
build/native/bin/unit_tests --gtest_brief=1
ctest --test-dir build/native --output-on-failure -j 2 -LE emulated "$@"
# The emulated machine takes both processors: alone, after the rest.
ctest --test-dir build/native --output-on-failure -V -L emulated "$@"
