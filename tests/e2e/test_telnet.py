"""Telnet sessions end to end: Quenlor in tmux (80x25) against the telnet
peer of tests/peers (inetutils-telnetd, the test account)."""

import time
import unittest

from harness import (BANNER_END, PEERS, PROMPT, PeerSession, RecordingProxy, closed_port, config,
                     strip_telnet)

KOI8R_LINE = "Съешь же ещё этих мягких французских булок, да выпей чаю."
CLOSE_QUESTION = "Are you sure you want to close the connection? Y/N"


class TelnetSessionTest(unittest.TestCase):
    def test_one_session_through_its_features(self):
        """Commands and Cyrillic, the scroll-back viewer, selection and
        paste, a full-screen program, then the close question."""
        with PeerSession(config(), "peer") as s:
            t = s.term
            t.tmux("set-option", "-g", "set-clipboard", "on")
            s.login()
            self.assertEqual(t.title(), "Quenlor - (1): peer")
            # One ENTER is one line end: no empty command runs after it. The
            # output of a second command orders the check after any prompt the
            # first ENTER could have caused.
            s.command("echo hello-$((6*7))", "hello-42")
            s.wait_prompt()
            s.command("echo marker-$((6*7))", "marker-42")
            s.wait_prompt()
            self.assertEqual(t.screen().count(PROMPT), 3)
            s.command("cat koi8r.txt", KOI8R_LINE)
            s.wait_prompt()

            # The scroll-back viewer pages back and forth.
            s.command("cat lines200.txt", "line 200")
            s.wait_prompt()
            bottom = t.screen()
            t.send_keys("C-M-s")  # the SCROLL LOCK chord
            time.sleep(0.3)
            self.assertEqual(t.screen(), bottom)
            t.send_keys("PPage")
            t.wait_for(lambda: t.lines()[24].rstrip() == "line 176", "one page back")
            self.assertEqual(t.lines()[0].rstrip(), "line 152")
            for _ in range(6):
                t.send_keys("PPage")
            t.wait_for(lambda: t.lines()[0].rstrip() == "line 002", "seven pages back")
            t.send_keys("Up")
            t.wait_for(lambda: t.lines()[0].rstrip() == "line 001", "one line up")
            t.send_keys("Home")
            t.wait_for(lambda: "login:" in t.screen(), "the oldest lines")
            t.send_text("zz")  # typed letters go nowhere while the viewer is open
            t.send_keys("End")
            t.wait_for(lambda: t.screen() == bottom, "the bottom page")
            t.send_keys("C-M-s")
            time.sleep(0.3)
            self.assertEqual(t.screen(), bottom)
            s.command("echo after-$((5*5))", "after-25")
            self.assertNotIn("zz", t.screen())
            s.wait_prompt()

            # A selection copies, to the terminal's clipboard too (OSC 52).
            s.command("echo selectme-$((100+23))", "selectme-123")
            s.wait_prompt()
            row = s.row_of("selectme-123") + 1  # mouse rows and columns count from 1
            t.send_text("\x1b[<0;1;%dM" % row)   # left press
            t.send_text("\x1b[<32;7;%dM" % row)  # drag
            t.send_text("\x1b[<32;12;%dM" % row)
            t.send_text("\x1b[<0;12;%dm" % row)  # release: copied
            t.wait_for(lambda: t.tmux("show-buffer", check=False) == "selectme-123",
                       "the copied text in tmux's buffer")
            # The right button pastes it to the host.
            t.send_text("echo again-")
            t.send_text("\x1b[<2;40;3M")
            t.send_text("\x1b[<2;40;3m")
            t.wait_for_text("echo again-selectme-123")
            t.send_keys("Enter")
            t.wait_for(lambda: s.find_row("again-selectme-123") is not None,
                       "the pasted command's output")
            s.wait_prompt()
            # The terminal's own paste takes the same way.
            t.send_text("\x1b[200~echo pasted-$((40+2))\n\x1b[201~")
            t.wait_for_text("pasted-42")
            s.wait_prompt()

            # A full-screen program.
            s.command("less lines200.txt", "line 024")
            lines = t.lines()
            self.assertEqual([l.rstrip() for l in lines[:24]],
                             ["line %03d" % i for i in range(1, 25)])
            self.assertIn("lines200.txt", lines[24])
            t.send_text(" ")  # next page
            t.wait_for(lambda: t.lines()[0].rstrip() == "line 025", "the next page")
            self.assertEqual(t.lines()[23].rstrip(), "line 048")
            t.send_text("G")  # the end
            t.wait_for_text("line 200")
            t.send_text("q")
            s.wait_prompt()

            # The close question holds the output back; N resumes, Y closes.
            s.command("sleep 1; echo late-$((3*4))")
            t.send_keys("M-x")
            t.wait_for_text(CLOSE_QUESTION)
            time.sleep(2.5)  # the output has arrived by now, and waits
            self.assertNotIn("late-12", t.screen())
            t.send_text("n")
            t.wait_for_text("late-12")
            t.wait_gone("Are you sure")
            s.wait_prompt()
            s.command("echo still-$((2+3))", "still-5")
            t.send_keys("M-x")
            t.wait_for_text(CLOSE_QUESTION)
            t.send_text("y")
            t.wait_for_text(BANNER_END)
            t.wait_for(lambda: t.title() == "Quenlor", "the title Quenlor")

    def test_two_sessions_switched(self):
        with PeerSession(config(), "peer", "peer") as s:
            t = s.term
            t.wait_for(lambda: t.title() == "Quenlor - (2): peer", "session 2 shown")
            s.login()
            s.command("echo second-$((1+1))", "second-2")
            t.send_keys("M-F1")
            t.wait_for(lambda: t.title() == "Quenlor - (1): peer", "session 1 shown")
            self.assertNotIn("second-2", t.screen())
            s.login()
            s.command("echo first-$((0+1))", "first-1")
            t.send_keys("M-n")
            t.wait_for(lambda: t.title() == "Quenlor - (2): peer", "ALT+N to session 2")
            t.wait_for_text("second-2")
            self.assertNotIn("first-1", t.screen())
            t.send_keys("M-F2")  # already shown: stays
            t.send_keys("M-n")   # wraps round
            t.wait_for(lambda: t.title() == "Quenlor - (1): peer", "ALT+N to session 1")
            t.wait_for_text("first-1")

    def test_refused_connection_reports_until_enter(self):
        with PeerSession(config(), "telnet:127.0.0.1:%d" % closed_port()) as s:
            t = s.term
            t.wait_for_text("Press Enter to close...")
            t.send_text("x")
            t.send_keys("Escape")
            time.sleep(0.3)
            s.fails_with("Exception: TConnection::TConnection: Error on connect(). Error: 111")
            t.send_keys("Escape")
            self.assertEqual(t.wait_exit(), 0)

    def test_full_log_equals_what_the_server_sent_and_remote_exit(self):
        proxy = RecordingProxy(PEERS.TELNET_PORT)
        cfg = config("DEFINE_HOST logged : peer {\n    ADDRESS=telnet:127.0.0.1:%d\n"
                     "    LOG_FILE=full:raw.log\n}\n" % proxy.port)
        with PeerSession(cfg, "logged") as s:
            s.login()
            s.command("cat lines200.txt", "line 200")
            # The remote end closes: the session and its screen go.
            s.shell_and_exit("bye")
            sent = proxy.close()
            logged = s.read("raw.log")
        self.assertGreater(len(sent), 2000)
        self.assertEqual(logged, strip_telnet(sent))
        self.assertIn(b"".join(b"line %03d\r\n" % i for i in range(1, 201)), logged)


class ConnectPromptTest(unittest.TestCase):
    def test_std_console_mode(self):
        with PeerSession(config("CONSOLE=STD\n")) as s:
            t = s.term
            t.wait_for_text("[1] Connect to:")
            self.assertEqual(t.title(), "Quenlor - (1): none")
            t.send_keys("M-F12")
            t.wait_for_text("[12] Connect to:")
            self.assertEqual(t.title(), "Quenlor - (12): none")
            t.send_keys("M-a")  # the table is full
            t.wait_for(t.bell, "a bell")
            t.send_keys("M-F1")
            t.wait_for_text("[1] Connect to:")
            t.send_text("peer")
            t.send_keys("Enter")
            s.login()
            t.wait_for(lambda: t.title() == "Quenlor - (1): peer", "the host in the title")
            s.command("exit")
            t.wait_for(lambda: t.screen().rstrip().endswith("[1] Connect to:"),
                       "the prompt again")
            t.send_keys("M-t")  # any hot key: the title is up to date again
            t.send_keys("M-t")
            t.send_keys("M-F1")
            t.wait_for(lambda: t.title() == "Quenlor - (1): none", "none again")


if __name__ == "__main__":
    unittest.main()
