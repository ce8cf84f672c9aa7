"""SSH protocol 1 sessions end to end: Quenlor in tmux (80x25) against the
SSH-1 peer of tests/peers (3DES and Blowfish, password and RSA logins, a
shell on a pseudo-terminal, a record of the terminal sizes it was told),
and the same peer without the 3DES bit."""

import os
import unittest

from telnet_support import BANNER_END, PEERS, PeerSession

LOGIN_TIMEOUT = 30


def ssh1_config(port, auth):
    """A configuration whose host "peer" is the SSH-1 peer on `port`."""
    return ("TERM=cons25r\nMAX_SCROLL_SIZE=1000\n"
            # Each session trusts its server on first sight, recording it in a
            # known-hosts file of the test's own folder (the program runs there).
            "HOST_KEY_CHECK=accept-new\nKNOWN_HOSTS=known_hosts\n"
            "INCOMING_RECODE_TABLE=koi8r_alt\nOUTGOING_RECODE_TABLE=alt_koi8r\n"
            "DEFINE_HOST peer {\n    ADDRESS=ssh:127.0.0.1:%d\n    USER=%s\n"
            "    SSH_AUTH=%s\n}\n" % (port, PEERS.TEST_USER, auth))


def password_auth(password=None):
    return "pwd:" + (PEERS.TEST_PASSWORD if password is None else password)


def key_auth():
    return "rsa:" + PEERS.USER_RSA1_KEY


class SizeRecord:
    """The lines the peer adds to its terminal-size record from now on."""

    def __init__(self):
        self.path = PEERS.SSH1_PTY_FILE
        self.start = os.path.getsize(self.path) if os.path.exists(self.path) else 0

    def lines(self):
        with open(self.path, "rb") as f:
            f.seek(self.start)
            return f.read().decode().splitlines()


class Ssh1SessionTest(unittest.TestCase):
    def test_password_login_data_window_size_and_exit(self):
        record = SizeRecord()
        with PeerSession(ssh1_config(PEERS.SSH1_PORT, password_auth()), "peer") as s:
            t = s.term
            s.wait_prompt(LOGIN_TIMEOUT)
            self.assertEqual(t.title(), "Quenlor - (1): peer")
            # The peer's standard-error message came before the prompt.
            self.assertIn(PEERS.SSH1_BANNER, t.screen())
            # The pseudo-terminal got the screen's rows and columns.
            self.assertEqual(record.lines(), ["pty cons25r 25 80"])
            s.command("echo hello-$((6*7))", "hello-42")
            s.wait_prompt()
            s.command("seq 1 3000 | tail -n 2")
            t.wait_for(lambda: "2999" in t.screen() and "3000" in t.screen(), "the last lines")
            s.wait_prompt()
            # ALT+Q tells the server 10 rows and 80 columns; the shell sees it.
            t.send_keys("M-q")
            t.wait_for(lambda: record.lines()[-1:] == ["window 10 80"], "the window record")
            s.command("stty size", "10 80")
            s.wait_prompt()
            # `exit` ends the shell; its exit status ends the session.
            s.command("exit")
            t.wait_for_text(BANNER_END, LOGIN_TIMEOUT)
            t.wait_for(lambda: t.title() == "Quenlor", "the title Quenlor")

    def test_rsa_key_login(self):
        with PeerSession(ssh1_config(PEERS.SSH1_PORT, key_auth()), "peer") as s:
            s.wait_prompt(LOGIN_TIMEOUT)
            s.command("echo rsa-$((6*7))", "rsa-42")
            s.wait_prompt()
            s.command("exit")
            s.term.wait_for_text(BANNER_END, LOGIN_TIMEOUT)

    def assert_fails_with(self, cfg, message):
        with PeerSession(cfg, "peer") as s:
            t = s.term
            t.wait_for_text("Press Enter to close...", LOGIN_TIMEOUT)
            self.assertIn("Exception: " + message, t.screen())
            t.send_keys("Enter")
            t.wait_for_text(BANNER_END)

    def test_wrong_password_is_refused(self):
        self.assert_fails_with(ssh1_config(PEERS.SSH1_PORT, password_auth("not-the-password")),
                               "Permission denied.")

    def test_server_without_3des(self):
        self.assert_fails_with(ssh1_config(PEERS.SSH1_NO3DES_PORT, password_auth()),
                               "Selected cipher type 3des not supported by server.")


if __name__ == "__main__":
    unittest.main()
