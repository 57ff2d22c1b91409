"""The switches deployment tools pass (/S, /D=, /LOG=, -log, /?), and the log of a run: an
installation as a package manager starts it, the uninstallation as Windows starts it, and the
temporary copy that appends its part."""
import os
import re
import struct

import scrimage
import test_image
import winenv
from test_install import USER_KEY, entry_key
from test_lifecycle import SILENT, LifecycleCase, package
from test_wizard import wizard_view

EXIT_DONE, EXIT_FAILED = 0, 3
RT_VERSION = 16
APP_TITLE = "Screensaver Setup"
LOG_LINE = re.compile(r"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) \[(\d+)\] (.*)")
HANDOFF = re.compile(r'Run (.*\\Parvolinexuninst\d{1,7}\.exe) -delfile "([^"]+)" "/LOG=([^"]+)"')


def file_version(image):
    """The FILEVERSION of an image's version resource, as "a.b.c.d"."""
    (resource,) = [data for (kind, _), data in test_image.read_pe(image)["resources"].items() if kind == RT_VERSION]
    fixed = resource.index(struct.pack("<I", 0xFEEF04BD))
    ms, ls = struct.unpack_from("<II", resource, fixed + 8)
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


class SwitchesTest(LifecycleCase):
    def log(self, env, win_path):
        """[(process id, text)] of the log's lines: UTF-8 behind one byte-order mark, each line
        ended by CR LF and begun by the time and the process id."""
        with open(env.host_path(win_path), "rb") as f:
            data = f.read()
        self.assertTrue(data.startswith(b"\xef\xbb\xbf"), data[:40])
        text = data[3:].decode("utf-8")
        self.assertTrue(text.endswith("\r\n"), text[-80:])
        lines = []
        for line in text[:-2].split("\r\n"):
            match = LOG_LINE.fullmatch(line)
            self.assertIsNotNone(match, f"{line!r} in\n{text}")
            lines.append((int(match.group(2)), match.group(3)))
        return lines

    def start_line(self, env, result):
        """What a run's first line says: the stub's version and its command line as started."""
        return f"Setup {file_version(env.stub())}: {result.steps('start')[0]['cmdline']}"

    def install_steps(self, env, target):
        programs, desktop, _ = self.folders(env)
        return [
            f"Create folder {target}",
            f"Create file {target}\\Aurora.scr",
            f"Create file {target}\\Aurora Readme.txt",
            f"Create file {target}\\uninstall Aurora.exe",
            f"Write key {entry_key('Aurora')}",
            f"Create folder {programs}Aurora",
            f"Create link {programs}Aurora\\Preview Aurora.lnk",
            f"Create link {programs}Aurora\\Readme.lnk",
            f"Create link {programs}Aurora\\Uninstall Aurora.lnk",
            f"Create link {desktop}Preview Aurora.lnk",
            f"Write value {USER_KEY}Aurora\\FileName_",
        ]

    def test_silent_installation_into_the_folder_given_last(self):
        """As winget and Intune write it: /S, the log, and the folder last, unquoted, with blanks."""
        target = "C:\\Program Files\\My Savers"
        log = "C:\\Deploy Logs\\Aurora setup.log"
        with self.env.isolated(self.id()) as env:
            self.system(env)
            os.makedirs(env.host_path("C:\\Deploy Logs"))
            path = self.installer(env, package("Aurora", "Aurora.scr"), "Aurora.exe")
            result = env.drive(path, raw_args=f'/S /LOG="{log}" /D={target}')
            self.assertDriven(result)
            self.assertEqual((result.exit_code, result.windows_seen), (EXIT_DONE, []), result)
            self.assertEqual(self.state(env, "Aurora", target), self.installed("Aurora", target, "Aurora.scr"))
            self.assertIsNone(self.files(env, "C:\\Program Files\\Aurora"), "not the default folder")

            lines = self.log(env, log)
            self.assertEqual({pid for pid, _ in lines}, {result.steps("start")[0]["pid"]})
            self.assertEqual([text for _, text in lines],
                             [self.start_line(env, result), "Silent install"] + self.install_steps(env, target) +
                             ["Exit code 0"])

    def test_silent_uninstallation_and_its_copy_append_to_the_log(self):
        """The uninstaller as Windows starts it, with -silent and a log that the installation
        began: it names what it removed, and the temporary copy its removal of the uninstaller."""
        target = "C:\\Aurora Savers"
        log = "C:\\Logs\\aurora.log"
        with self.env.isolated(self.id()) as env:
            self.system(env)
            os.makedirs(env.host_path("C:\\Logs"))
            path = self.installer(env, package("Aurora", "Aurora.scr"), "Aurora.exe")
            installed = env.drive(path, ["-silent", target, "-log", log])
            self.assertDriven(installed)
            self.assertEqual(installed.exit_code, EXIT_DONE, installed)
            result = self.uninstall(env, "Aurora", ["-silent", f"/LOG={log}"], SILENT)
            self.assertEqual((result.exit_code, result.windows_seen), (EXIT_DONE, []), result)
            self.assertEqual(self.state(env, "Aurora", target), self.removed())

            lines = self.log(env, log)
            runs = list(dict.fromkeys(pid for pid, _ in lines))
            self.assertEqual(runs[:2], [installed.steps("start")[0]["pid"], result.steps("start")[0]["pid"]])
            self.assertEqual(len(runs), 3, "the installation, the uninstaller and its temporary copy")
            installation, uninstaller, copy = ([text for pid, text in lines if pid == run] for run in runs)
            self.assertEqual(installation, [self.start_line(env, installed), "Silent install"] +
                             self.install_steps(env, target) + ["Exit code 0"])

            handoff = [HANDOFF.fullmatch(text) for text in uninstaller]
            handoff = next(match for match in handoff if match)
            program, removed, passed_log = handoff.groups()
            self.assertEqual(passed_log, log)
            self.assertEqual(self.temp_copies(env), {program.rsplit("\\", 1)[1]})
            programs, desktop, temp = self.folders(env)
            self.assertEqual(program.lower(), (temp + program.rsplit("\\", 1)[1]).lower())
            self.assertEqual(uninstaller, [
                self.start_line(env, result),
                "Silent uninstall",
                f"Remove file {target}\\Aurora.scr",
                f"Remove value {USER_KEY}Aurora\\FileName_",
                f"Remove key {USER_KEY}Aurora\\PlayList: not found",
                f"Remove file {target}\\Aurora Readme.txt",
                f"Create file {program}",
                handoff.group(0),
                f"Remove key {entry_key('Aurora')}",
                f"Remove link {programs}Aurora\\Preview Aurora.lnk",
                f"Remove link {programs}Aurora\\Readme.lnk",
                f"Remove link {programs}Aurora\\Uninstall Aurora.lnk",
                f"Remove folder {programs}Aurora",
                f"Remove link {desktop}Preview Aurora.lnk",
                "Exit code 0",
            ])
            self.assertEqual(copy[1:], ["Uninstaller removal", f"Remove at restart: {program}",
                                        f"Remove file {removed}", "Exit code 0"])
            self.assertRegex(copy[0], rf'^Setup {re.escape(file_version(env.stub()))}: .*Parvolinexuninst'
                                      rf'\d+\.exe"? -delfile ')

    def test_failures_name_the_systems_code(self):
        """The uninstaller's name is taken by a folder: the log says which step failed with
        which code, and what the installation took back. A log that cannot be opened changes
        nothing else."""
        pkg = package("Aurora", "Aurora.scr")
        with self.env.isolated(self.id()) as env:
            self.system(env)
            os.makedirs(env.host_path("C:\\Savers\\uninstall Aurora.exe"))
            os.makedirs(env.host_path("C:\\Logs"))
            path = self.installer(env, pkg, "Aurora.exe")
            result = env.drive(path, ["/S", "/LOG=C:\\Logs\\failed.log"], raw_args="/D=C:\\Savers")
            self.assertDriven(result)
            self.assertEqual((result.exit_code, result.windows_seen), (EXIT_FAILED, []), result)
            self.assertEqual(self.files(env, "C:\\Savers"), ["uninstall Aurora.exe"], "only what was there")
            # A new file never takes a name that is there: Windows answers ERROR_FILE_EXISTS (80),
            # also for a folder of that name.
            self.assertEqual([text for _, text in self.log(env, "C:\\Logs\\failed.log")], [
                self.start_line(env, result),
                "Silent install",
                "Create file C:\\Savers\\Aurora.scr",
                "Create file C:\\Savers\\Aurora Readme.txt",
                "Create file C:\\Savers\\uninstall Aurora.exe: failed, error 80",
                "Remove file C:\\Savers\\Aurora Readme.txt",
                "Remove file C:\\Savers\\Aurora.scr",
                "Exit code 3",
            ])

            result = env.drive(path, ["/S", "/LOG=C:\\No Such Folder\\setup.log"], raw_args="/D=C:\\Other")
            self.assertDriven(result)
            self.assertEqual((result.exit_code, result.windows_seen), (EXIT_DONE, []), result)
            self.assertIn("uninstall Aurora.exe", self.files(env, "C:\\Other"))
            self.assertFalse(os.path.exists(env.host_path("C:\\No Such Folder")))

    def test_log_goes_only_into_a_file_this_account_alone_wrote(self):
        """A log path another user prepared, as any user can in the system account's %TEMP%:
        another name of a file (a hard link), a link, a folder link on the way, a file they
        own. The run goes on without a log and ends as it would; what is there stays as it
        was, and a file made on the way to the refusal goes again. A log this account wrote
        before is appended to."""
        pkg = package("Aurora", "Aurora.scr")
        with self.env.isolated(self.id()) as env:
            self.system(env)
            config, notes = "C:\\Victim\\config.txt", "C:\\Victim\\notes.txt"
            for folder in ("C:\\Logs", "C:\\Victim"):
                os.makedirs(env.host_path(folder))
            for victim in (config, notes):
                with open(env.host_path(victim), "wb") as f:
                    f.write(b"precious")
            made = env.wine([env.wintest_exe, "hardlink", config, "C:\\Logs\\hard.log"])
            self.assertEqual(made.stdout.strip(), '{"step":"hardlink","ok":true}', made)
            # Wine shows a host link as what it leads to, a file of one name here; its own path
            # gives it away.
            os.symlink(env.host_path(notes), env.host_path("C:\\Logs\\link.log"))
            os.symlink(env.host_path("C:\\Victim"), env.host_path("C:\\Linked"))
            with open(env.host_path("C:\\Logs\\theirs.log"), "wb") as f:
                f.write(b"theirs")
            path = self.installer(env, pkg, "Aurora.exe")
            cases = [("C:\\Logs\\hard.log", b"precious"), ("C:\\Logs\\link.log", b"precious"),
                     ("C:\\Linked\\setup.log", None), ("C:\\Logs\\theirs.log", b"theirs")]
            for n, (log, left) in enumerate(cases):
                with self.subTest(log):
                    if left == b"theirs":
                        try:
                            os.chown(env.host_path(log), 4242, -1)  # Wine: owned by Anonymous Logon
                        except PermissionError:
                            self.skipTest("only root gives a file another owner")
                    result = env.drive(path, ["/S", f"/LOG={log}"], raw_args=f"/D=C:\\Savers\\{n}")
                    self.assertDriven(result)
                    self.assertEqual((result.exit_code, result.windows_seen), (EXIT_DONE, []), result)
                    self.assertIn("uninstall Aurora.exe", self.files(env, f"C:\\Savers\\{n}"))
                    self.assertEqual((self.read(env, config), self.read(env, notes)), (b"precious", b"precious"))
                    self.assertEqual(self.files(env, "C:\\Victim"), ["config.txt", "notes.txt"])
                    if left is None:
                        self.assertFalse(os.path.exists(env.host_path(log)))
                    else:
                        self.assertEqual(self.read(env, log), left)

            own = "C:\\Logs\\own.log"
            for run in range(2):
                result = env.drive(path, ["/S", f"/LOG={own}"], raw_args="/D=C:\\Savers\\own")
                self.assertDriven(result)
                self.assertEqual(result.exit_code, EXIT_DONE, result)
            starts = [text for _, text in self.log(env, own) if text.startswith("Setup ")]
            self.assertEqual(len(starts), 2, "the second run appended")

    def test_folder_given_to_the_wizard(self):
        """Without /S, /D= puts its folder into the wizard's box, where the user may keep it.
        Without a readme the wizard ends with the installation."""
        target = "C:\\Program Files\\My Savers"
        with self.env.isolated(self.id()) as env:
            self.system(env)
            path = self.installer(env, scrimage.Package(title="Aurora", scr=b"not a program" * 50), "Aurora.exe")
            result = env.drive(path, raw_args=f"/D={target}", steps=[
                # The folder box is filled once the page shows: wait for its text, not the page.
                ["wait-window", "TSCRSetup", "*"], ["wait-state", "--soft", target, "visible"], ["dump"],
                ["click", "Install"], ["wait-exit", "20000"]])
            self.assertDriven(result)
            self.assertEqual(wizard_view(result.dumps()[0])["directory"], target)
            self.assertEqual(result.exit_code, EXIT_DONE, result)
            self.assertEqual(self.files(env, target), ["Aurora.scr", "uninstall Aurora.exe"])


class HelpTest(winenv.E2ETestCase):
    def test_help_box(self):
        """/? and -? show the switches and exit codes and end with 0, for an installer and for
        the bare stub alike; nothing is installed."""
        installer = os.path.join(self.work(), "setup.exe")
        scrimage.write_installer(scrimage.Package(title="Aurora", base_dir="C:\\Help Test"), self.env.stub_exe,
                                 installer)
        for name, program, switch in (("installer", installer, "/?"), ("bare stub", self.env.setup_exe, "-?")):
            with self.subTest(name):
                result = self.env.drive(program, [switch], [
                    ["wait-window", "#32770", "*"], ["dump"], ["click", "OK"], ["wait-exit", "10000"]])
                self.assertDriven(result)
                box = winenv.message_box(result.dumps()[0])
                self.assertEqual({k: box[k] for k in ("class", "caption", "icon", "buttons")},
                                 {"class": "#32770", "caption": APP_TITLE, "icon": "information", "buttons": ["OK"]})
                for part in ("/S\t", "/D=folder\t", "/LOG=file, -log file\t", "-silent [folder]\t", "-previewonly\t",
                             "0\tdone", "1\tdamaged package", "2\tfolder refused", "3\tfailed", "4\tcancelled",
                             "3010\tdone, restart to complete"):
                    self.assertIn(part, box["text"])
                self.assertEqual(result.exit_code, EXIT_DONE)
                self.assertEqual(len(result.windows_seen), 1, result)
        self.assertFalse(os.path.exists(self.env.host_path("C:\\Help Test")))
