// Turns the byte stream of an xterm-compatible terminal into console input
// records: UTF-8 text (as CP866 characters), control bytes as CTRL chords,
// ESC-prefixed keys as ALT chords, CSI/SS3 sequences with xterm modifier
// parameters, SGR mouse reports, and bracketed paste. The records carry the
// key's own character as the Windows console would; the back end then
// applies the key table (NormaliseKeyEvent).
//
// Only key presses exist on a terminal, so every key record is a key-down.
// Not thread-safe: one reader (the main thread) owns it.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

#include "platform/input_record.h"

// Windows' code for a key event that carries a character without a key.
constexpr std::uint16_t VK_PACKET = 0xE7;

class TInputDecoder {
  public:
    // Bytes as read from the terminal, in any split.
    void Feed(const char* data, std::size_t size);
    // The bytes end inside a sequence that a short pause would settle (a
    // lone ESC, an unfinished CSI or UTF-8 character).
    bool Incomplete() const;
    // The pause passed without more bytes: settle what is pending (a lone
    // ESC becomes the ESC key).
    void Timeout();
    bool HasEvent() const { return !events_.empty(); }
    INPUT_RECORD PopEvent();

    // A longer paste is refused whole with a beep. As much as a session's
    // outgoing queue holds, so an everyday paste always fits.
    static constexpr std::size_t kMaxPaste = 16 << 20;

  private:
    void Parse(bool final);
    // Each returns the bytes consumed, 0 when more bytes are needed.
    std::size_t ParseEscape(std::size_t pos, bool final);
    std::size_t ParseCsi(std::size_t pos, std::uint32_t extraState, bool final);
    std::size_t ParseSs3(std::size_t pos, std::uint32_t extraState, bool final);
    std::size_t ParseChar(std::size_t pos, std::uint32_t extraState, bool final);
    void PasteBytes();
    void EndPaste();
    void Key(std::uint16_t vk, unsigned char ch, std::uint32_t state);
    void Mouse(int code, int x, int y, bool release);

    std::string buffer_;
    std::deque<INPUT_RECORD> events_;
    bool in_paste_ = false;
    std::string paste_;
    bool paste_too_long_ = false;
    std::uint32_t buttons_ = 0;  // mouse buttons held, Windows bits
};
