"""The program without any server: the banner, the hot keys and the connect
prompt, configuration errors and signals, the installed program and the
demo's replay. The walks are tests/data/e2e/local.steps."""

import os
import shutil
import signal
import subprocess
import tempfile
import unittest

import harness
from harness import BANNER_END, SANE_MODES, closed_port, host

STEPS = "local.steps"
INSTALLED = ("bin/quenlor", "share/quenlor/quenlor.cfg", "share/quenlor/termcap",
             "share/quenlor/demo.cap", "share/man/man1/quenlor.1")


class LocalTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quenlor-e2e-")
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
        self.start(host("alpha", "telnet:127.0.0.1:%d" % closed_port()))
        t.walk(STEPS, "banner")
        cursor = t.tmux("display-message", "-p", "-t", "main", "#{cursor_x} #{cursor_y}").split()
        self.assertEqual((cursor, t.bells()), (["0", "11"], 0))
        # Standard error was the terminal: it goes to a log file instead.
        self.assertTrue(os.path.exists(os.path.join(self.dir, "quenlor-errors.log")))
        t.walk(STEPS, "keys")
        self.ends(0)
        self.assertNotIn("Quenlor, version", t.screen())  # the alternate screen is gone

    def test_configuration_errors_and_signals(self):
        t = self.term
        for config, message in (
                (None, "Exception: Unable to open config file: quenlor.cfg.\n"),
                ("TERM=ansi\nNO_SUCH_KEY=1\n",
                 "Exception: Config error. Bad line: |NO_SUCH_KEY=1|. Line number: 2.\n"),
                (host("x", "ssh2:x", "SSH_CIPHERS=aes128-ctr,rot13"),
                 "Config error. Unknown SSH algorithm for SSH_CIPHERS: rot13.")):
            self.start(config)
            self.ends(0)
            self.assertIn(message, t.screen())
        other = host("somehost", "telnet:127.0.0.1:%d" % closed_port())
        self.start("", "somehost", "-cfg=other.cfg", files={"other.cfg": other})
        t.walk(STEPS, "other configuration")
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
        os.makedirs(os.path.join(home, "quenlor"))
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
        t.walk(STEPS, "demo")
        lines = [line.strip() for line in t.lines()]
        self.assertEqual(lines[1], "║%s║" % "Quenlor 3.24 - a captured telnet session, replayed"
                         .center(78))
        self.assertEqual(lines[11], "Съешь же ещё этих мягких французских булок, да выпей чаю.")
        self.assertEqual(lines[15], "┌" + "─" * 13 + "┬" + "─" * 26 + "┐")
        self.assertEqual(lines[20][-1], "█")
        self.assertEqual(os.path.getsize(os.path.join(prefix, "share/quenlor/out.fc")), 0)
        t.walk(STEPS, "replay typed")
        self.ends(0, restored=False)
        # A configuration in the user's folder comes first, and its relative
        # termcap name is taken from that folder.
        for source, target in (("demo.cap", "mine.cap"), ("termcap", "mytermcap")):
            shutil.copy(os.path.join(prefix, "share/quenlor", source),
                        os.path.join(home, "quenlor", target))
        with open(os.path.join(home, "quenlor", "quenlor.cfg"), "w") as f:
            f.write("TERM=cons25r\nTERMCAP=mytermcap\n" + host("mine", "file:mine.cap"))
        t.run("env", "XDG_CONFIG_HOME=" + home, program, "mine")
        t.wait_for_text("ALT+X, Y closes it.")
        self.assertEqual(t.title(), "Quenlor - (1): mine")


if __name__ == "__main__":
    unittest.main()
