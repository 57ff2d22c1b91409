"""The wizard window of installers made by the packer: pages, captions and buttons, the
keyboard, clicks reported for disabled and hidden buttons, the link, the folder chooser, the
default and the refused destination directories, the pictures' images, and screenshots of
the pages."""
import os
import re
import shutil

import scrimage
import winenv

APP_TITLE = "Screensaver Setup"
EXIT_REFUSED, EXIT_CANCELLED = 2, 4
CANNOT_CREATE = "Unable to create the directory. Please select a different directory."
CORRUPTED = "The file is corrupted. Setup can not continue."
LICENCE = "Terms of use\r\n\r\nYou may use this screen saver on your own computers.\r\nNothing else."

# Page name (the page window's internal caption) -> header title and description keys.
HEADERS = {
    "License": ("License Agreement", "Please read the following important information before continuing."),
    "Directory": ("Select Destination Directory", "Where should Screen Saver be installed?"),
    "Ready": ("Ready to Install", "Setup is ready to install Screen Saver."),
}
PAGE_TEXTS = {
    "License": "Please read the following License Agreement. You must accept the terms of this agreement "
               "before continuing with the installation.",
    "Directory": "Select the folder where you would like the Screen Saver to be installed, then click Install.",
    "Ready": "The Setup is ready to install Screen Saver on your computer. Click Install to continue, or "
             "Cancel to exit Setup.",
}
ACCEPT, DECLINE = "I &accept the agreement", "I &do not accept the agreement"

SS_TYPEMASK, SS_BITMAP, SS_ICON, SS_ETCHEDHORZ, SS_NOPREFIX = 0x1F, 0x0E, 0x03, 0x10, 0x80
ES_READONLY = 0x0800


def sample(name):
    with open(os.path.join(winenv.SOURCE_DIR, "samples", name), encoding="utf-8-sig") as f:
        return f.read()


def german():
    """The sample translation: its text for the packer and its "Setup" section as a table."""
    text = sample("german.lng")
    table, section = {}, None
    for line in text.splitlines():
        if line and "=" not in line:
            section = line
        elif section == "Setup" and "=" in line:
            key, value = line.split("=", 1)
            table[key] = value
    return text, table


def plain(caption):
    return caption.replace("&", "")


# ----------------------------------------------------------------------------- reading a dump

def wizard_view(window):
    """What the user sees of the wizard in a dump, by the controls' places in the window."""
    kids = window["children"]
    form = window["hwnd"]
    by_parent = {}
    for c in kids:
        by_parent.setdefault(c["parent"], []).append(c)
    top = by_parent.get(form, [])
    buttons = sorted((c for c in top if c["class"] == "Button"), key=lambda c: c["rect"]["left"])
    assert len(buttons) == 3, f"three buttons at the bottom, got {buttons}"
    back, next_, cancel = buttons
    containers = [c for c in top if c["class"] == "TSCRContainer"]
    header = next(c for c in containers if c["rect"]["top"] == 0)
    notebook = next(c for c in containers if c is not header)
    pages = by_parent.get(notebook["hwnd"], [])
    shown = [p for p in pages if p["visible"]]
    assert len(shown) == 1, f"one page showing, got {[p['text'] for p in shown]}"
    page = shown[0]
    labels = sorted((c for c in by_parent.get(header["hwnd"], [])
                     if c["class"] == "Static" and c["style"] & SS_TYPEMASK != SS_BITMAP),
                    key=lambda c: c["rect"]["top"])
    link = [c for c in top if c["class"] == "Static" and c["style"] & SS_TYPEMASK != SS_ETCHEDHORZ]
    names = {back["hwnd"]: "back", next_["hwnd"]: "next", cancel["hwnd"]: "cancel"}

    def button(c):
        return c["text"], c["visible"], c["enabled"]

    view = {
        "caption": window["caption"],
        "enabled": window["enabled"],
        "page": page["text"],
        "title": labels[0]["text"],
        "description": labels[1]["text"],
        "next": button(next_),
        "back": button(back),
        "cancel": button(cancel),
        "link": link[0]["text"] if link and link[0]["visible"] else None,
    }
    controls = by_parent.get(page["hwnd"], [])
    statics = [c for c in controls if c["class"] == "Static" and c["style"] & SS_TYPEMASK != SS_ICON]
    if statics:
        view["text"] = statics[0]["text"]
    if page["text"] == "License":
        memo = next(c for c in controls if c["class"] == "Edit")
        accept, decline = sorted((c for c in controls if c["class"] == "Button"), key=lambda c: c["rect"]["top"])
        view.update(licence=memo["text"], licence_read_only=bool(memo["style"] & ES_READONLY),
                    accept=(accept["text"], accept["checked"]), decline=(decline["text"], decline["checked"]))
        names.update({memo["hwnd"]: "licence", accept["hwnd"]: "accept", decline["hwnd"]: "decline"})
    if page["text"] == "Directory":
        edit = next(c for c in controls if c["class"] == "Edit")
        browse = next(c for c in controls if c["class"] == "Button")
        view.update(directory=edit["text"], browse=browse["text"])
        names.update({edit["hwnd"]: "directory", browse["hwnd"]: "browse"})
    if page["text"] == "Progress":
        bar = next(c for c in controls if c["class"] == "msctls_progress32")
        view["progress"] = (bar["pos"], bar["min"], bar["max"])
    view["focus"] = names.get(window["focus"], "elsewhere")
    return view


def expected_page(page, lang=None, *, back=False, next_enabled=True, cancel_enabled=True):
    """A page as it should look: its header, the buttons' captions and states."""
    t = (lang or {}).get
    title, description = HEADERS[page]
    install = page in ("Directory", "Ready")
    return {
        "page": page,
        "title": t(title, title),
        "description": t(description, description),
        "text": t(PAGE_TEXTS[page], PAGE_TEXTS[page]),
        "next": (t("Install", "Install") if install else t("Next", "Next") + " >", True, next_enabled),
        "back": ("< " + t("Back", "Back"), back, True),
        "cancel": (t("Cancel", "Cancel"), True, cancel_enabled),
    }


def sync_steps(view):
    """Waits until a click or key shows its effect (soft: a dump then shows what is wrong)."""
    caption, visible, enabled = view["next"]
    return [["wait-state", "--soft", view["page"], "visible", "3000"],
            ["wait-state", "--soft", caption, ("visible" if visible else "hidden") + ","
             + ("enabled" if enabled else "disabled"), "3000"]]


class WizardCase(winenv.E2ETestCase):
    def installer(self, pkg, name="setup.exe"):
        path = os.path.join(self.work(), name)
        scrimage.write_installer(pkg, self.env.stub_exe, path)
        return path

    def walk(self, path, actions, tail):
        """Runs the installer; each action (driver steps, expected view) is followed by a
        dump that must show the expected view."""
        steps = [["wait-window", "TSCRSetup", "*"]]
        for action, expected in actions:
            steps += action + sync_steps(expected) + [["dump"]]
        result = self.env.drive(path, [], steps + tail)
        self.assertEqual(result.failed_steps(), [], result)
        views = [wizard_view(w) for w in result.dumps()]
        self.assertEqual(len(views), len(actions), result)
        for i, ((action, expected), view) in enumerate(zip(actions, views)):
            with self.subTest(step=i, action=action):
                self.assertEqual({k: view.get(k) for k in expected}, expected, result)
        return result

    def folder(self, win_path):
        return self.env.host_path(win_path)


# ----------------------------------------------------------------------------- pages and buttons

class PageFlowTest(WizardCase):
    def test_pages_captions_and_buttons(self):
        german_text, de = german()
        licence = {"licence": LICENCE, "licence_read_only": True}
        declined = {"accept": (ACCEPT, False), "decline": (DECLINE, True)}
        accepted = {"accept": (ACCEPT, True), "decline": (DECLINE, False)}
        de_declined = {"accept": (de[ACCEPT], False), "decline": (de[DECLINE], True)}
        de_accepted = {"accept": (de[ACCEPT], True), "decline": (de[DECLINE], False)}

        def page(name, lang=None, **extra):
            states = {k: extra.pop(k) for k in ("back", "next_enabled", "cancel_enabled") if k in extra}
            return {**expected_page(name, lang, **states), **extra}

        def click(text):
            return [["click", plain(text)]]

        start = []
        cases = {
            "licence": (
                scrimage.Package(title="Aurora", license=LICENCE, license_mode=1, link="https://example.org/aurora"),
                [(start, page("License", next_enabled=False, caption="Aurora Setup", link="https://example.org/aurora",
                              **licence, **declined)),
                 (click(ACCEPT), page("License", focus="next", **accepted)),
                 (click(DECLINE), page("License", next_enabled=False, **declined)),
                 (click(ACCEPT), page("License", **accepted)),
                 (click("Next >"), page("Directory", back=True, browse="&Browse...")),
                 (click("< Back"), page("License", **accepted)),
                 (click("Next >"), page("Directory", back=True))]),
            "licence, directory page skipped": (
                scrimage.Package(title="Aurora", license=LICENCE, license_mode=2, skip_directory_page=True),
                [(start, page("License", next_enabled=False, link=None, **licence)),
                 (click(ACCEPT), page("License")),
                 (click("Next >"), page("Ready", back=True)),
                 (click("< Back"), page("License", **accepted)),
                 (click("Next >"), page("Ready", back=True))]),
            "no licence": (
                scrimage.Package(title="Aurora"),
                [(start, page("Directory", caption="Aurora Setup", link=None))]),
            "no licence, directory page skipped": (
                scrimage.Package(title="Aurora", skip_directory_page=True),
                [(start, page("Ready"))]),
            "licence text with licence mode 0": (
                scrimage.Package(title="Aurora", license=LICENCE, license_mode=0),
                [(start, page("Directory"))]),
            "licence text with licence mode 4": (
                scrimage.Package(title="Aurora", license=LICENCE, license_mode=4, skip_directory_page=True),
                [(start, page("Ready"))]),
            "translated, licence": (
                scrimage.Package(title="Nordlicht", license=LICENCE, license_mode=3, language=german_text,
                                 link="https://example.org/nordlicht"),
                [(start, page("License", de, next_enabled=False, caption="Nordlicht Installation",
                              link="https://example.org/nordlicht", **licence, **de_declined)),
                 (click(de[ACCEPT]), page("License", de, focus="next", **de_accepted)),
                 (click(de["Next"] + " >"), page("Directory", de, back=True, browse=de["&Browse"] + "...")),
                 (click("< " + de["Back"]), page("License", de, **de_accepted))]),
            "translated, directory page skipped": (
                scrimage.Package(title="Nordlicht", language=german_text, skip_directory_page=True),
                [(start, page("Ready", de, caption="Nordlicht Installation"))]),
        }
        for name, (pkg, actions) in cases.items():
            with self.subTest(name):
                cancel = actions[-1][1]["cancel"][0]
                result = self.walk(self.installer(pkg), actions, tail=[["click", cancel], ["wait-exit"]])
                self.assertEqual(result.exit_code, EXIT_CANCELLED, result)
                self.assertEqual([w["class"] for w in result.windows_seen], ["TSCRSetup"], result)


# ----------------------------------------------------------------------------- keyboard

class KeyboardTest(WizardCase):
    FOCUS_TEXTS = {"cancel": "Cancel", "next": "Next >", "accept": plain(ACCEPT),
                   "decline": plain(DECLINE), "browse": "Browse...", "back": "< Back", "licence": LICENCE}

    def keys(self, pkg, start, actions, finish, texts=None):
        """Runs the installer: start steps, then per action (steps, expected view) the steps,
        a wait for the expected focus and a dump; returns the run after checking the views."""
        texts = {**self.FOCUS_TEXTS, **(texts or {})}
        steps = [["wait-window", "TSCRSetup", "*"]] + start
        for action, view in actions:
            steps += action + [["wait-state", "--soft", texts[view["focus"]], "focused", "3000"], ["dump"]]
        result = self.env.drive(self.installer(pkg), [], steps + finish)
        self.assertEqual(result.failed_steps(), [], result)
        views = [wizard_view(w) for w in result.dumps()]
        self.assertEqual([{k: v.get(k) for k in want} for (_, want), v in zip(actions, views)],
                         [want for _, want in actions], result)
        return result

    def test_licence_page_keys(self):
        pkg = scrimage.Package(title="Aurora", license=LICENCE, license_mode=1)
        disabled, enabled = ("Next >", True, False), ("Next >", True, True)
        # A key that must do nothing is followed by a Tab: once the focus has moved on, the
        # earlier key has been handled too.
        actions = [
            ([], {"page": "License", "focus": "cancel"}),
            ([["key", "TAB"]], {"page": "License", "focus": "licence"}),
            # Escape stays with the licence box.
            ([["key", "ESCAPE", "TAB"]], {"page": "License", "focus": "decline", "next": disabled}),
            ([["key", "TAB"]], {"page": "License", "focus": "cancel"}),
            ([["key", "ALT+A"]], {"page": "License", "focus": "next", "next": enabled, "accept": (ACCEPT, True)}),
            ([["key", "TAB"]], {"page": "License", "focus": "cancel"}),
            ([["key", "TAB"]], {"page": "License", "focus": "licence"}),
            ([["key", "TAB"]], {"page": "License", "focus": "accept"}),
            # Enter on a radio button neither changes the choice nor presses Next.
            ([["key", "RETURN", "TAB"]], {"page": "License", "focus": "next", "next": enabled,
                                          "accept": (ACCEPT, True)}),
            ([["key", "ALT+D"]], {"page": "License", "focus": "decline", "next": disabled,
                                  "decline": (DECLINE, True)}),
        ]
        result = self.keys(pkg, [], actions, [["key", "ESCAPE"], ["wait-exit", "5000"]])
        # Escape anywhere but in the licence box is Cancel.
        self.assertEqual(result.exit_code, EXIT_CANCELLED, result)

    def test_enter_presses_the_focused_push_button(self):
        pkg = scrimage.Package(title="Aurora", license=LICENCE, license_mode=1)

        def tab_to(text):
            return [["key", "TAB"], ["wait-state", text, "focused"]]

        # Accepting moves the focus to Next in code, not through a key of the dialog manager.
        accept = [["key", "ALT+A"], ["wait-state", "Next >", "focused,enabled"]]
        cases = {
            "Next focused by accepting": (accept, "Directory"),
            "Next reached with Tab": (accept + tab_to("Cancel") + tab_to(LICENCE) + tab_to(plain(ACCEPT))
                                      + tab_to("Next >"), "Directory"),
            "Cancel focused at the start": ([["wait-state", "Cancel", "focused"]], None),
            "Cancel reached with Tab": (accept + tab_to("Cancel"), None),
        }
        for name, (steps, page) in cases.items():
            with self.subTest(name):
                after = [["wait-state", "--soft", page, "visible", "3000"], ["dump"], ["key", "ESCAPE"]] if page else []
                result = self.env.drive(self.installer(pkg), [], [["wait-window", "TSCRSetup", "*"]] + steps
                                        + [["key", "RETURN"]] + after + [["wait-exit", "5000"]])
                self.assertDriven(result)
                if page:
                    view = wizard_view(result.dumps()[0])
                    self.assertEqual((view["page"], view["focus"]), (page, "next"), result)
                self.assertEqual(result.exit_code, EXIT_CANCELLED, result)

    def test_enter_presses_a_button_a_click_focused(self):
        # A click (BM_CLICK, as the mouse's) focuses Browse without the dialog manager, and Browse
        # keeps the focus while its folder chooser is open.
        chooser = [["wait-window", "#32770", "*"], ["click", "Cancel"], ["wait-gone"],
                   ["wait-window", "TSCRSetup", "*"]]
        result = self.env.drive(self.installer(scrimage.Package(title="Aurora")), [], [
            ["wait-window", "TSCRSetup", "*"], ["wait-state", "Install", "focused"], ["click", "Browse..."]]
            + chooser + [["wait-state", "Browse...", "focused"], ["key", "RETURN"]] + chooser
            + [["close"], ["wait-exit", "5000"]])
        self.assertDriven(result)
        self.assertEqual([w["class"] for w in result.windows_seen], ["TSCRSetup", "#32770", "#32770"], result)

    def test_directory_page_tab_order(self):
        work = self.env.win_path(self.work())
        pkg = scrimage.Package(title="Aurora", license=LICENCE, license_mode=1, base_dir=work, sub_dir="Aurora")
        start = [["click", plain(ACCEPT)], ["wait-state", "Next >", "enabled"], ["click", "Next >"],
                 ["wait-state", "Directory", "visible"]]
        order = ["next", "cancel", "browse", "directory", "back", "next"]
        actions = [([["key", "TAB"]] if i else [], {"page": "Directory", "focus": f}) for i, f in enumerate(order)]
        result = self.keys(pkg, start, actions, [["key", "ESCAPE"], ["wait-exit", "5000"]],
                           texts={"next": "Install", "directory": f"{work}\\Aurora\\"})
        self.assertEqual(result.exit_code, EXIT_CANCELLED, result)


# ----------------------------------------------------------------------------- clicks reported by a control

class CommandTest(WizardCase):
    def test_a_disabled_or_hidden_button_never_acts(self):
        """A click a button reports (BN_CLICKED), sent to the wizard whatever the button's state."""
        licensed = scrimage.Package(title="Aurora", license=LICENCE, license_mode=1)
        accept = [["click", plain(ACCEPT)], ["wait-state", "Next >", "enabled"]]
        cases = {
            "disabled Next on the licence page": (licensed, [], "Next >", "License"),
            "Next once the licence is accepted": (licensed, accept, "Next >", "Directory"),
            "hidden Back on the first page": (scrimage.Package(title="Aurora"), [], "< Back", "Directory"),
        }
        for name, (pkg, before, button, page) in cases.items():
            with self.subTest(name):
                result = self.env.drive(self.installer(pkg), [], [["wait-window", "TSCRSetup", "*"]] + before + [
                    ["send-command", button], ["dump"], ["close"], ["wait-exit", "5000"]])
                self.assertDriven(result)
                self.assertEqual(wizard_view(result.dumps()[0])["page"], page, result)


# ----------------------------------------------------------------------------- link

class LinkTest(WizardCase):
    # Wine 8 reads URL handlers from HKCR only (HKCU\Software\Classes is not merged in).
    HANDLER = r"HKCR\mailto\shell\open\command"

    def handler(self):
        out = self.env.wine(["reg", "query", self.HANDLER, "/ve"]).stdout
        found = re.search(r"^\s+\(Default\)\s+REG_SZ\s+(.*)$", out, re.MULTILINE)
        return found.group(1).rstrip("\r") if found else None

    def set_handler(self, command):
        self.assertEqual(self.env.wine(["reg", "add", self.HANDLER, "/ve", "/d", command, "/f"]).returncode, 0)

    def test_link_opens_through_the_shell(self):
        recorder = os.path.join(self.env.bin_dir, "recorder.exe")
        if not os.path.isfile(recorder):
            self.skipTest(f"recorder.exe not built in {self.env.bin_dir}")
        work = self.work()
        shutil.copyfile(recorder, os.path.join(work, "recorder.exe"))
        log = os.path.join(work, "opened.txt")
        # The prefix's own mail handler stands aside for the recorder while the test runs.
        previous = self.handler()
        self.assertIsNotNone(previous, f"{self.HANDLER} in the prefix")
        self.addCleanup(self.set_handler, previous)
        self.set_handler(f'"{self.env.win_path(os.path.join(work, "recorder.exe"))}" "{self.env.win_path(log)}" "%1"')

        address = "MailTo:aurora@example.org?subject=setup&x=1"
        path = self.installer(scrimage.Package(title="Aurora", link=address))
        result = self.env.drive(path, [], [
            ["wait-window", "TSCRSetup", "*"], ["dump"], ["mouse-click", plain(address)],
            ["wait-file", self.env.win_path(log), "20000"], ["close"], ["wait-tree-exit", "20000"]])
        self.assertDriven(result)
        with open(log, encoding="utf-8") as f:
            self.assertEqual(f.read().splitlines(), [address])
        # The handler works in the system folder, not in the one the setup was started from.
        sysdir = self.env.wine([os.path.join(self.env.bin_dir, "sysprobe.exe"), "sysdir"]).stdout.strip()
        with open(log + ".cwd", encoding="utf-8") as f:
            self.assertEqual(f.read().splitlines(), [sysdir])
        link = [c for c in result.dumps()[0]["children"] if c["text"] == address]
        self.assertEqual(len(link), 1, result)
        # The label shows the address as it is: its "&" is no accelerator mark.
        self.assertTrue(link[0]["style"] & SS_NOPREFIX, "the link shows \"&x\" as an underlined x")
        self.assertEqual([w["class"] for w in result.windows_seen], ["TSCRSetup"], result)
        self.assertEqual(result.exit_code, EXIT_CANCELLED)

    def test_only_a_web_address_is_shown(self):
        # The packer refuses the other kinds: these installers come from the tests' own builder.
        cases = {
            "file:///C:/windows/notepad.exe": None,
            "calc.exe": None,
            "C:\\windows\\notepad.exe": None,
            "HTTPS://EXAMPLE.ORG/Aurora": "HTTPS://EXAMPLE.ORG/Aurora",
        }
        for address, shown in cases.items():
            with self.subTest(address):
                path = os.path.join(self.work(), "setup.exe")
                with open(path, "wb") as f:
                    f.write(scrimage.Package(title="Aurora", link=address).installer(self.env.stub()))
                result = self.env.drive(path, [], [["wait-window", "TSCRSetup", "*"], ["dump"], ["close"],
                                                   ["wait-exit", "5000"]])
                self.assertDriven(result)
                self.assertEqual(wizard_view(result.dumps()[0])["link"], shown, result)


# ----------------------------------------------------------------------------- destination directory

class DirectoryTest(WizardCase):
    def wine_folder(self, variable):
        out = self.env.wine(["cmd", "/c", f"echo %{variable}%"]).stdout.strip()
        self.assertRegex(out, r"^[A-Za-z]:\\", f"%{variable}% as Wine reports it")
        self.assertTrue(os.path.isdir(self.folder(out)), out)
        return out

    def directory_text(self, path):
        result = self.env.drive(path, [], [["wait-window", "TSCRSetup", "*"], ["dump"], ["close"]])
        self.assertDriven(result)
        return wizard_view(result.dumps()[0])["directory"]

    def test_default_directory_uses_the_real_folders(self):
        cases = {
            "Program Files": ("<Program Files>", "Aurora Saver", self.wine_folder("ProgramFiles")),
            "Windows": ("<Windows>", "Aurora", self.wine_folder("windir")),
        }
        for name, (base, sub, folder) in cases.items():
            with self.subTest(name):
                path = self.installer(scrimage.Package(title="Aurora", base_dir=base, sub_dir=sub))
                self.assertEqual(self.directory_text(path), f"{folder}\\{sub}\\")

    def browse(self, lang, directory, answer):
        """Opens the folder chooser with Browse, reads it and the form behind it, answers it."""
        t = (lang or {}).get
        return [
            ["wait-window", "TSCRSetup", "*"], ["wait-state", directory, "visible"],
            ["click", plain(t("&Browse", "&Browse")) + "..."],
            ["wait-window", "#32770", "*"], ["sleep", "300"], ["dump"],
            ["wait-window", "TSCRSetup", "*"], ["dump"],
            ["wait-window", "#32770", "*"], ["click", answer], ["wait-gone"],
            ["wait-window", "TSCRSetup", "*"], ["wait-state", "--soft", directory, "visible"], ["dump"],
            ["close"]]

    def assertFolderDialog(self, result, text):
        dialog, behind, after = result.dumps()
        self.assertEqual(dialog["pid"], behind["pid"])
        self.assertEqual(dialog["owner"], behind["hwnd"], "owned by the wizard")
        statics = [c["text"] for c in dialog["children"] if c["class"] == "Static" and c["visible"]]
        self.assertIn(text, statics, result)
        self.assertTrue(any(c["class"] == "SysTreeView32" and c["visible"] for c in dialog["children"]), result)
        self.assertFalse(behind["enabled"], "the wizard waits for the folder dialog")
        self.assertTrue(after["enabled"] and after["foreground"], "the wizard is active again")
        return wizard_view(after)

    def test_browse_cancelled_keeps_the_directory(self):
        german_text, de = german()
        cases = {"English": (None, "", "Browse"), "translated": (de, german_text, de["Browse"])}
        for name, (lang, language, instruction) in cases.items():
            with self.subTest(name):
                path = self.installer(scrimage.Package(title="Aurora", language=language))
                before = self.directory_text(path)
                result = self.env.drive(path, [], self.browse(lang, before, "Cancel"))
                self.assertDriven(result)
                view = self.assertFolderDialog(result, instruction)
                self.assertEqual((view["page"], view["directory"]), ("Directory", before))

    def test_browse_starts_at_the_directory_and_returns_it(self):
        # Wine 8's folder dialog finds the folder to select by comparing item IDs byte for
        # byte, which fails now and then for folders that change (like this test's own) and
        # for names that are not 8.3: a folder of the prefix's that stays as it is serves.
        fonts = self.wine_folder("windir") + "\\Fonts"
        path = self.installer(scrimage.Package(title="Aurora", base_dir="<Windows>", sub_dir="Fonts"))
        # OK right away returns the folder the chooser opened with, without the backslash.
        result = self.env.drive(path, [], self.browse(None, fonts + "\\", "OK"))
        self.assertDriven(result)
        view = self.assertFolderDialog(result, "Browse")
        self.assertEqual(view["directory"], fonts)

    def refusal_cases(self):
        work = self.work()
        with open(os.path.join(work, "plain.txt"), "w") as f:
            f.write("a file, not a folder")
        drives = os.listdir(os.path.join(self.env.prefix, "dosdevices"))
        self.assertNotIn("q:", drives, "drive Q: must not exist in the prefix")
        return {
            "under a regular file": (self.env.win_path(work), "plain.txt\\Savers"),
            "on a missing drive": ("Q:\\Savers", "Aurora"),
        }

    def test_refused_directory_returns_to_the_directory_page(self):
        for name, (base, sub) in self.refusal_cases().items():
            for licence in (False, True):
                with self.subTest(name, licence=licence):
                    self.check_refusal(base, sub, licence)

    def check_refusal(self, base, sub, licence):
        pkg = scrimage.Package(title="Aurora", base_dir=base, sub_dir=sub,
                               license=LICENCE if licence else "", license_mode=1 if licence else 0)
        directory = f"{base}\\{sub}\\"
        steps = [["wait-window", "TSCRSetup", "*"]]
        if licence:
            steps += [["click", plain(ACCEPT)], ["wait-state", "Next >", "enabled"], ["click", "Next >"],
                      ["wait-state", "Directory", "visible"]]
        box = [["wait-window", "#32770", "*"], ["dump"]]
        steps += [["click", "Install"]] + box + [
            ["wait-window", "TSCRSetup", "*"], ["dump"],             # behind the message
            ["wait-window", "#32770", "*"], ["click", "OK"], ["wait-gone"],
            ["wait-window", "TSCRSetup", "*"], ["wait-state", "--soft", "Directory", "visible"],
            ["wait-state", "--soft", "Install", "visible,enabled"], ["dump"],
            # Cancel is out of reach now: Escape is Back with a licence page, else Install.
            ["key", "ESCAPE"]]
        if licence:
            steps += [["wait-state", "--soft", "License", "visible"], ["dump"], ["close"], ["wait-exit", "5000"]]
        else:
            steps += box + [["click", "OK"], ["wait-gone"], ["wait-window", "TSCRSetup", "*"],
                            ["wait-state", "Directory", "visible"], ["close"], ["wait-exit", "5000"]]
        result = self.env.drive(self.installer(pkg), [], steps)
        self.assertDriven(result)
        dumps = result.dumps()
        message = {"class": "#32770", "caption": APP_TITLE, "text": CANNOT_CREATE, "icon": "error",
                   "buttons": ["OK"]}
        self.assertEqual(winenv.message_box(dumps[0]), message, result)
        self.assertEqual(dumps[0]["owner"], dumps[1]["hwnd"])
        busy, back = wizard_view(dumps[1]), wizard_view(dumps[2])
        self.assertEqual({k: busy[k] for k in ("enabled", "page", "progress")},
                         {"enabled": False, "page": "Progress", "progress": (0, 0, 100)}, result)
        self.assertEqual((busy["next"][1], busy["cancel"][2]), (False, False), "Next hidden, Cancel disabled")
        self.assertEqual({k: back[k] for k in ("enabled", "page", "directory", "next", "back", "cancel")},
                         {"enabled": True, "page": "Directory", "directory": directory,
                          "next": ("Install", True, True), "back": ("< Back", licence, True),
                          "cancel": ("Cancel", True, False)}, result)
        if licence:
            self.assertEqual(wizard_view(dumps[3])["page"], "License", result)
        else:
            self.assertEqual(winenv.message_box(dumps[3]), message, result)
        self.assertEqual(result.exit_code, EXIT_CANCELLED)

    def test_refused_directory_in_silent_mode(self):
        for name, (base, sub) in self.refusal_cases().items():
            runs = {
                "directory argument": (scrimage.Package(title="Aurora"), ["-silent", f"{base}\\{sub}"]),
                "default directory": (scrimage.Package(title="Aurora", base_dir=base, sub_dir=sub), ["-silent"]),
            }
            for how, (pkg, args) in runs.items():
                with self.subTest(name, how=how):
                    result = self.env.drive(self.installer(pkg), args)
                    self.assertDriven(result)
                    self.assertEqual(result.windows_seen, [], result)
                    self.assertEqual(result.exit_code, EXIT_REFUSED)
        self.assertTrue(os.path.isfile(os.path.join(self.work(), "plain.txt")))

    def test_accepted_directory_is_created_and_ends_in_a_backslash(self):
        work = self.env.win_path(self.work())
        path = self.installer(scrimage.Package(title="Aurora", base_dir=work, sub_dir="Aurora",
                                               scr=b"not a program"))
        typed = f"{work}\\new folder\\deeper"
        # Without a readme the program ends once the installation is done.
        result = self.env.drive(path, [], [
            ["wait-window", "TSCRSetup", "*"], ["set-text", f"{work}\\Aurora\\", typed],
            ["click", "Install"], ["wait-exit", "10000"]])
        self.assertDriven(result)
        self.assertEqual(result.exit_code, 0)
        self.assertTrue(os.path.isfile(os.path.join(self.folder(typed), "Aurora.scr")), typed)
        self.assertEqual([w["class"] for w in result.windows_seen], ["TSCRSetup"], result)


# ----------------------------------------------------------------------------- pictures

class PictureTest(winenv.E2ETestCase):
    def test_pictures_free_the_images_they_show(self):
        # The probe builds the header picture and the Directory page icon with the setup's code.
        probe = os.path.join(self.env.bin_dir, "sysprobe.exe")
        if not os.path.isfile(probe):
            self.skipTest(f"sysprobe.exe not built in {self.env.bin_dir}")
        proc = self.env.wine([probe, "pictures"])
        self.assertEqual((proc.returncode, proc.stdout.strip()), (0, "bitmap freed, icon freed"), proc.stderr)


# ----------------------------------------------------------------------------- system DPI

class ScalingTest(WizardCase):
    def test_window_and_controls_follow_the_system_dpi(self):
        with self.env.isolated(self.id()) as other:
            # 144 DPI: everything 1.5 times its size at 96 DPI.
            self.assertEqual(other.wine(["reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels",
                                         "/t", "REG_DWORD", "/d", "144", "/f"]).returncode, 0)
            path = os.path.join(other.drive_c, "scaling", "setup.exe")
            os.makedirs(os.path.dirname(path), exist_ok=True)
            scrimage.write_installer(scrimage.Package(title="Aurora"), self.env.stub_exe, path)
            # wait-exit, not wait-tree-exit: in a prefix of its own the first program also starts
            # Wine's own services, which would count as its descendants.
            result = other.drive(path, [], [["wait-window", "TSCRSetup", "*"], ["dump"], ["close"],
                                            ["wait-exit", "10000"]])
            self.assertDriven(result)
        window = result.dumps()[0]
        self.assertEqual(window["client"], {"width": 770, "height": 579})
        boxes = {c["text"]: c["rect"] for c in window["children"] if c["class"] == "Button"}
        # Buttons at (left, top, width, height) 96-DPI units, scaled and rounded as Windows does.
        for caption, (left, top, width, height) in {"Install": (337, 352, 80, 25), "Cancel": (424, 352, 81, 25),
                                                    "&Browse...": (384, 54, 83, 25)}.items():
            rect = boxes[caption]
            with self.subTest(caption):
                self.assertAlmostEqual(rect["right"] - rect["left"], width * 1.5, delta=1)
                self.assertAlmostEqual(rect["bottom"] - rect["top"], height * 1.5, delta=1)
                if caption != "&Browse...":  # on its page, whose origin moves too
                    self.assertAlmostEqual(rect["left"], left * 1.5, delta=1)
                    self.assertAlmostEqual(rect["top"], top * 1.5, delta=1)
        # The header picture and the Directory page icon grow too (SS_BITMAP 0x0E, SS_ICON 0x03).
        pictures = {c["style"] & 0x1F: c["rect"] for c in window["children"]
                    if c["class"] == "Static" and c["style"] & 0x1F in (0x0E, 0x03)}
        for kind, size in ((0x0E, 72), (0x03, 48)):
            rect = pictures[kind]
            self.assertEqual((rect["right"] - rect["left"], rect["bottom"] - rect["top"]), (size, size), hex(kind))


# ----------------------------------------------------------------------------- screenshots

class ScreenshotTest(WizardCase):
    """Pictures of the reachable pages (and the damaged-package message) for the docs; the
    check is that each shows a painted window of the window's size."""

    def shots_dir(self):
        path = os.path.join(winenv.work_dir(), "screenshots")
        os.makedirs(path, exist_ok=True)
        return path

    def shoot(self, path, steps, name_steps, args=()):
        """Runs steps; name_steps maps a picture name to the steps that bring its page up."""
        out = self.shots_dir()
        script = list(steps)
        for name, reach in name_steps:
            script += reach + [["sleep", "300"],
                               ["screenshot", self.env.win_path(os.path.join(out, name + ".bmp"))], ["dump"]]
        result = self.env.drive(path, list(args), script + [["close"]])
        self.assertDriven(result)
        for (name, _), shot, window in zip(name_steps, result.steps("screenshot"), result.dumps()):
            with self.subTest(name):
                self.assertScreenshot(os.path.join(out, name + ".bmp"), shot, window)
        return result

    def test_pages(self):
        if not shutil.which("convert"):
            self.skipTest("ImageMagick's convert is not installed")
        german_text, de = german()
        licence = sample("license.txt")
        starfield = dict(title="Starfield", scr_name="Starfield.scr", sub_dir="Starfield",
                         link="https://www.example.org/starfield")
        self.shoot(self.installer(scrimage.Package(license=licence, license_mode=1, **starfield)),
                   [["wait-window", "TSCRSetup", "*"]],
                   [("licence", [["wait-state", "License", "visible"]]),
                    ("directory", [["click", plain(ACCEPT)], ["wait-state", "Next >", "enabled"],
                                   ["click", "Next >"], ["wait-state", "Directory", "visible"]])])
        self.shoot(self.installer(scrimage.Package(skip_directory_page=True, **starfield)),
                   [["wait-window", "TSCRSetup", "*"]], [("ready", [["wait-state", "Ready", "visible"]])])
        work = self.env.win_path(self.work())
        self.shoot(self.installer(scrimage.Package(readme=sample("readme.txt"), base_dir=work, scr=b"not a program",
                                                   **starfield), name="readme.exe"),
                   [["wait-window", "TSCRSetup", "*"], ["click", "Install"]],
                   [("readme", [["wait-state", "Readme", "visible", "20000"]]),
                    ("finished", [["click", "Next >"], ["wait-state", "Finished", "visible"]])])
        self.shoot(self.installer(scrimage.Package(license=licence, license_mode=1, language=german_text,
                                                   **starfield)),
                   [["wait-window", "TSCRSetup", "*"]], [("licence-german", [["wait-state", "License", "visible"]])])
        damaged = os.path.join(self.work(), "damaged.exe")
        with open(damaged, "wb") as f:
            f.write(scrimage.Package(uninstall_marker="").uninstaller(self.env.stub()))
        result = self.shoot(damaged, [], [("corrupted", [["wait-window", "#32770", "*"]])])
        self.assertEqual(winenv.message_box(result.dumps()[0])["text"], CORRUPTED)
