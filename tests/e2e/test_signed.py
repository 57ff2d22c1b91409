"""Signed installers: the certificate table behind the package leaves the run alone, nothing
hidden inside it is taken for the package, and the uninstaller an installation writes is a
clean unsigned program."""
import dataclasses
import os
import struct
import unittest

import scrimage
import signing
import winenv

CORRUPTED = "The file is corrupted. Setup can not continue."
EXIT_DONE, EXIT_DAMAGED, EXIT_CANCELLED = 0, 1, 4
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
# Not a program, so nothing can start it; texts so that the uninstaller carries a texts block.
PACKAGE = scrimage.Package(title="Aurora", scr_name="Aurora.scr", scr=b"not a program " * 100,
                           license="Be kind to your screen.",
                           language=scrimage.language_text(**{CORRUPTED: "Die Datei ist beschädigt."}),
                           uninstall_entry=True)
UNINSTALLER_NAME = "uninstall Aurora.exe"
CHECKSUM_MAGIC, CHECKSUM_RECORD_SIZE = b"ScrCRC32", 16
DAMAGED_DOWNLOAD = "The setup file of {} is damaged and nothing was installed. Please download it again."
USER_KEY = "HKCU\\Software\\Glimmerdeck\\"
SIGNED = scrimage.Package(title="Signed", scr_name="Signed.scr", scr=b"payload A, not a program " * 60,
                          sub_dir="Signed")
# Everything it could leave behind carries its name: files, shortcuts, registry keys.
APPENDED = scrimage.Package(title="Appended", scr_name="Appended.scr", scr=b"payload B, not a program " * 83,
                            sub_dir="Appended", link="https://appended.example/", uninstall_entry=True,
                            menu_shortcuts=True, desktop_shortcut=True)


def first_difference(a, b):
    """The first offset where two byte strings differ, None when they are equal."""
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return None if len(a) == len(b) else min(len(a), len(b))


def hide_in_certificate(signed, blob):
    """`signed` with `blob` at the end of its (single) certificate entry: the entry length, the
    directory size and the checksum grow with it. The table is not hashed, so the signature
    still verifies; the blob's trailer ends the file, where a backward scan finds it first."""
    (table, size), _ = signing.signature_fields(signed)
    if table + size != len(signed):
        raise ValueError("the certificate table does not end the file")
    grown = bytearray(signed + bytes(-len(blob) % 8) + blob)
    struct.pack_into("<I", grown, table, len(grown) - table)
    return signing.set_certificate_table(grown, table, len(grown) - table)


def move_certificate_table(signed, gap):
    """`signed` with `gap` inserted before its certificate table."""
    (table, size), _ = signing.signature_fields(signed)
    return signing.set_certificate_table(signed[:table] + gap + signed[table:], table + len(gap), size)


def sign_installer(env, pkg, name):
    """(signer, signed file, its bytes, bytes of padding between trailer and table)."""
    folder = os.path.join(env.run_dir, "signed")
    os.makedirs(folder, exist_ok=True)
    unsigned, signed = os.path.join(folder, name + "-unsigned.exe"), os.path.join(folder, name + ".exe")
    scrimage.write_installer(pkg, env.stub_exe, unsigned)
    signer = signing.Signer(folder)
    signer.sign(unsigned, signed)
    with open(signed, "rb") as f:
        data = f.read()
    (table, _), _ = signing.signature_fields(data)
    return signer, signed, data, table - os.path.getsize(unsigned)


class SigningCase(winenv.E2ETestCase):
    @classmethod
    def setUpClass(cls):
        missing = signing.missing_tools()
        if missing:
            raise unittest.SkipTest(f"{', '.join(missing)} not installed")
        super().setUpClass()


class SignedInstallerTest(SigningCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.signer, path, cls.signed, _ = sign_installer(cls.env, PACKAGE, "signed")
        cls.signed_ok, cls.signed_report = cls.signer.verify(path)

    def write(self, path, data):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def expected_uninstaller(self):
        """Read from the signed installer: its stub with the signature fields cleared, texts,
        header and the uninstaller trailer."""
        (table, size), checksum = signing.signature_fields(self.signed)
        self.assertTrue(table and size and checksum, "the installer is not signed")
        self.assertEqual(table + size, len(self.signed), "the certificate table ends the file")
        trailer = scrimage.signature(scrimage.INSTALLER_SIGNATURE)
        end = self.signed.rfind(trailer, 0, table) + len(trailer)
        self.assertEqual(self.signed[end:table], bytes(table - end), "only padding before the table")
        self.assertLess(table - end, 8)
        header = self.signed[end - len(trailer) - scrimage.HEADER_SIZE:end - len(trailer)]
        stub_end = end - int.from_bytes(header[:4], "little")
        texts_start = stub_end + len(PACKAGE.scr)
        self.assertEqual(self.signed[stub_end:texts_start], PACKAGE.scr)
        texts = self.signed[texts_start:end - len(trailer) - scrimage.HEADER_SIZE]
        self.assertEqual(texts, PACKAGE.texts())
        # The packer's checksum record stays with the installer.
        program_end = stub_end - CHECKSUM_RECORD_SIZE
        self.assertEqual(self.signed[program_end:program_end + 8], CHECKSUM_MAGIC)
        stub = signing.clear_signature_fields(self.signed[:program_end])
        return stub + texts + header + scrimage.signature(scrimage.UNINSTALLER_SIGNATURE)

    def test_silent_install_writes_an_unsigned_uninstaller_that_runs(self):
        self.assertTrue(self.signed_ok, self.signed_report)
        expected = self.expected_uninstaller()
        with self.env.isolated(self.id()) as env:
            key = UNINSTALL_KEY + scrimage.uninstall_key_name(PACKAGE.title)
            # Also starts the prefix's own services, which would otherwise count as the setup's.
            self.assertIsNone(env.reg_query(key))
            installer = self.write(os.path.join(env.drive_c, "signed", "setup.exe"), self.signed)
            target = "C:\\Screensavers\\Aurora"
            result = env.drive(installer, ["-silent", target])
            self.assertDriven(result)
            self.assertEqual((result.exit_code, result.windows_seen), (EXIT_DONE, []), result)

            folder = env.host_path(target)
            self.assertEqual(sorted(os.listdir(folder)), ["Aurora.scr", UNINSTALLER_NAME])
            with open(os.path.join(folder, "Aurora.scr"), "rb") as f:
                self.assertEqual(f.read(), PACKAGE.scr)
            uninstaller_path = os.path.join(folder, UNINSTALLER_NAME)
            with open(uninstaller_path, "rb") as f:
                uninstaller = f.read()
            self.assertEqual(signing.signature_fields(uninstaller), ((0, 0), 0))
            self.assertIsNone(first_difference(uninstaller, expected),
                              f"{len(uninstaller)} bytes written, {len(expected)} expected")
            ok, report = self.signer.verify(uninstaller_path)
            self.assertFalse(ok, report)
            self.assertIn("No signature found", report)
            # What a certificate entry left pointing past the end of the file brings.
            self.assertNotIn("Ignoring PE signature", report)
            self.assertEqual((env.reg_query(key, "DisplayName"), env.reg_query(key, "UninstallString")),
                             ("Aurora", f'"{target}\\{UNINSTALLER_NAME}"'))

            # The case of one trailer letter decides whether the run finds its package.
            damaged = self.write(os.path.join(env.drive_c, "signed", "damaged.exe"),
                                 uninstaller[:-2] + "G".encode("utf-16-le"))
            result = env.drive(damaged, ["-silent"])
            self.assertDriven(result)
            self.assertEqual((result.exit_code, result.windows_seen), (EXIT_DAMAGED, []), result)
            # The intact one runs and uninstalls.
            result = env.drive(uninstaller_path, ["-silent"])
            self.assertDriven(result)
            self.assertEqual((result.exit_code, result.windows_seen), (EXIT_DONE, []), result)
            self.assertFalse(os.path.exists(os.path.join(env.host_path(target), "Aurora.scr")))
            self.assertIsNone(env.reg_query(key))

    def test_signed_installer_opens_its_wizard(self):
        path = self.write(os.path.join(self.work(), "setup.exe"), self.signed)
        result = self.env.drive(path, [], [["wait-window", "TSCRSetup", "*"], ["dump"], ["close"]])
        self.assertDriven(result)
        window = result.dumps()[0]
        self.assertEqual((window["caption"], window["visible"]), ("Aurora Setup", True), result)
        self.assertEqual([w["class"] for w in result.windows_seen], ["TSCRSetup"], result)
        self.assertEqual(result.exit_code, EXIT_CANCELLED)


class CertificateTableTest(SigningCase):
    """The package is the one whose trailer meets the certificate table: a second one hidden
    inside the table, where it leaves the signature intact, is never read."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.signer, _, cls.signed, cls.padding = sign_installer(cls.env, SIGNED, "signed-a")
        cls.image_end = os.path.getsize(cls.env.stub_exe)

    def tampered(self, reach_image_end):
        """With the appended package's own blocks, or with a PackageSize reaching back to where
        the program ends, the one place a package may start."""
        pkg = APPENDED
        if reach_image_end:
            blob = pkg.installer(b"")
            end = len(self.signed) + (-len(blob) % 8) + len(blob)
            pkg = dataclasses.replace(pkg, header_patch={
                scrimage.PACKAGE_SIZE: struct.pack("<i", end - self.image_end)})
        return hide_in_certificate(self.signed, pkg.installer(b""))

    def write(self, folder, name, data):
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def caption(self, path):
        result = self.env.drive(path, [], [["wait-window", "TSCRSetup", "*"], ["dump"], ["close"]])
        self.assertDriven(result)
        self.assertEqual(result.exit_code, EXIT_CANCELLED, result)
        window = result.dumps()[0]
        self.assertNotIn(APPENDED.link, [c["text"] for c in window["children"] if c["visible"]], result)
        return window["caption"]

    def test_wizard_shows_the_signed_package(self):
        for reach_image_end in (False, True):
            with self.subTest(reach_image_end=reach_image_end):
                path = self.write(self.work(), f"setup-{reach_image_end}.exe", self.tampered(reach_image_end))
                ok, report = self.signer.verify(path)
                self.assertTrue(ok, report)
                self.assertEqual(self.caption(path), "Signed Setup")
        # The same bytes read as an unsigned file: a backward scan takes the appended package.
        path = self.write(self.work(), "unsigned.exe", signing.clear_signature_fields(self.tampered(True)))
        result = self.env.drive(path, [], [["wait-window", "TSCRSetup", "*"], ["dump"], ["close"]])
        self.assertDriven(result)
        self.assertEqual(result.dumps()[0]["caption"], "Appended Setup", result)

    def test_silent_install_takes_only_the_signed_package(self):
        with self.env.isolated(self.id()) as env:
            self.assertIsNone(env.reg_query(USER_KEY + SIGNED.title))
            installer = self.write(os.path.join(env.drive_c, "signed"), "setup.exe", self.tampered(False))
            target = "C:\\Screensavers\\Signed"
            result = env.drive(installer, ["-silent", target])
            self.assertDriven(result)
            self.assertEqual((result.exit_code, result.windows_seen), (EXIT_DONE, []), result)

            folder = env.host_path(target)
            self.assertEqual(sorted(os.listdir(folder)), ["Signed.scr", "uninstall Signed.exe"])
            with open(os.path.join(folder, "Signed.scr"), "rb") as f:
                self.assertEqual(f.read(), SIGNED.scr)
            # Nothing of the certificate table travels into the uninstaller.
            with open(os.path.join(folder, "uninstall Signed.exe"), "rb") as f:
                uninstaller = f.read()
            expected = SIGNED.uninstaller(signing.clear_signature_fields(self.signed[:self.image_end]))
            self.assertIsNone(first_difference(uninstaller, expected),
                              f"{len(uninstaller)} bytes written, {len(expected)} expected")
            self.assertEqual(env.reg_query(USER_KEY + SIGNED.title, "FileName_"), target + "\\Signed.scr")
            self.assertIsNone(env.reg_query(USER_KEY + APPENDED.title))
            self.assertIsNone(env.reg_query(UNINSTALL_KEY + scrimage.uninstall_key_name(APPENDED.title)))
            named, payload = [], []
            for root, dirs, files in os.walk(env.drive_c):
                for name in dirs + files:
                    if "appended" in name.lower():
                        named.append(os.path.join(root, name))
                for name in files:
                    path = os.path.join(root, name)
                    if os.path.isfile(path) and os.path.getsize(path) == len(APPENDED.scr):
                        with open(path, "rb") as f:
                            if f.read() == APPENDED.scr:
                                payload.append(path)
            self.assertEqual((named, payload), ([], []))

    def test_trailer_must_end_where_the_table_begins(self):
        # Up to seven bytes of alignment padding between them.
        path = self.write(self.work(), "padded.exe", move_certificate_table(self.signed, bytes(7 - self.padding)))
        self.assertEqual(self.caption(path), "Signed Setup")
        path = self.write(self.work(), "moved.exe", move_certificate_table(self.signed, b"junkjunk"))
        result = self.env.drive(path, ["-silent"])
        self.assertDriven(result)
        self.assertEqual((result.exit_code, result.windows_seen), (EXIT_DAMAGED, []), result)


class ChecksumTest(SigningCase):
    """The packer's checksum, signed or not: one flipped byte of the screensaver makes the
    installer refuse after its copy, with nothing left behind; the untouched file installs."""
    PKG = scrimage.Package(title="Aurora", scr_name="Aurora.scr", scr=bytes(range(256)) * 2000, readme="Hello",
                           uninstall_entry=True, menu_shortcuts=True)

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if not scrimage.scrpack_program():
            raise AssertionError("the packer is not built: the checksum cannot be tested")
        cls.signer, path, cls.signed, _ = sign_installer(cls.env, cls.PKG, "checksum")
        with open(path.replace(".exe", "-unsigned.exe"), "rb") as f:
            cls.unsigned = f.read()
        record = cls.unsigned.find(CHECKSUM_MAGIC)
        if record < 0:
            raise AssertionError("the packer wrote no checksum record")
        # Halfway through the screensaver, which follows the record.
        cls.flip_at = record + CHECKSUM_RECORD_SIZE + len(cls.PKG.scr) // 2

    def flipped(self, data):
        damaged = bytearray(data)
        damaged[self.flip_at] ^= 0x01
        return bytes(damaged)

    def assert_nothing_installed(self, env, target):
        self.assertFalse(os.path.exists(env.host_path(target)), "the folder it made is gone")
        self.assertIsNone(env.reg_query(UNINSTALL_KEY + scrimage.uninstall_key_name(self.PKG.title)))
        self.assertIsNone(env.reg_query(USER_KEY + self.PKG.title))

    def test_a_flipped_byte_is_refused_signed_or_not(self):
        signed_damaged = os.path.join(self.env.run_dir, "signed", "checksum-damaged.exe")
        with open(signed_damaged, "wb") as f:
            f.write(self.flipped(self.signed))
        ok, report = self.signer.verify(signed_damaged)
        self.assertFalse(ok, "the signature no longer matches: " + report)
        for name, data in (("unsigned", self.unsigned), ("signed", self.signed)):
            with self.subTest(name), self.env.isolated(self.id() + "-" + name) as env:
                installer = os.path.join(env.drive_c, "dl", "setup.exe")
                os.makedirs(os.path.dirname(installer), exist_ok=True)
                with open(installer, "wb") as f:
                    f.write(self.flipped(data))
                silent = env.drive(installer, ["-silent", "C:\\Savers\\Silent"])
                self.assertDriven(silent)
                self.assertEqual((silent.exit_code, silent.windows_seen), (EXIT_DAMAGED, []), silent)
                self.assert_nothing_installed(env, "C:\\Savers\\Silent")

                wizard = env.drive(installer, [], [
                    ["wait-window", "TSCRSetup", "*"], ["set-text", "C:\\Program Files\\Aurora\\", "C:\\Savers\\Wizard"],
                    ["click", "Install"], ["wait-window", "#32770", "*"], ["dump"], ["click", "OK"],
                    ["wait-exit", "10000"]])
                self.assertDriven(wizard)
                box = winenv.message_box(wizard.dumps()[0])
                self.assertEqual((box["text"], box["icon"]), (DAMAGED_DOWNLOAD.format("Aurora"), "error"))
                self.assertEqual(wizard.exit_code, EXIT_DAMAGED)
                self.assert_nothing_installed(env, "C:\\Savers\\Wizard")

                # The same bytes untouched install.
                with open(installer, "wb") as f:
                    f.write(data)
                good = env.drive(installer, ["-silent", "C:\\Savers\\Good"])
                self.assertDriven(good)
                self.assertEqual(good.exit_code, EXIT_DONE, good)
                with open(os.path.join(env.host_path("C:\\Savers\\Good"), "Aurora.scr"), "rb") as f:
                    self.assertEqual(f.read(), self.PKG.scr)
