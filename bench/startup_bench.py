#!/usr/bin/env python3
"""Start-up of our installer against an NSIS installer under Wine: the time to the first visible
window, and to the end of a silent run on a damaged package.

Both installers carry the same screensaver and licence (NSIS: bench/startup.nsi, built with
makensis), run in one Wine prefix on one Xvfb display, and are timed from inside Wine by
startup_timer.exe (bench/startup_timer.c): from its CreateProcess to the first visible top-level
window of the process, or to the process's exit, so that Wine's start of the timer is not counted.
An empty window program (bench/empty_window.c) is the floor. The cases run in turn, the order
reversed every round.

Everything is of one architecture: our stub, the timer and the floor from build/<arch>/bin, NSIS
built for the same one (x86-unicode or amd64-unicode), the prefix and the Wine loader. The default
is win32 where this host runs 32-bit programs, else win64; `--arch both` measures one after the other.

    python3 bench/startup_bench.py [--arch win32|win64|both] [--runs 20] [--stub FILE] [--json]

Needs build/<arch>/bin/{setup,startup_timer,empty_window}.exe and Starfield.scr,
build/native/bin/scrpack and makensis (Debian package nsis). Works in build/bench/ and removes its
files, its Wine prefix and its Xvfb at the end.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "e2e"))
import winenv  # noqa: E402
from benchprefix import (BenchPrefix, add_arch_option, chosen_arches,  # noqa: E402
                         run_and_report, wine_version)

TIMEOUT_MS = 20000
LICENCE = "Terms of use\r\n\r\nYou may use this screen saver on your own computers.\r\nNothing else.\r\n"
HEADER_SIZE, TRAILER_SIZE = 1336, 20
EXIT_DAMAGED = 1

NSIS_TARGETS = {"win32": "x86-unicode", "win64": "amd64-unicode"}

# (name, timer mode, program in C:\bench, its arguments)
CASES = [
    ("ours: window", "window", "setup.exe", []),
    ("NSIS: window", "window", "nsis.exe", []),
    ("empty program: window", "window", "empty_window.exe", []),
    ("ours: -silent, damaged", "exit", "damaged.exe", ["-silent"]),
    ("NSIS: /S, damaged", "exit", "nsis-damaged.exe", ["/S"]),
    ("empty program: exit", "exit", "empty_window.exe", ["-exit"]),
]


def damage_ours(data):
    """PackageSize far beyond the file: found by the reader once it has read the header and texts."""
    header = len(data) - TRAILER_SIZE - HEADER_SIZE
    return data[:header] + (0x7FFFFFF0).to_bytes(4, "little") + data[header + 4:]


def damage_nsis(data, stub_size):
    """One byte of the compressed data flipped: NSIS's checksum over its data no longer holds."""
    at = stub_size + (len(data) - stub_size) // 2
    return data[:at] + bytes([data[at] ^ 0xFF]) + data[at + 1:]


class Bench(BenchPrefix):
    def __init__(self, run_dir, arch):
        super().__init__(run_dir, display=True, arch=arch)

    def time(self, mode, program, args):
        """(milliseconds, exit code or None) of one timed start, or raises with the timer's words."""
        cmd = [self.loader, self.host("startup_timer.exe"), mode, str(TIMEOUT_MS), "C:\\bench\\" + program] + args
        proc = winenv.run_captured(cmd, self.env, TIMEOUT_MS / 1000 + 60)
        fields = proc.stdout.split()
        if proc.returncode != 0 or len(fields) != 2:
            raise RuntimeError(f"{' '.join(cmd[2:])}: timer exit code {proc.returncode}\n{proc.stdout}"
                               f"{proc.stderr[-2000:]}")
        code = int(fields[1])
        return float(fields[0]), (None if code == -1 else code)

    def prepare(self, stub):
        bin_dir = winenv.bin_dir(self.arch)
        for name in ("startup_timer.exe", "empty_window.exe"):
            shutil.copyfile(os.path.join(bin_dir, name), self.host(name))
        payload = os.path.join(bin_dir, "Starfield.scr")
        licence = self.host("licence.txt")
        with open(licence, "w", encoding="utf-8", newline="") as f:
            f.write(LICENCE)

        ours = self.host("setup.exe")
        built = subprocess.run([os.path.join(SOURCE_DIR, "build", "native", "bin", "scrpack"), "build",
                                "--stub", stub, "--scr", payload,
                                "--scr-name", "Bench.scr", "--title", "Bench", "--license", licence, "-o", ours],
                               capture_output=True, text=True, timeout=120)
        if built.returncode != 0:
            raise RuntimeError(f"scrpack failed: {built.stdout}{built.stderr}")
        nsis = self.host("nsis.exe")
        built = subprocess.run(["makensis", "-V2", f"-DPAYLOAD={payload}", f"-DLICENCE={licence}",
                                f"-DOUTFILE={nsis}", f"-DTARGET={NSIS_TARGETS[self.arch]}",
                                os.path.join(SOURCE_DIR, "bench", "startup.nsi")],
                               capture_output=True, text=True, timeout=120)
        if built.returncode != 0:
            raise RuntimeError(f"makensis failed: {built.stdout}{built.stderr}")

        with open(ours, "rb") as f:
            data = f.read()
        with open(self.host("damaged.exe"), "wb") as f:
            f.write(damage_ours(data))
        # The timer starts the others with CreateProcess: all of them must be of the prefix's architecture.
        for name in ("setup.exe", "nsis.exe", "startup_timer.exe", "empty_window.exe"):
            if winenv.image_arch(self.host(name)) != self.arch:
                raise RuntimeError(f"{name} is built for {winenv.image_arch(self.host(name))}, not {self.arch}")
        with open(nsis, "rb") as f:
            data = f.read()
        with open(self.host("nsis-damaged.exe"), "wb") as f:
            f.write(damage_nsis(data, nsis_stub_size(data)))
        return {"ours": os.path.getsize(ours), "nsis": os.path.getsize(nsis)}


def nsis_stub_size(data):
    """Where NSIS's appended data begins: the end of the stub's last section."""
    pe = int.from_bytes(data[0x3C:0x40], "little")
    count = int.from_bytes(data[pe + 6:pe + 8], "little")
    optsize = int.from_bytes(data[pe + 20:pe + 22], "little")
    end = 0
    for i in range(count):
        off = pe + 24 + optsize + 40 * i
        raw_size = int.from_bytes(data[off + 16:off + 20], "little")
        raw_addr = int.from_bytes(data[off + 20:off + 24], "little")
        end = max(end, raw_addr + raw_size)
    return end


def summary(values):
    return {"min": min(values), "median": statistics.median(values), "all": values} if values else None


def stub_of(args, arch):
    return args.stub or os.path.join(winenv.bin_dir(arch), "setup.exe")


def run(args, arch):
    bench = Bench(os.path.join(SOURCE_DIR, "build", "bench", f"startup-{arch}-{os.getpid()}"), arch)
    times = {name: [] for name, *_ in CASES}
    codes = {name: set() for name, *_ in CASES}
    try:
        bench.start()
        sizes = bench.prepare(stub_of(args, arch))
        # The first start of a fresh prefix brings up its services and fills the caches: not timed.
        for name, mode, program, extra in CASES:
            bench.time(mode, program, extra)
        for i in range(args.runs):
            for name, mode, program, extra in (CASES if i % 2 == 0 else CASES[::-1]):
                ms, code = bench.time(mode, program, extra)
                times[name].append(ms)
                codes[name].add(code)
    finally:
        bench.stop()
    exit_codes = {name: sorted(c for c in v if c is not None) for name, v in codes.items()}
    # Timings of a run that did not find the damage would time something else.
    failures = []
    if exit_codes["ours: -silent, damaged"] != [EXIT_DAMAGED]:
        failures.append(f"ours on the damaged package ended with {exit_codes['ours: -silent, damaged']}")
    if 0 in exit_codes["NSIS: /S, damaged"]:
        failures.append("NSIS on the damaged package ended with 0")
    return {"arch": arch, "wine": wine_version(arch), "loader": bench.loader, "nsis_target": NSIS_TARGETS[arch],
            "runs": args.runs, "installer_bytes": sizes,
            "ms": {name: summary(v) for name, v in times.items()}, "exit_codes": exit_codes, "failures": failures}


def print_table(result):
    bits = winenv.ARCHITECTURES[result["arch"]]["bits"]
    print(f"{result['arch']}: the {bits}-bit stub against NSIS {result['nsis_target']}, under {result['loader']} "
          f"({result['wine']}), {result['runs']} runs each, milliseconds from CreateProcess")
    print(f"{'':28} {'min':>8} {'median':>8}  exit codes")
    for name, s in result["ms"].items():
        codes = ", ".join(str(c) for c in result["exit_codes"][name]) or "-"
        print(f"{name:28} {s['min']:>8.1f} {s['median']:>8.1f}  {codes}")
    for failure in result["failures"]:
        print(f"FAILED: {failure}")
    ms = result["ms"]
    for what, ours, nsis in (("window", "ours: window", "NSIS: window"),
                             ("silent, damaged", "ours: -silent, damaged", "NSIS: /S, damaged")):
        print(f"ours / NSIS, {what}: {ms[ours]['median'] / ms[nsis]['median']:.2f} (median), "
              f"{ms[ours]['min'] / ms[nsis]['min']:.2f} (min)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=20, help="rounds over every case (default 20)")
    parser.add_argument("--stub", help="the setup stub to pack (default: build/<arch>/bin/setup.exe)")
    add_arch_option(parser)
    parser.add_argument("--json", action="store_true",
                        help="print one JSON object (a list of them with --arch both) instead of the table")
    args = parser.parse_args()
    if args.runs < 1:
        parser.error("--runs must be at least 1")
    args.arches = chosen_arches(parser, args)
    if args.stub and len(args.arches) > 1:
        parser.error("--stub is of one architecture: give --arch win32 or win64 with it")
    needed = [os.path.join(SOURCE_DIR, "build", "native", "bin", "scrpack")]
    for arch in args.arches:
        needed += [stub_of(args, arch)] + [os.path.join(winenv.bin_dir(arch), name)
                                           for name in ("startup_timer.exe", "empty_window.exe", "Starfield.scr")]
    missing = [p for p in needed if not os.path.isfile(p)]
    if missing:
        print(f"not built: {', '.join(missing)} (bash scripts/build.sh)", file=sys.stderr)
        return 2
    if not shutil.which("makensis"):
        print("makensis not found (apt-get install nsis)", file=sys.stderr)
        return 2
    if args.stub and winenv.image_arch(args.stub) != args.arches[0]:
        parser.error(f"--stub {args.stub} is built for {winenv.image_arch(args.stub)}, not {args.arches[0]}")

    return run_and_report(run, args, print_table)


if __name__ == "__main__":
    sys.exit(main())
