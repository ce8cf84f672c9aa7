// A back end without a terminal, for tests: the "real console" is a cell
// array in memory, input is a queue of records the test pushes, and the bytes
// that would reach a terminal (bell, title, clipboard) are captured.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "console/console.h"

class THeadlessConsole : public TConsole {
  public:
    // Captures terminal output (bells ...) until destroyed.
    THeadlessConsole(int width = 80, int height = 25);
    ~THeadlessConsole() override;

    void GetSize(int& width, int& height) override;
    void Refresh() override;
    void UpdateCursor() override;
    void BeginUpdate(int screen) override;
    void EndUpdate(int screen) override;
    int GetInputHandle() override;
    bool EventPending() override;
    bool WaitInput(int wakeFd) override;
    // Waits for a pushed event. Once the input is closed and the queue is
    // empty it raises TException, so a test script that runs dry ends the
    // code under test instead of hanging it.
    void ReadEvent(INPUT_RECORD& record) override;

    // Test side; any thread.
    void PushEvent(const INPUT_RECORD& record);
    void PushKey(std::uint16_t vk, unsigned char ch, std::uint32_t state = 0);
    void CloseInput();

    // What the "real console" shows.
    std::string ShownRow(int y) const;
    TCell ShownCell(int x, int y) const;
    int ShownCursorX() const;
    int ShownCursorY() const;
    // Cells written by the last EndUpdate (0 when nothing changed).
    int LastUpdateCells() const;
    // Bytes the program wrote to the terminal (bells, title ...).
    std::string TerminalBytes() const;
    int Beeps() const;

  private:
    void Draw(const ScreenRecord& s, bool whole);

    int width_;
    int height_;
    std::vector<TCell> shown_;
    int cursor_x_ = 0;
    int cursor_y_ = 0;
    int last_update_cells_ = 0;
    std::string terminal_bytes_;

    mutable std::mutex input_lock_;
    std::condition_variable input_cv_;
    std::deque<INPUT_RECORD> queue_;
    bool closed_ = false;
    int pipe_[2] = {-1, -1};  // one byte per queued event, for poll()
};
