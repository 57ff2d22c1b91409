"""The winget manifests `scrpack manifest` writes, validated offline against the published 1.10.0
schemas (tests/winget-schemas), for installers of both stubs with the sample screensaver.

Needs the native scrpack and both Windows builds' setup.exe and Starfield.scr (SCRPACK,
WIN32_BIN_DIR, WIN64_BIN_DIR; by default those of build/), PyYAML and jsonschema.
"""
import copy
import hashlib
import json
import os
import subprocess
import tempfile
import unittest

import jsonschema
import yaml

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCHEMAS = os.path.join(ROOT, "tests", "winget-schemas")
FILES = {"version": "{}.yaml", "defaultLocale": "{}.locale.en-US.yaml", "installer": "{}.installer.yaml"}
PACKAGE_ID = "Glimmerdeck.Starfield"
# What samples/starfield.rc says.
SAMPLE_VERSION, SAMPLE_COMPANY = "1.2", "Glimmerdeck"


def scrpack():
    path = os.environ.get("SCRPACK") or os.path.join(ROOT, "build", "native", "bin", "scrpack")
    if not os.path.isfile(path):
        raise FileNotFoundError(f"{path} has not been built (bash scripts/build.sh)")
    return path


def bin_dir(arch):
    path = os.environ.get(f"{arch.upper()}_BIN_DIR") or os.path.join(ROOT, "build", arch, "bin")
    for name in ("setup.exe", "Starfield.scr"):
        if not os.path.isfile(os.path.join(path, name)):
            raise FileNotFoundError(f"{os.path.join(path, name)} has not been built (bash scripts/build.sh)")
    return path


def run(*args, expect=0):
    done = subprocess.run([scrpack(), *args], capture_output=True, text=True, timeout=60)
    if done.returncode != expect:
        raise AssertionError(f"scrpack {' '.join(args)}: exit {done.returncode}, expected {expect}\n"
                             f"{done.stdout}{done.stderr}")
    return done


class ManifestTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.validators = {}
        for kind in FILES:
            with open(os.path.join(SCHEMAS, f"manifest.{kind}.1.10.0.json"), encoding="utf-8") as f:
                schema = json.load(f)
            jsonschema.Draft7Validator.check_schema(schema)
            cls.validators[kind] = jsonschema.Draft7Validator(schema)
        cls.tmp = tempfile.TemporaryDirectory(prefix="scrpack-manifest-")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def path(self, *parts):
        return os.path.join(self.tmp.name, *parts)

    def installer(self, arch, name="StarfieldSetup.exe", title="Starfield", scr="Starfield.scr"):
        out = self.path(f"{arch}-{name}")
        run("build", "--stub", os.path.join(bin_dir(arch), "setup.exe"), "--scr", os.path.join(bin_dir(arch), scr),
            "--scr-name", "Starfield.scr", "--title", title, "--link", "https://example.com/starfield",
            "--uninstall-entry", "-o", out)
        return out

    def manifest(self, installer, package_id=PACKAGE_ID, **options):
        """{kind: (text, document)} of the three files scrpack writes; options by name, with _ for -."""
        folder = tempfile.mkdtemp(dir=self.tmp.name)
        given = {"url": "https://example.com/dl/StarfieldSetup.exe", "license": "MIT",
                 "short_description": "White stars drifting on black"}
        given.update(options)
        # As --name=value: a value may start with a dash.
        run("manifest", installer, "--id", package_id, "-o", folder,
            *[f"--{name.replace('_', '-')}={value}" for name, value in given.items()])
        self.assertEqual(sorted(os.listdir(folder)), sorted(name.format(package_id) for name in FILES.values()))
        docs = {}
        for kind, name in FILES.items():
            with open(os.path.join(folder, name.format(package_id)), encoding="utf-8") as f:
                text = f.read()
            docs[kind] = (text, yaml.safe_load(text))
        return docs

    def errors(self, kind, document):
        return [e.message for e in self.validators[kind].iter_errors(document)]

    def test_manifests_of_both_stubs_validate_and_describe_the_installer(self):
        for arch, architecture in (("win32", "x86"), ("win64", "x64")):
            with self.subTest(arch):
                installer = self.installer(arch)
                docs = self.manifest(installer, package_url="https://example.com/starfield",
                                     publisher_url="https://example.com/")
                for kind, (_, document) in docs.items():
                    self.assertEqual(self.errors(kind, document), [], kind)
                version, locale, inst = (docs[k][1] for k in ("version", "defaultLocale", "installer"))
                for document in (version, locale, inst):
                    self.assertEqual((document["PackageIdentifier"], document["PackageVersion"]),
                                     (PACKAGE_ID, SAMPLE_VERSION))
                self.assertEqual((locale["Publisher"], locale["PackageName"], locale["PackageUrl"]),
                                 (SAMPLE_COMPANY, "Starfield", "https://example.com/starfield"))
                # Plain where that is safe: the files stay readable.
                self.assertIn("\nPublisher: Glimmerdeck\n", docs["defaultLocale"][0])

                self.assertEqual(len(inst["Installers"]), 1)
                entry = inst["Installers"][0]
                with open(installer, "rb") as f:
                    sha256 = hashlib.sha256(f.read()).hexdigest().upper()
                self.assertEqual((entry["Architecture"], entry["InstallerType"], entry["InstallerSha256"]),
                                 (architecture, "exe", sha256))
                self.assertEqual(entry["InstallerSwitches"], {
                    "Silent": "/S", "SilentWithProgress": "/S", "Log": '/LOG="<LOGPATH>"',
                    "InstallLocation": "/D=<INSTALLPATH>"})
                self.assertEqual({c["InstallerReturnCode"]: c["ReturnResponse"] for c in entry["ExpectedReturnCodes"]},
                                 {1: "contactSupport", 2: "invalidParameter", 3: "custom", 4: "cancelledByUser",
                                  3010: "rebootRequiredToFinish"})

                # The entry winget looks for is the one `scrpack info` says the installation writes,
                # under its key; its DisplayVersion equals the package version and is left out.
                info = json.loads(run("info", "--json", installer).stdout)
                registers = info["registers"]
                self.assertEqual((registers["DisplayVersion"], registers["Publisher"]), (SAMPLE_VERSION, SAMPLE_COMPANY))
                self.assertRegex(info["productCode"], r"^\{[0-9A-F]{8}-[0-9A-F]{4}-8[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\}$")
                self.assertEqual(entry["AppsAndFeaturesEntries"], [
                    {"DisplayName": registers["DisplayName"], "Publisher": registers["Publisher"],
                     "ProductCode": info["productCode"], "InstallerType": "exe"}])

    def test_version_resources_as_the_resource_compiler_writes_them(self):
        """The sample says 1.2 in its string table and 1.2.0.0 in its fixed part; the stub says 1.0.0.0."""
        for arch in ("win32", "win64"):
            with self.subTest(arch):
                for scr, version in (("Starfield.scr", SAMPLE_VERSION), ("setup.exe", "1.0.0.0")):
                    installer = self.installer(arch, name=f"{scr}.exe", scr=scr)
                    registers = json.loads(run("info", "--json", installer).stdout)["registers"]
                    self.assertEqual((registers["DisplayVersion"], registers["Publisher"]), (version, SAMPLE_COMPANY),
                                     scr)

    def test_validation_catches_broken_manifests(self):
        """The schemas really are applied: each change below makes a valid file invalid."""
        docs = {kind: document for kind, (_, document) in self.manifest(self.installer("win64")).items()}

        def changed(kind, change):
            document = copy.deepcopy(docs[kind])
            change(document)
            return self.errors(kind, document)

        for kind, document in docs.items():
            for field in self.validators[kind].schema["required"]:
                with self.subTest(kind=kind, missing=field):
                    self.assertNotEqual(changed(kind, lambda d: d.pop(field)), [])
        wrong = {
            "an unquoted version, read as a number": ("version", lambda d: d.update(PackageVersion=1.2)),
            "an identifier of one part": ("version", lambda d: d.update(PackageIdentifier="Starfield")),
            "another manifest type": ("defaultLocale", lambda d: d.update(ManifestType="locale")),
            "a one-letter publisher": ("defaultLocale", lambda d: d.update(Publisher="G")),
            "a hash too short": ("installer", lambda d: d["Installers"][0].update(InstallerSha256="ABC")),
            "an architecture not listed": ("installer", lambda d: d["Installers"][0].update(Architecture="mips")),
            "a response not listed": ("installer", lambda d: d["Installers"][0]["ExpectedReturnCodes"][2].update(
                ReturnResponse="installPackageFailed")),
            "exit code 0 as a return code": ("installer", lambda d: d["Installers"][0]["ExpectedReturnCodes"][0].update(
                InstallerReturnCode=0)),
            "no installer": ("installer", lambda d: d.update(Installers=[])),
        }
        for name, (kind, change) in wrong.items():
            with self.subTest(name):
                self.assertNotEqual(changed(kind, change), [])

    def test_texts_read_back_exactly_as_given(self):
        """Every text reaches YAML as a scalar that PyYAML reads back unchanged, and the files still validate."""
        texts = [
            "Glimmerdeck: Screens & Savers", "# not a comment", "a #b", "key: value", "  leading blanks",
            "trailing blank ", "'single' \"double\" quotes", "back\\slash \\n", "Grüße, café, € 5", "emoji 😀 beyond",
            "yes", "No", "null", "NULL", "~", "~ tilde", "123", "1.0", "0x1F", "1e5", ".inf", "- dash", "? query",
            "@at", "`backtick", "% percent", "!tag", "&anchor", "*alias", "[flow]", "{map: 1}", "| pipe", "> fold",
            ",comma", "line\nbreak\ttab", "carriage\r\nreturn", "bell\x07 del\x7f", "nbsp\u00a0here", "next\u0085line",
            "para\u2029sep", "bom\ufeffinside", "<<", "=", "---", "...", "on", "Off", "y", "n", "1", "2.5 beta",
            "v1.2-rc.3", "007", "true", " 1.0", "ünï #1",
        ]
        installer = self.installer("win64")
        forbidden_in_versions = set('\\/:*?"<>|') | {chr(c) for c in range(32)}
        for value in texts:
            # Each option the text fits: publishers have 2 to 256 characters, licences and
            # descriptions at least 3, versions none of \ / : * ? " < > | and no control character.
            given = {}
            if len(value) >= 2:
                given["Publisher"] = ("publisher", value)
            if len(value) >= 3:
                given["License"] = ("license", value)
                given["ShortDescription"] = ("short_description", value)
            if not set(value) & forbidden_in_versions:
                given["PackageVersion"] = ("version", value)
            with self.subTest(value=value):
                self.assertTrue(given)
                docs = self.manifest(installer, **dict(given.values()))
                for kind, (_, document) in docs.items():
                    for field, (_, expected) in given.items():
                        if field in document:
                            self.assertEqual(document[field], expected, f"{kind} {field}")
                    self.assertEqual(self.errors(kind, document), [], kind)
                self.assertTrue(set(given) <= set(docs["defaultLocale"][1]))
        # The title is the package's name and the entry's.
        for title in ("Sky #1 — Über", "Yes", "1.0", "Sky 'n' Stars & More"):
            with self.subTest(title=title):
                docs = self.manifest(self.installer("win64", name="titled.exe", title=title))
                self.assertEqual(docs["defaultLocale"][1]["PackageName"], title)
                self.assertEqual(docs["installer"][1]["Installers"][0]["AppsAndFeaturesEntries"][0]["DisplayName"], title)


if __name__ == "__main__":
    unittest.main()
