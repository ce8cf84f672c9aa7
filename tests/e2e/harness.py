"""Drives build/quenlor in a plain bash of a detached tmux server of its own
(Terminal), so that a test also sees what the shell gets back afterwards:
exit status, terminal modes, title. Every wait is bounded; a time-out raises
AssertionError with the screen."""

import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import uuid

TMUX = shutil.which("tmux") or "/usr/bin/tmux"
DEFAULT_TIMEOUT = 10.0
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
DATA = os.path.join(ROOT, "tests", "data", "e2e")
sys.path.insert(0, os.path.join(ROOT, "tests", "peers"))
import env  # noqa: E402  (tests/peers/env.py)

PEERS = env.settings()
BANNER_END = "Press ESC to exit or ALT+A to begin a session."
CLOSE_QUESTION = "Are you sure you want to close the connection? Y/N"
REPORT_END = "Press Enter to close..."
PROMPT = PEERS.TEST_PROMPT.rstrip()
LOGIN_TIMEOUT = 30
SANE_MODES = ["echo", "icanon", "icrnl", "isig", "opost"]


def quenlor_binary():
    """The program under test: $QUENLOR_BINARY, else build/quenlor."""
    path = os.path.abspath(os.environ.get("QUENLOR_BINARY") or
                           os.path.join(ROOT, "build", "quenlor"))
    if not os.access(path, os.X_OK):
        raise FileNotFoundError("quenlor binary not found: " + path)
    return path


def quenlor_in(directory, config=None, files=None):
    """The program copied into `directory`, where it reads quenlor.cfg
    (`config`) and the other `files` (name: content)."""
    os.makedirs(directory, exist_ok=True)
    shutil.copy2(quenlor_binary(), os.path.join(directory, "quenlor"))
    for name, content in dict(files or {}, **{"quenlor.cfg": config}).items():
        if content is not None:
            with open(os.path.join(directory, name), "w") as f:
                f.write(content)
    return os.path.join(directory, "quenlor")


def closed_port():  # taken, then let go: nothing listens there
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def serve(port, log, *args):
    """Starts a server process of a test (output into `log`); returns it
    once it listens on 127.0.0.1:port."""
    with open(log, "wb") as f:
        server = subprocess.Popen(args, stdout=f, stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 20
    while ":%d " % port not in subprocess.run(["ss", "-Hltn"], capture_output=True,
                                              text=True).stdout:
        assert time.monotonic() < deadline, "nothing listens on port %d" % port
        time.sleep(0.05)
    return server


def expand(text, **extra):
    """`text` with every {NAME} replaced by the peers' setting NAME (or `extra`'s)."""
    values = dict(vars(PEERS), **extra)
    return re.sub(r"\{([A-Z0-9_]+)\}", lambda m: str(values[m.group(1)]), text)


def table(name, **extra):
    """The blocks (between blank lines) of rows of fields ("|") of NAME."""
    blocks = [[]]
    with open(os.path.join(DATA, name)) as f:
        for line in f:
            if not line.strip():
                blocks.append([])
            elif not line.startswith("#"):
                blocks[-1].append([expand(x.strip(), **extra) for x in line.split("|")])
    return [b for b in blocks if b]


class Terminal:
    def __init__(self, width=80, height=25, title="e2e-shell"):
        self.width, self.height = width, height
        self.socket = "quenlor-e2e-" + uuid.uuid4().hex[:12]
        self.initial_title = title
        self.bell_file = os.path.join(tempfile.gettempdir(), self.socket + ".bells")
        self._started = False

    def tmux(self, *args, check=True):
        result = subprocess.run([TMUX, "-L", self.socket, "-f", "/dev/null", *args],
                                capture_output=True, text=True, timeout=DEFAULT_TIMEOUT)
        if check and result.returncode != 0:
            raise RuntimeError("tmux %s failed: %s" % (args[0], result.stderr.strip()))
        return result.stdout

    def start(self):
        self.tmux("new-session", "-d", "-s", "main", "-x", str(self.width), "-y",
                  str(self.height), "env -i PATH=/usr/bin:/bin TERM=screen HOME=/tmp PS1='$ ' "
                  "bash --norc --noprofile")
        for option in (("status", "off"), ("bell-action", "any"), ("monitor-bell", "on")):
            self.tmux("set-option", "-g", *option)
        # Every bell adds a line to a file of this terminal: bells() counts them.
        self.tmux("set-hook", "-g", "alert-bell", "run-shell 'echo >> %s'" % self.bell_file)
        self._started = True
        self.wait_for_text("$")
        # A known title to come back to after the program ends.
        self.shell("printf '\\033]2;%s\\007'" % self.initial_title)
        self.wait_title(self.initial_title)
        self.clear()

    def stop(self):
        if self._started:
            self.tmux("kill-server", check=False)
            self._started = False
        if os.path.exists(self.bell_file):
            os.remove(self.bell_file)

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

    def run(self, program, *args):
        """Starts the program; the shell prints its exit status (wait_exit)."""
        quoted = " ".join("'" + a.replace("'", "'\\''") + "'" for a in (program,) + args)
        self.shell(quoted + "; echo __rc=$?")

    def resize(self, width, height):
        self.tmux("resize-window", "-t", "main", "-x", str(width), "-y", str(height))
        self.width, self.height = width, height

    def screen(self):
        return self.tmux("capture-pane", "-p", "-t", "main")

    def lines(self):
        return self.screen().split("\n")[: self.height]

    def title(self):
        return self.tmux("display-message", "-p", "-t", "main", "#{pane_title}").rstrip("\n")

    def bells(self):
        return os.path.getsize(self.bell_file) if os.path.exists(self.bell_file) else 0

    def expect_bell(self, *keys):
        """Sends `keys` and waits for the bell they ring."""
        before = self.bells()
        self.send_keys(*keys)
        self.wait_for(lambda: self.bells() > before, "a bell after %s" % (keys,))

    def program_pid(self):
        """The pid of the program started with run() (the shell's child)."""
        shell_pid = self.tmux("display-message", "-p", "-t", "main", "#{pane_pid}").strip()
        out = subprocess.run(["ps", "--ppid", shell_pid, "-o", "pid="], capture_output=True,
                             text=True, timeout=DEFAULT_TIMEOUT).stdout.split()
        return int(out[0]) if out else None

    def wait_for(self, predicate, what, timeout=DEFAULT_TIMEOUT):
        deadline = time.monotonic() + timeout
        while not (value := predicate()):
            if time.monotonic() > deadline:
                raise AssertionError("no %s in time; screen:\n%s" % (what, self.screen()))
            time.sleep(0.05)
        return value

    def wait_for_text(self, text, timeout=DEFAULT_TIMEOUT):
        return self.wait_for(lambda: text in self.screen(), repr(text), timeout)

    def wait_gone(self, text, timeout=DEFAULT_TIMEOUT):
        return self.wait_for(lambda: text not in self.screen(), "%r to disappear" % text, timeout)

    def wait_title(self, title, timeout=DEFAULT_TIMEOUT):
        self.wait_for(lambda: self.title() == title, "the title %r" % title, timeout)

    def wait_exit(self, timeout=DEFAULT_TIMEOUT):
        """The exit status of the program started with run()."""
        found = self.wait_for(lambda: re.search(r"__rc=(\d+)", self.screen()), "exit", timeout)
        return int(found.group(1))

    def wait_prompt(self, timeout=LOGIN_TIMEOUT, rows=None):
        """The shell prompt ends the screen (or its first `rows` rows)."""
        self.wait_for(lambda: "\n".join(self.lines()[:rows]).rstrip().endswith(PROMPT),
                      "the shell prompt", timeout)

    def login(self, timeout=15):
        """Logs in at the telnet login prompt shown now, up to the shell."""
        for prompt, answer in (("login:", PEERS.TEST_USER), ("Password:", PEERS.TEST_PASSWORD)):
            self.wait_for(lambda: self.screen().rstrip().endswith(prompt), repr(prompt), timeout)
            self.shell(answer)
        self.wait_prompt(timeout)

    def show(self, index, name=""):
        """ALT+F<index>; waits until that session is shown."""
        self.send_keys("M-F%s" % index)
        want = "Quenlor - (%s): %s" % (index, name)
        self.wait_for(lambda: self.title().startswith(want), want)

    def terminal_modes(self):
        """SANE_MODES as the shell's terminal has them ("-" before those off)."""
        # The marker is split in the command so only the output matches.
        self.shell("echo __mo\"\"des $(stty -a | tr ';' '\\n' | grep -E -w -o -- "
                   "'-?(icanon|echo|isig|icrnl|opost)' | tr '\\n' ' ') __end")
        found = self.wait_for(lambda: re.search(r"__modes (.*) __end", self.screen()), "stty")
        return sorted(found.group(1).split(), key=lambda m: m.lstrip("-"))

    STEPS = {"type": lambda t, a: t.send_text(a), "keys": lambda t, a: t.send_keys(*a.split()),
             "cmd": lambda t, a: t.shell(a), "see": lambda t, a: t.wait_for_text(a),
             "gone": lambda t, a: t.wait_gone(a), "title": lambda t, a: t.wait_title(a),
             "bell": lambda t, a: t.expect_bell(*a.split()), "login": lambda t, a: t.login(),
             "prompt": lambda t, a: t.wait_prompt(rows=int(a) if a else None),
             "show": lambda t, a: t.show(*a.split()),
             "row": lambda t, a: t.wait_for(lambda: t.lines()[int(a.split(" ")[0])].rstrip() ==
                                            a.partition(" ")[2], "row " + a),
             "resize": lambda t, a: t.resize(*map(int, a.split())),
             "end": lambda t, a: t.wait_for(lambda: t.screen().rstrip().endswith(a), "end " + a)}

    def walk(self, name, part):
        """Runs the lines under "[part]" of tests/data/e2e/NAME: a verb of
        STEPS and its text (\\e is ESC, \\n a line end, {NAME} expanded)."""
        with open(os.path.join(DATA, name)) as f:
            lines = f.read().split("\n")
        number = lines.index("[%s]" % part) + 1
        while number < len(lines) and not lines[number].startswith("["):
            verb, _, text = lines[number].partition(" ")
            number += 1
            try:
                if verb and not verb.startswith("#"):
                    self.STEPS[verb](self, expand(text).replace("\\e", "\x1b").replace("\\n", "\n"))
            except AssertionError as e:
                raise AssertionError("%s:%d: %s" % (name, number, e)) from None


def host(name, address, *lines):
    """A host block; `lines` are its settings beside the address."""
    return "DEFINE_HOST %s {\n%s}\n" % (
        name, "".join("    %s\n" % line for line in ("ADDRESS=" + address,) + lines if line))


# SSH sessions trust their server on first sight, recording it in a
# known-hosts file of the program's own folder.
TRUST_NEW = "HOST_KEY_CHECK=accept-new\nKNOWN_HOSTS=known_hosts\n"
LOGIN = ("USER=" + PEERS.TEST_USER, "SSH_AUTH=pwd:" + PEERS.TEST_PASSWORD)


def config(extra="", port=None):
    """A configuration whose host "peer" is the telnet peer; `extra` follows."""
    return ("TERM=cons25r\nMAX_SCROLL_SIZE=1000\n" + TRUST_NEW +
            host("peer", "telnet:127.0.0.1:%d" % (port or PEERS.TELNET_PORT)) + extra)


class PeerSession:
    """Quenlor in a Terminal, in a folder of its own with the configuration
    and etc/termcap; `env` is exported in the shell before it starts."""

    def __init__(self, cfg, *args, width=80, height=25, env=None):
        self.dir = tempfile.mkdtemp(prefix="quenlor-e2e-")
        with open(os.path.join(ROOT, "etc", "termcap")) as f:
            self.program = quenlor_in(self.dir, cfg, {"termcap": f.read()})
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

    def __getattr__(self, name):  # login, wait_prompt ...: those of its Terminal
        return getattr(self.term, name)

    def command(self, text, expect=None, timeout=10):
        """Types a command and ENTER; waits for `expect` on the screen."""
        self.term.shell(text)
        if expect is not None:
            self.term.wait_for_text(expect, timeout)

    def find(self, name):
        """ALT+N until host `name` is shown (closing renumbers sessions)."""
        t = self.term
        for _ in range(13):
            title = t.title()
            if title.endswith("): " + name):
                return
            t.send_keys("M-n")
            t.wait_for(lambda: t.title() != title, "the next session")
        raise AssertionError("no session of " + name)

    def answer(self, steps, expect, timeout=LOGIN_TIMEOUT):
        """Answers the shown session's prompts ("text => answer" or a text
        only waited for, ";" between; "ESC" is the key); it ends in a shell
        (`expect` "shell": True) or a report showing `expect`. No secret shows."""
        t = self.term
        asked = None  # the screen an answer was given to: not yet the end
        for step in filter(None, steps.split(";")):
            text, answer = (step.split(" => ") + [None])[:2]
            t.wait_for_text(text, timeout)
            if answer is not None:
                asked = t.screen()
            if answer == "ESC":
                t.send_keys("Escape")
            elif answer is not None:
                t.shell(answer)
        ends = (PROMPT, REPORT_END, "(yes/no)?")

        def ended():
            screen = t.screen()
            return None if screen == asked else next(
                (e for e in ends if screen.rstrip().endswith(e)), None)

        end = t.wait_for(ended, "the end of the login", timeout)
        assert end == (PROMPT if expect == "shell" else REPORT_END), t.screen()
        assert PEERS.TEST_PASSWORD not in t.screen(), t.screen()
        assert PEERS.USER_KEY_PASSPHRASE not in t.screen(), t.screen()
        if expect != "shell":
            self.fails_with(*expect.split(";"))
            return False
        tag = uuid.uuid4().hex[:6]
        self.command("echo %s-$((40+2))" % tag, "%s-42" % tag)
        t.wait_prompt()
        return True

    def exit_shell(self, name):
        """`exit` in the shell of host `name` ends its session."""
        self.find(name)
        title = self.term.title()
        self.command("exit")
        self.term.wait_for(lambda: self.term.title() != title, "the end", LOGIN_TIMEOUT)

    def fails_with(self, *texts):
        """The session reports its end with all `texts`; ENTER closes it."""
        t = self.term
        t.wait_for_text(REPORT_END, LOGIN_TIMEOUT)
        screen, title = t.screen(), t.title()
        for text in texts:
            assert text in screen, "no %r on the screen:\n%s" % (text, screen)
        t.send_keys("Enter")
        t.wait_for(lambda: t.title() != title, "the session closed")

    def finish(self):
        """ESC at the banner ends the program: status 0, modes restored."""
        t = self.term
        t.wait_for_text(BANNER_END, LOGIN_TIMEOUT)
        t.send_keys("Escape")
        assert t.wait_exit() == 0, t.screen()
        assert t.terminal_modes() == SANE_MODES, t.screen()
