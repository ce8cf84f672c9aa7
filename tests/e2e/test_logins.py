"""SSH logins end to end, as tables (tests/data/e2e/logins.txt and
algorithms.txt): one program logs in to every host of a block at once, a
session each, then answers each session's prompts, checks how it ends and
runs a command in its shell; the shells' `exit` ends them one by one.
Debian's sshd, the npm ssh2 server, the SSH-1 peer and Debian's ssh-agent
(with the test's own socket) are the servers."""

import fnmatch
import os
import shutil
import subprocess
import unittest

from harness import BANNER_END, LOGIN, PEERS, TRUST_NEW, PeerSession, host, table, temp_dir

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
    @classmethod
    def setUpClass(cls):
        cls.agent_dir = temp_dir()
        cls.agent = os.path.join(cls.agent_dir, "agent.sock")
        out = subprocess.run(["ssh-agent", "-a", cls.agent, "-s"], capture_output=True,
                             text=True, timeout=10, check=True).stdout
        cls.agent_pid = int(out.split("SSH_AGENT_PID=")[1].split(";")[0])
        subprocess.run(["ssh-add", "-q", PEERS.USER_AGENT_KEY], check=True, timeout=10,
                       capture_output=True, env=dict(os.environ, SSH_AUTH_SOCK=cls.agent))

    @classmethod
    def tearDownClass(cls):
        os.kill(cls.agent_pid, 15)
        shutil.rmtree(cls.agent_dir, ignore_errors=True)

    def run_block(self, rows):
        hosts = "".join(host("s%d" % (i + 1), row[1], *(row[2].split(";") if "SSH_AUTH=" in row[2]
                                                        else LOGIN + tuple(row[2].split(";"))))
                        for i, row in enumerate(rows))
        cfg = "TERM=cons25r\nMAX_SCROLL_SIZE=100\n" + TRUST_NEW + hosts
        names = ["s%d" % (i + 1) for i in range(len(rows))]
        agent = any("SSH_AUTH=agent" in row[2] for row in rows)
        s = PeerSession(cfg, *names, env={"SSH_AUTH_SOCK": self.agent} if agent else None)
        with open(s.path("known_hosts"), "w") as f:
            f.write(known_hosts())
        with s:
            # Keys typed before every session is there would reach the shell.
            s.term.wait_title("Quenlor - (%d): s%d" % (len(rows), len(rows)), LOGIN_TIMEOUT)
            shells = []
            for name, row in zip(names, rows):
                with self.subTest(row[0]):
                    s.find(name)
                    steps = [step.split(" => ") for step in filter(None, row[3].split(";"))]
                    if s.answer(steps, row[4], LOGIN_TIMEOUT):
                        shells.append(name)
            for name in shells:
                s.exit_shell(name)
            s.term.wait_for_text(BANNER_END)
            log = s.read("quenlor-errors.log").decode(errors="replace").splitlines()
        chosen = [line.split("SSH2 algorithms: ", 1)[1] for line in log if "SSH2 algorithms" in line]
        for row in rows:
            if len(row) > 5:
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
