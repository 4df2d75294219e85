#!/usr/bin/python3
"""A real FTP server for the tests: pyftpdlib on 127.0.0.1, one account whose home is ROOT.

Usage: pyftpd.py --root DIR --user U --password P --port-file FILE [--port N]

With port 0 (the default) the system picks a free port; the port actually bound is written
to FILE once the server listens, so a test waits for that file and then connects.
Names travel as raw bytes both ways: Windows-1252 names from the client reach the disk
unchanged, and names on disk reach the client unchanged.
"""

import argparse
import logging
import os
import signal

from pyftpdlib import handlers
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.log import config_logging
from pyftpdlib.servers import FTPServer


class ByteNameHandler(FTPHandler):
    # pyftpdlib decodes commands as UTF-8 and would replace the bytes of a Windows-1252
    # name; surrogateescape carries them through to the file system and back.
    unicode_errors = "surrogateescape"

    def push(self, s):
        handlers.asynchat.async_chat.push(self, s.encode("utf8", self.unicode_errors))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, os.path.abspath(args.root), perm="elradfmwMT")
    ByteNameHandler.authorizer = authorizer
    ByteNameHandler.banner = "pyftpd ready"
    # A wrong password is answered at once; the tests have no brute force to slow down.
    ByteNameHandler.auth_failed_timeout = 0.05
    ByteNameHandler.permit_foreign_addresses = False
    ByteNameHandler.masquerade_address = None

    server = FTPServer(("127.0.0.1", args.port), ByteNameHandler)

    def stop(_signum, _frame):
        # serve_forever catches this, closes every connection and returns.
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    port = server.socket.getsockname()[1]
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d\n" % port)
    # The rename makes the port appear all at once, never half-written.
    os.replace(tmp, args.port_file)

    config_logging(level=logging.WARNING)
    server.serve_forever(timeout=0.5)


if __name__ == "__main__":
    main()
