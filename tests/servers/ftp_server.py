#!/usr/bin/python3
"""FTP server for tests: one user with full rights on one folder.

  ftp_server.py --root DIR --user NAME --password SECRET

Listens on 127.0.0.1 (port reported as "PORT <n>"); passive data
connections use a small port range (the kernel chooses another port when
all of them are busy); active mode is allowed. A failed login is answered
at once (no 3-second penalty), so failure tests stay fast.
"""
import argparse
import logging
import os
import random
import sys

# pyftpdlib offers FTPS when pyOpenSSL imports; these tests need none, and
# leaving it out saves a good part of the start-up time.
sys.modules["OpenSSL"] = None

from pyftpdlib.authorizers import DummyAuthorizer  # noqa: E402
from pyftpdlib.handlers import FTPHandler  # noqa: E402
from pyftpdlib.servers import FTPServer  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import loopback_common  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    args = parser.parse_args()
    loopback_common.exit_with_parent()
    logging.basicConfig(level=logging.WARNING)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, os.path.abspath(args.root), perm="elradfmwMT")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.auth_failed_timeout = 0
    base = random.randrange(50000, 60000, 10)
    Handler.passive_ports = range(base, base + 10)
    Handler.banner = "loopback test FTP server ready"

    server = FTPServer(("127.0.0.1", 0), Handler)
    loopback_common.report_port(server.socket.getsockname()[1])
    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    main()
