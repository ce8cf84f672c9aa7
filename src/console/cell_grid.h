// The cells of one screen, row after row: to its readers and writers an
// ordinary array of width x height cells.
//
// The array is a window into a larger store, so that scrolling the whole
// screen up by a row (what every line of a flood of short lines does) moves
// the window by a row instead of moving every other row. The rows go back
// to the start of the store once the window reaches its end, which is once
// every kSlackScreens screenfuls of scrolling.
#pragma once

#include <cstddef>
#include <vector>

#include "console/cell.h"

class TCellGrid {
  public:
    static constexpr std::size_t kSlackScreens = 2;

    TCell* data() { return store_.data() + offset_; }
    const TCell* data() const { return store_.data() + offset_; }
    std::size_t size() const { return size_; }
    TCell* begin() { return data(); }
    TCell* end() { return data() + size_; }
    const TCell* begin() const { return data(); }
    const TCell* end() const { return data() + size_; }
    TCell& operator[](std::size_t i) { return data()[i]; }
    const TCell& operator[](std::size_t i) const { return data()[i]; }
    const TCell& at(std::size_t i) const;

    // `count` cells of `fill`; no room kept for scrolling.
    void assign(std::size_t count, const TCell& fill);
    // Takes these cells as the content.
    void Adopt(std::vector<TCell>&& cells);
    // Gives back the store's room beyond the content.
    void shrink_to_fit();
    // The cells as a plain array, for a display buffer.
    void CopyTo(std::vector<TCell>& out) const { out.assign(begin(), end()); }

    // The first `width` cells (the top row) leave, the rest move up by
    // `width`, and `width` cells of `fill` come in at the end.
    void ScrollUp(std::size_t width, const TCell& fill);

  private:
    std::vector<TCell> store_;
    std::size_t offset_ = 0;
    std::size_t size_ = 0;
};
