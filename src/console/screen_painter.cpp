#include "console/screen_painter.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "platform/cp866.h"

namespace {

// UTF-8 of every CP866 byte, built once.
const std::array<std::string, 256>& Glyphs() {
    static const std::array<std::string, 256> table = [] {
        std::array<std::string, 256> t;
        for (int b = 0; b < 256; ++b)
            AppendUtf8(t[b], Cp866ToUnicode(static_cast<unsigned char>(b)));
        return t;
    }();
    return table;
}

void AppendNumber(std::string& out, int n) {
    char text[12];
    const int len = std::snprintf(text, sizeof text, "%d", n);
    out.append(text, static_cast<std::size_t>(len));
}

// Cells this close together on a row are cheaper to repaint than to skip.
constexpr int kMaxRepaintGap = 3;

}  // namespace

void TScreenPainter::Reset() {
    cursor_x_ = cursor_y_ = -1;
    attribute_ = -1;
}

void TScreenPainter::MoveTo(std::string& out, int x, int y) {
    if (x == cursor_x_ && y == cursor_y_) return;
    if (y == cursor_y_ && cursor_x_ >= 0) {
        if (x == 0) {
            out.push_back('\r');
        } else if (x > cursor_x_) {
            out.append("\x1b[");
            if (x - cursor_x_ > 1) AppendNumber(out, x - cursor_x_);
            out.push_back('C');
        } else {
            out.append("\x1b[");
            if (cursor_x_ - x > 1) AppendNumber(out, cursor_x_ - x);
            out.push_back('D');
        }
    } else if (x == 0 && cursor_y_ >= 0 && cursor_x_ >= 0 && y == cursor_y_ + 1) {
        // The raw terminal does not add a carriage return to a line feed,
        // and the row below exists, so this cannot scroll.
        out.append("\r\n");
    } else {
        out.append("\x1b[");
        if (y > 0 || x > 0) AppendNumber(out, y + 1);
        if (x > 0) {
            out.push_back(';');
            AppendNumber(out, x + 1);
        }
        out.push_back('H');
    }
    cursor_x_ = x;
    cursor_y_ = y;
}

void TScreenPainter::SetColours(std::string& out, std::uint16_t attribute) {
    const int a = attribute & 0xFF;
    if (a == attribute_) return;
    const int fg = a & 0x0F;
    const int bg = (a >> 4) & 0x0F;
    const bool fg_changed = attribute_ < 0 || fg != (attribute_ & 0x0F);
    const bool bg_changed = attribute_ < 0 || bg != ((attribute_ >> 4) & 0x0F);
    out.append("\x1b[");
    if (fg_changed) AppendNumber(out, ((fg & 8) ? 90 : 30) + AnsiColour(fg & 7));
    if (fg_changed && bg_changed) out.push_back(';');
    if (bg_changed) AppendNumber(out, ((bg & 8) ? 100 : 40) + AnsiColour(bg & 7));
    out.push_back('m');
    attribute_ = a;
}

void TScreenPainter::PutCell(std::string& out, const TCell& cell, int width) {
    SetColours(out, cell.Attr);
    out.append(Glyphs()[cell.Char]);
    // With auto-wrap off the cursor stays on the last column.
    if (cursor_x_ >= 0 && ++cursor_x_ >= width) cursor_x_ = width - 1;
}

void TScreenPainter::Paint(std::string& out, const TCell* display, TCell* shown, int width,
                           int height, bool whole, int visibleWidth, int visibleHeight) {
    const int rows = visibleHeight < 0 ? height : std::min(height, visibleHeight);
    const int columns = visibleWidth < 0 ? width : std::min(width, visibleWidth);
    for (int y = 0; y < rows; ++y) {
        const TCell* want = display + static_cast<std::size_t>(y) * width;
        TCell* have = shown + static_cast<std::size_t>(y) * width;
        int x = 0;
        while (x < columns) {
            if (!whole && want[x] == have[x]) {
                ++x;
                continue;
            }
            // Bridge a short run of unchanged cells when the cursor is just
            // before it and the run needs no colour change.
            if (!whole && cursor_y_ == y && cursor_x_ >= 0 && cursor_x_ < x &&
                x - cursor_x_ <= kMaxRepaintGap) {
                bool cheap = true;
                for (int k = cursor_x_; k < x; ++k)
                    if ((want[k].Attr & 0xFF) != attribute_ || want[k].Char >= 0x80) cheap = false;
                if (cheap)
                    for (int k = cursor_x_; k < x; ++k) PutCell(out, want[k], columns);
            }
            MoveTo(out, x, y);
            PutCell(out, want[x], columns);
            have[x] = want[x];
            ++x;
        }
    }
}

void TScreenPainter::PlaceCursor(std::string& out, int x, int y) {
    MoveTo(out, x, y);
}
