"""The setup's system routines on Wine's real folders, shell links and file sharing, through
the console probe sysprobe.exe (built with the stub)."""
import os
import shutil
import unittest

import winenv

CREATE_MESSAGE = "Unable to create the directory. Please select a different directory."
INVALID_MESSAGE = "Invalid directory. Please select an existing directory."


class SysRoutinesTest(winenv.E2ETestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.probe_exe = os.path.join(cls.env.bin_dir, "sysprobe.exe")
        if not os.path.isfile(cls.probe_exe):
            raise unittest.SkipTest(f"sysprobe.exe not built in {cls.env.bin_dir}")

    def probe(self, *args):
        """(exit code, the probe's one output line)."""
        proc = self.env.wine([self.probe_exe] + list(args))
        return proc.returncode, proc.stdout.strip()

    def probe_ok(self, *args):
        code, line = self.probe(*args)
        self.assertEqual(code, 0, f"{args}: {line}")
        return line

    def registry(self, key, value):
        found = self.env.reg_query(key, value)
        self.assertIsNotNone(found, f"{key} {value}")
        return found

    def missing_drive(self):
        taken = {name[0].lower() for name in os.listdir(os.path.join(self.env.prefix, "dosdevices"))}
        return next(letter for letter in "qrstuvwxy" if letter not in taken).upper() + ":"

    # ------------------------------------------------------------------ folders

    def test_folders_are_the_systems_own(self):
        windows = self.registry(r"HKLM\Software\Microsoft\Windows NT\CurrentVersion", "SystemRoot")
        program_files = self.registry(r"HKLM\Software\Microsoft\Windows\CurrentVersion", "ProgramFilesDir")
        self.assertEqual(self.probe_ok("windir").lower(), windows.lower())
        self.assertEqual(self.probe_ok("sysdir").lower(), windows.lower() + "\\system32")
        self.assertEqual(self.probe_ok("programfiles").lower(), program_files.lower())
        temp = self.probe_ok("tempdir")
        self.assertTrue(temp.endswith("\\"), temp)
        self.assertTrue(os.path.isdir(self.env.host_path(temp)), temp)

    def test_temporary_folder_longer_than_max_path(self):
        """TMP may name a deep folder: the whole path comes back, never an empty one."""
        with self.env.isolated(self.id()) as env:
            deep = "C:\\" + "\\".join(["temporary folder %02d" % i for i in range(16)])
            self.assertGreater(len(deep), 300)
            os.makedirs(env.host_path(deep))
            for name in ("TEMP", "TMP"):
                self.assertEqual(env.wine(["reg", "add", r"HKCU\Environment", "/v", name, "/d", deep, "/f"]).returncode,
                                 0)
            proc = env.wine([self.probe_exe, "tempdir"])
            self.assertEqual((proc.returncode, proc.stdout.strip()), (0, deep + "\\"), proc.stderr)

    def test_default_directory_placeholders_become_the_prefix_folders(self):
        windows = self.probe_ok("windir")
        program_files = self.probe_ok("programfiles")
        cases = [
            ("<Program Files>", "My Saver", program_files + "\\My Saver\\"),
            (" <Windows>\\ ", "\\System32\\", windows + "\\System32\\"),
            ("<Windows>", "<Program Files>", windows + "\\" + program_files + "\\"),
            ("<program files>", "Demo", "<program files>\\Demo\\"),
        ]
        for base, sub, expected in cases:
            with self.subTest(base=base, sub=sub):
                self.assertEqual(self.probe_ok("compose", base, sub), expected)

    # ------------------------------------------------------------------ shortcuts

    def test_shortcut_is_a_link_the_shell_resolves(self):
        target = os.path.join(self.work(), "Aurora.scr")
        with open(target, "wb") as f:
            f.write(b"MZ")
        target_win = self.env.win_path(target)
        programs = self.probe_ok("folder", "2")
        folder = os.path.join(self.env.host_path(programs), "E2E Aurora")
        os.makedirs(folder, exist_ok=True)
        try:
            self.assertEqual(self.probe_ok("shortcut", target_win, "E2E Aurora\\Preview Aurora", "2"), "ok")
            link = programs + "\\E2E Aurora\\Preview Aurora.lnk"
            self.assertTrue(os.path.isfile(self.env.host_path(link)))
            self.assertEqual(self.probe_ok("readlink", link).lower(), f"{target_win}|{target_win},0".lower())
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def test_shortcut_failures_raise_and_write_nothing(self):
        programs = self.probe_ok("folder", "2")
        cases = {
            "missing sub-folder": ("No Such Folder\\Preview", "2", None),
            "path over 260 units": ("x" * 250, "0", "error 0x800700CE"),
            "unknown special folder": ("Preview", "9999", None),
        }
        for name, (link_name, folder, expected) in cases.items():
            with self.subTest(name):
                code, line = self.probe("shortcut", "C:\\windows\\notepad.exe", link_name, folder)
                self.assertEqual(code, 1, line)
                self.assertTrue(line.startswith("error 0x8"), line)
                if expected:
                    self.assertEqual(line, expected)
        self.assertFalse(os.path.exists(os.path.join(self.env.host_path(programs), "No Such Folder")))

    # ------------------------------------------------------------------ guarded deletion

    def holding(self, *args):
        """The probe run with args in the background, once it has printed "held"."""
        holder = winenv.start_holding(self.env, self.probe_exe, args, os.path.join(self.work(), "hold.out"))
        if not holder:
            self.fail(f"the holder did not hold: {args}")
        return holder

    def test_trydelete_keeps_a_file_held_by_another_process(self):
        path = os.path.join(self.work(), "held.txt")
        with open(path, "w") as f:
            f.write("kept")
        file_win = self.env.win_path(path)
        holder = self.holding("hold", file_win, "6")
        try:
            self.assertEqual(self.probe("trydelete", file_win), (1, "false"))
            with open(path) as f:
                self.assertEqual(f.read(), "kept")
        finally:
            holder.wait(timeout=winenv.seconds(60))
        self.assertEqual(self.probe("trydelete", file_win), (0, "true"))
        self.assertFalse(os.path.exists(path))
        self.assertEqual(self.probe("trydelete", file_win), (0, "true"))

    # ------------------------------------------------------------------ the uninstaller's copy

    def test_a_copy_is_never_made_over_a_file_already_there(self):
        """Anybody may put a file under the copy's name in a shared temporary folder: it is
        neither written nor started, so nothing of its owner's runs with the uninstaller's rights."""
        planted = os.path.join(self.work(), "copy.exe")
        with open(planted, "wb") as f:
            f.write(b"MZ planted")
        recorder = os.path.join(self.env.bin_dir, "recorder.exe")
        self.assertEqual(self.probe("heldcopy", self.env.win_path(recorder), self.env.win_path(planted), "0"),
                         (1, "refused"))
        with open(planted, "rb") as f:
            self.assertEqual(f.read(), b"MZ planted")

    def test_the_held_copy_starts_but_nobody_changes_it(self):
        """While the copy is held for its start it cannot be overwritten, renamed or deleted,
        and it starts as it is; let go, the same attempts succeed."""
        work = self.work()
        source = os.path.join(work, "recorder.exe")
        shutil.copyfile(os.path.join(self.env.bin_dir, "recorder.exe"), source)
        with open(source, "rb") as f:
            original = f.read()
        other = os.path.join(work, "other.exe")
        shutil.copyfile(self.probe_exe, other)
        copy, renamed, log = (os.path.join(work, name) for name in ("copy.exe", "renamed.exe", "ran.txt"))
        w = self.env.win_path
        attempts = {
            "overwrite": ["cmd", "/c", "copy", "/y", w(other), w(copy)],
            "rename": ["cmd", "/c", "ren", w(copy), "renamed.exe"],
            "delete": ["cmd", "/c", "del", w(copy)],
        }
        holder = self.holding("heldcopy", w(source), w(copy), "10")
        try:
            for name, command in attempts.items():
                with self.subTest(name):
                    self.env.wine(command)
                    self.assertFalse(os.path.exists(renamed))
                    with open(copy, "rb") as f:
                        self.assertEqual(f.read(), original)
            result = self.env.drive(copy, [w(log), "ran"])
            self.assertDriven(result)
            self.assertEqual(result.exit_code, 0, result)
            with open(log, encoding="utf-8") as f:
                self.assertEqual(f.read().splitlines(), ["ran"])
        finally:
            holder.wait(timeout=winenv.seconds(60))
        self.env.wine(attempts["rename"])
        self.assertTrue(os.path.exists(renamed))
        self.assertFalse(os.path.exists(copy))

    # ------------------------------------------------------------------ the program's own file

    def test_the_program_file_is_told_by_more_than_its_headers(self):
        """The setup checks that the file it reads its package from is the one that runs: a twin
        with the very same headers (another package behind the same stub) is not."""
        twin = os.path.join(self.work(), "sysprobe.exe")
        shutil.copyfile(self.probe_exe, twin)
        self.assertEqual(self.probe("programfile", self.env.win_path(self.probe_exe)), (0, "file true, headers true"))
        self.assertEqual(self.probe("programfile", self.env.win_path(twin)), (0, "file false, headers true"))

    # ------------------------------------------------------------------ directories

    def test_directory_creation(self):
        work = self.env.win_path(self.work())
        drive = self.missing_drive()
        self.assertEqual(self.probe("createdirtree", work + "\\A\\B\\C\\"), (0, "true"))
        self.assertTrue(os.path.isdir(os.path.join(self.work(), "A", "B", "C")))
        self.assertEqual(self.probe("createdirtree", drive + "\\Savers\\Demo"), (1, "false"))
        self.assertEqual(self.probe("forcedirs", drive + "\\Savers\\Demo"), (1, "false"))
        self.assertEqual(self.probe("checkdir", drive + "\\Savers"), (1, "refused " + CREATE_MESSAGE))
        self.assertEqual(self.probe("checkdir", work + "\\New Saver\\Deep"),
                         (0, "accepted " + work + "\\New Saver\\Deep\\"))
        self.assertTrue(os.path.isdir(os.path.join(self.work(), "New Saver", "Deep")))
        self.assertEqual(self.probe("checkdir", ""), (1, "refused " + INVALID_MESSAGE))
        self.assertEqual(self.probe("checkdir", drive + "\\Savers", "preview"), (0, f"accepted {drive}\\Savers\\"))


if __name__ == "__main__":
    unittest.main()


class DelayLoadTest(winenv.E2ETestCase):
    """The setup's own binder of the functions it imports when first called, through a probe
    that imports a function version.dll has, one it lacks, and one of a DLL no system has."""

    def test_binds_what_is_there_and_raises_the_binders_exception_for_what_is_not(self):
        probe = os.path.join(self.env.bin_dir, "delayprobe.exe")
        self.assertTrue(os.path.isfile(probe), f"{probe} not built")
        cases = [
            ("present", 0, "bound"),
            # VcppException(ERROR_SEVERITY_ERROR, ERROR_PROC_NOT_FOUND / ERROR_MOD_NOT_FOUND)
            ("missing-function", 2, "exception 0xC06D007F"),
            ("missing-dll", 2, "exception 0xC06D007E"),
        ]
        for command, code, line in cases:
            with self.subTest(command):
                proc = self.env.wine([probe, command])
                self.assertEqual((proc.returncode, proc.stdout.strip()), (code, line), proc.stderr)

    def test_a_dll_planted_beside_the_program_is_never_bound(self):
        """A version.dll beside the probe, as in a Downloads folder, and no restricted search (the
        probe never asks for one, as Vista and an unpatched Windows 7 cannot): Wine, told to prefer
        such a DLL, loads it for a name alone, and the binder still binds the system's."""
        folder = self.work()
        for name, target in (("delayprobe.exe", "delayprobe.exe"), ("planted_version.dll", "version.dll")):
            source = os.path.join(self.env.bin_dir, name)
            self.assertTrue(os.path.isfile(source), f"{source} not built")
            shutil.copyfile(source, os.path.join(folder, target))
        env = self.env.env()
        env["WINEDLLOVERRIDES"] += ";version=n,b"
        for command, line in (("byname", "planted"), ("present", "bound")):
            with self.subTest(command):
                proc = winenv.run_captured([self.env.loader, os.path.join(folder, "delayprobe.exe"), command], env, 60)
                self.assertEqual((proc.returncode, proc.stdout.strip()), (0, line), proc.stderr)
