"""Host-key trust end to end: Quenlor in tmux against Debian's sshd (SSH-2)
and the SSH-1 peer, with a known-hosts file of the test's own that Debian's
ssh client and ssh-keygen read too."""

import base64
import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

from harness import (LOGIN_TIMEOUT, PASSWORD, PEERS, PROMPT, PeerSession, ssh1, ssh2,
                     ssh_config)

# Extra servers this test starts with new host keys; shifted like the peers.
OFFSET = int(os.environ.get("QUENLOR_PORT_OFFSET", "0"))
SECOND_SSHD_PORT = 2290 + OFFSET
SECOND_SSH1_PORT = 2291 + OFFSET


def run(*args, **kw):
    return subprocess.run(args, capture_output=True, text=True, timeout=60, **kw)


def config(address, known_hosts, check=None):
    return ssh_config(address, PASSWORD, top="KNOWN_HOSTS=%s\n%s" % (
        known_hosts, ("HOST_KEY_CHECK=%s\n" % check) if check else ""))


def keygen_fingerprint(key_file):
    """SHA256 fingerprint as ssh-keygen -lf prints it."""
    out = run("ssh-keygen", "-lf", key_file)
    return out.stdout.split()[1]


def keygen_public(key_file):
    """"type base64" of a private key file."""
    return " ".join(run("ssh-keygen", "-y", "-f", key_file).stdout.split()[:2])


def rsa1_numbers(pem):
    """(e, n) of an RSA key in PEM, read by the peers' Python (cryptography)."""
    code = ("import sys\nfrom cryptography.hazmat.primitives import serialization as s\n"
            "k = s.load_pem_private_key(open(sys.argv[1], 'rb').read(), None)\n"
            "n = k.public_key().public_numbers()\nprint(n.e, n.n)\n")
    out = run(PEERS.PEERS_PYTHON, "-c", code, pem)
    e, n = out.stdout.split()
    return int(e), int(n)


def rsa1_fingerprint(e, n):
    def big_endian(x):
        return x.to_bytes((x.bit_length() + 7) // 8, "big")
    digest = hashlib.sha256(big_endian(n) + big_endian(e)).digest()
    return "SHA256:" + base64.b64encode(digest).decode().rstrip("=")


class Server:
    """An extra server process of this test, stopped by its pid."""

    def __init__(self, args, log):
        self.log = log
        with open(log, "wb") as f:
            self.process = subprocess.Popen(args, stdout=f, stderr=subprocess.STDOUT)

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(10)

    def text(self):
        with open(self.log, errors="replace") as f:
            return f.read()


def wait_port(port, timeout=20):
    import socket
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        with socket.socket() as s:
            if s.connect_ex(("127.0.0.1", port)) == 0:
                return
        time.sleep(0.1)
    raise AssertionError("nothing listens on port %d" % port)


class HostKeyTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quenlor-hostkeys-")
        self.known = os.path.join(self.dir, "known_hosts")
        self.servers = []

    def tearDown(self):
        for server in self.servers:
            server.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    # -- pieces --------------------------------------------------------------
    def read_known(self):
        if not os.path.exists(self.known):
            return ""
        with open(self.known) as f:
            return f.read()

    def answer_prompt(self, s, name, key_type, fingerprint, answer):
        t = s.term
        t.wait_for_text("Trust this key and connect (yes/no)?", LOGIN_TIMEOUT)
        screen = t.screen()
        self.assertIn("The host %s is not known yet." % name, screen)
        self.assertIn("Its %s key: %s" % (key_type, fingerprint), screen)
        if answer == "Escape":
            t.send_keys("Escape")
        else:
            t.send_text(answer)
            t.send_keys("Enter")

    def start_second_sshd(self):
        key = os.path.join(self.dir, "new_host_dsa")
        run("ssh-keygen", "-q", "-t", "dsa", "-b", "1024", "-N", "", "-f", key)
        with open(os.path.join(PEERS.PEERS_STATE, "sshd.conf")) as f:
            conf = f.read()
        conf = re.sub(r"(?m)^Port .*$", "Port %d" % SECOND_SSHD_PORT, conf)
        conf = re.sub(r"(?m)^HostKey .*$", "HostKey %s" % key, conf)
        conf = re.sub(r"(?m)^PidFile .*$", "PidFile %s/sshd2.pid" % self.dir, conf)
        path = os.path.join(self.dir, "sshd2.conf")
        with open(path, "w") as f:
            f.write(conf)
        server = Server(["/usr/sbin/sshd", "-D", "-e", "-f", path],
                        os.path.join(self.dir, "sshd2.log"))
        self.servers.append(server)
        wait_port(SECOND_SSHD_PORT)
        return server, key

    # -- SSH-2 -----------------------------------------------------------------
    def test_ssh2_first_sight_then_known_and_shared_with_openssh(self):
        name = "[127.0.0.1]:%d" % PEERS.SSHD_PORT
        fingerprint = keygen_fingerprint(PEERS.HOST_DSA_KEY)
        with PeerSession(config(ssh2(), self.known), "peer") as s:
            self.answer_prompt(s, name, "ssh-dss", fingerprint, "yes")
            s.shell_and_exit("first")
        self.assertEqual(self.read_known(),
                         "%s %s\n" % (name, keygen_public(PEERS.HOST_DSA_KEY)))
        found = run("ssh-keygen", "-F", name, "-f", self.known)
        self.assertEqual(found.returncode, 0, found.stdout + found.stderr)
        self.assertIn("found: line 1", found.stdout)

        # Known now: straight to the shell, the file untouched.
        with PeerSession(config(ssh2(), self.known), "peer") as s:
            s.shell_and_exit("second")
            self.assertNotIn("not known", s.term.screen())
        self.assertEqual(len(self.read_known().splitlines()), 1)

        # Debian's ssh trusts what Quenlor recorded ...
        ssh = ["ssh", "-o", "BatchMode=yes", "-o", "KexAlgorithms=diffie-hellman-group1-sha1",
               "-o", "HostKeyAlgorithms=ssh-dss", "-o", "PubkeyAcceptedAlgorithms=ssh-dss",
               "-c", "3des-cbc", "-m", "hmac-sha1", "-i", PEERS.USER_DSA_KEY,
               "-o", "IdentitiesOnly=yes", "-p", str(PEERS.SSHD_PORT)]
        out = run(*ssh, "-o", "StrictHostKeyChecking=yes", "-o", "UserKnownHostsFile=" +
                  self.known, "%s@127.0.0.1" % PEERS.TEST_USER, "echo shared-$((6*7))")
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn("shared-42", out.stdout)

        # ... and Quenlor, strict, trusts what Debian's ssh recorded (hashed).
        openssh_known = os.path.join(self.dir, "openssh_known_hosts")
        out = run(*ssh, "-o", "StrictHostKeyChecking=accept-new", "-o", "HashKnownHosts=yes",
                  "-o", "UserKnownHostsFile=" + openssh_known,
                  "%s@127.0.0.1" % PEERS.TEST_USER, "true")
        self.assertEqual(out.returncode, 0, out.stderr)
        with open(openssh_known) as f:
            self.assertTrue(f.read().startswith("|1|"))
        with PeerSession(config(ssh2(), openssh_known, "strict"),
                         "peer") as s:
            s.shell_and_exit("hashed")

    def test_ssh2_changed_key_is_refused_before_authentication(self):
        server, new_key = self.start_second_sshd()
        name = "[127.0.0.1]:%d" % SECOND_SSHD_PORT
        # The name is recorded with the key the first server has: to the
        # client this one is the same host with a new key.
        with open(self.known, "w") as f:
            f.write("# first line\n%s %s\n" % (name, keygen_public(PEERS.HOST_DSA_KEY)))
        before = self.read_known()
        with PeerSession(config(ssh2(SECOND_SSHD_PORT), self.known),
                         "peer") as s:
            s.fails_with("The host key of %s has CHANGED!" % name,
                         "Old key: %s, line 2" % self.known,
                         "New key: ssh-dss %s" % keygen_fingerprint(new_key),
                         "ssh-keygen -R '%s' -f %s" % (name, self.known))
        self.assertEqual(self.read_known(), before)
        # The server saw the connection end before any user authentication.
        deadline = time.monotonic() + 10
        while "preauth" not in server.text() and time.monotonic() < deadline:
            time.sleep(0.1)
        log = server.text()
        self.assertIn("preauth", log)
        self.assertNotRegex(log, r"(?i)password|Accepted|Failed|invalid user|"
                                 r"authenticating user")

    def test_modes_that_never_ask(self):
        name = "[127.0.0.1]:%d" % PEERS.SSHD_PORT
        # strict refuses an unknown host, off connects without a file.
        with PeerSession(config(ssh2(), self.known, "strict"), "peer") as s:
            s.fails_with("Unknown host %s refused: HOST_KEY_CHECK is strict." % name,
                         "Key: ssh-dss %s" % keygen_fingerprint(PEERS.HOST_DSA_KEY))
        with PeerSession(config(ssh2(), self.known, "off"), "peer") as s:
            s.shell_and_exit("off")
        self.assertFalse(os.path.exists(self.known))
        # accept-new records the key without asking.
        with PeerSession(config(ssh2(), self.known, "accept-new"), "peer") as s:
            s.shell_and_exit("new")
        self.assertEqual(run("ssh-keygen", "-F", name, "-f", self.known).returncode, 0)

    def test_ssh2_escape_and_no_end_the_session(self):
        name = "[127.0.0.1]:%d" % PEERS.SSHD_PORT
        fingerprint = keygen_fingerprint(PEERS.HOST_DSA_KEY)
        for answer in ("Escape", "no"):
            with PeerSession(config(ssh2(), self.known), "peer") as s:
                self.answer_prompt(s, name, "ssh-dss", fingerprint, answer)
                s.fails_with("The host key of %s was not accepted" % name)
        self.assertFalse(os.path.exists(self.known))

    def test_two_sessions_ask_independently_and_record_once(self):
        name = "[127.0.0.1]:%d" % PEERS.SSHD_PORT
        fingerprint = keygen_fingerprint(PEERS.HOST_DSA_KEY)
        with PeerSession(config(ssh2(), self.known), "peer", "peer") as s:
            t = s.term
            # Both sessions reach the question before either is answered.
            for switch in (False, True):
                if switch:
                    t.send_keys("M-n")
                t.wait_for_text("Trust this key and connect (yes/no)?", LOGIN_TIMEOUT)
                self.assertNotIn(PROMPT, t.screen())
            self.assertEqual(self.read_known(), "")
            for switch in (False, True):
                if switch:
                    t.send_keys("M-n")
                    t.wait_for_text("Trust this key and connect (yes/no)?")
                self.answer_prompt(s, name, "ssh-dss", fingerprint, "yes")
                s.wait_prompt(LOGIN_TIMEOUT)
        self.assertEqual(self.read_known(),
                         "%s %s\n" % (name, keygen_public(PEERS.HOST_DSA_KEY)))

    # -- SSH-1 -----------------------------------------------------------------
    def test_ssh1_first_sight_then_known(self):
        name = "[127.0.0.1]:%d" % PEERS.SSH1_PORT
        e, n = rsa1_numbers(PEERS.SSH1_HOST_KEY)
        with PeerSession(config(ssh1(), self.known), "peer") as s:
            self.answer_prompt(s, name, "rsa1", rsa1_fingerprint(e, n), "yes")
            s.shell_and_exit("first")
        self.assertEqual(self.read_known(), "%s %d %d %d\n" % (name, n.bit_length(), e, n))
        with PeerSession(config(ssh1(), self.known), "peer") as s:
            s.shell_and_exit("second")
            self.assertNotIn("not known", s.term.screen())

    def test_ssh1_changed_key_is_refused(self):
        new_key = os.path.join(self.dir, "new_ssh1_host.pem")
        self.servers.append(Server(
            [PEERS.PEERS_PYTHON, os.path.join(PEERS.PEERS_DIR, "ssh1_peer.py"),
             "--port", str(SECOND_SSH1_PORT), "--user", PEERS.TEST_USER,
             "--password", PEERS.TEST_PASSWORD, "--host-key", new_key],
            os.path.join(self.dir, "ssh1.log")))
        wait_port(SECOND_SSH1_PORT)
        name = "[127.0.0.1]:%d" % SECOND_SSH1_PORT
        e, n = rsa1_numbers(PEERS.SSH1_HOST_KEY)
        with open(self.known, "w") as f:
            f.write("%s %d %d %d\n" % (name, n.bit_length(), e, n))
        new_e, new_n = rsa1_numbers(new_key)
        with PeerSession(config(ssh1(SECOND_SSH1_PORT), self.known),
                         "peer") as s:
            s.fails_with("The host key of %s has CHANGED!" % name,
                         "Old key: %s, line 1" % self.known,
                         "New key: rsa1 %s" % rsa1_fingerprint(new_e, new_n))


if __name__ == "__main__":
    unittest.main()
