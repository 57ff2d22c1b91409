"""Package images for the end-to-end tests: installers, uninstallers and damaged variants.

The byte layout (little-endian, E = end of the package):

    [stub][screensaver bytes][readme][licence][language text][header 1336][trailer 20][anything]

Texts are UTF-16LE, the trailer is "Parvol.sig" (installer) or "ScUnin.sig" (uninstaller) as
ten UTF-16LE code units. A `Package` builds valid images; `header_patch`, `uninstall_marker`,
`trailer_text` and `after` make damaged ones. `write_installer` is the one place that decides
how valid installers are made (the packer when it is built).
"""

import dataclasses
import os
import struct
import subprocess
import tempfile

HEADER_SIZE = 1336
TRAILER_SIZE = 20
INSTALLER_SIGNATURE = "Parvol.sig"
UNINSTALLER_SIGNATURE = "ScUnin.sig"
UNINSTALL_MARKER = "SCRSet.sig"

# Header offsets
PACKAGE_SIZE = 0
SCR_FILE_NAME, SCR_FILE_NAME_UNITS = 4, 256
TITLE, TITLE_UNITS = 516, 32
LINK_ADDRESS, LINK_ADDRESS_UNITS = 580, 102
UNINSTALL_ENTRY_FLAG = 784
MENU_SHORTCUTS_FLAG = 785
DESKTOP_SHORTCUT_FLAG = 786
TEXTS_SIZE = 788
README_SIZE = 792
LICENSE_SIZE = 796
LANGUAGE_LENGTH = 800
DEFAULT_BASE_DIR = 805
DEFAULT_SUB_DIR = 1056
DIR_FIELD_SIZE = 251
SKIP_DIRECTORY_PAGE = 1307
UNINSTALL_MARKER_OFFSET, UNINSTALL_MARKER_UNITS = 1308, 11
LICENSE_MODE = 1330
POWER_REQUEST_OVERRIDE = 1332


def utf16(text):
    return text.encode("utf-16-le")


def uninstall_key_name(title):
    """The key the setup lists an installation of title under, worked out here on its own: a
    UUID (version 8) from FNV-1a-128 of the namespace and the title, A to Z lower-cased, in
    UTF-16LE."""
    lowered = "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in title)
    h = 0x6C62272E07BB014262B821756295C58D
    for byte in utf16("scrsetup-entry:" + lowered):
        h = ((h ^ byte) * (2**88 + 0x13B)) % 2**128
    b = bytearray(h.to_bytes(16, "big"))
    b[6] = b[6] & 0x0F | 0x80
    b[8] = b[8] & 0x3F | 0x80
    return "{%s-%s-%s-%s-%s}" % tuple(b[i:j].hex().upper() for i, j in ((0, 4), (4, 6), (6, 8), (8, 10), (10, 16)))


def signature(text):
    data = utf16(text)
    assert len(data) == TRAILER_SIZE
    return data


@dataclasses.dataclass
class Package:
    title: str = "Aurora"
    scr_name: str = "Aurora.scr"
    scr: bytes = b"MZ fake screensaver " * 64
    readme: str = ""
    license: str = ""
    language: str = ""
    link: str = ""
    base_dir: str = "<Program Files>"
    sub_dir: str = "Aurora"
    uninstall_entry: bool = False
    menu_shortcuts: bool = False
    desktop_shortcut: bool = False
    skip_directory_page: bool = False
    license_mode: int = 0
    power_request_override: bool = False
    uninstall_marker: str = UNINSTALL_MARKER
    # Damage: header fields written after the computed ones, {offset: bytes}.
    header_patch: dict = dataclasses.field(default_factory=dict)

    def texts(self):
        return utf16(self.readme) + utf16(self.license) + utf16(self.language)

    def header(self, scr_size=None):
        scr_size = len(self.scr) if scr_size is None else scr_size
        h = bytearray(HEADER_SIZE)
        texts = self.texts()
        struct.pack_into("<i", h, PACKAGE_SIZE, scr_size + len(texts) + HEADER_SIZE + TRAILER_SIZE)
        _put_chars(h, SCR_FILE_NAME, SCR_FILE_NAME_UNITS, self.scr_name)
        _put_chars(h, TITLE, TITLE_UNITS, self.title)
        _put_chars(h, LINK_ADDRESS, LINK_ADDRESS_UNITS, self.link)
        h[UNINSTALL_ENTRY_FLAG] = int(self.uninstall_entry)
        h[MENU_SHORTCUTS_FLAG] = int(self.menu_shortcuts)
        h[DESKTOP_SHORTCUT_FLAG] = int(self.desktop_shortcut)
        struct.pack_into("<iiii", h, TEXTS_SIZE, len(texts), len(utf16(self.readme)),
                         len(utf16(self.license)), len(utf16(self.language)) // 2)
        _put_dir(h, DEFAULT_BASE_DIR, self.base_dir)
        _put_dir(h, DEFAULT_SUB_DIR, self.sub_dir)
        h[SKIP_DIRECTORY_PAGE] = int(self.skip_directory_page)
        _put_chars(h, UNINSTALL_MARKER_OFFSET, UNINSTALL_MARKER_UNITS, self.uninstall_marker)
        h[LICENSE_MODE] = self.license_mode
        h[POWER_REQUEST_OVERRIDE] = int(self.power_request_override)
        for offset, data in self.header_patch.items():
            h[offset:offset + len(data)] = data
        return bytes(h)

    def installer(self, stub, trailer_text=INSTALLER_SIGNATURE, after=b""):
        """Stub, screensaver, texts, header, trailer, then `after` (ignored by the reader)."""
        return stub + self.scr + self.texts() + self.header() + signature(trailer_text) + after

    def uninstaller(self, stub, trailer_text=UNINSTALLER_SIGNATURE, after=b""):
        """The image an installation writes: no screensaver bytes, the installer's header."""
        return stub + self.texts() + self.header() + signature(trailer_text) + after


def _put_chars(h, offset, units, text):
    data = utf16(text)
    if len(data) // 2 >= units:
        raise ValueError(f"{text!r} does not fit {units} UTF-16 units with its NUL")
    h[offset:offset + 2 * units] = data + bytes(2 * units - len(data))


def _put_dir(h, offset, text):
    data = text.encode("utf-8")
    if len(data) > DIR_FIELD_SIZE - 1:
        raise ValueError(f"{text!r} is longer than 250 bytes")
    h[offset:offset + DIR_FIELD_SIZE] = bytes([len(data)]) + data + bytes(DIR_FIELD_SIZE - 1 - len(data))


def language_text(section="Setup", **translations):
    """A language text with one section; keys are the English texts."""
    lines = [section] + [f"{k}={v}" for k, v in translations.items()]
    return "\r\n".join(lines) + "\r\n"


def scrpack_program():
    """The packer for valid installers: E2E_SCRPACK, else the native build's, else None."""
    named = os.environ.get("E2E_SCRPACK")
    if named:
        if not os.path.isfile(named):
            raise FileNotFoundError(f"E2E_SCRPACK names {named}, which has not been built (build the target scrpack)")
        return named
    default = os.path.join(os.path.dirname(__file__), "..", "..", "build", "native", "bin", "scrpack")
    return os.path.abspath(default) if os.path.isfile(default) else None


def write_installer(pkg, stub_path, out_path, after=b""):
    """Valid installers come from the packer, so that the tests cover it too; without a
    built packer, from the builder above. `after` is appended either way."""
    scrpack = scrpack_program()
    if scrpack:
        _scrpack_build(scrpack, pkg, stub_path, out_path)
        with open(out_path, "ab") as f:
            f.write(after)
        return
    with open(stub_path, "rb") as f:
        stub = f.read()
    with open(out_path, "wb") as f:
        f.write(pkg.installer(stub, after=after))


def _scrpack_build(scrpack, pkg, stub_path, out_path):
    if pkg.header_patch or pkg.uninstall_marker != UNINSTALL_MARKER:
        raise ValueError("the packer only makes valid installers")
    with tempfile.TemporaryDirectory() as tmp:
        def text_file(name, text):
            path = os.path.join(tmp, name)
            with open(path, "wb") as f:
                f.write(b"\xff\xfe" + utf16(text))
            return path

        scr = os.path.join(tmp, "payload.scr")
        with open(scr, "wb") as f:
            f.write(pkg.scr)
        cmd = [scrpack, "build", "--stub", stub_path, "--scr", scr, "--scr-name", pkg.scr_name,
               "--title", pkg.title, "-o", out_path, "--base-dir", pkg.base_dir, "--sub-dir", pkg.sub_dir,
               "--license-mode", str(pkg.license_mode)]
        if pkg.readme:
            cmd += ["--readme", text_file("readme.txt", pkg.readme)]
        if pkg.license:
            cmd += ["--license", text_file("license.txt", pkg.license)]
        if pkg.language:
            cmd += ["--lang", text_file("lang.txt", pkg.language)]
        if pkg.link:
            cmd += ["--link", pkg.link]
        for flag, on in (("--uninstall-entry", pkg.uninstall_entry), ("--menu-shortcuts", pkg.menu_shortcuts),
                         ("--desktop-shortcut", pkg.desktop_shortcut),
                         ("--skip-directory-page", pkg.skip_directory_page),
                         ("--power-request-override", pkg.power_request_override)):
            if on:
                cmd.append(flag)
        done = subprocess.run(cmd, capture_output=True, text=True, timeout=60)
        if done.returncode != 0:
            raise RuntimeError(f"scrpack failed ({done.returncode}): {done.stdout}{done.stderr}")
