"""Modern hosts end to end: UTF-8 text both ways on the telnet peer, the
terminal's size reaching telnet and SSH-2 hosts when the tmux window
changes (SSH-1 in test_ssh1.py), the status line with the cipher, and the
mouse wheel opening the scroll-back. Several checks share one tmux start."""

import re
import unittest

from harness import PEERS, PROMPT, TRUST_NEW, PeerSession

LOGIN_TIMEOUT = 30
WHEEL_UP = "\x1b[<64;5;5M"
WHEEL_DOWN = "\x1b[<65;5;5M"


def host_config(address, extra=""):
    return ("TERM=cons25r\nMAX_SCROLL_SIZE=1000\n" + TRUST_NEW +
            "INCOMING_RECODE_TABLE=utf-8\nOUTGOING_RECODE_TABLE=utf-8\n"
            "DEFINE_HOST peer {\n    ADDRESS=%s\n%s}\n" % (address, extra))


def resize(term, width, height):
    term.tmux("resize-window", "-t", "main", "-x", str(width), "-y", str(height))
    term.width, term.height = width, height


def status_row(term):
    return term.screen().rstrip("\n").split("\n")[-1]


def wait_prompt(s, status):
    """The shell prompt at the end of the session's rows (above the status
    row while that is shown)."""
    t = s.term
    t.wait_for(lambda: "\n".join(t.lines()[:-1] if status else t.lines()).rstrip()
               .endswith(PROMPT), "the shell prompt")


class ModernHostsTest(unittest.TestCase):
    def stty(self, s, want, status=False):
        s.command("clear; stty size", want)
        wait_prompt(s, status)

    def test_telnet_utf8_resize_status_and_wheel(self):
        with PeerSession(host_config("telnet:127.0.0.1:%d" % PEERS.TELNET_PORT), "peer") as s:
            t = s.term
            s.login()
            s.command("export LC_ALL=C.UTF-8")
            s.wait_prompt()
            # Printed: UTF-8 from the host shows as the characters.
            s.command(r"printf '\320\226\321\203\320\272 \342\224\200\342\224\220|\n'", "Жук ─┐|")
            s.wait_prompt()
            # Typed: the host receives UTF-8 (six characters, not twelve bytes).
            s.command("read x; echo \"got:$x:${#x}\"")
            t.send_text("Привет")
            t.send_keys("Enter")
            t.wait_for_text("got:Привет:6")
            s.wait_prompt()

            self.stty(s, "25 80")
            resize(t, 100, 30)
            self.stty(s, "30 100")

            # The status row comes out of the screen: the host is told.
            t.send_keys("M-t")
            t.wait_for(lambda: "(1) peer  telnet  telnet  connected" in status_row(t),
                       "the status line")
            self.assertIn("[1 open]", status_row(t))
            self.stty(s, "29 100", True)

            # The wheel pages back through what scrolled off, and back down
            # closes the viewer.
            s.command("clear; seq 1 300", "300")
            wait_prompt(s, True)
            shown = [int(l) for l in t.lines() if re.fullmatch(r"\d+", l.strip())]
            self.assertNotIn(shown[0] - 6, shown)
            t.send_text(WHEEL_UP)
            t.send_text(WHEEL_UP)
            t.wait_for(lambda: str(shown[0] - 6) in [l.strip() for l in t.lines()],
                       "older lines")
            t.send_text(WHEEL_DOWN)
            t.send_text(WHEEL_DOWN)
            wait_prompt(s, True)
            s.command("echo after-$((6*7))", "after-42")
            wait_prompt(s, True)
            t.send_keys("M-t")
            t.wait_for(lambda: "telnet  connected" not in t.screen(), "the status line gone")
            self.stty(s, "30 100")

    def test_ssh2_resize_status_cipher_and_vim(self):
        cfg = host_config("ssh2:127.0.0.1:%d" % PEERS.SSHD_PORT,
                          "    USER=%s\n    SSH_AUTH=pwd:%s\n" % (PEERS.TEST_USER,
                                                               PEERS.TEST_PASSWORD))
        with PeerSession(cfg, "peer") as s:
            t = s.term
            s.wait_prompt(LOGIN_TIMEOUT)
            self.stty(s, "25 80")
            resize(t, 90, 28)
            self.stty(s, "28 90")
            t.send_keys("M-t")
            t.wait_for(lambda: re.search(r"\(1\) peer  ssh2  (\S+)  connected", status_row(t)),
                       "the status line")
            cipher = re.search(r"ssh2  (\S+)  connected", status_row(t)).group(1)
            self.assertRegex(cipher, r"^(aes\d+-(ctr|cbc)|3des-cbc|blowfish-cbc|cast128-cbc|"
                                     r"arcfour\d*|chacha20-poly1305@openssh.com|"
                                     r"aes\d+-gcm@openssh.com)$")
            self.stty(s, "27 90", True)
            # A full-screen program redraws for the new size.
            s.command("vim -u NONE -N")
            t.wait_for(lambda: t.lines()[25].startswith("~"), "vim's empty lines")
            resize(t, 100, 32)
            t.wait_for(lambda: t.lines()[29].startswith("~") and not t.lines()[30].startswith("~"),
                       "vim redrawn at 31 rows")
            # vim is in normal mode already; an ESC here would join the ":"
            # that follows it into one ALT chord.
            t.send_text(":q")
            t.send_keys("Enter")
            wait_prompt(s, True)
            self.stty(s, "31 100", True)


if __name__ == "__main__":
    unittest.main()
