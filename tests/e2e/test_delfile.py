"""-delfile: the receiving end of the uninstaller's hand-off. Only the temporary copy of an
uninstaller takes it, and it deletes nothing but an uninstaller: the file named by the second
parameter, once that program has ended. An information box follows only with exactly four
parameters and only when the file is gone (or was already); a file that stays ends with exit code 3."""
import json
import os
import subprocess
import time

import scrimage
import winenv

EXIT_DONE, EXIT_STAYED, EXIT_CANCELLED = 0, 3, 4
QUESTION = "Aurora Uninstall"


class DelFileTest(winenv.E2ETestCase):
    def setUp(self):
        stub = self.env.stub()
        self.uninstaller_bytes = scrimage.Package().uninstaller(stub)
        self.installer_bytes = scrimage.Package().installer(stub)
        probe = os.path.join(self.env.bin_dir, "sysprobe.exe")
        temp = self.env.wine([probe, "tempdir"]).stdout.strip()
        self.temp = self.env.host_path(temp)
        # The receiver: the temporary copy an uninstall run makes of itself.
        self.copy = self.write(os.path.join(self.temp, "Parvolinexuninst4711.exe"), self.uninstaller_bytes)

    def write(self, path, data):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def victim(self, name="uninstall me.exe", data=None):
        return self.write(os.path.join(self.work(), name), self.uninstaller_bytes if data is None else data)

    def test_four_parameters_delete_then_inform(self):
        path = self.victim()
        caption, text = "Screensaver Setup", "Aurora wurde erfolgreich entfernt. – 完了"
        result = self.env.drive(self.copy, ["-delfile", self.env.win_path(path), caption, text],
                                [["wait-window", "*", "*"], ["dump"], ["click", "OK"]])
        self.assertDriven(result)
        self.assertEqual(winenv.message_box(result.dumps()[0]),
                         {"class": "#32770", "caption": caption, "text": text, "icon": "information",
                          "buttons": ["OK"]}, result)
        self.assertEqual(result.exit_code, EXIT_DONE)
        self.assertFalse(os.path.exists(path))

    def test_other_parameter_counts_delete_without_a_box(self):
        cases = {
            "file only": [],
            "caption without text": ["Caption"],
            "one parameter too many": ["Caption", "Text", "extra"],
        }
        for name, extra in cases.items():
            with self.subTest(name):
                path = self.victim()
                result = self.env.drive(self.copy, ["-delfile", self.env.win_path(path)] + extra)
                self.assertDriven(result)
                self.assertEqual(result.windows_seen, [], result)
                self.assertEqual(result.exit_code, EXIT_DONE)
                self.assertFalse(os.path.exists(path))

    def test_schedules_its_own_deletion_once(self):
        # The temporary copy cannot delete itself while it runs; two runs, one entry.
        for name in ("first.exe", "second.exe"):
            self.assertDriven(self.env.drive(self.copy, ["-delfile", self.env.win_path(self.victim(name))]))
        entries = [e for e in self.env.pending_renames() if e[0].lower().endswith("parvolinexuninst4711.exe")]
        self.assertEqual(entries, [("\\??\\" + self.env.win_path(self.copy), "")])
        # An uninstaller elsewhere is no temporary copy: it never schedules itself.
        other = self.victim("uninstall other.exe")
        self.assertDriven(self.env.drive(other, ["-delfile", self.env.win_path(self.victim())]))
        self.assertNotIn(self.env.win_path(other).lower(), [e[0].lower() for e in self.env.pending_renames()])

    def test_nothing_but_an_uninstaller_is_deleted(self):
        cases = {
            "installer": self.victim("setup.exe", self.installer_bytes),
            "document": self.victim("letter.txt", b"Dear reader"),
            "device NUL": "NUL",
            "device COM1": "COM1",
        }
        for name, path in cases.items():
            with self.subTest(name):
                target = path if path in ("NUL", "COM1") else self.env.win_path(path)
                result = self.env.drive(self.copy, ["-delfile", target, "Caption", "Removed."], timeout_ms=10000)
                self.assertDriven(result)
                self.assertEqual((result.exit_code, result.windows_seen), (EXIT_STAYED, []), result)
                self.assertLess(result.end["elapsed_ms"], 5000, "ends at once")
                if os.path.isabs(path):
                    self.assertTrue(os.path.exists(path))

    def test_an_uninstaller_already_gone_is_done(self):
        gone = self.env.win_path(os.path.join(self.work(), "gone.exe"))
        result = self.env.drive(self.copy, ["-delfile", gone])
        self.assertDriven(result)
        self.assertEqual((result.exit_code, result.windows_seen), (EXIT_DONE, []), result)
        result = self.env.drive(self.copy, ["-delfile", gone, "Caption", "Removed."],
                                [["wait-window", "*", "*"], ["dump"], ["click", "OK"]])
        self.assertDriven(result)
        self.assertEqual(winenv.message_box(result.dumps()[0])["text"], "Removed.", result)
        self.assertEqual(result.exit_code, EXIT_DONE)

    def test_an_installer_ignores_it(self):
        installer = self.victim("setup.exe", self.installer_bytes)
        path = self.victim()
        before = self.env.pending_renames()
        result = self.env.drive(installer, ["-delfile", self.env.win_path(path), "Caption", "Removed."],
                                [["wait-window", "TSCRSetup", "*"], ["close"], ["wait-exit", "5000"]])
        self.assertDriven(result)
        self.assertEqual(result.exit_code, EXIT_CANCELLED, "the wizard, as without the switch")
        self.assertTrue(os.path.exists(path))
        self.assertEqual(self.env.pending_renames(), before)

    def test_waits_until_the_uninstaller_has_ended(self):
        # A running program's file cannot be deleted: the uninstaller that starts the copy is
        # still ending. Here it waits at its question.
        holder = self.victim("uninstall Aurora.exe")
        with self.running(holder):
            result = self.env.drive(self.copy, ["-delfile", self.env.win_path(holder), "Caption", "Removed."], [
                ["sleep", "1500"], ["status"],
                ["wait-window", "--any", "#32770", QUESTION], ["click", "No"],
                ["wait-window", "#32770", "Caption"], ["click", "OK"], ["wait-exit", "10000"]])
        self.assertDriven(result)
        self.assertEqual(result.steps("status")[0]["running"], True, result)
        self.assertEqual(result.exit_code, EXIT_DONE)
        self.assertFalse(os.path.exists(holder))

    def test_a_file_that_stays_gives_no_box(self):
        holder = self.victim("uninstall Aurora.exe")
        with self.running(holder):
            # It gives up after about a minute; then the uninstaller is let go.
            result = self.env.drive(self.copy, ["-delfile", self.env.win_path(holder), "Caption", "Removed."], [
                ["wait-exit", "90000"], ["wait-window", "--any", "#32770", QUESTION], ["click", "No"]],
                timeout_ms=100000)
        self.assertDriven(result)
        self.assertEqual((result.exit_code, result.windows_seen), (EXIT_STAYED, []), result)
        self.assertTrue(os.path.exists(holder))

    # ------------------------------------------------------------------ helpers

    class _Running:
        def __init__(self, test, path):
            self.test, self.path = test, path

        def __enter__(self):
            env = self.test.env
            self.proc = subprocess.Popen([env.loader, self.path], env=env.env(), stdin=subprocess.DEVNULL,
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.test.wait_for_window(QUESTION)
            return self

        def __exit__(self, *exc):
            try:
                self.proc.wait(timeout=winenv.seconds(15))
            except subprocess.TimeoutExpired:
                self.proc.kill()

    def running(self, path):
        """The uninstaller at path runs, waiting at its question, until the block ends."""
        return self._Running(self, path)

    def wait_for_window(self, caption, seconds=15):
        deadline = time.monotonic() + winenv.seconds(seconds)
        while time.monotonic() < deadline:
            listing = self.env.wine([self.env.wintest_exe, "windows"]).stdout
            if any(json.loads(line).get("caption") == caption for line in listing.splitlines() if line.strip()):
                return
            time.sleep(0.2)
        self.fail(f"no window {caption!r} appeared")
