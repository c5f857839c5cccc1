#!/usr/bin/python3
"""The self-extracting program ZIPSFX.BIN, run for real: self-extracting files are made here (the program
copied whole, a 256-byte header, zip data written by Python's zipfile with offsets counted from the file's
start) and run as a user or a script would, the terminal questions answered through a pseudo-terminal."""
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

STUB = os.environ.get("SFX_STUB", "")
ZIPCLI = os.environ.get("SFX_ZIPCLI", "")  # the zip component's command-line driver

ASK_CMD, ASK_FILES, HIDE_OVR, OVR_ALWAYS, OVR_NEVER, NO_SIZE_CHECK, AUTO_RUN = 1, 2, 4, 8, 16, 32, 64


def header(options=0, caption="Test archive", folder="", command="", lengths=None):
    texts = [t.encode() for t in (caption, folder, command)]
    h = bytearray(256)
    h[0:3] = b"MPU"
    h[3] = options
    h[4], h[5], h[6] = lengths if lengths else [len(t) for t in texts]
    body = b"".join(texts)[:249]
    h[7:7 + len(body)] = body
    return bytes(h)


def make_sfx(path, members, head=None, zip64=False):
    """members: list of (name, bytes) or (ZipInfo, bytes). The zip is appended after stub + header, so every
    offset it stores counts from the start of the file, as in a converted archive."""
    with open(path, "wb") as f:
        with open(STUB, "rb") as s:
            shutil.copyfileobj(s, f)
        f.write(head if head is not None else header())
    saved = zipfile.ZIP64_LIMIT
    if zip64:
        zipfile.ZIP64_LIMIT = 1 << 16  # every offset beyond the program then goes into Zip64 fields
    try:
        with zipfile.ZipFile(path, "a", zipfile.ZIP_DEFLATED) as z:
            for name, data in members:
                z.writestr(name, data)
    finally:
        zipfile.ZIP64_LIMIT = saved
    os.chmod(path, 0o755)
    return path


def tree(root):
    """Relative path -> file bytes (None for folders) below root."""
    out = {}
    for d, dirs, files in os.walk(root):
        for n in dirs:
            out[os.path.relpath(os.path.join(d, n), root)] = None
        for n in files:
            with open(os.path.join(d, n), "rb") as f:
                out[os.path.relpath(os.path.join(d, n), root)] = f.read()
    return out


class PtySession:
    """The program on a pseudo-terminal; expect() waits until a text has appeared, answer() types a line."""

    def __init__(self, argv, cwd, env):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(cwd)
            os.execve(argv[0], argv, env)
        self.seen = b""
        self.pos = 0

    def _read(self, deadline):
        left = deadline - time.monotonic()
        if left <= 0:
            return False
        r, _, _ = select.select([self.fd], [], [], left)
        if not r:
            return False
        try:
            data = os.read(self.fd, 4096)
        except OSError:  # the program ended and closed the terminal
            return False
        if not data:
            return False
        self.seen += data
        return True

    def expect(self, text, timeout=30):
        deadline = time.monotonic() + timeout
        want = text.encode()
        while want not in self.seen[self.pos:]:
            if not self._read(deadline):
                raise AssertionError("did not see %r; the terminal shows:\n%s" % (text, self.seen.decode(errors="replace")))
        self.pos = self.seen.index(want, self.pos) + len(want)

    def answer(self, line):
        os.write(self.fd, line.encode() + b"\n")

    def finish(self, timeout=60):
        """The exit code once the program has ended. Typing an end of input first makes a question nobody
        expected end the program (as cancelled) instead of waiting."""
        os.write(self.fd, b"\x04")
        deadline = time.monotonic() + timeout
        while self._read(deadline):
            pass
        return self.close()

    def close(self):
        if self.pid is None:
            return None
        pid, status = os.waitpid(self.pid, os.WNOHANG)
        if pid == 0:
            os.kill(self.pid, signal.SIGKILL)
            _, status = os.waitpid(self.pid, 0)
        self.pid = None
        os.close(self.fd)
        return os.waitstatus_to_exitcode(status)


class SfxStubTest(unittest.TestCase):
    def setUp(self):
        self.assertTrue(os.path.isfile(STUB), "SFX_STUB must name the built program")
        self.assertTrue(os.path.isfile(ZIPCLI), "SFX_ZIPCLI must name the zip component's driver")
        self.dir = tempfile.mkdtemp(prefix="sfxtest-")
        self.env = dict(os.environ, HOME=self.dir, TMPDIR=os.path.join(self.dir, "tmp"), TERM="dumb")
        for k in ("DISPLAY", "WAYLAND_DISPLAY"):
            self.env.pop(k, None)
        os.mkdir(self.env["TMPDIR"])

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def p(self, *parts):
        return os.path.join(self.dir, *parts)

    def run_sfx(self, exe, *args, cwd=None):
        return subprocess.run([exe, *args], cwd=cwd or self.dir, env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=120)

    MEMBERS = [("a.txt", b"alpha\n"), ("sub/", b""), ("sub/b.bin", os.urandom(300000)),
               ("sub/deep/c.txt", b"gamma " * 5000), ("empty.txt", b"")]

    def expected(self):
        out = {n.rstrip("/"): (None if n.endswith("/") else d) for n, d in self.MEMBERS}
        out["sub/deep"] = None
        return out

    def converted(self, name, zip64):
        """A file made by the component's own conversion (ConvertToSfx through the command-line driver)."""
        zpath = self.p(name + ".zip")
        saved = zipfile.ZIP64_LIMIT
        if zip64:
            zipfile.ZIP64_LIMIT = 1 << 10
        try:
            with zipfile.ZipFile(zpath, "w", zipfile.ZIP_DEFLATED) as z:
                for n, d in self.MEMBERS:
                    z.writestr(n, d)
        finally:
            zipfile.ZIP64_LIMIT = saved
        r = subprocess.run([ZIPCLI, "sfx", zpath, STUB], capture_output=True, text=True, env=self.env, timeout=120)
        self.assertEqual(r.returncode, 0, r.stderr)
        exe = self.p(name + ".exe")
        os.chmod(exe, 0o755)
        return exe

    def test_extracts_everything_and_other_readers_accept_the_file(self):
        for i, (maker, zip64) in enumerate([("appended", False), ("appended", True), ("converted", False),
                                            ("converted", True)]):
            with self.subTest(maker=maker, zip64=zip64):
                exe = (make_sfx(self.p("plain%d.exe" % i), self.MEMBERS, zip64=zip64) if maker == "appended"
                       else self.converted("conv%d" % i, zip64))
                out = self.p("out%d" % i, "new", "folder")  # missing folders are made
                r = self.run_sfx(exe, "-y", "-d", out)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(tree(out), self.expected())
                names = sorted(n for n, _ in self.MEMBERS)
                bsd = subprocess.run(["bsdtar", "-tf", exe], capture_output=True, text=True)
                self.assertEqual(bsd.returncode, 0, bsd.stderr)
                self.assertEqual(sorted(bsd.stdout.split()), names)
                py = subprocess.run(["/usr/bin/python3", "-m", "zipfile", "-t", exe], capture_output=True, text=True)
                self.assertEqual(py.returncode, 0, py.stderr)
                lst = self.run_sfx(exe, "-l")
                self.assertEqual(lst.returncode, 0, lst.stderr)
                self.assertTrue(all(n in lst.stdout for n in names), lst.stdout)
                self.assertEqual(self.run_sfx(exe, "-t").returncode, 0)

    def test_overwrite_modes_from_options_and_header(self):
        members = [("keep.txt", b"new keep\n"), ("fresh.txt", b"new fresh\n")]
        cases = [  # (header options, command-line options, whether keep.txt is replaced)
            (0, ["-o"], True), (OVR_ALWAYS, ["-n"], False), (OVR_ALWAYS, [], True),
            (OVR_NEVER, [], False), (0, [], False)]  # ask with nobody to ask keeps the file
        for i, (opts, args, replaced) in enumerate(cases):
            with self.subTest(options=opts, args=args):
                exe = make_sfx(self.p("o%d.exe" % i), members, header(opts))
                out = self.p("ovr%d" % i)
                os.mkdir(out)
                with open(os.path.join(out, "keep.txt"), "wb") as f:
                    f.write(b"old\n")
                r = self.run_sfx(exe, "-y", "-d", out, *args)
                self.assertEqual(r.returncode, 0, r.stderr)
                t = tree(out)
                self.assertEqual(t["keep.txt"], b"new keep\n" if replaced else b"old\n")
                self.assertEqual(t["fresh.txt"], b"new fresh\n")

    def test_terminal_asks_for_each_existing_file(self):
        names = ["f1.txt", "f2.txt", "f3.txt", "f4.txt"]
        exe = make_sfx(self.p("ask.exe"), [(n, b"new " + n.encode()) for n in names] + [("f5.txt", b"five")],
                       header(0, caption="Ask Setup", folder=self.p("ask")))
        os.mkdir(self.p("ask"))
        for n in names:
            with open(self.p("ask", n), "wb") as f:
                f.write(b"old")
        s = PtySession([exe], self.dir, self.env)
        self.addCleanup(s.close)
        s.expect("Ask Setup")
        s.expect("Extract to [%s]" % self.p("ask"))
        s.answer("")
        s.expect("Existing files")
        s.answer("")  # keeps "ask"
        s.expect("Overwrite f1.txt?")
        s.answer("y")
        s.expect("Overwrite f2.txt?")
        s.answer("n")
        s.expect("Overwrite f3.txt?")
        s.answer("a")  # this one and the rest
        code = s.finish()
        self.assertEqual(code, 0, s.seen.decode(errors="replace"))
        self.assertNotIn(b"Overwrite f4.txt?", s.seen)
        t = tree(self.p("ask"))
        self.assertEqual(t, {"f1.txt": b"new f1.txt", "f2.txt": b"old", "f3.txt": b"new f3.txt",
                             "f4.txt": b"new f4.txt", "f5.txt": b"five"})

    def test_terminal_folder_file_list_and_declined_command(self):
        exe = make_sfx(self.p("pick.exe"), [("one.txt", b"1"), ("two.txt", b"2"), ("three.txt", b"3")],
                       header(ASK_FILES | ASK_CMD | HIDE_OVR, folder="unused",
                              command="/bin/sh|-c 'echo ran > ><ran.txt'"))
        s = PtySession([exe], self.dir, self.env)
        self.addCleanup(s.close)
        s.expect("Extract to [unused]")
        s.answer(self.p("typed"))
        s.expect("Enter for all")  # no overwrite question: the header hides it
        s.answer("7")  # no such member: asked again
        s.expect("Please give numbers")
        s.answer("2")
        s.expect("Run /bin/sh")
        s.answer("n")
        code = s.finish()
        self.assertEqual(code, 0, s.seen.decode(errors="replace"))
        self.assertNotIn(b"Existing files", s.seen)
        self.assertEqual(tree(self.p("typed")), {"one.txt": b"1", "three.txt": b"3"})
        self.assertFalse(os.path.exists(self.p("unused")))

    def test_command_line_runs_in_the_folder_with_its_place_filled_in(self):
        out = self.p("with space")
        exe = make_sfx(self.p("cmd.exe"), [("a.txt", b"payload")], header(AUTO_RUN, command="/bin/cp|><a.txt 'ma rk.txt'"))
        r = self.run_sfx(exe, "-d", out)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(tree(out), {"a.txt": b"payload", "ma rk.txt": b"payload"})
        # An archive started empty (an end record only, as a new self-extracting archive begins) runs it too.
        empty = self.p("empty.exe")
        with open(STUB, "rb") as f, open(empty, "wb") as out:
            stub = f.read()
            out.write(stub + header(0, command="/bin/sh|-c 'echo ran > ><mark'"))
            out.write(b"PK\x05\x06" + bytes(12) + (len(stub) + 256).to_bytes(4, "little") + bytes(2))
        os.chmod(empty, 0o755)
        r = self.run_sfx(empty, "-y", "-d", self.p("empty"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(tree(self.p("empty")), {"mark": b"ran\n"})
        for i, command in enumerate(["/bin/false", "/nonexistent/program|x"]):
            with self.subTest(command=command):
                exe = make_sfx(self.p("bad%d.exe" % i), [("a.txt", b"x")], header(0, command=command))
                r = self.run_sfx(exe, "-y", "-d", self.p("bad%d" % i))
                self.assertEqual(r.returncode, 4, r.stderr)
                self.assertTrue(os.path.exists(self.p("bad%d" % i, "a.txt")))

    def test_temporary_default_folder(self):
        # Cancelled on the terminal after the folder question: nothing is made, and the exit says so.
        exe = make_sfx(self.p("cancel.exe"), [("t.txt", b"temp")], header(0, folder="><"))
        s = PtySession([exe], self.dir, self.env)
        self.addCleanup(s.close)
        s.expect("Extract to [a new temporary folder]")
        s.answer("")
        s.expect("Existing files")
        self.assertEqual(s.finish(), 5)  # finish() ends the input: the question is cancelled
        self.assertEqual(os.listdir(self.env["TMPDIR"]), [])
        exe = make_sfx(self.p("tmp.exe"), [("t.txt", b"temp")],
                       header(AUTO_RUN, folder="><", command="/bin/sh|-c 'pwd > %s'" % self.p("where")))
        r = self.run_sfx(exe)
        self.assertEqual(r.returncode, 0, r.stderr)
        made = os.listdir(self.env["TMPDIR"])
        self.assertEqual(len(made), 1)
        folder = os.path.join(self.env["TMPDIR"], made[0])
        self.assertEqual(tree(folder), {"t.txt": b"temp"})
        with open(self.p("where")) as f:
            self.assertEqual(f.read().strip(), os.path.realpath(folder))
        self.assertFalse(os.path.exists(self.p("t.txt")))

    def test_hostile_names_write_nothing_outside(self):
        outside = self.p("outside")
        os.mkdir(outside)
        inner = self.p("outside", "in")
        for i, name in enumerate(["../escaped.txt", "ok/../../escaped.txt", outside + "/absolute.txt"]):
            with self.subTest(name=name):
                exe = make_sfx(self.p("h%d.exe" % i), [("good.txt", b"g"), (name, b"evil")])
                r = self.run_sfx(exe, "-y", "-d", inner)
                self.assertEqual(r.returncode, 3, r.stderr)
                self.assertIn("refused", r.stderr)
                self.assertEqual(tree(outside), {})  # refused before anything is made
        # A link that points out of the folder, and a file written through it.
        link = zipfile.ZipInfo("ln")
        link.create_system = 3
        link.external_attr = 0o120777 << 16
        exe = make_sfx(self.p("link.exe"), [("good.txt", b"g"), (link, b"../.."), ("ln/through.txt", b"evil")])
        r = self.run_sfx(exe, "-y", "-d", inner)
        self.assertNotEqual(r.returncode, 0, r.stderr)
        self.assertFalse(os.path.islink(os.path.join(inner, "ln")))
        self.assertEqual({k for k in tree(outside) if not k.startswith("in")}, set())

    def test_contradicting_options_are_wrong_options(self):
        exe = make_sfx(self.p("opts.exe"), [("a.txt", b"a")])
        for args in (["-o", "-n"], ["-n", "-o"], ["-l", "-t"], ["-y", "-t", "-l"]):
            with self.subTest(args=args):
                out = self.p("opts-out")
                r = self.run_sfx(exe, "-y", "-d", out, *args)
                self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
                self.assertIn("cannot be used together", r.stderr)
                self.assertFalse(os.path.exists(out))

    def test_a_stop_signal_cancels_and_leaves_no_temporary_file(self):
        # One member of 1 GiB of zeros (a few MB deflated): still being written when the signal comes.
        exe = self.p("huge.exe")
        with open(exe, "wb") as f:
            with open(STUB, "rb") as s:
                shutil.copyfileobj(s, f)
            f.write(header())
        with zipfile.ZipFile(exe, "a", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
            with z.open("zeros.bin", "w") as w:
                chunk = bytes(1 << 20)
                for _ in range(1024):
                    w.write(chunk)
        os.chmod(exe, 0o755)
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                out = self.p("stopped-" + sig.name)
                proc = subprocess.Popen([exe, "-y", "-d", out], cwd=self.dir, env=self.env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                deadline = time.monotonic() + 120
                temps = []
                while not temps and proc.poll() is None and time.monotonic() < deadline:
                    temps = [n for n in (os.listdir(out) if os.path.isdir(out) else []) if n.startswith(".tarnwick-unz-")]
                self.assertTrue(temps, "the member was never being written")
                proc.send_signal(sig)
                stdout, stderr = proc.communicate(timeout=120)
                self.assertEqual(proc.returncode, 5, stdout + stderr)
                self.assertIn("Cancelled.", stderr)
                self.assertEqual(os.listdir(out), [])  # neither the temporary file nor a cut member
        # Stopped while a question waits on the terminal: nothing is made.
        exe = make_sfx(self.p("asking.exe"), [("a.txt", b"a")], header(0, folder=self.p("asked")))
        s = PtySession([exe], self.dir, self.env)
        self.addCleanup(s.close)
        s.expect("Extract to")
        os.kill(s.pid, signal.SIGTERM)
        self.assertEqual(s.finish(), 5, s.seen.decode(errors="replace"))
        self.assertFalse(os.path.exists(self.p("asked")))

    def test_lying_files_are_refused(self):
        members = [("a.txt", b"a" * 1000)]
        good = make_sfx(self.p("good.exe"), members)
        with open(good, "rb") as f:
            data = f.read()
        stub_size = os.path.getsize(STUB)
        eocd = data.rindex(b"PK\x05\x06")
        lying = {
            "text lengths past the header": make_sfx(self.p("l1.exe"), members, header(lengths=(200, 40, 10))),
            "no header": make_sfx(self.p("l2.exe"), members, b"XYZ" + header()[3:]),
            "directory offset past the file": data[:eocd + 16] + (len(data) + 10).to_bytes(4, "little") + data[eocd + 20:],
            "bytes after the archive": data + b"trailing",
            "cut file": data[:stub_size + 256 + 200] + data[eocd - 100:],
        }
        # The one central header's local offset (at +42) moved beyond the file.
        cd = data.rindex(b"PK\x01\x02")
        lying["local offset past the file"] = data[:cd + 42] + (len(data) * 2).to_bytes(4, "little") + data[cd + 46:]
        for i, (why, content) in enumerate(lying.items()):
            with self.subTest(why=why):
                exe = content if isinstance(content, str) else self.p("lie.exe")
                if not isinstance(content, str):
                    with open(exe, "wb") as f:
                        f.write(content)
                    os.chmod(exe, 0o755)
                out = self.p("lie-out%d" % i)
                r = self.run_sfx(exe, "-y", "-d", out)
                self.assertEqual(r.returncode, 3, r.stdout + r.stderr)
                self.assertIn("cannot be used", r.stderr)
                self.assertFalse(os.path.exists(out))
        # Without the size check, bytes after the archive are accepted.
        exe = make_sfx(self.p("nocheck.exe"), members, header(NO_SIZE_CHECK))
        with open(exe, "ab") as f:
            f.write(b"trailing")
        self.assertEqual(self.run_sfx(exe, "-y", "-d", self.p("nc")).returncode, 0)
        self.assertEqual(tree(self.p("nc")), {"a.txt": b"a" * 1000})


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[1:], verbosity=2)
