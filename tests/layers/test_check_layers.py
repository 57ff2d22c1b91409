"""The layer check on small trees: what it lets through and what it stops."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import check_layers  # noqa: E402

# A tree as the layers allow it: each file with its includes.
CLEAN = {
    "common/text.h": [],
    "common/text.cpp": ["text.h"],
    "package/package.h": ["../common/text.h"],
    "package/package.cpp": ["package.h"],
    "platform/files.h": ["../common/text.h"],
    "platform/win32/files_win32.cpp": ["../files.h"],
    "platform/win32/win32.h": [],
    "setupmain/outcome.h": [],
    "setupmain/install.h": ["outcome.h", "../package/package.h"],
    "setupmain/install.cpp": ["install.h", "../platform/files.h"],
    "setupmain/form.h": ["install.h"],
    "setupmain/form.cpp": ["form.h"],
    "setup/setup.cpp": ["../setupmain/form.h"],
    "setup/winmain.cpp": ["../platform/win32/win32.h"],
    "scrpack/build.cpp": ["package/package.h", "common/text.h"],
}


def write_tree(root, tree):
    for path, includes in tree.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w") as f:
            f.write("".join(f'#include "{i}"\n' for i in includes) + "#include <string>\n")


class LayerCheckTest(unittest.TestCase):
    def check(self, changes):
        tree = dict(CLEAN)
        tree.update(changes)
        with tempfile.TemporaryDirectory() as root:
            write_tree(root, tree)
            return check_layers.check(root)[0]

    def test_a_tree_that_keeps_the_layers_passes(self):
        self.assertEqual(self.check({}), [])

    def test_what_is_refused(self):
        cases = [
            ("a lower layer includes a higher one",
             {"package/package.cpp": ["package.h", "../setupmain/outcome.h"]},
             "src/package/package.cpp: includes src/setupmain/outcome.h (package may not include setupmain)"),
            ("the platform reaches up into the entry",
             {"platform/win32/files_win32.cpp": ["../files.h", "../../setup/setup.h"], "setup/setup.h": []},
             "src/platform/win32/files_win32.cpp: includes src/setup/setup.h (platform may not include setup)"),
            ("the packer uses the stub's logic",
             {"scrpack/build.cpp": ["setupmain/outcome.h"]},
             "src/scrpack/build.cpp: includes src/setupmain/outcome.h (scrpack may not include setupmain)"),
            ("the logic uses the Windows implementation",
             {"setupmain/install.cpp": ["install.h", "../platform/win32/win32.h"]},
             "src/setupmain/install.cpp: includes src/platform/win32/win32.h (the platform's own implementation)"),
            ("the entry's other files use the Windows implementation",
             {"setup/setup.cpp": ["../platform/win32/win32.h"]},
             "src/setup/setup.cpp: includes src/platform/win32/win32.h (the platform's own implementation)"),
            ("an include of no file",
             {"setupmain/form.cpp": ["form.h", "wizard.h"]},
             'src/setupmain/form.cpp: includes "wizard.h", which is no file of src/'),
            ("a folder of no layer",
             {"extra/tool.cpp": []},
             "src/extra/tool.cpp: in a folder of no known layer"),
            ("two headers that include each other",
             {"setupmain/outcome.h": ["install.h"]},
             "cycle: setupmain/install -> setupmain/outcome -> setupmain/install"),
            ("two files that call each other",
             {"setupmain/install.cpp": ["install.h", "form.h"]},
             "cycle: setupmain/form -> setupmain/install -> setupmain/form"),
        ]
        for what, changes, problem in cases:
            with self.subTest(what):
                self.assertEqual(self.check(changes), [problem])

    def test_an_interface_implemented_elsewhere_ends_no_cycle(self):
        # controls.cpp calls through native.h, whose declarations take controls.h's types and
        # are implemented by the platform's own files: no file calls back into controls.cpp.
        tree = {
            "platform/controls.h": [],
            "platform/controls.cpp": ["controls.h", "native.h"],
            "platform/native.h": ["controls.h"],
            "platform/win32/controls_win32.cpp": ["../native.h"],
        }
        self.assertEqual(self.check(tree), [])

    def test_the_real_tree_keeps_its_layers(self):
        src = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src")
        self.assertEqual(check_layers.check(os.path.abspath(src))[0], [])


if __name__ == "__main__":
    unittest.main()
