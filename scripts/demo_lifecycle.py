#!/usr/bin/env python3
"""The demo installer's life cycle in a private Wine prefix under build/demo/wine/.

Default: a silent installation, what it left, the silent uninstallation and the proof that
nothing is left. With --gui (needs DISPLAY): the wizard and then the uninstaller, for a user to
click through. Names are read from the package itself (`scrpack info --json` and its language
text), so the checks follow whatever the installer was packed with.

The installer runs under the Wine loader of its own architecture, in a prefix of that
architecture: a 32-bit installer under wine in a 32-bit prefix, a 64-bit one under wine64 in a
64-bit prefix. --pick-arch says which stub to pack on this host: the 32-bit one (the default
product) where the host runs 32-bit programs, else the 64-bit one.

Exit codes: 0 done, 1 the product misbehaved (or Wine failed), 2 wrong usage, no display for
--gui, or no Wine loader here for the installer's architecture (with --pick-arch: for either).
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import winenv  # noqa: E402

UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
USER_KEY = "HKCU\\Software\\Glimmerdeck\\"
SHELL_FOLDERS = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"
SESSION_MANAGER = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager"


class Failure(Exception):
    pass


class Unrunnable(Exception):
    pass


def pick_arch():
    """(architecture, why) of the stub to pack here: the 32-bit one wherever it runs."""
    try:
        return winenv.preferred_arch()
    except RuntimeError as e:
        raise Unrunnable(str(e)) from None


def image_arch(path):
    """The architecture a Windows program is built for."""
    name = winenv.image_arch(path)
    if name is None:
        with open(path, "rb") as f:
            machine = winenv.image_machine(f.read(4096))
        raise Unrunnable(f"{path} is not a Windows program" if machine is None else
                         f"{path} is built for machine 0x{machine:04x}, which no Wine loader here runs")
    return name


def announce(name):
    """One line: which loader and stub, and why this one."""
    bits = winenv.ARCHITECTURES[name]["bits"]
    ok, why = winenv.runnable(name)
    if not ok:
        raise Unrunnable(f"the installer is a {bits}-bit program, and this host does not run it: {why}"
                         + (" (pack it from build/win64/bin/setup.exe)" if name == "win32" else ""))
    picked, reason = pick_arch()
    if os.environ.get("E2E_EMULATED"):
        reason = reason.replace("this host", "the emulated machine")
    if picked != name:
        reason = f"the installer is a {bits}-bit program; on this host demo.sh packs the {picked} stub"
    return f"Life cycle under {os.path.basename(winenv.loader(name))} with the {bits}-bit stub ({reason})"


def section(title):
    print(f"\n== {title}")


class Package:
    """What the installer holds, as the packer describes it."""

    def __init__(self, scrpack, installer):
        proc = subprocess.run([scrpack, "info", "--json", installer], capture_output=True, text=True)
        if proc.returncode != 0:
            raise Failure(f"scrpack info failed ({proc.returncode}): {proc.stderr.strip()}")
        info = json.loads(proc.stdout)
        h = info["header"]
        self.installer = installer
        self.scrpack = scrpack
        self.scr_block = info["blocks"]["screensaver"]
        self.title = h["Title"]
        self.scr_name = h["ScrFileName"].split("\\")[-1]
        self.base_dir, self.sub_dir = h["DefaultBaseDir"], h["DefaultSubDir"]
        self.has_readme = h["ReadmeSize"] > 0
        self.uninstall_entry = h["UninstallEntryFlag"]
        # The entry's key, as the packer foretells it; none when the package asks for no entry.
        self.entry_key = UNINSTALL_KEY + info["productCode"] if info["productCode"] else None
        self.menu_shortcuts = h["MenuShortcutsFlag"]
        self.desktop_shortcut = h["DesktopShortcutFlag"]
        self.words = {}
        block = info["blocks"].get("language")
        if block and block["size"] > 0:
            with open(installer, "rb") as f:
                f.seek(block["offset"])
                text = f.read(block["size"]).decode("utf-16-le", "replace").split("\0")[0]
            section_name = None
            for line in text.lstrip("\ufeff").splitlines():
                if "=" not in line:
                    section_name = line
                elif section_name == "Setup":
                    key, value = line.split("=", 1)
                    self.words.setdefault(key, value)

    def word(self, english):
        return self.words.get(english, english)

    # The names the setup gives its files and links, in the package's language.
    def uninstaller_name(self, scr_name):
        stem = scr_name.rsplit(".", 1)[0] if "." in scr_name else scr_name
        lowered = "".join(c.lower() if "A" <= c <= "Z" else c for c in self.word("Uninstall"))
        return f"{lowered} {stem}.exe"

    def readme_name(self):
        return f"{self.title} {self.word('Readme')}.txt"

    def installed_files(self, scr_name):
        return sorted([scr_name, self.uninstaller_name(scr_name)] + ([self.readme_name()] if self.has_readme else []))

    def screensaver(self):
        with open(self.installer, "rb") as f:
            f.seek(self.scr_block["offset"])
            return f.read(self.scr_block["size"])

    def describe(self, path):
        proc = subprocess.run([self.scrpack, "info", "--json", path], capture_output=True, text=True)
        return json.loads(proc.stdout) if proc.stdout.strip() else {"role": None, "problems": [proc.stderr.strip()]}

    def menu_links(self):
        names = [f"{self.word('Preview')} {self.title}.lnk", f"{self.word('Uninstall')} {self.title}.lnk"]
        return sorted(names + ([f"{self.word('Readme')}.lnk"] if self.has_readme else []))

    def desktop_link(self):
        return f"{self.word('Preview')} {self.title}.lnk"


class Prefix:
    """A fresh copy of the tests' template prefix; only our own wineserver is ever ended."""

    def __init__(self, folder, arch):
        self.folder = folder
        self.arch = arch
        self.path = os.path.join(folder, "prefix")
        self.home = os.path.join(folder, "home")

    def create(self):
        self.destroy()
        os.makedirs(self.home)
        winenv.clone_prefix(self.path, self.arch)

    def env(self, display):
        env = winenv.wine_base_env(self.path, self.home, self.arch)
        if not display:
            env.pop("DISPLAY", None)
        return env

    def stop(self):
        if os.path.isdir(self.path):
            winenv.stop_wineserver(self.env(False))

    def destroy(self):
        self.stop()
        shutil.rmtree(self.folder, ignore_errors=True)

    def wine(self, args, display=False, timeout=120):
        return winenv.run_captured([winenv.loader(self.arch)] + list(args), self.env(display), timeout)

    def reg_values(self, key):
        """The values of a key as {name: data}, or None when the key does not exist. Read by the
        reg.exe of the prefix's own architecture: the registry view the setup writes."""
        proc = self.wine(["reg", "query", key])
        if proc.returncode != 0:
            return None
        values = {}
        for line in proc.stdout.splitlines():
            m = winenv.REG_VALUE_LINE.match(line)
            if m:
                values[m.group(1)] = m.group(3) or ""
        return values

    def host(self, win_path):
        if win_path[:2].upper() != "C:":
            raise Failure(f"{win_path} is not on drive C:")
        return os.path.join(self.path, "drive_c", *[p for p in win_path[2:].split("\\") if p])


def shown(path):
    path = os.path.abspath(path)
    return os.path.relpath(path, ROOT) if path.startswith(ROOT + os.sep) else path


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def listing(host_dir):
    return sorted(os.listdir(host_dir)) if os.path.isdir(host_dir) else None


class Lifecycle:
    def __init__(self, args):
        self.args = args
        self.pkg = Package(args.scrpack, args.installer)
        self.arch = image_arch(args.installer)
        self.headline = announce(self.arch)
        self.prefix = Prefix(os.path.abspath(args.work), self.arch)
        self.loader_name = os.path.basename(winenv.loader(self.arch))
        self.problems = []

    def check(self, ok, good, bad):
        if ok:
            print(f"OK: {good}")
        else:
            print(f"FAILED: {bad}")
            self.problems.append(bad)

    def folders(self):
        shell = self.prefix.reg_values(SHELL_FOLDERS) or {}
        self.programs = shell.get("Programs", "")
        self.desktop = shell.get("Desktop", "")
        if not self.programs or not self.desktop:
            raise Failure(f"the prefix names no Programs or Desktop folder in {SHELL_FOLDERS}")

    def default_dir(self):
        base = self.pkg.base_dir
        if "<Program Files>" in base:
            found = self.prefix.reg_values("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion") or {}
            base = base.replace("<Program Files>", found.get("ProgramFilesDir", "C:\\Program Files"))
        if "<Windows>" in base:
            found = self.prefix.reg_values("HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion") or {}
            base = base.replace("<Windows>", found.get("SystemRoot", "C:\\windows"))
        return base.rstrip("\\") + "\\" + self.pkg.sub_dir

    # ------------------------------------------------------------------ steps

    def prepare(self):
        bits = winenv.ARCHITECTURES[self.arch]["bits"]
        section(f"A private {bits}-bit Wine prefix: {shown(self.prefix.path)}")
        template = winenv.template_path(self.arch)
        if not os.path.isfile(os.path.join(template, ".complete")):
            print(f"first making the template prefix {shown(template)} (once per architecture and Wine version)")
        started = time.monotonic()
        self.prefix.create()
        target = os.path.join(self.prefix.path, "drive_c", "demo")
        os.makedirs(target)
        # Run from inside the prefix, never from the build tree.
        shutil.copyfile(self.args.installer, os.path.join(target, os.path.basename(self.args.installer)))
        self.installer = "C:\\demo\\" + os.path.basename(self.args.installer)
        self.folders()
        print(f"ready in {time.monotonic() - started:.1f} s; "
              f"installer at {self.installer}")

    def install(self, silent):
        section("Silent installation" if silent else "The wizard (click through it)")
        args = [self.installer] + (["-silent"] if silent else [])
        print(f"$ {self.loader_name} " + " ".join(f'"{a}"' if " " in a else a for a in args))
        started = time.monotonic()
        proc = self.prefix.wine(args, display=not silent, timeout=120 if silent else 3600)
        print(f"exit code {proc.returncode} ({time.monotonic() - started:.1f} s)")
        if proc.returncode != 0 and proc.stderr.strip():
            print(proc.stderr.strip()[-2000:])
        return proc.returncode

    def show_and_check_installation(self, expected_dir):
        """Prints what landed; returns the installation folder and the uninstaller's command line."""
        pkg, p = self.pkg, self.prefix
        section("What landed")
        record = p.reg_values(USER_KEY + pkg.title)
        installed = (record or {}).get("FileName_", "")
        folder = expected_dir or (installed.rsplit("\\", 1)[0] if installed else "")
        files = listing(p.host(folder)) if folder else None
        print(f"Installation folder {folder or '(unknown)'}")
        for name in files or []:
            print(f"  {os.path.getsize(os.path.join(p.host(folder), name)):>8}  {name}")
        entry = p.reg_values(pkg.entry_key) if pkg.entry_key else None
        if pkg.entry_key:
            print(f"Uninstall entry {pkg.entry_key}" + ("" if entry is not None else "  (absent)"))
        else:
            print("Uninstall entry: none (the package asks for none)")
        for name in ("DisplayName", "UninstallString"):
            if entry is not None:
                print(f"  {name:<16} {entry.get(name, '(absent)')}")
        menu = self.programs + "\\" + pkg.title
        links = listing(p.host(menu))
        print(f"Start menu {menu}" + ("" if links is not None else "  (absent)"))
        for name in links or []:
            print(f"  {name}")
        desktop = listing(p.host(self.desktop)) or []
        print(f"Desktop {self.desktop}")
        for name in desktop:
            print(f"  {name}")
        print(f"Per-user record {USER_KEY}{pkg.title}" + ("" if record is not None else "  (absent)"))
        for name, data in (record or {}).items():
            print(f"  {name:<16} {data}")

        print()
        # The setup may shorten the packed name for the running Windows version: the record says
        # which name it chose, and the other names follow from that one.
        scr_name = installed.rsplit("\\", 1)[-1] if installed else pkg.scr_name
        if scr_name != pkg.scr_name:
            print(f"note: the packed name {pkg.scr_name} was installed as {scr_name} "
                  "(the setup's short-name rule for this Windows version)")
        self.check(installed and installed.lower() == (folder + "\\" + scr_name).lower(),
                   f"the per-user record names {installed}",
                   f"per-user FileName_ is {installed!r}, expected a file in {folder}")
        self.check(files == pkg.installed_files(scr_name), f"the folder holds {', '.join(files or [])}",
                   f"the folder {folder} holds {files}, not {pkg.installed_files(scr_name)}")
        scr_path = p.host(folder + "\\" + scr_name) if folder else ""
        same = os.path.isfile(scr_path) and read_bytes(scr_path) == pkg.screensaver()
        self.check(same, f"{scr_name} is the packed screensaver, byte for byte",
                   f"{scr_name} differs from the packed screensaver")
        uninstaller = (folder + "\\" + pkg.uninstaller_name(scr_name)) if folder else ""
        image = pkg.describe(p.host(uninstaller)) if uninstaller and os.path.isfile(p.host(uninstaller)) else {}
        self.check(image.get("role") == "uninstaller" and image.get("problems") == [],
                   f"scrpack info: {pkg.uninstaller_name(scr_name)} is a sound uninstaller image",
                   f"scrpack info on the uninstaller: role {image.get('role')}, problems {image.get('problems')}")
        command = (entry or {}).get("UninstallString", "")
        if pkg.uninstall_entry:
            self.check(entry is not None and entry.get("DisplayName") == pkg.title
                       and winenv.split_command(command) == (uninstaller, ""),
                       "the uninstall entry names the title and the uninstaller",
                       f"uninstall entry {entry}, expected DisplayName {pkg.title!r} and UninstallString "
                       f'"{uninstaller}"')
        if pkg.menu_shortcuts:
            self.check(links == pkg.menu_links(), f"Start menu links: {', '.join(pkg.menu_links())}",
                       f"Start menu folder {menu} holds {links}, not {pkg.menu_links()}")
        if pkg.desktop_shortcut:
            self.check(pkg.desktop_link() in desktop, f"desktop link: {pkg.desktop_link()}",
                       f"no {pkg.desktop_link()} on the desktop ({desktop})")
        return folder, command or (f'"{uninstaller}"' if uninstaller else "")

    def uninstall(self, command, silent):
        section("Silent uninstallation" if silent else "The uninstaller (answer its question)")
        program, rest = winenv.split_command(command)
        # The program as Windows finds it; an UninstallString has no arguments of its own.
        words = ([program] + rest.split() if program else []) + (["-silent"] if silent else [])
        if not program:
            raise Failure("no uninstaller to run")
        print(f"$ {self.loader_name} {command}" + (" -silent" if silent else ""))
        started = time.monotonic()
        proc = self.prefix.wine(words, display=not silent, timeout=120 if silent else 3600)
        print(f"exit code {proc.returncode} ({time.monotonic() - started:.1f} s)")
        if proc.returncode != 0:
            if proc.stderr.strip():
                print(proc.stderr.strip()[-2000:])
            return proc.returncode
        # A temporary copy deletes the uninstaller once that has ended.
        uninstaller = self.prefix.host(words[0])
        started = time.monotonic()
        while os.path.exists(uninstaller) and time.monotonic() - started < self.args.wait:
            time.sleep(0.1)
        gone = not os.path.exists(uninstaller)
        print(f"uninstaller file {'deleted' if gone else 'still there'} after "
              f"{time.monotonic() - started:.1f} s (by its temporary copy)")
        return proc.returncode

    def prove_removal(self, folder):
        pkg, p = self.pkg, self.prefix
        section("What is left")
        files = listing(p.host(folder))
        self.check(not files, f"installation folder {folder} " + ("empty" if files == [] else "gone"),
                   f"installation folder {folder} still holds {files}")
        if pkg.uninstall_entry:
            entry = p.reg_values(pkg.entry_key)
            self.check(entry is None, f"uninstall key {pkg.entry_key} absent",
                       f"uninstall key still there: {entry}")
        if pkg.menu_shortcuts:
            menu = self.programs + "\\" + pkg.title
            links = listing(p.host(menu))
            self.check(links is None, f"Start menu folder {menu} absent",
                       f"Start menu folder {menu} still there, holding {links}")
        if pkg.desktop_shortcut:
            link = self.desktop + "\\" + pkg.desktop_link()
            self.check(not os.path.exists(p.host(link)), f"desktop link {link} absent",
                       f"desktop link {link} still there")
        record = p.reg_values(USER_KEY + pkg.title)
        self.check(not record, f"per-user key {USER_KEY}{pkg.title} " + ("without values" if record == {} else "absent"),
                   f"per-user key still holds {record}")
        # The copy cannot delete itself while it runs: Windows does it at its next start.
        pending = (p.reg_values(SESSION_MANAGER) or {}).get("PendingFileRenameOperations", "")
        copies = re.findall(r"[^\\]*uninst\d+\.exe", pending, re.IGNORECASE)
        if copies:
            print(f"note: the temporary copy {', '.join(copies)} is scheduled for deletion at the next start of Windows")

    # ------------------------------------------------------------------ runs

    def silent(self):
        code = self.install(silent=True)
        if code != 0:
            self.problems.append(f"the silent installation ended with exit code {code}")
        folder, command = self.show_and_check_installation(self.default_dir())
        if self.problems:
            return
        code = self.uninstall(command, silent=True)
        if code != 0:
            self.problems.append(f"the silent uninstallation ended with exit code {code}")
        self.prove_removal(folder)

    def gui(self):
        code = self.install(silent=False)
        folder, command = self.show_and_check_installation(None)
        if code != 0 or not command:
            print(f"\nThe wizard ended with exit code {code}; no uninstallation to offer.")
            return
        if sys.stdin.isatty():
            answer = input("\nStart the uninstaller now? [Y/n] ").strip().lower()
            if answer not in ("", "y", "yes"):
                return
        code = self.uninstall(command, silent=False)
        # The temporary copy's closing message (and any other window) may still be open.
        print("waiting until every program of the prefix has ended (close any message still open) ...")
        env = self.prefix.env(True)
        subprocess.run([env["WINESERVER"], "-w"], env=env, timeout=3600)
        if code == 4:
            print("The question was declined: nothing removed.")
        elif code != 0:
            self.problems.append(f"the uninstaller ended with exit code {code}")
        else:
            self.prove_removal(folder)

    def run(self):
        print(f"\n{self.headline}")
        started = time.monotonic()
        try:
            self.prepare()
            self.gui() if self.args.gui else self.silent()
        finally:
            self.prefix.stop()
            if self.args.keep:
                bits = winenv.ARCHITECTURES[self.arch]["bits"]
                print(f"\nKept the prefix: WINEPREFIX={self.prefix.path} (a {bits}-bit prefix: run its programs "
                      f"with {winenv.loader(self.arch)}, and `{winenv.wineserver(self.arch)} -k` with it when done)")
            else:
                shutil.rmtree(self.prefix.folder, ignore_errors=True)
        print(f"\nLife cycle took {time.monotonic() - started:.1f} s")
        if self.problems:
            print("\nThe product misbehaved:", file=sys.stderr)
            for problem in self.problems:
                print(f"  - {problem}", file=sys.stderr)
            return 1
        return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--installer", default=os.path.join(ROOT, "build", "demo", "StarfieldSetup.exe"))
    parser.add_argument("--scrpack", default=os.path.join(ROOT, "build", "native", "bin", "scrpack"))
    parser.add_argument("--work", default=os.path.join(ROOT, "build", "demo", "wine"),
                        help="the run's folder, made fresh (default build/demo/wine)")
    parser.add_argument("--keep", action="store_true", help="keep the prefix at the end")
    parser.add_argument("--gui", action="store_true", help="open the wizard and the uninstaller (needs DISPLAY)")
    parser.add_argument("--wait", type=float, default=10, help="seconds to wait for the uninstaller's deletion")
    parser.add_argument("--pick-arch", action="store_true",
                        help="print the architecture whose stub to pack on this host (win32 or win64) and end")
    args = parser.parse_args()
    if args.pick_arch:
        try:
            print(pick_arch()[0])
            return 0
        except Unrunnable as e:
            print(e, file=sys.stderr)
            return 2
    if args.gui and not os.environ.get("DISPLAY"):
        print("--gui needs a display, and DISPLAY is not set", file=sys.stderr)
        return 2
    try:
        return Lifecycle(args).run()
    except Unrunnable as e:
        print(f"error: {e}", file=sys.stderr)
        return 2
    except (Failure, subprocess.TimeoutExpired, OSError) as e:
        print(f"\nerror: {e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
