"""Host-key trust end to end: one program with a session per way of
checking (tests/data/e2e/hostkeys.txt), against Debian's sshd (SSH-2), the
SSH-1 peer and a second server of each with a new host key, with
known-hosts files that Debian's ssh client and ssh-keygen read and write too."""

import base64
import hashlib
import os
import re
import subprocess
import unittest

from harness import LOGIN, PEERS, PeerSession, host, serve, table

# Extra servers this test starts with new host keys; shifted like the peers.
OFFSET = int(os.environ.get("QUENLOR_PORT_OFFSET", "0"))
SECOND = {"SECOND_SSHD_PORT": 2290 + OFFSET, "SECOND_SSH1_PORT": 2291 + OFFSET}
SSH = ["ssh", "-o", "BatchMode=yes", "-o", "KexAlgorithms=diffie-hellman-group1-sha1",
       "-o", "HostKeyAlgorithms=ssh-dss", "-o", "PubkeyAcceptedAlgorithms=ssh-dss",
       "-c", "3des-cbc", "-m", "hmac-sha1", "-i", PEERS.USER_DSA_KEY, "-o", "IdentitiesOnly=yes",
       "-p", str(PEERS.SSHD_PORT), "-l", PEERS.TEST_USER, "127.0.0.1"]


def run(*args):
    return subprocess.run(args, capture_output=True, text=True, timeout=60)


def fingerprint(key_file):
    """The SHA256 fingerprint ssh-keygen -lf prints."""
    return run("ssh-keygen", "-lf", key_file).stdout.split()[1]


def line(port, key_file):
    """The known-hosts line of an SSH-2 host key in OpenSSH's form."""
    key = run("ssh-keygen", "-y", "-f", key_file).stdout.split()[:2]
    return "[127.0.0.1]:%d %s\n" % (port, " ".join(key))


def rsa1(port, pem):
    """The known-hosts line ("bits e n") and the fingerprint of an SSH-1 RSA
    host key, whose numbers the peers' Python reads."""
    code = ("import sys\nfrom cryptography.hazmat.primitives import serialization as s\n"
            "n = s.load_pem_private_key(open(sys.argv[1], 'rb').read(), None)"
            ".public_key().public_numbers()\nprint(n.e, n.n)\n")
    e, n = map(int, run(PEERS.PEERS_PYTHON, "-c", code, pem).stdout.split())
    raw = b"".join(x.to_bytes((x.bit_length() + 7) // 8, "big") for x in (n, e))
    digest = base64.b64encode(hashlib.sha256(raw).digest()).decode().rstrip("=")
    return "[127.0.0.1]:%d %d %d %d\n" % (port, n.bit_length(), e, n), "SHA256:" + digest


class HostKeyTest(unittest.TestCase):
    def test_every_way_of_checking(self):
        s = PeerSession(None)
        # Debian's ssh records the host hashed; Quenlor, strict, trusts that.
        out = run(*SSH, "-o", "StrictHostKeyChecking=accept-new", "-o", "HashKnownHosts=yes",
                  "-o", "UserKnownHostsFile=" + s.path("hashed"), "true")
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertTrue(s.read("hashed", "r").startswith("|1|"))
        # Second servers with new keys, for names recorded with the old ones.
        run("ssh-keygen", "-q", "-t", "dsa", "-b", "1024", "-N", "", "-f", s.path("new_dsa"))
        with open(s.path("sshd.conf"), "w") as f:
            f.write(re.sub(r"(?m)^(Port|HostKey|PidFile) .*$", lambda m: {
                "Port": "Port %d" % SECOND["SECOND_SSHD_PORT"], "HostKey": "HostKey " +
                s.path("new_dsa"), "PidFile": "PidFile " + s.path("sshd.pid")}[m.group(1)],
                s.read(os.path.join(PEERS.PEERS_STATE, "sshd.conf"), "r")))
        for port, log, *args in (
                (SECOND["SECOND_SSHD_PORT"], "sshd.log", "/usr/sbin/sshd", "-D", "-e", "-f",
                 s.path("sshd.conf")),
                (SECOND["SECOND_SSH1_PORT"], "ssh1.log", PEERS.PEERS_PYTHON,
                 os.path.join(PEERS.PEERS_DIR, "ssh1_peer.py"), "--port",
                 str(SECOND["SECOND_SSH1_PORT"]), "--user", PEERS.TEST_USER, "--password",
                 PEERS.TEST_PASSWORD, "--host-key", s.path("new_ssh1.pem"))):
            server = serve(port, s.path(log), *args)
            self.addCleanup(server.wait, 10)
            self.addCleanup(server.terminate)
        rsa1_line, rsa1_fp = rsa1(PEERS.SSH1_PORT, PEERS.SSH1_HOST_KEY)
        with open(s.path("changed"), "w") as f:
            f.write("# first line\n" + line(SECOND["SECOND_SSHD_PORT"], PEERS.HOST_DSA_KEY) +
                    rsa1(SECOND["SECOND_SSH1_PORT"], PEERS.SSH1_HOST_KEY)[0])
        rows = table("hostkeys.txt", DSA_FP=fingerprint(PEERS.HOST_DSA_KEY), RSA1_FP=rsa1_fp,
                     NEW_DSA_FP=fingerprint(s.path("new_dsa")),
                     NEW_RSA1_FP=rsa1(0, s.path("new_ssh1.pem"))[1], **SECOND)[0]
        with open(s.path("quenlor.cfg"), "w") as f:
            f.write("TERM=cons25r\nKNOWN_HOSTS=known_hosts\n" + "".join(
                host(r[0], r[1], *LOGIN, *r[2].split(";")) for r in rows))
        s.args = [r[0] for r in rows]
        before, recorded = s.read("changed"), line(PEERS.SSHD_PORT, PEERS.HOST_DSA_KEY)
        with s:
            t = s.term
            t.wait_title("Quenlor - (11): hashed", 30)
            for row in rows:
                s.find(row[0])
                s.answer(row[3], row[4])
                if row[0] == "no":
                    self.assertFalse(os.path.exists(s.path("known_hosts")))
                    s.find("yes2")  # two sessions to one new host ask each
                    t.wait_for_text("(yes/no)?")
                if row[0] == "yes2":
                    # Recorded once, where ssh-keygen finds it and Debian's
                    # ssh, strict, trusts it.
                    self.assertEqual(s.read("known_hosts", "r"), recorded)
                    self.assertIn("found: line 1", run("ssh-keygen", "-F", recorded.split()[0],
                                                       "-f", s.path("known_hosts")).stdout)
                    out = run(*SSH, "-o", "StrictHostKeyChecking=yes", "-o",
                              "UserKnownHostsFile=" + s.path("known_hosts"), "echo shared-$((6*7))")
                    self.assertEqual((out.returncode, out.stdout), (0, "shared-42\n"), out.stderr)
            self.assertEqual(s.read("known_hosts", "r"), recorded + rsa1_line)
            self.assertEqual(s.read("accepted", "r"), line(PEERS.SSHD_REKEY_PORT,
                                                            PEERS.HOST_DSA_KEY))
            # A changed key ends the session before any authentication; the
            # file stays as it was.
            self.assertEqual(s.read("changed"), before)
            t.wait_for(lambda: "preauth" in s.read("sshd.log", "r"), "sshd's log")
            self.assertNotRegex(s.read("sshd.log", "r"),
                                r"(?i)password|Accepted|Failed|invalid user|authenticating")
            # Known now: a new session to each host logs in without asking.
            for again in ("yes", "one"):
                t.send_keys("M-a")
                t.wait_for_text("Connect to:")
                s.command(again)
                s.answer("", "shell")
                self.assertNotIn("not known", t.screen())
            self.assertEqual(s.read("known_hosts", "r"), recorded + rsa1_line)


if __name__ == "__main__":
    unittest.main()
