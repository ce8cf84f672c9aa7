#include "console/scroll_back.h"

#include <algorithm>
#include <new>

int TScrollBack::Assign(int lines, int width, TCell blank) {
    Release();
    if (lines <= 0 || width <= 0) return 0;
    const std::size_t w = static_cast<std::size_t>(width);
    lines = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(lines), kMaxCells / w));
    while (lines > 0) {
        try {
            Cells.assign(static_cast<std::size_t>(lines) * w, blank);
            break;
        } catch (const std::bad_alloc&) {
            Release();
            lines /= 2;
        }
    }
    if (lines == 0) return 0;
    LineCount = lines;
    LineWidth = width;
    First = 0;
    return lines;
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
