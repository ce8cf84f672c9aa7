"""SSH-2 algorithms end to end: Quenlor in tmux (80x25) against Debian's
openssh-server (tests/peers/start-sshd-modern.sh). Against the sshd that
offers everything, Quenlor's own offer is cut to one algorithm of one kind
(SSH_KEX, SSH_HOSTKEYS, SSH_CIPHERS, SSH_MACS), so each login runs exactly
that algorithm; the error log names what was chosen. A server with Debian's
defaults and one offering only group14-sha1/ssh-rsa/aes128-cbc/hmac-sha1 are
reached with no algorithm settings at all."""

import os
import unittest

from telnet_support import BANNER_END, PEERS, PROMPT, PeerSession

LOGIN_TIMEOUT = 60
ERROR_LOG = "quenlor-errors.log"

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


def ssh2_config(port, extra=""):
    return ("TERM=cons25r\nMAX_SCROLL_SIZE=100\n"
            "DEFINE_HOST peer {\n    ADDRESS=ssh2:127.0.0.1:%d\n    USER=%s\n"
            "    SSH_AUTH=pwd:%s\n%s}\n" % (port, PEERS.TEST_USER, PEERS.TEST_PASSWORD, extra))


class LoggedSession(PeerSession):
    """A session whose program runs in its own directory, so that its error
    log is found there."""

    def __enter__(self):
        self.term.start()
        self.term.shell("cd '%s'" % self.dir)
        self.term.run(self.program, *self.args)
        return self

    def chosen(self):
        """The algorithms line of the error log."""
        with open(self.path(ERROR_LOG), errors="replace") as f:
            lines = [l.strip() for l in f if "SSH2 algorithms: " in l]
        return lines[-1].split("SSH2 algorithms: ", 1)[1] if lines else ""


class Ssh2AlgorithmsTest(unittest.TestCase):
    def login_and_check(self, port, extra=""):
        """Logs in, runs a command, exits; returns the chosen algorithms."""
        with LoggedSession(ssh2_config(port, extra), "peer") as s:
            s.wait_prompt(LOGIN_TIMEOUT)
            s.command("echo ok-$((6*7))", "ok-42")
            s.wait_prompt()
            s.command("exit")
            s.term.wait_for_text(BANNER_END, LOGIN_TIMEOUT)
            return s.chosen()

    def each(self, key, names, extra=""):
        for name in names:
            with self.subTest(**{key: name}):
                chosen = self.login_and_check(PEERS.SSHD_MODERN_PORT,
                                              "    %s=%s\n%s" % (key, name, extra))
                self.assertIn(name, chosen.replace(",", " ").split())

    def test_every_key_exchange(self):
        self.each("SSH_KEX", KEX)

    def test_every_host_key_algorithm(self):
        self.each("SSH_HOSTKEYS", HOSTKEYS)

    def test_every_cipher(self):
        self.each("SSH_CIPHERS", CIPHERS)

    def test_every_mac(self):
        # With a block cipher, so that the MAC is in use.
        self.each("SSH_MACS", MACS, "    SSH_CIPHERS=aes128-ctr\n")

    def test_default_server_without_algorithm_settings(self):
        chosen = self.login_and_check(PEERS.SSHD_DEFAULT_PORT)
        # Both sides' first choices: nothing legacy.
        self.assertTrue(chosen.startswith("curve25519-sha256 ssh-ed25519, "
                                          "chacha20-poly1305@openssh.com <implicit> out"),
                        chosen)

    def test_old_gear_offering_one_algorithm_of_each_kind(self):
        chosen = self.login_and_check(PEERS.SSHD_GEAR_PORT)
        self.assertEqual(chosen, "diffie-hellman-group14-sha1 ssh-rsa, aes128-cbc hmac-sha1 out, "
                                 "aes128-cbc hmac-sha1 in")

    def test_unknown_algorithm_is_a_config_error(self):
        with LoggedSession(ssh2_config(PEERS.SSHD_MODERN_PORT,
                                       "    SSH_CIPHERS=aes128-ctr,rot13\n"), "peer") as s:
            s.term.wait_for_text("Config error. Unknown SSH algorithm for SSH_CIPHERS: rot13.")


if __name__ == "__main__":
    unittest.main()
