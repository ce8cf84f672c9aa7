#include "console/console.h"

#include <algorithm>
#include <cstring>

#include "base/exception.h"
#include "config/host_config.h"
#include "platform/beep.h"
#include "platform/terminal_output.h"

TConsole* Console = nullptr;

namespace {

// Returned by GetScreen for an index outside 0..15: reads as a free slot.
const ScreenRecord kNoScreen{};

// A new size: the whole screen is the scroll region again, and the cursor
// stays inside.
void TakeGeometry(ScreenRecord& s, int width, int height) {
    s.Width = width;
    s.Height = height;
    s.RegionTop = 0;
    s.RegionBottom = std::max(height - 1, 0);
    s.CursorX = std::clamp(s.CursorX, 0, std::max(width - 1, 0));
    s.CursorY = std::clamp(s.CursorY, 0, std::max(height - 1, 0));
    s.WrapPending = false;
}

}  // namespace

TConsole::TConsole() = default;

TConsole::~TConsole() {
    for (int i = 0; i < kMaxScreens; ++i) {
        if (Screens[i].InUse) DelScreen(i);
    }
}

ScreenRecord& TConsole::Screen(int screen) {
    // Callers check the index first (Valid); clamp anyway so a slip cannot
    // index outside the table.
    return Screens[std::clamp(screen, 0, kMaxScreens - 1)];
}

const ScreenRecord& TConsole::Screen(int screen) const {
    return Screens[std::clamp(screen, 0, kMaxScreens - 1)];
}

// A screen that can be drawn on: a valid index, in use, with cells.
#define SCREEN_OR_RETURN(s, screen, ...)                             \
    if ((screen) < 0 || (screen) >= kMaxScreens) return __VA_ARGS__; \
    ScreenRecord& s = Screens[screen];                               \
    if (!s.InUse || s.Width <= 0 || s.Height <= 0) return __VA_ARGS__;

#define CSCREEN_OR_RETURN(s, screen, ...)                            \
    if ((screen) < 0 || (screen) >= kMaxScreens) return __VA_ARGS__; \
    const ScreenRecord& s = Screens[screen];                         \
    if (!s.InUse || s.Width <= 0 || s.Height <= 0) return __VA_ARGS__;

// ---------------------------------------------------------------------------
// Screen management

void TConsole::SetConsoleSize(int width, int height) {
    TerminalWidth = std::max(width, 0);
    TerminalHeight = std::max(height, 0);
    ConsoleWidth = TerminalWidth;
    // A status row never leaves a screen without rows.
    ConsoleHeight = std::max(TerminalHeight - (TerminalHeight > 1 ? StatusRows() : 0), 0);
}

void TConsole::Resize(int width, int height) {
    {
        std::lock_guard guard(OutputLock());
        SetConsoleSize(width, height);
        ResizeScreens();
    }
    Refresh();
}

void TConsole::ResizeScreens() {
    const int width = ConsoleWidth;
    const int height = width > 0 && ConsoleHeight > 0 ? ConsoleHeight : 0;
    const TCell blank{' ', 0, kDefaultAttribute};
    for (ScreenRecord& s : Screens) {
        if (!s.InUse || (s.Width == width && s.Height == height)) continue;
        std::vector<TCell> cells(static_cast<std::size_t>(width) * height, blank);
        const int rows = std::min(s.Height, height);
        const int columns = std::min(s.Width, width);
        for (int y = 0; y < rows; ++y) {
            std::copy_n(s.Cells.begin() + static_cast<std::ptrdiff_t>(y) * s.Width, columns,
                        cells.begin() + static_cast<std::ptrdiff_t>(y) * width);
        }
        if (s.ScrollSize > 0 && width > 0) {
            TScrollBack lines;
            lines.Assign(s.ScrollSize, width, blank);
            const int held = std::clamp(s.ScrollLines, 0, s.ScrollBack.Lines());
            const int keep = std::min(columns, s.ScrollBack.Width());
            for (int n = 0; n < held; ++n) std::copy_n(s.ScrollBack.Line(n), keep, lines.Line(n));
            s.ScrollBack = std::move(lines);
            s.ScrollLines = held;
        }
        s.Cells.Adopt(std::move(cells));
        s.Cells.CopyTo(s.Display);
        s.Cells.CopyTo(s.Previous);
        TakeGeometry(s, width, height);
        s.SelX1 = s.SelY1 = s.SelX2 = s.SelY2 = -1;
    }
}

int TConsole::AddScreen() {
    int slot = -1;
    for (int i = 0; i < kMaxScreens; ++i) {
        if (!Screens[i].InUse) {
            slot = i;
            break;
        }
    }
    if (slot < 0) ThrowError("TConsole::AddScreen: Unable to add new screen.");
    ScreenRecord& s = Screens[slot];
    s = ScreenRecord{};
    s.InUse = true;
    SetSize(slot, ConsoleWidth, ConsoleHeight);
    std::fill(s.Cells.begin(), s.Cells.end(), TCell{' ', 0, kDefaultAttribute});
    s.Cells.CopyTo(s.Display);
    s.Cells.CopyTo(s.Previous);
    return slot;
}

void TConsole::DelScreen(int screen) {
    if (screen < 0 || screen >= kMaxScreens || !Screens[screen].InUse)
        ThrowError("TConsole::DelScreen: Screen %d is not in use.", screen);
    std::lock_guard guard(OutputLock());
    SetSize(screen, 0, 0);
    ScreenRecord& s = Screens[screen];
    s.ScrollBack.Release();
    s.ScrollSize = 0;
    s.ScrollLines = 0;
    s.Host = nullptr;
    s.InUse = false;
}

void TConsole::SetSize(int screen, int width, int height) {
    if (screen < 0 || screen >= kMaxScreens || !Screens[screen].InUse)
        ThrowError("TConsole::SetSize: Screen %d is not in use.", screen);
    ScreenRecord& s = Screens[screen];
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == 0 || height == 0) width = height = 0;
    const std::size_t cells = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const TCell blank{' ', 0, kDefaultAttribute};
    s.Cells.assign(cells, blank);
    s.Display.assign(cells, blank);
    s.Previous.assign(cells, blank);
    if (cells == 0) {
        s.Cells.shrink_to_fit();
        s.Display.shrink_to_fit();
        s.Previous.shrink_to_fit();
    }
    TakeGeometry(s, width, height);
    // Scroll-back lines are rows of the old width: start the buffer afresh.
    if (s.ScrollSize > 0) {
        const int lines = s.ScrollBack.Assign(s.ScrollSize, width, blank);
        // A screen without width keeps its size for the next one.
        if (width > 0) s.ScrollSize = lines;
        s.ScrollLines = 0;
    }
}

void TConsole::SetActiveScreen(int screen) {
    if (screen < 0 || screen >= kMaxScreens) return;
    ActiveScreen = screen;
    Refresh();
}

const ScreenRecord& TConsole::GetScreen(int screen) const {
    if (screen < 0 || screen >= kMaxScreens) return kNoScreen;
    return Screens[screen];
}

bool TConsole::IsScreenInUse(int screen) const {
    return screen >= 0 && screen < kMaxScreens && Screens[screen].InUse;
}

void TConsole::SetHostConfig(int screen, const THostConfig* host) {
    if (screen < 0 || screen >= kMaxScreens || !Screens[screen].InUse) return;
    ScreenRecord& s = Screens[screen];
    s.Host = host;
    s.EnableBeep = host != nullptr && host->GetEnableBeep();
    const int lines = host != nullptr ? std::max(host->GetMaxScrollSize(), 0) : 0;
    // What could be had, which may be less than asked (the session says so).
    s.ScrollSize = s.ScrollBack.Assign(lines, s.Width, TCell{' ', 0, kDefaultAttribute});
    s.ScrollLines = 0;
}

void TConsole::SetStatusLine(bool flag) {
    {
        std::lock_guard guard(OutputLock());
        if (StatusLine == flag) return;
        StatusLine = flag;
    }
    Resize(TerminalWidth, TerminalHeight);
}

void TConsole::SetStatusText(const std::string& text) {
    std::lock_guard guard(OutputLock());
    StatusText = text;
}

// ---------------------------------------------------------------------------
// Composing

void TConsole::ComposeScreen(ScreenRecord& s) {
    if (!s.InUse || s.Width <= 0 || s.Height <= 0) return;
    s.Cells.CopyTo(s.Display);
    if (StatusLine && s.Height < TerminalHeight) {
        // A row of its own below the screen, the full width in the status
        // colours.
        const std::size_t start = s.Display.size();
        s.Display.resize(start + static_cast<std::size_t>(s.Width),
                         TCell{' ', 0, kStatusAttribute});
        const int n = std::min(static_cast<int>(StatusText.size()), s.Width);
        for (int x = 0; x < n; ++x)
            s.Display[start + x].Char = static_cast<unsigned char>(StatusText[x]);
    }
    if (s.SelX1 == -1 && s.SelY1 == -1 && s.SelX2 == -1 && s.SelY2 == -1) return;
    const int x1 = std::max<int>(std::min(s.SelX1, s.SelX2), 0);
    const int x2 = std::min<int>(std::max(s.SelX1, s.SelX2), s.Width - 1);
    const int y1 = std::max<int>(std::min(s.SelY1, s.SelY2), 0);
    const int y2 = std::min<int>(std::max(s.SelY1, s.SelY2), s.Height - 1);
    for (int y = y1; y <= y2; ++y) {
        TCell* row = s.Display.data() + static_cast<std::size_t>(y) * s.Width;
        for (int x = x1; x <= x2; ++x) row[x].Attr |= 0x80;
    }
}

// ---------------------------------------------------------------------------
// Writing and cursor

void TConsole::PutChar(int screen, unsigned char c) {
    SCREEN_OR_RETURN(s, screen)
    switch (c) {
        case 7:
            if (s.Host != nullptr && s.EnableBeep) MessageBeep(0);
            return;
        case 8:
            MoveCursor(screen, -1, 0);
            return;
        case 9:
            SetCursor(screen, ((s.CursorX / 8) + 1) * 8, s.CursorY);
            return;
        case 10:
            // A line feed scrolls only on the region's bottom row; below the
            // region it moves down until the last row, so rows outside the
            // region are never scrolled by mistake.
            if (s.CursorY == s.RegionBottom) {
                ScrollUp(screen);
            } else if (s.CursorY < s.Height - 1) {
                SetCursor(screen, s.CursorX, s.CursorY + 1);
            }
            return;
        case 13:
            SetCursor(screen, 0, s.CursorY);
            return;
        default:
            if (c < 7) return;
            break;
    }
    PutGlyph(screen, c);
}

void TConsole::PutGlyph(int screen, unsigned char c) {
    SCREEN_OR_RETURN(s, screen)
    s.WrappedPastBottom = false;
    // Tested here first: this runs for every byte of host output, and a wrap
    // is pending only at the end of a full row.
    if (s.WrapPending) CompletePendingWrap(screen);
    s.Cells[s.WritePos()] = TCell{c, 0, s.Attribute};
    if (s.CursorX + 1 >= s.Width) {
        if (s.AutoWrap) s.WrapPending = true;
    } else {
        ++s.CursorX;
    }
}

void TConsole::PutWideGlyph(int screen, unsigned char c) {
    SCREEN_OR_RETURN(s, screen)
    if (s.WrapPending) CompletePendingWrap(screen);
    if (s.CursorX + 1 >= s.Width && s.AutoWrap && s.Width >= 2) PutGlyph(screen, ' ');
    if (s.CursorX + 1 >= s.Width && !s.AutoWrap) {
        // No room for both halves and no wrap: the one cell that fits.
        PutGlyph(screen, c);
        return;
    }
    PutGlyph(screen, c);
    PutGlyph(screen, c);
}

void TConsole::CompletePendingWrap(int screen) {
    SCREEN_OR_RETURN(s, screen)
    if (!s.WrapPending) return;
    s.WrapPending = false;
    const int from = s.CursorY;
    s.CursorX = 0;
    s.CursorY = from + 1;
    if (s.CursorY >= s.Height) {
        s.WrappedPastBottom = true;
        // Scroll only when the row that wrapped was the region's bottom;
        // below a region that ends higher up the cursor just stays on the
        // last row.
        if (from == s.RegionBottom) ScrollUp(screen);
        s.CursorY = s.Height - 1;
    }
}

void TConsole::WriteText(int screen, const char* text) {
    if (text == nullptr) return;
    for (; *text != '\0'; ++text) PutChar(screen, static_cast<unsigned char>(*text));
}

int TConsole::GetCursorX(int screen) const {
    CSCREEN_OR_RETURN(s, screen, 0)
    return s.CursorX;
}

int TConsole::GetCursorY(int screen) const {
    CSCREEN_OR_RETURN(s, screen, 0)
    return s.CursorY;
}

void TConsole::SetCursor(int screen, int x, int y) {
    SCREEN_OR_RETURN(s, screen)
    s.WrapPending = false;
    s.CursorX = std::clamp(x, 0, s.Width - 1);
    s.CursorY = std::clamp(y, 0, s.Height - 1);
}

void TConsole::MoveCursor(int screen, int dx, int dy) {
    SCREEN_OR_RETURN(s, screen)
    if (s.ReverseWrap && dx == -1 && dy == 0 && s.CursorX == 0) {
        SetCursor(screen, s.Width - 1, s.CursorY - 1);
        return;
    }
    // Wide host counts must not overflow the sum.
    const long long x = static_cast<long long>(s.CursorX) + dx;
    const long long y = static_cast<long long>(s.CursorY) + dy;
    SetCursor(screen, static_cast<int>(std::clamp<long long>(x, -1, s.Width)),
              static_cast<int>(std::clamp<long long>(y, -1, s.Height)));
}

void TConsole::SaveCursor(int screen) {
    SCREEN_OR_RETURN(s, screen)
    if (s.SavedDepth >= kMaxSavedCursors) return;
    s.SavedX[s.SavedDepth] = s.CursorX;
    s.SavedY[s.SavedDepth] = s.CursorY;
    ++s.SavedDepth;
}

void TConsole::RestoreCursor(int screen) {
    SCREEN_OR_RETURN(s, screen)
    if (s.SavedDepth <= 0) return;
    --s.SavedDepth;
    s.CursorX = std::clamp(s.SavedX[s.SavedDepth], 0, s.Width - 1);
    s.CursorY = std::clamp(s.SavedY[s.SavedDepth], 0, s.Height - 1);
}

void TConsole::SetAttribute(int screen, std::uint16_t attribute) {
    SCREEN_OR_RETURN(s, screen)
    s.Attribute = attribute;
}

std::uint16_t TConsole::GetAttribute(int screen) const {
    CSCREEN_OR_RETURN(s, screen, kDefaultAttribute)
    return s.Attribute;
}

void TConsole::ResetAttributes(int screen) {
    SCREEN_OR_RETURN(s, screen)
    s.Attribute = kDefaultAttribute;
    s.Bold = false;
    s.Reverse = false;
}

void TConsole::SetBold(int screen) {
    SCREEN_OR_RETURN(s, screen)
    if (s.Bold) return;
    s.Attribute |= 8;
    s.Bold = true;
}

void TConsole::ClearBold(int screen) {
    SCREEN_OR_RETURN(s, screen)
    if (!s.Bold) return;
    s.Attribute &= 0xF7;
    s.Bold = false;
}

void TConsole::SetBlink(int screen) {
    SCREEN_OR_RETURN(s, screen)
    s.Attribute |= 0x80;
}

void TConsole::ClearBlink(int screen) {
    SCREEN_OR_RETURN(s, screen)
    s.Attribute &= 0x7F;
}

namespace {

std::uint16_t SwapColours(std::uint16_t a) {
    return static_cast<std::uint16_t>((a & ~0x77u) | ((a & 0x07u) << 4) | ((a & 0x70u) >> 4));
}

}  // namespace

void TConsole::SetReverse(int screen) {
    SCREEN_OR_RETURN(s, screen)
    if (s.Reverse) return;
    s.Attribute = SwapColours(s.Attribute);
    s.Reverse = true;
}

void TConsole::ClearReverse(int screen) {
    SCREEN_OR_RETURN(s, screen)
    if (!s.Reverse) return;
    s.Attribute = SwapColours(s.Attribute);
    s.Reverse = false;
}

void TConsole::SetForeground(int screen, int colour) {
    SCREEN_OR_RETURN(s, screen)
    s.Attribute = static_cast<std::uint16_t>((s.Attribute & 0xF8) | (colour & 7));
}

void TConsole::SetBackground(int screen, int colour) {
    SCREEN_OR_RETURN(s, screen)
    s.Attribute = static_cast<std::uint16_t>((s.Attribute & 0x8F) | ((colour & 7) << 4));
}

void TConsole::SetAutoWrap(int screen, bool flag) {
    SCREEN_OR_RETURN(s, screen)
    s.AutoWrap = flag;
    if (!flag) s.WrapPending = false;
}

void TConsole::SetReverseWrap(int screen, bool flag) {
    SCREEN_OR_RETURN(s, screen)
    s.ReverseWrap = flag;
}

bool TConsole::WrappedPastBottom(int screen) const {
    CSCREEN_OR_RETURN(s, screen, false)
    return s.WrappedPastBottom;
}

// ---------------------------------------------------------------------------
// Erasing and moving text

namespace {

void Fill(TCell* from, std::size_t count, TCell blank) {
    std::fill(from, from + count, blank);
}

}  // namespace

void TConsole::ClearToEndOfScreen(int screen) {
    SCREEN_OR_RETURN(s, screen)
    const std::size_t pos = s.WritePos();
    Fill(s.Cells.data() + pos, s.Cells.size() - pos, Blank(s));
}

void TConsole::ClearToStartOfScreen(int screen) {
    SCREEN_OR_RETURN(s, screen)
    Fill(s.Cells.data(), static_cast<std::size_t>(s.WritePos()) + 1, Blank(s));
}

void TConsole::ClearToStartOfLine(int screen) {
    SCREEN_OR_RETURN(s, screen)
    Fill(s.Cells.data() + static_cast<std::size_t>(s.CursorY) * s.Width,
         static_cast<std::size_t>(s.CursorX) + 1, Blank(s));
}

void TConsole::ClearChars(int screen, int n) {
    SCREEN_OR_RETURN(s, screen)
    n = std::min(n, s.Width - s.CursorX);
    if (n <= 0) return;
    Fill(s.Cells.data() + s.WritePos(), static_cast<std::size_t>(n), Blank(s));
}

void TConsole::ClearToEndOfLine(int screen) {
    SCREEN_OR_RETURN(s, screen)
    ClearChars(screen, s.Width - s.CursorX);
}

void TConsole::ClearLine(int screen) {
    SCREEN_OR_RETURN(s, screen)
    Fill(s.Cells.data() + static_cast<std::size_t>(s.CursorY) * s.Width,
         static_cast<std::size_t>(s.Width), Blank(s));
}

void TConsole::DeleteChars(int screen, int n) {
    SCREEN_OR_RETURN(s, screen)
    if (n <= 0) return;
    if (n >= s.Width - s.CursorX) {
        ClearToEndOfLine(screen);
        return;
    }
    TCell* row = s.Cells.data() + static_cast<std::size_t>(s.CursorY) * s.Width;
    std::memmove(row + s.CursorX, row + s.CursorX + n,
                 sizeof(TCell) * static_cast<std::size_t>(s.Width - s.CursorX - n));
    Fill(row + s.Width - n, static_cast<std::size_t>(n), Blank(s));
}

void TConsole::InsertChars(int screen, int n) {
    SCREEN_OR_RETURN(s, screen)
    n = std::min(n, s.Width - s.CursorX);
    if (n <= 0) return;
    TCell* row = s.Cells.data() + static_cast<std::size_t>(s.CursorY) * s.Width;
    std::memmove(row + s.CursorX + n, row + s.CursorX,
                 sizeof(TCell) * static_cast<std::size_t>(s.Width - s.CursorX - n));
    Fill(row + s.CursorX, static_cast<std::size_t>(n), Blank(s));
}

void TConsole::InsertLines(int screen, int n) {
    SCREEN_OR_RETURN(s, screen)
    // Outside the region there is nothing to move.
    if (s.CursorY < s.RegionTop || s.CursorY > s.RegionBottom) return;
    n = std::min(n, s.RegionBottom - s.CursorY + 1);
    if (n <= 0) return;
    const std::size_t w = static_cast<std::size_t>(s.Width);
    TCell* top = s.Cells.data() + s.CursorY * w;
    const std::size_t moved = static_cast<std::size_t>(s.RegionBottom - s.CursorY + 1 - n);
    std::memmove(top + n * w, top, sizeof(TCell) * moved * w);
    Fill(top, n * w, Blank(s));
}

void TConsole::DeleteLines(int screen, int n) {
    SCREEN_OR_RETURN(s, screen)
    if (s.CursorY < s.RegionTop || s.CursorY > s.RegionBottom) return;
    n = std::min(n, s.RegionBottom - s.CursorY + 1);
    if (n <= 0) return;
    const std::size_t w = static_cast<std::size_t>(s.Width);
    TCell* top = s.Cells.data() + s.CursorY * w;
    const std::size_t moved = static_cast<std::size_t>(s.RegionBottom - s.CursorY + 1 - n);
    std::memmove(top, top + n * w, sizeof(TCell) * moved * w);
    Fill(s.Cells.data() + (s.RegionBottom - n + 1) * w, n * w, Blank(s));
}

void TConsole::SetScrollRegion(int screen, int top, int bottom) {
    SCREEN_OR_RETURN(s, screen)
    if (top < 0 || bottom > s.Height - 1 || top > bottom) return;
    s.RegionTop = top;
    s.RegionBottom = bottom;
}

void TConsole::ScrollUp(int screen) {
    SCREEN_OR_RETURN(s, screen)
    const std::size_t w = static_cast<std::size_t>(s.Width);
    // Only a line that leaves the top of the screen belongs in the
    // scroll-back; a region that starts lower scrolls rows that stay on it.
    // The room must be this screen's lines, so the copy stays inside it.
    if (s.Host != nullptr && s.ScrollSize > 0 && s.RegionTop == 0 &&
        s.ScrollBack.Lines() == s.ScrollSize && s.ScrollBack.Width() == s.Width) {
        if (s.ScrollLines >= s.ScrollSize) {
            // Full: the oldest line's room takes the new line.
            s.ScrollBack.Rotate();
            --s.ScrollLines;
        }
        std::memcpy(s.ScrollBack.Line(s.ScrollLines), s.Cells.data(), sizeof(TCell) * w);
        ++s.ScrollLines;
    }
    if (s.RegionTop == 0 && s.RegionBottom == s.Height - 1) {
        s.Cells.ScrollUp(w, Blank(s));
        return;
    }
    TCell* top = s.Cells.data() + static_cast<std::size_t>(s.RegionTop) * w;
    const std::size_t rows = static_cast<std::size_t>(s.RegionBottom - s.RegionTop);
    std::memmove(top, top + w, sizeof(TCell) * rows * w);
    Fill(s.Cells.data() + static_cast<std::size_t>(s.RegionBottom) * w, w, Blank(s));
}

// ---------------------------------------------------------------------------
// Selection, snapshots and pages

void TConsole::SetSelection(int screen, int x1, int y1, int x2, int y2) {
    SCREEN_OR_RETURN(s, screen)
    auto narrow = [](int v) { return static_cast<std::int16_t>(std::clamp(v, -32768, 32767)); };
    s.SelX1 = narrow(x1);
    s.SelY1 = narrow(y1);
    s.SelX2 = narrow(x2);
    s.SelY2 = narrow(y2);
}

std::string TConsole::GetSelectionText(int screen) const {
    CSCREEN_OR_RETURN(s, screen, std::string())
    if (s.SelX1 == -1 && s.SelY1 == -1 && s.SelX2 == -1 && s.SelY2 == -1) return {};
    const int x1 = std::max<int>(std::min(s.SelX1, s.SelX2), 0);
    const int x2 = std::min<int>(std::max(s.SelX1, s.SelX2), s.Width - 1);
    const int y1 = std::max<int>(std::min(s.SelY1, s.SelY2), 0);
    const int y2 = std::min<int>(std::max(s.SelY1, s.SelY2), s.Height - 1);
    std::string text;
    if (x1 > x2 || y1 > y2) return text;
    text.reserve(static_cast<std::size_t>((x2 - x1) + 2) * ((y2 - y1) + 1));
    for (int y = y1; y <= y2; ++y) {
        const TCell* row = s.Cells.data() + static_cast<std::size_t>(y) * s.Width;
        for (int x = x1; x <= x2; ++x) {
            if (row[x].Char >= 0x20) text.push_back(static_cast<char>(row[x].Char));
        }
        if (y != y2) text.push_back('\r');
    }
    return text;
}

void TConsole::SaveScreen(int screen, ScreenRecord& saved) const {
    if (screen < 0 || screen >= kMaxScreens) return;
    saved = Screens[screen];
}

void TConsole::RestoreScreen(int screen, const ScreenRecord& saved) {
    {
        SCREEN_OR_RETURN(s, screen)
        if (!saved.InUse || saved.Width != s.Width || saved.Height != s.Height ||
            saved.Cells.size() != s.Cells.size())
            return;
        // The display buffers describe what the terminal shows: keep them.
        std::vector<TCell> display = std::move(s.Display);
        std::vector<TCell> previous = std::move(s.Previous);
        s = saved;
        s.Display = std::move(display);
        s.Previous = std::move(previous);
        // A scroll-back taken before SetHostConfig changed it would not fit.
        if (s.ScrollBack.Lines() != s.ScrollSize || s.ScrollBack.Width() != s.Width) {
            s.ScrollSize =
                s.ScrollBack.Assign(s.ScrollSize, s.Width, TCell{' ', 0, kDefaultAttribute});
            s.ScrollLines = 0;
        }
    }
    Refresh();
}

std::vector<TCell> TConsole::TakeSnapshot(int screen, int& lines) const {
    lines = 0;
    CSCREEN_OR_RETURN(s, screen, std::vector<TCell>())
    const std::size_t w = static_cast<std::size_t>(s.Width);
    // Never more lines than the room has, whatever the count says.
    const int held = std::clamp(s.ScrollLines, 0, s.ScrollBack.Lines());
    std::vector<TCell> block;
    block.reserve((static_cast<std::size_t>(held) + s.Height) * w);
    s.ScrollBack.AppendLines(held, block);
    block.insert(block.end(), s.Cells.begin(), s.Cells.end());
    lines = held + s.Height;
    return block;
}

void TConsole::ShowPage(int screen, const TCell* block, std::size_t cells) {
    SCREEN_OR_RETURN(s, screen)
    if (block == nullptr) return;
    std::memcpy(s.Cells.data(), block, sizeof(TCell) * std::min(cells, s.Cells.size()));
}
