"""The replay host: the sample configuration's "demo" host shows the
committed capture, and typing in a replay ends that session alone."""

import os
import shutil
import unittest

import harness

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
TITLE_LINE = "Quenlor 3.24 - a captured telnet session, replayed"
READ_ONLY = "Exception: TFileConnection::PutBuffer. TFileConnection is read only connection."


class ReplayTest(unittest.TestCase):
    def test_demo_shows_the_capture_and_typing_ends_only_that_session(self):
        folder = harness.temp_dir()
        program = harness.quenlor_in(folder)
        for source in ("etc/quenlor.cfg", "etc/termcap", "tests/data/demo/demo.cap"):
            shutil.copy(os.path.join(ROOT, source), folder)
        with harness.Terminal() as t:
            t.run(program, "demo", "demo")
            t.wait_for(lambda: t.title() == "Quenlor - (2): demo", "session 2")
            t.wait_for_text("ALT+X, Y closes it.")
            lines = t.lines()
            self.assertEqual(lines[1].strip(), "║" + " " * 14 + TITLE_LINE + " " * 14 + "║")
            self.assertEqual(lines[11].strip(),
                             "Съешь же ещё этих мягких французских булок, да выпей чаю.")
            self.assertEqual(lines[15].strip(), "┌" + "─" * 13 + "┬" + "─" * 26 + "┐")
            self.assertEqual(lines[20].rstrip()[-1], "█")
            # The replay leaves an empty out.fc beside the program.
            self.assertEqual(os.path.getsize(os.path.join(folder, "out.fc")), 0)
            t.send_text("a")
            t.wait_for_text(READ_ONLY)
            t.wait_for_text("Press Enter to close...")
            # The other session goes on.
            t.send_keys("M-F1")
            t.wait_for(lambda: t.title() == "Quenlor - (1): demo", "session 1")
            t.wait_gone(READ_ONLY)
            self.assertIn(TITLE_LINE, t.screen())
            t.send_keys("M-F2")
            t.wait_for_text(READ_ONLY)
            t.send_keys("Enter")
            t.wait_for(lambda: t.title() == "Quenlor - (1): demo", "session 2 removed")
            t.wait_for_text(TITLE_LINE)
            t.send_keys("M-F2")  # gone: refused with a beep
            t.wait_for(t.bell, "a bell")
            # ALT+X, Y closes the last one; the program is still there.
            t.send_keys("M-x")
            t.wait_for_text("Are you sure you want to close the connection? Y/N")
            t.send_text("y")
            t.wait_for_text(harness.BANNER_END)
            t.send_keys("Escape")
            self.assertEqual(t.wait_exit(), 0)
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
