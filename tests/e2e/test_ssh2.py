"""SSH protocol 2 sessions end to end: Quenlor in tmux (80x25) against the
SSH-2 peers of tests/peers: Debian's openssh-server (group 1, ssh-dss,
3des-cbc, hmac-sha1/hmac-md5, password and DSA key logins), the same sshd
without group 1, and the npm ssh2 server for Blowfish, CAST-128 and RC4."""

import re
import unittest

from harness import LOGIN_TIMEOUT, PASSWORD, PEERS, PeerSession, ssh2, ssh_config

DSA = "dsa:" + PEERS.USER_DSA_KEY


def numbers_in_log(s, count):
    """The first `count` lines of `seq 1 count` in the session's raw log (the
    pty makes each line end CR LF)."""
    log = s.read("raw.log")
    start = log.index(b"\r\n1\r\n2\r\n3\r\n") + 2
    return log[start:].split(b"\r\n")[:count]


class Ssh2SessionTest(unittest.TestCase):
    def test_password_login_long_output_and_exit(self):
        with PeerSession(ssh_config(ssh2(), PASSWORD, extra="    LOG_FILE=full:raw.log\n"),
                         "peer") as s:
            s.wait_prompt(LOGIN_TIMEOUT)
            self.assertEqual(s.term.title(), "Quenlor - (1): peer")
            # 1 288 895 bytes: the 16 KB window is re-opened about 150 times.
            s.command("seq 1 200000")
            s.term.wait_for(lambda: re.search(r"^200000\s*$", s.term.screen(), re.M),
                            "the last number", 60)
            lines = [l.rstrip() for l in s.term.lines()]
            end = lines.index("200000")
            self.assertEqual(lines[end - 3:end + 1], ["199997", "199998", "199999", "200000"])
            s.shell_and_exit("hello")
            # Every number arrived, in order, exactly once.
            self.assertEqual(numbers_in_log(s, 200000),
                             [str(i).encode() for i in range(1, 200001)])

    def test_dsa_key_login(self):
        with PeerSession(ssh_config(ssh2(), DSA), "peer") as s:
            s.shell_and_exit("dsa")

    def test_prompts_for_user_and_password(self):
        with PeerSession(ssh_config(ssh2(), "pwd:", user=False), "peer") as s:
            t = s.term
            for prompt, answer in (("Login on 127.0.0.1 as user:", PEERS.TEST_USER),
                                   ("%s@127.0.0.1's password:" % PEERS.TEST_USER,
                                    PEERS.TEST_PASSWORD)):
                t.wait_for_text(prompt)
                t.send_text(answer)
                t.send_keys("Enter")
            s.wait_prompt(LOGIN_TIMEOUT)
            self.assertNotIn(PEERS.TEST_PASSWORD, t.screen())
            # ALT+Q (window size) sends nothing on protocol 2; the session
            # goes on.
            t.send_keys("M-q")
            s.command("echo after-$((2+2))", "after-4")

    def test_refused_logins(self):
        for port, auth, extra, message in (
                (PEERS.SSHD_PORT, "pwd:not-the-password", "", "access denied: 51"),
                (PEERS.SSHD_PORT, "dsa:/nonexistent/id_dsa", "",
                 "key does not exist: /nonexistent/id_dsa"),
                # A client held to group 1 meets a server without it.
                (PEERS.SSHD_NOKEX_PORT, PASSWORD, "    SSH_KEX=diffie-hellman-group1-sha1\n",
                 "no kex alg")):
            with self.subTest(message=message), \
                    PeerSession(ssh_config(ssh2(port), auth, extra=extra), "peer") as s:
                s.fails_with(message)

    def test_each_cipher_and_mac(self):
        """The one-algorithm ports of the npm ssh2 server (openssh-server 9.2
        has only 3des-cbc left), with enough output to need several window
        adjustments."""
        for port, auth, tag in ((PEERS.SSH2JS_PORT, PASSWORD, "tdes"),
                                (PEERS.SSH2JS_BLOWFISH_PORT, PASSWORD, "blowfish"),
                                (PEERS.SSH2JS_CAST128_PORT, PASSWORD, "cast"),
                                (PEERS.SSH2JS_ARCFOUR_PORT, DSA, "arcfour"),
                                (PEERS.SSH2JS_HMACMD5_PORT, DSA, "md5")):
            with self.subTest(tag=tag), PeerSession(ssh_config(ssh2(port), auth), "peer") as s:
                s.wait_prompt(LOGIN_TIMEOUT)
                s.command("seq 1 20000 | tail -n 1 | sed s/^/n=/", "n=20000", 30)
                s.shell_and_exit(tag)


if __name__ == "__main__":
    unittest.main()
