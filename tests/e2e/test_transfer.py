"""Bulk data both ways over SSH-2 in three sessions of one program: Debian's
sshd, the same re-keying after every 256 KB either way (legacy algorithms)
and the npm ssh2 server re-keying after every 256 KB of output. Output
arrives whole and in order, pastes into `cat > file` byte-exact."""

import hashlib
import os
import re
import unittest

from harness import LOGIN, LOGIN_TIMEOUT, PEERS, TRUST_NEW, PeerSession, host

# (host, port, numbers printed): 1.3 MB re-opens our 16 KB window about 150
# times; 2.9 MB is about eleven exchanges of sshd, 1.3 MB five of the npm server.
SESSIONS = (("plain", PEERS.SSHD_PORT, 200000), ("rekey", PEERS.SSHD_REKEY_PORT, 400000),
            ("npm", PEERS.SSH2JS_REKEY_PORT, 200000))


def npm_rekeys():
    """How many completed re-keys the npm ssh2 server has logged."""
    with open(os.path.join(PEERS.PEERS_STATE, "ssh2js.log"), errors="replace") as f:
        return len(re.findall(r" rekey \d+ done", f.read()))


class TransferTest(unittest.TestCase):
    def test_output_and_pastes_across_rekeys(self):
        cfg = "TERM=cons25r\nMAX_SCROLL_SIZE=1000\n" + TRUST_NEW + "".join(
            host(name, "ssh2:127.0.0.1:%d" % port, *LOGIN, "LOG_FILE=full:%s.log" % name)
            for name, port, _ in SESSIONS)
        rekeys = npm_rekeys()
        with PeerSession(cfg, *[name for name, _, _ in SESSIONS]) as s:
            t = s.term
            t.wait_title("Quenlor - (3): npm", LOGIN_TIMEOUT)  # keys before that would be lost
            for index, (name, _, count) in enumerate(SESSIONS * 2):
                t.show(index % 3 + 1, name)
                s.wait_prompt(180)  # the second time: after the output
                if index < 3:
                    s.command("seq 1 %d; echo seq-$((6*7))-done" % count)
            self.assertGreaterEqual(npm_rekeys() - rekeys, 3)
            # A paste on the plain server (4 MB) and across the server's
            # re-keys (2 MB, our data held back during each exchange).
            line = "%07d " + "abcdefghijklmnopqrstuvwxyz0123456789" * 2 + "\n"
            for index, size in ((1, 4 << 20), (2, 2 << 20)):
                text = "".join(line % i for i in range(size // (len(line) + 3) + 1)).encode()
                t.show(index)
                if index == 1:
                    t.send_keys("M-q")  # no window-size message in protocol 2: nothing happens
                s.command("stty -echo; cat > paste.txt; stty echo; md5sum paste.txt; "
                          "wc -c < paste.txt; rm paste.txt")
                with open(s.path("paste.src"), "wb") as f:
                    f.write(text)
                t.tmux("load-buffer", "-b", "big", s.path("paste.src"))
                t.tmux("paste-buffer", "-p", "-b", "big", "-t", "main")
                t.send_keys("C-d")  # ends cat once the whole paste is in
                sums = t.wait_for(lambda: re.search(r"^([0-9a-f]{32})  paste.txt\s+(\d+)\s*$",
                                                    t.screen(), re.M), "the checksum", 300)
                self.assertEqual(sums.groups(), (hashlib.md5(text).hexdigest(), str(len(text))))
                s.wait_prompt()
            for name, _, _ in SESSIONS:
                s.exit_shell(name)
            t.wait_title("Quenlor", LOGIN_TIMEOUT)
            # Every number arrived, in order, exactly once (the pty ends each line CR LF).
            for name, _, count in SESSIONS:
                log = s.read(name + ".log")
                numbers = log[log.index(b"\r\n1\r\n2\r\n3\r\n") + 2:].split(b"\r\n")[:count]
                self.assertEqual(numbers, [str(i).encode() for i in range(1, count + 1)], name)


if __name__ == "__main__":
    unittest.main()
