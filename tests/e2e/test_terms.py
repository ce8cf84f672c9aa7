"""The sample configuration's terminal type on a real host: the telnet
peer's vim, with a UTF-8 locale, draws its screen as it would on that
terminal, and nothing the host sends for the type shows as text."""

import os
import re
import unittest

from harness import HERE, PEERS, PeerSession

SAMPLE = os.path.join(HERE, "..", "..", "etc", "quenlor.cfg")


def sample_term():
    with open(SAMPLE) as f:
        return re.search(r"^TERM=(\S+)$", f.read(), re.M).group(1)


class DefaultTermTest(unittest.TestCase):
    def test_vim_draws_with_the_sample_type(self):
        term = sample_term()
        cfg = ("TERM=%s\nINCOMING_RECODE_TABLE=utf-8\nOUTGOING_RECODE_TABLE=utf-8\n"
               "DEFINE_HOST peer {\n    ADDRESS=telnet:127.0.0.1:%d\n}\n"
               % (term, PEERS.TELNET_PORT))
        with PeerSession(cfg, "peer") as s:
            t = s.term
            s.login()
            s.command("export LC_ALL=C.UTF-8; echo \"type:$TERM\"", "type:" + term)
            s.wait_prompt()
            # A file of its own (the test account is shared), no swap file.
            s.command(r"f=$(mktemp /tmp/qterm.XXXXXX.txt); "
                      r"printf 'first line\nsecond \342\224\200\342\224\220\n' > $f")
            s.wait_prompt()
            s.command("vim -u NONE -i NONE -N -n -c 'set number' $f; rm -f $f")
            t.wait_for(lambda: t.lines()[23].startswith("~"), "vim's screen")
            lines = t.lines()
            self.assertEqual(lines[0].rstrip(), "  1 first line")
            self.assertEqual(lines[1].rstrip(), "  2 second ─┐")
            self.assertTrue(all(line.startswith("~") for line in lines[2:24]), t.screen())
            self.assertRegex(lines[24], r'^"/tmp/qterm\.\w+\.txt" 2L')
            # Insert a line above, then delete it: insert and delete line
            # sequences, the text moving back where it was.
            t.send_text("Onew")
            t.wait_for(lambda: "-- INSERT --" in t.lines()[24], "insert mode")
            t.send_keys("Escape")
            t.wait_for(lambda: t.lines()[2].startswith("  3 second")
                       and "-- INSERT --" not in t.lines()[24], "the line inserted")
            t.send_text("dd")
            t.wait_for(lambda: t.lines()[2].startswith("~"), "the line deleted")
            self.assertEqual(t.lines()[1].rstrip(), "  2 second ─┐")
            # Nothing of an escape sequence shows anywhere.
            self.assertNotRegex(t.screen(), r"←|\[\?|\[\d+;|\]\d+;")
            t.send_text(":q!")
            t.send_keys("Enter")
            s.wait_prompt()


if __name__ == "__main__":
    unittest.main()
