"""The driver's readings, checked against message boxes of known content.

The setup tests rely on them: an icon reading that always said "error", or a window record
that missed windows, would let those tests pass for the wrong reason.
"""
import winenv

MB_ICONERROR, MB_ICONQUESTION, MB_ICONWARNING, MB_ICONINFORMATION, MB_YESNO = 0x10, 0x20, 0x30, 0x40, 0x04


class MessageBoxReadingTest(winenv.E2ETestCase):
    def show(self, flags, caption, text, steps):
        return self.env.drive(self.env.wintest_exe, ["msgbox", hex(flags), caption, text],
                              [["wait-window", "#32770", "*"], ["dump"]] + steps)

    def test_icon_caption_text_and_buttons(self):
        cases = [
            (MB_ICONERROR, "error", ["OK"]),
            (MB_ICONQUESTION | MB_YESNO, "question", ["Yes", "No"]),
            (MB_ICONWARNING, "warning", ["OK"]),
            (MB_ICONINFORMATION, "information", ["OK"]),
            (0, "none", ["OK"]),
        ]
        for flags, icon, buttons in cases:
            with self.subTest(icon=icon):
                caption, text = f"Größe {icon} – 完了", f"Zeile eins\nZeile {flags}"
                result = self.show(flags, caption, text, [["key", "RETURN"]])
                self.assertDriven(result)
                box = winenv.message_box(result.dumps()[0])
                self.assertEqual(box, {"class": "#32770", "caption": caption, "text": text, "icon": icon,
                                       "buttons": buttons}, result)
                self.assertEqual([w["caption"] for w in result.windows_seen], [caption])
                # RETURN presses the default button: IDOK (1) or IDYES (6).
                self.assertEqual(result.exit_code, 6 if flags & MB_YESNO else 1)

    def test_click_by_text_and_by_id(self):
        for target, code in (("No", 7), ("#6", 6)):
            with self.subTest(target=target):
                result = self.show(MB_YESNO, "pick", "pick one", [["click", target]])
                self.assertDriven(result)
                self.assertEqual(result.exit_code, code)

    def test_deadline_ends_a_program_that_waits(self):
        result = self.env.drive(self.env.wintest_exe, ["msgbox", "0", "left open", "nobody answers"], [],
                                timeout_ms=2000)
        self.assertEqual(result.status, "timeout", result)
        self.assertEqual(result.returncode, 3)
        self.assertEqual([w["caption"] for w in result.end["open_windows"]], ["left open"])
