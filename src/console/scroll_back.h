// The lines that scrolled off the top of a screen, kept as a ring of
// equal-sized lines: saving one more line into a full scroll-back costs the
// copy of that one line, however many lines the scroll-back holds (host
// output scrolls once per line, so shifting the whole buffer each time
// would cost the size of the scroll-back per line of text).
//
// Readers see the lines in order, oldest first, as if they lay one after
// another: Line(n) is the n-th line of that order and operator[](i) the i-th
// cell. How many lines are held is the owner's business (ScreenRecord keeps
// the count); the ring only knows its room and which stored line comes first.
//
// A plain value: copies are independent. No lock: the owner's rules apply.
#pragma once

#include <cstddef>
#include <vector>

#include "console/cell.h"

class TScrollBack {
  public:
    // The most cells one scroll-back takes (64 MiB): a MAX_SCROLL_SIZE
    // beyond it is cut to what fits, for every screen at once would
    // otherwise ask for more memory than a machine has.
    static constexpr std::size_t kMaxCells = std::size_t{16} << 20;

    // Room for `lines` lines of `width` cells each, all `blank`, in order
    // from the first stored line. No room when either is 0 or less. Fewer
    // lines are taken when `lines` exceeds kMaxCells, or when the memory
    // cannot be had (halving until it can); returns the lines obtained.
    int Assign(int lines, int width, TCell blank);
    // Gives the memory back; no room afterwards.
    void Release();

    // Cells of room: lines x width.
    std::size_t size() const { return Cells.size(); }
    int Lines() const { return LineCount; }
    int Width() const { return LineWidth; }

    // Line `n` in order, 0 <= n < Lines(): LineWidth cells.
    TCell* Line(int n) { return Cells.data() + Stored(n) * static_cast<std::size_t>(LineWidth); }
    const TCell* Line(int n) const {
        return Cells.data() + Stored(n) * static_cast<std::size_t>(LineWidth);
    }
    // Cell `i` of the lines in order, i < size().
    const TCell& operator[](std::size_t i) const {
        const std::size_t w = static_cast<std::size_t>(LineWidth);
        return Line(static_cast<int>(i / w))[i % w];
    }

    // The first line in order moves to the end: what was line n is line n-1
    // now, and the old first line is the last one, to be overwritten.
    void Rotate();
    // Appends lines 0..count-1 in order to `out` (count x width cells);
    // count is clamped to 0..Lines().
    void AppendLines(int count, std::vector<TCell>& out) const;

  private:
    // Index of the stored line that is line `n` in order.
    std::size_t Stored(int n) const {
        const int index = First + n;
        return static_cast<std::size_t>(index >= LineCount ? index - LineCount : index);
    }

    std::vector<TCell> Cells;
    int LineCount = 0;
    int LineWidth = 0;
    int First = 0;  // stored line that is line 0 in order, 0..LineCount-1
};
