"""Soak: 12 telnet sessions printing without pause, and in turn one typed
command per session answered, for a given number of minutes; reports the
program's resident memory once a minute and the worst delay from ENTER on a
command until its answer is drawn.

Each session runs a loop on the telnet peer that prints five numbers, waits
up to 50 ms for a typed line (so about a hundred lines a second per session,
twelve hundred in all: continuous output, not a flood that only measures how
fast a backlog drains), and when a line has been typed, prints "ANS-<line>"
and holds still for two seconds, so the answer stays on the screen long
enough to be seen. The bench visits the sessions one after another
(ALT+F1..F12), so one round gives every session one command; how long a round
takes is reported too. An answer not seen on the screen within 30 s counts
as missed; every received byte also goes to a raw log (LOG_FILE), which then
tells whether the answer had arrived (drawn too late to be seen, as happens
when the machine is loaded) or not at all, and then whether the host had
echoed the typed line (it reached the host, whose loop missed it). A
loop ends by itself once its terminal is gone, so an aborted run leaves no
shell printing.

Start the peers first (bash tests/peers/start-all.sh).
Usage: soak_bench.py QUENLOR_BINARY [minutes]
"""

import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from harness import PeerSession, config  # noqa: E402

SESSIONS = 12
LOOP = ("while :; do seq 1 5 || exit; if read -t 0.05 l; then echo ANS-$l; sleep 2; fi; done")


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return -1


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    os.environ["QUENLOR_BINARY"] = os.path.abspath(sys.argv[1])
    minutes = float(sys.argv[2]) if len(sys.argv) > 2 else 10
    cfg = config().replace("MAX_SCROLL_SIZE=1000\n", "MAX_SCROLL_SIZE=1000\nLOG_FILE=full:soak.log\n")
    with PeerSession(cfg, *(["peer"] * SESSIONS)) as s:
        t = s.term
        t.wait_for(lambda: t.title() == "Quenlor - (%d): peer" % SESSIONS, "all sessions", 60)
        for i in range(1, SESSIONS + 1):
            t.send_keys("M-F%d" % i)
            t.wait_for(lambda: t.title() == "Quenlor - (%d): peer" % i, "session %d" % i)
            s.login(60)
            s.command(LOOP)
        pid = t.program_pid()
        start = time.monotonic()
        next_report = 60
        worst = 0.0
        delays = []
        rounds = 0
        n = 0
        missed = 0
        lost = 0  # answers that never arrived
        echoed = 0  # ... of which the host echoed the typed line
        while time.monotonic() - start < minutes * 60:
            round_start = time.monotonic()
            for i in range(1, SESSIONS + 1):
                t.send_keys("M-F%d" % i)
                t.wait_for(lambda: t.title() == "Quenlor - (%d): peer" % i, "session %d" % i)
                n += 1
                token = "q%dx" % n  # no token is the start of another
                t.send_text(token)
                sent = time.monotonic()
                t.send_keys("Enter")
                try:
                    t.wait_for(lambda: "ANS-" + token in t.screen(), "answer " + token, 30)
                except AssertionError:
                    missed += 1
                    with open(s.path("soak.log"), "rb") as log:
                        raw = log.read()
                    if ("ANS-" + token).encode() not in raw:
                        lost += 1
                        # The terminal's echo shows whether the line reached the host.
                        if token.encode() in raw:
                            echoed += 1
                    continue
                delay = time.monotonic() - sent
                delays.append(delay)
                worst = max(worst, delay)
            rounds += 1
            elapsed = time.monotonic() - start
            if elapsed >= next_report:
                print("%5.1f min: VmRSS %d KB; worst answer so far %.2f s; missed %d; last round %.1f s" %
                      (elapsed / 60, rss_kb(pid), worst, missed, time.monotonic() - round_start),
                      flush=True)
                next_report += 60
        delays.sort()
        print("commands %d in %d rounds; answer delay median %.2f s, p99 %.2f s, worst %.2f s" %
              (len(delays), rounds, delays[len(delays) // 2],
               delays[min(len(delays) - 1, int(len(delays) * 0.99))], worst))
        print("final VmRSS %d KB; answers missed: %d, of which never received: %d "
              "(the typed line echoed by the host for %d of those)" % (rss_kb(pid), missed, lost, echoed))


if __name__ == "__main__":
    main()
