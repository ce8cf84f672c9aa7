"""SSH-2 re-keying and flow control end to end: Quenlor in tmux against
Debian's sshd set up with "RekeyLimit 256K" and the legacy algorithms
(group 1, ssh-dss, 3des-cbc, hmac-sha1), so the server starts a new key
exchange after every 256 KB in either direction, and against the plain
sshd for a large paste."""

import hashlib
import os
import re
import unittest

from telnet_support import BANNER_END, PEERS, PeerSession
from test_ssh2 import LOGIN_TIMEOUT, password_auth, ssh2_config

def rekeys_logged(path):
    """How many completed re-keys the npm ssh2 server has logged."""
    try:
        with open(path, errors="replace") as f:
            return len(re.findall(r" rekey \d+ done", f.read()))
    except OSError:
        return 0


class Ssh2RekeyTest(unittest.TestCase):
    def seq_arrives_whole(self, port, count):
        """`seq 1 count` arrives complete and in order in the raw log, and the
        session still answers afterwards."""
        with PeerSession(ssh2_config(port, password_auth(),
                                     extra="    LOG_FILE=full:raw.log\n"), "peer") as s:
            s.wait_prompt(LOGIN_TIMEOUT)
            s.command("echo start-$((6*7))", "start-42")
            s.wait_prompt()
            s.command("seq 1 %d; echo seq-$((6*7))-done" % count)
            s.term.wait_for_text("seq-42-done", 180)
            s.wait_prompt(30)
            s.command("echo after-$((2+2))", "after-4")
            s.wait_prompt()
            s.command("exit")
            s.term.wait_for_text(BANNER_END, LOGIN_TIMEOUT)
            with open(s.path("raw.log"), "rb") as f:
                log = f.read()
            start = log.index(b"\r\n1\r\n2\r\n3\r\n") + 2
            numbers = log[start:].split(b"\r\n")[:count]
            self.assertEqual(numbers, [str(i).encode() for i in range(1, count + 1)])

    def test_seq_arrives_whole_across_many_server_rekeys(self):
        # 2 888 895 bytes of output: about eleven exchanges started by sshd.
        self.seq_arrives_whole(PEERS.SSHD_REKEY_PORT, 400000)

    def test_seq_arrives_whole_across_npm_ssh2_rekeys(self):
        # The npm ssh2 server re-keys (Connection.rekey) after every 256 KB of
        # shell output: about five exchanges.
        log = os.path.join(PEERS.PEERS_STATE, "ssh2js.log")
        before = rekeys_logged(log)
        self.seq_arrives_whole(PEERS.SSH2JS_REKEY_PORT, 200000)
        self.assertGreaterEqual(rekeys_logged(log) - before, 3)

    def paste_and_check(self, port, size):
        """Pastes `size` bytes of lines into `cat > file` and compares the
        checksum the server computes of what arrived."""
        lines = []
        total = 0
        i = 0
        while total < size:
            line = "%07d %s\n" % (i, "abcdefghijklmnopqrstuvwxyz0123456789" * 2)
            lines.append(line)
            total += len(line)
            i += 1
        text = "".join(lines).encode()
        expected = hashlib.md5(text).hexdigest()
        with PeerSession(ssh2_config(port, password_auth()), "peer") as s:
            s.wait_prompt(LOGIN_TIMEOUT)
            s.command("stty -echo; cat > paste.txt; stty echo; "
                      "md5sum paste.txt; wc -c < paste.txt")
            paste_file = s.path("paste.src")
            with open(paste_file, "wb") as f:
                f.write(text)
            t = s.term
            t.tmux("load-buffer", "-b", "big", paste_file)
            t.tmux("paste-buffer", "-p", "-b", "big", "-t", "main")
            # Ctrl+D on an empty line ends cat once the whole paste is in.
            t.send_keys("C-d")
            t.wait_for(lambda: re.search(r"^[0-9a-f]{32}  paste.txt", t.screen(), re.M),
                       "the checksum", 300)
            t.wait_for(lambda: re.search(r"^\d+\s*$", t.screen(), re.M), "the size", 30)
            screen = t.screen()
            got = re.search(r"^([0-9a-f]{32})  paste.txt", screen, re.M).group(1)
            size_line = re.search(r"^(\d+)\s*$", screen, re.M).group(1)
            self.assertEqual(int(size_line), len(text))
            self.assertEqual(got, expected)
            s.command("rm -f paste.txt; exit")
            t.wait_for_text(BANNER_END, LOGIN_TIMEOUT)

    def test_4mb_paste_arrives_byte_exact(self):
        self.paste_and_check(PEERS.SSHD_PORT, 4 * 1024 * 1024)

    def test_paste_across_server_rekeys_arrives_byte_exact(self):
        # Our data is held back during each exchange and none of it is lost.
        self.paste_and_check(PEERS.SSHD_REKEY_PORT, 2 * 1024 * 1024)

if __name__ == "__main__":
    unittest.main()
