"""SSH-2 logins end to end beyond the single password or DSA key: Quenlor in
tmux against Debian's sshd allowing keyboard-interactive (PAM) only, public
keys of every type made by ssh-keygen (OpenSSH, PEM and PKCS #8 files,
encrypted and not, passphrases at the in-session prompt), and the keys of
Debian's ssh-agent."""

import os
import shutil
import subprocess
import unittest

from harness import LOGIN_TIMEOUT, PASSWORD, PEERS, PeerSession, ssh2, ssh_config, temp_dir


def session(port, auth, **kw):
    return PeerSession(ssh_config(ssh2(port), auth), "peer", **kw)


class Ssh2AuthTest(unittest.TestCase):
    def test_keyboard_interactive_with_the_configured_password(self):
        with session(PEERS.SSHD_KBDINT_PORT, PASSWORD) as s:
            s.shell_and_exit("kbd")

    def test_keyboard_interactive_prompts_after_a_refusal(self):
        with session(PEERS.SSHD_KBDINT_PORT, "pwd:") as s:
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
            s.shell_and_exit("kbd")

    def test_key_files_of_every_type_and_format(self):
        pw = PEERS.USER_KEY_PASSPHRASE
        for form, passphrase in (("key:" + PEERS.USER_ED25519_KEY, None),
                                 ("key:" + PEERS.USER_ED25519_ENC_KEY, pw),
                                 ("key:" + PEERS.USER_ECDSA256_KEY, None),
                                 ("key:" + PEERS.USER_ECDSA384_KEY, pw),
                                 ("key:" + PEERS.USER_ECDSA521_KEY, pw),
                                 ("key:" + PEERS.USER_RSA_KEY, pw),
                                 ("rsa:" + PEERS.USER_RSA_PEM_KEY, pw),
                                 ("dsa:" + PEERS.USER_DSA_KEY, None)):
            with self.subTest(form=form), session(PEERS.SSHD_KEYS_PORT, form) as s:
                if passphrase:
                    s.term.wait_for_text("Enter passphrase for key", LOGIN_TIMEOUT)
                    s.term.send_text(passphrase)
                    s.term.send_keys("Enter")
                s.shell_and_exit("key")

    def test_escape_at_the_passphrase_gives_up_the_key(self):
        with session(PEERS.SSHD_KEYS_PORT, "key:" + PEERS.USER_RSA_KEY) as s:
            s.term.wait_for_text("Enter passphrase for key", LOGIN_TIMEOUT)
            s.term.send_keys("Escape")
            s.fails_with("access denied: 51")  # the server allows nothing else

    def test_agent_login(self):
        folder = temp_dir()
        socket = os.path.join(folder, "agent.sock")
        out = subprocess.run(["ssh-agent", "-a", socket, "-s"], capture_output=True, text=True,
                             timeout=10, check=True).stdout
        pid = int(out.split("SSH_AGENT_PID=")[1].split(";")[0])
        try:
            subprocess.run(["ssh-add", "-q", PEERS.USER_AGENT_KEY], check=True, timeout=10,
                           capture_output=True, env=dict(os.environ, SSH_AUTH_SOCK=socket))
            with session(PEERS.SSHD_KEYS_PORT, "agent", env={"SSH_AUTH_SOCK": socket}) as s:
                s.shell_and_exit("agent")
        finally:
            os.kill(pid, 15)
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
