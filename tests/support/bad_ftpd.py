#!/usr/bin/python3
"""A small FTP server that misbehaves on purpose, for what no good server does.

Usage: bad_ftpd.py --root DIR --user U --password P --port-file FILE
                   [--port N] [--commands-file FILE] [fault options]

Without fault options it is a plain passive-mode server for DIR (the account's home):
USER PASS SYST PWD CWD CDUP TYPE PASV LIST NLST RETR STOR SIZE DELE MKD NOOP QUIT.
LIST answers in the Unix long form and starts with a "total" line. Names are raw bytes.

Fault options:
  --delay-ms N          hold back every reply, and the take-up of every data connection,
                        by N ms: a network round trip on loopback. A reply goes out N ms
                        after the command (or the end of an upload) that it answers; a
                        data connection is usable N ms after it was opened, and the
                        command waiting for it is answered N ms after that.
  --extra-name NAME     list NAME as a file too (repeatable); RETR of it delivers
                        "HOSTILE\\r\\n", whatever the name (names like "../x" or "a/b")
  --list-dots           list "." and ".." as directories
  --break-retr N        a RETR of a file longer than N bytes sends only its first N
                        bytes, then ...
  --break-how HOW       ... "reply": resets the data connection and answers 426 (default);
                        "hangup": resets the data connection and drops the control
                        connection; "stall": keeps the data connection open, silent;
                        "lie": closes the data connection and answers 226
                        (the RETR reply names the file's size, as vsftpd's does)
  --refuse-pasv         answer PASV with 425
  --silent-after VERB   stop answering a control connection once VERB arrived on it (VERB is
                        not answered either); CONNECT means no greeting at all
  --refuse-stor         answer STOR with 553
  --stor-reply TEXT     after an upload arrived, answer TEXT instead of "226 ..."; "none"
                        means no answer at all
  --pasv-address A.B.C.D  name this address in the PASV reply (the data port still listens
                        on 127.0.0.1 only)

--commands-file receives one line per command as it arrived (bytes unchanged, CR LF
removed), written before the reply, and "CONNECT" for each new control connection.
SIGTERM stops the server.
"""

import argparse
import os
import posixpath
import signal
import socket
import socketserver
import stat
import struct
import sys
import threading
import time

OPTS = None
LOG_LOCK = threading.Lock()


def log_command(line):
    if not OPTS.commands_file:
        return
    with LOG_LOCK:
        with open(OPTS.commands_file, "ab") as f:
            f.write(line + b"\n")
            f.flush()


def delay_s():
    return OPTS.delay_ms / 1000.0


def wait_until(moment):
    pause = moment - time.monotonic()
    if pause > 0:
        time.sleep(pause)


class Silent(Exception):
    pass


class Hangup(Exception):
    pass


class Session(socketserver.BaseRequestHandler):
    def setup(self):
        self.ctrl = self.request
        self.ctrl.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buf = b""
        self.user = None
        self.logged_in = False
        self.cwd = b"/"  # relative to the root, always starts with "/"
        self.pasv = None
        self.silent = False
        # When the replies to the command in hand may go out: one round trip after their
        # cause arrived, as over a real network. Replies to one command share it, so "150"
        # and "226" of a transfer are not held back one after the other.
        self.due = time.monotonic() + delay_s()

    # --- control connection

    def reply(self, text):
        if self.silent:
            return
        wait_until(self.due)
        self.ctrl.sendall(text.encode("latin-1") + b"\r\n")

    def reply_bytes(self, data):
        if self.silent:
            return
        wait_until(self.due)
        self.ctrl.sendall(data + b"\r\n")

    def read_line(self):
        while b"\n" not in self.buf:
            chunk = self.ctrl.recv(4096)
            if not chunk:
                return None
            self.buf += chunk
        line, self.buf = self.buf.split(b"\n", 1)
        return line.rstrip(b"\r")

    def handle(self):
        log_command(b"CONNECT")
        try:
            if OPTS.silent_after == "CONNECT":
                self.silent = True
            self.reply("220 bad_ftpd ready")
            while True:
                line = self.read_line()
                if line is None:
                    return
                log_command(line)
                self.due = time.monotonic() + delay_s()
                verb, _, arg = line.partition(b" ")
                verb = verb.upper().decode("latin-1")
                if OPTS.silent_after and verb == OPTS.silent_after.upper():
                    self.silent = True
                if self.silent:
                    continue
                if verb == "QUIT":
                    self.reply("221 Goodbye.")
                    return
                handler = getattr(self, "cmd_" + verb, None)
                if handler is None:
                    self.reply("502 Command not implemented.")
                elif not self.logged_in and verb not in ("USER", "PASS"):
                    self.reply("530 Log in with USER and PASS.")
                else:
                    handler(arg)
        except (Hangup, ConnectionError, OSError):
            pass
        finally:
            self.close_pasv()

    # --- paths

    def real_path(self, name):
        """The file system path of a name relative to the current directory, or None when it
        leaves the root."""
        joined = posixpath.normpath(posixpath.join(self.cwd, name)) if name else self.cwd
        if not joined.startswith(b"/"):
            return None
        joined = b"/" + joined.lstrip(b"/")
        return os.path.join(os.fsencode(OPTS.root), joined.lstrip(b"/")), joined

    # --- login and state

    def cmd_USER(self, arg):
        self.user = arg
        self.logged_in = False
        self.reply("331 Password required.")

    def cmd_PASS(self, arg):
        if self.user == OPTS.user.encode() and arg == OPTS.password.encode():
            self.logged_in = True
            self.reply("230 Logged in.")
        else:
            self.reply("530 Login incorrect.")

    def cmd_SYST(self, arg):
        self.reply("215 UNIX Type: L8")

    def cmd_NOOP(self, arg):
        self.reply("200 NOOP ok.")

    def cmd_PWD(self, arg):
        self.reply_bytes(b'257 "' + self.cwd.replace(b'"', b'""') + b'" is the current directory.')

    def cmd_CWD(self, arg):
        resolved = self.real_path(arg)
        if resolved and os.path.isdir(resolved[0]):
            self.cwd = resolved[1]
            self.reply("250 Directory changed.")
        else:
            self.reply("550 No such directory.")

    def cmd_CDUP(self, arg):
        self.cmd_CWD(b"..")

    def cmd_TYPE(self, arg):
        if arg.upper() in (b"A", b"I", b"L 8", b"A N"):
            self.reply("200 Type set.")
        else:
            self.reply("504 Type not supported.")

    def cmd_MKD(self, arg):
        resolved = self.real_path(arg)
        try:
            os.mkdir(resolved[0])
            self.reply("257 Created.")
        except (OSError, TypeError):
            self.reply("550 Cannot create.")

    def cmd_DELE(self, arg):
        resolved = self.real_path(arg)
        try:
            os.unlink(resolved[0])
            self.reply("250 Deleted.")
        except (OSError, TypeError):
            self.reply("550 Cannot delete.")

    def cmd_SIZE(self, arg):
        resolved = self.real_path(arg)
        if resolved and os.path.isfile(resolved[0]):
            self.reply("213 %d" % os.path.getsize(resolved[0]))
        else:
            self.reply("550 No such file.")

    # --- data connections

    def close_pasv(self):
        if self.pasv is not None:
            self.pasv.close()
            self.pasv = None

    def cmd_EPSV(self, arg):
        self.reply("500 EPSV not understood.")

    def cmd_PORT(self, arg):
        self.reply("500 Passive mode only.")

    def cmd_PASV(self, arg):
        if OPTS.refuse_pasv:
            self.reply("425 Cannot open passive connection.")
            return
        self.close_pasv()
        self.pasv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.pasv.bind(("127.0.0.1", 0))
        self.pasv.listen(1)
        port = self.pasv.getsockname()[1]
        address = (OPTS.pasv_address or "127.0.0.1").replace(".", ",")
        self.reply("227 Entering Passive Mode (%s,%d,%d)." % (address, port >> 8, port & 255))

    def take_data(self):
        """The client's data connection, or None (after a 425 reply)."""
        if self.pasv is None:
            self.reply("425 Use PASV first.")
            return None
        self.pasv.settimeout(10)
        try:
            conn, _ = self.pasv.accept()
        except OSError:
            self.reply("425 Data connection failed.")
            return None
        finally:
            self.close_pasv()
        # The connection is usable one round trip after it was opened, and a client that
        # waited for that sends its command and hears the answer one round trip later.
        taken_up = time.monotonic() + delay_s()
        wait_until(taken_up)
        self.due = max(self.due, taken_up + delay_s())
        return conn

    def listing(self, path, names_only):
        lines = []
        entries = sorted(os.listdir(path))
        if OPTS.list_dots:
            entries = [b".", b".."] + entries
        entries += [os.fsencode(n) for n in OPTS.extra_name]
        for name in entries:
            if names_only:
                lines.append(name)
                continue
            full = os.path.join(path, name)
            try:
                st = os.lstat(full)
                kind = "d" if stat.S_ISDIR(st.st_mode) else "-"
                size = st.st_size
            except OSError:
                kind, size = "-", len(b"HOSTILE\r\n")
            head = "%srw-r--r--    1 owner    group    %8d Jan 02 12:34 " % (kind, size)
            lines.append(head.encode() + name)
        if not names_only:
            lines.insert(0, b"total %d" % len(lines))
        return b"".join(line + b"\r\n" for line in lines)

    def send_listing(self, arg, names_only):
        resolved = self.real_path(b"")
        conn = self.take_data()
        if conn is None:
            return
        self.reply("150 Here comes the directory listing.")
        try:
            conn.sendall(self.listing(resolved[0], names_only))
        finally:
            conn.close()
        self.reply("226 Directory send OK.")

    def cmd_LIST(self, arg):
        self.send_listing(arg, False)

    def cmd_NLST(self, arg):
        self.send_listing(arg, True)

    def cmd_RETR(self, arg):
        if arg in [os.fsencode(n) for n in OPTS.extra_name]:
            data = b"HOSTILE\r\n"
        else:
            resolved = self.real_path(arg)
            if not resolved or not os.path.isfile(resolved[0]):
                self.close_pasv()
                self.reply("550 Failed to open file.")
                return
            with open(resolved[0], "rb") as f:
                data = f.read()
        conn = self.take_data()
        if conn is None:
            return
        # Like vsftpd, name the size: a client can tell a short transfer by it.
        self.reply("150 Opening BINARY mode data connection (%d bytes)." % len(data))
        if OPTS.break_retr is None or len(data) <= OPTS.break_retr:
            try:
                conn.sendall(data)
            finally:
                conn.close()
            self.reply("226 Transfer complete.")
            return
        conn.sendall(data[: OPTS.break_retr])
        how = OPTS.break_how
        if how == "lie":
            conn.close()
            self.reply("226 Transfer complete.")
        elif how == "stall":
            # Keep the data connection open and silent until the client gives up.
            conn.settimeout(60)
            try:
                conn.recv(1)
            except OSError:
                pass
            conn.close()
            self.reply("426 Transfer aborted.")
        else:
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            conn.close()
            if how == "hangup":
                self.ctrl.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                raise Hangup()
            self.reply("426 Connection closed; transfer aborted.")

    def cmd_STOR(self, arg):
        resolved = self.real_path(arg)
        if OPTS.refuse_stor or not resolved:
            self.close_pasv()
            self.reply("553 Could not create file.")
            return
        conn = self.take_data()
        if conn is None:
            return
        self.reply("150 Ok to send data.")
        chunks = []
        try:
            while True:
                chunk = conn.recv(65536)
                if not chunk:
                    break
                chunks.append(chunk)
        finally:
            conn.close()
        with open(resolved[0], "wb") as f:
            f.write(b"".join(chunks))
        # The closing reply answers the end of the data, which has just arrived.
        self.due = time.monotonic() + delay_s()
        if OPTS.stor_reply == "none":
            self.silent = True
        elif OPTS.stor_reply:
            self.reply(OPTS.stor_reply)
        else:
            self.reply("226 Transfer complete.")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    global OPTS
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--commands-file")
    parser.add_argument("--delay-ms", type=int, default=0)
    parser.add_argument("--extra-name", action="append", default=[])
    parser.add_argument("--list-dots", action="store_true")
    parser.add_argument("--break-retr", type=int)
    parser.add_argument("--break-how", choices=["reply", "hangup", "stall", "lie"],
                        default="reply")
    parser.add_argument("--refuse-pasv", action="store_true")
    parser.add_argument("--silent-after")
    parser.add_argument("--refuse-stor", action="store_true")
    parser.add_argument("--stor-reply")
    parser.add_argument("--pasv-address")
    OPTS = parser.parse_args()
    OPTS.root = os.path.abspath(OPTS.root)

    server = Server(("127.0.0.1", OPTS.port), Session)

    def stop(_signum, _frame):
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, stop)

    port = server.server_address[1]
    tmp = OPTS.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d\n" % port)
    os.replace(tmp, OPTS.port_file)
    try:
        server.serve_forever(poll_interval=0.2)
    except SystemExit:
        pass
    server.server_close()
    sys.exit(0)


if __name__ == "__main__":
    main()
