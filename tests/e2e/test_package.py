"""Installer and uninstaller images: the role the package gives the run, and the one
report for every damaged package."""
import json
import os
import random

import scrimage
import winenv

APP_TITLE = "Screensaver Setup"
CORRUPTED = "The file is corrupted. Setup can not continue."
CORRUPTED_DE = "Die Datei ist beschädigt."
GERMAN = scrimage.language_text(**{CORRUPTED: CORRUPTED_DE, "Setup": "Installation"})
EXIT_DAMAGED, EXIT_CANCELLED = 1, 4


class PackageTest(winenv.E2ETestCase):
    def image(self, name, data):
        path = os.path.join(self.work(), name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def installer(self, name, pkg, after=b""):
        path = os.path.join(self.work(), name)
        scrimage.write_installer(pkg, self.env.stub_exe, path, after=after)
        return path

    def test_installer_opens_its_window(self):
        junk = random.Random(7).randbytes(3 * 1024 * 1024)
        cases = {
            "plain": (scrimage.Package(title="Aurora"), b"", "Aurora Setup"),
            "3 MiB after the trailer": (scrimage.Package(title="Aurora"), junk, "Aurora Setup"),
            "translated caption": (scrimage.Package(title="Nordlicht", language=GERMAN), b"", "Nordlicht Installation"),
            "longest title": (scrimage.Package(title="T" * 30 + "ü"), b"", "T" * 30 + "ü Setup"),
        }
        for name, (pkg, after, caption) in cases.items():
            with self.subTest(name):
                path = self.installer("setup.exe", pkg, after)
                result = self.env.drive(path, [], [["wait-window", "TSCRSetup", "*"], ["dump"], ["close"]])
                self.assertDriven(result)
                window = result.dumps()[0]
                self.assertEqual((window["class"], window["caption"], window["visible"]),
                                 ("TSCRSetup", caption, True), result)
                self.assertEqual([w["class"] for w in result.windows_seen], ["TSCRSetup"], result)
                self.assertEqual(result.exit_code, EXIT_CANCELLED)

    def test_valid_uninstaller_runs_without_the_wizard(self):
        """The uninstall run: the question, and never the wizard window."""
        stub = self.env.stub()
        path = self.image("uninstall.exe", scrimage.Package(language=GERMAN).uninstaller(stub))
        result = self.env.drive(path, [], [["wait-window", "#32770", "*"], ["dump"], ["click", "No"],
                                           ["wait-exit", "10000"]])
        self.assertDriven(result)
        self.assertEqual(winenv.message_box(result.dumps()[0])["caption"], "Aurora Uninstall")
        self.assertEqual([w["class"] for w in result.windows_seen], ["#32770"], result)
        self.assertEqual(result.exit_code, EXIT_CANCELLED)
        result = self.env.drive(path, ["-silent"])
        self.assertDriven(result)
        self.assertEqual(result.windows_seen, [], result)
        self.assertEqual(result.exit_code, 0)

    def test_damaged_images_report_corruption(self):
        stub = self.env.stub()
        pkg = scrimage.Package()
        german = scrimage.Package(language=GERMAN)
        zeros_and_uninstaller_signature = bytes(2000) + scrimage.signature(scrimage.UNINSTALLER_SIGNATURE)
        cases = {
            # The role is decided after the language text is read: the report is translated.
            "uninstaller without marker": (
                scrimage.Package(language=GERMAN, uninstall_marker="").uninstaller(stub), CORRUPTED_DE),
            "uninstaller with marker in other case": (
                scrimage.Package(language=GERMAN, uninstall_marker="scrset.sig").uninstaller(stub), CORRUPTED_DE),
            # No signature at all: nothing is read, the report stays English.
            "signature in other case": (german.installer(stub, trailer_text="parvol.sig"), CORRUPTED),
            # The signature nearest the end wins, even inside bytes after the real trailer.
            "uninstaller signature after the trailer": (
                pkg.installer(stub, after=zeros_and_uninstaller_signature), CORRUPTED),
            "texts size larger than the texts": (
                scrimage.Package(readme="Hi", header_patch={scrimage.TEXTS_SIZE: (6).to_bytes(4, "little")})
                .installer(stub), CORRUPTED),
        }
        for name, (data, text) in cases.items():
            with self.subTest(name):
                path = self.image("damaged.exe", data)
                result = self.env.drive(path, [], [["wait-window", "*", "*"], ["dump"], ["click", "OK"]])
                self.assertDriven(result)
                self.assertEqual(winenv.message_box(result.dumps()[0]),
                                 {"class": "#32770", "caption": APP_TITLE, "text": text, "icon": "error",
                                  "buttons": ["OK"]}, result)
                self.assertEqual(len(result.windows_seen), 1, result)
                self.assertEqual(result.exit_code, EXIT_DAMAGED)

    def test_damaged_image_ends_silently_with_silent(self):
        path = self.image("damaged.exe", scrimage.Package(uninstall_marker="").uninstaller(self.env.stub()))
        result = self.env.drive(path, ["-silent"])
        self.assertDriven(result)
        self.assertEqual(result.windows_seen, [], result)
        self.assertEqual(result.exit_code, EXIT_DAMAGED)


class WindowsPackerTest(winenv.E2ETestCase):
    def test_packer_of_the_architecture_packs_its_stub_and_names_it(self):
        """scrpack.exe of the run's build, under Wine: builds an installer from the stub of the
        same build, describes it with that stub's architecture, and the installer opens."""
        work = self.work()
        stub = os.path.join(work, "setup.exe")
        with open(stub, "wb") as f:
            f.write(self.env.stub())
        scr = os.path.join(work, "Aurora.scr")
        with open(scr, "wb") as f:
            f.write(b"not a program" * 64)
        out = os.path.join(work, "AuroraSetup.exe")
        scrpack = os.path.join(self.env.bin_dir, "scrpack.exe")
        arch = {"win32": "x86", "win64": "x64"}[self.env.arch]
        built = self.env.wine([scrpack, "build", "--stub", self.env.win_path(stub), "--scr", self.env.win_path(scr),
                               "--title", "Aurora", "-o", self.env.win_path(out)])
        self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
        self.assertIn(f"({arch} stub)", built.stdout)
        info = self.env.wine([scrpack, "info", "--json", self.env.win_path(out)])
        self.assertEqual(info.returncode, 0, info.stdout + info.stderr)
        described = json.loads(info.stdout)
        self.assertEqual((described["architecture"], described["role"]), (arch, "installer"))
        self.assertTrue(described["checksum"]["verified"], described["checksum"])
        result = self.env.drive(out, [], [["wait-window", "TSCRSetup", "*"], ["dump"], ["close"]])
        self.assertDriven(result)
        self.assertEqual(result.dumps()[0]["caption"], "Aurora Setup")
