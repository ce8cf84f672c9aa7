"""The installed program: `cmake --install` (the last step of `make install`)
into a temporary prefix; started from another directory, the installed
binary finds its configuration, termcap and demo capture in the prefix's
data folder. --help and --version answer and exit 0."""

import os
import shutil
import subprocess
import tempfile
import unittest

import harness

INSTALLED = ("bin/quenlor", "share/quenlor/quenlor.cfg", "share/quenlor/termcap",
             "share/quenlor/demo.cap", "share/man/man1/quenlor.1")


class InstallTest(unittest.TestCase):
    def setUp(self):
        self.prefix = tempfile.mkdtemp(prefix="quenlor-prefix-")
        self.elsewhere = tempfile.mkdtemp(prefix="quenlor-cwd-")
        build = os.path.dirname(harness.quenlor_binary())
        subprocess.run(["cmake", "--install", build, "--prefix", self.prefix], check=True,
                       capture_output=True, timeout=120)
        self.program = os.path.join(self.prefix, "bin", "quenlor")

    def tearDown(self):
        shutil.rmtree(self.prefix, ignore_errors=True)
        shutil.rmtree(self.elsewhere, ignore_errors=True)

    def test_files_help_version_and_a_run_from_elsewhere(self):
        for name in INSTALLED:
            self.assertTrue(os.path.isfile(os.path.join(self.prefix, name)), name)
        for option, text in (("--help", "Usage: quenlor"), ("--version", "quenlor ")):
            result = subprocess.run([self.program, option], capture_output=True, text=True,
                                    timeout=10, cwd=self.elsewhere)
            self.assertEqual(result.returncode, 0, option)
            self.assertTrue(result.stdout.startswith(text), result.stdout)
        result = subprocess.run([self.program, "--no-such-option"], capture_output=True,
                                timeout=10, cwd=self.elsewhere)
        self.assertEqual(result.returncode, 2)

        with harness.Terminal() as t:
            t.shell("cd " + self.elsewhere)
            # No configuration of the user's own: the installed sample is
            # used, and the demo's capture and termcap are found beside it.
            t.run("env", "XDG_CONFIG_HOME=" + self.elsewhere, self.program, "demo")
            t.wait_for_text("ALT+X, Y closes it.")
            self.assertEqual(t.title(), "Quenlor - (1): demo")
            # A configuration in the user's folder comes first, and its
            # relative termcap name is taken from that folder.
            t.send_keys("M-x")
            t.send_text("y")
            t.send_keys("Escape")
            t.wait_exit()
            folder = os.path.join(self.elsewhere, "quenlor")
            os.makedirs(folder)
            shutil.copy(os.path.join(self.prefix, "share/quenlor/demo.cap"),
                        os.path.join(folder, "mine.cap"))
            shutil.copy(os.path.join(self.prefix, "share/quenlor/termcap"),
                        os.path.join(folder, "mytermcap"))
            with open(os.path.join(folder, "quenlor.cfg"), "w") as f:
                f.write("TERM=cons25r\nTERMCAP=mytermcap\n"
                        "DEFINE_HOST mine {\n    ADDRESS=file:mine.cap\n}\n")
            t.run("env", "XDG_CONFIG_HOME=" + self.elsewhere, self.program, "mine")
            t.wait_for_text("ALT+X, Y closes it.")
            self.assertEqual(t.title(), "Quenlor - (1): mine")


if __name__ == "__main__":
    unittest.main()
