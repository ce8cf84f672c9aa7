"""Start-up, the banner, the hot keys and the ways out of the program."""

import os
import shutil
import signal
import unittest

import harness
from harness import BANNER_END, closed_port

SANE = ["icanon", "echo", "isig", "icrnl", "opost"]


class StartupTest(unittest.TestCase):
    def setUp(self):
        self.dir = harness.temp_dir()
        self.term = harness.Terminal()
        self.term.start()

    def tearDown(self):
        self.term.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def start(self, config="", *args, files=None):
        self.term.clear()
        self.term.run(harness.quenlor_in(self.dir, config, files), *args)

    def assert_ends(self, status, restored=True):
        self.assertEqual(self.term.wait_exit(), status)
        if restored:
            self.assertEqual(sorted(self.term.terminal_modes()), sorted(SANE))
            self.assertEqual(self.term.title(), self.term.initial_title)

    def test_banner_keys_resize_and_escape(self):
        t = self.term
        self.start()
        t.wait_for_text(BANNER_END)
        lines = t.lines()
        self.assertEqual(lines[0], "Quenlor, version 3.24")
        self.assertEqual(lines[4], "This one is a beta version, so... don't expect it's bug free...")
        self.assertEqual(lines[8], BANNER_END)
        self.assertEqual(t.title(), "Quenlor")
        self.assertEqual(t.cursor(), (0, 11))
        self.assertFalse(t.bell())
        # Standard error was the terminal: it goes to a log file instead.
        self.assertTrue(os.path.exists(os.path.join(self.dir, "quenlor-errors.log")))
        # CTRL+C is a key, not a signal.
        t.send_keys("C-c")
        t.send_keys("M-a")
        t.wait_for_text("Connect to:")
        t.send_keys("Escape")
        t.wait_gone("Connect to:")
        # Wipe the pane behind the program's back; only a redraw brings the
        # banner back, and a resize (SIGWINCH) is what asks for one.
        t.shell_clear_pane()
        t.wait_gone(BANNER_END)
        t.tmux("resize-window", "-t", "main", "-x", "60", "-y", "20")
        t.wait_for_text(BANNER_END)
        t.tmux("resize-window", "-t", "main", "-x", "80", "-y", "25")
        t.wait_for(lambda: t.lines()[0] == "Quenlor, version 3.24", "redraw")
        t.send_keys("Escape")
        self.assert_ends(0)
        # The shell's screen is back (the alternate screen is gone).
        self.assertNotIn("Quenlor, version", t.screen())

    def test_session_keys_without_a_session_beep(self):
        for key in ("M-n", "M-F5", "M-p"):
            with self.subTest(key=key), harness.Terminal() as t:
                t.run(harness.quenlor_in(self.dir, ""))
                t.wait_for_text(BANNER_END)
                t.send_keys(key)
                t.wait_for(t.bell, "a bell")
                self.assertEqual(t.title(), "Quenlor")
                t.send_keys("Escape")
                self.assertEqual(t.wait_exit(), 0)

    def test_connect_prompt(self):
        t = self.term
        self.start("DEFINE_HOST alpha {\n    ADDRESS=telnet:127.0.0.1:%d\n}\n" % closed_port())
        t.wait_for_text(BANNER_END)
        t.send_keys("M-a")
        t.wait_for_text("Connect to:")
        self.assertEqual(t.lines()[11], "Connect to:")
        # ENTER on an empty line beeps and keeps prompting.
        t.send_keys("Enter")
        t.wait_for(t.bell, "a bell")
        t.send_text("somehost")
        t.wait_for_text("Connect to: somehost")
        t.send_keys("BSpace", "BSpace")
        t.wait_for(lambda: t.lines()[11] == "Connect to: someho", "backspace")
        # ESC clears the prompt line and the banner stays.
        t.send_keys("Escape")
        t.wait_gone("Connect to:")
        self.assertEqual(t.lines()[11], "")
        self.assertEqual(t.title(), "Quenlor")
        # History: the defined host is offered with UP.
        t.send_keys("M-a")
        t.wait_for_text("Connect to:")
        t.send_keys("Up")
        t.wait_for_text("Connect to: alpha")
        t.send_keys("Enter")
        # The session starts on its own screen, fails to connect and waits;
        # when it ends, the banner comes back.
        t.wait_for(lambda: t.title() == "Quenlor - (1): alpha", "session title")
        t.wait_for_text("Press Enter")
        self.assertNotIn(BANNER_END, t.screen())
        t.send_keys("Enter")
        t.wait_for(lambda: t.title() == "Quenlor", "the banner's title")
        t.wait_for_text(BANNER_END)
        t.send_keys("Escape")
        self.assert_ends(0)

        # The configuration is loaded before any host argument is used: the
        # defined host gives a refused connection, not a failed lookup.
        other = "DEFINE_HOST somehost {\n    ADDRESS=telnet:127.0.0.1:%d\n}\n" % closed_port()
        self.start("", "somehost", "-cfg=other.cfg", files={"other.cfg": other})
        t.wait_for(lambda: t.title() == "Quenlor - (1): somehost", "title")
        t.wait_for_text("Press Enter")
        self.assertNotIn("Bad address", t.screen())
        t.send_keys("Enter")
        t.wait_for_text(BANNER_END)
        t.send_keys("Escape")
        self.assert_ends(0, restored=False)

    def test_configuration_errors(self):
        for config, message in (
                (None, "Exception: Unable to open config file: quenlor.cfg.\n"),
                ("TERM=ansi\nNO_SUCH_KEY=1\n",
                 "Exception: Config error. Bad line: |NO_SUCH_KEY=1|. Line number: 2.\n")):
            self.term.clear()
            self.term.run(harness.quenlor_in(self.dir, config))
            self.assert_ends(0)
            self.assertIn(message, self.term.screen())

    def test_signals_restore_the_terminal(self):
        # SIGTERM and SIGHUP end with status 1; a fatal signal still kills
        # the process, after the terminal is back.
        for signum, status in ((signal.SIGTERM, 1), (signal.SIGHUP, 1),
                               (signal.SIGSEGV, 128 + signal.SIGSEGV)):
            self.start()
            self.term.wait_for_text(BANNER_END)
            self.assertEqual(self.term.title(), "Quenlor")
            self.term.signal_program(signum)
            self.assert_ends(status)
        self.assertIn("Unknown Win32 exception found!\n", self.term.screen())


if __name__ == "__main__":
    unittest.main()
