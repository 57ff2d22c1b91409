"""What deployment tools read and run: the uninstall entry's values after a silent and a wizard
installation, its silent uninstall command run as Windows splits it, a silent upgrade that
replaces the installation in place (also one listed under its title by an earlier version), and
another program's entry of the same title, which nothing touches."""
import dataclasses
import math
import os
import re

import scrimage
import winenv
from test_install import EXIT_DONE, PAYLOAD, UNINSTALL_KEY, InstallCase, entry_key

KEY = entry_key("Aurora")
# Where earlier versions listed the installation, and where another program may list itself.
TITLE_KEY = UNINSTALL_KEY + "Aurora"


def package(scr=PAYLOAD, link="https://aurora.example/"):
    return scrimage.Package(title="Aurora", scr=scr, readme="Hello", link=link, uninstall_entry=True,
                            menu_shortcuts=True)


class DeployTest(InstallCase):
    def entry(self, env):
        """Every value of the entry, read in one query."""
        listing = env.reg_query(KEY)
        self.assertIsNotNone(listing, "no entry")
        values = {}
        for line in listing.splitlines():
            m = winenv.REG_VALUE_LINE.match(line)
            if m:
                values[m.group(1)] = m.group(3) or ""
        return values

    def expected_entry(self, env, folder):
        host = env.host_path(folder)
        installed = sum(os.path.getsize(os.path.join(host, name)) for name in os.listdir(host))
        uninstaller = f"{folder}\\uninstall Aurora.exe"
        return {"DisplayName": "Aurora", "UninstallString": f'"{uninstaller}"',
                "QuietUninstallString": f'"{uninstaller}" -silent', "DisplayIcon": f"{folder}\\Aurora.scr",
                "InstallLocation": folder, "EstimatedSize": hex(math.ceil(installed / 1024)), "NoModify": "0x1",
                "NoRepair": "0x1", "URLInfoAbout": "https://aurora.example/"}

    def export(self, env, key):
        """The key as `reg export` writes it, byte for byte."""
        out = os.path.join(env.test_dir(self.id()), "export.reg")
        proc = env.wine(["reg", "export", key, env.win_path(out), "/y"])
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        with open(out, "rb") as f:
            return f.read()

    def reg_add(self, env, key, values):
        for name, data in values.items():
            self.assertEqual(env.wine(["reg", "add", key, "/v", name, "/d", data, "/f"]).returncode, 0)

    def quiet_uninstall(self, env):
        """Runs QuietUninstallString as Windows splits it: the quoted program, then its arguments."""
        command = env.reg_query(KEY, "QuietUninstallString")
        m = re.fullmatch(r'"([^"]+)" (.*)', command or "")
        self.assertTrue(m, command)
        result = env.drive(env.host_path(m.group(1)), [], [["wait-tree-exit", "30000"]], raw_args=m.group(2))
        self.assertDriven(result)
        self.assertEqual((result.exit_code, result.windows_seen), (EXIT_DONE, []), result)

    def test_entry_of_silent_and_wizard_installations(self):
        for how in ("silent", "wizard"):
            with self.subTest(how), self.env.isolated(self.id() + how) as env:
                self.system(env)
                folder = "C:\\Program Files\\My Savers"
                path = self.installer(env, package())
                if how == "silent":
                    result = env.drive(path, ["-silent", folder])
                else:
                    result = env.drive(path, [], [
                        ["wait-window", "TSCRSetup", "*"], ["set-text", "C:\\Program Files\\Aurora\\", folder],
                        ["click", "Install"], ["wait-state", "Readme", "visible", "20000"], ["click", "Next >"],
                        ["wait-state", "Finished", "visible"], ["click", "Finish"], ["wait-exit", "10000"]])
                self.assertDriven(result)
                self.assertEqual(result.exit_code, EXIT_DONE, result)
                self.assertEqual(self.files(env, folder), ["Aurora Readme.txt", "Aurora.scr", "uninstall Aurora.exe"])
                self.assertEqual(self.entry(env), self.expected_entry(env, folder))

                self.quiet_uninstall(env)
                self.assertIn(self.files(env, folder), ([], None))
                self.assertIsNone(env.reg_query(KEY))
                self.assertIsNone(self.files(env, self.probe(env, "folder", "2") + "\\Aurora"))

    def test_silent_upgrade_replaces_in_place(self):
        newer = PAYLOAD + b" version 2"
        with self.env.isolated(self.id()) as env:
            self.system(env)
            first = env.drive(self.installer(env, package()), ["-silent", "C:\\Savers"])
            self.assertDriven(first)
            self.assertEqual(first.exit_code, EXIT_DONE, first)
            # No folder given: the registered one, not the package's default.
            second = env.drive(self.installer(env, package(newer, link=""), name="setup2.exe"), ["-silent"])
            self.assertDriven(second)
            self.assertEqual((second.exit_code, second.windows_seen), (EXIT_DONE, []), second)
            self.assertEqual(self.files(env, "C:\\Savers"), ["Aurora Readme.txt", "Aurora.scr", "uninstall Aurora.exe"])
            self.assertEqual(self.read(env, "C:\\Savers\\Aurora.scr"), newer)
            self.assertIsNone(self.files(env, "C:\\Program Files\\Aurora"))
            expected = self.expected_entry(env, "C:\\Savers")
            del expected["URLInfoAbout"]  # the newer package names no web page
            self.assertEqual(self.entry(env), expected)

            self.quiet_uninstall(env)
            self.assertIn(self.files(env, "C:\\Savers"), ([], None))
            self.assertIsNone(env.reg_query(KEY))

    def test_another_programs_entry_of_the_title_stays_as_it_is(self):
        """A silent run without a folder takes nothing from it (no folder), writes and removes
        nothing of it, and neither does the uninstaller."""
        foreign = {"DisplayName": "Aurora", "UninstallString": '"C:\\Fernhollow\\Aurora\\remove.exe"',
                   "Publisher": "Fernhollow", "DisplayVersion": "3.1", "InstallLocation": "C:\\Fernhollow\\Aurora"}
        with self.env.isolated(self.id()) as env:
            self.system(env)
            os.makedirs(env.host_path(foreign["InstallLocation"]))
            with open(env.host_path(foreign["InstallLocation"] + "\\remove.exe"), "wb") as f:
                f.write(b"MZ another program")
            self.reg_add(env, TITLE_KEY, foreign)
            self.assertEqual(env.reg_query(TITLE_KEY, "UninstallString"), foreign["UninstallString"])
            before = self.export(env, TITLE_KEY)

            result = env.drive(self.installer(env, package()), ["/S"])
            self.assertDriven(result)
            self.assertEqual((result.exit_code, result.windows_seen), (EXIT_DONE, []), result)
            self.assertEqual(self.export(env, TITLE_KEY), before)
            self.assertEqual(self.files(env, foreign["InstallLocation"]), ["remove.exe"])
            folder = self.probe(env, "programfiles").rstrip("\\") + "\\Aurora"
            self.assertEqual(self.files(env, folder), ["Aurora Readme.txt", "Aurora.scr", "uninstall Aurora.exe"])
            self.assertEqual(self.entry(env), self.expected_entry(env, folder))

            self.quiet_uninstall(env)
            self.assertIsNone(env.reg_query(KEY))
            self.assertEqual(self.export(env, TITLE_KEY), before)
            self.assertEqual(self.files(env, foreign["InstallLocation"]), ["remove.exe"])

    def test_upgrade_moves_an_entry_under_the_title_to_its_own_key(self):
        """An installation an earlier version listed under its title: the upgrade finds its
        folder there, lists it under its own key and takes the old entry away."""
        with self.env.isolated(self.id()) as env:
            self.system(env)
            first = env.drive(self.installer(env, package()), ["/S", "/D=C:\\Savers"])
            self.assertDriven(first)
            self.assertEqual(first.exit_code, EXIT_DONE, first)
            # As the earlier version wrote it.
            written = self.entry(env)
            self.reg_add(env, TITLE_KEY, {name: written[name] for name in
                                          ("DisplayName", "UninstallString", "QuietUninstallString", "InstallLocation")})
            self.assertEqual(env.wine(["reg", "delete", KEY, "/f"]).returncode, 0)

            newer = PAYLOAD + b" version 2"
            second = env.drive(self.installer(env, package(newer), name="setup2.exe"), ["/S"])
            self.assertDriven(second)
            self.assertEqual(second.exit_code, EXIT_DONE, second)
            self.assertEqual(self.read(env, "C:\\Savers\\Aurora.scr"), newer)
            self.assertIsNone(self.files(env, self.probe(env, "programfiles").rstrip("\\") + "\\Aurora"))
            self.assertEqual(self.entry(env), self.expected_entry(env, "C:\\Savers"))
            self.assertIsNone(env.reg_query(TITLE_KEY))

            self.quiet_uninstall(env)
            self.assertIn(self.files(env, "C:\\Savers"), ([], None))
            self.assertIsNone(env.reg_query(KEY))

    def test_links_for_all_users_go_with_their_installation(self):
        """What an installation by the system account leaves in the all-users Start menu and on
        the common desktop (written here with the setup's own link code), removed by the
        uninstaller when an administrator runs it; a link there that starts another
        installation's file stays."""
        with self.env.isolated(self.id()) as env:
            self.system(env)
            folder = "C:\\Savers"
            installed = env.drive(self.installer(env, dataclasses.replace(package(), desktop_shortcut=True)), ["-silent", folder])
            self.assertDriven(installed)
            self.assertEqual(installed.exit_code, EXIT_DONE, installed)
            common_programs, common_desktop = (self.probe(env, "folder", csidl) for csidl in ("23", "25"))
            self.assertEqual(self.probe(env, "createdirtree", f"{common_programs}\\Aurora"), "true")
            links = [(f"{folder}\\Aurora.scr", "Aurora\\Preview Aurora", "23"),
                     (f"{folder}\\uninstall Aurora.exe", "Aurora\\Uninstall Aurora", "23"),
                     ("C:\\Other Savers\\Aurora Readme.txt", "Aurora\\Readme", "23"),
                     (f"{folder}\\Aurora.scr", "Preview Aurora", "25")]
            for target, name, csidl in links:
                self.assertEqual(self.probe(env, "shortcut", target, name, csidl), "ok")

            self.quiet_uninstall(env)
            self.assertEqual(self.files(env, f"{common_programs}\\Aurora"), ["Readme.lnk"])
            self.assertNotIn("Preview Aurora.lnk", self.files(env, common_desktop) or [])
            self.assertIsNone(self.files(env, self.probe(env, "folder", "2") + "\\Aurora"))
            self.assertNotIn("Preview Aurora.lnk", self.files(env, self.probe(env, "folder", "0")) or [])
