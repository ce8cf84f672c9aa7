"""Keystroke latency: the time from a key handed to the tmux pane until its
echo has been drawn into the pane, for Quenlor and, in the same run against
the same sshd and algorithms, Debian's `ssh -tt`.

Both clients log in to the legacy SSH-2 sshd of tests/peers (group 1,
ssh-dss, 3des-cbc, hmac-sha1) and run `cat > /dev/null`, so every echo comes
from the remote terminal's line discipline. Keys are sent through a tmux
control-mode client, which also reports the pane's output as it arrives:
the time from writing `send-keys` to the first %output notification that
holds the key is the figure. Every 60 keys an ENTER (not timed) keeps the
line short.

Two loads: idle, and while another session prints continuously (for
Quenlor a second session in the same program, not shown; for ssh a second
`ssh -tt` process printing into /dev/null).

Start the peers first (bash tests/peers/start-all.sh).
Usage: latency_bench.py QUENLOR_BINARY [keys]
"""

import os
import select
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import harness  # noqa: E402
from harness import PEERS, PeerSession  # noqa: E402

KEYS = "abcdefghijklmnopqrstuvwxyz"
FLOOD = "while :; do seq 1 100000 || exit; done"
SSH_OPTIONS = ["-o", "KexAlgorithms=diffie-hellman-group1-sha1", "-o", "HostKeyAlgorithms=ssh-dss",
               "-c", "3des-cbc", "-m", "hmac-sha1", "-o", "StrictHostKeyChecking=no",
               "-o", "UserKnownHostsFile=/dev/null", "-o", "LogLevel=ERROR",
               "-o", "PubkeyAuthentication=no", "-p", str(PEERS.SSHD_PORT)]


def ssh_config():
    host = ("DEFINE_HOST %s {\n    ADDRESS=ssh2:127.0.0.1:%d\n    USER=%s\n"
            "    SSH_AUTH=pwd:%s\n}\n")
    return ("TERM=cons25r\nMAX_SCROLL_SIZE=1000\n"
            "HOST_KEY_CHECK=accept-new\nKNOWN_HOSTS=known_hosts\n" +
            host % ("peer", PEERS.SSHD_PORT, PEERS.TEST_USER, PEERS.TEST_PASSWORD) +
            host % ("flood", PEERS.SSHD_PORT, PEERS.TEST_USER, PEERS.TEST_PASSWORD))


class Control:
    """A tmux control-mode client of a harness Terminal."""

    def __init__(self, term):
        self.proc = subprocess.Popen([harness.TMUX, "-L", term.socket, "-C", "attach", "-t", "main"],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, bufsize=0)
        self.pending = b""

    def close(self):
        try:
            self.proc.stdin.write(b"detach\n")
        except OSError:
            pass
        self.proc.kill()
        self.proc.wait(5)

    def drain(self):
        while select.select([self.proc.stdout], [], [], 0)[0]:
            if not os.read(self.proc.stdout.fileno(), 65536):
                break
        self.pending = b""

    def command(self, text):
        self.proc.stdin.write(text.encode() + b"\n")

    def wait_output(self, key, timeout=10):
        """Waits for a %output notification whose data holds `key`."""
        deadline = time.monotonic() + timeout
        needle = key.encode()
        while True:
            while b"\n" in self.pending:
                line, self.pending = self.pending.split(b"\n", 1)
                if line.startswith(b"%output ") and needle in line.split(b" ", 2)[2]:
                    return
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("no echo of %r" % key)
            if select.select([self.proc.stdout], [], [], left)[0]:
                self.pending += os.read(self.proc.stdout.fileno(), 65536)


def measure(term, count):
    """Latencies in milliseconds of `count` keys typed into the pane."""
    control = Control(term)
    try:
        # Not timed: the first keys after attaching the control client may
        # be drawn (the pane shows them) before tmux reports the pane's output
        # to the new client; a few are tried until one is reported.
        for attempt in range(5):
            control.drain()
            control.command("send-keys -t main -l z")
            try:
                control.wait_output("z", 10)
                break
            except AssertionError:
                if attempt == 4:
                    print("no report of the first keys; the pane:\n" + term.screen(),
                          file=sys.stderr)
                    raise
        times = []
        for i in range(count):
            if i % 60 == 59:
                control.command("send-keys -t main Enter")
                time.sleep(0.02)
            key = KEYS[i % len(KEYS)]
            control.drain()
            start = time.perf_counter()
            control.command("send-keys -t main -l " + key)
            control.wait_output(key)
            times.append((time.perf_counter() - start) * 1000)
        return times
    finally:
        control.close()


def wait_cat(term):
    """`cat > /dev/null` runs: a typed marker echoes back."""
    term.send_text("stty -echoctl; cat > /dev/null")
    term.send_keys("Enter")
    term.send_text("ready")
    term.wait_for(lambda: term.screen().rstrip().endswith("ready"), "cat echoing", 20)
    term.send_keys("Enter")


def quenlor(count, flood):
    with PeerSession(ssh_config(), *(["flood", "peer"] if flood else ["peer"])) as s:
        t = s.term
        if flood:
            # Keys sent before the program has taken the terminal are lost:
            # the second session's title says it is up.
            t.wait_for(lambda: "(2)" in t.title(), "both sessions", 30)
            t.send_keys("M-F1")
            t.wait_for(lambda: "(1)" in t.title(), "the flooding session shown", 30)
            s.wait_prompt(30)
            s.command(FLOOD)
            t.send_keys("M-F2")
            t.wait_for(lambda: "(2)" in t.title(), "the measured session shown", 30)
        s.wait_prompt(30)
        wait_cat(t)
        return measure(t, count)


def ssh_command():
    return ["sshpass", "-p", PEERS.TEST_PASSWORD, "ssh", *SSH_OPTIONS]


def openssh(count, flood):
    flooder = None
    if flood:
        # With a terminal on the server, as Quenlor's flooding session has:
        # sshd then reads the flood from a pty, a few KB at a time, for both.
        flooder = subprocess.Popen(ssh_command() + ["-tt", "%s@127.0.0.1" % PEERS.TEST_USER,
                                                    FLOOD],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
    term = harness.Terminal()
    term.start()
    try:
        quoted = " ".join("'%s'" % a for a in ssh_command() + ["-tt", "%s@127.0.0.1" %
                                                                PEERS.TEST_USER])
        term.shell(quoted)
        prompt = PEERS.TEST_PROMPT.rstrip()
        term.wait_for(lambda: term.screen().rstrip().endswith(prompt), "the prompt", 30)
        wait_cat(term)
        return measure(term, count)
    finally:
        term.stop()
        if flooder is not None:
            flooder.kill()
            flooder.wait(5)


def row(name, times):
    times = sorted(times)
    p99 = times[min(len(times) - 1, int(len(times) * 0.99))]
    print("| %-26s | %7.2f | %7.2f | %7.2f |" % (name, statistics.median(times), p99, times[-1]))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    os.environ["QUENLOR_BINARY"] = os.path.abspath(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 500
    print("keys per run: %d; milliseconds" % count)
    print("| %-26s | %7s | %7s | %7s |" % ("client, load", "p50", "p99", "max"))
    print("|%s|%s|%s|%s|" % ("-" * 28, "-" * 9, "-" * 9, "-" * 9))
    for flood in (False, True):
        load = "flood" if flood else "idle"
        row("quenlor, " + load, quenlor(count, flood))
        row("ssh -tt, " + load, openssh(count, flood))


if __name__ == "__main__":
    main()
