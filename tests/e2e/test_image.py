"""The stub's own file: a 32-bit GUI program with its manifest, icon and version, importing
only DLLs every Windows has, and never carrying a package signature of its own."""
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
    dirs = opt + 96
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
    if resource_rva:
        root = at(resource_rva)
        named, ids = struct.unpack_from("<HH", data, root + 12)
        for i in range(named + ids):
            types.append(struct.unpack_from("<I", data, root + 16 + 8 * i)[0])
    return {"machine": machine, "magic": magic, "subsystem": subsystem, "imports": imports, "resource_types": types}


class StubImageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(os.path.join(winenv.bin_dir(), "setup.exe"), "rb") as f:
            cls.data = f.read()
        cls.pe = read_pe(cls.data)

    def test_32_bit_gui_program(self):
        self.assertEqual(self.pe["machine"], 0x14C)   # i386
        self.assertEqual(self.pe["magic"], 0x10B)     # PE32
        self.assertEqual(self.pe["subsystem"], 2)     # Windows GUI

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

    def test_holds_no_signature_of_its_own(self):
        for text in ("Parvol.sig", "ScUnin.sig", "SCRSet.sig"):
            self.assertNotIn(text.encode("utf-16-le"), self.data, text)


if __name__ == "__main__":
    unittest.main()
