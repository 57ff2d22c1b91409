#!/usr/bin/env python3
"""Runs end-to-end test modules under Wine: run.py [test_module ...] (default: every test_*.py).

Exits 77 (skipped) when setup.exe or wintest.exe has not been built.
"""
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import winenv  # noqa: E402


def main(argv):
    missing = winenv.missing_programs()
    if missing:
        print(f"skipped: {', '.join(missing)} not built in {winenv.bin_dir()}")
        return winenv.SKIP_RETURN_CODE
    loader = unittest.defaultTestLoader
    suite = loader.loadTestsFromNames(argv) if argv else loader.discover(HERE, "test_*.py", top_level_dir=HERE)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
