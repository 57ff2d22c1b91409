"""Signed installers: the certificate table behind the package leaves the run alone, and the
uninstaller an installation writes is a clean unsigned program."""
import os
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


def first_difference(a, b):
    """The first offset where two byte strings differ, None when they are equal."""
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return None if len(a) == len(b) else min(len(a), len(b))


class SignedInstallerTest(winenv.E2ETestCase):
    @classmethod
    def setUpClass(cls):
        missing = signing.missing_tools()
        if missing:
            raise unittest.SkipTest(f"{', '.join(missing)} not installed")
        super().setUpClass()
        folder = os.path.join(cls.env.run_dir, "signed")
        os.makedirs(folder, exist_ok=True)
        unsigned, signed = os.path.join(folder, "unsigned.exe"), os.path.join(folder, "signed.exe")
        scrimage.write_installer(PACKAGE, cls.env.stub_exe, unsigned)
        cls.signer = signing.Signer(folder)
        cls.signer.sign(unsigned, signed)
        cls.signed_ok, cls.signed_report = cls.signer.verify(signed)
        with open(signed, "rb") as f:
            cls.signed = f.read()

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
        stub = signing.clear_signature_fields(self.signed[:stub_end])
        return stub + texts + header + scrimage.signature(scrimage.UNINSTALLER_SIGNATURE)

    def test_silent_install_writes_an_unsigned_uninstaller_that_runs(self):
        self.assertTrue(self.signed_ok, self.signed_report)
        expected = self.expected_uninstaller()
        with self.env.isolated(self.id()) as env:
            key = UNINSTALL_KEY + PACKAGE.title
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
