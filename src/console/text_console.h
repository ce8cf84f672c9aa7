// The back end for a POSIX terminal. Start-up puts the terminal in raw mode
// with the alternate screen, SGR mouse reporting and bracketed paste (undone
// by the destructor, and by the control handler on signals); the active
// screen is drawn as UTF-8 with SGR colours; input bytes are decoded into
// console input records.
//
// Threads: ReadEvent, WaitInput and EventPending run on the main thread
// only. Refresh, UpdateCursor, BeginUpdate and EndUpdate may run on any
// thread; each composes and draws under the output lock and sends one write.
#pragma once

#include <string>
#include <vector>

#include "console/console.h"
#include "console/input_decoder.h"
#include "console/screen_painter.h"

class TTextConsole : public TConsole {
  public:
    // Standard input and output must be terminals; otherwise raises the
    // CreateHandle message with the standard-handle number (-10 input,
    // -11 output) and the error code.
    TTextConsole(int inFd = 0, int outFd = 1);
    ~TTextConsole() override;

    void GetSize(int& width, int& height) override;
    void Refresh() override;
    void UpdateCursor() override;
    void BeginUpdate(int screen) override;
    void EndUpdate(int screen) override;
    int GetInputHandle() override { return in_fd_; }
    bool EventPending() override { return resize_pending_ || decoder_.HasEvent(); }
    bool WaitInput(int wakeFd) override;
    // A size change of the terminal arrives as a WINDOW_BUFFER_SIZE_EVENT
    // with the new size, before other input; until the reader has called
    // Resize the old screens are drawn clipped to what the terminal shows.
    void ReadEvent(INPUT_RECORD& record) override;
    void Resize(int width, int height) override;

    // How long a lone ESC waits for the rest of a sequence.
    static constexpr int kEscapeDelayMs = 50;

  private:
    // Draws the whole active screen; after a resize, clears first and sets
    // the terminal modes again (a reset terminal may have lost them).
    void Redraw(bool resized);
    void PlaceCursor(const ScreenRecord& s);
    void ReadInput(int timeoutMs);
    // After SIGWINCH: clips drawing to the new size and queues the event.
    void NoteResize();
    void Send(const std::string& bytes);

    int in_fd_;
    int out_fd_;
    int width_ = 80;  // the terminal's size the screens are laid out for
    int height_ = 25;
    bool resize_pending_ = false;  // main thread
    int pending_width_ = 0;
    int pending_height_ = 0;
    // What the terminal can show now: drawing is clipped to it after the
    // window was made smaller.
    int visible_width_ = 80;
    int visible_height_ = 25;
    TInputDecoder decoder_;
    TScreenPainter painter_;
    std::vector<TCell> shown_;  // what the terminal shows now
    std::string out_;
};
