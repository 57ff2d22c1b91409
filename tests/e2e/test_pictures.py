"""The pictures of the stub's resources as the wizard shows them: the header bitmap and the
Directory page's icon, pixel for pixel at 96 DPI."""
import os
import struct
import subprocess

import scrimage
import test_image
import winenv

SS_TYPEMASK, SS_BITMAP, SS_ICON = 0x1F, 0x0E, 0x03


def pixels(data, fmt, width, height, channels):
    """Rows of (r, g, b[, a]) tuples of an image ImageMagick can read."""
    raw = subprocess.run(["convert", f"{fmt}:-", "-depth", "8", ("rgba" if channels == 4 else "rgb") + ":-"],
                         input=data, capture_output=True, check=True, timeout=60).stdout
    assert len(raw) == width * height * channels, (fmt, len(raw))
    return [[tuple(raw[(y * width + x) * channels:(y * width + x + 1) * channels]) for x in range(width)]
            for y in range(height)]


def bitmap_file(dib):
    """A BMP file around a DIB resource, for ImageMagick."""
    header_size, _, _, _, bits, _, _, _, _, colours = struct.unpack_from("<IiiHHIIiiI", dib)
    palette = (colours or (1 << bits)) * 4 if bits <= 8 else 0
    offset = 14 + header_size + palette
    return b"BM" + struct.pack("<IHHI", 14 + len(dib), 0, 0, offset) + dib


def icon_file(width, height, bpp, image):
    """An ICO file of one icon image (a DIB or a PNG), for ImageMagick."""
    return struct.pack("<HHHBBBBHHII", 0, 1, 1, width % 256, height % 256, 0, 0, 1, bpp, len(image), 22) + image


class PicturesTest(winenv.E2ETestCase):
    def test_header_bitmap_and_directory_icon_are_shown_as_the_resources_hold_them(self):
        with open(self.env.stub_exe, "rb") as f:
            pe = test_image.read_pe(f.read())
        path = os.path.join(self.work(), "setup.exe")
        scrimage.write_installer(scrimage.Package(title="Aurora"), self.env.stub_exe, path)
        shot = os.path.join(self.work(), "shot.bmp")
        result = self.env.drive(path, [], [
            ["wait-window", "TSCRSetup", "*"], ["wait-state", "Directory", "visible"], ["sleep", "300"],
            ["screenshot", self.env.win_path(shot)], ["dump"], ["close"]])
        self.assertDriven(result)
        window = result.dumps()[0]
        width = window["rect"]["right"] - window["rect"]["left"]
        height = window["rect"]["bottom"] - window["rect"]["top"]
        with open(shot, "rb") as f:
            screen = pixels(f.read(), "bmp", width, height, 3)

        # Controls are placed in the client area; the frame is as wide at the bottom as at the sides.
        frame = (width - window["client"]["width"]) // 2
        origin = (frame, height - window["client"]["height"] - frame)

        def shown(kind):
            (c,) = [c for c in window["children"] if c["class"] == "Static" and c["visible"]
                    and c["style"] & SS_TYPEMASK == kind]
            left, top = origin[0] + c["rect"]["left"], origin[1] + c["rect"]["top"]
            size = c["rect"]["right"] - c["rect"]["left"]
            return [row[left:left + size] for row in screen[top:top + size]]

        bitmap = pixels(bitmap_file(pe["resources"][(test_image.RT_BITMAP, 2)]), "bmp", 48, 48, 3)
        on_screen = shown(SS_BITMAP)
        self.assertEqual((len(on_screen), len(on_screen[0])), (48, 48))
        differ = sum(on_screen[y][x] != bitmap[y][x] for y in range(48) for x in range(48))
        self.assertEqual(differ, 0, "pixels of the header picture that differ on the screen")

        bpp, image = test_image.icon_images(pe, 2)[(32, 32)]
        icon = pixels(icon_file(32, 32, bpp, image), "ico", 32, 32, 4)
        on_screen = shown(SS_ICON)
        opaque = [(x, y) for y in range(32) for x in range(32) if icon[y][x][3] == 255]
        self.assertGreater(len(opaque), 32 * 32 // 4)
        differ = sum(on_screen[y][x] != icon[y][x][:3] for x, y in opaque)
        self.assertEqual(differ, 0, f"opaque pixels of the icon (of {len(opaque)}) that differ on the screen")
