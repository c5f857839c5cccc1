# Starts pyftpdlib on 127.0.0.1 with one user; prints the port, then serves until killed.
# Usage: pyftpd_server.py ROOT USER PASSWORD [ADDRESS [PEM]]  (127.0.0.1 by default; ::1 for IPv6)
# PEM (certificate and key): explicit TLS required for login and data.
# TARNWICK_FTP_SEND_LIMIT (bytes per second), when set, slows what the server sends on data connections, so
# that a test can act in the middle of a download whatever the machine's speed.
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer

logging.basicConfig(level=logging.CRITICAL)
root, user, password = sys.argv[1:4]
auth = DummyAuthorizer()
auth.add_user(user, password, root, perm="elradfmwMT")
tls_pem = sys.argv[5] if len(sys.argv) > 5 else ""
if tls_pem:
    from pyftpdlib.handlers import TLS_FTPHandler
    handler = TLS_FTPHandler
    handler.certfile = tls_pem
    handler.tls_control_required = True
    handler.tls_data_required = True
else:
    handler = FTPHandler
handler.authorizer = auth
handler.banner = "pyftpdlib ready."
send_limit = int(os.environ.get("TARNWICK_FTP_SEND_LIMIT", "0"))
if send_limit > 0:
    ThrottledDTPHandler.write_limit = send_limit
    handler.dtp_handler = ThrottledDTPHandler
address = sys.argv[4] if len(sys.argv) > 4 else "127.0.0.1"
server = FTPServer((address, 0), handler)
print(server.address[1], flush=True)
server.serve_forever(handle_exit=True)
