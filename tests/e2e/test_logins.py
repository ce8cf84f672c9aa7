"""SSH logins end to end, rows of tests/data/e2e/logins.txt and algorithms.txt:
one program per block logs in to every host of it at once, a session each;
Debian's sshd and ssh-agent, the npm ssh2 server and the SSH-1 peer serve."""

import fnmatch
import os
import subprocess
import unittest

from harness import BANNER_END, LOGIN, PEERS, TRUST_NEW, PeerSession, host, table

LOGIN_TIMEOUT = 60


def known_hosts():
    """The modern servers' host keys, as OpenSSH's known-hosts lines."""
    lines = []
    for port, keys in ((PEERS.SSHD_MODERN_PORT, "ED25519 ECDSA256 ECDSA384 ECDSA521 RSA"),
                       (PEERS.SSHD_DEFAULT_PORT, "ED25519 ECDSA256 RSA"),
                       (PEERS.SSHD_GEAR_PORT, "RSA")):
        for key in keys.split():
            with open(getattr(PEERS, "HOST_%s_KEY" % key) + ".pub") as f:
                lines.append("[127.0.0.1]:%d %s\n" % (port, " ".join(f.read().split()[:2])))
    return "".join(lines)


class LoginTest(unittest.TestCase):
    def run_block(self, rows):
        names = ["s%d" % (i + 1) for i in range(len(rows))]
        s = PeerSession("TERM=cons25r\nMAX_SCROLL_SIZE=100\n" + TRUST_NEW + "".join(
            host(name, row[1], *(() if "SSH_AUTH=" in row[2] else LOGIN), *row[2].split(";"))
            for name, row in zip(names, rows)), *names)
        with open(s.path("known_hosts"), "w") as f:
            f.write(known_hosts())
        if any("SSH_AUTH=agent" in row[2] for row in rows):
            s.env = {"SSH_AUTH_SOCK": s.path("agent.sock")}
            out = subprocess.run(["ssh-agent", "-a", s.path("agent.sock"), "-s"], check=True,
                                 capture_output=True, text=True, timeout=10).stdout
            self.addCleanup(os.kill, int(out.split("SSH_AGENT_PID=")[1].split(";")[0]), 15)
            subprocess.run(["ssh-add", "-q", PEERS.USER_AGENT_KEY], check=True, timeout=10,
                           capture_output=True, env=dict(os.environ, **s.env))
        with s:
            # Keys typed before every session is there would reach the shell.
            s.term.wait_title("Quenlor - (%d): s%d" % (len(rows), len(rows)), LOGIN_TIMEOUT)
            shells = []
            for name, row in zip(names, rows):
                with self.subTest(row[0]):
                    s.find(name)
                    if s.answer(row[3], row[4], LOGIN_TIMEOUT):
                        shells.append(name)
            for name in shells:
                s.exit_shell(name)
            s.term.wait_for_text(BANNER_END)
            log = s.read("quenlor-errors.log").decode(errors="replace").splitlines()
        chosen = [line.split("SSH2 algorithms: ", 1)[1] for line in log if "algorithms: " in line]
        for row in (row for row in rows if len(row) > 5):
            mine = [c for c in chosen if fnmatch.fnmatchcase(c, row[5])]
            self.assertEqual(len(mine), 1, "%s: algorithm lines %r" % (row[0], chosen))

    def test_logins(self):
        for rows in table("logins.txt"):
            self.run_block(rows)

    def test_algorithms(self):
        for rows in table("algorithms.txt"):
            self.run_block(rows)


if __name__ == "__main__":
    unittest.main()
