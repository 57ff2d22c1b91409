"""Installing and uninstalling again: the uninstaller is started from its registration as
Windows starts it, asks, removes what the installation made and hands the deletion of its
own file to a temporary copy, which reports the end. Afterwards the system is as it was."""
import contextlib
import difflib
import os
import re
import shutil
import tempfile

import scrimage
import winenv
from test_install import UNINSTALL_KEY, USER_KEY, InstallCase, entry_key
from test_wizard import APP_TITLE, german

EXIT_DONE, EXIT_CANCELLED = 0, 4
QUESTION = "Are you sure you want to remove {} and its components?"
REMOVED = "{} has been successfully removed from your computer."
# Not a program: nothing the shell is asked to open starts it.
PAYLOAD = b"not a program" * 50
COPY_NAME = re.compile(r"Parvolinexuninst\d{1,7}\.exe")
# Wine keeps system parameters changed at run time here, whoever runs.
WINE_VOLATILE_KEYS = ("HKEY_CURRENT_USER\\Software\\Wine\\Temporary System Parameters",)

ASK = [["wait-window", "#32770", "*"], ["dump"]]
# The success box belongs to the temporary copy, a child of the uninstaller, so it is part of
# the driven process tree, and it comes only after the uninstaller has ended.
YES = ASK + [["click", "Yes"], ["wait-exit", "10000"], ["wait-window", "#32770", APP_TITLE, "20000"], ["dump"],
             ["click", "OK"], ["wait-tree-exit", "10000"]]
NO = ASK + [["click", "No"], ["wait-tree-exit", "10000"]]
SILENT = [["wait-tree-exit", "20000"]]


def question(title, text=QUESTION, uninstall="Uninstall"):
    return {"class": "#32770", "caption": f"{title} {uninstall}", "text": text.format(title), "icon": "question",
            "buttons": ["Yes", "No"]}


def removed_box(title, text=REMOVED):
    return {"class": "#32770", "caption": APP_TITLE, "text": text.format(title), "icon": "information",
            "buttons": ["OK"]}


def package(title, scr_name, **changes):
    fields = dict(title=title, scr_name=scr_name, scr=PAYLOAD, readme="Read me", uninstall_entry=True,
                  menu_shortcuts=True, desktop_shortcut=True)
    fields.update(changes)
    return scrimage.Package(**fields)


class LifecycleCase(InstallCase):
    _folders = {}

    def folders(self, env):
        """(Programs, desktop, temporary folder) of the prefix, each ending in a backslash."""
        if env.prefix not in self._folders:
            self._folders[env.prefix] = tuple(self.probe(env, *args).rstrip("\\") + "\\"
                                              for args in (("folder", "2"), ("folder", "0"), ("tempdir",)))
        return self._folders[env.prefix]

    def install(self, env, pkg, target):
        result = env.drive(self.installer(env, pkg, pkg.title + ".exe"), ["-silent", target])
        self.assertDriven(result)
        self.assertEqual((result.exit_code, result.windows_seen), (EXIT_DONE, []), result)

    def uninstall(self, env, title, args=(), steps=()):
        """Runs the registered uninstall command of `title`."""
        command = env.reg_query(entry_key(title), "UninstallString")
        self.assertIsNotNone(command, f"no uninstall entry for {title}")
        program, rest = winenv.split_command(command)
        result = env.drive(env.host_path(program), list(args), steps, raw_args=rest or None)
        self.assertDriven(result)
        return result

    def boxes(self, result):
        return [winenv.message_box(w) for w in result.dumps()]

    def user_key(self, env, title):
        """The per-user key as {subkey: {value: data}}, "" for the key itself; None when missing."""
        proc = env.wine(["reg", "query", USER_KEY + title, "/s"])
        if proc.returncode != 0:
            return None
        # A key without values is not listed by name.
        tree, key = {"": {}}, ""
        base = "HKEY_CURRENT_USER\\Software\\Glimmerdeck\\" + title
        for line in proc.stdout.splitlines():
            value = winenv.REG_VALUE_LINE.match(line)
            if value:
                tree[key][value.group(1)] = value.group(3) or ""
            elif line.strip():
                key = line.strip()[len(base):].lstrip("\\")
                tree[key] = {}
        return tree

    def state(self, env, title, target, words=None):
        """What an installation of `title` into `target` leaves that the uninstaller removes."""
        programs, desktop, _ = self.folders(env)
        preview = (words or {}).get("Preview", "Preview")
        return {
            "folder": self.files(env, target),
            "uninstall entry": env.reg_query(entry_key(title), "UninstallString"),
            "user key": self.user_key(env, title),
            "menu": self.files(env, programs + title),
            "desktop link": f"{preview} {title}.lnk" in self.files(env, desktop),
        }

    def installed(self, title, target, scr, words=None):
        words = words or {}
        readme, uninstall, preview = (words.get(w, w) for w in ("Readme", "Uninstall", "Preview"))
        uninstaller = f"{uninstall.lower()} {os.path.splitext(scr)[0]}.exe"
        return {
            "folder": sorted([scr, f"{title} {readme}.txt", uninstaller]),
            "uninstall entry": f'"{target}\\{uninstaller}"',
            "user key": {"": {"FileName_": f"{target}\\{scr}"}},
            "menu": sorted([f"{preview} {title}.lnk", f"{readme}.lnk", f"{uninstall} {title}.lnk"]),
            "desktop link": True,
        }

    def removed(self, folder=()):
        return {"folder": sorted(folder), "uninstall entry": None, "user key": {"": {}}, "menu": None,
                "desktop link": False}

    def temp_copies(self, env):
        return {n for n in os.listdir(env.host_path(self.folders(env)[2])) if COPY_NAME.fullmatch(n)}

    def pending_deletions(self, env):
        return [source for source, target in env.pending_renames() if target == ""]


_shared = contextlib.ExitStack()
_shared_prefix = []


def tearDownModule():
    _shared.close()


class SharedPrefixCase(LifecycleCase):
    """One prefix for the module's cases that do not compare the whole system: each installs
    under a title of its own."""

    @property
    def prefix(self):
        if not _shared_prefix:
            _shared_prefix.append(_shared.enter_context(self.env.isolated("lifecycle")))
        return _shared_prefix[0]


# ----------------------------------------------------------------------------- the whole cycle

def snapshot(env):
    """The registry below HKLM\\Software and HKCU\\Software ({key: value lines}) and every
    file and folder of drive C: with its size."""
    registry = {}
    with tempfile.TemporaryDirectory(dir=env.run_dir) as tmp:
        for root in ("HKLM\\Software", "HKCU\\Software"):
            out = os.path.join(tmp, "export.reg")
            proc = env.wine(["reg", "export", root, env.win_path(out), "/y"])
            if proc.returncode != 0:
                raise RuntimeError(f"reg export {root} failed: {proc.stdout}{proc.stderr}")
            with open(out, "rb") as f:
                text = f.read().decode("utf-16")
            key = None
            for line in text.splitlines():
                if line.startswith("[") and line.endswith("]"):
                    key = line[1:-1]
                    registry[key] = []
                elif key and line.strip():
                    registry[key].append(line)
    registry = {k: v for k, v in registry.items()
                if not any(k == w or k.startswith(w + "\\") for w in WINE_VOLATILE_KEYS)}
    files = {}
    for folder, dirs, names in os.walk(env.drive_c):
        for name in dirs + names:
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, env.drive_c).replace(os.sep, "\\")
            files[relative] = "folder" if name in dirs else os.lstat(path).st_size
    return registry, files


def changes(before, after):
    """{name: (before, after)} of everything added, removed or changed."""
    return {k: (before.get(k), after.get(k)) for k in sorted(set(before) | set(after)) if before.get(k) != after.get(k)}


class LifecycleTest(LifecycleCase):
    def test_install_then_uninstall_leaves_the_system_as_it_was(self):
        pkg = package("Aurora", "Aurora.scr", power_request_override=True)
        target = "C:\\Program Files\\Aurora"
        with self.env.isolated(self.id()) as env:
            self.system(env)
            self.installer(env, pkg, "Aurora.exe")
            _, _, temp = self.folders(env)
            pending = self.pending_deletions(env)
            registry, files = snapshot(env)

            self.install(env, pkg, target)
            self.assertEqual(self.state(env, "Aurora", target), self.installed("Aurora", target, "Aurora.scr"))
            uninstaller = self.read(env, target + "\\uninstall Aurora.exe")

            result = self.uninstall(env, "Aurora", steps=YES)
            self.assertEqual(self.boxes(result), [question("Aurora"), removed_box("Aurora")], result)
            self.assertEqual(result.exit_code, EXIT_DONE)
            self.assertEqual(len(result.windows_seen), 2, result)
            asker, reporter = (w["pid"] for w in result.windows_seen)
            self.assertEqual(asker, result.steps("start")[0]["pid"], "the question is the uninstaller's")
            self.assertNotEqual(reporter, asker, "the success box is the temporary copy's")

            copies = self.temp_copies(env)
            self.assertEqual(len(copies), 1, copies)
            copy = temp + copies.pop()
            self.assertEqual(self.read(env, copy), uninstaller, "the copy is the uninstaller")
            self.assertEqual(self.pending_deletions(env), pending + ["\\??\\" + copy])

            registry_after, files_after = snapshot(env)
            # What the recorder standing in for powercfg.exe wrote.
            log, cwd = (self.probe(env, "sysdir").rstrip("\\") + "\\powercfg.exe." + ext for ext in ("log", "cwd"))
            self.assertEqual(changes(files, files_after), {
                target[3:]: (None, "folder"),
                copy[3:]: (None, len(uninstaller)),
                log[3:]: (None, os.path.getsize(env.host_path(log))),
                cwd[3:]: (None, os.path.getsize(env.host_path(cwd))),
            })
            self.assertEqual(changes(registry, registry_after), {
                "HKEY_CURRENT_USER\\Software\\Glimmerdeck": (None, []),
                "HKEY_CURRENT_USER\\Software\\Glimmerdeck\\Aurora": (None, []),
            }, "\n".join(difflib.unified_diff([f"[{k}] {v}" for k, v in sorted(registry.items())],
                                              [f"[{k}] {v}" for k, v in sorted(registry_after.items())],
                                              lineterm="", n=0)))


    def test_native_folders_and_registry_view(self):
        """Each stub installs where programs of its own architecture belong: the 64-bit one into
        the native Program Files and the 64-bit uninstall view, never the 32-bit ones; its
        uninstaller is the same 64-bit program, which finds and removes every trace."""
        env = self.env
        pkg = package("Solstice", "Solstice.scr", sub_dir="Solstice", menu_shortcuts=False, desktop_shortcut=False)
        with env.isolated(self.id()) as env:
            self.system(env)
            program_files = self.probe(env, "folder", "38").rstrip("\\")
            self.assertEqual(program_files, "C:\\Program Files")
            # No folder given: the default one.
            result = env.drive(self.installer(env, pkg, "Solstice.exe"), ["-silent"], SILENT)
            self.assertDriven(result)
            self.assertEqual((result.exit_code, result.windows_seen), (EXIT_DONE, []), result)
            target = program_files + "\\Solstice"
            self.assertEqual(self.files(env, target), sorted(["Solstice.scr", "Solstice Readme.txt",
                                                              "uninstall Solstice.exe"]))
            self.assertIsNone(self.files(env, "C:\\Program Files (x86)\\Solstice"))
            with open(env.stub_exe, "rb") as f:
                stub = f.read()
            uninstaller = self.read(env, target + "\\uninstall Solstice.exe")
            self.assertEqual(winenv.image_machine(uninstaller), winenv.image_machine(stub))
            self.assertEqual(winenv.image_machine(stub), winenv.ARCHITECTURES[env.arch]["machine"])

            entry = entry_key("Solstice")
            wow_entry = "HKLM\\Software\\Wow6432Node\\" + UNINSTALL_KEY.split("\\", 2)[2] + scrimage.uninstall_key_name("Solstice")
            views = ["/reg:64", "/reg:32"] if env.bits == 64 else []
            found = {view: self.reg_value(env, entry, "UninstallString", view) for view in views}
            if env.bits == 64:
                self.assertEqual(found, {"/reg:64": f'"{target}\\uninstall Solstice.exe"', "/reg:32": None})
                self.assertIsNone(env.reg_query(wow_entry))
            self.assertEqual(env.reg_query(entry, "DisplayName"), "Solstice")

            result = self.uninstall(env, "Solstice", ["-silent"], SILENT)
            self.assertEqual((result.exit_code, result.windows_seen), (EXIT_DONE, []), result)
            # The folder itself stays, as after every uninstallation (see LifecycleTest above).
            self.assertEqual(self.files(env, target), [])
            self.assertIsNone(env.reg_query(entry))
            self.assertEqual({view: self.reg_value(env, entry, "UninstallString", view) for view in views},
                             {view: None for view in views})

    def test_32bit_stub_on_64bit_windows(self):
        """The 32-bit stub on 64-bit Windows (WoW64) installs where 32-bit programs belong:
        Program Files (x86), the 32-bit registry view (Wow6432Node), the powercfg.exe of the
        redirected system folder (SysWOW64); its uninstaller, found in that view, removes it all."""
        if self.env.bits != 32:
            self.skipTest("a case of the 32-bit stub; the 64-bit one's is the native case above")
        pkg = package("Solstice", "Solstice.scr", sub_dir="Solstice", menu_shortcuts=False, desktop_shortcut=False,
                      power_request_override=True)
        with self.env.isolated(self.id(), prefix_arch="win64") as env:
            self.assertEqual(self.probe(env, "folder", "38").rstrip("\\"), "C:\\Program Files (x86)")
            # A recorder of its own architecture in each system folder.
            recorders = {}
            for folder, arch in (("system32", "win64"), ("syswow64", "win32")):
                recorders[folder] = os.path.join(env.drive_c, "windows", folder, "powercfg.exe")
                shutil.copyfile(os.path.join(winenv.bin_dir(arch), "cmdrecorder.exe"), recorders[folder])

            result = env.drive(self.installer(env, pkg, "Solstice.exe"), ["-silent"], SILENT)
            self.assertDriven(result)
            self.assertEqual((result.exit_code, result.windows_seen), (EXIT_DONE, []), result)
            target = "C:\\Program Files (x86)\\Solstice"
            self.assertEqual(self.files(env, target), sorted(["Solstice.scr", "Solstice Readme.txt",
                                                              "uninstall Solstice.exe"]))
            self.assertIsNone(self.files(env, "C:\\Program Files\\Solstice"))
            uninstaller = self.read(env, target + "\\uninstall Solstice.exe")
            self.assertEqual(winenv.image_machine(uninstaller), winenv.ARCHITECTURES["win32"]["machine"])

            entry = entry_key("Solstice")
            command = f'"{target}\\uninstall Solstice.exe"'
            self.assertEqual({view: self.reg_value(env, entry, "UninstallString", view) for view in ("/reg:32", "/reg:64")},
                             {"/reg:32": command, "/reg:64": None})
            wow_entry = "HKLM\\Software\\Wow6432Node\\" + UNINSTALL_KEY.split("\\", 2)[2] + scrimage.uninstall_key_name("Solstice")
            self.assertEqual(env.reg_query(wow_entry, "DisplayName"), "Solstice")
            with open(recorders["syswow64"] + ".log", encoding="utf-8") as f:
                self.assertEqual(f.read().splitlines()[0].split(" ", 1)[1], "/requestsoverride process Solstice.scr display")
            self.assertFalse(os.path.exists(recorders["system32"] + ".log"), "the 64-bit powercfg.exe was started")

            program, rest = winenv.split_command(command)
            result = env.drive(env.host_path(program), ["-silent"], SILENT, raw_args=rest or None)
            self.assertDriven(result)
            self.assertEqual((result.exit_code, result.windows_seen), (EXIT_DONE, []), result)
            self.assertEqual(self.files(env, target), [])
            self.assertEqual({view: self.reg_value(env, entry, "UninstallString", view) for view in ("/reg:32", "/reg:64")},
                             {"/reg:32": None, "/reg:64": None})

    def reg_value(self, env, key, name, view):
        proc = env.wine(["reg", "query", key, "/v", name, view])
        if proc.returncode != 0:
            return None
        values = [m.group(3) for m in map(winenv.REG_VALUE_LINE.match, proc.stdout.splitlines()) if m]
        return values[0] if values else None


# ----------------------------------------------------------------------------- variants

class UninstallVariantsTest(SharedPrefixCase):
    def test_answers(self):
        """Yes removes everything, -silent too without a word, No and a preview nothing."""
        cases = [
            # name, arguments, steps, exit code, boxes shown, removes
            ("yes", [], YES, EXIT_DONE, ("question", "removed"), True),
            ("silent", ["-silent"], SILENT, EXIT_DONE, (), True),
            ("no", [], NO, EXIT_CANCELLED, ("question",), False),
            ("preview", ["-previewonly"], ASK + [["click", "Yes"], ["wait-tree-exit", "10000"]], EXIT_DONE,
             ("question",), False),
        ]
        env = self.prefix
        for name, args, steps, exit_code, boxes, removes in cases:
            with self.subTest(name):
                title = "Answer " + name.capitalize()
                target = "C:\\Savers\\" + name
                self.install(env, package(title, "Answer.scr"), target)
                installed = self.installed(title, target, "Answer.scr")
                self.assertEqual(self.state(env, title, target), installed)
                copies = self.temp_copies(env)

                result = self.uninstall(env, title, args, steps)
                self.assertEqual(result.exit_code, exit_code, result)
                expected = [{"question": question, "removed": removed_box}[box](title) for box in boxes]
                self.assertEqual(self.boxes(result), expected, result)
                self.assertEqual(len(result.windows_seen), len(expected), result)
                self.assertEqual(self.state(env, title, target), self.removed() if removes else installed)
                self.assertEqual(len(self.temp_copies(env) - copies), 1 if removes else 0)

    def test_the_copy_keeps_no_folder_in_use(self):
        """Started in its own folder (as a double click starts it), the uninstaller hands off to
        a copy that works in the system folder: the emptied folder can go while the copy still
        shows its box, which a copy working in the uninstaller's folder would prevent."""
        env = self.prefix
        title, target = "Nimbus", "C:\\Savers\\Nimbus"
        self.install(env, package(title, "Nimbus.scr"), target)
        steps = [["cwd", target]] + ASK + [
            ["click", "Yes"], ["wait-exit", "10000"], ["wait-window", "#32770", APP_TITLE, "20000"],
            ["remove-dir", target], ["click", "OK"], ["wait-tree-exit", "10000"]]
        result = self.uninstall(env, title, steps=steps)
        self.assertEqual(result.exit_code, EXIT_DONE)
        self.assertFalse(os.path.exists(env.host_path(target)))

    def test_folder_names_with_blanks(self):
        """The hand-off names the uninstaller by a path with blanks in every part."""
        env = self.prefix
        title, target = "Night Sky", "C:\\Program Files\\My Screen Savers\\Night Sky"
        self.install(env, package(title, "NightSky.scr"), target)
        self.assertEqual(self.state(env, title, target), self.installed(title, target, "NightSky.scr"))
        result = self.uninstall(env, title, steps=YES)
        self.assertEqual(self.boxes(result), [question(title), removed_box(title)], result)
        self.assertEqual(self.state(env, title, target), self.removed())

    def test_what_is_not_ours_stays(self):
        """A user's files in the installation and Start-menu folders and a subkey of the
        per-user key stay; the key's values, the default one included, and its PlayList go."""
        env = self.prefix
        title, target = "Keeper", "C:\\Savers\\Keeper"
        self.install(env, package(title, "Keeper.scr"), target)
        programs, _, _ = self.folders(env)
        for path in (target + "\\photo.jpg", programs + title + "\\My notes.txt"):
            with open(env.host_path(path), "wb") as f:
                f.write(b"mine")
        key = USER_KEY + title
        for sub, value in (("", ["/ve", "/d", "default"]), ("", ["/v", "Speed", "/t", "REG_DWORD", "/d", "5"]),
                           ("\\PlayList", ["/ve", "/d", "list"]), ("\\PlayList", ["/v", "Count", "/d", "1"]),
                           ("\\PlayList\\Night", ["/v", "File", "/d", "night.jpg"]),
                           ("\\Options", ["/v", "Colour", "/d", "blue"])):
            self.assertEqual(env.wine(["reg", "add", key + sub] + value + ["/f"]).returncode, 0)
        self.assertEqual(set(self.user_key(env, title)), {"", "PlayList", "PlayList\\Night", "Options"})

        self.uninstall(env, title, ["-silent"], SILENT)
        expected = self.removed(["photo.jpg"])
        expected.update({"menu": ["My notes.txt"], "user key": {"": {}, "Options": {"Colour": "blue"}}})
        self.assertEqual(self.state(env, title, target), expected)

    def test_which_screensaver_goes(self):
        """The uninstaller removes the screensaver beside itself: under the name it was
        installed with when nothing is remembered, and not a remembered one elsewhere."""
        env = self.prefix
        cases = [
            # title, packaged name, FileName_ before uninstalling (None: deleted)
            ("Forgotten", "Comet.scr", None),
            ("Elsewhere", "Meteor.scr", "C:\\Savers\\Other\\Meteor.scr"),
        ]
        for title, scr, remembered in cases:
            with self.subTest(title):
                target = f"C:\\Savers\\{title}"
                # A file of that name is there already: the installed one gets a number.
                os.makedirs(env.host_path(target))
                with open(env.host_path(f"{target}\\{scr}"), "wb") as f:
                    f.write(b"theirs")
                self.install(env, package(title, scr), target)
                numbered = scr.replace(".", "1.")
                self.assertEqual(self.state(env, title, target)["folder"],
                                 sorted(self.installed(title, target, numbered)["folder"] + [scr]))
                if remembered is None:
                    deleted = env.wine(["reg", "delete", USER_KEY + title, "/v", "FileName_", "/f"])
                    self.assertEqual(deleted.returncode, 0)
                else:
                    os.makedirs(os.path.dirname(env.host_path(remembered)))
                    with open(env.host_path(remembered), "wb") as f:
                        f.write(b"another installation")
                    added = env.wine(["reg", "add", USER_KEY + title, "/v", "FileName_", "/d", remembered, "/f"])
                    self.assertEqual(added.returncode, 0)
                self.uninstall(env, title, ["-silent"], SILENT)
                self.assertEqual(self.state(env, title, target), self.removed([scr]))
                self.assertEqual(self.read(env, f"{target}\\{scr}"), b"theirs")
                if remembered:
                    self.assertEqual(self.read(env, remembered), b"another installation")

    def test_translated_texts_and_names(self):
        text, de = german()
        env = self.prefix
        title, target = "Nordlicht", "C:\\Savers\\Nordlicht"
        self.install(env, package(title, "Licht.scr", language=text), target)
        self.assertEqual(self.state(env, title, target, de), self.installed(title, target, "Licht.scr", de))
        result = self.uninstall(env, title, steps=YES)
        self.assertEqual(self.boxes(result), [
            question(title, de[QUESTION.format("%s")].replace("%s", "{}"), de["Uninstall"]),
            removed_box(title, de[REMOVED.format("%s")].replace("%s", "{}"))], result)
        self.assertEqual(self.state(env, title, target, de), self.removed())


# ----------------------------------------------------------------------------- pictures

class ScreenshotTest(SharedPrefixCase):
    """The question and the success box for the docs, in build/e2e/screenshots/."""

    def test_boxes(self):
        if not shutil.which("convert"):
            self.skipTest("ImageMagick's convert is not installed")
        out = os.path.join(winenv.work_dir(), "screenshots")
        os.makedirs(out, exist_ok=True)
        env = self.prefix
        self.install(env, package("Starfield", "Starfield.scr"), "C:\\Program Files\\Starfield")
        shots = ("uninstall-question", "uninstall-done")

        def shoot(name):
            return [["sleep", "300"], ["screenshot", env.win_path(os.path.join(out, name + ".bmp"))], ["dump"]]

        steps = ([["wait-window", "#32770", "*"]] + shoot(shots[0]) +
                 [["click", "Yes"], ["wait-exit", "10000"], ["wait-window", "#32770", APP_TITLE, "20000"]] +
                 shoot(shots[1]) + [["click", "OK"], ["wait-tree-exit", "10000"]])
        result = self.uninstall(env, "Starfield", steps=steps)
        self.assertEqual(self.boxes(result), [question("Starfield"), removed_box("Starfield")], result)
        for name, shot, window in zip(shots, result.steps("screenshot"), result.dumps()):
            with self.subTest(name):
                self.assertScreenshot(os.path.join(out, name + ".bmp"), shot, window)
