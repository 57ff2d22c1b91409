"""The bare stub (nothing appended) and the run modes its command line selects."""
import winenv

TITLE = "Screensaver Setup"
CORRUPTED = "The file is corrupted. Setup can not continue."
EXIT_DAMAGED = 1


class BareStubTest(winenv.E2ETestCase):
    def run_stub(self, args, steps=(), raw_args=None):
        return self.env.drive(self.env.setup_exe, args, steps, raw_args=raw_args)

    def assertCorruptedBox(self, args, raw_args=None):
        result = self.run_stub(args, [["wait-window", "*", "*"], ["dump"], ["click", "OK"]], raw_args)
        self.assertDriven(result)
        self.assertEqual(winenv.message_box(result.dumps()[0]),
                         {"class": "#32770", "caption": TITLE, "text": CORRUPTED, "icon": "error", "buttons": ["OK"]},
                         result)
        self.assertEqual(len(result.windows_seen), 1, result)
        self.assertEqual(result.exit_code, EXIT_DAMAGED)

    def test_normal_runs_report_the_missing_package(self):
        cases = {
            "no parameter": [],
            "-delfile without a file": ["-delfile"],
            "-delfile in other letter case": ["-DelFile", "x"],
            "-silent as second parameter": ["x", "-silent"],
            "-silent with more after it": ["-silentx"],
            "preview": ["-previewonly"],
        }
        for name, args in cases.items():
            with self.subTest(name, args=args):
                self.assertCorruptedBox(args)

    def test_silent_runs_end_without_a_window(self):
        cases = {
            "plain": (["-silent"], None),
            "upper case": (["-SILENT"], None),
            "blanks inside the quotes": ([" -silent "], None),
            "tabs inside the quotes": ([], '"\t-silent\t"'),
            "with a directory": (["-Silent", "C:\\Program Files\\x"], None),
        }
        for name, (args, raw_args) in cases.items():
            with self.subTest(name, args=args, raw_args=raw_args):
                result = self.run_stub(args, raw_args=raw_args)
                self.assertDriven(result)
                self.assertEqual(result.windows_seen, [], result)
                self.assertEqual(result.exit_code, EXIT_DAMAGED)
