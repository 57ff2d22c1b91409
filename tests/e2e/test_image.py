"""The stubs' own files: the 32-bit one a PE32 i386 GUI program, its 64-bit twin a PE32+ x86-64
one, each with its manifest, icon and version, importing only DLLs every Windows has, within its
size budget, and never carrying a package signature of its own."""
import os
import struct
import unittest

import winenv

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "shell32.dll", "ole32.dll",
               "advapi32.dll", "msvcrt.dll"}


def read_pe(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[:2] == b"MZ" and data[pe:pe + 4] == b"PE\0\0"
    machine, nsections, _, _, _, optsize, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    subsystem = struct.unpack_from("<H", data, opt + 68)[0]
    dirs = opt + (96 if magic == 0x10B else 112)
    sections = []
    for i in range(nsections):
        off = opt + optsize + 40 * i
        name = data[off:off + 8].rstrip(b"\0").decode()
        vsize, vaddr, rsize, raddr = struct.unpack_from("<IIII", data, off + 8)
        sections.append((name, vaddr, max(vsize, rsize), raddr))

    def at(rva):
        for _, vaddr, size, raddr in sections:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + raddr
        raise ValueError(hex(rva))

    imports = []
    import_rva = struct.unpack_from("<I", data, dirs + 8)[0]
    off = at(import_rva)
    while True:
        name_rva = struct.unpack_from("<I", data, off + 12)[0]
        if name_rva == 0:
            break
        start = at(name_rva)
        imports.append(data[start:data.index(b"\0", start)].decode().lower())
        off += 20
    resource_rva = struct.unpack_from("<I", data, dirs + 16)[0]
    types = []
    resources = {}
    if resource_rva:
        root = at(resource_rva)

        def entries(table):
            named, ids = struct.unpack_from("<HH", data, table + 12)
            return [struct.unpack_from("<II", data, table + 16 + 8 * i) for i in range(named + ids)]

        for kind, by_name in entries(root):
            types.append(kind)
            for name, by_lang in entries(root + (by_name & 0x7FFFFFFF)):
                # The first language of each: the stub has one.
                _, leaf = entries(root + (by_lang & 0x7FFFFFFF))[0]
                rva, size = struct.unpack_from("<II", data, root + leaf)
                resources[(kind, name)] = data[at(rva):at(rva) + size]
    return {"machine": machine, "magic": magic, "subsystem": subsystem, "imports": imports, "resource_types": types,
            "resources": resources}


RT_BITMAP, RT_ICON, RT_GROUP_ICON = 2, 3, 14
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def icon_images(pe, group):
    """{(width, height): image bytes} of an icon group: PNG files or DIBs as the icon file had them."""
    data = pe["resources"][(RT_GROUP_ICON, group)]
    count = struct.unpack_from("<H", data, 4)[0]
    images = {}
    for i in range(count):
        width, height, _, _, _, bpp, size, ident = struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i)
        image = pe["resources"][(RT_ICON, ident)]
        assert len(image) == size, (group, ident)
        images[(width or 256, height or 256)] = (bpp, image)
    return images


class StubImageCase:
    """The checks of one stub; the subclasses name its architecture and what it must be."""
    ARCH = None
    MACHINE = MAGIC = MANIFEST_ARCH = BUDGET = None

    @classmethod
    def setUpClass(cls):
        path = os.path.join(winenv.bin_dir(cls.ARCH), "setup.exe")
        if not os.path.isfile(path):
            raise RuntimeError(f"{path} is not built (run scripts/build.sh)")
        with open(path, "rb") as f:
            cls.data = f.read()
        cls.pe = read_pe(cls.data)

    def test_gui_program_of_its_architecture(self):
        self.assertEqual(self.pe["machine"], self.MACHINE)
        self.assertEqual(self.pe["magic"], self.MAGIC)
        self.assertEqual(self.pe["subsystem"], 2)     # Windows GUI
        # The manifest's identity names the same processor: Windows refuses a mismatch.
        identity = self.data[self.data.index(b"<assemblyIdentity"):]
        identity = identity[:identity.index(b"/>")]
        self.assertIn(b'processorArchitecture="' + self.MANIFEST_ARCH + b'"', identity)

    def test_fits_its_size_budget(self):
        # NSIS's own stub of the same architecture; the C++ exception runtime alone would break it.
        self.assertLessEqual(len(self.data), self.BUDGET)

    def test_imports_only_system_dlls(self):
        self.assertTrue(set(self.pe["imports"]) <= SYSTEM_DLLS, self.pe["imports"])

    def test_carries_icon_version_and_manifest(self):
        RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
        for kind in (RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST):
            self.assertIn(kind, self.pe["resource_types"])
        manifest = self.data
        for needle in (b'level="highestAvailable"', b"Microsoft.Windows.Common-Controls", b'version="6.0.0.0"',
                       b">true</dpiAware>", b"{e2011457-1546-43c5-a5fe-008deee3d3f0}",
                       b"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"):
            self.assertIn(needle, manifest)
        # Only Vista and 7 are declared, so later Windows versions report 6.2 to the program.
        self.assertEqual(manifest.count(b"<supportedOS "), 2)

    def test_icons_hold_whole_images_of_their_sizes(self):
        # The program's icon at the sizes Windows shows it; the Directory page's at its size at 96 DPI.
        for group, sizes in ((1, {(16, 16), (32, 32), (48, 48)}), (2, {(32, 32)})):
            images = icon_images(self.pe, group)
            self.assertLessEqual(sizes, set(images), group)
            for (width, height), (bpp, image) in images.items():
                with self.subTest(group=group, size=width):
                    if image.startswith(PNG_SIGNATURE):
                        self.assertEqual(image[12:16], b"IHDR")
                        self.assertEqual(struct.unpack_from(">II", image, 16), (width, height))
                        self.assertTrue(image.endswith(b"IEND\xaeB`\x82"))
                    else:
                        size, w, h, _, bits = struct.unpack_from("<IiiHH", image)
                        self.assertEqual((size, w, h, bits), (40, width, 2 * height, bpp))

    def test_header_picture_is_a_run_length_bitmap_of_its_size(self):
        # LoadImage decodes run-length pictures into a bitmap of the display's format (not into a
        # DIB section, and no JPEG or PNG); the runs take two thirds off the 48 by 48 pixels.
        dib = self.pe["resources"][(RT_BITMAP, 2)]
        size, width, height, _, bits, compression, image_size = struct.unpack_from("<IiiHHII", dib)
        self.assertEqual(size, 40)
        self.assertEqual((width, height, bits, compression), (48, 48, 8, 1))  # bottom-up, BI_RLE8
        self.assertLess(image_size, 48 * 48 // 2)

    def test_holds_no_signature_of_its_own(self):
        for text in ("Parvol.sig", "ScUnin.sig", "SCRSet.sig"):
            self.assertNotIn(text.encode("utf-16-le"), self.data, text)


class Stub32ImageTest(StubImageCase, unittest.TestCase):
    ARCH, MACHINE, MAGIC, MANIFEST_ARCH = "win32", 0x14C, 0x10B, b"x86"        # i386, PE32
    BUDGET = 92672   # NSIS's zlib-x86-unicode stub


class Stub64ImageTest(StubImageCase, unittest.TestCase):
    ARCH, MACHINE, MAGIC, MANIFEST_ARCH = "win64", 0x8664, 0x20B, b"amd64"     # x86-64, PE32+
    BUDGET = 94208   # NSIS's zlib-amd64-unicode stub


if __name__ == "__main__":
    unittest.main()
