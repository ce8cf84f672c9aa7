"""Writes the screen the demo capture shows, as KOI8-R bytes with cons25r
control sequences, to the file named on the command line.

The capture (demo.cap) is what the telnet peer sent while its shell ran
`cat` on this file: Quenlor's raw log of that session (LOG_FILE=full:),
from the clear-screen sequence to the end of the file's bytes."""

import sys

ESC = "\x1b"


def cm(row, col):
    return "%s[%d;%dH" % (ESC, row + 1, col + 1)


def sgr(*codes):
    return "%s[%sm" % (ESC, ";".join(str(c) for c in codes))


def screen():
    out = [ESC + "[H" + ESC + "[J"]
    width = 78
    title = "Quenlor 3.24 - a captured telnet session, replayed"
    pad = (width - len(title)) // 2
    out.append(cm(0, 0) + sgr(1, 33, 44) + "╔" + "═" * width + "╗")
    out.append(cm(1, 0) + "║" + " " * pad + title + " " * (width - pad - len(title)) + "║")
    out.append(cm(2, 0) + "╚" + "═" * width + "╝" + sgr(0))

    out.append(cm(4, 2) + sgr(1) + "Colours" + sgr(0))
    names = ["black", "red", "green", "yellow", "blue", "magenta", "cyan", "white"]
    for i, name in enumerate(names):
        fg = 37 if i in (0, 1, 4, 5) else 30
        out.append(cm(5, 2 + i * 9) + sgr(fg, 40 + i) + " %-7s " % name + sgr(0))
        out.append(cm(6, 2 + i * 9) + sgr(1, 30 + i) + " %-7s " % name + sgr(0))

    out.append(cm(8, 2) + sgr(1) + "Attributes" + sgr(0) + "  " + sgr(1) + "bold" + sgr(0) +
               "  " + sgr(7) + "reverse" + sgr(0) + "  " + sgr(1, 7) + "bold reverse" + sgr(0))

    out.append(cm(10, 2) + sgr(1) + "KOI8-R from the host, code page 866 on the screen" + sgr(0))
    out.append(cm(11, 4) + sgr(36) +
               "Съешь же ещё этих мягких французских булок, да выпей чаю." + sgr(0))
    out.append(cm(12, 4) + sgr(36) +
               "СЪЕШЬ ЖЕ ЕЩЁ ЭТИХ МЯГКИХ ФРАНЦУЗСКИХ БУЛОК, ДА ВЫПЕЙ ЧАЮ." + sgr(0))

    out.append(cm(14, 2) + sgr(1) + "Box drawing" + sgr(0))
    rows = [("key", "what it does"), ("ALT+F1..F12", "show session 1..12"),
            ("ALT+A", "connect to another host"), ("CTRL+ALT+S", "scroll-back viewer"),
            ("ALT+X", "close this session")]
    row = 15
    out.append(cm(row, 4) + "┌" + "─" * 13 + "┬" + "─" * 26 + "┐")
    row += 1
    for i, (key, text) in enumerate(rows):
        attr = sgr(1) if i == 0 else ""
        out.append(cm(row, 4) + "│" + attr + " %-12s" % key + sgr(0) + "│" + attr +
                   " %-25s" % text + sgr(0) + "│")
        row += 1
        if i == 0:
            out.append(cm(row, 4) + "├" + "─" * 13 + "┼" + "─" * 26 + "┤")
            row += 1
    out.append(cm(row, 4) + "└" + "─" * 13 + "┴" + "─" * 26 + "┘")

    # Cursor addressing: blocks placed from the bottom up.
    for i in range(6):
        out.append(cm(21 - i, 50 + i * 4) + sgr(1, 32 + i % 5) + "█" + sgr(0))

    out.append(cm(23, 2) + sgr(33) +
               "This screen is a replay: typing ends it (read-only). ALT+X, Y closes it." +
               sgr(0))
    out.append(cm(24, 0))
    return "".join(out).encode("koi8-r")


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(screen())
