#!/usr/bin/python3
"""A hostile SFTP (version 3) subsystem for sshd: its listing of "/" holds names that try to leave
the client's local folder. It answers the requests a listing and a download need, on stdin and
stdout, and refuses the rest."""
import struct
import sys

FILES = {b"ok.txt": b"plain file\n"}
HOSTILE = [b"../escape.txt", b"/tmp/absolute.txt", b"a/b.txt", b"..", b".", b"..\\..\\win.txt"]

inp = sys.stdin.buffer
out = sys.stdout.buffer


def read_exact(n):
    data = b""
    while len(data) < n:
        chunk = inp.read(n - len(data))
        if not chunk:
            sys.exit(0)
        data += chunk
    return data


def send(kind, payload):
    out.write(struct.pack(">IB", len(payload) + 1, kind) + payload)
    out.flush()


def string(b):
    return struct.pack(">I", len(b)) + b


def attrs(size, mode):
    return struct.pack(">IQII", 0x1 | 0x4 | 0x8, size, mode, 0) + struct.pack(">I", 1700000000)


def status(rid, code, msg=b""):
    send(101, struct.pack(">II", rid, code) + string(msg) + string(b""))


def get_string(buf, pos):
    (n,) = struct.unpack_from(">I", buf, pos)
    return buf[pos + 4:pos + 4 + n], pos + 4 + n


listed = False
while True:
    (length,) = struct.unpack(">I", read_exact(4))
    body = read_exact(length)
    kind = body[0]
    if kind == 1:  # INIT
        send(2, struct.pack(">I", 3))
        continue
    (rid,) = struct.unpack_from(">I", body, 1)
    arg, pos = get_string(body, 5) if len(body) >= 9 else (b"", 5)
    if kind == 16:  # REALPATH
        send(104, struct.pack(">II", rid, 1) + string(b"/") + string(b"/") + attrs(0, 0o40755))
    elif kind in (17, 7):  # STAT, LSTAT
        name = arg.rsplit(b"/", 1)[-1]
        if arg in (b"/", b"/."):
            send(105, struct.pack(">I", rid) + attrs(0, 0o40755))
        elif name in FILES:
            send(105, struct.pack(">I", rid) + attrs(len(FILES[name]), 0o100644))
        else:
            status(rid, 2, b"No such file")
    elif kind == 11:  # OPENDIR
        listed = False
        send(102, struct.pack(">I", rid) + string(b"dir"))
    elif kind == 12:  # READDIR
        if listed:
            status(rid, 1, b"EOF")
        else:
            listed = True
            names = HOSTILE + list(FILES)
            payload = struct.pack(">II", rid, len(names))
            for n in names:
                size = len(FILES.get(n, b"x"))
                payload += string(n) + string(b"-rw-r--r-- 1 u g %d Jan 1 00:00 " % size + n) + attrs(size, 0o100644)
            send(104, payload)
    elif kind == 3:  # OPEN
        name = arg.rsplit(b"/", 1)[-1]
        if name in FILES:
            send(102, struct.pack(">I", rid) + string(b"f" + name))
        else:
            status(rid, 2, b"No such file")
    elif kind == 8:  # FSTAT
        name = arg[1:]
        send(105, struct.pack(">I", rid) + attrs(len(FILES.get(name, b"")), 0o100644))
    elif kind == 5:  # READ
        (offset, count) = struct.unpack_from(">QI", body, pos)
        data = FILES.get(arg[1:], b"")[offset:offset + count]
        if data:
            send(103, struct.pack(">I", rid) + string(data))
        else:
            status(rid, 1, b"EOF")
    elif kind == 4:  # CLOSE
        status(rid, 0)
    else:
        status(rid, 8, b"Unsupported")
