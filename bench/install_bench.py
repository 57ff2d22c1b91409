#!/usr/bin/env python3
"""Silent and wizard installations of a large screensaver under Wine, against a plain `copy /b` of the
same bytes.

The silent installation and the copy are timed around the whole `wine` command, so both include Wine's
process start-up, which is timed on its own as well (`wine cmd /c exit`). The wizard installation is
timed inside Wine by the test driver, from its click on Install to the setup's end (so without the
setup's start-up, but with its hand-off to the screen-saver settings and its exit); it is set against the
copy of the same round, and against that copy less the round's Wine start-up. The installer's peak memory (VmHWM) is sampled from /proc
while it runs silently, for the large payload and for a small one.

The stub, the prefix, the Wine loader and cmd.exe are of one architecture: win32 where this host
runs 32-bit programs, else win64 (or as --arch says; `--arch both` measures one after the other).

    python3 bench/install_bench.py [--arch win32|win64|both] [--size-mb 200] [--small-mb 20] [--runs 5] [--json]

Needs build/native/bin/scrpack and build/<arch>/bin/setup.exe. Works in build/bench/ and removes its
files and its Wine prefix at the end.
"""

import argparse
import contextlib
import json
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "e2e"))
import winenv  # noqa: E402
from benchprefix import (BenchPrefix, add_arch_option, chosen_arches,  # noqa: E402
                         run_and_report, wine_version)

MIB = 1 << 20
TITLE = "Bench"
SCR_NAME = "Bench.scr"
TIMEOUT = 600
POLL_SECONDS = 0.02


class Bench(BenchPrefix):
    def __init__(self, run_dir, arch):
        # The wizard needs a display.
        super().__init__(run_dir, display=True, arch=arch)

    def start(self):
        super().start()
        # The first start of a fresh prefix brings up its services: not part of any figure.
        self.wine(["cmd", "/c", "exit"])

    def wine(self, args, sample=None):
        """Runs `args` under the prefix's loader; returns (exit code, seconds, stderr). `sample` watches
        the process meanwhile."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            started = time.monotonic()
            proc = subprocess.Popen([self.loader] + args, env=self.env, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err)
            watcher = None
            if sample is not None:
                watcher = threading.Thread(target=sample.watch, args=(proc.pid,), daemon=True)
                watcher.start()
            try:
                code = proc.wait(timeout=TIMEOUT)
            finally:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()
            seconds = time.monotonic() - started
            if watcher is not None:
                sample.done.set()
                watcher.join()
            err.seek(0)
            return code, seconds, err.read().decode("utf-8", "replace")

    def write_installer(self, name, scr_path, folder="default"):
        cmd = [os.path.join(SOURCE_DIR, "build", "native", "bin", "scrpack"), "build",
               "--stub", stub_path(self.arch), "--scr", scr_path, "--scr-name", SCR_NAME,
               "--title", TITLE, "--uninstall-entry", "--base-dir", "C:\\bench", "--sub-dir", folder,
               "-o", self.host(name)]
        done = subprocess.run(cmd, capture_output=True, text=True, timeout=TIMEOUT)
        if done.returncode != 0:
            raise RuntimeError(f"scrpack failed ({done.returncode}): {done.stdout}{done.stderr}")
        if winenv.image_arch(self.host(name)) != self.arch:
            raise RuntimeError(f"{stub_path(self.arch)} is built for {winenv.image_arch(self.host(name))}, not {self.arch}")
        with open(self.host(name), "rb+") as f:
            flush_to_disk(f)
        return "C:\\bench\\" + name


class PeakMemory:
    """The highest VmHWM and VmRSS of the prefix's setup.exe process while one command runs."""

    def __init__(self, prefix):
        self.prefix_marker = b"WINEPREFIX=" + os.fsencode(prefix) + b"\0"
        self.hwm_kib = 0
        self.rss_kib = 0
        self.done = threading.Event()

    def _is_setup(self, pid):
        # Other prefixes (the end-to-end tests') may run a setup.exe at the same time.
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if b"setup.exe" not in f.read():
                    return False
            with open(f"/proc/{pid}/environ", "rb") as f:
                return self.prefix_marker in f.read()
        except OSError:
            return False

    def _find(self, launched_pid):
        if self._is_setup(launched_pid):
            return launched_pid
        for entry in os.listdir("/proc"):
            if entry.isdigit() and self._is_setup(int(entry)):
                return int(entry)
        return None

    def watch(self, launched_pid):
        pid = None
        while not self.done.is_set():
            if pid is None or not self._is_setup(pid):
                pid = self._find(launched_pid)
            if pid is not None:
                with contextlib.suppress(OSError):
                    with open(f"/proc/{pid}/status") as f:
                        for line in f:
                            if line.startswith(("VmHWM:", "VmRSS:")):
                                kib = int(line.split()[1])
                                if line.startswith("VmHWM:"):
                                    self.hwm_kib = max(self.hwm_kib, kib)
                                else:
                                    self.rss_kib = max(self.rss_kib, kib)
            self.done.wait(POLL_SECONDS)


def stub_path(arch):
    return os.path.join(winenv.bin_dir(arch), "setup.exe")


def write_random(path, size):
    with open(path, "wb") as f:
        left = size
        while left:
            chunk = min(left, 8 * MIB)
            f.write(os.urandom(chunk))
            left -= chunk
        flush_to_disk(f)


def flush_to_disk(f):
    # Written back now rather than during the timed runs.
    f.flush()
    os.fsync(f.fileno())


def install(bench, setup_win, folder, size, failures, label):
    """One silent installation into C:\\bench\\<folder>; its seconds and peak memory, or None if it failed."""
    sample = PeakMemory(bench.prefix)
    code, seconds, stderr = bench.wine([setup_win, "-silent", "C:\\bench\\" + folder], sample)
    installed = os.path.join(bench.host(folder), SCR_NAME)
    got = os.path.getsize(installed) if os.path.isfile(installed) else None
    if code != 0 or got != size:
        listing = sorted(os.listdir(bench.host(folder))) if os.path.isdir(bench.host(folder)) else None
        failures.append({"run": label, "exit_code": code, "installed_size": got, "expected_size": size,
                         "folder": listing, "stderr": stderr[-1000:]})
        return None
    # Gone before the next run, so that its dirty pages are not written back during it.
    os.unlink(installed)
    return seconds, sample


def wizard_install(bench, setup_win, size, failures, label):
    """One installation through the wizard into C:\\bench\\wizard, its default folder: the seconds from
    the driver's click on Install to the end of the setup (without a readme the wizard closes once the
    installation is done), or None if it failed."""
    script = os.path.join(bench.bench_dir, "wizard.txt")
    with open(script, "w", encoding="utf-8") as f:
        f.write("\n".join([f"start {setup_win}", "wait-window TSCRSetup *", "wait-state Install enabled 30000",
                           "mark", "click Install", f"wait-exit {TIMEOUT * 1000}", "mark"]) + "\n")
    wintest = os.path.join(winenv.bin_dir(bench.arch), "wintest.exe")
    done = subprocess.run([bench.loader, wintest, "run", str(TIMEOUT * 1000), "--script", "C:\\bench\\wizard.txt"],
                          env=bench.env, stdin=subprocess.DEVNULL, capture_output=True, timeout=TIMEOUT + 60)
    steps = [json.loads(line) for line in done.stdout.decode("utf-8", "replace").splitlines() if line.startswith("{")]
    marks = [s["us"] for s in steps if s.get("step") == "mark"]
    installed = os.path.join(bench.host("wizard"), SCR_NAME)
    got = os.path.getsize(installed) if os.path.isfile(installed) else None
    if len(marks) != 2 or got != size or any(not s.get("ok", True) for s in steps):
        failures.append({"run": label, "exit_code": done.returncode, "installed_size": got, "expected_size": size,
                         "folder": None, "stderr": (done.stdout + done.stderr).decode("utf-8", "replace")[-1000:]})
        return None
    os.unlink(installed)
    return (marks[1] - marks[0]) / 1e6


def summary(values):
    return {"min": min(values), "median": statistics.median(values), "all": values} if values else None


def run(args, arch):
    size = args.size_mb * MIB
    small_size = args.small_mb * MIB
    run_dir = os.path.join(SOURCE_DIR, "build", "bench", f"install-{arch}-{os.getpid()}")
    bench = Bench(run_dir, arch)
    failures = []
    baseline, installs, copies, ratios = [], [], [], []
    wizards, wizard_ratios, wizard_net_ratios = [], [], []
    memory = {"large": [0, 0], "small": [0, 0]}
    try:
        bench.start()
        payload = bench.host("payload.scr")
        write_random(payload, size)
        setup_win = bench.write_installer("setup.exe", payload)
        small_payload = bench.host("small.scr")
        write_random(small_payload, small_size)
        small_setup_win = bench.write_installer("small-setup.exe", small_payload)
        wizard_setup_win = bench.write_installer("wizard-setup.exe", payload, folder="wizard")
        os.unlink(small_payload)

        def keep_memory(key, sample):
            memory[key] = [max(memory[key][0], sample.hwm_kib), max(memory[key][1], sample.rss_kib)]

        # Also the warm-up of the setup's own DLLs before anything is timed.
        for i in range(args.runs):
            done = install(bench, small_setup_win, f"small{i}", small_size, failures, f"small install {i}")
            if done:
                keep_memory("small", done[1])

        for i in range(args.runs):
            code, seconds, stderr = bench.wine(["cmd", "/c", "exit"])
            if code != 0:
                raise RuntimeError(f"wine cmd /c exit ended with {code}: {stderr[-1000:]}")
            baseline.append(seconds)
            wizard_seconds = wizard_install(bench, wizard_setup_win, size, failures, f"wizard install {i}")

            def do_install():
                done = install(bench, setup_win, f"target{i}", size, failures, f"install {i}")
                if done:
                    keep_memory("large", done[1])
                return done and done[0]

            def do_copy():
                name = f"copy{i}.scr"
                code, seconds, stderr = bench.wine(["cmd", "/c", "copy", "/b", "C:\\bench\\payload.scr",
                                                    "C:\\bench\\" + name])
                got = os.path.getsize(bench.host(name)) if os.path.isfile(bench.host(name)) else None
                if code != 0 or got != size:
                    raise RuntimeError(f"copy {i}: exit code {code}, size {got} of {size}: {stderr[-1000:]}")
                os.unlink(bench.host(name))
                return seconds

            # Alternating which goes first, so that neither always follows the other's writes.
            if i % 2 == 0:
                install_seconds, copy_seconds = do_install(), do_copy()
            else:
                copy_seconds, install_seconds = do_copy(), do_install()
            copies.append(copy_seconds)
            if install_seconds:
                installs.append(install_seconds)
                ratios.append(install_seconds / copy_seconds)
            if wizard_seconds:
                wizards.append(wizard_seconds)
                wizard_ratios.append(wizard_seconds / copy_seconds)
                wizard_net_ratios.append(wizard_seconds / (copy_seconds - seconds))
    finally:
        bench.stop()

    return {
        "arch": arch,
        "wine": wine_version(arch),
        "loader": bench.loader,
        "payload_bytes": size,
        "small_payload_bytes": small_size,
        "runs": args.runs,
        "seconds": {"baseline": summary(baseline), "install": summary(installs), "copy": summary(copies),
                    "wizard": summary(wizards)},
        "install_over_copy": summary(ratios),
        "wizard_over_copy": summary(wizard_ratios),
        "wizard_over_copy_less_startup": summary(wizard_net_ratios),
        "peak_memory_kib": {
            f"{args.size_mb}MiB": {"VmHWM": memory["large"][0], "VmRSS": memory["large"][1]},
            f"{args.small_mb}MiB": {"VmHWM": memory["small"][0], "VmRSS": memory["small"][1]},
        },
        "failures": failures,
    }


def print_table(result, args):
    bits = winenv.ARCHITECTURES[result["arch"]]["bits"]
    print(f"{result['arch']}: the {bits}-bit stub under {result['loader']} ({result['wine']}), "
          f"payload {args.size_mb} MiB of random bytes, {result['runs']} runs")
    print(f"{'':38} {'min':>9} {'median':>9}")
    labels = (("baseline", "wine start-up (cmd /c exit)"), ("install", "install (setup.exe -silent DIR)"),
              ("copy", "copy (cmd /c copy /b)"), ("wizard", "wizard install (Install to exit)"))
    for key, label in labels:
        s = result["seconds"][key]
        if s:
            print(f"{label:38} {s['min']:>8.3f}s {s['median']:>8.3f}s")
        else:
            print(f"{label:38} {'-':>9} {'-':>9}")
    r = result["install_over_copy"]
    if r:
        print(f"{'install / copy (same round)':38} {r['min']:>9.2f} {r['median']:>9.2f}")
    for key, label in (("wizard_over_copy", "wizard / copy (same round)"),
                       ("wizard_over_copy_less_startup", "wizard / (copy - wine start-up)")):
        r = result[key]
        if r:
            print(f"{label:38} {r['min']:>9.2f} {r['median']:>9.2f}")
    print("peak memory of setup.exe (highest over the runs):")
    for payload, m in result["peak_memory_kib"].items():
        print(f"  payload {payload:>7}: VmHWM {m['VmHWM']:>7} KiB, VmRSS {m['VmRSS']:>7} KiB")
    for f in result["failures"]:
        print(f"FAILED {f['run']}: exit code {f['exit_code']}, installed size {f['installed_size']} "
              f"of {f['expected_size']}, folder {f['folder']}\n{f['stderr']}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size-mb", type=int, default=200, help="payload size in MiB (default 200)")
    parser.add_argument("--small-mb", type=int, default=20, help="the small payload for the memory figure (default 20)")
    parser.add_argument("--runs", type=int, default=5, help="rounds of install and copy (default 5)")
    add_arch_option(parser)
    parser.add_argument("--json", action="store_true",
                        help="print one JSON object (a list of them with --arch both) instead of the table")
    args = parser.parse_args()
    if args.runs < 1 or args.size_mb < 1 or args.small_mb < 1:
        parser.error("--runs, --size-mb and --small-mb must be at least 1")
    args.arches = chosen_arches(parser, args)
    for path in [os.path.join(SOURCE_DIR, "build", "native", "bin", "scrpack")] + [stub_path(a) for a in args.arches]:
        if not os.path.isfile(path):
            print(f"{path} is not built (bash scripts/build.sh)", file=sys.stderr)
            return 2

    return run_and_report(run, args, lambda result: print_table(result, args))


if __name__ == "__main__":
    sys.exit(main())
