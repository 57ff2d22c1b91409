"""The uninstaller against a per-user key that another program of the user has shaped: any
program running as the user can write that key, with values no tool of the system writes and
with links to keys that are not the setup's. The uninstaller still ends, removes what is its own
and nothing else."""
import os

import winenv
from test_install import USER_KEY
from test_lifecycle import EXIT_DONE, SILENT, LifecycleCase, package

REG_SZ = 1


class UserKeyCase(LifecycleCase):
    def driver(self, env, *args):
        proc = env.wine([env.wintest_exe] + list(args))
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)

    def reg_add(self, env, key, name, data):
        self.assertEqual(env.wine(["reg", "add", key, "/v", name, "/d", data, "/f"]).returncode, 0)

    def tree(self, env, key):
        """A key with everything below it as {subkey: {value: data}}, "" for the key itself;
        None when it is missing. `reg` follows links as any program does."""
        proc = env.wine(["reg", "query", key, "/s"])
        if proc.returncode != 0:
            return None
        tree, base, current = {}, None, None
        for line in proc.stdout.splitlines():
            value = winenv.REG_VALUE_LINE.match(line)
            if value:
                tree[current][value.group(1)] = value.group(3) or ""
            elif line.strip():
                base = base or line.strip()
                current = line.strip()[len(base):].lstrip("\\")
                tree[current] = {}
        return tree

    def uninstall_silently(self, env, title):
        # SILENT waits 20 s for the uninstaller and its temporary copy; a run that hangs fails there.
        result = self.uninstall(env, title, ["-silent"], SILENT)
        self.assertEqual((result.exit_code, result.windows_seen), (EXIT_DONE, []), result)


class OddLengthRecordTest(UserKeyCase):
    def test_file_name_of_odd_byte_length(self):
        """FileName_ as a string of odd byte length (RegSetValueEx takes any length): the text
        before the odd byte names the screensaver, which the silent uninstaller removes, and it
        ends in time."""
        title, target = "Oddity", "C:\\Savers\\Oddity"
        with self.env.isolated(self.id()) as env:
            # A file of the packaged name is there already, so the installed one is Oddity1.scr:
            # only the record read right names it, the fallback to the packaged name would take
            # the other file, and the record with the odd byte as a letter names no file at all.
            os.makedirs(env.host_path(target))
            with open(env.host_path(target + "\\Oddity.scr"), "wb") as f:
                f.write(b"theirs")
            self.install(env, package(title, "Oddity.scr"), target)
            installed = target + "\\Oddity1.scr"
            self.assertEqual(env.reg_query(USER_KEY + title, "FileName_"), installed)

            data = installed.encode("utf-16-le") + b"A"
            self.driver(env, "reg-set", USER_KEY + title, "FileName_", str(REG_SZ), data.hex())
            self.assertEqual(len(data) % 2, 1)

            self.uninstall_silently(env, title)
            self.assertEqual(self.state(env, title, target), self.removed(["Oddity.scr"]))
            self.assertEqual(self.read(env, target + "\\Oddity.scr"), b"theirs")


class PlayListLinkTest(UserKeyCase):
    def test_links_in_the_play_list(self):
        """The PlayList, or a key below it, is a link to a key of the user or of the machine:
        the uninstaller removes the PlayList with its links and leaves each link's target with
        its values and subkeys as it was."""
        cases = [
            # title, link below the PlayList ("" for the PlayList itself), the link's target
            ("Linked List", "", "HKCU\\Software\\Victim List"),
            ("Linked Entry", "\\Entry", "HKCU\\Software\\Victim Entry"),
            ("Linked Deep", "\\Night\\Machine", "HKLM\\Software\\Victim Deep"),
        ]
        with self.env.isolated(self.id()) as env:
            for title, link, victim in cases:
                with self.subTest(title):
                    target = "C:\\Savers\\" + title
                    self.install(env, package(title, "Linked.scr"), target)
                    self.reg_add(env, victim, "Keep", "mine")
                    self.reg_add(env, victim + "\\Sub", "Deep", "deeper")
                    expected = {"": {"Keep": "mine"}, "Sub": {"Deep": "deeper"}}
                    play_list = USER_KEY + title + "\\PlayList"
                    if link:
                        self.reg_add(env, play_list, "Count", "2")
                        self.reg_add(env, play_list + "\\Night", "File", "night.jpg")
                    self.driver(env, "reg-link", play_list + link, victim)
                    # The link leads to its target.
                    self.assertEqual(self.tree(env, play_list + link), expected)

                    self.uninstall_silently(env, title)
                    self.assertEqual(self.tree(env, victim), expected)
                    # The whole PlayList is gone, links included.
                    self.assertEqual(self.state(env, title, target), self.removed())
