"""Scriptable hostile and stalled peers for the end-to-end tests, on
127.0.0.1 only. Each peer serves one connection in a thread of its own:

  TelnetFlood   a telnet server that sends DO and SB requests without end
                and never reads what comes back.
  Relay         a transparent relay to a real server (Debian's sshd) that a
                test turns hostile at a moment of its choosing: stop reading
                from the client (stall), send garbage to the client, cut a
                packet of the server's in the middle and close, or go silent
                both ways without closing (half-open).
  HalfOpen      accepts and then neither sends, reads nor closes.
  Banner        a server that sends 100 KB of lines full of escape sequences
                before its identification, then relays to the real server.

Every listening socket gets a small receive buffer before listen() (the
accepted socket inherits it), so a peer that stops reading makes the
client's send buffer fill within a few hundred KB instead of megabytes.

Use:  with Relay(port_of_sshd) as peer: ... peer.port ... peer.stall()
"""

import os
import socket
import threading
import time

SMALL_BUFFER = 4096


def listener():
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, SMALL_BUFFER)
    s.bind(("127.0.0.1", 0))
    s.listen(1)
    s.settimeout(120)
    return s


class Peer:
    """One connection served by run(conn) on a daemon thread."""

    def __init__(self):
        self.sock = listener()
        self.port = self.sock.getsockname()[1]
        self.done = threading.Event()
        self.conns = []
        self.thread = threading.Thread(target=self._serve, daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        self.done.set()
        for c in self.conns + [self.sock]:
            try:
                c.close()
            except OSError:
                pass
        self.thread.join(10)

    def _serve(self):
        try:
            conn, _ = self.sock.accept()
        except OSError:
            return
        self.conns.append(conn)
        try:
            self.run(conn)
        except OSError:
            pass

    def run(self, conn):
        raise NotImplementedError


class TelnetFlood(Peer):
    """DO / SB requests forever; nothing is ever read."""

    # DO ECHO, DO TERMINAL-TYPE, SB TERMINAL-TYPE SEND SE, DO NAWS, WILL SGA:
    # each asks for an answer.
    REQUESTS = bytes([255, 253, 1, 255, 253, 24, 255, 250, 24, 1, 255, 240,
                      255, 253, 31, 255, 251, 3])

    def __init__(self):
        super().__init__()
        self.sent = 0

    def run(self, conn):
        conn.sendall(b"hostile telnet peer\r\n")
        block = self.REQUESTS * 512
        conn.setblocking(True)
        while not self.done.is_set():
            conn.sendall(block)
            self.sent += len(block)


class Relay(Peer):
    """A relay to 127.0.0.1:target that a test may turn hostile."""

    def __init__(self, target):
        super().__init__()
        self.target = target
        self.mode = "relay"
        self.lock = threading.Lock()
        self.from_client = 0  # bytes relayed from the client

    def set_mode(self, mode):
        with self.lock:
            self.mode = mode

    def stall(self):
        """Stops reading from the client for good; the server's output still
        reaches the client."""
        self.set_mode("stall")

    def garbage(self):
        """Random bytes to the client in place of the server's packets."""
        self.set_mode("garbage")

    def cut(self):
        """The next block from the server is cut in the middle and the
        connection closed."""
        self.set_mode("cut")

    def silent(self):
        """Neither reads nor sends any more, and never closes."""
        self.set_mode("silent")

    def current(self):
        with self.lock:
            return self.mode

    def run(self, conn):
        server = socket.create_connection(("127.0.0.1", self.target), timeout=30)
        self.conns.append(server)
        self.before(conn)
        up = threading.Thread(target=self._up, args=(conn, server), daemon=True)
        up.start()
        self._down(server, conn)

    def before(self, conn):
        """What the peer sends before relaying."""

    def _up(self, client, server):
        try:
            self._relay_up(client, server)
        except OSError:
            pass  # the other direction closed the sockets

    def _relay_up(self, client, server):
        client.settimeout(0.1)
        while not self.done.is_set():
            if self.current() in ("stall", "silent"):
                time.sleep(0.05)
                continue
            try:
                data = client.recv(65536)
            except socket.timeout:
                continue
            if not data:
                return
            self.from_client += len(data)
            if self.current() in ("relay", "cut"):
                server.sendall(data)

    def _down(self, server, client):
        server.settimeout(0.1)
        while not self.done.is_set():
            mode = self.current()
            if mode == "silent":
                time.sleep(0.05)
                continue
            if mode == "garbage":
                client.sendall(os.urandom(4096))
                time.sleep(0.01)
                continue
            try:
                data = server.recv(65536)
            except socket.timeout:
                continue
            if not data:
                client.shutdown(socket.SHUT_RDWR)
                return
            # The mode as it is now: a cut asked for while recv waited
            # applies to this block, else the block that answers the
            # command typed after the cut would pass whole.
            if self.current() == "cut":
                client.sendall(data[:max(1, len(data) // 2)])
                client.shutdown(socket.SHUT_RDWR)
                client.close()
                return
            client.sendall(data)


class Banner(Relay):
    """100 KB of lines with escape sequences before the identification
    (RFC 4253 section 4.2 lets a server send other lines first)."""

    LINE = b"\x1b[2J\x1b[31mWELCOME\x1b]0;owned\x07\x1b[?1049l\x9b6n" + b"#" * 40 + b"\r\n"

    def before(self, conn):
        total = 0
        while total < 100 * 1024:
            conn.sendall(self.LINE)
            total += len(self.LINE)


class HalfOpen(Peer):
    """Accepts, sends nothing, reads nothing, never closes."""

    def run(self, conn):
        self.done.wait()
