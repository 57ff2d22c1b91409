#!/usr/bin/env bash
# Every test: native unit tests, the bounded fuzz run, and the end-to-end tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh
# Which stubs the end-to-end tests can run here (the 64-bit one always; the 32-bit one where the
# host executes 32-bit programs).
python3 tests/e2e/winenv.py hosts
ctest --test-dir build/native --output-on-failure -j 2 "$@"
