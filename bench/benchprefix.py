"""A private Wine prefix of one architecture for one benchmark run: a copy of the end-to-end tests'
template under the run's folder, its files in C:\\bench, one wineserver for the whole run and, when
asked for, an Xvfb display of its own. Removed again by stop().

Every program runs under the loader of the prefix's architecture, called by path: Debian's `wine`
wrapper picks the 32-bit loader whenever it is installed, even where the host cannot start it."""
import json
import os
import shutil
import signal
import subprocess
import sys

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "e2e"))
import winenv  # noqa: E402


class BenchPrefix:
    def __init__(self, run_dir, display, arch):
        self.run_dir = run_dir
        self.arch = arch
        self.loader = winenv.loader(arch)
        self.prefix = os.path.join(run_dir, "prefix")
        self.home = os.path.join(run_dir, "home")
        self.env = winenv.wine_base_env(self.prefix, self.home, arch)
        self.env.pop("DISPLAY", None)
        self.display = display
        self.xvfb_pid = None
        self.server_started = False

    @property
    def bench_dir(self):
        return os.path.join(self.prefix, "drive_c", "bench")

    def host(self, name):
        return os.path.join(self.bench_dir, name)

    def start(self):
        os.makedirs(self.home)
        winenv.clone_prefix(self.prefix, self.arch)
        os.makedirs(self.bench_dir)
        if self.display:
            self.xvfb_pid, self.env["DISPLAY"] = winenv.start_xvfb(os.path.join(self.run_dir, "xvfb.log"))
        # One wineserver for the whole run; it would otherwise end and restart between programs.
        subprocess.run([self.env["WINESERVER"], "-p"], env=self.env, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        self.server_started = True

    def stop(self):
        if self.server_started:
            winenv.stop_wineserver(self.env)
        if self.xvfb_pid:
            winenv.stop_pid(self.xvfb_pid, "Xvfb")
        shutil.rmtree(self.run_dir, ignore_errors=True)


def add_arch_option(parser):
    parser.add_argument("--arch", choices=list(winenv.ARCHITECTURES) + ["both"],
                        help="the stub, helper programs, Wine loader and prefix of one architecture, or of both "
                             "in turn (default: win32 where this host runs 32-bit programs, else win64)")


def chosen_arches(parser, args):
    """The architectures to measure, each one this host runs; a usage error otherwise."""
    if args.arch is None:
        try:
            name, why = winenv.preferred_arch()
        except RuntimeError as e:
            parser.error(str(e))
        if name == "win64":
            print(f"win64: {why}", file=sys.stderr)
        return [name]
    names = ["win32", "win64"] if args.arch == "both" else [args.arch]
    for name in names:
        ok, why = winenv.runnable(name)
        if not ok:
            parser.error(f"--arch {args.arch}: {name} does not run on this host: {why}")
    return names


def wine_version(arch):
    return subprocess.run([winenv.loader(arch), "--version"], capture_output=True, text=True,
                          timeout=60).stdout.strip()


def run_and_report(run, args, print_table):
    """Runs a benchmark once per architecture of args.arches and prints each result, as JSON with
    --json (one object, or a list of them for several architectures); 1 when a run failed."""
    # A terminated run still ends its wineserver and Xvfb and removes its files.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    results = []
    for arch in args.arches:
        result = run(args, arch)
        results.append(result)
        if not args.json:
            if len(results) > 1:
                print()
            print_table(result)
    if args.json:
        print(json.dumps(results[0] if len(results) == 1 else results, indent=2))
    return 1 if any(r["failures"] for r in results) else 0
