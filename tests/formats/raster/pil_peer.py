#!/usr/bin/python3
"""Pillow as an independent reader and writer of pictures for imageio_tests.

Usage: pil_peer.py JOBFILE. Each line is a job:
  dump PICTURE RAW        decode PICTURE, write RAW: width, height (little-endian uint32), then R, G, B, A bytes
  pcx PICTURE OUT MODE    save PICTURE as PCX in Pillow's MODE ("1", "L", "P" or "RGB")
  tga PICTURE OUT MODE [rle] [top]   save PICTURE as TGA in MODE ("L", "P", "RGB", "RGBA"), RLE compressed,
                          first row on top
A job that fails writes its error to RAW/OUT + ".err" instead.
"""
import struct
import sys

from PIL import Image


def main():
    for line in open(sys.argv[1]):
        parts = line.split()
        if not parts:
            continue
        op, src, dst = parts[:3]
        try:
            im = Image.open(src)
            if op == "dump":
                im = im.convert("RGBA")
                with open(dst, "wb") as f:
                    f.write(struct.pack("<II", im.width, im.height))
                    f.write(im.tobytes())
            elif op == "tga":
                mode = parts[3]
                im = im.convert("RGBA" if mode == "RGBA" else "RGB")
                if mode == "P":
                    im = im.quantize(colors=200)
                elif mode == "L":
                    im = im.convert("L")
                opts = {}
                if "rle" in parts[4:]:
                    opts["compression"] = "tga_rle"
                if "top" in parts[4:]:
                    opts["orientation"] = 1
                im.save(dst, format="TGA", **opts)
            elif op == "pcx":
                mode = parts[3]
                im = im.convert("RGB")
                if mode == "1":
                    im = im.convert("1", dither=Image.Dither.NONE)
                elif mode == "P":
                    im = im.quantize(colors=200)
                elif mode == "L":
                    im = im.convert("L")
                im.save(dst, format="PCX")
        except Exception as e:  # reported per job: one unreadable file must not hide the others
            with open(dst + ".err", "w") as f:
                f.write(repr(e))


if __name__ == "__main__":
    main()
