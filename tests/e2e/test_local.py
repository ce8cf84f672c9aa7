"""The program without any server: the banner, the hot keys and the connect
prompt, configuration errors and signals, the installed program and the
demo's replay."""

import os
import shutil
import signal
import subprocess
import unittest

import harness
from harness import BANNER_END, CLOSE_QUESTION, REPORT_END, SANE_MODES, closed_port

INSTALLED = ("bin/quenlor", "share/quenlor/quenlor.cfg", "share/quenlor/termcap",
             "share/quenlor/demo.cap", "share/man/man1/quenlor.1")
READ_ONLY = "Exception: TFileConnection::PutBuffer. TFileConnection is read only connection."
DEMO_TITLE = "Quenlor 3.24 - a captured telnet session, replayed"


class LocalTest(unittest.TestCase):
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

    def ends(self, status, restored=True):
        self.assertEqual(self.term.wait_exit(), status)
        if restored:
            self.assertEqual(self.term.terminal_modes(), SANE_MODES)
            self.assertEqual(self.term.title(), self.term.initial_title)

    def test_banner_keys_and_connect_prompt(self):
        t = self.term
        self.start(harness.host("alpha", "telnet:127.0.0.1:%d" % closed_port()))
        t.wait_for_text(BANNER_END)
        lines = t.lines()
        self.assertEqual(lines[0], "Quenlor, version 3.24")
        self.assertEqual(lines[4], "This one is a beta version, so... don't expect it's bug free...")
        self.assertEqual(lines[8], BANNER_END)
        self.assertEqual((t.title(), t.cursor(), t.bells()), ("Quenlor", (0, 11), 0))
        # Standard error was the terminal: it goes to a log file instead.
        self.assertTrue(os.path.exists(os.path.join(self.dir, "quenlor-errors.log")))
        # Keys for sessions beep while there is none; CTRL+C is a key, not a signal.
        for key in ("M-n", "M-F5", "M-p"):
            t.expect_bell(key)
        t.send_keys("C-c")
        self.assertEqual(t.title(), "Quenlor")
        t.send_keys("M-a")
        t.wait_for(lambda: t.lines()[11] == "Connect to:", "the connect prompt")
        t.expect_bell("Enter")  # an empty line: beeps, keeps prompting
        t.send_text("somehost")
        t.send_keys("BSpace", "BSpace")
        t.wait_for(lambda: t.lines()[11] == "Connect to: someho", "backspace")
        t.send_keys("Escape")  # clears the prompt line; the banner stays
        t.wait_for(lambda: t.lines()[11] == "", "the prompt cleared")
        self.assertIn(BANNER_END, t.screen())
        # History offers the defined host; its session fails on a screen of
        # its own and waits, then the banner comes back.
        t.send_keys("M-a")
        t.wait_for_text("Connect to:")
        t.send_keys("Up")
        t.wait_for_text("Connect to: alpha")
        t.send_keys("Enter")
        t.wait_title("Quenlor - (1): alpha")
        t.wait_for_text(REPORT_END)
        self.assertNotIn(BANNER_END, t.screen())
        t.send_keys("Enter")
        t.wait_title("Quenlor")
        t.wait_for_text(BANNER_END)
        # Wipe the pane behind the program's back; only a redraw brings the
        # banner back, and a resize (SIGWINCH) is what asks for one.
        t.tmux("send-keys", "-t", "main", "-R")
        t.wait_gone(BANNER_END)
        t.resize(60, 20)
        t.wait_for_text(BANNER_END)
        t.resize(80, 25)
        t.wait_for(lambda: t.lines()[0] == "Quenlor, version 3.24", "redraw")
        t.send_keys("Escape")
        self.ends(0)
        self.assertNotIn("Quenlor, version", t.screen())  # the alternate screen is gone

    def test_configuration_errors_and_signals(self):
        t = self.term
        for config, message in (
                (None, "Exception: Unable to open config file: quenlor.cfg.\n"),
                ("TERM=ansi\nNO_SUCH_KEY=1\n",
                 "Exception: Config error. Bad line: |NO_SUCH_KEY=1|. Line number: 2.\n")):
            self.start(config)
            self.ends(0)
            self.assertIn(message, t.screen())
        # The configuration is loaded before any host argument is used: the
        # defined host gives a refused connection, not a failed lookup.
        other = harness.host("somehost", "telnet:127.0.0.1:%d" % closed_port())
        self.start("", "somehost", "-cfg=other.cfg", files={"other.cfg": other})
        t.wait_title("Quenlor - (1): somehost")
        t.wait_for_text(REPORT_END)
        self.assertNotIn("Bad address", t.screen())
        t.send_keys("Enter")
        t.wait_for_text(BANNER_END)
        t.send_keys("Escape")
        self.ends(0, restored=False)
        # SIGTERM and SIGHUP end with status 1; a fatal signal still kills
        # the process, after the terminal is back.
        for signum, status in ((signal.SIGTERM, 1), (signal.SIGHUP, 1),
                               (signal.SIGSEGV, 128 + signal.SIGSEGV)):
            self.start()
            t.wait_for_text(BANNER_END)
            os.kill(t.program_pid(), signum)
            self.ends(status)
        self.assertIn("Unknown Win32 exception found!\n", t.screen())

    def test_installed_program_replays_the_demo(self):
        t = self.term
        prefix, home = os.path.join(self.dir, "prefix"), os.path.join(self.dir, "home")
        subprocess.run(["cmake", "--install", os.path.dirname(harness.quenlor_binary()),
                        "--prefix", prefix], check=True, capture_output=True, timeout=120)
        for name in INSTALLED:
            self.assertTrue(os.path.isfile(os.path.join(prefix, name)), name)
        program = os.path.join(prefix, "bin", "quenlor")
        os.makedirs(home)
        for option, text, status in (("--help", "Usage: quenlor", 0), ("--version", "quenlor ", 0),
                                     ("--no-such-option", "", 2)):
            result = subprocess.run([program, option], capture_output=True, text=True,
                                    timeout=10, cwd=home)
            self.assertEqual(result.returncode, status, option)
            self.assertTrue(result.stdout.startswith(text), result.stdout)
        # No configuration of the user's own: the installed sample is used,
        # and the demo's capture and termcap are found beside it.
        t.shell("cd " + home)
        t.run("env", "XDG_CONFIG_HOME=" + home, program, "demo", "demo")
        t.wait_title("Quenlor - (2): demo")
        t.wait_for_text("ALT+X, Y closes it.")
        lines = t.lines()
        self.assertEqual(lines[1].strip(), "║" + " " * 14 + DEMO_TITLE + " " * 14 + "║")
        self.assertEqual(lines[11].strip(),
                         "Съешь же ещё этих мягких французских булок, да выпей чаю.")
        self.assertEqual(lines[15].strip(), "┌" + "─" * 13 + "┬" + "─" * 26 + "┐")
        self.assertEqual(lines[20].rstrip()[-1], "█")
        # Typing into a replay ends that session alone.
        t.send_text("a")
        t.wait_for_text(READ_ONLY)
        t.send_keys("M-F1")
        t.wait_title("Quenlor - (1): demo")
        t.wait_gone(READ_ONLY)
        self.assertIn(DEMO_TITLE, t.screen())
        t.send_keys("M-F2")
        t.wait_for_text(READ_ONLY)
        t.send_keys("Enter")
        t.wait_title("Quenlor - (1): demo")
        t.expect_bell("M-F2")  # gone
        t.send_keys("M-x")
        t.wait_for_text(CLOSE_QUESTION)
        t.send_text("y")
        t.wait_for_text(BANNER_END)
        t.send_keys("Escape")
        self.ends(0, restored=False)
        # A configuration in the user's folder comes first, and its relative
        # termcap name is taken from that folder.
        folder = os.path.join(home, "quenlor")
        os.makedirs(folder)
        shutil.copy(os.path.join(prefix, "share/quenlor/demo.cap"), os.path.join(folder, "mine.cap"))
        shutil.copy(os.path.join(prefix, "share/quenlor/termcap"), os.path.join(folder, "mytermcap"))
        with open(os.path.join(folder, "quenlor.cfg"), "w") as f:
            f.write("TERM=cons25r\nTERMCAP=mytermcap\n" + harness.host("mine", "file:mine.cap"))
        t.run("env", "XDG_CONFIG_HOME=" + home, program, "mine")
        t.wait_for_text("ALT+X, Y closes it.")
        self.assertEqual(t.title(), "Quenlor - (1): mine")


if __name__ == "__main__":
    unittest.main()
