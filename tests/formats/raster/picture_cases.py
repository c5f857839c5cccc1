#!/usr/bin/python3
"""Nasty picture files for imageio_tests, made here, and how independent readers see them.

Usage: picture_cases.py DIR. Writes into DIR:
  - the files (BMP bit-field layouts written byte by byte, since neither Pillow nor ImageMagick 6 writes them;
    16-bit PNGs with a transparent colour likewise; TIFFs and icons with straight alpha, pages and sizes from
    Pillow and ImageMagick; the pictures the information items are checked on);
  - for each file and image index, NAME.INDEX.im and NAME.INDEX.pil: that image as ImageMagick and as Pillow
    decode it (width, height as little-endian uint32, then R, G, B, A bytes); NAME.INDEX.pil.err when Pillow
    cannot;
  - NAME.0.ref for the bit-field BMPs whose layout neither reader gets right: the pixels from the masks;
  - NAME.id: ImageMagick's "width height bits-per-channel channels" of the image as shown (EXIF-turned).

picture_cases.py --wmf OUT N writes only a placeable Windows metafile of 300 x 200 units, red all over, with
N small blue rectangles drawn on it (a metafile that takes long to draw).
"""
import os
import struct
import subprocess
import sys
import zlib

import numpy as np
from PIL import Image, ImageOps



def wmf(out, n):
    def rec(function, params):
        return struct.pack("<IH", 3 + len(params), function) + b"".join(struct.pack("<H", p & 0xFFFF) for p in params)
    body = rec(0x020B, [0, 0]) + rec(0x020C, [200, 300])  # window origin, extent (height, width)
    body += rec(0x02FA, [5, 0, 0, 0, 0]) + rec(0x012D, [0])  # no pen
    body += rec(0x02FC, [0, 0x00FF, 0, 0]) + rec(0x012D, [1])  # red brush
    body += rec(0x041B, [200, 300, 0, 0])  # rectangle: bottom, right, top, left
    body += rec(0x02FC, [0, 0, 0x00FF, 0]) + rec(0x012D, [2])  # blue brush
    rects = [rec(0x041B, [13 + (i * 13) % 180, 13 + (i * 7) % 280, 10 + (i * 13) % 180, 10 + (i * 7) % 280]) for i in range(n)]
    body += b"".join(rects) + rec(0, [])
    meta = struct.pack("<HHHIHIH", 1, 9, 0x300, (18 + len(body)) // 2, 3, 8, 0)
    place = struct.pack("<IHhhhhHI", 0x9AC6CDD7, 0, 0, 0, 300, 200, 96, 0)
    check = 0
    for i in range(10):
        check ^= struct.unpack_from("<H", place, 2 * i)[0]
    with open(out, "wb") as f:
        f.write(place + struct.pack("<H", check) + meta + body)


if sys.argv[1] == "--wmf":
    wmf(sys.argv[2], int(sys.argv[3]))
    sys.exit(0)

OUT = sys.argv[1]


def path(name):
    return os.path.join(OUT, name)


# ---- BMP with bit-field masks -------------------------------------------------------------------------

def bmp(name, w, h, bpp, pixels, masks=None, header=40, top_down=False):
    """pixels: one int per pixel, row by row from the top; masks: None for BI_RGB, else (r, g, b[, a])."""
    stride = (w * bpp + 31) // 32 * 4
    rows = []
    for y in range(h):
        row = b"".join(struct.pack("<H" if bpp == 16 else "<I", pixels[y * w + x]) for x in range(w))
        rows.append(row + b"\0" * (stride - len(row)))
    data = b"".join(rows if top_down else rows[::-1])
    compression = 0 if masks is None else 3
    info = struct.pack("<IiiHHIIiiII", header, w, -h if top_down else h, 1, bpp, compression, len(data), 2835, 2835, 0, 0)
    extra = b""
    if masks is not None:
        m = struct.pack("<" + "I" * len(masks), *masks)
        if header == 40:
            extra = m[:12]
        else:
            info += (m + b"\0" * 16)[:16]
    if header > 56:  # V4/V5: colour space "sRGB", end points, gamma, and for V5 intent and profile
        info += b"BGRs" + b"\0" * (header - 60)
    offset = 14 + header + len(extra)
    with open(path(name), "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset) + info + extra + data)


def widen(v, bits):
    """A channel of `bits` bits on 8: its bits repeated (narrower), its top 8 (wider)."""
    if bits >= 8:
        return v >> (bits - 8)
    out, at = 0, 8 - bits
    while at > -bits:
        out |= v << at if at >= 0 else v >> -at
        at -= bits
    return out & 0xFF


def bmp_reference(name, w, h, pixels, masks):
    """What a bit-field BMP shows, from the masks alone: for the layouts ImageMagick 6 reads without repeating
    the bits (4-bit white as 240, a set 1-bit alpha as 128) and Pillow does not read at all."""
    rgba = bytearray()
    for px in pixels:
        for m in list(masks) + [0] * (4 - len(masks)):
            if m == 0:
                rgba.append(255)
                continue
            shift = (m & -m).bit_length() - 1
            rgba.append(widen((px & m) >> shift, bin(m).count("1")))
    with open(path(name) + ".0.ref", "wb") as f:
        f.write(struct.pack("<II", w, h) + bytes(rgba))


every16 = list(range(65536))  # every 16-bit value once, 256 x 256
bmp("rgb565.bmp", 256, 256, 16, every16, masks=(0xF800, 0x07E0, 0x001F))
bmp("rgb555.bmp", 256, 128, 16, list(range(32768)), top_down=True)
bmp("argb1555.bmp", 256, 256, 16, every16, masks=(0x7C00, 0x03E0, 0x001F, 0x8000), header=124)
bmp_reference("argb1555.bmp", 256, 256, every16, (0x7C00, 0x03E0, 0x001F, 0x8000))
bmp("argb4444.bmp", 256, 256, 16, every16, masks=(0x0F00, 0x00F0, 0x000F, 0xF000), header=108)
bmp_reference("argb4444.bmp", 256, 256, every16, (0x0F00, 0x00F0, 0x000F, 0xF000))
ramp10 = [((v & 1023) << 20) | (((v * 7) & 1023) << 10) | ((v * 13) & 1023) for v in range(1024 * 4)]
bmp("rgb101010.bmp", 64, 64, 32, ramp10, masks=(0x3FF00000, 0x000FFC00, 0x000003FF), header=108)


# ---- PNG with a transparent colour ---------------------------------------------------------------------

def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png(name, w, h, colour_type, depth, rows, trns):
    raw = b"".join(b"\0" + r for r in rows)
    with open(path(name), "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, depth, colour_type, 0, 0, 0)) +
                chunk(b"tRNS", trns) + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


# The transparent colour among colours that share its high bytes, or differ from it in one low byte only.
key = (0x1234, 0x5678, 0x9ABC)
near = [key, (0x1200, 0x5600, 0x9A00), (0x12FF, 0x5678, 0x9ABC), (0x1234, 0x5679, 0x9ABC), (0x1234, 0x5678, 0x9ABD),
        (0, 0, 0), (0xFFFF, 0xFFFF, 0xFFFF), (0x1234, 0x5678, 0x9ABC)]
rng = np.random.default_rng(7)
rgb16 = [near[int(rng.integers(len(near)))] for _ in range(31 * 17)]
png("trns16rgb.png", 31, 17, 2, 16, [b"".join(struct.pack(">HHH", *rgb16[y * 31 + x]) for x in range(31)) for y in range(17)],
    struct.pack(">HHH", *key))
gkey = 0x8081
gnear = [gkey, 0x8080, 0x80FF, 0x0081, 0x8181, 0, 0xFFFF]
g16 = [gnear[int(rng.integers(len(gnear)))] for _ in range(29 * 13)]
png("trns16grey.png", 29, 13, 0, 16, [b"".join(struct.pack(">H", g16[y * 29 + x]) for x in range(29)) for y in range(13)],
    struct.pack(">H", gkey))
rgb8 = [(18, 86, 154), (18, 86, 155), (0, 0, 0), (255, 255, 255)]
p8 = [rgb8[int(rng.integers(4))] for _ in range(23 * 11)]
png("trns8rgb.png", 23, 11, 2, 8, [b"".join(struct.pack("BBB", *p8[y * 23 + x]) for x in range(23)) for y in range(11)],
    struct.pack(">HHH", 18, 86, 154))


# ---- Straight alpha: TIFF and icons --------------------------------------------------------------------

# Nearly transparent pixels over distinct colours: premultiplying loses exactly these.
w, h = 32, 32
a = np.zeros((h, w, 4), np.uint8)
for y in range(h):
    for x in range(w):
        a[y, x] = ((x * 8 + 3) % 256, (y * 8 + 5) % 256, (x * y) % 256, [0, 1, 2, 3, 5, 9, 128, 254, 255][(x + y) % 9])
Image.fromarray(a, "RGBA").save(path("straight.png"))
Image.fromarray(a, "RGBA").save(path("straight.tif"))
Image.fromarray(a[:, :, [0, 3]], "LA").save(path("straightgrey.tif"))
subprocess.run(["/usr/bin/convert", path("straight.png"), "-define", "tiff:alpha=unassociated", "-depth", "16",
                path("straight16.tif")], check=True)
subprocess.run(["/usr/bin/convert", path("straight.png"), "-define", "tiff:alpha=unassociated", "-define",
                "tiff:tile-geometry=16x16", path("tiled.tif")], check=True)
Image.fromarray(a[:16, :16], "RGBA").save(path("straight16px.png"))
# ImageMagick writes icon images as 32-bit bitmaps with alpha, Pillow as PNGs.
subprocess.run(["/usr/bin/convert", path("straight16px.png"), path("straight.png"), path("alpha.ico")], check=True)
Image.fromarray(a, "RGBA").save(path("sizes.ico"), sizes=[(16, 16), (32, 32)])
# An 8-bit icon with a transparency mask, and a small one first: the largest is shown.
subprocess.run(["/usr/bin/convert", "-size", "16x16", "xc:red", "(", "-size", "48x48", "pattern:checkerboard", ")",
                "-colors", "16", path("palette.ico")], check=True)

# ---- Several images ------------------------------------------------------------------------------------

subprocess.run(["/usr/bin/convert", "-size", "30x20", "xc:green", "-size", "40x25", "gradient:red-blue",
                "-depth", "8", path("pages.tif")], check=True)

# ---- Information items -----------------------------------------------------------------------------------

subprocess.run(["/usr/bin/convert", "-size", "30x20", "gradient:", "-type", "TrueColor", "bmp2:" + path("os2.bmp")], check=True)
subprocess.run(["/usr/bin/convert", "-size", "30x20", "gradient:", "-depth", "16", path("grey16.pgm")], check=True)
subprocess.run(["/usr/bin/convert", "-size", "30x20", "gradient:red-blue", "-depth", "16", path("colour16.ppm")], check=True)
subprocess.run(["/usr/bin/convert", "-size", "30x20", "gradient:red-blue", "-depth", "16", "-compress", "none",
                path("ascii16.ppm")], check=True)
subprocess.run(["/usr/bin/convert", "-size", "30x20", "gradient:red-blue", "-depth", "8", "-type", "TrueColor",
                path("rgb24.tif")], check=True)
subprocess.run(["/usr/bin/convert", "-size", "30x20", "gradient:red-blue", "-depth", "16", path("rgb48.tif")], check=True)
turned = Image.fromarray(a[:, :24, :3].copy(), "RGB")  # 24 wide, 32 high as stored
exif = Image.Exif()
exif[0x0112] = 6  # shown turned a quarter clockwise: 32 wide, 24 high
turned.save(path("turned.jpg"), exif=exif, quality=95)

# What a picture with transparency must look like in a format without it: ImageMagick's composite on white.
onwhite = subprocess.run(["/usr/bin/convert", path("straight.png"), "-background", "white", "-flatten", "-depth", "8", "rgba:-"],
                         check=True, capture_output=True).stdout
with open(path("straight.onwhite.txt"), "wb") as f:
    f.write(struct.pack("<II", 32, 32) + onwhite)

# ---- What the independent readers see ---------------------------------------------------------------------


def dump(name, size, rgba):
    with open(name, "wb") as f:
        f.write(struct.pack("<II", *size) + rgba)


shown = {"pages.tif": [0, 1], "alpha.ico": [0, 1], "sizes.ico": [0, 1], "palette.ico": [0, 1]}
for name in sorted(os.listdir(OUT)):
    if name.endswith((".im", ".pil", ".err", ".id", ".txt", ".ref")):
        continue
    for index in shown.get(name, [0]):
        src = path(name) + "[%d]" % index
        size = subprocess.run(["/usr/bin/identify", "-format", "%w %h", src], check=True, capture_output=True, text=True)
        w, h = map(int, size.stdout.split())
        raw = subprocess.run(["/usr/bin/convert", src, "-depth", "8", "rgba:-"], check=True, capture_output=True).stdout
        dump("%s.%d.im" % (path(name), index), (w, h), raw)
        try:
            im = Image.open(path(name))
            if name.endswith(".ico"):
                im.size = sorted(im.info["sizes"])[index]  # Pillow picks an icon's image by size
            else:
                im.seek(index)
            im = im.convert("RGBA")
            dump("%s.%d.pil" % (path(name), index), im.size, im.tobytes())
        except Exception as e:  # noqa: BLE001 - reported per file: one it cannot read must not hide the others
            with open("%s.%d.pil.err" % (path(name), index), "w") as f:
                f.write(repr(e))
    ident = subprocess.run(["/usr/bin/convert", path(name) + "[0]", "-auto-orient", "-format", "%w %h %z %[channels]",
                            "info:"], check=True, capture_output=True, text=True)
    with open(path(name) + ".id", "w") as f:
        f.write(ident.stdout)
