"""Telnet sessions end to end against the telnet peer of tests/peers
(inetutils-telnetd, the test account): three sessions of one program, one
of them through a relay that records what the server sent."""

import contextlib
import re
import socket
import threading
import unittest

from harness import (BANNER_END, CLOSE_QUESTION, PEERS, PROMPT, REPORT_END, PeerSession,
                     closed_port, config, host)

KOI8R_LINE = "Съешь же ещё этих мягких французских булок, да выпей чаю."


class RecordingProxy:
    """Relays one connection from 127.0.0.1:port to the telnet peer and
    keeps every byte the server sent."""

    def __init__(self):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.listener.settimeout(20)
        self.port = self.listener.getsockname()[1]
        self.from_server = bytearray()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        client, _ = self.listener.accept()
        server = socket.create_connection(("127.0.0.1", PEERS.TELNET_PORT), timeout=10)

        def pump(src, dst, record):
            with contextlib.suppress(OSError):
                while data := src.recv(65536):
                    record.extend(data)
                    dst.sendall(data)
                dst.shutdown(socket.SHUT_WR)

        threading.Thread(target=pump, args=(client, server, bytearray()), daemon=True).start()
        pump(server, client, self.from_server)
        client.close()
        server.close()

    def close(self):
        self.thread.join(20)
        self.listener.close()
        return bytes(self.from_server)


def strip_telnet(data):
    """The data bytes of a telnet stream: IAC IAC is one 255, every other
    command and sub-negotiation is left out."""
    return re.sub(rb"\xff\xff|\xff\xfa.*?\xff\xf0|\xff[\xfb-\xfe].|\xff.",
                  lambda m: b"\xff" if m.group() == b"\xff\xff" else b"", data, flags=re.S)


class TelnetTest(unittest.TestCase):
    def test_three_sessions_through_their_features(self):
        proxy = RecordingProxy()
        cfg = config(host("logged", "telnet:127.0.0.1:%d" % proxy.port, "LOG_FILE=full:raw.log"))
        refused = "telnet:127.0.0.1:%d" % closed_port()
        with PeerSession(cfg, "logged", "peer", refused) as s:
            t = s.term
            # The refused connection reports until ENTER; other keys wait.
            t.wait_title("Quenlor - (3): " + refused)
            t.wait_for_text(REPORT_END)
            t.send_text("x")
            t.send_keys("Escape")
            s.show(1, "logged")
            s.show(3)
            s.fails_with("Exception: TConnection::TConnection: Error on connect(). Error: 111")

            # Switching: ALT+F1.. and ALT+N, which wraps round.
            s.show(2, "peer")
            s.login()
            s.command("echo second-$((1+1))", "second-2")
            s.show(1, "logged")
            self.assertNotIn("second-2", t.screen())
            s.login()
            # One ENTER is one line end: no empty command runs after it.
            s.command("echo hello-$((6*7))", "hello-42")
            s.wait_prompt()
            s.command("echo marker-$((6*7))", "marker-42")
            s.wait_prompt()
            self.assertEqual(t.screen().count(PROMPT), 3)
            t.send_keys("M-n")
            t.wait_title("Quenlor - (2): peer")
            t.wait_for_text("second-2")
            self.assertNotIn("marker-42", t.screen())
            t.send_keys("M-F2")  # already shown: stays
            t.send_keys("M-n")
            t.wait_title("Quenlor - (1): logged")

            s.command("cat koi8r.txt", KOI8R_LINE)
            s.wait_prompt()
            # The scroll-back viewer (the SCROLL LOCK chord) pages back and forth.
            s.command("cat lines200.txt", "line 200")
            s.wait_prompt()
            bottom = t.screen()
            t.send_keys("C-M-s", "PPage")
            t.wait_for(lambda: t.lines()[24].rstrip() == "line 176", "one page back")
            self.assertEqual(t.lines()[0].rstrip(), "line 152")
            t.send_keys(*["PPage"] * 6)
            t.wait_for(lambda: t.lines()[0].rstrip() == "line 002", "seven pages back")
            t.send_keys("Up")
            t.wait_for(lambda: t.lines()[0].rstrip() == "line 001", "one line up")
            t.send_keys("Home")
            t.wait_for_text("login:")
            t.send_text("zz")  # typed letters go nowhere while the viewer is open
            t.send_keys("End")
            t.wait_for(lambda: t.screen() == bottom, "the bottom page")
            t.send_keys("C-M-s")
            s.command("echo after-$((5*5))", "after-25")
            self.assertNotIn("zz", t.screen())
            s.wait_prompt()

            # A selection copies, to the terminal's clipboard too (OSC 52);
            # the right button pastes it to the host.
            t.tmux("set-option", "-g", "set-clipboard", "on")
            s.command("echo selectme-$((100+23))", "selectme-123")
            s.wait_prompt()
            row = [l.rstrip() for l in t.lines()].index("selectme-123") + 1
            for button, column, end in ((0, 1, "M"), (32, 7, "M"), (32, 12, "M"), (0, 12, "m")):
                t.send_text("\x1b[<%d;%d;%d%s" % (button, column, row, end))
            t.wait_for(lambda: t.tmux("show-buffer", check=False) == "selectme-123",
                       "the copied text in tmux's buffer")
            t.send_text("echo again-\x1b[<2;40;3M\x1b[<2;40;3m")
            t.wait_for_text("echo again-selectme-123")
            t.send_keys("Enter")
            t.wait_for(lambda: "again-selectme-123" in [l.rstrip() for l in t.lines()],
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
            t.send_text(" ")
            t.wait_for(lambda: t.lines()[0].rstrip() == "line 025", "the next page")
            self.assertEqual(t.lines()[23].rstrip(), "line 048")
            t.send_text("G")
            t.wait_for_text("line 200")
            t.send_text("q")
            s.wait_prompt()

            # The close question holds the output back; N resumes.
            s.command("sleep 1; echo late-$((3*4))")
            t.send_keys("M-x")
            t.wait_for_text(CLOSE_QUESTION)
            t.wait_for(lambda: b"late-12" in proxy.from_server, "the late output sent", 15)
            self.assertNotIn("late-12", t.screen())
            t.send_text("n")
            t.wait_for_text("late-12")
            t.wait_gone(CLOSE_QUESTION)
            # The host ends the session; the raw log holds exactly what it sent.
            s.shell_and_exit("bye", "Quenlor - (1): peer")  # session 2 moves down
            sent = proxy.close()
            self.assertGreater(len(sent), 2000)
            self.assertEqual(s.read("raw.log"), strip_telnet(sent))
            self.assertIn(b"".join(b"line %03d\r\n" % i for i in range(1, 201)), sent)
            # Y closes the last session.
            t.send_keys("M-x")
            t.wait_for_text(CLOSE_QUESTION)
            t.send_text("y")
            t.wait_title("Quenlor")
            s.finish()

    def test_std_console_connects_at_its_prompt(self):
        with PeerSession(config("CONSOLE=STD\n")) as s:
            t = s.term
            t.wait_for_text("[1] Connect to:")
            self.assertEqual(t.title(), "Quenlor - (1): none")
            t.send_keys("M-F12")
            t.wait_for_text("[12] Connect to:")
            self.assertEqual(t.title(), "Quenlor - (12): none")
            t.expect_bell("M-a")  # the table is full
            t.send_keys("M-F1")
            t.wait_for_text("[1] Connect to:")
            s.command("peer")
            s.login()
            t.wait_title("Quenlor - (1): peer")
            s.command("exit")
            t.wait_for(lambda: t.screen().rstrip().endswith("[1] Connect to:"), "the prompt again")
            t.send_keys("M-t", "M-t", "M-F1")  # any hot key: the title is up to date again
            t.wait_title("Quenlor - (1): none")


if __name__ == "__main__":
    unittest.main()
