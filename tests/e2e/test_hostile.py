"""Hostile and stalled peers (tests/peers/hostile_peer.py, ssh2_window_peer.py),
each reached in turn from the connect prompt of one program whose telnet
session stays healthy: it echoes and answers within LIMIT, the bad session
closes within LIMIT of ALT+X Y (or ENTER after its report), memory stays
below RSS_BOUND_KB, and ESC at the end exits 0 with the terminal restored."""

import sys
import time
import unittest

from harness import CLOSE_QUESTION, LOGIN, PEERS, REPORT_END, PeerSession, config, host

import hostile_peer  # noqa: E402  (tests/peers, on the path through harness)
import ssh2_window_peer  # noqa: E402

# Resident memory bound: a full 16 MiB outgoing queue of a bad session, the
# paste's own copies (clipboard text, recoded bytes: 2 x 2 MB), two
# scroll-backs of 1000 lines, and the program's usual ~10 MB, with room.
RSS_BOUND_KB = 96 * 1024
LIMIT = 1.0
PASTE_BYTES = 2 * 1024 * 1024


class HostilePeerTest(unittest.TestCase):
    def timed(self, predicate, what):
        start = time.monotonic()
        self.s.term.wait_for(predicate, what + " within %.1f s" % LIMIT, LIMIT)
        return time.monotonic() - start

    def check_healthy(self, case):
        """The telnet session echoes and answers; the memory stays bounded."""
        t, n = self.s.term, len(self.report) + 1
        t.show(1, "peer")
        t.send_text("echo alive-%d-$((%d*7))" % (n, n))
        echo = self.timed(lambda: "echo alive-%d-$((%d*7))" % (n, n) in t.screen(), "the echo")
        t.send_keys("Enter")
        answer = self.timed(lambda: "alive-%d-%d" % (n, n * 7) in t.screen(), "the answer")
        with open("/proc/%d/status" % t.program_pid()) as f:
            kb = int(next(line for line in f if line.startswith("VmRSS:")).split()[1])
        self.assertLess(kb, RSS_BOUND_KB, "resident memory %d KB" % kb)
        self.report.append("%s %.2f/%.2f s %d KB" % (case, echo, answer, kb))

    def provoke(self, case, peer):
        """Turns the bad session (shown) bad: True when it has reported its
        end, "gone" when it has ended quietly."""
        s, t = self.s, self.s.term
        if case in ("stall", "cut", "silent", "garbage", "banner"):
            t.wait_prompt()
        if case == "flood":
            last = -1
            while peer.sent != last:  # our answers fill the socket: its sends stop
                last = peer.sent
                time.sleep(0.5)
        elif case == "stall":
            s.command("cat > /dev/null")
            peer.stall()
            line = "pasted line of text 0123456789\n"
            with open(s.path("paste.txt"), "w") as f:
                f.write(line * (PASTE_BYTES // len(line) + 1))
            t.tmux("load-buffer", s.path("paste.txt"))
            t.tmux("paste-buffer", "-p", "-t", "main")
            self.assertLess(peer.from_client, PASTE_BYTES)  # the relay stopped reading
        elif case == "cut":
            peer.cut()
            s.command("echo provoke")
            t.wait_for(lambda: REPORT_END in t.screen() or t.title() == "Quenlor - (1): peer",
                       "the end of the session")
            return "gone" if t.title() == "Quenlor - (1): peer" else True
        elif case == "silent":
            peer.silent()
        elif case == "garbage":
            peer.garbage()
            t.wait_for_text(REPORT_END)
            return True
        elif case == "banner":
            # The lines before the identification are dropped, never shown.
            self.assertNotIn("WELCOME", t.screen())
        elif case == "window":
            t.wait_for_text("window flood line")
            sent = peer.sent
            t.wait_for(lambda: peer.sent > sent + 1000000, "the flood going on")
        t.send_text("typed into the bad session")
        return False

    def test_bad_peers_beside_a_healthy_session(self):
        cases = [("flood", hostile_peer.TelnetFlood()),
                 ("stall", hostile_peer.Relay(PEERS.SSHD_PORT)),
                 ("cut", hostile_peer.Relay(PEERS.SSHD_PORT)),
                 ("silent", hostile_peer.Relay(PEERS.SSHD_PORT)),
                 ("half-open", hostile_peer.HalfOpen()),
                 ("garbage", hostile_peer.Relay(PEERS.SSHD_PORT)),
                 ("banner", hostile_peer.Banner(PEERS.SSHD_PORT)),
                 ("window", ssh2_window_peer.WindowFlood())]
        # The relays listen on new ports each time: trusted on first sight.
        cfg = config("".join(host(case, "telnet:127.0.0.1:%d" % peer.port) if case == "flood" else
                             host(case, "ssh2:127.0.0.1:%d" % peer.port, *LOGIN)
                             for case, peer in cases))
        self.report = []
        with PeerSession(cfg, "peer") as s:
            self.s, t = s, s.term
            t.login()
            for case, peer in cases:
                with peer:
                    t.send_keys("M-a")
                    t.wait_for_text("Connect to:")
                    t.shell(case)
                    t.wait_title("Quenlor - (2): " + case)
                    reported = self.provoke(case, peer)
                    self.check_healthy(case)
                    self.check_healthy(case)
                    if reported != "gone":
                        t.show(2, case)
                        if reported:
                            t.send_keys("Enter")
                        else:
                            t.send_keys("M-x")
                            self.timed(lambda: CLOSE_QUESTION in t.screen(), "the close question")
                            t.send_text("y")
                        self.timed(lambda: t.title() == "Quenlor - (1): peer", "the bad one closed")
                    self.check_healthy(case)
            s.command("exit")
            s.finish()
        print("\n".join(self.report), file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
