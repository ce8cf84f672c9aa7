"""SSH-2 algorithms end to end: Quenlor in tmux (80x25) against Debian's
openssh-server (tests/peers/start-sshd-modern.sh). Against the sshd that
offers everything, Quenlor's own offer is cut to one algorithm of one kind
(SSH_KEX, SSH_HOSTKEYS, SSH_CIPHERS, SSH_MACS), so each login runs exactly
that algorithm; the error log names what was chosen. A server with Debian's
defaults and one offering only group14-sha1/ssh-rsa/aes128-cbc/hmac-sha1 are
reached with no algorithm settings at all.

One Quenlor logs in to several hosts at once (one session each, ALT+F1..),
so a kind of algorithm costs one program start rather than one per name.
Every host key is checked strictly against a known-hosts file made from the
servers' public keys: a question or a refusal fails the case at once.

QUENLOR_E2E_ALGORITHMS=name,name... runs only the cases of those names
(algorithm names, or "default" and "gear" for the two servers)."""

import os
import time
import unittest

from harness import BANNER_END, PEERS, PROMPT, PeerSession

# From the program's start until every session of one batch shows its shell.
LOGIN_TIMEOUT = 60
ERROR_LOG = "quenlor-errors.log"
# sshd drops new unauthenticated connections at random beyond 10 at once
# (MaxStartups 10:30:100), so a batch holds at most that many sessions.
BATCH_SIZE = 10
# Texts on a session screen that mean its login will not reach a shell.
FAILED = ("Press Enter to close...", "(yes/no)?")

KEX = ["curve25519-sha256", "curve25519-sha256@libssh.org", "ecdh-sha2-nistp256",
       "ecdh-sha2-nistp384", "ecdh-sha2-nistp521", "diffie-hellman-group-exchange-sha256",
       "diffie-hellman-group16-sha512", "diffie-hellman-group18-sha512",
       "diffie-hellman-group14-sha256", "diffie-hellman-group14-sha1",
       "diffie-hellman-group-exchange-sha1", "diffie-hellman-group1-sha1"]
HOSTKEYS = ["ssh-ed25519", "ecdsa-sha2-nistp256", "ecdsa-sha2-nistp384", "ecdsa-sha2-nistp521",
            "rsa-sha2-512", "rsa-sha2-256", "ssh-rsa"]
CIPHERS = ["chacha20-poly1305@openssh.com", "aes128-gcm@openssh.com", "aes256-gcm@openssh.com",
           "aes128-ctr", "aes192-ctr", "aes256-ctr", "aes128-cbc", "aes192-cbc", "aes256-cbc",
           "3des-cbc"]
MACS = ["hmac-sha2-256-etm@openssh.com", "hmac-sha2-512-etm@openssh.com",
        "hmac-sha1-etm@openssh.com", "hmac-sha2-256", "hmac-sha2-512", "hmac-sha1", "hmac-md5"]

GEAR_CHOICE = ("diffie-hellman-group14-sha1 ssh-rsa, aes128-cbc hmac-sha1 out, "
               "aes128-cbc hmac-sha1 in")
# Both sides' first choices: nothing legacy.
DEFAULT_CHOICE = ("curve25519-sha256 ssh-ed25519, chacha20-poly1305@openssh.com <implicit> out, "
                  "chacha20-poly1305@openssh.com <implicit> in")


def known_hosts():
    """Every test server's host keys, as OpenSSH's known-hosts lines."""
    servers = [(PEERS.SSHD_MODERN_PORT, ["ED25519", "ECDSA256", "ECDSA384", "ECDSA521", "RSA"]),
               (PEERS.SSHD_DEFAULT_PORT, ["ED25519", "ECDSA256", "RSA"]),
               (PEERS.SSHD_GEAR_PORT, ["RSA"])]
    lines = []
    for port, keys in servers:
        for key in keys:
            with open(getattr(PEERS, "HOST_%s_KEY" % key) + ".pub") as f:
                key_type, blob = f.read().split()[:2]
            lines.append("[127.0.0.1]:%d %s %s\n" % (port, key_type, blob))
    return "".join(lines)


def parse_choice(text):
    """"KEX HOSTKEY, CIPHER MAC out, CIPHER MAC in" as a dict."""
    parts = [p.split() for p in text.split(", ")]
    if len(parts) != 3 or [len(p) for p in parts] != [2, 3, 3]:
        return None
    (kex, hostkey), (c_out, m_out, _), (c_in, m_in, _) = parts
    return {"kex": kex, "hostkey": hostkey, "cipher_out": c_out, "mac_out": m_out,
            "cipher_in": c_in, "mac_in": m_in}


class Case:
    """One login: a host block's extra lines, and what the log line of its
    algorithms must show. The expectations of one batch exclude each other,
    so every log line belongs to exactly one case."""

    def __init__(self, name, port, lines, expect):
        self.name = name
        self.port = port
        self.lines = lines
        self.expect = expect

    def matches(self, text):
        choice = parse_choice(text)
        return choice is not None and self.expect(choice, text)


def one_of_kind(key, name, extra=""):
    field = {"SSH_KEX": ("kex",), "SSH_HOSTKEYS": ("hostkey",),
             "SSH_CIPHERS": ("cipher_out", "cipher_in"), "SSH_MACS": ("mac_out", "mac_in")}[key]
    return Case(name, PEERS.SSHD_MODERN_PORT, "    %s=%s\n%s" % (key, name, extra),
                lambda choice, _: all(choice[f] == name for f in field))


def selected(cases):
    wanted = os.environ.get("QUENLOR_E2E_ALGORITHMS")
    if not wanted:
        return cases
    names = set(wanted.split(","))
    return [c for c in cases if c.name in names]


def batch_config(cases):
    hosts = "".join("DEFINE_HOST s%02d {\n    ADDRESS=ssh2:127.0.0.1:%d\n    USER=%s\n"
                    "    SSH_AUTH=pwd:%s\n%s}\n"
                    % (i + 1, case.port, PEERS.TEST_USER, PEERS.TEST_PASSWORD, case.lines)
                    for i, case in enumerate(cases))
    return ("TERM=cons25r\nMAX_SCROLL_SIZE=100\n"
            "HOST_KEY_CHECK=strict\nKNOWN_HOSTS=known_hosts\n" + hosts)


class Batch(PeerSession):
    """One Quenlor with a session per case (hosts s01, s02 ...), the program
    and its files in a folder of their own."""

    def __init__(self, cases):
        self.cases = cases
        super().__init__(batch_config(cases), *["s%02d" % (i + 1) for i in range(len(cases))])
        with open(self.path("known_hosts"), "w") as f:
            f.write(known_hosts())

    @staticmethod
    def title(index):
        return "Quenlor - (%d): s%02d" % (index + 1, index + 1)

    def wait_started(self):
        """Waits until every session is there: the newest one is shown then.
        Keys typed before that would reach the shell, not the program."""
        last = self.title(len(self.cases) - 1)
        self.term.wait_for(lambda: self.term.title() == last, last)

    def show(self, index):
        """Brings session `index` (0-based) to the screen."""
        self.term.send_keys("M-F%d" % (index + 1))
        self.term.wait_for(lambda: self.term.title() == self.title(index), self.title(index))

    def wait_shell(self, timeout):
        """Waits for the shown session's prompt; returns None, or what went
        wrong with the screen."""
        t = self.term
        state = t.wait_for(lambda: next((m for m in FAILED if m in t.screen()), None) or
                           (t.screen().rstrip().endswith(PROMPT) and "shell"),
                           "the shell prompt", max(timeout, 1))
        return None if state == "shell" else "%r on the screen:\n%s" % (state, t.screen())

    def choices(self):
        """The algorithms lines of the error log."""
        try:
            with open(self.path(ERROR_LOG), errors="replace") as f:
                return [l.strip().split("SSH2 algorithms: ", 1)[1] for l in f
                        if "SSH2 algorithms: " in l]
        except FileNotFoundError:
            return []


class Ssh2AlgorithmsTest(unittest.TestCase):
    def run_batch(self, cases):
        """Logs in to every case's host at once, runs a command in each
        session and exits them all; fails each case that went wrong, by name."""
        failures = {}
        with Batch(cases) as b:
            start = time.monotonic()
            b.wait_started()
            for i, case in enumerate(cases):
                try:
                    b.show(i)
                    failures[case.name] = b.wait_shell(start + LOGIN_TIMEOUT - time.monotonic())
                    if failures[case.name] is None:
                        b.command("echo ok-$((40+2))-s%02d" % (i + 1), "ok-42-s%02d" % (i + 1))
                except AssertionError as e:
                    failures[case.name] = str(e)
            if not any(failures.values()):
                # Last first, so that the numbers of the others stay as they are.
                for i in reversed(range(len(cases))):
                    try:
                        b.show(i)
                        b.command("exit")
                        b.term.wait_for(lambda: b.term.title() != b.title(i),
                                        "the end of the session", LOGIN_TIMEOUT)
                        if i == 0:
                            b.term.wait_for_text(BANNER_END)
                    except AssertionError as e:
                        failures[cases[i].name] = "at exit: " + str(e)
                        break
            choices = b.choices()
        for case in cases:
            with self.subTest(case.name):
                self.assertIsNone(failures[case.name], case.name)
                mine = [c for c in choices if case.matches(c)]
                self.assertEqual(len(mine), 1, "%s: algorithm lines %r" % (case.name, choices))
        self.assertEqual(len(choices), len(cases), choices)

    def run_cases(self, cases):
        cases = selected(cases)
        if not cases:
            self.skipTest("not selected")
        # Batches of equal size rather than full ones and a short one.
        batches = -(-len(cases) // BATCH_SIZE)
        size = -(-len(cases) // batches)
        for first in range(0, len(cases), size):
            self.run_batch(cases[first:first + size])

    def test_every_key_exchange(self):
        self.run_cases([one_of_kind("SSH_KEX", name) for name in KEX])

    def test_every_host_key_algorithm(self):
        self.run_cases([one_of_kind("SSH_HOSTKEYS", name) for name in HOSTKEYS])

    def test_every_cipher(self):
        self.run_cases([one_of_kind("SSH_CIPHERS", name) for name in CIPHERS])

    def test_every_mac(self):
        # With a block cipher, so that the MAC is in use.
        self.run_cases([one_of_kind("SSH_MACS", name, "    SSH_CIPHERS=aes128-ctr\n")
                        for name in MACS])

    def test_default_server_and_old_gear_without_algorithm_settings(self):
        self.run_cases([
            Case("default", PEERS.SSHD_DEFAULT_PORT, "", lambda _, text: text == DEFAULT_CHOICE),
            Case("gear", PEERS.SSHD_GEAR_PORT, "", lambda _, text: text == GEAR_CHOICE)])

    def test_unknown_algorithm_is_a_config_error(self):
        config = batch_config([one_of_kind("SSH_CIPHERS", "aes128-ctr,rot13")])
        with PeerSession(config, "s01") as s:
            s.term.wait_for_text("Config error. Unknown SSH algorithm for SSH_CIPHERS: rot13.")


if __name__ == "__main__":
    unittest.main(verbosity=2)
