#!/usr/bin/env python3
"""Runs end-to-end test modules under Wine: run.py [test_module ...] (default: every test_*.py).

E2E_ARCH chooses the architecture (win64, the default, or win32). Exits 1 when setup.exe or
wintest.exe has not been built, and 77 (skipped) with the reason when this host cannot run the
architecture (only ever the 32-bit one: a host that cannot run the 64-bit one fails).
"""
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import winenv  # noqa: E402


def main(argv):
    arch = winenv.arch()
    missing = winenv.missing_programs()
    if missing:
        print(f"{arch}: {', '.join(missing)} not built in {winenv.bin_dir()} (run scripts/build.sh)")
        return 1
    why = winenv.unavailable()
    if why:
        print(f"{arch}: {why}")
        if arch == "win64":
            return 1
        print(f"skipped: the {arch} end-to-end tests do not run on this host; the test command runs the "
              "32-bit lane in an emulated machine instead (e2e.win32.emulated)")
        return winenv.SKIP_RETURN_CODE
    print(f"end-to-end tests of the {arch} stub in {winenv.bin_dir()}")
    loader = unittest.defaultTestLoader
    suite = loader.loadTestsFromNames(argv) if argv else loader.discover(HERE, "test_*.py", top_level_dir=HERE)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
