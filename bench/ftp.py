#!/usr/bin/python3
"""FTP transfer benchmark: our engine against curl in active mode (-P -), in passive mode
(--ftp-pasv) and with explicit TLS (--ssl-reqd -k, a certificate made by openssl req), same
vsftpd (a second one for TLS), same run.

Builds a test file (1 GB by default) in a tmpfs, starts vsftpd on 127.0.0.1 with a private
configuration, then alternates engine and curl runs for a download and for an upload and prints
medians, throughput ratios (engine / curl) and peak resident memory. A second engine row uses
larger transfer blocks to show what the default block sizes (2 KB receive, 1514 B send) cost.

Usage: bench/ftp.py [--size-mb N] [--runs N] [--build DIR] [--dir DIR] [--modes active,passive]
"""
import argparse
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_port(port, timeout=10):
    end = time.time() + timeout
    while time.time() < end:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


def run(cmd):
    """Runs cmd under /usr/bin/time; returns (seconds, peak RSS in KB of the command itself)."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as tf:
        t = time.perf_counter()
        p = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", tf.name] + cmd, capture_output=True, text=True)
        elapsed = time.perf_counter() - t
        if p.returncode != 0:
            sys.exit("failed: %s\n%s%s" % (" ".join(cmd), p.stdout, p.stderr))
        rss = int(tf.read().strip().splitlines()[-1])
    return elapsed, rss


def make_file(path, size):
    block = os.urandom(1 << 20)
    with open(path, "wb") as f:
        left = size
        while left > 0:
            n = min(left, len(block))
            f.write(block[:n])
            left -= n


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--size-mb", type=int, default=1024)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--build", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build"))
    ap.add_argument("--dir", default="/dev/shm" if os.path.isdir("/dev/shm") else None)
    # active-tls: curl 7.88 fails its own active TLS download here (EAFNOSUPPORT), so it is not a default.
    ap.add_argument("--modes", default="active,passive,passive-tls")
    args = ap.parse_args()

    client = os.path.join(args.build, "bin", "ftp_bench_client")
    if not os.path.exists(client):
        sys.exit("build the driver first: cmake --build build --target ftp_bench_client")
    for tool in ("curl", "/usr/sbin/vsftpd", "/usr/bin/time"):
        if not shutil.which(tool):
            sys.exit("missing %s" % tool)

    work = tempfile.mkdtemp(prefix="ftpbench-", dir=args.dir)
    root = os.path.join(work, "root")
    local = os.path.join(work, "local")
    os.makedirs(root)
    os.makedirs(local)
    size = args.size_mb << 20
    src = os.path.join(local, "src.bin")
    make_file(src, size)
    shutil.copyfile(src, os.path.join(root, "big.bin"))

    port = free_port()
    conf = os.path.join(work, "vsftpd.conf")
    with open(conf, "w") as f:
        f.write("\n".join([
            "listen=YES", "listen_address=127.0.0.1", "listen_port=%d" % port, "run_as_launching_user=YES",
            "anonymous_enable=YES", "no_anon_password=YES", "anon_root=" + root, "write_enable=YES",
            "anon_upload_enable=YES", "anon_other_write_enable=YES", "anon_umask=022", "local_enable=NO",
            "seccomp_sandbox=NO", "port_enable=YES", "connect_from_port_20=NO", "background=NO",
            "xferlog_enable=NO", "syslog_enable=NO", "secure_chroot_dir=" + work, "allow_writeable_chroot=YES",
        ]) + "\n")
    server = subprocess.Popen(["/usr/sbin/vsftpd", conf])
    # The same server with TLS required, on its own port.
    pem = os.path.join(work, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", pem, "-out",
                    pem + ".crt", "-days", "1", "-subj", "/CN=localhost"], check=True, capture_output=True)
    with open(pem, "a") as f:
        f.write(open(pem + ".crt").read())
    tls_port = free_port()
    tls_conf = os.path.join(work, "vsftpd-tls.conf")
    with open(conf) as f, open(tls_conf, "w") as g:
        g.write(f.read().replace("listen_port=%d" % port, "listen_port=%d" % tls_port))
        g.write("\n".join(["ssl_enable=YES", "allow_anon_ssl=YES", "force_anon_logins_ssl=YES",
                           "force_anon_data_ssl=YES", "rsa_cert_file=" + pem, "rsa_private_key_file=" + pem]) + "\n")
    tls_server = subprocess.Popen(["/usr/sbin/vsftpd", tls_conf])
    try:
        if not wait_port(port) or not wait_port(tls_port):
            sys.exit("vsftpd did not start")
        dl = os.path.join(local, "dl.bin")

        mode = "active"

        def engine(direction, blocks=None):
            extra = [str(blocks), str(blocks)] if blocks else []
            os.environ["FTP_BENCH_PASSIVE"] = "1" if mode.startswith("passive") else "0"
            os.environ["FTP_BENCH_TLS"] = "1" if mode.endswith("tls") else "0"
            p = str(tls_port if mode.endswith("tls") else port)
            if direction == "get":
                return run([client, "127.0.0.1", p, "anonymous", "x", "get", "big.bin", dl] + extra)
            return run([client, "127.0.0.1", p, "anonymous", "x", "put", "up.bin", src] + extra)

        def curl(direction):
            how = ["--ftp-pasv"] if mode.startswith("passive") else ["-P", "-"]
            if mode.endswith("tls"):
                how += ["--ssl-reqd", "-k"]
            base = "ftp://anonymous:x@127.0.0.1:%d/" % (tls_port if mode.endswith("tls") else port)
            if direction == "get":
                return run(["curl", "-s", "-S"] + how + ["-o", dl, base + "big.bin"])
            return run(["curl", "-s", "-S"] + how + ["-T", src, base + "up.bin"])

        # Touch the caches and fresh memory once before timing.
        engine("get")
        curl("get")
        results = {}
        for mode, direction in [(m, d) for m in args.modes.split(",") for d in ("get", "put")]:
            rows = {"engine": [], "engine-64k": [], "curl": []}
            for _ in range(args.runs):
                rows["engine"].append(engine(direction))
                rows["curl"].append(curl(direction))
                rows["engine-64k"].append(engine(direction, 65536))
                check = dl if direction == "get" else os.path.join(root, "up.bin")
                if os.path.getsize(check) != size:
                    sys.exit("size mismatch after %s" % direction)
            results[(mode, direction)] = rows

        mb = size / (1 << 20)
        print("FTP over loopback, vsftpd, %d MB, %d runs each (medians)" % (mb, args.runs))
        print("%-11s %-10s %-15s %6s %10s %12s %14s" % ("mode", "direction", "client", "seconds", "MB/s", "vs curl",
                                                       "peak RSS MB"))
        for (mode, direction), rows in results.items():
            curl_t = statistics.median(t for t, _ in rows["curl"])
            for name in ("engine", "engine-64k", "curl"):
                t = statistics.median(x for x, _ in rows[name])
                rss = max(r for _, r in rows[name]) / 1024
                label = name if name != "engine" else "engine(2K/1514)"
                print("%-11s %-10s %-15s %6.2f %10.1f %12.2f %14.1f" % (
                    mode, "download" if direction == "get" else "upload", label, t, mb / t, curl_t / t, rss))
    finally:
        server.kill()
        server.wait()
        tls_server.kill()
        tls_server.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
