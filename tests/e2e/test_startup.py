"""Start-up, the banner, the hot keys and the ways out of the program."""

import os
import shutil
import signal
import socket
import unittest

import harness

BANNER_END = "Press ESC to exit or ALT+A to begin a session."
SANE = ["icanon", "echo", "isig", "icrnl", "opost"]


def closed_port():
    """A port on 127.0.0.1 that nothing listens on (taken, then let go)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class StartupTest(unittest.TestCase):
    def setUp(self):
        self.dir = harness.temp_dir()
        self.term = harness.Terminal()
        self.term.start()

    def tearDown(self):
        self.term.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def start(self, config="", *args, files=None):
        self.term.run(harness.quenlor_in(self.dir, config, files), *args)

    def assert_restored(self):
        self.assertEqual(sorted(self.term.terminal_modes()), sorted(SANE))
        self.assertEqual(self.term.title(), self.term.initial_title)

    def test_banner_title_and_escape(self):
        self.start()
        self.term.wait_for_text(BANNER_END)
        lines = self.term.lines()
        self.assertEqual(lines[0], "Quenlor, version 3.24")
        self.assertEqual(lines[4], "This one is a beta version, so... don't expect it's bug free...")
        self.assertEqual(lines[8], BANNER_END)
        self.assertEqual(self.term.title(), "Quenlor")
        self.assertEqual(self.term.cursor(), (0, 11))
        self.assertFalse(self.term.bell())
        # Standard error was the terminal: it goes to a log file instead.
        self.assertTrue(os.path.exists(os.path.join(self.dir, "quenlor-errors.log")))
        self.term.send_keys("Escape")
        self.assertEqual(self.term.wait_exit(), 0)
        # The shell's screen is back (the alternate screen is gone).
        self.assertNotIn("Quenlor, version", self.term.screen())
        self.assert_restored()

    def test_resize_redraws(self):
        self.start()
        self.term.wait_for_text(BANNER_END)
        # Wipe the pane behind the program's back; only a redraw brings the
        # banner back, and a resize (SIGWINCH) is what asks for one.
        self.term.shell_clear_pane()
        self.term.wait_gone(BANNER_END)
        self.term.tmux("resize-window", "-t", "main", "-x", "60", "-y", "20")
        self.term.wait_for_text(BANNER_END)
        self.term.tmux("resize-window", "-t", "main", "-x", "80", "-y", "25")
        self.term.wait_for(lambda: self.term.lines()[0] == "Quenlor, version 3.24", "redraw")
        self.term.send_keys("Escape")
        self.assertEqual(self.term.wait_exit(), 0)

    def test_alt_n_without_session_beeps(self):
        self.start()
        self.term.wait_for_text(BANNER_END)
        self.term.send_keys("M-n")
        self.term.wait_for(self.term.bell, "a bell")
        self.assertEqual(self.term.title(), "Quenlor")
        self.term.send_keys("Escape")
        self.assertEqual(self.term.wait_exit(), 0)

    def test_alt_f5_and_alt_p_without_session_beep(self):
        self.start()
        self.term.wait_for_text(BANNER_END)
        self.term.send_keys("M-F5")
        self.term.wait_for(self.term.bell, "a bell")
        self.term.send_keys("Escape")
        self.assertEqual(self.term.wait_exit(), 0)

    def test_connect_prompt(self):
        self.start("DEFINE_HOST alpha {\n    ADDRESS=telnet:127.0.0.1:%d\n}\n" % closed_port())
        self.term.wait_for_text(BANNER_END)
        self.term.send_keys("M-a")
        self.term.wait_for_text("Connect to:")
        self.assertEqual(self.term.lines()[11], "Connect to:")
        # ENTER on an empty line beeps and keeps prompting.
        self.term.send_keys("Enter")
        self.term.wait_for(self.term.bell, "a bell")
        self.term.send_text("somehost")
        self.term.wait_for_text("Connect to: somehost")
        self.term.send_keys("BSpace", "BSpace")
        self.term.wait_for(lambda: self.term.lines()[11] == "Connect to: someho", "backspace")
        # ESC clears the prompt line and the banner stays.
        self.term.send_keys("Escape")
        self.term.wait_gone("Connect to:")
        self.assertEqual(self.term.lines()[11], "")
        self.assertEqual(self.term.title(), "Quenlor")
        # History: the defined host is offered with UP.
        self.term.send_keys("M-a")
        self.term.wait_for_text("Connect to:")
        self.term.send_keys("Up")
        self.term.wait_for_text("Connect to: alpha")
        self.term.send_keys("Enter")
        # The session starts on its own screen, fails to connect and waits;
        # when it ends, the banner comes back.
        self.term.wait_for(lambda: self.term.title() == "Quenlor - (1): alpha", "session title")
        self.term.wait_for_text("Press Enter")
        self.assertNotIn(BANNER_END, self.term.screen())
        self.term.send_keys("Enter")
        self.term.wait_for(lambda: self.term.title() == "Quenlor", "the banner's title")
        self.term.wait_for_text(BANNER_END)
        self.term.send_keys("Escape")
        self.assertEqual(self.term.wait_exit(), 0)

    def test_host_argument_before_cfg(self):
        # The configuration is loaded before any host argument is used.
        other = "DEFINE_HOST somehost {\n    ADDRESS=telnet:127.0.0.1:%d\n}\n" % closed_port()
        self.start("", "somehost", "-cfg=other.cfg", files={"other.cfg": other})
        self.term.wait_for(lambda: self.term.title() == "Quenlor - (1): somehost", "title")
        self.term.wait_for_text("Press Enter")
        # The defined host was used: a refused connection, not a failed
        # name lookup of "somehost".
        self.assertNotIn("Bad address", self.term.screen())
        self.term.send_keys("Enter")
        self.term.wait_for_text(BANNER_END)
        self.term.send_keys("Escape")
        self.assertEqual(self.term.wait_exit(), 0)

    def test_missing_configuration(self):
        self.term.run(harness.quenlor_in(self.dir))
        self.assertEqual(self.term.wait_exit(), 0)
        self.assertIn("Exception: Unable to open config file: quenlor.cfg.\n", self.term.screen())
        self.assert_restored()

    def test_configuration_error(self):
        self.start("TERM=ansi\nNO_SUCH_KEY=1\n")
        self.assertEqual(self.term.wait_exit(), 0)
        self.assertIn("Exception: Config error. Bad line: |NO_SUCH_KEY=1|. Line number: 2.\n",
                      self.term.screen())
        self.assert_restored()

    def test_sigterm_restores_and_exits_1(self):
        self.start()
        self.term.wait_for_text(BANNER_END)
        self.assertEqual(self.term.title(), "Quenlor")
        self.term.signal_program(signal.SIGTERM)
        self.assertEqual(self.term.wait_exit(), 1)
        self.assert_restored()

    def test_sighup_takes_the_same_path(self):
        self.start()
        self.term.wait_for_text(BANNER_END)
        self.term.signal_program(signal.SIGHUP)
        self.assertEqual(self.term.wait_exit(), 1)
        self.assert_restored()

    def test_fatal_signal_restores_first(self):
        self.start()
        self.term.wait_for_text(BANNER_END)
        self.term.signal_program(signal.SIGSEGV)
        # The process still dies of the signal, after the terminal is back.
        self.assertEqual(self.term.wait_exit(), 128 + signal.SIGSEGV)
        self.assertIn("Unknown Win32 exception found!\n", self.term.screen())
        self.assert_restored()

    def test_ctrl_c_is_a_key_not_a_signal(self):
        self.start()
        self.term.wait_for_text(BANNER_END)
        self.term.send_keys("C-c")
        self.term.send_keys("M-a")
        self.term.wait_for_text("Connect to:")
        self.term.send_keys("Escape")
        self.term.wait_gone("Connect to:")
        self.term.send_keys("Escape")
        self.assertEqual(self.term.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main()
