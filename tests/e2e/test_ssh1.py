"""SSH protocol 1 sessions end to end: Quenlor in tmux (80x25) against the
SSH-1 peer of tests/peers (3DES and Blowfish, password and RSA logins, a
shell on a pseudo-terminal, a record of the terminal sizes it was told),
and the same peer without the 3DES bit."""

import os
import unittest

from harness import LOGIN_TIMEOUT, PASSWORD, PEERS, PeerSession, ssh1, ssh_config


class Ssh1SessionTest(unittest.TestCase):
    def test_password_login_data_window_size_and_exit(self):
        # The lines the peer adds to its terminal-size record from now on.
        path = PEERS.SSH1_PTY_FILE
        start = os.path.getsize(path) if os.path.exists(path) else 0

        def record():
            with open(path, "rb") as f:
                f.seek(start)
                return f.read().decode().splitlines()

        with PeerSession(ssh_config(ssh1(), PASSWORD), "peer") as s:
            t = s.term
            s.wait_prompt(LOGIN_TIMEOUT)
            self.assertEqual(t.title(), "Quenlor - (1): peer")
            # The peer's standard-error message came before the prompt.
            self.assertIn(PEERS.SSH1_BANNER, t.screen())
            # The pseudo-terminal got the screen's rows and columns.
            self.assertEqual(record(), ["pty cons25r 25 80"])
            s.command("seq 1 3000 | tail -n 2 | sed s/^/n=/", "n=3000")
            self.assertIn("n=2999", t.screen())
            s.wait_prompt()
            # ALT+Q tells the server 10 rows and 80 columns; the shell sees it.
            t.send_keys("M-q")
            t.wait_for(lambda: record()[-1:] == ["window 10 80"], "the window record")
            s.command("stty size", "10 80")
            # A new terminal size reaches the server, and so does the row the
            # status line takes from the screen (it names the cipher).
            t.tmux("resize-window", "-t", "main", "-x", "96", "-y", "27")
            t.width, t.height = 96, 27
            t.wait_for(lambda: record()[-1:] == ["window 27 96"], "the resize record")
            t.send_keys("M-t")
            t.wait_for(lambda: "(1) peer  ssh  3des  connected" in t.lines()[-1], "the status")
            t.wait_for(lambda: record()[-1:] == ["window 26 96"], "the status line's row")
            t.send_keys("M-t")
            t.wait_for(lambda: record()[-1:] == ["window 27 96"], "the row given back")
            # `exit` ends the shell; its exit status ends the session.
            s.shell_and_exit("hello")

    def test_rsa_key_login(self):
        with PeerSession(ssh_config(ssh1(), "rsa:" + PEERS.USER_RSA1_KEY), "peer") as s:
            s.shell_and_exit("rsa")

    def test_refused_logins(self):
        for port, auth, message in (
                (PEERS.SSH1_PORT, "pwd:not-the-password", "Permission denied."),
                (PEERS.SSH1_NO3DES_PORT, PASSWORD,
                 "Selected cipher type 3des not supported by server.")):
            with self.subTest(message=message), \
                    PeerSession(ssh_config(ssh1(port), auth), "peer") as s:
                s.fails_with("Exception: " + message)


if __name__ == "__main__":
    unittest.main()
