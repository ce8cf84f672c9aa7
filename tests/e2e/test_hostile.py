"""Hostile and stalled peers (tests/peers/hostile_peer.py) against the real
program in tmux, each case with a healthy second session on the telnet peer.

In every case:
  - the telnet session echoes typed text, and runs a command, within 1 s;
  - the bad session closes within 1 s of the key that closes it (ALT+X and
    Y, or ENTER when the session has already reported its end);
  - the program does not crash, and its resident memory stays below
    RSS_BOUND_KB;
  - after the last session, ESC ends the program with status 0 and the
    terminal's modes are restored.

Cases: a telnet server flooding DO/SB requests that never reads; an SSH-2
server that stops reading after the login while 2 MB are pasted; one that
cuts a packet in the middle and closes; one that goes silent without
closing (half-open) after the login; one that goes silent before sending
anything; one that sends garbage after the key exchange; one that sends
100 KB of lines with escape sequences before its identification; an SSH-2
server (tests/peers/ssh2_window_peer.py) that grants a window of 2^32-1 and
then sends data without end.
"""

import sys
import time
import unittest

from harness import BANNER_END, LOGIN_TIMEOUT, PEERS, TRUST_NEW, PeerSession, config

import hostile_peer  # noqa: E402  (tests/peers, on the path through harness)
import ssh2_window_peer  # noqa: E402

# Resident memory bound: a full 16 MiB outgoing queue per bad session, the
# paste's own copies (clipboard text, recoded bytes: 2 x 2 MB), two
# scroll-backs of 1000 lines, and the program's usual ~10 MB, with room.
RSS_BOUND_KB = 96 * 1024
LIMIT = 1.0
PASTE_BYTES = 2 * 1024 * 1024


def bad_config(address, ssh):
    host = "DEFINE_HOST bad {\n    ADDRESS=%s\n" % address
    if ssh:
        host += "    USER=%s\n    SSH_AUTH=pwd:%s\n" % (PEERS.TEST_USER, PEERS.TEST_PASSWORD)
    # The relays listen on new ports each time: trusted on first sight, in
    # the program's own folder.
    return TRUST_NEW + config(host + "}\n")


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError("no VmRSS")


class HostilePeerTest(unittest.TestCase):
    counter = 0

    # -- the checks every case makes ---------------------------------------
    def show(self, s, index, name):
        t = s.term
        t.send_keys("M-F%d" % index)
        t.wait_for(lambda: t.title() == "Quenlor - (%d): %s" % (index, name),
                   "session %d shown" % index)

    def poll(self, predicate, what, limit):
        """Seconds until predicate() holds; fails past `limit`."""
        start = time.monotonic()
        while not predicate():
            if time.monotonic() - start > limit:
                raise AssertionError("%s: not within %.1f s; screen:\n%s" %
                                     (what, limit, self.s.term.screen()))
            time.sleep(0.01)
        return time.monotonic() - start

    def check_healthy(self, s):
        """The telnet session echoes typed text and answers a command
        within LIMIT."""
        t = s.term
        self.show(s, 1, "peer")
        HostilePeerTest.counter += 1
        n = HostilePeerTest.counter
        marker = "echo alive-%d-$((%d*7))" % (n, n)
        t.send_text(marker)
        echo = self.poll(lambda: marker in t.screen(), "echo of typed text", LIMIT)
        t.send_keys("Enter")
        answer = self.poll(lambda: "alive-%d-%d" % (n, n * 7) in t.screen(),
                           "command answer", LIMIT)
        self.times.append((echo, answer))

    def check_memory(self, s):
        kb = rss_kb(s.term.program_pid())
        self.assertLess(kb, RSS_BOUND_KB, "resident memory %d KB" % kb)
        return kb

    def close_bad(self, s, reported):
        """Closes the bad session: ENTER after a report, else ALT+X and Y.
        A session the peer's close has already ended is gone by itself."""
        t = s.term
        if self.gone:
            return
        self.show(s, 2, "bad")
        if reported:
            t.send_keys("Enter")
        else:
            t.send_keys("M-x")
            self.poll(lambda: "Are you sure you want to close the connection? Y/N" in t.screen(),
                      "the close question", LIMIT)
            t.send_text("y")
        self.poll(lambda: t.title() == "Quenlor - (1): peer", "the bad session closed", LIMIT)

    def finish(self, s):
        t = s.term
        s.command("exit")
        t.wait_for_text(BANNER_END, LOGIN_TIMEOUT)
        t.send_keys("Escape")
        self.assertEqual(t.wait_exit(), 0)
        modes = t.terminal_modes()
        for mode in ("icanon", "echo", "isig", "icrnl", "opost"):
            self.assertIn(mode, modes)

    def run_case(self, address, ssh, provoke, reported=False):
        """`provoke(s)` turns the bad session bad and returns when it is."""
        self.times = []
        self.gone = False
        with PeerSession(bad_config(address, ssh), "peer", "bad") as s:
            self.s = s
            t = s.term
            t.wait_for(lambda: "(2)" in t.title(), "two sessions")
            self.show(s, 1, "peer")
            s.login()
            self.show(s, 2, "bad")
            provoke(s)
            self.check_healthy(s)
            self.check_memory(s)
            self.check_healthy(s)
            self.close_bad(s, reported)
            self.check_healthy(s)
            kb = self.check_memory(s)
            self.finish(s)
        print("%s: RSS %d KB; echo/answer s: %s" % (
            self._testMethodName, kb, ", ".join("%.2f/%.2f" % x for x in self.times)),
            file=sys.stderr)

    # -- the cases ----------------------------------------------------------
    def test_telnet_flood_that_never_reads(self):
        with hostile_peer.TelnetFlood() as peer:
            def provoke(s):
                # Our answers fill the socket: the peer's sends stop growing.
                last = -1
                while peer.sent != last:
                    last = peer.sent
                    time.sleep(0.5)
                s.term.send_text("typed into the stalled session")
            self.run_case("telnet:127.0.0.1:%d" % peer.port, False, provoke)

    def test_ssh2_server_stops_reading_during_a_2mb_paste(self):
        with hostile_peer.Relay(PEERS.SSHD_PORT) as peer:
            def provoke(s):
                s.wait_prompt(LOGIN_TIMEOUT)
                s.command("cat > /dev/null")
                peer.stall()
                path = s.path("paste.txt")
                with open(path, "w") as f:
                    line = "pasted line of text 0123456789\n"
                    f.write(line * (PASTE_BYTES // len(line) + 1))
                s.term.tmux("load-buffer", path)
                s.term.tmux("paste-buffer", "-p", "-t", "main")
                # The relay stopped reading: the client cannot have sent it all.
                time.sleep(1)
                self.assertLess(peer.from_client, PASTE_BYTES)
            self.run_case("ssh2:127.0.0.1:%d" % peer.port, True, provoke)

    def test_ssh2_server_closes_in_the_middle_of_a_packet(self):
        with hostile_peer.Relay(PEERS.SSHD_PORT) as peer:
            def provoke(s):
                s.wait_prompt(LOGIN_TIMEOUT)
                peer.cut()
                s.command("echo provoke")
                # Reported, or ended quietly as a closed connection: either
                # way the session does not hang.
                t = s.term
                t.wait_for(lambda: "Press Enter to close..." in t.screen()
                           or t.title() == "Quenlor - (1): peer", "the end of the session", 10)
                self.gone = t.title() == "Quenlor - (1): peer"
            self.run_case("ssh2:127.0.0.1:%d" % peer.port, True, provoke, reported=True)

    def test_ssh2_server_goes_silent_after_login(self):
        with hostile_peer.Relay(PEERS.SSHD_PORT) as peer:
            def provoke(s):
                s.wait_prompt(LOGIN_TIMEOUT)
                peer.silent()
                s.term.send_text("typed into the silent session")
            self.run_case("ssh2:127.0.0.1:%d" % peer.port, True, provoke)

    def test_server_silent_from_the_start(self):
        with hostile_peer.HalfOpen() as peer:
            def provoke(s):
                s.term.send_text("typed while connecting")
            self.run_case("ssh2:127.0.0.1:%d" % peer.port, True, provoke)

    def test_ssh2_garbage_after_key_exchange(self):
        with hostile_peer.Relay(PEERS.SSHD_PORT) as peer:
            def provoke(s):
                s.wait_prompt(LOGIN_TIMEOUT)
                peer.garbage()
                s.term.wait_for_text("Press Enter to close...", 10)
            self.run_case("ssh2:127.0.0.1:%d" % peer.port, True, provoke, reported=True)

    def test_100kb_banner_with_escape_sequences(self):
        with hostile_peer.Banner(PEERS.SSHD_PORT) as peer:
            def provoke(s):
                # The lines before the identification are dropped: the login
                # goes on, and nothing in them reached the terminal.
                s.wait_prompt(LOGIN_TIMEOUT)
                self.assertEqual(s.term.title(), "Quenlor - (2): bad")
                self.assertNotIn("WELCOME", s.term.screen())
            self.run_case("ssh2:127.0.0.1:%d" % peer.port, True, provoke)

    def test_ssh2_window_of_2_to_the_32_then_data_for_ever(self):
        with ssh2_window_peer.WindowFlood() as peer:
            def provoke(s):
                s.term.wait_for_text("window flood line", LOGIN_TIMEOUT)
                s.term.send_text("typed into the flooded session")
                sent = peer.sent
                self.poll(lambda: peer.sent > sent + 1000000, "the flood going on", 10)
            self.run_case("ssh2:127.0.0.1:%d" % peer.port, True, provoke)


if __name__ == "__main__":
    unittest.main()

