"""SSH-2 re-keying and flow control end to end: Quenlor in tmux against
Debian's sshd set up with "RekeyLimit 256K" and the legacy algorithms
(group 1, ssh-dss, 3des-cbc, hmac-sha1), so the server starts a new key
exchange after every 256 KB in either direction, against the npm ssh2
server re-keying after every 256 KB of output, and against the plain sshd
for a large paste."""

import hashlib
import os
import re
import unittest

from harness import LOGIN_TIMEOUT, PASSWORD, PEERS, PeerSession, ssh2, ssh_config
from test_ssh2 import numbers_in_log


def rekeys_logged(path):
    """How many completed re-keys the npm ssh2 server has logged."""
    try:
        with open(path, errors="replace") as f:
            return len(re.findall(r" rekey \d+ done", f.read()))
    except OSError:
        return 0


class Ssh2RekeyTest(unittest.TestCase):
    def test_seq_arrives_whole_across_rekeys(self):
        # sshd: 2 888 895 bytes of output, about eleven exchanges; the npm
        # server (Connection.rekey): about five.
        log = os.path.join(PEERS.PEERS_STATE, "ssh2js.log")
        for port, count in ((PEERS.SSHD_REKEY_PORT, 400000), (PEERS.SSH2JS_REKEY_PORT, 200000)):
            before = rekeys_logged(log)
            cfg = ssh_config(ssh2(port), PASSWORD, extra="    LOG_FILE=full:raw.log\n")
            with self.subTest(port=port), PeerSession(cfg, "peer") as s:
                s.wait_prompt(LOGIN_TIMEOUT)
                s.command("seq 1 %d; echo seq-$((6*7))-done" % count, "seq-42-done", 180)
                s.wait_prompt(30)
                s.shell_and_exit("after")
                self.assertEqual(numbers_in_log(s, count),
                                 [str(i).encode() for i in range(1, count + 1)])
            if port == PEERS.SSH2JS_REKEY_PORT:
                self.assertGreaterEqual(rekeys_logged(log) - before, 3)

    def test_pastes_arrive_byte_exact(self):
        """A paste into `cat > file` on the plain sshd (4 MB) and across
        server re-keys (2 MB, our data held back during each exchange): the
        server's checksum of what arrived matches."""
        line = "%07d " + "abcdefghijklmnopqrstuvwxyz0123456789" * 2 + "\n"
        for port, size in ((PEERS.SSHD_PORT, 4 << 20), (PEERS.SSHD_REKEY_PORT, 2 << 20)):
            text = "".join(line % i for i in range(size // (len(line) + 3) + 1)).encode()
            with self.subTest(port=port), PeerSession(ssh_config(ssh2(port), PASSWORD),
                                                      "peer") as s:
                t = s.term
                s.wait_prompt(LOGIN_TIMEOUT)
                s.command("stty -echo; cat > paste.txt; stty echo; "
                          "md5sum paste.txt; wc -c < paste.txt")
                with open(s.path("paste.src"), "wb") as f:
                    f.write(text)
                t.tmux("load-buffer", "-b", "big", s.path("paste.src"))
                t.tmux("paste-buffer", "-p", "-b", "big", "-t", "main")
                # Ctrl+D on an empty line ends cat once the whole paste is in.
                t.send_keys("C-d")
                sums = t.wait_for(lambda: re.search(r"^([0-9a-f]{32})  paste.txt\s+(\d+)\s*$",
                                                    t.screen(), re.M), "the checksum", 300)
                self.assertEqual(int(sums.group(2)), len(text))
                self.assertEqual(sums.group(1), hashlib.md5(text).hexdigest())
                s.command("rm -f paste.txt")
                s.shell_and_exit("pasted")


if __name__ == "__main__":
    unittest.main()
