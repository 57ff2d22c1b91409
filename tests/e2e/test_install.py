"""Installing for real: the wizard and silent runs copy the screensaver, write the readme and
the uninstaller, register with Windows and hand the screensaver to the shell; failures leave
nothing behind. Every test that changes the system works in a prefix of its own."""
import json
import os
import re
import shutil
import subprocess
import time
import unittest

import scrimage
import winenv
from test_wizard import ACCEPT, LICENCE, german, plain, wizard_view

EXIT_DONE, EXIT_DAMAGED, EXIT_REFUSED, EXIT_FAILED = 0, 1, 2, 3
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
USER_KEY = "HKCU\\Software\\Glimmerdeck\\"
INSTALL_ERROR = "There was an error installing {}. Installation is not complete."
ACCESS_DENIED = "Unable to copy the files. Access is denied. Please select a different directory."
PREVIEW_NOTICE = ("After successful installation screensaver setup would open Windows Screen Saver Settings. "
                  "This window is not displayed in setup preview mode.")
# Not a program: the shell hands it to the registered "install" verb instead of starting it.
PAYLOAD = bytes(range(256)) * 40 + b"not a program"


def entry_key(title):
    """The uninstall entry of an installation of title in the machine's list."""
    return UNINSTALL_KEY + scrimage.uninstall_key_name(title)


def refused_then_other(folder, shown):
    """The wizard's steps for a folder that is refused: typed and installed into, the box read
    and closed, the Directory page read (its box showing `shown`), then C:\\Other taken."""
    return [["wait-window", "TSCRSetup", "*"], ["set-text", "C:\\Program Files\\Aurora\\", folder],
            ["click", "Install"], ["wait-window", "#32770", "*"], ["dump"], ["click", "OK"], ["wait-gone"],
            ["wait-window", "TSCRSetup", "*"], ["wait-state", "--soft", "Directory", "visible"], ["dump"],
            ["set-text", shown, "C:\\Other"], ["click", "Install"], ["wait-exit", "10000"]]


class InstallCase(winenv.E2ETestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        for tool in ("sysprobe.exe", "recorder.exe", "cmdrecorder.exe"):
            if not os.path.isfile(os.path.join(cls.env.bin_dir, tool)):
                raise unittest.SkipTest(f"{tool} not built in {cls.env.bin_dir}")

    def system(self, env):
        """A prefix made ready for an installation: the "install" verb of screensavers and
        powercfg.exe record how they were started. Returns the folder of the records."""
        tools = os.path.join(env.drive_c, "e2e-tools")
        os.makedirs(tools, exist_ok=True)
        recorder = os.path.join(tools, "recorder.exe")
        shutil.copyfile(os.path.join(env.bin_dir, "recorder.exe"), recorder)
        command = f'"{env.win_path(recorder)}" "{env.win_path(os.path.join(tools, "install-verb.txt"))}" "%1"'
        # Wine reads shell verbs from HKCR only.
        for key, data in ((r"HKCR\.scr", "scrfile"), (r"HKCR\scrfile\shell\install\command", command)):
            self.assertEqual(env.wine(["reg", "add", key, "/ve", "/d", data, "/f"]).returncode, 0)
        system32 = env.host_path(self.probe(env, "sysdir"))
        shutil.copyfile(os.path.join(env.bin_dir, "cmdrecorder.exe"), os.path.join(system32, "powercfg.exe"))
        return tools

    def probe(self, env, *args):
        proc = env.wine([os.path.join(env.bin_dir, "sysprobe.exe")] + list(args))
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        return proc.stdout.strip()

    def installer(self, env, pkg, name="setup.exe"):
        path = os.path.join(env.drive_c, "e2e-setup", name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        scrimage.write_installer(pkg, env.stub_exe, path)
        return path

    def files(self, env, win_dir):
        path = env.host_path(win_dir)
        return sorted(os.listdir(path)) if os.path.isdir(path) else None

    def read(self, env, win_path):
        with open(env.host_path(win_path), "rb") as f:
            return f.read()

    def records(self, tools, name):
        path = os.path.join(tools, name)
        if not os.path.isfile(path):
            return []
        with open(path, encoding="utf-8") as f:
            return f.read().splitlines()

    def link(self, env, path):
        """(target, icon) of a shell link, as the shell reads it."""
        target, icon = self.probe(env, "readlink", path).split("|")
        return target.lower(), icon.lower()

    def expected_uninstaller(self, env, pkg):
        with open(env.stub_exe, "rb") as f:
            stub = f.read()
        return pkg.uninstaller(stub)


class WizardInstallTest(InstallCase):
    def test_install_through_the_wizard(self):
        readme = "Starfield\r\n\r\nGr\u00fc\u00dfe, caf\u00e9 \u20ac 5"
        pkg = scrimage.Package(title="Aurora", scr=PAYLOAD, readme=readme, license=LICENCE, license_mode=1,
                               uninstall_entry=True, menu_shortcuts=True, desktop_shortcut=True,
                               power_request_override=True)
        with self.env.isolated(self.id()) as env:
            tools = self.system(env)
            target = "C:\\Program Files\\Aurora\\"
            result = env.drive(self.installer(env, pkg), [], [
                ["wait-window", "TSCRSetup", "*"], ["click", plain(ACCEPT)], ["wait-state", "Next >", "enabled"],
                ["click", "Next >"], ["wait-state", "Directory", "visible"], ["dump"],
                ["click", "Install"], ["wait-state", "--soft", "Readme", "visible", "20000"], ["dump"],
                ["click", "Next >"], ["wait-state", "--soft", "Finished", "visible"], ["dump"],
                ["click", "Finish"], ["wait-exit", "10000"]])
            self.assertDriven(result)
            self.assertEqual(result.exit_code, EXIT_DONE, result)
            directory, readme_page, finished = (wizard_view(w) for w in result.dumps())
            self.assertEqual(directory["directory"], target)
            self.assertEqual({k: readme_page[k] for k in ("page", "title", "next", "back", "cancel")},
                             {"page": "Readme", "title": "Information", "next": ("Next >", True, True),
                              "back": ("< Back", False, True), "cancel": ("Cancel", True, False)}, result)
            self.assertEqual({k: finished[k] for k in ("page", "title", "next", "cancel")},
                             {"page": "Finished", "title": "Finish", "next": ("Finish", True, True),
                              "cancel": ("Cancel", True, False)}, result)
            self.assertEqual([w["class"] for w in result.windows_seen], ["TSCRSetup"], result)

            self.assertEqual(self.files(env, target), ["Aurora Readme.txt", "Aurora.scr", "uninstall Aurora.exe"])
            self.assertEqual(self.read(env, target + "Aurora.scr"), PAYLOAD)
            # Every character of this readme has its place in the prefix's code page, 1252.
            self.assertEqual(self.read(env, target + "Aurora Readme.txt"), readme.encode("cp1252"))
            self.assertEqual(self.read(env, target + "uninstall Aurora.exe"), self.expected_uninstaller(env, pkg))

            self.assertEqual(env.reg_query(entry_key("Aurora"), "DisplayName"), "Aurora")
            self.assertEqual(env.reg_query(entry_key("Aurora"), "UninstallString"),
                             f'"{target}uninstall Aurora.exe"')
            self.assertEqual(env.reg_query(USER_KEY + "Aurora", "FileName_"), target + "Aurora.scr")

            programs, desktop = self.probe(env, "folder", "2"), self.probe(env, "folder", "0")
            menu = programs + "\\Aurora\\"
            self.assertEqual(self.files(env, menu), ["Preview Aurora.lnk", "Readme.lnk", "Uninstall Aurora.lnk"])
            for link, file in (("Preview Aurora.lnk", "Aurora.scr"), ("Readme.lnk", "Aurora Readme.txt"),
                               ("Uninstall Aurora.lnk", "uninstall Aurora.exe")):
                with self.subTest(link):
                    full = (target + file).lower()
                    self.assertEqual(self.link(env, menu + link), (full, full + ",0"))
            full = (target + "Aurora.scr").lower()
            self.assertEqual(self.link(env, desktop + "\\Preview Aurora.lnk"), (full, full + ",0"))

            self.assertEqual(self.records(tools, "install-verb.txt"), [target + "Aurora.scr"])
            system32 = self.probe(env, "sysdir")
            with open(os.path.join(env.host_path(system32), "powercfg.exe.log"), encoding="utf-8") as f:
                self.assertEqual(f.read().splitlines()[0].split(" ", 1)[1],
                                 "/requestsoverride process Aurora.scr display")
            # Each works in a folder of the installation's or the system's, never in the one the
            # setup was started from (the driver's).
            self.assertEqual(self.records(tools, "install-verb.txt.cwd"), [target.rstrip("\\")])
            self.assertEqual(self.records(env.host_path(system32), "powercfg.exe.cwd"), [system32])

    def test_failed_installation_leaves_nothing(self):
        """The uninstaller cannot be written (a folder has its name): the screensaver and the
        readme copy go again, nothing is registered, the user is told."""
        pkg = scrimage.Package(title="Aurora", scr=PAYLOAD, readme="Hello", uninstall_entry=True,
                               menu_shortcuts=True, desktop_shortcut=True, power_request_override=True)
        with self.env.isolated(self.id()) as env:
            tools = self.system(env)
            os.makedirs(env.host_path("C:\\Savers\\uninstall Aurora.exe"))
            path = self.installer(env, pkg)
            result = env.drive(path, [], [
                ["wait-window", "TSCRSetup", "*"], ["set-text", "C:\\Program Files\\Aurora\\", "C:\\Savers"],
                ["click", "Install"], ["wait-window", "#32770", "*"], ["dump"], ["click", "OK"],
                ["wait-exit", "10000"]])
            self.assertDriven(result)
            self.assertEqual(winenv.message_box(result.dumps()[0]),
                             {"class": "#32770", "caption": "Aurora Setup", "text": INSTALL_ERROR.format("Aurora"),
                              "icon": "error", "buttons": ["OK"]})
            self.assertEqual(result.exit_code, EXIT_FAILED)
            silent = env.drive(path, ["-silent", "C:\\Savers"])
            self.assertDriven(silent)
            self.assertEqual((silent.exit_code, silent.windows_seen), (EXIT_FAILED, []), silent)

            self.assertEqual(self.files(env, "C:\\Savers"), ["uninstall Aurora.exe"], "only what was there")
            self.assertIsNone(env.reg_query(entry_key("Aurora")))
            self.assertIsNone(env.reg_query(USER_KEY + "Aurora"))
            self.assertIsNone(self.files(env, self.probe(env, "folder", "2") + "\\Aurora"))
            self.assertNotIn("Preview Aurora.lnk", self.files(env, self.probe(env, "folder", "0")))
            self.assertFalse(os.path.exists(os.path.join(env.host_path(self.probe(env, "sysdir")),
                                                         "powercfg.exe.log")), "no override requested")

    def test_target_that_cannot_be_created(self):
        """The remembered file of the last installation here cannot be opened: back to the
        Directory page, where another folder works."""
        with self.env.isolated(self.id()) as env:
            self.system(env)
            os.makedirs(env.host_path("C:\\Savers\\Held.scr"))
            with open(env.host_path("C:\\Savers\\Aurora.scr"), "wb") as f:
                f.write(b"theirs")
            self.assertEqual(env.wine(["reg", "add", USER_KEY + "Aurora", "/v", "FileName_", "/d",
                                       "C:\\Savers\\Held.scr", "/f"]).returncode, 0)
            result = env.drive(self.installer(env, scrimage.Package(title="Aurora", scr=PAYLOAD)), [],
                           refused_then_other("C:\\Savers", "C:\\Savers\\"))
            self.assertDriven(result)
            box, back = result.dumps()
            self.assertEqual(winenv.message_box(box)["text"], ACCESS_DENIED)
            self.assertEqual(winenv.message_box(box)["caption"], "Screensaver Setup")
            self.assertEqual((wizard_view(back)["page"], wizard_view(back)["next"]),
                             ("Directory", ("Install", True, True)), result)
            self.assertEqual(result.exit_code, EXIT_DONE)
            self.assertEqual(self.read(env, "C:\\Savers\\Aurora.scr"), b"theirs")
            self.assertEqual(self.files(env, "C:\\Savers"), ["Aurora.scr", "Held.scr"])
            self.assertEqual(self.read(env, "C:\\Other\\Aurora.scr"), PAYLOAD)

    def test_preview_changes_nothing(self):
        pkg = scrimage.Package(title="Aurora", scr=PAYLOAD, uninstall_entry=True, menu_shortcuts=True,
                               desktop_shortcut=True, base_dir="C:\\Preview")
        with self.env.isolated(self.id()) as env:
            tools = self.system(env)
            result = env.drive(self.installer(env, pkg), ["-previewonly"], [
                ["wait-window", "TSCRSetup", "*"], ["click", "Install"], ["wait-window", "#32770", "*"], ["dump"],
                ["click", "OK"], ["wait-exit", "10000"]])
            self.assertDriven(result)
            self.assertEqual(winenv.message_box(result.dumps()[0]),
                             {"class": "#32770", "caption": "Aurora", "text": PREVIEW_NOTICE, "icon": "information",
                              "buttons": ["OK"]})
            self.assertEqual(result.exit_code, EXIT_DONE)
            self.assertFalse(os.path.exists(env.host_path("C:\\Preview")))
            self.assertIsNone(env.reg_query(entry_key("Aurora")))
            self.assertIsNone(env.reg_query(USER_KEY + "Aurora"))
            self.assertIsNone(self.files(env, self.probe(env, "folder", "2") + "\\Aurora"))
            self.assertEqual(self.records(tools, "install-verb.txt"), [])


# Rights of a file or folder in SDDL (see `wintest dacl`): the letter codes Windows writes, and
# which of their bits let a holder change the folder or what is in it.
SDDL_RIGHTS = {"GA": 0x10000000, "GX": 0x20000000, "GW": 0x40000000, "GR": 0x80000000, "FA": 0x1F01FF,
               "FR": 0x120089, "FW": 0x120116, "FX": 0x1200A0, "SD": 0x10000, "RC": 0x20000, "WD": 0x40000,
               "WO": 0x80000, "CC": 0x1, "DC": 0x2, "LC": 0x4, "SW": 0x8, "RP": 0x10, "WP": 0x20, "DT": 0x40,
               "LO": 0x80, "CR": 0x100}
# Write data or add a file, append or add a folder, write attributes, delete a child, delete,
# change the rights or the owner; all rights; write.
CHANGING = 0x2 | 0x4 | 0x10 | 0x40 | 0x100 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000


def access_entries(sddl):
    """(owner, [(type, trustee, rights)]) of an SDDL string's owner and access list."""
    owner = re.match(r"O:([^:]*?)(?=[A-Z]:|$)", sddl)
    entries = []
    for ace in re.findall(r"\(([^)]*)\)", sddl.split("D:", 1)[1] if "D:" in sddl else ""):
        kind, _, rights, _, _, trustee = ace.split(";")[:6]
        mask = int(rights, 16) if rights.lower().startswith("0x") else sum(
            SDDL_RIGHTS[rights[i:i + 2]] for i in range(0, len(rights), 2))
        entries.append((kind, trustee, mask))
    return (owner.group(1) if owner else None), entries


class FolderAccessTest(InstallCase):
    """A folder the setup makes outside the Windows and Program Files folders gets an access list
    of its own, which lets no other user change what the elevated uninstaller later trusts; a
    folder that was there keeps its own."""

    def dacl(self, env, path):
        proc = env.wine([env.wintest_exe, "dacl", path])
        line = json.loads(proc.stdout.strip().splitlines()[-1])
        self.assertTrue(line["ok"], f"{path}: {line}")
        return line["sddl"]

    def test_folders_made_by_the_setup(self):
        pkg = scrimage.Package(title="Aurora", scr=PAYLOAD)
        with self.env.isolated(self.id()) as env:
            self.system(env)
            os.makedirs(env.host_path("C:\\Existing"))
            self.assertEqual(env.wine(["cmd", "/c", "mkdir", "C:\\Program Files\\Reference"]).returncode, 0)
            before = self.dacl(env, "C:\\Existing")
            path = self.installer(env, pkg)
            for target in ("C:\\Savers\\Aurora", "C:\\Existing", "C:\\Program Files\\Aurora"):
                result = env.drive(path, ["-silent", target])
                self.assertDriven(result)
                self.assertEqual(result.exit_code, EXIT_DONE, result)

            for made in ("C:\\Savers", "C:\\Savers\\Aurora"):
                with self.subTest(made):
                    owner, entries = access_entries(self.dacl(env, made))
                    allowed = [(trustee, mask) for kind, trustee, mask in entries if kind == "A"]
                    self.assertNotIn("WD", [trustee for trustee, _ in allowed], "everyone may do nothing")
                    self.assertEqual([t for t, mask in allowed if mask & CHANGING and t not in ("SY", "BA", "OW", owner)],
                                     [], "only the system, the administrators and the owner may change it")
            self.assertEqual(self.dacl(env, "C:\\Existing"), before, "a folder that was there stays as it is")
            self.assertEqual(self.dacl(env, "C:\\Program Files\\Aurora"), self.dacl(env, "C:\\Program Files\\Reference"),
                             "below Program Files, what any folder made there has")


    def test_folders_made_below_the_windows_folder(self):
        """Users may add to the Windows folder's Temp: a folder made there gets the setup's own
        access list, while one made right in the Windows folder inherits what is there. Wine
        keeps no list of its own, only the Unix permissions: a folder made without a list gets
        what its wineserver's umask leaves, and with none that is everything for everyone,
        which tells the two apart."""
        pkg = scrimage.Package(title="Aurora", scr=PAYLOAD)
        previous = os.umask(0)
        try:
            with self.env.isolated(self.id()) as env:
                os.umask(previous)
                self.system(env)
                path = self.installer(env, pkg)
                windows = self.probe(env, "windir")
                for target in (windows + "\Temp\Aurora", windows + "\Aurora"):
                    result = env.drive(path, ["-silent", target])
                    self.assertDriven(result)
                    self.assertEqual(result.exit_code, EXIT_DONE, result)

                def changing(made):
                    owner, entries = access_entries(self.dacl(env, made))
                    return [t for kind, t, mask in entries if kind == "A" and mask & CHANGING and
                            t not in ("SY", "BA", "OW", owner)]
                self.assertEqual(changing(windows + "\Temp\Aurora"), [], "the setup's own list")
                self.assertEqual(changing(windows + "\Aurora"), ["WD"], "no list of its own")
        finally:
            os.umask(previous)


# Everyone may add, delete and re-permit: a list a user gives a folder for others to change.
OPEN_TO_EVERYONE = "D:(A;OICI;0x1301bf;;;WD)"
# What the setup gives a folder it makes outside the system's own.
PROTECTED = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)(A;OICI;0x1200a9;;;BU)"
# A Unix user of no Windows account: Wine names the owner of its files Anonymous Logon.
OTHER_UID = 4242


class ForeignFolderTest(InstallCase):
    """An elevated run (Wine's user is an administrator with an elevated token) installs into no
    existing folder that other users could change or swap away, and writes nothing there: it is
    refused as a folder the setup cannot write to."""

    def set_dacl(self, env, path, sddl):
        proc = env.wine([env.wintest_exe, "set-dacl", path, sddl])
        self.assertEqual(json.loads(proc.stdout.strip().splitlines()[-1]), {"step": "set-dacl", "ok": True}, proc)

    def foreign_owner(self, env, path):
        try:
            os.chown(env.host_path(path), OTHER_UID, -1)
        except PermissionError:
            self.skipTest("only root gives a file another owner")

    def test_silent_runs(self):
        pkg = scrimage.Package(title="Aurora", scr=PAYLOAD, uninstall_entry=True)
        with self.env.isolated(self.id()) as env:
            self.system(env)
            self.assertEqual(self.probe(env, "elevated"), "true")
            for folder in ("C:\\Open", "C:\\Theirs", "C:\\OpenAbove\\Savers", "C:\\Guarded"):
                os.makedirs(env.host_path(folder))
            self.set_dacl(env, "C:\\Open", OPEN_TO_EVERYONE)
            self.set_dacl(env, "C:\\OpenAbove", OPEN_TO_EVERYONE)
            self.set_dacl(env, "C:\\OpenAbove\\Savers", PROTECTED)
            self.set_dacl(env, "C:\\Guarded", PROTECTED)
            path = self.installer(env, pkg)
            for folder, arrange in (("C:\\Open", None), ("C:\\Theirs", self.foreign_owner),
                                    ("C:\\OpenAbove\\Savers", None), ("C:\\OpenAbove\\New", None)):
                with self.subTest(folder):
                    if arrange:
                        arrange(env, folder)
                    result = env.drive(path, ["/S"], raw_args=f"/D={folder}")
                    self.assertDriven(result)
                    self.assertEqual((result.exit_code, result.windows_seen), (EXIT_REFUSED, []), result)
                    self.assertIn(self.files(env, folder), ([], None), "nothing written")
            self.assertIsNone(env.reg_query(UNINSTALL_KEY + "Aurora"))
            self.assertIsNone(env.reg_query(USER_KEY + "Aurora"))

            for folder in ("C:\\Guarded", "C:\\Made\\Here"):
                with self.subTest(folder):
                    result = env.drive(path, ["/S"], raw_args=f"/D={folder}")
                    self.assertDriven(result)
                    self.assertEqual(result.exit_code, EXIT_DONE, result)
                    self.assertEqual(self.files(env, folder), ["Aurora.scr", "uninstall Aurora.exe"])

    def test_wizard_goes_back_to_the_directory_page(self):
        with self.env.isolated(self.id()) as env:
            self.system(env)
            os.makedirs(env.host_path("C:\\Open"))
            self.set_dacl(env, "C:\\Open", OPEN_TO_EVERYONE)
            result = env.drive(self.installer(env, scrimage.Package(title="Aurora", scr=PAYLOAD)), [],
                           refused_then_other("C:\\Open", "C:\\Open"))
            self.assertDriven(result)
            box, back = result.dumps()
            self.assertEqual(winenv.message_box(box)["text"], ACCESS_DENIED)
            self.assertEqual((wizard_view(back)["page"], wizard_view(back)["next"]),
                             ("Directory", ("Install", True, True)), result)
            self.assertEqual(result.exit_code, EXIT_DONE)
            self.assertEqual(self.files(env, "C:\\Open"), [])
            self.assertEqual(self.read(env, "C:\\Other\\Aurora.scr"), PAYLOAD)


class SilentInstallTest(InstallCase):
    def test_silent_install_and_names_that_are_taken(self):
        """No window and no settings dialog; a taken name gets a number, and the next
        installation into the same folder replaces the remembered file."""
        pkg = scrimage.Package(title="Aurora", scr=PAYLOAD, readme="Hello \u65e5\u672c", uninstall_entry=True,
                               menu_shortcuts=True)
        target = "C:\\Program Files\\My Savers\\"
        with self.env.isolated(self.id()) as env:
            tools = self.system(env)
            os.makedirs(env.host_path(target))
            with open(env.host_path(target + "Aurora.scr"), "wb") as f:
                f.write(b"theirs")
            path = self.installer(env, pkg)
            for run in range(2):
                result = env.drive(path, ["-silent", target.rstrip("\\")])
                self.assertDriven(result)
                self.assertEqual((result.exit_code, result.windows_seen), (EXIT_DONE, []), result)
            self.assertEqual(self.files(env, target),
                             ["Aurora Readme.txt", "Aurora.scr", "Aurora1.scr", "uninstall Aurora1.exe"])
            self.assertEqual(self.read(env, target + "Aurora.scr"), b"theirs")
            self.assertEqual(self.read(env, target + "Aurora1.scr"), PAYLOAD)
            # Characters outside the code page: UTF-8 with a byte-order mark.
            self.assertEqual(self.read(env, target + "Aurora Readme.txt"), "\ufeffHello \u65e5\u672c".encode())
            self.assertEqual(env.reg_query(entry_key("Aurora"), "UninstallString"),
                             f'"{target}uninstall Aurora1.exe"')
            self.assertEqual(env.reg_query(USER_KEY + "Aurora", "FileName_"), target + "Aurora1.scr")
            menu = self.probe(env, "folder", "2") + "\\Aurora\\"
            self.assertEqual(self.link(env, menu + "Uninstall Aurora.lnk")[0], (target + "uninstall Aurora1.exe").lower())
            self.assertEqual(self.records(tools, "install-verb.txt"), [], "an unattended run opens no settings")

    def test_an_installation_ended_mid_copy_leaves_no_partial_file(self):
        """The process is killed while the screensaver is being written: the partial file goes
        with it, and the next run installs under the plain name, not a numbered one beside it."""
        big = scrimage.Package(title="Aurora", scr=bytes(range(256)) * (2 << 20), uninstall_entry=True)
        with self.env.isolated(self.id()) as env:
            self.system(env)
            path = self.installer(env, big)
            scr = env.host_path("C:\\Big\\Aurora.scr")
            proc = subprocess.Popen([env.loader, env.win_path(path), "-silent", "C:\\Big"], env=env.env(),
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            seen = 0
            try:
                deadline = time.monotonic() + winenv.seconds(60)
                while not seen and proc.poll() is None and time.monotonic() < deadline:
                    seen = os.path.getsize(scr) if os.path.exists(scr) else 0
                    time.sleep(0.001)
                proc.kill()
            finally:
                proc.wait()
            self.assertTrue(0 < seen < len(big.scr), f"{seen} of {len(big.scr)} bytes seen during the copy")
            # The server closes the ended process's handles.
            deadline = time.monotonic() + winenv.seconds(20)
            while os.path.exists(scr) and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertEqual(self.files(env, "C:\\Big"), [])
            self.assertIsNone(env.reg_query(entry_key("Aurora")))

            result = env.drive(path, ["-silent", "C:\\Big"])
            self.assertDriven(result)
            self.assertEqual(result.exit_code, EXIT_DONE, result)
            self.assertEqual(self.files(env, "C:\\Big"), ["Aurora.scr", "uninstall Aurora.exe"])
            self.assertEqual(os.path.getsize(scr), len(big.scr))

    def test_silent_runs_never_load_the_window_side(self):
        """Nothing is shown, so the common controls and their visual styles stay out of the
        process, and the display driver too unless COM needs it for the links: an unattended
        run pays for its work alone."""
        window_side = ["comctl32.dll", "uxtheme.dll", "winex11.drv"]
        links = scrimage.Package(title="Aurora", scr=PAYLOAD, uninstall_entry=True, menu_shortcuts=True)
        plain_pkg = scrimage.Package(title="Borealis", scr_name="Borealis.scr", scr=PAYLOAD, uninstall_entry=True)
        with self.env.isolated(self.id()) as env:
            self.system(env)
            with_links = self.installer(env, links, name="links.exe")
            without = self.installer(env, plain_pkg, name="plain.exe")
            damaged = os.path.join(os.path.dirname(without), "damaged.exe")
            with open(without, "rb") as f:
                data = f.read()
            with open(damaged, "wb") as f:
                f.write(data[:-1])
            cases = [
                ("installation with links", with_links, ["C:\\Aurora"], EXIT_DONE, ["comctl32.dll"]),
                ("installation without links", without, ["C:\\Borealis"], EXIT_DONE, window_side),
                ("damaged package", damaged, [], EXIT_DAMAGED, window_side + ["shell32.dll", "ole32.dll"]),
            ]
            for name, program, args, code, absent in cases:
                with self.subTest(name):
                    proc = env.wine([env.win_path(program), "-silent"] + args, debug="+pid,+loaddll")
                    self.assertEqual(proc.returncode, code, proc.stderr[-3000:])
                    loaded = self.loaded_modules(proc.stderr, env.win_path(program))
                    self.assertIn("user32.dll", loaded, "the trace names what the process loaded")
                    self.assertEqual([m for m in absent if m in loaded], [], loaded)
            self.assertEqual(self.files(env, "C:\\Aurora"), ["Aurora.scr", "uninstall Aurora.exe"])
            self.assertEqual(self.files(env, "C:\\Borealis"), ["Borealis.scr", "uninstall Borealis.exe"])

    @staticmethod
    def loaded_modules(trace, program):
        """File names (lower case) of the modules that the process running program loaded, from
        Wine's +pid,+loaddll trace; other processes (the settings, a hand-off) are not counted."""
        loads = [(pid, path.replace("\\\\", "\\")) for pid, path in
                 re.findall(r'^([0-9a-f]+):[0-9a-f]+:trace:loaddll:\w+ Loaded L"(.*?)"', trace, re.M)]
        own = next(pid for pid, path in loads if path.lower() == program.lower())
        return sorted({path.rsplit("\\", 1)[-1].lower() for pid, path in loads if pid == own})

    def test_translated_names(self):
        text, de = german()
        pkg = scrimage.Package(title="Nordlicht", scr_name="Licht.scr", scr=PAYLOAD, readme="Hallo",
                               language=text, menu_shortcuts=True, desktop_shortcut=True)
        with self.env.isolated(self.id()) as env:
            self.system(env)
            result = env.drive(self.installer(env, pkg), ["-silent", "C:\\Nordlicht"])
            self.assertDriven(result)
            self.assertEqual(result.exit_code, EXIT_DONE, result)
            uninstall = de.get("Uninstall", "Uninstall")
            readme = de.get("Readme", "Readme")
            preview = de.get("Preview", "Preview")
            lowered = "".join(c.lower() if "A" <= c <= "Z" else c for c in uninstall)
            self.assertEqual(self.files(env, "C:\\Nordlicht"),
                             sorted(["Licht.scr", f"Nordlicht {readme}.txt", f"{lowered} Licht.exe"]))
            self.assertEqual(self.files(env, self.probe(env, "folder", "2") + "\\Nordlicht"),
                             sorted([f"{preview} Nordlicht.lnk", f"{readme}.lnk", f"{uninstall} Nordlicht.lnk"]))
            self.assertIn(f"{preview} Nordlicht.lnk", self.files(env, self.probe(env, "folder", "0")))
