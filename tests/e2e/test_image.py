"""The stubs' own files: the 32-bit one a PE32 i386 GUI program, its 64-bit twin a PE32+ x86-64
one, each with its manifest, icon and version, importing only DLLs every Windows has, within its
size budget, and never carrying a package signature of its own."""
import itertools
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
    image_base = struct.unpack_from("<I" if magic == 0x10B else "<Q", data, opt + (28 if magic == 0x10B else 24))[0]
    subsystem = struct.unpack_from("<H", data, opt + 68)[0]
    dirs = opt + (96 if magic == 0x10B else 112)
    sections = []
    for i in range(nsections):
        off = opt + optsize + 40 * i
        name = data[off:off + 8].rstrip(b"\0").decode()
        vsize, vaddr, rsize, raddr = struct.unpack_from("<IIII", data, off + 8)
        flags = struct.unpack_from("<I", data, off + 36)[0]
        sections.append((name, vaddr, max(vsize, rsize), raddr, flags))

    def at(rva):
        for _, vaddr, size, raddr, _ in sections:
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
            "resources": resources, "delay_imports": delay_imports(data, dirs, magic, image_base, sections, at)}


IMAGE_SCN_MEM_EXECUTE = 0x20000000


def delay_imports(data, dirs, magic, image_base, sections, at):
    """{dll: [(file offset of the function's address slot, problem or None)]} of the functions
    imported when first called, a pair for each.

    Until its first call a function's address slot holds the address of its load stub, which the
    import library puts beside the slot's other half: `mov eax, slot` (i386) or `lea rax, [slot]`
    (x86-64), then `jmp` to the DLL's common tail that calls the binder. A slot that holds
    anything else (0, as a link that dropped the stub leaves it) crashes the first call."""
    pointer, fmt = (4, "<I") if magic == 0x10B else (8, "<Q")

    def executable(rva):
        return any(vaddr <= rva < vaddr + size and flags & IMAGE_SCN_MEM_EXECUTE
                   for _, vaddr, size, _, flags in sections)

    def check(slot_rva, value):
        stub = value - image_base
        if value == 0 or not executable(stub):
            return f"slot {slot_rva:#x} holds {value:#x}, outside the program's code"
        code = data[at(stub):at(stub) + 12]
        if magic == 0x10B:
            loads_slot = code[0] == 0xB8 and struct.unpack_from("<I", code, 1)[0] == image_base + slot_rva
            jump = 5
        else:
            loads_slot = code[:3] == b"\x48\x8d\x05" and stub + 7 + struct.unpack_from("<i", code, 3)[0] == slot_rva
            jump = 7
        if not loads_slot or code[jump] != 0xE9:
            return f"slot {slot_rva:#x} leads to {stub:#x}, which is no load stub of it: {code.hex()}"
        tail = stub + jump + 5 + struct.unpack_from("<i", code, jump + 1)[0]
        return None if executable(tail) else f"the stub at {stub:#x} jumps out of the program's code to {tail:#x}"

    result = {}
    for attributes, name_rva, iat_rva, int_rva in delay_descriptors(data, dirs, image_base, sections, at):
        # Attribute bit 0: the fields are addresses relative to the image, else whole addresses.
        rebase = 0 if attributes & 1 else image_base
        name_rva, iat_rva, int_rva = (v - rebase for v in (name_rva, iat_rva, int_rva))
        start = at(name_rva)
        slots = result.setdefault(data[start:data.index(b"\0", start)].decode().lower(), [])
        for i in itertools.count():
            if struct.unpack_from(fmt, data, at(int_rva + i * pointer))[0] == 0:
                break
            slot = iat_rva + i * pointer
            slots.append((at(slot), check(slot, struct.unpack_from(fmt, data, at(slot))[0])))
    return result


def delay_descriptors(data, dirs, image_base, sections, at):
    """(attributes, name, address table, name table) of each DLL imported when first called.
    GNU ld leaves the image's delay-import directory empty: the descriptors are then found by
    their shape, a record of eight words whose name is a DLL's, whose tables are in the image
    and whose last three words are 0."""
    table_rva = struct.unpack_from("<I", data, dirs + 13 * 8)[0]
    if table_rva:
        off = at(table_rva)
        while struct.unpack_from("<I", data, off + 4)[0]:
            attributes, name, _, iat, names = struct.unpack_from("<IIIII", data, off)
            yield attributes, name, iat, names
            off += 32
        return

    def inside(rva):
        return any(vaddr <= rva < vaddr + size for _, vaddr, size, _, _ in sections)

    for _, vaddr, size, raddr, _ in sections:
        end = min(raddr + size, len(data)) - 32
        for off in range(raddr, max(raddr, end), 4):
            attributes, name, handle, iat, names, bound, unload, stamp = struct.unpack_from("<8I", data, off)
            if attributes > 1 or bound or unload or stamp or not name:
                continue
            rebase = 0 if attributes & 1 else image_base
            if not all(inside(v - rebase) for v in (name, handle, iat, names)):
                continue
            start = at(name - rebase)
            text = data[start:start + 260].split(b"\0")[0]
            if text.lower().endswith(b".dll") and text.isascii():
                yield attributes, name, iat, names


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


class DelayImportTest(unittest.TestCase):
    """Every function the stub and the binder's probe import when first called starts out at its
    load stub. The i686 linker drops the stubs of functions that are only called through
    `__declspec(dllimport)` unless the link optimises the whole program (see cmake/win32.cmake):
    the first call then jumps to address 0."""
    PROGRAMS = {"setup.exe": {"comctl32.dll", "shell32.dll", "ole32.dll", "version.dll"},
                "delayprobe.exe": {"version.dll", "absent_probe_library.dll"}}

    def read(self, arch, name):
        path = os.path.join(winenv.bin_dir(arch), name)
        if not os.path.isfile(path):
            raise RuntimeError(f"{path} is not built (run scripts/build.sh)")
        with open(path, "rb") as f:
            return f.read()

    def test_every_slot_starts_at_its_load_stub(self):
        for arch in ("win32", "win64"):
            for name, dlls in self.PROGRAMS.items():
                with self.subTest(arch=arch, program=name):
                    found = read_pe(self.read(arch, name))["delay_imports"]
                    self.assertEqual(set(found), dlls)
                    self.assertTrue(all(found.values()), found)
                    self.assertEqual({dll: [p for _, p in slots if p] for dll, slots in found.items()},
                                     {dll: [] for dll in dlls})

    def test_a_slot_without_its_stub_is_found(self):
        for arch in ("win32", "win64"):
            data = self.read(arch, "setup.exe")
            slots = [offset for dll_slots in read_pe(data)["delay_imports"].values() for offset, _ in dll_slots]
            width = 4 if arch == "win32" else 8
            first, second = slots[:2]
            cases = [
                # What the link that drops the stubs leaves.
                ("zero", bytes(width), "holds 0x0, outside the program's code"),
                # Another function's stub: the binder would bind the wrong slot.
                ("another stub", data[second:second + width], "which is no load stub of it"),
            ]
            for case, value, problem in cases:
                with self.subTest(arch=arch, case=case):
                    broken = bytearray(data)
                    broken[first:first + width] = value
                    problems = [p for dll_slots in read_pe(bytes(broken))["delay_imports"].values()
                                for _, p in dll_slots if p]
                    self.assertEqual(len(problems), 1, problems)
                    self.assertIn(problem, problems[0])


class Stub32ImageTest(StubImageCase, unittest.TestCase):
    ARCH, MACHINE, MAGIC, MANIFEST_ARCH = "win32", 0x14C, 0x10B, b"x86"        # i386, PE32
    BUDGET = 92672   # NSIS's zlib-x86-unicode stub


class Stub64ImageTest(StubImageCase, unittest.TestCase):
    ARCH, MACHINE, MAGIC, MANIFEST_ARCH = "win64", 0x8664, 0x20B, b"amd64"     # x86-64, PE32+
    BUDGET = 98304   # 96 KiB


if __name__ == "__main__":
    unittest.main()
