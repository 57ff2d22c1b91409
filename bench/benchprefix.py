"""A private 32-bit Wine prefix for one benchmark run: a copy of the end-to-end tests' template
under the run's folder, its files in C:\\bench, one wineserver for the whole run and, when asked
for, an Xvfb display of its own. Removed again by stop()."""
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
    def __init__(self, run_dir, display):
        self.run_dir = run_dir
        self.prefix = os.path.join(run_dir, "prefix")
        self.home = os.path.join(run_dir, "home")
        self.env = winenv.wine_base_env(self.prefix, self.home)
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
        winenv.clone_prefix(self.prefix)
        os.makedirs(self.bench_dir)
        if self.display:
            self.xvfb_pid, self.env["DISPLAY"] = winenv.start_xvfb(os.path.join(self.run_dir, "xvfb.log"))
        # One wineserver for the whole run; it would otherwise end and restart between programs.
        subprocess.run(["wineserver", "-p"], env=self.env, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        self.server_started = True

    def stop(self):
        if self.server_started:
            subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=60)
            subprocess.run(["wineserver", "-w"], env=self.env, capture_output=True, timeout=60)
        if self.xvfb_pid:
            winenv.stop_pid(self.xvfb_pid, "Xvfb")
        shutil.rmtree(self.run_dir, ignore_errors=True)


def run_and_report(run, args, print_table):
    """Runs a benchmark and prints its result, as JSON with --json; 1 when a run failed."""
    # A terminated run still ends its wineserver and Xvfb and removes its files.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    result = run(args)
    if args.json:
        print(json.dumps(result, indent=2))
    else:
        print_table(result)
    return 1 if result["failures"] else 0
