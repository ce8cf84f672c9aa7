// Produces the bytes that bring a terminal from one picture of cells to
// another: CP866 characters as UTF-8, Windows attribute words as SGR colours
// (BGR colour bits to ANSI RGB order; the intensity bits pick the bright
// colours), with the fewest cursor moves and colour changes it can find.
// It remembers the terminal's cursor and colours between calls, so callers
// must send every byte it produces, in order, to a terminal whose auto-wrap
// mode is off (CSI ? 7 l), so that writing the last column of a row neither
// wraps nor scrolls. Not thread-safe: the owner
// calls it under the output lock.
#pragma once

#include <string>

#include "console/console.h"

class TScreenPainter {
  public:
    // Forget the terminal's state (after a clear, or when unsure).
    void Reset();
    // Appends bytes that draw the cells of `display` that differ from
    // `shown`, then copies them into `shown`. With `whole`, every cell is
    // drawn. Both buffers are width x height cells. Only the top-left
    // visibleWidth x visibleHeight cells are drawn (a terminal made smaller
    // than the screens must not wrap or scroll); -1 means all.
    void Paint(std::string& out, const TCell* display, TCell* shown, int width, int height,
               bool whole, int visibleWidth = -1, int visibleHeight = -1);
    // Appends a cursor move to (x, y) unless the cursor is there already.
    void PlaceCursor(std::string& out, int x, int y);

    // ANSI colour index (0..7) of a Windows BGR colour (0..7).
    static int AnsiColour(int bgr) { return ((bgr & 1) << 2) | (bgr & 2) | ((bgr & 4) >> 2); }

  private:
    void MoveTo(std::string& out, int x, int y);
    void SetColours(std::string& out, std::uint16_t attribute);
    void PutCell(std::string& out, const TCell& cell, int width);

    int cursor_x_ = -1;  // -1: unknown
    int cursor_y_ = -1;
    int attribute_ = -1;  // colours in force on the terminal, -1: unknown
};
