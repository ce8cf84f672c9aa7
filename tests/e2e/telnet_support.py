"""Shared pieces of the end-to-end tests that log in to the telnet peer
(tests/peers: inetutils-telnetd on 127.0.0.1, the test account, its files)."""

import os
import shutil
import socket
import sys
import threading

import harness

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "peers"))
import env  # noqa: E402  (tests/peers/env.py)

PEERS = env.settings()
TERMCAP = os.path.join(HERE, "..", "..", "etc", "termcap")
BANNER_END = "Press ESC to exit or ALT+A to begin a session."
PROMPT = PEERS.TEST_PROMPT.rstrip()


def config(extra="", port=None):
    """A configuration whose host "peer" is the telnet peer."""
    return ("TERM=cons25r\nMAX_SCROLL_SIZE=1000\n"
            "INCOMING_RECODE_TABLE=koi8r_alt\nOUTGOING_RECODE_TABLE=alt_koi8r\n"
            "DEFINE_HOST peer {\n    ADDRESS=telnet:127.0.0.1:%d\n}\n"
            % (port or PEERS.TELNET_PORT)) + extra


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class PeerSession:
    """Quenlor in a tmux pane, in a directory of its own with the
    configuration and the terminal descriptions."""

    def __init__(self, cfg, *args, width=80, height=25):
        self.dir = harness.temp_dir()
        with open(TERMCAP) as f:
            termcap = f.read()
        self.program = harness.quenlor_in(self.dir, cfg, {"termcap": termcap})
        self.term = harness.Terminal(width, height)
        self.args = args

    def __enter__(self):
        self.term.start()
        self.term.run(self.program, *self.args)
        return self

    def __exit__(self, *exc):
        self.term.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def login(self, timeout=15):
        """Logs in at the login prompt shown now; returns when the shell
        prompt is there."""
        t = self.term
        t.wait_for(lambda: t.screen().rstrip().endswith("login:"), "the login prompt", timeout)
        t.send_text(PEERS.TEST_USER)
        t.send_keys("Enter")
        t.wait_for(lambda: t.screen().rstrip().endswith("Password:"), "the password prompt",
                   timeout)
        t.send_text(PEERS.TEST_PASSWORD)
        t.send_keys("Enter")
        self.wait_prompt(timeout)

    def wait_prompt(self, timeout=10):
        t = self.term
        t.wait_for(lambda: t.screen().rstrip().endswith(PROMPT), "the shell prompt", timeout)

    def command(self, text, expect=None, timeout=10):
        """Types a command and ENTER; waits for `expect` on the screen."""
        self.term.send_text(text)
        self.term.send_keys("Enter")
        if expect is not None:
            self.term.wait_for_text(expect, timeout)

    def find_row(self, text):
        """The first screen row that is exactly `text`, or None."""
        for i, line in enumerate(self.term.lines()):
            if line.rstrip() == text:
                return i
        return None

    def row_of(self, text):
        row = self.find_row(text)
        if row is None:
            raise AssertionError("no row %r on the screen:\n%s" % (text, self.term.screen()))
        return row


class RecordingProxy:
    """Relays one connection from 127.0.0.1:port to the telnet peer and
    keeps every byte the server sent."""

    def __init__(self, target_port):
        self.target = target_port
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.listener.settimeout(20)
        self.port = self.listener.getsockname()[1]
        self.from_server = bytearray()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        try:
            client, _ = self.listener.accept()
        except OSError:
            return
        server = socket.create_connection(("127.0.0.1", self.target), timeout=10)
        client.settimeout(60)
        server.settimeout(60)

        def pump(src, dst, record):
            try:
                while True:
                    data = src.recv(65536)
                    if not data:
                        break
                    if record is not None:
                        record.extend(data)
                    dst.sendall(data)
            except OSError:
                pass
            for s in (src, dst):
                try:
                    s.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

        up = threading.Thread(target=pump, args=(client, server, None), daemon=True)
        up.start()
        pump(server, client, self.from_server)
        up.join(10)
        client.close()
        server.close()

    def close(self, timeout=20):
        self.thread.join(timeout)
        self.listener.close()
        return bytes(self.from_server)


def strip_telnet(data):
    """The data bytes of a telnet stream: IAC IAC is one 255, every other
    command and every sub-negotiation is left out (RFC 854/855)."""
    out = bytearray()
    i = 0
    n = len(data)
    while i < n:
        b = data[i]
        if b != 255:
            out.append(b)
            i += 1
            continue
        if i + 1 >= n:
            break
        c = data[i + 1]
        if c == 255:
            out.append(255)
            i += 2
        elif c in (251, 252, 253, 254):  # WILL WONT DO DONT option
            i += 3
        elif c == 250:  # SB ... IAC SE
            j = i + 2
            while j + 1 < n and not (data[j] == 255 and data[j + 1] == 240):
                j += 2 if data[j] == 255 else 1
            i = j + 2
        else:
            i += 2
    return bytes(out)
