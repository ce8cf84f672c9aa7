"""Drives build/quenlor inside a detached tmux session, for end-to-end tests.

Each Terminal has its own tmux server (-L socket), a fixed size (80x25 by
default) and a plain bash in the pane. The program runs in that shell, so a
test can check what the shell gets back afterwards: the exit status, the
terminal modes (stty) and the title.

    with Terminal() as term:
        term.run(quenlor_in(tmpdir), "-cfg=x.cfg")
        term.wait_for_text("Press ESC")
        term.send_keys("Escape")
        assert term.wait_exit() == 0

Every wait is bounded; a time-out raises AssertionError with the screen.
"""

import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import uuid

TMUX = shutil.which("tmux") or "/usr/bin/tmux"
DEFAULT_TIMEOUT = 10.0


def quenlor_binary():
    """The program under test: $QUENLOR_BINARY, else build/quenlor."""
    path = os.environ.get("QUENLOR_BINARY")
    if not path:
        here = os.path.dirname(os.path.abspath(__file__))
        path = os.path.join(here, "..", "..", "build", "quenlor")
    path = os.path.abspath(path)
    if not os.access(path, os.X_OK):
        raise FileNotFoundError("quenlor binary not found: " + path)
    return path


def quenlor_in(directory, config=None, extra_files=None):
    """Copies the program into `directory` (it reads its configuration from
    its own directory) and writes quenlor.cfg there when `config` is text.
    `extra_files` maps file names to contents. Returns the program's path."""
    os.makedirs(directory, exist_ok=True)
    target = os.path.join(directory, "quenlor")
    shutil.copy2(quenlor_binary(), target)
    if config is not None:
        with open(os.path.join(directory, "quenlor.cfg"), "w") as f:
            f.write(config)
    for name, content in (extra_files or {}).items():
        with open(os.path.join(directory, name), "w") as f:
            f.write(content)
    return target


class Terminal:
    def __init__(self, width=80, height=25, title="e2e-shell"):
        self.width = width
        self.height = height
        self.socket = "quenlor-e2e-" + uuid.uuid4().hex[:12]
        self.initial_title = title
        self._started = False

    # -- tmux plumbing -----------------------------------------------------
    def tmux(self, *args, check=True):
        result = subprocess.run([TMUX, "-L", self.socket, "-f", "/dev/null", *args],
                                capture_output=True, text=True, timeout=DEFAULT_TIMEOUT)
        if check and result.returncode != 0:
            raise RuntimeError("tmux %s failed: %s" % (args[0], result.stderr.strip()))
        return result.stdout

    def start(self):
        env_prompt = "PS1='$ ' "
        self.tmux("new-session", "-d", "-s", "main", "-x", str(self.width), "-y",
                  str(self.height), "env -i PATH=/usr/bin:/bin TERM=screen HOME=/tmp " +
                  env_prompt + "bash --norc --noprofile")
        self.tmux("set-option", "-g", "status", "off")
        self.tmux("set-option", "-g", "bell-action", "any")
        self.tmux("set-option", "-g", "monitor-bell", "on")
        self._started = True
        self.wait_for_text("$")
        # A known title to come back to after the program ends.
        self.shell("printf '\\033]2;%s\\007'" % self.initial_title)
        self.wait_for(lambda: self.title() == self.initial_title, "initial title")
        self.clear()

    def stop(self):
        if self._started:
            self.tmux("kill-server", check=False)
            self._started = False

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    # -- typing ------------------------------------------------------------
    def send_keys(self, *keys):
        """tmux key names: "Escape", "Enter", "M-a", "F1", "Up" ..."""
        self.tmux("send-keys", "-t", "main", *keys)

    def send_text(self, text):
        self.tmux("send-keys", "-t", "main", "-l", text)

    def shell(self, command):
        self.send_text(command)
        self.send_keys("Enter")

    def clear(self):
        self.shell("clear")
        self.wait_for(lambda: self.screen().strip() == "$", "a clear shell screen")

    def shell_clear_pane(self):
        """Wipes what the pane shows (tmux's clear-history does not touch the
        visible screen, so the pane is cleared through its own grid)."""
        self.tmux("send-keys", "-t", "main", "-R")

    def run(self, program, *args):
        """Starts the program in the shell; its exit status is printed after
        it ends (read it with wait_exit)."""
        quoted = " ".join("'" + a.replace("'", "'\\''") + "'" for a in (program,) + args)
        self.shell(quoted + "; echo __rc=$?")

    # -- reading -----------------------------------------------------------
    def screen(self):
        return self.tmux("capture-pane", "-p", "-t", "main")

    def lines(self):
        return self.screen().split("\n")[: self.height]

    def title(self):
        return self.tmux("display-message", "-p", "-t", "main", "#{pane_title}").rstrip("\n")

    def bell(self):
        """True once a bell has rung in the window since the server started."""
        return self.tmux("display-message", "-p", "-t", "main",
                         "#{window_bell_flag}").strip() == "1"

    def cursor(self):
        out = self.tmux("display-message", "-p", "-t", "main", "#{cursor_x} #{cursor_y}")
        x, y = out.split()
        return int(x), int(y)

    def program_pid(self):
        """The pid of the program started with run() (the shell's child)."""
        shell_pid = self.tmux("display-message", "-p", "-t", "main", "#{pane_pid}").strip()
        out = subprocess.run(["ps", "--ppid", shell_pid, "-o", "pid="], capture_output=True,
                             text=True, timeout=DEFAULT_TIMEOUT).stdout.split()
        return int(out[0]) if out else None

    def signal_program(self, signum=signal.SIGTERM):
        pid = self.wait_for(self.program_pid, "the program's process")
        os.kill(pid, signum)

    # -- waiting -----------------------------------------------------------
    def wait_for(self, predicate, what, timeout=DEFAULT_TIMEOUT):
        deadline = time.monotonic() + timeout
        while True:
            value = predicate()
            if value:
                return value
            if time.monotonic() > deadline:
                raise AssertionError("timed out waiting for %s; screen:\n%s" % (what, self.screen()))
            time.sleep(0.05)

    def wait_for_text(self, text, timeout=DEFAULT_TIMEOUT):
        return self.wait_for(lambda: text in self.screen(), repr(text), timeout)

    def wait_gone(self, text, timeout=DEFAULT_TIMEOUT):
        return self.wait_for(lambda: text not in self.screen(), "%r to disappear" % text, timeout)

    def wait_exit(self, timeout=DEFAULT_TIMEOUT):
        """The exit status of the program started with run()."""
        found = self.wait_for(lambda: re.search(r"__rc=(\d+)", self.screen()), "program exit",
                              timeout)
        return int(found.group(1))

    def terminal_modes(self):
        """Modes of the pane's terminal as the shell sees them after the
        program: a list such as ["icanon", "echo", "isig", "icrnl", "opost"]
        with "-" before the ones that are off."""
        # The marker is split in the command so only the output matches.
        self.shell("echo __mo\"\"des $(stty -a | tr ';' '\\n' | grep -E -w -o -- "
                   "'-?(icanon|echo|isig|icrnl|opost)' | tr '\\n' ' ') __end")
        found = self.wait_for(lambda: re.search(r"__modes (.*) __end", self.screen()),
                              "stty output")
        return found.group(1).split()


def temp_dir():
    return tempfile.mkdtemp(prefix="quenlor-e2e-")


# -- sessions against the servers of tests/peers ---------------------------
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "peers"))
import env  # noqa: E402  (tests/peers/env.py)

PEERS = env.settings()
TERMCAP = os.path.join(HERE, "..", "..", "etc", "termcap")
BANNER_END = "Press ESC to exit or ALT+A to begin a session."
PROMPT = PEERS.TEST_PROMPT.rstrip()
LOGIN_TIMEOUT = 30
# Each SSH session trusts its server on first sight, recording it in a
# known-hosts file of the test's own folder (the program runs there).
TRUST_NEW = "HOST_KEY_CHECK=accept-new\nKNOWN_HOSTS=known_hosts\n"
PASSWORD = "pwd:" + PEERS.TEST_PASSWORD


def config(extra="", port=None):
    """A configuration whose host "peer" is the telnet peer; `extra` follows."""
    return ("TERM=cons25r\nMAX_SCROLL_SIZE=1000\n"
            "INCOMING_RECODE_TABLE=koi8r_alt\nOUTGOING_RECODE_TABLE=alt_koi8r\n"
            "DEFINE_HOST peer {\n    ADDRESS=telnet:127.0.0.1:%d\n}\n"
            % (port or PEERS.TELNET_PORT)) + extra


def ssh_config(address, auth, user=True, extra="", top=TRUST_NEW):
    """A configuration whose host "peer" is the SSH server at `address`
    ("ssh2:127.0.0.1:2222"); `extra` goes into the host block, `top` before it."""
    return ("TERM=cons25r\nMAX_SCROLL_SIZE=1000\n" + top +
            "INCOMING_RECODE_TABLE=koi8r_alt\nOUTGOING_RECODE_TABLE=alt_koi8r\n"
            "DEFINE_HOST peer {\n    ADDRESS=%s\n%s    SSH_AUTH=%s\n%s}\n"
            % (address, ("    USER=%s\n" % PEERS.TEST_USER) if user else "", auth, extra))


def ssh2(port=None):
    return "ssh2:127.0.0.1:%d" % (port or PEERS.SSHD_PORT)


def ssh1(port=None):
    return "ssh:127.0.0.1:%d" % (port or PEERS.SSH1_PORT)


def closed_port():
    """A port on 127.0.0.1 that nothing listens on (taken, then let go)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class PeerSession:
    """Quenlor in a tmux pane, in a directory of its own with the
    configuration and the terminal descriptions; `env` is exported in the
    shell before the program starts."""

    def __init__(self, cfg, *args, width=80, height=25, env=None):
        self.dir = temp_dir()
        with open(TERMCAP) as f:
            termcap = f.read()
        self.program = quenlor_in(self.dir, cfg, {"termcap": termcap})
        self.term = Terminal(width, height)
        self.args = args
        self.env = env or {}

    def __enter__(self):
        self.term.start()
        if self.env:
            self.term.shell("export " + " ".join("%s='%s'" % kv for kv in self.env.items()))
            self.term.clear()
        self.term.run(self.program, *self.args)
        return self

    def __exit__(self, *exc):
        self.term.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def read(self, name, mode="rb"):
        with open(self.path(name), mode) as f:
            return f.read()

    def login(self, timeout=15):
        """Logs in at the telnet login prompt shown now; returns when the
        shell prompt is there."""
        t = self.term
        for prompt, answer in (("login:", PEERS.TEST_USER), ("Password:", PEERS.TEST_PASSWORD)):
            t.wait_for(lambda: t.screen().rstrip().endswith(prompt), repr(prompt), timeout)
            t.send_text(answer)
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

    def shell_and_exit(self, tag):
        """The shell runs a command and shows its output; `exit` ends the
        session and its screen, and the title goes back to the banner's."""
        t = self.term
        self.wait_prompt(LOGIN_TIMEOUT)
        self.command("echo %s-$((6*7))" % tag, "%s-42" % tag)
        self.wait_prompt()
        self.command("exit")
        t.wait_for_text(BANNER_END, LOGIN_TIMEOUT)
        t.wait_for(lambda: t.title() == "Quenlor", "the title Quenlor")

    def fails_with(self, *texts):
        """The session reports its end with every one of `texts`; ENTER
        closes it. Returns the screen of the report."""
        t = self.term
        t.wait_for_text("Press Enter to close...", LOGIN_TIMEOUT)
        screen = t.screen()
        for text in texts:
            assert text in screen, "no %r on the screen:\n%s" % (text, screen)
        t.send_keys("Enter")
        t.wait_for_text(BANNER_END)
        return screen

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
