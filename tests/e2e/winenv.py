"""The Wine environment of the end-to-end tests: a private prefix of one architecture, one Xvfb,
and the driver program (wintest.exe) that starts the setup and reads its windows.

Two architectures: "win64" (the x86-64 stub under the 64-bit loader in a 64-bit prefix) and
"win32" (the i686 stub under the 32-bit loader in a 32-bit prefix). Whether the host runs an
architecture is found by starting its loader (`runnable`): kernels without 32-bit support refuse
the 32-bit one with "Exec format error". Every command goes to the loader and wineserver of the
environment's architecture by path: Debian's `wine` wrapper picks the 32-bit loader whenever it
is installed, even where it cannot start.

One environment serves a whole run. Under CTest a fixture creates it (`winenv.py setup`) and
removes it (`winenv.py cleanup`), handing it to the test modules through the state file
named by E2E_STATE. A module run on its own creates a private environment and removes it
when the process ends.

A ready-made prefix (`wineboot -i`, about 15 s) is kept per architecture and Wine version under
build/e2e/ and copied for every run.

Environment variables: E2E_ARCH (win64 or win32, default win64), E2E_BIN_DIR (setup.exe and
wintest.exe, default build/<arch>/bin), E2E_WORK_DIR (default build/e2e), E2E_STATE, E2E_KEEP=1
keeps the run's directory.
"""

import atexit
import contextlib
import fcntl
import functools
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SKIP_RETURN_CODE = 77
DESKTOP_SIZE = "1024x768"
# A machine that runs everything N times slower (an emulated one) sets E2E_TIME_SCALE=N: every
# wait for Wine, here, in the tests and in the driver, is then N times longer.
TIME_SCALE = max(1.0, float(os.environ.get("E2E_TIME_SCALE") or 1))


def seconds(s):
    """A wait of s seconds on this machine."""
    return s * TIME_SCALE


# A value line of `reg query`: name, type and data.
REG_VALUE_LINE = re.compile(r"^    (.*?)    (REG_[A-Z_]+)(?:    (.*))?$")


def split_command(command):
    """Program and arguments of a command line as Windows finds the program: a quoted name
    runs to the next quote, an unquoted one to the first blank."""
    if command.startswith('"'):
        end = command.find('"', 1)
        end = len(command) if end < 0 else end
        program, rest = command[1:end], command[end + 1:]
    else:
        program, _, rest = command.replace("\t", " ").partition(" ")
    return program, rest.strip(" \t")


# Loader and wineserver of each architecture, as Debian's wine, wine64 and wine32 install them.
# The 64-bit wineserver serves 32-bit prefixes too (Debian's own wrapper prefers it), and it is
# the one that starts on every host.
_SERVER64 = "/usr/lib/wine/wineserver64"
ARCHITECTURES = {
    "win64": {"loader": "/usr/lib/wine/wine64", "server": _SERVER64, "machine": 0x8664, "bits": 64},
    "win32": {"loader": "/usr/lib/wine/wine",
              "server": _SERVER64 if os.path.isfile(_SERVER64) else "/usr/lib/wine/wineserver32",
              "machine": 0x14C, "bits": 32},
}


def arch():
    """The architecture of this run's environment."""
    name = os.environ.get("E2E_ARCH") or "win64"
    if name not in ARCHITECTURES:
        raise ValueError(f"E2E_ARCH={name}: known are {', '.join(ARCHITECTURES)}")
    return name


def loader(name=None):
    return ARCHITECTURES[name or arch()]["loader"]


def wineserver(name=None):
    return ARCHITECTURES[name or arch()]["server"]


@functools.lru_cache(maxsize=None)
def runnable(name):
    """(True, version) when this host starts the architecture's loader, else (False, why).
    Found by starting it: a kernel without 32-bit support refuses the 32-bit loader."""
    path = loader(name)
    if not os.path.isfile(path):
        return False, f"{path} is not installed"
    try:
        proc = subprocess.run([path, "--version"], capture_output=True, text=True, timeout=seconds(60),
                              stdin=subprocess.DEVNULL)
    except OSError as e:
        return False, f"{path} cannot start here: {e.strerror}"
    except subprocess.TimeoutExpired:
        return False, f"{path} --version did not end"
    if proc.returncode != 0 or not proc.stdout.startswith("wine-"):
        return False, f"{path} --version failed ({proc.returncode}): {(proc.stdout + proc.stderr).strip()[:300]}"
    return True, proc.stdout.strip()


def preferred_arch():
    """(architecture, why) of the stub a user on this host runs: the 32-bit one (the default
    product) wherever it runs, else the 64-bit one. RuntimeError when neither runs."""
    ok32, why32 = runnable("win32")
    if ok32:
        return "win32", f"this host runs 32-bit programs: {why32}"
    ok64, why64 = runnable("win64")
    if ok64:
        return "win64", f"this host does not run 32-bit programs: {why32}"
    raise RuntimeError(f"this host runs no Wine loader: {why32}; {why64} (bash scripts/deps.sh installs them)")


def image_machine(image):
    """The COFF machine of a Windows program's bytes (its first 4 KiB suffice), or None."""
    pe = int.from_bytes(image[0x3C:0x40], "little") if image[:2] == b"MZ" and len(image) >= 0x40 else -1
    if pe < 0 or image[pe:pe + 4] != b"PE\0\0":
        return None
    return int.from_bytes(image[pe + 4:pe + 6], "little")


def image_arch(path):
    """The architecture a Windows program file is built for, or None."""
    with open(path, "rb") as f:
        machine = image_machine(f.read(4096))
    return next((name for name, props in ARCHITECTURES.items() if props["machine"] == machine), None)


def bin_dir(name=None):
    """Folder of an architecture's build: E2E_<ARCH>_BIN_DIR, E2E_BIN_DIR for the run's own
    architecture, else build/<arch>/bin."""
    name = name or arch()
    folder = os.environ.get(f"E2E_{name.upper()}_BIN_DIR")
    if not folder and name == arch():
        folder = os.environ.get("E2E_BIN_DIR")
    return os.path.abspath(folder or os.path.join(SOURCE_DIR, "build", name, "bin"))


def work_dir():
    return os.path.abspath(os.environ.get("E2E_WORK_DIR") or os.path.join(SOURCE_DIR, "build", "e2e"))


def missing_programs():
    return [p for p in ("setup.exe", "wintest.exe") if not os.path.isfile(os.path.join(bin_dir(), p))]


def hosts_report():
    """Which architectures this host runs, one line each; the 64-bit one must run."""
    lines, ok64 = [], False
    for name in ARCHITECTURES:
        ok, why = runnable(name)
        ok64 = ok64 or (ok and name == "win64")
        lines.append(f"{name}: " + (f"runs ({why})" if ok else f"does not run here: {why}"))
    return ok64, lines


def wine_base_env(prefix, home, name=None):
    name = name or arch()
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": prefix,
        "WINEARCH": name,
        # Wine starts its own helpers through these: never through the `wine` wrapper.
        "WINELOADER": loader(name),
        "WINESERVER": wineserver(name),
        "WINEDEBUG": "-all",
        # No desktop entries or file associations on the host, no Mono/Gecko prompts.
        "WINEDLLOVERRIDES": "winemenubuilder.exe=d;mscoree,mshtml=",
        # The prefix's user folders must not lead into the real home directory.
        "HOME": home,
        "XDG_CONFIG_HOME": os.path.join(home, ".config"),
        "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
        "XDG_CACHE_HOME": os.path.join(home, ".cache"),
        "LC_ALL": "C.UTF-8",
    })
    return env


@functools.lru_cache(maxsize=None)
def wine_version(name=None):
    out = subprocess.run([loader(name), "--version"], capture_output=True, text=True, timeout=seconds(60)).stdout.strip()
    return re.sub(r"[^A-Za-z0-9.]+", "_", out) or "unknown"


# ----------------------------------------------------------------------------- prefix

def template_path(name=None):
    """Where the template prefix of the architecture is kept. A 64-bit prefix runs 32-bit programs
    (WoW64) only when it was made where they run, which its name then says."""
    name = name or arch()
    wow64 = "-wow64" if name == "win64" and runnable("win32")[0] else ""
    return os.path.join(work_dir(), f"template-{name}-{wine_version(name)}{wow64}")


def template_prefix(name=None):
    """A fresh prefix of the architecture, made once per Wine version and then only copied."""
    name = name or arch()
    ok, why = runnable(name)
    if not ok:
        raise RuntimeError(f"{name}: {why}")
    base = work_dir()
    os.makedirs(base, exist_ok=True)
    template = template_path(name)
    with open(os.path.join(base, f"template-{name}.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.isfile(os.path.join(template, ".complete")):
            return template
        # Templates of other Wine versions (and of the old naming) are of no further use.
        for entry in os.scandir(base):
            if entry.is_dir() and entry.name.startswith("template-") and (
                    entry.name.startswith(f"template-{name}-") or
                    not any(entry.name.startswith(f"template-{a}-") for a in ARCHITECTURES)):
                shutil.rmtree(entry.path, ignore_errors=True)
        home = os.path.join(template, "home")
        os.makedirs(home)
        env = wine_base_env(os.path.join(template, "prefix"), home, name)
        env.pop("DISPLAY", None)
        try:
            boot = run_captured([loader(name), "wineboot", "-i"], env, 300)
            if boot.returncode != 0:
                raise RuntimeError(f"wineboot -i failed:\n{boot.stdout}{boot.stderr}")
            # A virtual desktop: windows are not handed to an X window manager (there is none,
            # and Wine would wait two seconds for it whenever a window is hidden).
            for key, value_name, value in (("HKCU\\Software\\Wine\\Explorer", "Desktop", "Default"),
                                     ("HKCU\\Software\\Wine\\Explorer\\Desktops", "Default", DESKTOP_SIZE)):
                added = run_captured([loader(name), "reg", "add", key, "/v", value_name, "/d", value, "/f"], env, 120)
                if added.returncode != 0:
                    raise RuntimeError(f"wine reg add failed:\n{added.stdout}{added.stderr}")
        finally:
            stop_wineserver(env)
        if template.endswith("-wow64") and not os.path.isfile(
                os.path.join(template, "prefix", "drive_c", "windows", "syswow64", "kernel32.dll")):
            raise RuntimeError(f"wineboot -i made a 64-bit prefix without its 32-bit side in {template}")
        _cut_home_links(os.path.join(template, "prefix"))
        shutil.rmtree(home, ignore_errors=True)
        open(os.path.join(template, ".complete"), "w").close()
    return template


def _cut_home_links(prefix):
    """Wine links the profile's Desktop, Documents, ... to the home directory: make them real."""
    users = os.path.join(prefix, "drive_c", "users")
    for user in os.listdir(users):
        for entry in os.scandir(os.path.join(users, user)):
            if entry.is_symlink():
                os.unlink(entry.path)
                os.mkdir(entry.path)


def clone_prefix(target, name=None):
    subprocess.run(["cp", "-a", os.path.join(template_prefix(name), "prefix"), target], check=True,
                   timeout=seconds(300))


def stop_wineserver(env):
    """Ends the wineserver of env's prefix (our own) and waits until it is gone."""
    subprocess.run([env["WINESERVER"], "-k"], env=env, capture_output=True, timeout=seconds(60))
    subprocess.run([env["WINESERVER"], "-w"], env=env, capture_output=True, timeout=seconds(60))


# ----------------------------------------------------------------------------- Xvfb

def start_xvfb(log_path):
    """One Xvfb on a display it picks itself; returns (pid, display)."""
    read_fd, write_fd = os.pipe()
    with open(log_path, "ab") as log:
        proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_fd,), stdout=log, stderr=log, stdin=subprocess.DEVNULL, start_new_session=True)
    os.close(write_fd)
    number = b""
    deadline = time.monotonic() + seconds(30)
    try:
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_fd], [], [], 1)
            if ready:
                chunk = os.read(read_fd, 16)
                if not chunk:
                    break
                number += chunk
    finally:
        os.close(read_fd)
    if not number.strip().isdigit():
        proc.kill()
        raise RuntimeError(f"Xvfb did not start (see {log_path})")
    return proc.pid, ":" + number.decode().strip()


def stop_pid(pid, name):
    """Ends our own process by pid, after checking that the pid still names it."""
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            if name.encode() not in f.read():
                return
        os.kill(pid, signal.SIGTERM)
    except (FileNotFoundError, ProcessLookupError):
        return
    for _ in range(50):
        if not os.path.exists(f"/proc/{pid}"):
            return
        with contextlib.suppress(ChildProcessError):
            os.waitpid(pid, os.WNOHANG)
        time.sleep(0.1)
    with contextlib.suppress(ProcessLookupError):
        os.kill(pid, signal.SIGKILL)


# ----------------------------------------------------------------------------- environment

class DriveResult:
    """What wintest.exe printed: the step lines and the end line."""

    def __init__(self, proc, script):
        self.stdout = proc.stdout
        self.stderr = proc.stderr
        self.returncode = proc.returncode
        self.script = script
        self.lines = []
        for line in proc.stdout.splitlines():
            with contextlib.suppress(ValueError):
                self.lines.append(json.loads(line))
        ends = [l for l in self.lines if l.get("event") == "end"]
        self.end = ends[-1] if ends else {}

    @property
    def status(self):
        return self.end.get("status")

    @property
    def exit_code(self):
        return self.end.get("exit_code")

    @property
    def windows_seen(self):
        return self.end.get("windows_seen", [])

    def steps(self, name):
        return [l for l in self.lines if l.get("step") == name]

    def dumps(self):
        return [l["window"] for l in self.steps("dump")]

    def failed_steps(self):
        return [l for l in self.lines if l.get("ok") is False]

    def __str__(self):
        return f"script:\n{self.script}\nstdout:\n{self.stdout}\nstderr:\n{self.stderr[-3000:]}"


class WineEnv:
    def __init__(self, state):
        self.arch = state.get("arch") or arch()
        # The prefix's own architecture: a 64-bit one runs the 32-bit programs too (WoW64).
        self.prefix_arch = state.get("prefix_arch") or self.arch
        self.loader = loader(self.prefix_arch)
        self.bits = ARCHITECTURES[self.arch]["bits"]
        self.run_dir = state["run_dir"]
        self.prefix = state["prefix"]
        self.display = state["display"]
        self.home = os.path.join(self.run_dir, "home")
        self.bin_dir = bin_dir()
        self.stub_exe = os.path.join(self.bin_dir, "setup.exe")
        self.wintest_exe = os.path.join(self.bin_dir, "wintest.exe")
        self._scripts = 0

    @property
    def setup_exe(self):
        """A copy of the stub inside the prefix, made again whenever it is missing.

        The setup schedules its own file for deletion at the next start of Windows; Wine
        carries that out when a prefix starts, so the build's own setup.exe must never run
        from its place.
        """
        copy = os.path.join(self.drive_c, "e2e-bin", "setup.exe")
        if not os.path.isfile(copy):
            os.makedirs(os.path.dirname(copy), exist_ok=True)
            shutil.copyfile(self.stub_exe, copy)
        return copy

    def stub(self):
        with open(self.stub_exe, "rb") as f:
            return f.read()

    @property
    def drive_c(self):
        return os.path.join(self.prefix, "drive_c")

    def env(self):
        env = wine_base_env(self.prefix, self.home, self.prefix_arch)
        env["DISPLAY"] = self.display
        return env

    def win_path(self, path):
        """The Windows form of a host path: C:\\... inside the prefix, Z:\\... elsewhere."""
        path = os.path.abspath(path)
        drive_c = os.path.abspath(self.drive_c)
        if path == drive_c:
            return "C:\\"
        if path.startswith(drive_c + os.sep):
            return "C:" + path[len(drive_c):].replace("/", "\\")
        return "Z:" + path.replace("/", "\\")

    def host_path(self, win_path):
        if win_path[:2].upper() == "C:":
            return os.path.join(self.drive_c, *[p for p in win_path[2:].split("\\") if p])
        if win_path[:2].upper() == "Z:":
            return "/" + "/".join(p for p in win_path[2:].split("\\") if p)
        raise ValueError(f"no host path for {win_path}")

    def test_dir(self, name):
        """An empty folder C:\\e2e\\<name> for one test's files."""
        path = os.path.join(self.drive_c, "e2e", re.sub(r"[^A-Za-z0-9_.-]+", "_", name))
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    def wine(self, args, timeout=120, debug=None):
        """Runs a program of the prefix; stdout and stderr as text. debug: Wine's debug
        channels for this run (WINEDEBUG), none otherwise."""
        env = self.env()
        if debug:
            env["WINEDEBUG"] = debug
        return run_captured([self.loader] + list(args), env, timeout)

    def drive(self, program, args=(), steps=(), timeout_ms=20000, raw_args=None):
        """Starts `program` (host path) with `args` through the driver and runs `steps`
        (lists of words) against its windows."""
        lines = [_script_line(["start", self.win_path(program)] + list(args))]
        if raw_args is not None:
            lines.append(_script_line(["rawargs", raw_args]))
        lines += [_script_line(step) for step in steps]
        script = "\n".join(lines) + "\n"
        self._scripts += 1
        script_path = os.path.join(self.run_dir, "scripts", f"{os.getpid()}-{self._scripts}.txt")
        os.makedirs(os.path.dirname(script_path), exist_ok=True)
        with open(script_path, "w", encoding="utf-8") as f:
            f.write(script)
        cmd = [self.loader, self.wintest_exe, "run", str(timeout_ms), "--script", self.win_path(script_path)]
        # The driver keeps to its own deadline; this only guards against a stuck Wine.
        proc = run_captured(cmd, self.env(), timeout_ms / 1000 + 60)
        return DriveResult(proc, script)

    def reg_query(self, key, value=None):
        """A registry value as `wine reg query` prints it, or None when it does not exist."""
        args = ["reg", "query", key] + (["/v", value] if value is not None else [])
        proc = self.wine(args)
        if proc.returncode != 0:
            return None
        if value is None:
            return proc.stdout
        for line in proc.stdout.splitlines():
            m = REG_VALUE_LINE.match(line)
            if m and m.group(1).lower() == (value or "(default)").lower():
                return m.group(3) or ""
        return None

    def pending_renames(self):
        """PendingFileRenameOperations as (source, target) pairs; an empty target is a deletion."""
        value = self.reg_query(r"HKLM\System\CurrentControlSet\Control\Session Manager",
                               "PendingFileRenameOperations") or ""
        # REG_MULTI_SZ as `reg query` prints it: source and target by turns, "\0" between them.
        items = value.split("\\0")
        return list(zip(items[0::2], items[1::2]))

    @contextlib.contextmanager
    def isolated(self, name, prefix_arch=None):
        """A prefix of its own (a fresh copy) with its own wineserver, on the same display; of
        another architecture than the run's when prefix_arch says so (win64 for WoW64)."""
        prefix_arch = prefix_arch or self.prefix_arch
        path = os.path.join(self.run_dir, "isolated", re.sub(r"[^A-Za-z0-9_.-]+", "_", name))
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        clone_prefix(path, prefix_arch)
        other = WineEnv({"arch": self.arch, "prefix_arch": prefix_arch, "run_dir": self.run_dir, "prefix": path,
                         "display": self.display})
        try:
            # A server that stays, as the run's own does: one that ended between two programs (a
            # few seconds without one, as on a slow machine) would carry out the deletions
            # scheduled for the next start of Windows when the next one starts.
            subprocess.run([wineserver(prefix_arch), "-p"], env=other.env(), check=True, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=seconds(60))
            yield other
        finally:
            subprocess.run([wineserver(prefix_arch), "-k"], env=other.env(), capture_output=True, timeout=seconds(60))
            if os.environ.get("E2E_KEEP") != "1":
                shutil.rmtree(path, ignore_errors=True)


def start_holding(env, program, args, out):
    """program (a host path) started under env's loader with args in the background, once it has
    printed "held" into the file out; None, with the program ended, when it never does."""
    with open(out, "wb") as log:
        holder = subprocess.Popen([env.loader, program] + list(args), env=env.env(), stdin=subprocess.DEVNULL,
                                  stdout=log, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + seconds(30)
    while time.monotonic() < deadline:
        with open(out, "rb") as f:
            if b"held" in f.read():
                return holder
        time.sleep(0.2)
    holder.wait(timeout=seconds(60))
    return None


def run_captured(cmd, env, timeout):
    """subprocess.run with the output in files: Wine's helper processes (desktop, services) may
    inherit the output handles and live on, and a pipe would then never reach its end."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err, timeout=seconds(timeout))
        out.seek(0)
        err.seek(0)
        proc.stdout = out.read().decode("utf-8", "replace")
        proc.stderr = err.read().decode("utf-8", "replace")
    return proc


def _script_line(words):
    return " ".join(json.dumps(str(w), ensure_ascii=False) for w in words)


# ----------------------------------------------------------------------------- lifecycle

def create_environment():
    base = work_dir()
    os.makedirs(base, exist_ok=True)
    # Runs that were killed before their cleanup leave their folder behind; no run lasts a day.
    for entry in os.scandir(base):
        if entry.name.startswith("run-") and time.time() - entry.stat().st_mtime > 24 * 3600:
            shutil.rmtree(entry.path, ignore_errors=True)
    run_dir = os.path.join(base, f"run-{arch()}-{time.strftime('%Y%m%d-%H%M%S')}-{os.getpid()}")
    os.makedirs(os.path.join(run_dir, "home"))
    state = {"arch": arch(), "run_dir": run_dir}
    try:
        state["prefix"] = os.path.join(run_dir, "prefix")
        clone_prefix(state["prefix"], state["arch"])
        state["xvfb_pid"], state["display"] = start_xvfb(os.path.join(run_dir, "xvfb.log"))
        # One wineserver for the whole run (it would otherwise end a few seconds after each
        # test's last process), and the desktop started now rather than in the first test.
        env = WineEnv(state)
        subprocess.run([wineserver(env.arch), "-p"], env=env.env(), check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=seconds(60))
        env.wine([env.wintest_exe, "windows"], timeout=120)
    except BaseException:
        destroy_environment(state)
        raise
    return state


def destroy_environment(state):
    prefix = state.get("prefix")
    if prefix and os.path.isdir(prefix):
        stop_wineserver(wine_base_env(prefix, os.path.join(state["run_dir"], "home"), state.get("arch")))
    if state.get("xvfb_pid"):
        stop_pid(state["xvfb_pid"], "Xvfb")
    if os.environ.get("E2E_KEEP") != "1" and state.get("run_dir"):
        shutil.rmtree(state["run_dir"], ignore_errors=True)


_environment = None


def environment():
    """The run's environment: the fixture's when E2E_STATE names one, else a private one."""
    global _environment
    if _environment is None:
        state_file = os.environ.get("E2E_STATE")
        if state_file and os.path.isfile(state_file):
            with open(state_file) as f:
                state = json.load(f)
        else:
            state = create_environment()
            atexit.register(destroy_environment, state)
        _environment = WineEnv(state)
    return _environment


def message_box(window):
    """The parts of a message box dump that a user sees."""
    visible = [c for c in window["children"] if c["visible"]]
    return {
        "class": window["class"],
        "caption": window["caption"],
        "text": "\n".join(c["text"] for c in visible if c["class"].lower() == "static" and c["text"]),
        "icon": window["icon"],
        "buttons": [c["text"].replace("&", "") for c in visible if c["class"].lower() == "button"],
    }


class E2ETestCase(unittest.TestCase):
    """Base of the test cases: `self.env` is the run's environment."""

    maxDiff = None

    @classmethod
    def setUpClass(cls):
        missing = missing_programs()
        if missing:
            raise RuntimeError(f"{', '.join(missing)} not built in {bin_dir()}")
        cls.env = environment()

    def work(self):
        """This test's empty folder in the prefix (emptied on the test's first call)."""
        if getattr(self, "_work_for", None) != self.id():
            self._work_dir = self.env.test_dir(self.id().split(".", 1)[-1])
            self._work_for = self.id()
        return self._work_dir

    def assertScreenshot(self, bmp, shot, window):
        """Turns the driver's bitmap into a PNG beside it and checks that it shows the whole
        window and more than a blank area; returns the PNG's path."""
        png = os.path.splitext(bmp)[0] + ".png"
        subprocess.run(["convert", bmp, png], check=True, capture_output=True, timeout=60)
        os.unlink(bmp)
        r = window["rect"]
        self.assertEqual((shot["width"], shot["height"]), (r["right"] - r["left"], r["bottom"] - r["top"]))
        info = subprocess.run(["identify", "-format", "%w %h %k", png], check=True, capture_output=True,
                              text=True, timeout=60).stdout.split()
        self.assertEqual(info[:2], [str(shot["width"]), str(shot["height"])])
        self.assertGreater(int(info[2]), 16, f"{png} shows hardly anything")
        return png

    def assertDriven(self, result, status="exited"):
        """The script ran through and the program ended as expected."""
        self.assertEqual(result.failed_steps(), [], result)
        self.assertEqual(result.status, status, result)


def unavailable(state_file=None):
    """Why the run's architecture does not run on this host, or None. The fixture records it."""
    state_file = state_file or os.environ.get("E2E_STATE")
    if state_file and os.path.isfile(state_file):
        with open(state_file) as f:
            return json.load(f).get("unavailable")
    ok, why = runnable(arch())
    return None if ok else why


def main():
    """The CTest fixture: `winenv.py setup STATE`, `winenv.py cleanup STATE`; `winenv.py hosts`,
    which says which architectures run here (exit 1 when the 64-bit one does not); and
    `winenv.py runs ARCH`, whether this host runs one (exit 1 with the reason when not).

    The 64-bit architecture must run on every host: its setup fails when it cannot. The 32-bit one
    runs where the host can execute 32-bit programs; elsewhere its setup records why, and every
    test module of it reports "skipped" with that reason."""
    if sys.argv[1:] == ["hosts"]:
        ok64, lines = hosts_report()
        print("\n".join(lines))
        if not ok64:
            print("The end-to-end tests need the 64-bit Wine loader: install wine64 (scripts/deps.sh).")
        return 0 if ok64 else 1
    if len(sys.argv) == 3 and sys.argv[1] == "runs" and sys.argv[2] in ARCHITECTURES:
        ok, why = runnable(sys.argv[2])
        print(f"{sys.argv[2]}: " + (f"runs ({why})" if ok else why))
        return 0 if ok else 1
    if len(sys.argv) != 3 or sys.argv[1] not in ("setup", "cleanup"):
        print("usage: winenv.py setup|cleanup STATE_FILE | winenv.py hosts | winenv.py runs win32|win64",
              file=sys.stderr)
        return 2
    state_file = sys.argv[2]
    if os.path.isfile(state_file):
        with open(state_file) as f:
            destroy_environment(json.load(f))
        os.unlink(state_file)
    if sys.argv[1] == "cleanup":
        return 0
    name = arch()
    missing = missing_programs()
    if missing:
        print(f"{name}: {', '.join(missing)} not built in {bin_dir()} (run scripts/build.sh)")
        return 1
    ok, why = runnable(name)
    if not ok:
        if name == "win64":
            print(f"{name}: {why}. The end-to-end tests need the 64-bit Wine loader (scripts/deps.sh).")
            return 1
        with open(state_file, "w") as f:
            json.dump({"arch": name, "unavailable": why}, f)
        print(f"{name}: not run on this host: {why}")
        return 0
    state = create_environment()
    with open(state_file, "w") as f:
        json.dump(state, f)
    print(f"{name} ({why}): prefix {state['prefix']}, display {state['display']}, Xvfb pid {state['xvfb_pid']}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
