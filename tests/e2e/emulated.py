#!/usr/bin/env python3
"""The 32-bit stub on hosts whose kernel refuses 32-bit programs: its end-to-end tests inside an
emulated machine that runs them (scripts/emulator.py).

    emulated.py lane    the 32-bit lane: the cases that prove what differs between the
                        architectures, and the demo's silent life cycle with the 32-bit stub
    emulated.py all     every 32-bit end-to-end module

Where the host runs 32-bit programs itself, the e2e.win32 suites run natively: `lane` then says
so and reports skipped (77), and `all` runs the modules here. Exit code 0 when everything
passed, 1 when something failed, 125 when the emulated machine could not run.
"""
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(ROOT, "scripts"))

import emulator  # noqa: E402
import winenv  # noqa: E402

# Programs run about 5 to 10 times slower in the emulated machine: every wait for Wine grows so
# much (a wait only lasts as long as what it waits for, unless that fails).
TIME_SCALE = "10"

# What differs between the architectures, each proven once.
LANE = [
    # The stub's own entry point and static constructors: the bare stub's box, its silent end.
    "test_stub",
    "test_package.PackageTest.test_damaged_image_ends_silently_with_silent",
    # The binder of the functions imported when first called: present, missing function, missing DLL.
    "test_sysroutines.DelayLoadTest",
    # The PE32 reading of the running image and of a signed package.
    "test_sysroutines.SysRoutinesTest.test_the_program_file_is_told_by_more_than_its_headers",
    "test_signed.CertificateTableTest.test_silent_install_takes_only_the_signed_package",
    # The wizard's window, controls, shell links and COM, driven as a user does.
    "test_install.WizardInstallTest.test_install_through_the_wizard",
    # The folders and registry of a 32-bit Windows, and of a 64-bit one (WoW64).
    "test_lifecycle.LifecycleTest.test_native_folders_and_registry_view",
    "test_lifecycle.LifecycleTest.test_32bit_stub_on_64bit_windows",
    # The access list and owner of a folder read ACE by ACE (its structures differ in width), and
    # a running screensaver's file renamed aside by an upgrade.
    "test_install.ForeignFolderTest.test_silent_runs",
    "test_upgrade.InUseTest.test_upgrade_of_a_running_screensaver",
]


def modules():
    return sorted(name[:-3] for name in os.listdir(HERE)
                  if name.startswith("test_") and name.endswith(".py") and name != "test_image.py")


def step(name, command, env):
    """Runs one part, with its time; True when it passed."""
    print(f"\n== {name}: {' '.join(command)}", flush=True)
    started = time.monotonic()
    code = subprocess.run(command, cwd=ROOT, env=env, stdin=subprocess.DEVNULL).returncode
    print(f"== {name}: {'passed' if code == 0 else f'FAILED (exit code {code})'} in {time.monotonic() - started:.0f} s",
          flush=True)
    return code == 0


def inside(what):
    """The tests themselves, in a machine that runs 32-bit programs."""
    ok, why = winenv.runnable("win32")
    if not ok:
        print(f"win32: {why}")
        return 1
    print(f"win32 {'in the emulated machine' if os.environ.get('E2E_EMULATED') else 'on this host'}: {why}",
          flush=True)
    env = dict(os.environ, E2E_ARCH="win32", PYTHONDONTWRITEBYTECODE="1")
    run = [sys.executable, os.path.join(HERE, "run.py")]
    results = {}
    if what == "lane":
        results["32-bit lane"] = step("32-bit lane", run + LANE, env)
        results["demo"] = step("demo", ["bash", "scripts/demo.sh", "--arch", "win32", "--no-build"], env)
    else:
        for module in modules():
            results[module] = step(module, run + [module], env)
    print("\n" + "\n".join(f"{'passed' if ok else 'FAILED'}  {name}" for name, ok in results.items()))
    return 0 if all(results.values()) else 1


def main(argv):
    if len(argv) != 1 or argv[0] not in ("lane", "all", "inside-lane", "inside-all"):
        print(__doc__, file=sys.stderr)
        return 2
    what = argv[0]
    if what.startswith("inside-"):
        return inside(what[len("inside-"):])
    ok, why = winenv.runnable("win32")
    if ok:
        if what == "lane":
            print(f"skipped: this host runs 32-bit programs ({why}); the e2e.win32 suites run here natively")
            return winenv.SKIP_RETURN_CODE
        return inside(what)
    print(f"win32: this host does not run 32-bit programs ({why}): the 32-bit "
          f"{'lane runs' if what == 'lane' else 'suites run'} in an emulated machine", flush=True)
    started = time.monotonic()
    code = emulator.run([sys.executable, os.path.abspath(__file__), "inside-" + what], cwd=ROOT,
                        timeout=7200 if what == "all" else 2400,
                        env=[("E2E_TIME_SCALE", TIME_SCALE), ("E2E_EMULATED", "1"), ("CI", os.environ.get("CI", ""))]
                        + [(k, v) for k, v in os.environ.items() if k.startswith("E2E_") and k != "E2E_STATE"])
    print(f"32-bit {what} in the emulated machine: exit code {code}, {time.monotonic() - started:.0f} s")
    return code


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
