"""The terminal's side, three sessions of one program with the sample TERM
(tests/data/e2e/terminal.steps): UTF-8 both ways and vim on the telnet peer,
the size reaching telnet, SSH-2 and SSH-1 hosts on resize and ALT+Q, the
status line with the cipher taking a row, the wheel opening the scroll-back."""

import os
import re
import unittest

from harness import LOGIN, PEERS, ROOT, PeerSession, host

STEPS = "terminal.steps"
CIPHER = (r"aes\d+-(ctr|cbc)|3des-cbc|blowfish-cbc|cast128-cbc|arcfour\d*|"
          r"chacha20-poly1305@openssh.com|aes\d+-gcm@openssh.com")


class TerminalTest(unittest.TestCase):
    def test_three_sessions(self):
        with open(os.path.join(ROOT, "etc", "quenlor.cfg")) as f:
            term = re.search(r"^TERM=(\S+)$", f.read(), re.M).group(1)
        path = PEERS.SSH1_PTY_FILE
        seen = [os.path.getsize(path) if os.path.exists(path) else 0]

        def told(want):
            """The SSH-1 peer records `want` after what it recorded before
            (other tests' sessions may add lines in between)."""
            def found():
                with open(path, "rb") as f:
                    f.seek(seen[0])
                    at = f.read().find(want.encode() + b"\n")
                seen[0] += at + len(want) + 1 if at >= 0 else 0
                return at >= 0
            t.wait_for(found, "the SSH-1 peer told " + want)

        cfg = ("TERM=%s\nMAX_SCROLL_SIZE=1000\nHOST_KEY_CHECK=accept-new\n"
               "KNOWN_HOSTS=known_hosts\n" % term +
               host("utf", "telnet:127.0.0.1:%d" % PEERS.TELNET_PORT,
                    "INCOMING_RECODE_TABLE=utf-8", "OUTGOING_RECODE_TABLE=utf-8") +
               host("two", "ssh2:127.0.0.1:%d" % PEERS.SSHD_PORT, *LOGIN) +
               host("one", "ssh:127.0.0.1:%d" % PEERS.SSH1_PORT, *LOGIN))
        with PeerSession(cfg, "utf", "two", "one") as s:
            t = s.term
            t.walk(STEPS, "ssh1")
            told("pty %s 25 80" % term)  # the pseudo-terminal's type and size
            told("window 10 80")
            t.walk(STEPS, "utf-8")
            # Nothing of an escape sequence shows anywhere.
            self.assertNotRegex(t.screen(), r"←|\[\?|\[\d+;|\]\d+;")
            t.walk(STEPS, "vim quit")
            told("window 30 100")
            t.walk(STEPS, "status ssh1")
            told("window 29 100")
            t.send_keys("M-t")
            told("window 30 100")
            t.walk(STEPS, "status ssh2")
            status = t.screen().rstrip("\n").split("\n")[-1]
            self.assertRegex(status, r"\(2\) two  ssh2  (%s)  connected" % CIPHER)
            t.walk(STEPS, "vim resize")
            # The wheel pages back through what scrolled off, and back down
            # closes the viewer.
            t.walk(STEPS, "wheel")
            shown = [int(line) for line in t.lines() if re.fullmatch(r"\d+", line.strip())]
            self.assertNotIn(shown[0] - 6, shown)
            t.send_text("\x1b[<64;5;5M" * 2)
            t.wait_for(lambda: str(shown[0] - 6) in [l.strip() for l in t.lines()], "older lines")
            t.send_text("\x1b[<65;5;5M" * 2)
            t.wait_prompt()
            s.command("echo after-$((6*7))", "after-42")
            # `exit` ends the SSH-1 shell; its exit status ends the session.
            s.exit_shell("one")


if __name__ == "__main__":
    unittest.main()
