"""-delfile: the receiving end of the uninstaller's hand-off. Deletes the file named by the
second parameter and shows an information box only when there are exactly four parameters."""
import json
import os
import shutil
import subprocess
import time

import winenv


class DelFileTest(winenv.E2ETestCase):
    def victim(self, name="uninstall me.exe"):
        path = os.path.join(self.work(), name)
        with open(path, "wb") as f:
            f.write(b"MZ" + bytes(1000))
        return path

    def test_four_parameters_delete_then_inform(self):
        path = self.victim()
        caption, text = "Screensaver Setup", "Aurora wurde erfolgreich entfernt. – 完了"
        result = self.env.drive(self.env.setup_exe, ["-delfile", self.env.win_path(path), caption, text],
                                [["wait-window", "*", "*"], ["dump"], ["click", "OK"]])
        self.assertDriven(result)
        self.assertEqual(winenv.message_box(result.dumps()[0]),
                         {"class": "#32770", "caption": caption, "text": text, "icon": "information",
                          "buttons": ["OK"]}, result)
        self.assertEqual(result.exit_code, 0)
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
                result = self.env.drive(self.env.setup_exe, ["-delfile", self.env.win_path(path)] + extra)
                self.assertDriven(result)
                self.assertEqual(result.windows_seen, [], result)
                self.assertEqual(result.exit_code, 0)
                self.assertFalse(os.path.exists(path))

    def test_schedules_its_own_file_for_deletion_at_restart(self):
        # The temporary copy cannot delete itself while it runs.
        work = self.work()
        copy = os.path.join(work, "temp copy.exe")
        shutil.copyfile(self.env.stub_exe, copy)
        result = self.env.drive(copy, ["-delfile", self.env.win_path(self.victim("other.exe"))])
        self.assertDriven(result)
        self.assertIn(("\\??\\" + self.env.win_path(copy), ""), self.pending_renames())

    def pending_renames(self):
        value = self.env.reg_query(r"HKLM\System\CurrentControlSet\Control\Session Manager",
                                   "PendingFileRenameOperations") or ""
        # REG_MULTI_SZ as `reg query` prints it: source and target by turns, "\0" between them.
        items = value.split("\\0")
        return list(zip(items[0::2], items[1::2]))

    def test_missing_file_ends_at_once(self):
        missing = os.path.join(self.work(), "gone.exe")
        result = self.env.drive(self.env.setup_exe, ["-delfile", self.env.win_path(missing)], timeout_ms=10000)
        self.assertDriven(result)
        self.assertEqual(result.exit_code, 0)
        self.assertLess(result.end["elapsed_ms"], 5000)

    def test_waits_until_the_running_program_has_ended(self):
        # A running program's file cannot be deleted: the uninstaller that starts the
        # temporary copy is still ending. Here a copy of the driver plays that program.
        holder = os.path.join(self.work(), "Uninstall Aurora.exe")
        shutil.copy(self.env.wintest_exe, holder)
        caption = "still running"
        proc = subprocess.Popen(["wine", holder, "msgbox", "0", caption, "close me"], env=self.env.env(),
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.wait_for_window(caption)
            result = self.env.drive(self.env.setup_exe, ["-delfile", self.env.win_path(holder)], [
                ["sleep", "1500"], ["status"],
                ["wait-window", "--any", "#32770", caption], ["close"], ["wait-exit", "10000"]])
            self.assertDriven(result)
            self.assertEqual(result.steps("status")[0]["running"], True, result)
            self.assertEqual(result.exit_code, 0)
            self.assertFalse(os.path.exists(holder))
        finally:
            try:
                proc.wait(timeout=15)
            except subprocess.TimeoutExpired:
                proc.kill()

    def wait_for_window(self, caption, seconds=15):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            listing = self.env.wine([self.env.wintest_exe, "windows"]).stdout
            if any(json.loads(line).get("caption") == caption for line in listing.splitlines() if line.strip()):
                return
            time.sleep(0.2)
        self.fail(f"no window {caption!r} appeared")
