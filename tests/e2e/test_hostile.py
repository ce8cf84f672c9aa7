"""Hostile and stalled peers (tests/peers/hostile_peer.py and
ssh2_window_peer.py) against one program whose first session, on the telnet
peer, stays healthy: each bad peer is reached from the connect prompt in turn.

In every case:
  - the telnet session echoes typed text, and runs a command, within 1 s;
  - the bad session closes within 1 s of the key that closes it (ALT+X and
    Y, or ENTER when the session has already reported its end);
  - the program does not crash, and its resident memory stays below
    RSS_BOUND_KB;
and after the last one ESC ends the program with status 0, the terminal's
modes restored.
"""

import sys
import time
import unittest

from harness import CLOSE_QUESTION, LOGIN, LOGIN_TIMEOUT, PEERS, REPORT_END, PeerSession, config, host

import hostile_peer  # noqa: E402  (tests/peers, on the path through harness)
import ssh2_window_peer  # noqa: E402

# Resident memory bound: a full 16 MiB outgoing queue of a bad session, the
# paste's own copies (clipboard text, recoded bytes: 2 x 2 MB), two
# scroll-backs of 1000 lines, and the program's usual ~10 MB, with room.
RSS_BOUND_KB = 96 * 1024
LIMIT = 1.0
PASTE_BYTES = 2 * 1024 * 1024


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(next(line for line in f if line.startswith("VmRSS:")).split()[1])


class HostilePeerTest(unittest.TestCase):
    def poll(self, predicate, what, limit=LIMIT):
        """Seconds until predicate() holds; fails past `limit`."""
        start = time.monotonic()
        while not predicate():
            if time.monotonic() - start > limit:
                raise AssertionError("%s: not within %.1f s; screen:\n%s" %
                                     (what, limit, self.s.term.screen()))
            time.sleep(0.01)
        return time.monotonic() - start

    def check_healthy(self):
        """The telnet session echoes typed text and answers a command
        within LIMIT; the memory stays bounded."""
        s, t = self.s, self.s.term
        s.show(1, "peer")
        self.counter += 1
        n = self.counter
        marker = "echo alive-%d-$((%d*7))" % (n, n)
        t.send_text(marker)
        echo = self.poll(lambda: marker in t.screen(), "echo of typed text")
        t.send_keys("Enter")
        answer = self.poll(lambda: "alive-%d-%d" % (n, n * 7) in t.screen(), "command answer")
        kb = rss_kb(t.program_pid())
        self.assertLess(kb, RSS_BOUND_KB, "resident memory %d KB" % kb)
        self.report.append("%s %.2f/%.2f s %d KB" % (self.case, echo, answer, kb))

    # Each provocation turns the bad session (shown) bad; it returns True when
    # the session has reported its end, "gone" when it has ended quietly.
    def flood(self, peer):
        last = -1
        while peer.sent != last:  # our answers fill the socket: the peer's sends stop
            last = peer.sent
            time.sleep(0.5)
        self.s.term.send_text("typed into the stalled session")

    def stall_during_paste(self, peer):
        s = self.s
        s.wait_prompt(LOGIN_TIMEOUT)
        s.command("cat > /dev/null")
        peer.stall()
        line = "pasted line of text 0123456789\n"
        with open(s.path("paste.txt"), "w") as f:
            f.write(line * (PASTE_BYTES // len(line) + 1))
        s.term.tmux("load-buffer", s.path("paste.txt"))
        s.term.tmux("paste-buffer", "-p", "-t", "main")
        # The relay stopped reading: the client cannot have sent it all.
        self.assertLess(peer.from_client, PASTE_BYTES)

    def cut(self, peer):
        s, t = self.s, self.s.term
        s.wait_prompt(LOGIN_TIMEOUT)
        peer.cut()
        s.command("echo provoke")
        # Reported, or ended quietly as a closed connection.
        t.wait_for(lambda: REPORT_END in t.screen() or t.title() == "Quenlor - (1): peer",
                   "the end of the session")
        return "gone" if t.title() == "Quenlor - (1): peer" else True

    def silent_after_login(self, peer):
        self.s.wait_prompt(LOGIN_TIMEOUT)
        peer.silent()
        self.s.term.send_text("typed into the silent session")

    def silent_from_start(self, peer):
        self.s.term.send_text("typed while connecting")

    def garbage(self, peer):
        self.s.wait_prompt(LOGIN_TIMEOUT)
        peer.garbage()
        self.s.term.wait_for_text(REPORT_END)
        return True

    def banner(self, peer):
        # The lines before the identification are dropped: the login goes
        # on, and nothing in them reached the terminal.
        self.s.wait_prompt(LOGIN_TIMEOUT)
        self.assertNotIn("WELCOME", self.s.term.screen())

    def window_flood(self, peer):
        self.s.term.wait_for_text("window flood line", LOGIN_TIMEOUT)
        self.s.term.send_text("typed into the flooded session")
        sent = peer.sent
        self.poll(lambda: peer.sent > sent + 1000000, "the flood going on", 10)

    def test_bad_peers_beside_a_healthy_session(self):
        cases = [(hostile_peer.TelnetFlood(), "telnet", self.flood),
                 (hostile_peer.Relay(PEERS.SSHD_PORT), "ssh2", self.stall_during_paste),
                 (hostile_peer.Relay(PEERS.SSHD_PORT), "ssh2", self.cut),
                 (hostile_peer.Relay(PEERS.SSHD_PORT), "ssh2", self.silent_after_login),
                 (hostile_peer.HalfOpen(), "ssh2", self.silent_from_start),
                 (hostile_peer.Relay(PEERS.SSHD_PORT), "ssh2", self.garbage),
                 (hostile_peer.Banner(PEERS.SSHD_PORT), "ssh2", self.banner),
                 (ssh2_window_peer.WindowFlood(), "ssh2", self.window_flood)]
        # The relays listen on new ports each time: trusted on first sight.
        cfg = config("".join(host("bad%d" % i, "%s:127.0.0.1:%d" % (kind, peer.port),
                                  *(LOGIN if kind == "ssh2" else ()))
                             for i, (peer, kind, _) in enumerate(cases)))
        self.counter, self.report = 0, []
        with PeerSession(cfg, "peer") as s:
            self.s, t = s, s.term
            s.login()
            for i, (peer, _, provoke) in enumerate(cases):
                self.case = provoke.__name__
                with peer:
                    t.send_keys("M-a")
                    t.wait_for_text("Connect to:")
                    s.command("bad%d" % i)
                    t.wait_title("Quenlor - (2): bad%d" % i)
                    reported = provoke(peer)
                    self.check_healthy()
                    self.check_healthy()
                    if reported != "gone":
                        s.show(2, "bad%d" % i)
                        if reported:
                            t.send_keys("Enter")
                        else:
                            t.send_keys("M-x")
                            self.poll(lambda: CLOSE_QUESTION in t.screen(), "the close question")
                            t.send_text("y")
                        self.poll(lambda: t.title() == "Quenlor - (1): peer", "the bad one closed")
                    self.check_healthy()
            s.command("exit")
            s.finish()
        print("\n".join(self.report), file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
