"""SSH-2 logins end to end beyond the single password or DSA key: Quenlor in
tmux against Debian's sshd allowing keyboard-interactive (PAM) only, public
keys of every type made by ssh-keygen (OpenSSH, PEM and PKCS #8 files,
encrypted and not, passphrases at the in-session prompt), and the keys of
Debian's ssh-agent."""

import os
import shutil
import subprocess
import unittest

import harness
from telnet_support import BANNER_END, PEERS, PeerSession
from test_ssh2 import LOGIN_TIMEOUT, ssh2_config


class AgentSession(PeerSession):
    """Quenlor started with SSH_AUTH_SOCK naming `socket`."""

    def __init__(self, cfg, socket, *args):
        super().__init__(cfg, *args)
        self.socket = socket

    def __enter__(self):
        self.term.start()
        self.term.shell("export SSH_AUTH_SOCK='%s'" % self.socket)
        self.term.clear()
        self.term.run(self.program, *self.args)
        return self


class Ssh2AuthTest(unittest.TestCase):
    def check_shell(self, s, tag):
        s.wait_prompt(LOGIN_TIMEOUT)
        s.command("echo %s-$((6*7))" % tag, "%s-42" % tag)
        s.wait_prompt()
        s.command("exit")
        s.term.wait_for_text(BANNER_END, LOGIN_TIMEOUT)

    def assert_fails_with(self, s, message):
        t = s.term
        t.wait_for_text("Press Enter to close...", LOGIN_TIMEOUT)
        self.assertIn(message, t.screen())
        t.send_keys("Enter")
        t.wait_for_text(BANNER_END)

    # --- keyboard-interactive ---

    def test_keyboard_interactive_with_the_configured_password(self):
        cfg = ssh2_config(PEERS.SSHD_KBDINT_PORT, "pwd:" + PEERS.TEST_PASSWORD)
        with PeerSession(cfg, "peer") as s:
            self.check_shell(s, "kbd")

    def test_keyboard_interactive_prompts_after_a_refusal(self):
        cfg = ssh2_config(PEERS.SSHD_KBDINT_PORT, "pwd:")
        with PeerSession(cfg, "peer") as s:
            t = s.term
            t.wait_for_text("%s@127.0.0.1's password:" % PEERS.TEST_USER)
            t.send_text("wrong-password")
            t.send_keys("Enter")
            # PAM's own prompt, asked in the session without echo.
            t.wait_for(lambda: t.screen().rstrip().endswith("Password:"), "PAM's prompt",
                       LOGIN_TIMEOUT)
            t.send_text(PEERS.TEST_PASSWORD)
            t.send_keys("Enter")
            s.wait_prompt(LOGIN_TIMEOUT)
            self.assertNotIn(PEERS.TEST_PASSWORD, t.screen())
            self.assertNotIn("wrong-password", t.screen())
            s.command("echo kbd-$((2+3))", "kbd-5")

    # --- key files ---

    def key_login(self, form, passphrase):
        cfg = ssh2_config(PEERS.SSHD_KEYS_PORT, form)
        with PeerSession(cfg, "peer") as s:
            t = s.term
            if passphrase:
                t.wait_for_text("Enter passphrase for key", LOGIN_TIMEOUT)
                t.send_text(passphrase)
                t.send_keys("Enter")
            self.check_shell(s, "key")

    def test_key_files_of_every_type_and_format(self):
        pw = PEERS.USER_KEY_PASSPHRASE
        cases = [
            ("key:" + PEERS.USER_ED25519_KEY, None),
            ("key:" + PEERS.USER_ED25519_ENC_KEY, pw),
            ("key:" + PEERS.USER_ECDSA256_KEY, None),
            ("key:" + PEERS.USER_ECDSA384_KEY, pw),
            ("key:" + PEERS.USER_ECDSA521_KEY, pw),
            ("key:" + PEERS.USER_RSA_KEY, pw),
            ("rsa:" + PEERS.USER_RSA_PEM_KEY, pw),
            ("dsa:" + PEERS.USER_DSA_KEY, None),
        ]
        for form, passphrase in cases:
            with self.subTest(form=form):
                self.key_login(form, passphrase)

    def test_escape_at_the_passphrase_gives_up_the_key(self):
        cfg = ssh2_config(PEERS.SSHD_KEYS_PORT, "key:" + PEERS.USER_RSA_KEY)
        with PeerSession(cfg, "peer") as s:
            s.term.wait_for_text("Enter passphrase for key", LOGIN_TIMEOUT)
            s.term.send_keys("Escape")
            # The server allows nothing else.
            self.assert_fails_with(s, "access denied: 51")

    # --- the agent ---

    def test_agent_login(self):
        folder = harness.temp_dir()
        socket = os.path.join(folder, "agent.sock")
        out = subprocess.run(["ssh-agent", "-a", socket, "-s"], capture_output=True, text=True,
                             timeout=10, check=True).stdout
        pid = int(out.split("SSH_AGENT_PID=")[1].split(";")[0])
        try:
            env = dict(os.environ, SSH_AUTH_SOCK=socket)
            subprocess.run(["ssh-add", "-q", PEERS.USER_AGENT_KEY], env=env, check=True,
                           timeout=10, capture_output=True)
            cfg = ssh2_config(PEERS.SSHD_KEYS_PORT, "agent")
            with AgentSession(cfg, socket, "peer") as s:
                self.check_shell(s, "agent")
        finally:
            os.kill(pid, 15)
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
