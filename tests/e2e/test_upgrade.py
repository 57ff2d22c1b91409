"""An upgrade that fails keeps the earlier installation; a screensaver that runs while it is
upgraded or uninstalled is replaced or removed at the next start (exit code 3010); the
uninstaller's closing text never travels on a command line; a version string without its closing
NUL is read within its stated length."""
import os

import scrimage
import winenv
from test_install import UNINSTALL_KEY
from test_lifecycle import YES, LifecycleCase, package, removed_box
from test_wizard import german

EXIT_DONE, EXIT_DAMAGED, EXIT_FAILED, EXIT_RESTART = 0, 1, 3, 3010
TITLE, FOLDER = "Aurora", "C:\\Savers"
SCR = FOLDER + "\\Aurora.scr"


def entry_key(env, title):
    """The key of the uninstall entry whose DisplayName is title, or None."""
    listing = env.wine(["reg", "query", UNINSTALL_KEY.rstrip("\\")]).stdout
    keys = [line.strip() for line in listing.splitlines() if line.startswith("HKEY_") and line.count("\\") > 5]
    named = [key for key in keys if env.reg_query(key, "DisplayName") == title]
    return named[0] if named else None


class UpgradeCase(LifecycleCase):
    def snapshot(self, env):
        """Every file of the folder with its bytes, the entry's values and the per-user key."""
        host = env.host_path(FOLDER)
        files = {}
        for name in sorted(os.listdir(host)):
            with open(os.path.join(host, name), "rb") as f:
                files[name] = f.read()
        key = entry_key(env, TITLE)
        return {"files": files, "entry": env.reg_query(key) if key else None,
                "user key": self.user_key(env, TITLE)}

    def silent(self, env, path, expected):
        result = env.drive(path, ["/S"], [["wait-tree-exit", "30000"]])
        self.assertDriven(result)
        self.assertEqual((result.exit_code, result.windows_seen), (expected, []), result)
        return result

    def running(self, env, program, *args):
        """program started with args in the background, once it has printed "held"."""
        holder = winenv.start_holding(env, program, args, os.path.join(env.drive_c, "hold.out"))
        if not holder:
            self.fail(f"{program} did not start")
        # Ended once the test is done with it rather than waited for: the hold outlasts any test.
        self.addCleanup(holder.wait, winenv.seconds(60))
        self.addCleanup(holder.kill)
        return holder

    def dummy(self, env):
        """A file of its own for a holder that runs as the screensaver."""
        with open(os.path.join(env.drive_c, "hold.txt"), "w") as f:
            f.write("held")
        return "C:\\hold.txt"

    def hold_seconds(self):
        return str(round(winenv.seconds(15)))

    def probe_as_screensaver(self):
        """The test probe as the payload: installed, it runs as a screensaver does, from its file."""
        with open(os.path.join(self.env.bin_dir, "sysprobe.exe"), "rb") as f:
            return f.read()


class FailedUpgradeTest(UpgradeCase):
    def test_failed_upgrade_keeps_the_earlier_installation(self):
        """A damaged newer download, and one whose uninstaller cannot be written, end with the
        earlier installation as it was: its files byte for byte, its entry and its record."""
        with self.env.isolated(self.id()) as env:
            self.system(env)
            self.install(env, package(TITLE, "Aurora.scr"), FOLDER)
            before = self.snapshot(env)
            self.assertEqual(sorted(before["files"]), ["Aurora Readme.txt", "Aurora.scr", "uninstall Aurora.exe"])
            newer = package(TITLE, "Aurora.scr", scr=b"version 2 " * 400, readme="Read me, version 2")

            damaged = self.installer(env, newer, "damaged.exe")
            with open(damaged, "r+b") as f:
                image = bytearray(f.read())
                at = image.find(newer.scr) + 1000
                image[at] ^= 0x01
                f.seek(0)
                f.write(image)
            self.silent(env, damaged, EXIT_DAMAGED)
            self.assertEqual(self.snapshot(env), before)

            # The uninstaller's new file cannot be made beside the earlier one: a folder of that name.
            os.mkdir(env.host_path(FOLDER + "\\uninstall Aurora.exe.new"))
            self.silent(env, self.installer(env, newer, "newer.exe"), EXIT_FAILED)
            os.rmdir(env.host_path(FOLDER + "\\uninstall Aurora.exe.new"))
            self.assertEqual(self.snapshot(env), before)


class InUseTest(UpgradeCase):
    def test_upgrade_of_a_running_screensaver(self):
        """The running file is renamed aside and removed at the next start; the new one is in its
        place at once. Exit code 3010."""
        with self.env.isolated(self.id()) as env:
            self.system(env)
            self.install(env, package(TITLE, "Aurora.scr", scr=self.probe_as_screensaver()), FOLDER)
            self.running(env, env.host_path(SCR), "hold", self.dummy(env), self.hold_seconds())
            newer = b"version 2 " * 400
            self.silent(env, self.installer(env, package(TITLE, "Aurora.scr", scr=newer), "newer.exe"), EXIT_RESTART)
            self.assertEqual(self.read(env, SCR), newer)
            self.assertEqual(self.files(env, FOLDER),
                             ["Aurora Readme.txt", "Aurora.scr", "Aurora.scr.old", "uninstall Aurora.exe"])
            self.assertIn(("\\??\\" + SCR + ".old", ""), env.pending_renames())

    def test_upgrade_of_a_screensaver_held_without_sharing(self):
        """A file that cannot even be renamed is replaced at the next start; the others now."""
        with self.env.isolated(self.id()) as env:
            self.system(env)
            earlier = package(TITLE, "Aurora.scr")
            self.install(env, earlier, FOLDER)
            self.running(env, os.path.join(env.bin_dir, "sysprobe.exe"), "hold", SCR, self.hold_seconds())
            newer = package(TITLE, "Aurora.scr", scr=b"version 2 " * 400, readme="Read me, version 2")
            self.silent(env, self.installer(env, newer, "newer.exe"), EXIT_RESTART)
            self.assertEqual(self.read(env, SCR), earlier.scr)
            self.assertEqual(self.read(env, SCR + ".new"), newer.scr)
            self.assertEqual(self.read(env, FOLDER + "\\Aurora Readme.txt"), b"Read me, version 2")
            self.assertIn(("\\??\\" + SCR + ".new", "!\\??\\" + SCR), env.pending_renames())

    def test_uninstallation_of_a_running_screensaver(self):
        """Silent: exit code 3010 and the file goes at the next start. With the question: the
        closing box says that a restart completes the removal."""
        for silent in (True, False):
            with self.subTest(silent=silent), self.env.isolated(self.id() + str(silent)) as env:
                self.system(env)
                self.install(env, package(TITLE, "Aurora.scr", scr=self.probe_as_screensaver()), FOLDER)
                self.running(env, env.host_path(SCR), "hold", self.dummy(env), self.hold_seconds())
                key = entry_key(env, TITLE)
                command = env.reg_query(key, "UninstallString")
                program, rest = winenv.split_command(command)
                steps = [["wait-tree-exit", "30000"]] if silent else YES
                result = env.drive(env.host_path(program), ["/S"] if silent else [], steps, raw_args=rest or None)
                self.assertDriven(result)
                self.assertEqual(result.exit_code, EXIT_RESTART, result)
                if not silent:
                    self.assertEqual(self.boxes(result)[-1], removed_box(
                        TITLE, "{} has been removed from your computer. Restart Windows to complete the removal."))
                self.assertIn(("\\??\\" + SCR, ""), env.pending_renames())
                self.assertIsNone(env.reg_query(key))
                self.assertEqual(self.files(env, FOLDER), ["Aurora.scr"])


class ClosingTextTest(UpgradeCase):
    def test_a_translation_never_adds_a_switch(self):
        """A translated closing text with quotation marks, backslashes before them and a
        switch-like word is shown as it is written, and starts nothing: the copy reads it from its
        own file."""
        text, de = german()
        removed = "%s has been successfully removed from your computer."
        hostile = 'Fertig \\" "/LOG=C:\\windows\\system32\\evil.log" -log C:\\evil2.log \\\\"%s'
        text = text.replace(f"{removed}={de[removed]}", f"{removed}={hostile}")
        self.assertIn(hostile, text)
        with self.env.isolated(self.id()) as env:
            self.system(env)
            self.install(env, package(TITLE, "Aurora.scr", language=text), FOLDER)
            key = entry_key(env, TITLE)
            program, rest = winenv.split_command(env.reg_query(key, "UninstallString"))
            result = env.drive(env.host_path(program), [], YES, raw_args=rest or None)
            self.assertDriven(result)
            self.assertEqual(result.exit_code, EXIT_DONE, result)
            box = self.boxes(result)[-1]
            self.assertEqual(box["text"], hostile.replace("%s", TITLE))
            for planted in ("C:\\windows\\system32\\evil.log", "C:\\evil2.log"):
                self.assertFalse(os.path.exists(env.host_path(planted)), planted)


class VersionStringTest(UpgradeCase):
    def test_a_version_string_without_its_end_is_read_within_its_length(self):
        """The sample screensaver's "ProductVersion" ("1.2") with its closing NUL made an "X": the
        entry's DisplayVersion is the four characters the resource states, nothing after them."""
        with open(os.path.join(self.env.bin_dir, "Starfield.scr"), "rb") as f:
            image = bytearray(f.read())
        key = "ProductVersion\0".encode("utf-16-le")
        at = image.find(key)
        self.assertGreater(at, 0, "no ProductVersion in the sample")
        value = at + len(key)
        value += (4 - value % 4) % 4  # the value starts on a 32-bit boundary
        self.assertEqual(bytes(image[value:value + 8]), "1.2\0".encode("utf-16-le"))
        self.assertEqual(int.from_bytes(image[at - 4:at - 2], "little"), 4, "the stated length, NUL included")
        image[value + 6:value + 8] = "X".encode("utf-16-le")
        with self.env.isolated(self.id()) as env:
            self.system(env)
            pkg = package(TITLE, "Aurora.scr", scr=bytes(image))
            self.install(env, pkg, FOLDER)
            self.assertEqual(env.reg_query(entry_key(env, TITLE), "DisplayVersion"), "1.2X")
