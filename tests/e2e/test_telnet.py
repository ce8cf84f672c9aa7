"""Telnet sessions end to end against the telnet peer of tests/peers
(inetutils-telnetd, the test account): three sessions of one program, one
of them through a relay that records what the server sent. The walks are
tests/data/e2e/telnet.steps."""

import re
import unittest

from harness import PEERS, PROMPT, PeerSession, closed_port, config, host, serve

STEPS = "telnet.steps"


def strip_telnet(data):
    """The data of a telnet stream: IAC IAC is 255, commands are left out."""
    return re.sub(rb"\xff\xff|\xff\xfa.*?\xff\xf0|\xff[\xfb-\xfe].|\xff.",
                  lambda m: b"\xff" if m.group() == b"\xff\xff" else b"", data, flags=re.S)


class TelnetTest(unittest.TestCase):
    def test_three_sessions_through_their_features(self):
        port, refused = closed_port(), "telnet:127.0.0.1:%d" % closed_port()
        logged = host("logged", "telnet:127.0.0.1:%d" % port, "LOG_FILE=full:raw.log")
        s = PeerSession(config(logged), "logged", "peer", refused)
        # socat relays the session, dumping what the server sent.
        socat = serve(port, s.path("socat.log"), "socat", "-R", s.path("sent"),
                      "TCP-LISTEN:%d,bind=127.0.0.1" % port, "TCP:127.0.0.1:%d" % PEERS.TELNET_PORT)
        self.addCleanup(socat.kill)
        with s:
            t = s.term
            t.wait_title("Quenlor - (3): " + refused)
            t.walk(STEPS, "refused")
            s.fails_with("Exception: TConnection::TConnection: Error on connect(). Error: 111")
            t.walk(STEPS, "switching")
            self.assertEqual(t.screen().count(PROMPT), 3)
            t.walk(STEPS, "wrap")
            bottom = t.screen()
            t.walk(STEPS, "viewer")
            t.send_keys("End")
            t.wait_for(lambda: t.screen() == bottom, "the bottom page")
            t.walk(STEPS, "after viewer")
            # A selection copies, to the terminal's clipboard too (OSC 52).
            t.tmux("set-option", "-g", "set-clipboard", "on")
            row = [line.rstrip() for line in t.lines()].index("selectme-123") + 1
            for button, column, end in ((0, 1, "M"), (32, 7, "M"), (32, 12, "M"), (0, 12, "m")):
                t.send_text("\x1b[<%d;%d;%d%s" % (button, column, row, end))
            t.wait_for(lambda: t.tmux("show-buffer", check=False) == "selectme-123",
                       "the copied text in tmux's buffer")
            t.walk(STEPS, "paste")
            t.wait_for(lambda: b"late-12" in s.read("sent"), "the late output sent", 15)
            self.assertNotIn("late-12", t.screen())
            t.walk(STEPS, "resume")
            # The host ends the session: session 2 moves down, and the raw
            # log holds exactly what the server sent.
            s.command("exit")
            t.wait_title("Quenlor - (1): peer")
            self.assertEqual(socat.wait(10), 0)
            sent = s.read("sent")
            self.assertGreater(len(sent), 2000)
            self.assertEqual(s.read("raw.log"), strip_telnet(sent))
            self.assertIn(b"".join(b"line %03d\r\n" % i for i in range(1, 201)), sent)
            # Y closes the last session.
            t.send_keys("M-x")
            t.wait_for_text("Y/N")
            t.send_text("y")
            s.finish()

    def test_std_console_connects_at_its_prompt(self):
        with PeerSession(config("CONSOLE=STD\n")) as s:
            s.term.walk(STEPS, "std console")


if __name__ == "__main__":
    unittest.main()
