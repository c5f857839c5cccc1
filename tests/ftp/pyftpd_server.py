# Starts pyftpdlib on 127.0.0.1 with one user; prints the port, then serves until killed.
# Usage: pyftpd_server.py ROOT USER PASSWORD
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

logging.basicConfig(level=logging.CRITICAL)
root, user, password = sys.argv[1:4]
auth = DummyAuthorizer()
auth.add_user(user, password, root, perm="elradfmwMT")
handler = FTPHandler
handler.authorizer = auth
handler.banner = "pyftpdlib ready."
server = FTPServer(("127.0.0.1", 0), handler)
print(server.address[1], flush=True)
server.serve_forever(handle_exit=True)
