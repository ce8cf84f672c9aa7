"""Whole-path figures of telnet sessions, with the program in tmux (80x25)
against the telnet peer of tests/peers (start it first:
bash tests/peers/start-all.sh, or start-telnetd.sh after setup-accounts.sh).

  throughput: `cat` of the peer's 20 000 000-byte text file, from ENTER to
              the marker printed after it on the screen: socket, telnet,
              session pump, emulator, drawing to the terminal, tmux. In the
              same run the same file through Debian's telnet client in tmux.
  memory:     12 sessions logged in to the peer at once: the resident memory
              of the program (VmRSS, and its peak VmHWM).
  ssh2:       the same `cat` over SSH-2, Quenlor next to Debian's `ssh -tt`
              in tmux, both against the modern sshd of tests/peers
              (start-sshd-modern.sh) with the same key exchange, host key
              and cipher, once per cipher of SSH2_CIPHERS.

Usage: session_bench.py QUENLOR_BINARY [throughput|memory|ssh2|all] [runs]
"""

import os
import shlex
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import harness  # noqa: E402
from harness import PEERS, PeerSession, config  # noqa: E402

FILE_BYTES = 20000000
TIMEOUT = 600
SSH2_CIPHERS = ["chacha20-poly1305@openssh.com", "aes128-gcm@openssh.com"]
SSH2_KEX = "curve25519-sha256"
SSH2_HOSTKEY = "ssh-ed25519"


def cpu_seconds(pid):
    """User plus system time of a process so far."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def tree_cpu_seconds(pid):
    """cpu_seconds of a process and all its descendants (`ssh` runs as a
    child of `sshpass`)."""
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/stat" % entry) as f:
                    parent = int(f.read().rsplit(")", 1)[1].split()[1])
            except OSError:
                continue
            children.setdefault(parent, []).append(int(entry))
    total, todo = 0.0, [pid]
    while todo:
        p = todo.pop()
        try:
            total += cpu_seconds(p)
        except OSError:
            continue
        todo.extend(children.get(p, []))
    return total


def timed_cat(term, wait_ready):
    """Seconds from ENTER on the `cat` command until its end marker shows,
    and the processor seconds the client and the tmux server spent."""
    wait_ready()
    client = term.program_pid()
    server = int(term.tmux("display-message", "-p", "#{pid}").strip())
    term.send_text("cat %s; echo CAT-DONE-$((6*7))" % PEERS.BIG_FILE)
    client_cpu, server_cpu = tree_cpu_seconds(client), cpu_seconds(server)
    start = time.monotonic()
    term.send_keys("Enter")
    term.wait_for(lambda: "CAT-DONE-42" in term.screen(), "the end marker", TIMEOUT)
    elapsed = time.monotonic() - start
    used = (tree_cpu_seconds(client) - client_cpu, cpu_seconds(server) - server_cpu)
    term.send_text("clear")
    term.send_keys("Enter")
    return elapsed, used


def quenlor_throughput(runs):
    times = []
    with PeerSession(config(), "peer") as s:
        s.login()
        for _ in range(runs):
            times.append(timed_cat(s.term, s.wait_prompt))
    return times


def shell_client_throughput(command, login, runs):
    """A client started by `command` in a plain tmux pane; `login(term)`
    answers its prompts, if any, before the shell's."""
    times = []
    term = harness.Terminal()
    term.start()
    try:
        term.shell(command)
        login(term)
        prompt = PEERS.TEST_PROMPT.rstrip()

        def ready():
            term.wait_for(lambda: term.screen().rstrip().endswith(prompt), "the prompt", 30)

        for _ in range(runs):
            times.append(timed_cat(term, ready))
    finally:
        term.stop()
    return times


def telnet_client_throughput(runs):
    def login(term):
        for prompt, answer in (("login:", PEERS.TEST_USER), ("Password:", PEERS.TEST_PASSWORD)):
            term.wait_for(lambda: term.screen().rstrip().endswith(prompt), prompt, 20)
            term.send_text(answer)
            term.send_keys("Enter")

    return shell_client_throughput("telnet 127.0.0.1 %d" % PEERS.TELNET_PORT, login, runs)


def quenlor_ssh2_throughput(cipher, runs):
    cfg = ("TERM=cons25r\nMAX_SCROLL_SIZE=1000\nHOST_KEY_CHECK=off\n"
           "DEFINE_HOST peer {\n    ADDRESS=ssh2:127.0.0.1:%d\n    USER=%s\n"
           "    SSH_AUTH=pwd:%s\n    SSH_KEX=%s\n    SSH_HOSTKEYS=%s\n    SSH_CIPHERS=%s\n}\n"
           % (PEERS.SSHD_MODERN_PORT, PEERS.TEST_USER, PEERS.TEST_PASSWORD, SSH2_KEX,
              SSH2_HOSTKEY, cipher))
    times = []
    with PeerSession(cfg, "peer") as s:
        for _ in range(runs):
            times.append(timed_cat(s.term, lambda: s.wait_prompt(30)))
    return times


def ssh_client_throughput(cipher, runs):
    command = ["sshpass", "-p", PEERS.TEST_PASSWORD, "ssh", "-tt",
               "-o", "KexAlgorithms=" + SSH2_KEX, "-o", "HostKeyAlgorithms=" + SSH2_HOSTKEY,
               "-c", cipher, "-o", "Compression=no", "-o", "StrictHostKeyChecking=no",
               "-o", "UserKnownHostsFile=/dev/null", "-o", "LogLevel=ERROR",
               "-o", "PubkeyAuthentication=no", "-p", str(PEERS.SSHD_MODERN_PORT),
               "%s@127.0.0.1" % PEERS.TEST_USER]
    return shell_client_throughput(" ".join(shlex.quote(a) for a in command), lambda term: None,
                                   runs)


def ssh2(runs):
    for cipher in SSH2_CIPHERS:
        print(cipher)
        ours = report_throughput("quenlor in tmux", quenlor_ssh2_throughput(cipher, runs))
        theirs = report_throughput("ssh -tt in tmux", ssh_client_throughput(cipher, runs))
        print("ratio quenlor / ssh -tt: %.2f" % (ours / theirs))


def report_throughput(name, results):
    rates = [FILE_BYTES / t / 1e6 for t, _ in results]
    print("%-22s median %7.2f MB/s  (runs: %s; processor s client/tmux: %s)" %
          (name, statistics.median(rates), ", ".join("%.2f" % r for r in rates),
           ", ".join("%.2f/%.2f" % used for _, used in results)))
    return statistics.median(rates)


def memory():
    with PeerSession(config(), *(["peer"] * 12)) as s:
        t = s.term
        t.wait_for(lambda: t.title() == "Quenlor - (12): peer", "12 sessions")
        for i in range(1, 13):
            t.send_keys("M-F%d" % i)
            t.wait_for(lambda: t.title() == "Quenlor - (%d): peer" % i, "session %d" % i)
            s.login()
        pid = t.program_pid()
        fields = {}
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                name, _, value = line.partition(":")
                fields[name] = value.strip()
        threads = fields.get("Threads")
        print("12 telnet sessions logged in: VmRSS %s, VmHWM %s, threads %s" %
              (fields["VmRSS"], fields["VmHWM"], threads))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    os.environ["QUENLOR_BINARY"] = os.path.abspath(sys.argv[1])
    what = sys.argv[2] if len(sys.argv) > 2 else "all"
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    if what in ("throughput", "all"):
        ours = report_throughput("quenlor in tmux", quenlor_throughput(runs))
        theirs = report_throughput("telnet client in tmux", telnet_client_throughput(runs))
        print("ratio quenlor / telnet client: %.2f" % (ours / theirs))
    if what in ("memory", "all"):
        memory()
    if what in ("ssh2", "all"):
        ssh2(runs)


if __name__ == "__main__":
    main()
