"""SSH protocol 2 sessions end to end: Quenlor in tmux (80x25) against the
SSH-2 peers of tests/peers: Debian's openssh-server (group 1, ssh-dss,
3des-cbc, hmac-sha1/hmac-md5, password and DSA key logins), the same sshd
without group 1, and the npm ssh2 server for Blowfish, CAST-128 and RC4."""

import os
import re
import time
import unittest

from telnet_support import BANNER_END, PEERS, PROMPT, PeerSession

LOGIN_TIMEOUT = 30


def ssh2_config(port, auth, user=True, extra=""):
    """A configuration whose host "peer" is an SSH-2 peer on `port`."""
    return ("TERM=cons25r\nMAX_SCROLL_SIZE=1000\n"
            # Each session trusts its server on first sight, recording it in a
            # known-hosts file of the test's own folder (the program runs there).
            "HOST_KEY_CHECK=accept-new\nKNOWN_HOSTS=known_hosts\n"
            "INCOMING_RECODE_TABLE=koi8r_alt\nOUTGOING_RECODE_TABLE=alt_koi8r\n"
            "DEFINE_HOST peer {\n    ADDRESS=ssh2:127.0.0.1:%d\n%s    SSH_AUTH=%s\n%s}\n"
            % (port, ("    USER=%s\n" % PEERS.TEST_USER) if user else "", auth, extra))


def password_auth():
    return "pwd:" + PEERS.TEST_PASSWORD


def key_auth():
    return "dsa:" + PEERS.USER_DSA_KEY


class Ssh2SessionTest(unittest.TestCase):
    def check_shell(self, s, tag):
        """The shell runs a command and shows its output; `exit` ends the
        session and its screen."""
        s.wait_prompt(LOGIN_TIMEOUT)
        self.assertEqual(s.term.title(), "Quenlor - (1): peer")
        s.command("echo %s-$((6*7))" % tag, "%s-42" % tag)
        s.wait_prompt()
        s.command("exit")
        s.term.wait_for_text(BANNER_END, LOGIN_TIMEOUT)
        s.term.wait_for(lambda: s.term.title() == "Quenlor", "the title Quenlor")

    def test_password_login_long_output_and_exit(self):
        with PeerSession(ssh2_config(PEERS.SSHD_PORT, password_auth(),
                                     extra="    LOG_FILE=full:raw.log\n"), "peer") as s:
            s.wait_prompt(LOGIN_TIMEOUT)
            s.command("echo hello-$((6*7))", "hello-42")
            s.wait_prompt()
            # 1 288 895 bytes: the 16 KB window is re-opened about 150 times.
            s.command("seq 1 200000")
            s.term.wait_for(lambda: re.search(r"^200000\s*$", s.term.screen(), re.M),
                            "the last number", 60)
            s.wait_prompt(30)
            lines = [l.rstrip() for l in s.term.lines()]
            end = lines.index("200000")
            self.assertEqual(lines[end - 3:end + 1], ["199997", "199998", "199999", "200000"])
            s.command("exit")
            s.term.wait_for_text(BANNER_END, LOGIN_TIMEOUT)
            # Every number arrived, in order, exactly once (the pty makes
            # each line end CR LF).
            with open(s.path("raw.log"), "rb") as f:
                log = f.read()
            start = log.index(b"\r\n1\r\n2\r\n3\r\n") + 2
            numbers = log[start:].split(b"\r\n")[:200000]
            self.assertEqual(numbers, [str(i).encode() for i in range(1, 200001)])

    def test_dsa_key_login(self):
        with PeerSession(ssh2_config(PEERS.SSHD_PORT, key_auth()), "peer") as s:
            self.check_shell(s, "dsa")

    def test_prompts_for_user_and_password(self):
        with PeerSession(ssh2_config(PEERS.SSHD_PORT, "pwd:", user=False), "peer") as s:
            t = s.term
            t.wait_for_text("Login on 127.0.0.1 as user:")
            t.send_text(PEERS.TEST_USER)
            t.send_keys("Enter")
            t.wait_for_text("%s@127.0.0.1's password:" % PEERS.TEST_USER)
            t.send_text(PEERS.TEST_PASSWORD)
            t.send_keys("Enter")
            s.wait_prompt(LOGIN_TIMEOUT)
            self.assertNotIn(PEERS.TEST_PASSWORD, t.screen())
            # ALT+Q (window size) sends nothing on protocol 2; the session
            # goes on.
            t.send_keys("M-q")
            s.command("echo after-$((2+2))", "after-4")

    def assert_fails_with(self, cfg, message):
        with PeerSession(cfg, "peer") as s:
            t = s.term
            t.wait_for_text("Press Enter to close...", LOGIN_TIMEOUT)
            self.assertIn(message, t.screen())
            t.send_keys("Enter")
            t.wait_for_text(BANNER_END)

    def test_wrong_password_is_refused(self):
        self.assert_fails_with(ssh2_config(PEERS.SSHD_PORT, "pwd:not-the-password"),
                               "access denied: 51")

    def test_missing_key_file_ends_the_login_at_once(self):
        self.assert_fails_with(ssh2_config(PEERS.SSHD_PORT, "dsa:/nonexistent/id_dsa"),
                               "key does not exist: /nonexistent/id_dsa")

    def test_server_without_group1_key_exchange(self):
        # A client held to group 1 meets a server without it.
        self.assert_fails_with(
            ssh2_config(PEERS.SSHD_NOKEX_PORT, password_auth(),
                        extra="    SSH_KEX=diffie-hellman-group1-sha1\n"), "no kex alg")


class Ssh2AlgorithmTest(unittest.TestCase):
    """Each cipher and MAC against a real server: the one-algorithm ports of
    the npm ssh2 server (openssh-server 9.2 has only 3des-cbc left)."""

    def login_and_run(self, port, auth, tag):
        with PeerSession(ssh2_config(port, auth), "peer") as s:
            s.wait_prompt(LOGIN_TIMEOUT)
            # Enough output to need several window adjustments.
            s.command("seq 1 20000 | tail -n 1; echo %s-$((6*7))" % tag, "%s-42" % tag, 30)
            self.assertIn("20000", s.term.screen())
            s.command("exit")
            s.term.wait_for_text(BANNER_END, LOGIN_TIMEOUT)

    def test_3des_cbc_hmac_sha1(self):
        self.login_and_run(PEERS.SSH2JS_PORT, password_auth(), "tdes")

    def test_blowfish_cbc(self):
        self.login_and_run(PEERS.SSH2JS_BLOWFISH_PORT, password_auth(), "blowfish")

    def test_cast128_cbc(self):
        self.login_and_run(PEERS.SSH2JS_CAST128_PORT, password_auth(), "cast")

    def test_arcfour(self):
        self.login_and_run(PEERS.SSH2JS_ARCFOUR_PORT, key_auth(), "arcfour")

    def test_hmac_md5(self):
        self.login_and_run(PEERS.SSH2JS_HMACMD5_PORT, key_auth(), "md5")


if __name__ == "__main__":
    unittest.main()
