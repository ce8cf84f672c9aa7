"""The terminal's side of three sessions of one program, with the sample
configuration's TERM: UTF-8 both ways and vim on the telnet peer, the
terminal's size reaching the telnet, SSH-2 (Debian's sshd) and SSH-1 hosts
when the tmux window or ALT+Q changes it, the status line with the cipher
taking a row, and the mouse wheel opening the scroll-back."""

import os
import re
import unittest

from harness import LOGIN, PEERS, ROOT, PeerSession, host

WHEEL_UP, WHEEL_DOWN = "\x1b[<64;5;5M", "\x1b[<65;5;5M"
CIPHER = (r"aes\d+-(ctr|cbc)|3des-cbc|blowfish-cbc|cast128-cbc|arcfour\d*|"
          r"chacha20-poly1305@openssh.com|aes\d+-gcm@openssh.com")


def sample_term():
    with open(os.path.join(ROOT, "etc", "quenlor.cfg")) as f:
        return re.search(r"^TERM=(\S+)$", f.read(), re.M).group(1)


class TerminalTest(unittest.TestCase):
    def stty(self, want, status=False):
        self.s.command("clear; stty size", want)
        self.s.wait_prompt(rows=-1 if status else None)

    def status(self, want):
        """ALT+T; the status row at the bottom shows `want` (a pattern)."""
        t = self.s.term
        t.send_keys("M-t")
        return t.wait_for(lambda: re.search(want, t.screen().rstrip("\n").split("\n")[-1]),
                          "the status line " + want)

    def test_three_sessions(self):
        term = sample_term()
        path = PEERS.SSH1_PTY_FILE
        start = os.path.getsize(path) if os.path.exists(path) else 0

        def told():
            """The sizes the SSH-1 peer was told since the start."""
            with open(path, "rb") as f:
                f.seek(start)
                return f.read().decode().splitlines()

        cfg = ("TERM=%s\nMAX_SCROLL_SIZE=1000\nHOST_KEY_CHECK=accept-new\n"
               "KNOWN_HOSTS=known_hosts\n" % term +
               host("utf", "telnet:127.0.0.1:%d" % PEERS.TELNET_PORT,
                    "INCOMING_RECODE_TABLE=utf-8", "OUTGOING_RECODE_TABLE=utf-8") +
               host("two", "ssh2:127.0.0.1:%d" % PEERS.SSHD_PORT, *LOGIN) +
               host("one", "ssh:127.0.0.1:%d" % PEERS.SSH1_PORT, *LOGIN))
        with PeerSession(cfg, "utf", "two", "one") as s:
            self.s, t = s, s.term
            t.wait_title("Quenlor - (3): one")
            s.wait_prompt(60)
            # The peer's standard-error message came before the prompt, and
            # the pseudo-terminal got the type and the screen's size.
            self.assertIn(PEERS.SSH1_BANNER, t.screen())
            self.assertIn("pty %s 25 80" % term, told())
            s.command("seq 1 3000 | tail -n 2 | sed s/^/n=/", "n=3000")
            self.assertIn("n=2999", t.screen())
            s.wait_prompt()
            # ALT+Q tells the server 10 rows and 80 columns.
            t.send_keys("M-q")
            t.wait_for(lambda: told()[-1:] == ["window 10 80"], "the window record")
            self.stty("10 80")

            s.show(1, "utf")
            s.login()
            s.command("export LC_ALL=C.UTF-8; echo \"type:$TERM\"", "type:" + term)
            s.wait_prompt()
            s.command(r"printf '\320\226\321\203\320\272 \342\224\200\342\224\220|\n'", "Жук ─┐|")
            s.wait_prompt()
            # Typed: the host receives UTF-8 (six characters, not twelve bytes).
            s.command("read x; echo \"got:$x:${#x}\"")
            t.send_text("Привет")
            t.send_keys("Enter")
            t.wait_for_text("got:Привет:6")
            s.wait_prompt()
            # vim draws as on that terminal: lines inserted and deleted, and
            # nothing of an escape sequence shows anywhere.
            s.command(r"f=$(mktemp /tmp/qterm.XXXXXX.txt); "
                      r"printf 'first line\nsecond \342\224\200\342\224\220\n' > $f")
            s.wait_prompt()
            s.command("vim -u NONE -i NONE -N -n -c 'set number' $f; rm -f $f")
            t.wait_for(lambda: t.lines()[23].startswith("~"), "vim's screen")
            lines = t.lines()
            self.assertEqual([l.rstrip() for l in lines[:2]], ["  1 first line", "  2 second ─┐"])
            self.assertTrue(all(line.startswith("~") for line in lines[2:24]), t.screen())
            self.assertRegex(lines[24], r'^"/tmp/qterm\.\w+\.txt" 2L')
            t.send_text("Onew")
            t.wait_for(lambda: "-- INSERT --" in t.lines()[24], "insert mode")
            t.send_keys("Escape")
            t.wait_for(lambda: t.lines()[2].startswith("  3 second")
                       and "-- INSERT --" not in t.lines()[24], "the line inserted")
            t.send_text("dd")
            t.wait_for(lambda: t.lines()[2].startswith("~"), "the line deleted")
            self.assertEqual(t.lines()[1].rstrip(), "  2 second ─┐")
            self.assertNotRegex(t.screen(), r"←|\[\?|\[\d+;|\]\d+;")
            t.send_text(":q!")
            t.send_keys("Enter")
            s.wait_prompt()

            # A new window size reaches every host.
            s.show(2, "two")
            s.wait_prompt(60)
            self.stty("25 80")
            t.resize(100, 30)
            self.stty("30 100")
            s.show(1, "utf")
            self.stty("30 100")
            t.wait_for(lambda: told()[-1:] == ["window 30 100"], "the resize record")
            # The status row is taken from the screen: the host is told.
            s.show(3, "one")
            self.assertIn("[3 open]", self.status(r"\(3\) one  ssh  3des  connected").string)
            t.wait_for(lambda: told()[-1:] == ["window 29 100"], "the status line's row")
            self.stty("29 100", True)
            t.send_keys("M-t")
            t.wait_for(lambda: told()[-1:] == ["window 30 100"], "the row given back")

            # SSH-2: the cipher in the status; vim redraws at a new size.
            s.show(2, "two")
            self.assertRegex(self.status(r"\(2\) two  ssh2  (\S+)  connected").group(1), CIPHER)
            self.stty("29 100", True)
            s.command("vim -u NONE -N")
            t.wait_for(lambda: t.lines()[27].startswith("~"), "vim's empty lines")
            t.resize(100, 32)
            t.wait_for(lambda: t.lines()[29].startswith("~") and not t.lines()[30].startswith("~"),
                       "vim redrawn at 31 rows")
            # vim is in normal mode already; an ESC here would join the ":"
            # that follows it into one ALT chord.
            t.send_text(":q")
            t.send_keys("Enter")
            s.wait_prompt(rows=-1)
            self.stty("31 100", True)
            t.send_keys("M-t")
            t.wait_for(lambda: "connected" not in t.screen(), "the status line gone")

            # The wheel pages back through what scrolled off, and back down
            # closes the viewer.
            s.show(1, "utf")
            s.command("clear; seq 1 300", "300")
            s.wait_prompt()
            shown = [int(l) for l in t.lines() if re.fullmatch(r"\d+", l.strip())]
            self.assertNotIn(shown[0] - 6, shown)
            t.send_text(WHEEL_UP * 2)
            t.wait_for(lambda: str(shown[0] - 6) in [l.strip() for l in t.lines()], "older lines")
            t.send_text(WHEEL_DOWN * 2)
            s.wait_prompt()
            s.command("echo after-$((6*7))", "after-42")

            # `exit` ends the SSH-1 shell; its exit status ends the session.
            s.show(3, "one")
            s.command("exit")
            t.wait_for(lambda: "(3)" not in t.title(), "the end of session 3", 30)


if __name__ == "__main__":
    unittest.main()
