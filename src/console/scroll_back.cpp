#include "console/scroll_back.h"

#include <algorithm>

void TScrollBack::Assign(int lines, int width, TCell blank) {
    if (lines <= 0 || width <= 0) {
        Release();
        return;
    }
    LineCount = lines;
    LineWidth = width;
    First = 0;
    Cells.assign(static_cast<std::size_t>(lines) * static_cast<std::size_t>(width), blank);
}

void TScrollBack::Release() {
    Cells.clear();
    Cells.shrink_to_fit();
    LineCount = 0;
    LineWidth = 0;
    First = 0;
}

void TScrollBack::Rotate() {
    if (LineCount == 0) return;
    if (++First == LineCount) First = 0;
}

void TScrollBack::AppendLines(int count, std::vector<TCell>& out) const {
    count = std::clamp(count, 0, LineCount);
    if (count == 0) return;
    const std::size_t w = static_cast<std::size_t>(LineWidth);
    // At most two runs: from the first stored line to the end of the room,
    // then from the start of the room.
    const int head = std::min(count, LineCount - First);
    const TCell* first = Cells.data() + static_cast<std::size_t>(First) * w;
    out.insert(out.end(), first, first + static_cast<std::size_t>(head) * w);
    out.insert(out.end(), Cells.data(), Cells.data() + static_cast<std::size_t>(count - head) * w);
}
