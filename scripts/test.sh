#!/usr/bin/env bash
# Every test: native unit tests, the bounded fuzz run, and the end-to-end tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh
ctest --test-dir build/native --output-on-failure -j 2 "$@"
