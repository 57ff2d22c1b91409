"""What `scrpack info` says an installation registers, against a real silent installation into
the default folder: the uninstall entry's key and every value the setup writes into it are the
ones foretold (the folder placeholder resolved as the setup resolves it), the files it names are
there, and the estimated size covers what landed in the folder."""
import json
import os
import subprocess
import unittest

import scrimage
import winenv
from test_install import EXIT_DONE, UNINSTALL_KEY, InstallCase, entry_key
from test_wizard import german


class RegistersTest(InstallCase):
    def test_silent_installation_registers_what_info_foretells(self):
        scrpack = scrimage.scrpack_program()
        if not scrpack:
            raise unittest.SkipTest("needs the native scrpack (build/native/bin/scrpack or E2E_SCRPACK)")
        # The sample screensaver of this architecture, with its version resource.
        with open(os.path.join(self.env.bin_dir, "Starfield.scr"), "rb") as f:
            starfield = f.read()
        cases = {
            "English, ASCII readme": scrimage.Package(
                title="Starfield", scr_name="Starfield.scr", scr=starfield, readme="Read me\nplease\n",
                link="https://example.com/starfield", sub_dir="Starfield", uninstall_entry=True),
            "German, readme beyond the code page, mail link": scrimage.Package(
                title="Nachthimmel", scr_name="Night Sky.scr", scr=starfield, readme="Sterne \u65e5\u672c\r\n",
                language=german()[0], link="mailto:sky@example.com", base_dir="<Program Files>\\Savers ",
                sub_dir="\\Nachthimmel\\", uninstall_entry=True),
        }
        for name, pkg in cases.items():
            with self.subTest(name), self.env.isolated(f"{self.id()}-{name}") as env:
                path = self.installer(env, pkg)
                told = subprocess.run([scrpack, "info", "--json", path], capture_output=True, text=True, timeout=60)
                self.assertEqual(told.returncode, 0, told.stdout + told.stderr)
                info = json.loads(told.stdout)
                registers = info["registers"]
                # The key the setup writes, foretold by info and worked out here on its own.
                self.assertEqual(UNINSTALL_KEY + info["productCode"], entry_key(pkg.title))

                result = env.drive(path, ["-silent"])
                self.assertDriven(result)
                self.assertEqual(result.exit_code, EXIT_DONE, result)

                program_files = self.probe(env, "programfiles").rstrip("\\")

                def resolved(value):
                    return value.replace("<Program Files>", program_files) if isinstance(value, str) else value

                key = UNINSTALL_KEY + info["productCode"]
                # Both ways: every value foretold is written as foretold, and nothing else is.
                written = {}
                for line in (env.reg_query(key) or "").splitlines():
                    m = winenv.REG_VALUE_LINE.match(line)
                    if m:
                        written[m.group(1)] = m.group(3) or ""
                self.assertEqual(set(written), set(registers), written)
                for value_name, value in registers.items():
                    expected = resolved(value)
                    self.assertEqual(written[value_name], expected if isinstance(expected, str) else hex(expected),
                                     value_name)
                self.assertIsNone(env.reg_query(UNINSTALL_KEY + pkg.title), "nothing under the title")

                folder = resolved(registers["InstallLocation"])
                host_folder = env.host_path(folder)
                landed = sorted(os.listdir(host_folder))
                icon, uninstaller = resolved(registers["DisplayIcon"]), resolved(registers["UninstallString"])
                self.assertEqual(uninstaller, resolved(registers["QuietUninstallString"]).removesuffix(" -silent"))
                self.assertIn(os.path.basename(env.host_path(icon)), landed)
                self.assertIn(os.path.basename(env.host_path(uninstaller.strip('"'))), landed)
                self.assertEqual(len(landed), 3, landed)  # with the readme copy
                # Both readmes are saved in the form info counts: ASCII as it is, the other (beyond
                # the prefix's code page, 1252) as UTF-8 with a byte-order mark.
                size = sum(os.path.getsize(os.path.join(host_folder, f)) for f in landed)
                self.assertEqual(registers["EstimatedSize"], (size + 1023) // 1024, landed)
