#!/usr/bin/python3
"""An FTP proxy on loopback that makes a network round trip out of nothing.

The kernel here has no netem, so the round trip is simulated in user space: every byte takes
half a round trip from one side to the other, in both directions, on the control connection
and on every data connection; and a new connection reaches the server one and a half round
trips after the client opened it, which is when its handshake would be done and the client's
first bytes would be there. Passive replies (227, and 229 for clients that ask for EPSV) are
rewritten to a port of the proxy, so the data connections pass through it too.

Because the delay is per byte and not per command, a client that sends several commands
without waiting gets them there together, as over a real line.

Usage: delay_proxy.py --upstream-port N --rtt-ms 50 --port-file FILE [--log FILE]

The log has one line per client command and per server reply, stamped with the time the
client sent or received it, and one per data connection; the benchmark reads it to count
round trips and to find where a client waits.
"""

import argparse
import asyncio
import os
import re
import signal
import time

UPSTREAM_HOST = "127.0.0.1"
PASV_RE = re.compile(rb"^227 .*?(\d+),(\d+),(\d+),(\d+),(\d+),(\d+)")
EPSV_RE = re.compile(rb"^229 .*?\(\|\|\|(\d+)\|\)")


class Log:
    def __init__(self, path):
        self.file = open(path, "a", buffering=1, encoding="latin-1") if path else None
        self.start = time.monotonic()

    def write(self, conn, marker, text):
        if self.file:
            self.file.write("%.4f %s %s %s\n" % (time.monotonic() - self.start, conn, marker, text))


class Proxy:
    def __init__(self, upstream_port, rtt, log):
        self.upstream_port = upstream_port
        self.one_way = rtt / 2
        self.take_up = rtt * 1.5
        self.log = log
        self.controls = 0
        self.datas = 0

    async def link(self, reader, writer_future, transform=None, on_line=None):
        """Carries one direction of a connection, each chunk half a round trip late.

        `transform` sees whole lines (control connection) and may rewrite them; `on_line`
        is told when each line is delivered."""
        loop = asyncio.get_running_loop()
        queue = asyncio.Queue()

        async def read_side():
            pending = b""
            while True:
                try:
                    data = await reader.read(65536)
                except (ConnectionError, OSError):
                    data = b""
                due = loop.time() + self.one_way
                if transform is None:
                    queue.put_nowait((due, data))
                    if not data:
                        return
                    continue
                if not data:
                    if pending:
                        queue.put_nowait((due, await transform(pending)))
                    queue.put_nowait((due, b""))
                    return
                pending += data
                *lines, pending = pending.split(b"\n")
                for line in lines:
                    queue.put_nowait((due, await transform(line + b"\n")))

        async def write_side():
            writer = await writer_future
            try:
                while True:
                    due, data = await queue.get()
                    wait = due - loop.time()
                    if wait > 0:
                        await asyncio.sleep(wait)
                    if not data:
                        if writer.can_write_eof():
                            writer.write_eof()
                        return
                    writer.write(data)
                    if on_line:
                        on_line(data)
                    await writer.drain()
            except (ConnectionError, OSError):
                pass

        await asyncio.gather(read_side(), write_side())

    async def pipe_pair(self, client_reader, client_writer, port, name, control):
        loop = asyncio.get_running_loop()
        opened = loop.time()
        to_server = loop.create_future()
        to_client = loop.create_future()
        to_client.set_result(client_writer)

        command = rewrite = reply = None
        if control:
            async def command(line):
                # Stamped when the client sent it; the password stays out of the log.
                text = line.rstrip(b"\r\n").decode("latin-1")
                self.log.write(name, ">", "PASS ****" if text.upper().startswith("PASS ") else text)
                return line

            async def rewrite(line):
                return await self.rewrite_passive(line, name)

            def reply(line):
                # Stamped when the client receives it.
                self.log.write(name, "<", line.rstrip(b"\r\n").decode("latin-1"))

        # The client's bytes are taken (and their half round trip starts) at once, even
        # though the server sees the connection only later.
        up = asyncio.ensure_future(self.link(client_reader, to_server, transform=command))
        server_writer = None
        try:
            wait = opened + self.take_up - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            try:
                server_reader, server_writer = await asyncio.open_connection(UPSTREAM_HOST, port)
            except OSError as e:
                self.log.write(name, "!", "server refused the connection: %s" % e)
                up.cancel()
                return
            to_server.set_result(server_writer)
            down = self.link(server_reader, to_client, transform=rewrite, on_line=reply)
            await asyncio.gather(up, down)
        finally:
            for writer in (client_writer, server_writer):
                if writer is not None:
                    writer.close()

    async def rewrite_passive(self, line, name):
        m = PASV_RE.match(line)
        if m:
            port = int(m.group(5)) * 256 + int(m.group(6))
            mine = await self.data_listener(port, name)
            return b"227 Entering Passive Mode (127,0,0,1,%d,%d).\r\n" % (mine // 256, mine % 256)
        m = EPSV_RE.match(line)
        if m:
            mine = await self.data_listener(int(m.group(1)), name)
            return b"229 Entering Extended Passive Mode (|||%d|)\r\n" % mine
        return line

    async def data_listener(self, server_port, control_name):
        """A port of the proxy for one data connection to the server's `server_port`."""
        self.datas += 1
        name = "%s.d%d" % (control_name, self.datas)
        done = asyncio.get_running_loop().create_future()

        async def accepted(reader, writer):
            listener.close()
            if done.done():
                writer.close()
                return
            done.set_result(None)
            self.log.write(name, "+", "data connection opened")
            await self.pipe_pair(reader, writer, server_port, name, control=False)
            self.log.write(name, "-", "data connection closed")

        listener = await asyncio.start_server(accepted, "127.0.0.1", 0)
        port = listener.sockets[0].getsockname()[1]

        async def expire():
            # A passive port that nobody takes is given up, as servers do.
            await asyncio.sleep(60)
            listener.close()

        asyncio.ensure_future(expire())
        return port

    async def control(self, reader, writer):
        self.controls += 1
        name = "c%d" % self.controls
        self.log.write(name, "+", "control connection opened")
        await self.pipe_pair(reader, writer, self.upstream_port, name, control=True)
        self.log.write(name, "-", "control connection closed")


async def serve(args):
    proxy = Proxy(args.upstream_port, args.rtt_ms / 1000.0, Log(args.log))
    server = await asyncio.start_server(proxy.control, "127.0.0.1", args.port)
    port = server.sockets[0].getsockname()[1]
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d\n" % port)
    os.replace(tmp, args.port_file)

    stopped = asyncio.get_running_loop().create_future()
    for sig in (signal.SIGTERM, signal.SIGINT):
        asyncio.get_running_loop().add_signal_handler(sig, stopped.set_result, None)
    await stopped
    server.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--upstream-port", type=int, required=True)
    parser.add_argument("--rtt-ms", type=float, required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--log")
    asyncio.run(serve(parser.parse_args()))


if __name__ == "__main__":
    main()
