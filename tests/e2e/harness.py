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
import subprocess
import tempfile
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
