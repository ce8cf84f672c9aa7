"""Host-key trust end to end: one program with a session per way of
checking, against Debian's sshd (SSH-2), the SSH-1 peer and a second server
of each with a new host key, with known-hosts files that Debian's ssh
client and ssh-keygen read and write too."""

import base64
import hashlib
import os
import re
import socket
import subprocess
import time
import unittest

from harness import LOGIN, PEERS, PeerSession, host

# Extra servers this test starts with new host keys; shifted like the peers.
OFFSET = int(os.environ.get("QUENLOR_PORT_OFFSET", "0"))
SECOND_SSHD_PORT, SECOND_SSH1_PORT = 2290 + OFFSET, 2291 + OFFSET
QUESTION = "Trust this key and connect (yes/no)?"
SSH = ["ssh", "-o", "BatchMode=yes", "-o", "KexAlgorithms=diffie-hellman-group1-sha1",
       "-o", "HostKeyAlgorithms=ssh-dss", "-o", "PubkeyAcceptedAlgorithms=ssh-dss",
       "-c", "3des-cbc", "-m", "hmac-sha1", "-i", PEERS.USER_DSA_KEY, "-o", "IdentitiesOnly=yes",
       "-p", str(PEERS.SSHD_PORT)]
DESTINATION = "%s@127.0.0.1" % PEERS.TEST_USER


def run(*args):
    return subprocess.run(args, capture_output=True, text=True, timeout=60)


def name(port):
    return "[127.0.0.1]:%d" % port


def fingerprint(key_file):
    """The SHA256 fingerprint ssh-keygen -lf prints."""
    return run("ssh-keygen", "-lf", key_file).stdout.split()[1]


def public(key_file):
    """"type base64" of a private key file."""
    return " ".join(run("ssh-keygen", "-y", "-f", key_file).stdout.split()[:2])


def rsa1(pem):
    """The known-hosts key ("bits e n") and the fingerprint of an SSH-1 RSA
    host key, whose numbers the peers' Python reads."""
    code = ("import sys\nfrom cryptography.hazmat.primitives import serialization as s\n"
            "n = s.load_pem_private_key(open(sys.argv[1], 'rb').read(), None)"
            ".public_key().public_numbers()\nprint(n.e, n.n)\n")
    e, n = map(int, run(PEERS.PEERS_PYTHON, "-c", code, pem).stdout.split())
    raw = b"".join(x.to_bytes((x.bit_length() + 7) // 8, "big") for x in (n, e))
    digest = base64.b64encode(hashlib.sha256(raw).digest()).decode().rstrip("=")
    return "%d %d %d" % (n.bit_length(), e, n), "SHA256:" + digest


def serve(args, log):
    """Starts an extra server; waits until it listens on the port it names."""
    port = int(args[args.index("--port") + 1]) if "--port" in args else SECOND_SSHD_PORT
    with open(log, "wb") as f:
        process = subprocess.Popen(args, stdout=f, stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 20
    while True:
        with socket.socket() as probe:
            if probe.connect_ex(("127.0.0.1", port)) == 0:
                return process
        assert time.monotonic() < deadline, "nothing listens on port %d" % port
        time.sleep(0.1)


class HostKeyTest(unittest.TestCase):
    def test_every_way_of_checking(self):
        sshd, ssh1 = "ssh2:127.0.0.1:%d" % PEERS.SSHD_PORT, "ssh:127.0.0.1:%d" % PEERS.SSH1_PORT
        dsa_fp, (rsa1_line, rsa1_fp) = fingerprint(PEERS.HOST_DSA_KEY), rsa1(PEERS.SSH1_HOST_KEY)
        asked = [(QUESTION, None), ("The host %s is not known yet." % name(PEERS.SSHD_PORT), None),
                 ("Its ssh-dss key: " + dsa_fp, None)]
        not_accepted = "The host key of %s was not accepted" % name(PEERS.SSHD_PORT)
        # (host, address, settings, the steps in its session, how it ends)
        rows = [("strict", sshd, ["HOST_KEY_CHECK=strict"], [("Key: ssh-dss " + dsa_fp, None)],
                 "Unknown host %s refused: HOST_KEY_CHECK is strict." % name(PEERS.SSHD_PORT)),
                ("off", sshd, ["HOST_KEY_CHECK=off"], [], "shell"),
                ("esc", sshd, [], asked + [("", "ESC")], not_accepted),
                ("no", sshd, [], asked + [("", "no")], not_accepted),
                ("yes", sshd, [], asked + [("", "yes")], "shell"),
                ("yes2", sshd, [], [(QUESTION, "yes")], "shell"),
                ("one", ssh1, [], [("Its rsa1 key: " + rsa1_fp, "yes")], "shell"),
                ("new", "ssh2:127.0.0.1:%d" % PEERS.SSHD_REKEY_PORT,
                 ["HOST_KEY_CHECK=accept-new", "KNOWN_HOSTS=accepted"], [], "shell"),
                ("changed", "ssh2:127.0.0.1:%d" % SECOND_SSHD_PORT, ["KNOWN_HOSTS=changed"]),
                ("changed1", "ssh:127.0.0.1:%d" % SECOND_SSH1_PORT, ["KNOWN_HOSTS=changed"]),
                ("hashed", sshd, ["HOST_KEY_CHECK=strict", "KNOWN_HOSTS=hashed"], [], "shell")]
        cfg = "TERM=cons25r\nKNOWN_HOSTS=known_hosts\n" + "".join(
            host(r[0], r[1], *LOGIN, *r[2]) for r in rows)
        s = PeerSession(cfg, *[r[0] for r in rows])
        known, changed = s.path("known_hosts"), s.path("changed")
        # Debian's ssh records the host hashed; Quenlor, strict, trusts that.
        out = run(*SSH, "-o", "StrictHostKeyChecking=accept-new", "-o", "HashKnownHosts=yes",
                  "-o", "UserKnownHostsFile=" + s.path("hashed"), DESTINATION, "true")
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertTrue(s.read("hashed", "r").startswith("|1|"))
        # Second servers with new keys, for names recorded with the old ones.
        with open(s.path("sshd.conf"), "w") as f:
            f.write(re.sub(r"(?m)^(Port|HostKey|PidFile) .*$", lambda m: {
                "Port": "Port %d" % SECOND_SSHD_PORT, "HostKey": "HostKey " + s.path("new_dsa"),
                "PidFile": "PidFile " + s.path("sshd.pid")}[m.group(1)],
                s.read(os.path.join(PEERS.PEERS_STATE, "sshd.conf"), "r")))
        run("ssh-keygen", "-q", "-t", "dsa", "-b", "1024", "-N", "", "-f", s.path("new_dsa"))
        with open(changed, "w") as f:
            f.write("# first line\n%s %s\n%s %s\n" % (name(SECOND_SSHD_PORT),
                                                      public(PEERS.HOST_DSA_KEY),
                                                      name(SECOND_SSH1_PORT), rsa1_line))
        servers = [serve(["/usr/sbin/sshd", "-D", "-e", "-f", s.path("sshd.conf")],
                         s.path("sshd.log")),
                   serve([PEERS.PEERS_PYTHON, os.path.join(PEERS.PEERS_DIR, "ssh1_peer.py"),
                          "--port", str(SECOND_SSH1_PORT), "--user", PEERS.TEST_USER, "--password",
                          PEERS.TEST_PASSWORD, "--host-key", s.path("new_ssh1.pem")],
                         s.path("ssh1.log"))]
        try:
            with s:
                t = s.term
                t.wait_title("Quenlor - (11): hashed", 30)
                for row in rows[:6]:
                    s.find(row[0])
                    s.answer(row[3], row[4])
                    if row[0] == "no":
                        self.assertFalse(os.path.exists(known))
                        s.find("yes2")  # two sessions to one new host ask each
                        t.wait_for_text(QUESTION)
                # Recorded once, in OpenSSH's form, where ssh-keygen finds it,
                # and Debian's ssh, strict, trusts it.
                self.assertEqual(s.read("known_hosts", "r"), "%s %s\n" % (
                    name(PEERS.SSHD_PORT), public(PEERS.HOST_DSA_KEY)))
                self.assertIn("found: line 1", run("ssh-keygen", "-F", name(PEERS.SSHD_PORT),
                                                   "-f", known).stdout)
                out = run(*SSH, "-o", "StrictHostKeyChecking=yes", "-o",
                          "UserKnownHostsFile=" + known, DESTINATION, "echo shared-$((6*7))")
                self.assertEqual((out.returncode, out.stdout.strip()), (0, "shared-42"),
                                 out.stderr)
                for n in (6, 7, 10):
                    s.find(rows[n][0])
                    s.answer(rows[n][3], "shell")
                self.assertEqual(s.read("known_hosts", "r").splitlines()[1:],
                                 ["%s %s" % (name(PEERS.SSH1_PORT), rsa1_line)])
                self.assertEqual(s.read("accepted", "r"), "%s %s\n" % (
                    name(PEERS.SSHD_REKEY_PORT), public(PEERS.HOST_DSA_KEY)))
                # A changed key ends the session before any authentication;
                # the file stays as it was.
                before = s.read("changed")
                _, new_fp = rsa1(s.path("new_ssh1.pem"))
                for host_name, port, line, new in (
                        ("changed", SECOND_SSHD_PORT, 2, "ssh-dss " + fingerprint(s.path("new_dsa"))),
                        ("changed1", SECOND_SSH1_PORT, 3, "rsa1 " + new_fp)):
                    s.find(host_name)
                    s.fails_with("The host key of %s has CHANGED!" % name(port),
                                 "Old key: changed, line %d" % line, "New key: " + new,
                                 "ssh-keygen -R '%s' -f changed" % name(port))
                self.assertEqual(s.read("changed"), before)
                t.wait_for(lambda: "preauth" in s.read("sshd.log", "r"), "sshd's log")
                self.assertNotRegex(s.read("sshd.log", "r"),
                                    r"(?i)password|Accepted|Failed|invalid user|authenticating")
                # Known now: a new session to each host logs in without asking.
                for again in ("yes", "one"):
                    t.send_keys("M-a")
                    t.wait_for_text("Connect to:")
                    s.command(again)
                    s.answer([], "shell")
                    self.assertNotIn("not known", t.screen())
                self.assertEqual(len(s.read("known_hosts", "r").splitlines()), 2)
        finally:
            for server in servers:
                server.terminate()
                server.wait(10)


if __name__ == "__main__":
    unittest.main()
