#!/usr/bin/python3
"""FTP transfer benchmark: our engine against curl in active mode (-P -), in passive mode
(--ftp-pasv) and with explicit TLS (--ssl-reqd -k, a certificate made by openssl req), same
vsftpd (a second one for TLS), same run. The mode "sftp" compares our SFTP engine with OpenSSH's
sftp and scp against one sshd (a private configuration, its own host key, key login as the
running user, on 127.0.0.1), on a file of --sftp-size-mb.

Builds a test file (1 GB by default) in a tmpfs, starts vsftpd on 127.0.0.1 with a private
configuration, then alternates engine and curl runs for a download and for an upload and prints
medians, throughput ratios (engine / curl) and peak resident memory. A second engine row uses
64 KiB transfer blocks: the default block sizes (2 KB receive, 1514 B send) do not bound the
system calls (the file and the socket move in batches of up to 256 KiB), so the rows should match.

Usage: bench/ftp.py [--size-mb N] [--sftp-size-mb N] [--runs N] [--build DIR] [--dir DIR]
                    [--modes active,passive,passive-tls,sftp]
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


def bench_sftp(args, work, size_mb):
    """SFTP rows: our engine against OpenSSH's sftp and scp, same sshd, same run."""
    client = os.path.join(args.build, "bin", "sftp_bench_client")
    if not os.path.exists(client):
        sys.exit("build the driver first: cmake --build build --target sftp_bench_client")
    for tool in ("/usr/sbin/sshd", "sftp", "scp", "ssh-keygen"):
        if not shutil.which(tool):
            sys.exit("missing %s" % tool)
    import getpass
    user = getpass.getuser()
    base = os.path.join(work, "sftp")
    home = os.path.join(base, "home")
    ssh_dir = os.path.join(home, ".ssh")
    root = os.path.join(base, "root")
    local = os.path.join(base, "local")
    for d in (ssh_dir, root, local):
        os.makedirs(d)
    os.chmod(ssh_dir, 0o700)
    keygen = ["ssh-keygen", "-q", "-t", "ed25519", "-N", ""]
    host_key = os.path.join(base, "host_ed25519")
    user_key = os.path.join(ssh_dir, "id_ed25519")
    subprocess.run(keygen + ["-f", host_key], check=True)
    subprocess.run(keygen + ["-f", user_key], check=True)
    auth = os.path.join(base, "authorized_keys")
    shutil.copyfile(user_key + ".pub", auth)
    port = free_port()
    known = os.path.join(ssh_dir, "known_hosts")
    with open(known, "w") as f:
        f.write("[127.0.0.1]:%d %s\n" % (port, " ".join(open(host_key + ".pub").read().split()[:2])))
    conf = os.path.join(base, "sshd_config")
    with open(conf, "w") as f:
        f.write("\n".join([
            "Port %d" % port, "ListenAddress 127.0.0.1", "HostKey " + host_key, "PidFile none",
            "AuthorizedKeysFile " + auth, "StrictModes no", "UsePAM no", "PasswordAuthentication no",
            "KbdInteractiveAuthentication no", "PermitRootLogin prohibit-password", "AllowUsers " + user,
            "Subsystem sftp internal-sftp", "ForceCommand internal-sftp -d " + root,
        ]) + "\n")
    if os.geteuid() == 0:
        os.makedirs("/run/sshd", exist_ok=True)
    size = size_mb << 20
    src = os.path.join(local, "src.bin")
    make_file(src, size)
    shutil.copyfile(src, os.path.join(root, "big.bin"))
    dl = os.path.join(local, "big.bin")
    server = subprocess.Popen(["/usr/sbin/sshd", "-D", "-e", "-f", conf], stderr=subprocess.DEVNULL)
    env = dict(os.environ, HOME=home)
    env.pop("SSH_AUTH_SOCK", None)
    ssh_opts = ["-o", "UserKnownHostsFile=" + known, "-o", "StrictHostKeyChecking=yes", "-o", "BatchMode=yes",
                "-i", user_key, "-F", "/dev/null"]
    try:
        if not wait_port(port):
            sys.exit("sshd did not start")

        def timed(cmd):
            os.environ["HOME"] = home
            return run(cmd)

        def engine(direction):
            if direction == "get":
                return timed([client, "127.0.0.1", str(port), user, "get", "big.bin", local])
            return timed([client, "127.0.0.1", str(port), user, "put", src, "up.bin"])

        def sftp(direction):
            batch = os.path.join(base, "batch")
            with open(batch, "w") as f:
                f.write(("get big.bin %s\n" % dl) if direction == "get" else ("put %s up.bin\n" % src))
            return timed(["sftp", "-q", "-P", str(port)] + ssh_opts + ["-b", batch, "%s@127.0.0.1" % user])

        def scp(direction):
            remote = "%s@127.0.0.1:" % user
            if direction == "get":
                return timed(["scp", "-q", "-P", str(port)] + ssh_opts + [remote + "big.bin", dl])
            return timed(["scp", "-q", "-P", str(port)] + ssh_opts + [src, remote + "up.bin"])

        saved_home = os.environ.get("HOME")
        engine("get")
        sftp("get")
        results = {}
        for direction in ("get", "put"):
            rows = {"engine": [], "sftp": [], "scp": []}
            for _ in range(args.runs):
                for name, fn in (("engine", engine), ("sftp", sftp), ("scp", scp)):
                    rows[name].append(fn(direction))
                    check = dl if direction == "get" else os.path.join(root, "up.bin")
                    if os.path.getsize(check) != size:
                        sys.exit("size mismatch after %s %s" % (name, direction))
            results[direction] = rows
        if saved_home is not None:
            os.environ["HOME"] = saved_home
        print("SFTP over loopback, OpenSSH sshd, %d MB, %d runs each (medians)" % (size_mb, args.runs))
        print("%-10s %-10s %6s %10s %10s %10s %14s" % ("direction", "client", "seconds", "MB/s", "vs sftp", "vs scp",
                                                      "peak RSS MB"))
        for direction, rows in results.items():
            ref = {n: statistics.median(t for t, _ in rows[n]) for n in ("sftp", "scp")}
            for name in ("engine", "sftp", "scp"):
                t = statistics.median(x for x, _ in rows[name])
                rss = max(r for _, r in rows[name]) / 1024
                print("%-10s %-10s %6.2f %10.1f %10.2f %10.2f %14.1f" % (
                    "download" if direction == "get" else "upload", name, t, size_mb / t, ref["sftp"] / t,
                    ref["scp"] / t, rss))
    finally:
        server.kill()
        server.wait()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--size-mb", type=int, default=1024)
    ap.add_argument("--sftp-size-mb", type=int, default=200)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--build", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build"))
    ap.add_argument("--dir", default="/dev/shm" if os.path.isdir("/dev/shm") else None)
    # active-tls: curl 7.88 fails its own active TLS download here (EAFNOSUPPORT), so it is not a default.
    ap.add_argument("--modes", default="active,passive,passive-tls,sftp")
    args = ap.parse_args()
    modes = args.modes.split(",")
    ftp_modes = [m for m in modes if m != "sftp"]
    if not ftp_modes:
        work = tempfile.mkdtemp(prefix="ftpbench-", dir=args.dir)
        try:
            bench_sftp(args, work, args.sftp_size_mb)
        finally:
            shutil.rmtree(work, ignore_errors=True)
        return

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
        for mode, direction in [(m, d) for m in ftp_modes for d in ("get", "put")]:
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
        if "sftp" in modes:
            print()
            bench_sftp(args, work, args.sftp_size_mb)
    finally:
        server.kill()
        server.wait()
        tls_server.kill()
        tls_server.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
