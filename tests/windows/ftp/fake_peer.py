# A scripted FTP peer for server misbehaviour. It accepts one control connection and follows a
# script, one instruction a line:
#   > TEXT        send TEXT + CRLF ("\r\n" inside TEXT is sent literally as a line break)
#   >raw TEXT     send TEXT without a line end
#   >latin1 TEXT  send TEXT + CRLF encoded in Latin-1 instead of UTF-8
#   < PREFIX      wait for a command line starting with PREFIX (recorded in the log file)
#   sleep SECS    pause
#   endless       send 'x' without a line end until the client hangs up
#   dataconnect   connect to the address of the last PORT command
#   dataconnectfrom ADDR  connect to it from the local address ADDR (a third party), then hang up
#   pasv ADDR     open a data listener on the control connection's address and answer
#                 "227 ... (ADDR,p1,p2)" with ADDR as given (a foreign address, say)
#   epsv          open a data listener likewise and answer "229 ... (|||port|)"
#   dataaccept    accept the client's connection to that listener (fails after 5 s)
#   datasend TEXT send TEXT on the data connection
#   datarecv      read the data connection to its end and log "DATA <length> <text>"
#   datarecvsome N  read at least N bytes of the data connection and log "DATASOME <length>"
#   datarecvslow SECS  read nothing for SECS, then read the data connection to its end in small
#                 pieces with pauses (so the client's sends stop part-way, again and again) and log
#                 "DATAMD5 <length> <md5 hex>"
#   datasendsize N  send N bytes on the data connection
#   dataclose     close the data connection
#   close         close the control connection
#   tls PEM       take the control connection into TLS as its server, with PEM's certificate and key
#   datatls       take the data connection into TLS likewise (after a tls)
#   reset         reset the control connection (RST: SO_LINGER 0, then close)
#   datareset     reset the data connection likewise
#   wait          wait until the client closes the control connection
# Usage: fake_peer.py SCRIPT LOG [ADDRESS]; prints the listening port.
import hashlib
import socket
import ssl
import struct
import sys
import time

script = open(sys.argv[1]).read().splitlines()
log = open(sys.argv[2], "w", buffering=1)
srv = socket.socket()
srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind((sys.argv[3] if len(sys.argv) > 3 else "127.0.0.1", 0))
srv.listen(1)
print(srv.getsockname()[1], flush=True)
conn, _ = srv.accept()
buf = b""
port_addr = None
data = None
tls = None
# A slow reader also keeps a small window: loopback buffers grow to megabytes and could otherwise
# swallow a whole upload before the client ever has to hold bytes back.
small_window = any(i.startswith("datarecvslow") for i in script)


def data_socket(family):
    s = socket.socket(family)
    if small_window:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 32768)
    return s


def reset(s):
    s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    s.close()


def read_line():
    global buf
    while b"\r\n" not in buf:
        chunk = conn.recv(4096)
        if not chunk:
            raise EOFError
        buf += chunk
    line, buf = buf.split(b"\r\n", 1)
    return line.decode("utf-8", "replace")


try:
    for instr in script:
        if not instr.strip():
            continue
        op, _, arg = instr.partition(" ")
        if op == ">":
            conn.sendall(arg.replace("\\r\\n", "\r\n").encode() + b"\r\n")
        elif op == ">latin1":
            conn.sendall(arg.encode("latin-1") + b"\r\n")
        elif op == ">raw":
            conn.sendall(arg.replace("\\r\\n", "\r\n").encode())
        elif op == "<":
            line = read_line()
            log.write(line + "\n")
            if line.upper().startswith("PORT "):
                n = [int(x) for x in line[5:].split(",")]
                port_addr = (".".join(map(str, n[:4])), n[4] * 256 + n[5])
            if not line.upper().startswith(arg.upper()):
                log.write("UNEXPECTED " + line + "\n")
        elif op == "sleep":
            time.sleep(float(arg))
        elif op == "endless":
            while True:
                conn.sendall(b"x" * 4096)
        elif op == "dataconnect":
            # Like real servers, connect from the address the control connection was made to.
            data = data_socket(conn.family)
            data.bind((conn.getsockname()[0], 0))
            data.connect(port_addr)
        elif op == "dataconnectfrom":
            intruder = socket.socket()
            intruder.bind((arg, 0))
            intruder.connect(port_addr)
            time.sleep(0.2)
            intruder.close()
        elif op in ("pasv", "epsv"):
            listener = data_socket(conn.family)
            listener.bind((conn.getsockname()[0], 0))
            listener.listen(1)
            lp = listener.getsockname()[1]
            if op == "pasv":
                conn.sendall(("227 Entering Passive Mode (%s,%d,%d)\r\n"
                              % (arg.replace(".", ","), lp // 256, lp % 256)).encode())
            else:
                conn.sendall(("229 Entering Extended Passive Mode (|||%d|)\r\n" % lp).encode())
        elif op == "dataaccept":
            listener.settimeout(5)
            try:
                data, who = listener.accept()
                log.write("DATAFROM %s\n" % who[0])
            except socket.timeout:
                log.write("NODATA\n")
        elif op == "datarecv":
            got = b""
            while True:
                chunk = data.recv(65536)
                if not chunk:
                    break
                got += chunk
            log.write("DATA %d %s\n" % (len(got), got[:64].decode("latin-1")))
            data.close()
        elif op == "datasend":
            data.sendall(arg.replace("\\r\\n", "\r\n").encode())
        elif op == "datarecvsome":
            got = 0
            while got < int(arg):
                chunk = data.recv(65536)
                if not chunk:
                    break
                got += len(chunk)
            log.write("DATASOME %d\n" % got)
        elif op == "datarecvslow":
            time.sleep(float(arg))
            md5 = hashlib.md5()
            got = 0
            while True:
                chunk = data.recv(8192)
                if not chunk:
                    break
                md5.update(chunk)
                got += len(chunk)
                time.sleep(0.001)
            log.write("DATAMD5 %d %s\n" % (got, md5.hexdigest()))
            data.close()
        elif op == "datasendsize":
            data.sendall(b"x" * int(arg))
        elif op == "dataclose":
            data.close()
        elif op == "tls":
            tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            tls.load_cert_chain(arg)
            conn = tls.wrap_socket(conn, server_side=True)
            buf = b""
        elif op == "datatls":
            data = tls.wrap_socket(data, server_side=True)
        elif op == "reset":
            reset(conn)
            break
        elif op == "datareset":
            reset(data)
        elif op == "close":
            conn.close()
            break
        elif op == "wait":
            while conn.recv(4096):
                pass
            break
    # Keep reading so the client's later commands are logged, until it hangs up.
    while True:
        line = read_line()
        log.write(line + "\n")
except (EOFError, OSError):
    pass
log.write("END\n")
