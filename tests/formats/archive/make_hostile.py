#!/usr/bin/env python3
"""Hostile archives for archive_tests: python3 make_hostile.py <out-folder>."""
import io, os, sys, tarfile, zipfile

out = sys.argv[1]

def add(t, name, data=b"x", **kw):
    info = tarfile.TarInfo(name)
    for k, v in kw.items():
        setattr(info, k, v)
    if info.type == tarfile.REGTYPE:
        info.size = len(data)
        t.addfile(info, io.BytesIO(data))
    else:
        t.addfile(info)

with tarfile.open(os.path.join(out, "climb.tar"), "w", format=tarfile.GNU_FORMAT) as t:
    add(t, "good.txt", b"good")
    add(t, "../escaped.txt", b"evil")
    add(t, "sub/../../escaped2.txt", b"evil")
    add(t, "/tmp/tarn-absolute-%d.txt" % os.getpid(), b"evil")
    add(t, "out", type=tarfile.SYMTYPE, linkname="../..")
    add(t, "out/through.txt", b"evil")
    add(t, "abs", type=tarfile.SYMTYPE, linkname="/etc")
    add(t, "abs/through2.txt", b"evil")
    add(t, "hard", type=tarfile.LNKTYPE, linkname="/etc/passwd")
    add(t, "fifo", type=tarfile.FIFOTYPE)
    add(t, "dev", type=tarfile.CHRTYPE, devmajor=1, devminor=3)
    add(t, "inner/ok-link", type=tarfile.SYMTYPE, linkname="../good.txt")
    add(t, "inner/up", type=tarfile.SYMTYPE, linkname="..")
    add(t, "inner/up/via.txt", b"through a link")
    add(t, "last.txt", b"last")

with zipfile.ZipFile(os.path.join(out, "climb.zip"), "w") as z:
    z.writestr("good.txt", b"good")
    z.writestr("../zip-escaped.txt", b"evil")
    z.writestr("/tmp/tarn-zip-absolute-%d.txt" % os.getpid(), b"evil")

# A header that promises more bytes than follow.
buf = io.BytesIO()
with tarfile.open(fileobj=buf, mode="w") as t:
    add(t, "first.txt", b"first")
    add(t, "big.bin", b"y" * 100000)
data = buf.getvalue()
open(os.path.join(out, "lying.tar"), "wb").write(data[:512 + 512 + 512 + 20000])
