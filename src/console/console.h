// Virtual screens: up to 16 grids of cells, each with its own cursor,
// attribute, scroll region, saved-cursor stack, selection rectangle and
// scroll-back. Sessions and the terminal emulator draw into their own screen
// at any time; only the active screen reaches the real terminal, through a
// back end (TTextConsole for a terminal, THeadlessConsole for tests).
//
// Threads: the console object has no lock of its own. A screen is written by
// its session thread and by the main thread (prompt echo, scroll-back pages,
// selection marks); writers bracket visible changes with BeginUpdate and
// EndUpdate. Drawing on the real terminal (Refresh, EndUpdate, UpdateCursor)
// may run on any thread; back ends serialise it under their output lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "console/cell.h"
#include "console/cell_grid.h"
#include "console/scroll_back.h"
#include "platform/input_record.h"

class THostConfig;

constexpr int kMaxScreens = 16;
constexpr int kMaxSavedCursors = 16;
constexpr std::uint16_t kDefaultAttribute = 7;    // light grey on black
constexpr std::uint16_t kStatusAttribute = 0x70;  // black on light grey

// The state of one screen slot. The three cell buffers are always
// width x height cells; the scroll-back has room for ScrollSize lines of
// width cells and reads oldest line first. A copy (SaveScreen) owns its own
// buffers.
struct ScreenRecord {
    bool InUse = false;
    int Width = 0;
    int Height = 0;
    int CursorX = 0;
    int CursorY = 0;
    int SavedDepth = 0;  // entries held in SavedX/SavedY, 0..kMaxSavedCursors
    int SavedX[32] = {};
    int SavedY[32] = {};
    int RegionTop = 0;  // scroll region rows, inclusive
    int RegionBottom = 0;
    std::uint16_t Attribute = kDefaultAttribute;
    bool Bold = false;            // foreground intensity was set by SetBold
    bool Reverse = false;         // colours are swapped by SetReverse
    TCellGrid Cells;              // content
    std::vector<TCell> Display;   // cells plus status line and selection marks
    std::vector<TCell> Previous;  // Display as it was at BeginUpdate
    bool WrappedPastBottom = false;
    bool WrapPending = false;
    bool ReverseWrap = false;
    bool AutoWrap = false;
    std::int16_t SelX1 = -1, SelY1 = -1, SelX2 = -1, SelY2 = -1;  // all -1: none
    // Host definition of the session on this screen (not owned; none for the
    // banner). Only read by SetHostConfig: the two settings the screen needs
    // are copied, so the screen never depends on the host's lifetime.
    const THostConfig* Host = nullptr;
    bool EnableBeep = false;
    TScrollBack ScrollBack;
    int ScrollSize = 0;   // lines the scroll-back can hold (MaxScrollSize)
    int ScrollLines = 0;  // lines held, 0..ScrollSize

    // Index of the cell at the cursor: the write position.
    int WritePos() const { return CursorY * Width + CursorX; }
};

class TConsole {
  public:
    TConsole();
    virtual ~TConsole();
    TConsole(const TConsole&) = delete;
    TConsole& operator=(const TConsole&) = delete;

    // --- Virtual operations, supplied by the back end (except the first) ---

    // Builds the display buffer: cells, then the status line, then the
    // selection marks.
    virtual void ComposeScreen(ScreenRecord& screen);
    // The real terminal's size in cells.
    virtual void GetSize(int& width, int& height) = 0;
    // Draws the whole active screen and places the cursor.
    virtual void Refresh() = 0;
    // Places the real cursor at the active screen's cursor.
    virtual void UpdateCursor() = 0;
    // Remembers the screen's display as the base of the next EndUpdate.
    virtual void BeginUpdate(int screen) = 0;
    // If the screen is active: composes it and draws only what differs from
    // the display remembered by BeginUpdate, then places the cursor.
    virtual void EndUpdate(int screen) = 0;
    // A file descriptor that polls readable when input bytes wait. Events may
    // also be queued already (decoded from earlier bytes): see EventPending.
    virtual int GetInputHandle() = 0;
    // True when ReadEvent can return an event without reading more input.
    virtual bool EventPending() = 0;
    // Waits until an input event can be read (true) or `wakeFd` (if >= 0)
    // polls readable (false). Back ends handle their own housekeeping
    // meanwhile (a terminal redraws after a resize).
    virtual bool WaitInput(int wakeFd) = 0;
    // Reads one event, waiting for it; the key character is normalised.
    virtual void ReadEvent(INPUT_RECORD& record) = 0;
    // The terminal is now `width` x `height`: every screen takes the screen
    // size that leaves (ResizeScreens) and the active one is drawn afresh.
    // Under the output lock, so no writer sees a screen half resized.
    virtual void Resize(int width, int height);

    // --- Screen management ---

    // Takes the lowest free slot, sets it up at the console size and returns
    // its index. Raises when all 16 slots are in use.
    int AddScreen();
    void DelScreen(int screen);
    void SetSize(int screen, int width, int height);
    void SetActiveScreen(int screen);
    int GetActiveScreen() const { return ActiveScreen; }
    // Read access to a record (width, height, cursor ...). The index must be
    // 0..15.
    const ScreenRecord& GetScreen(int screen) const;
    bool IsScreenInUse(int screen) const;
    // Attaches the host settings and allocates the scroll-back for its
    // MaxScrollSize lines (0: none kept). Null detaches.
    void SetHostConfig(int screen, const THostConfig* host);
    // The status line takes the terminal's bottom row, below the screens:
    // turning it on or off resizes every screen by that row (the caller
    // tells the hosts). Draws the active screen afresh.
    void SetStatusLine(bool flag);
    bool GetStatusLine() const { return StatusLine; }
    int StatusRows() const { return StatusLine ? 1 : 0; }
    // Text shown in the status row while it is on; drawn at the next update.
    void SetStatusText(const std::string& text);
    // The terminal's size; every screen gets it less the status row.
    void SetConsoleSize(int width, int height);
    // The size of every screen.
    int GetConsoleWidth() const { return ConsoleWidth; }
    int GetConsoleHeight() const { return ConsoleHeight; }
    // Gives every screen in use the size SetConsoleSize leaves, keeping its
    // content from the top left, its scroll-back lines (cut or padded to
    // the new width) and its cursor (moved inside); the scroll region
    // becomes the whole screen and a selection is dropped. The caller holds
    // the output lock.
    void ResizeScreens();

    // --- Writing and cursor ---

    void PutChar(int screen, unsigned char c);
    // Writes the cell byte at the cursor and advances, whatever the byte:
    // control codes are drawn as their glyphs, not obeyed.
    void PutGlyph(int screen, unsigned char c);
    // A character two columns wide: `c` in two cells. With one column left
    // it wraps first (the last column blanked) when the screen wraps, else
    // one cell is all that fits.
    void PutWideGlyph(int screen, unsigned char c);
    void CompletePendingWrap(int screen);
    void WriteText(int screen, const char* text);
    int GetCursorX(int screen) const;
    int GetCursorY(int screen) const;
    void SetCursor(int screen, int x, int y);
    void MoveCursor(int screen, int dx, int dy);
    void SaveCursor(int screen);
    void RestoreCursor(int screen);
    void SetAttribute(int screen, std::uint16_t attribute);
    std::uint16_t GetAttribute(int screen) const;
    void ResetAttributes(int screen);
    void SetBold(int screen);
    void ClearBold(int screen);
    void SetBlink(int screen);
    void ClearBlink(int screen);
    void SetReverse(int screen);
    void ClearReverse(int screen);
    void SetForeground(int screen, int colour);
    void SetBackground(int screen, int colour);
    void SetAutoWrap(int screen, bool flag);
    void SetReverseWrap(int screen, bool flag);
    bool WrappedPastBottom(int screen) const;

    // --- Erasing and moving text (blanks in the current attribute; the
    // cursor stays). Counts and regions from the host are clamped. ---

    void ClearToEndOfScreen(int screen);
    void ClearToStartOfScreen(int screen);
    void ClearToStartOfLine(int screen);
    void ClearChars(int screen, int n);
    void ClearToEndOfLine(int screen);
    void ClearLine(int screen);
    void DeleteChars(int screen, int n);
    void InsertChars(int screen, int n);
    void InsertLines(int screen, int n);
    void DeleteLines(int screen, int n);
    // A region outside the screen or upside down is ignored.
    void SetScrollRegion(int screen, int top, int bottom);
    void ScrollUp(int screen);

    // --- Selection, snapshots and pages ---

    void SetSelection(int screen, int x1, int y1, int x2, int y2);
    // Rows of the selection rectangle joined by single carriage returns;
    // bytes below 0x20 are left out. Empty with no selection.
    std::string GetSelectionText(int screen) const;
    // A full private copy of the screen's state.
    void SaveScreen(int screen, ScreenRecord& saved) const;
    // Puts a copy taken by SaveScreen back (content, cursor, attributes,
    // scroll-back) and refreshes. A copy of another size is ignored.
    void RestoreScreen(int screen, const ScreenRecord& saved);
    // Scroll-back lines followed by the screen's rows; `lines` gets the
    // number of lines in the block.
    std::vector<TCell> TakeSnapshot(int screen, int& lines) const;
    // Copies one screenful from `block` (at least width x height cells; a
    // shorter block copies what it has).
    void ShowPage(int screen, const TCell* block, std::size_t cells);

  protected:
    ScreenRecord& Screen(int screen);
    const ScreenRecord& Screen(int screen) const;
    // Blank (space) in the screen's current attribute.
    static TCell Blank(const ScreenRecord& s) { return TCell{' ', 0, s.Attribute}; }
    std::atomic<int> ActiveScreen{0};
    ScreenRecord Screens[kMaxScreens];
    bool StatusLine = false;
    std::string StatusText;  // empty: none
    int ConsoleWidth = 80;   // of every screen
    int ConsoleHeight = 25;
    int TerminalWidth = 80;
    int TerminalHeight = 25;
};

// The one console of the program, set at start-up.
extern TConsole* Console;
