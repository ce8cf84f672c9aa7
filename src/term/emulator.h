// The session's interface to terminal emulation.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "platform/input_record.h"
#include "term/utf8_decoder.h"

class THostConfig;

// Host output goes in through Write (session thread, under the session
// lock); key events come in through KeyPressed and the bytes for the host go
// out through GetOutput (main thread, under the connection lock). The two
// paths share only the host definition, which is read-only, and the recoding
// tables copied from it at construction.
//
// The base class prints every byte as it is; TTermcapEmulator interprets the
// control sequences of a terminal description.
class TEmulator {
  public:
    // `host` must outlive the emulator; `console` defaults to the program's one.
    TEmulator(const THostConfig* host, int screen, TConsole* console = Console);
    virtual ~TEmulator();
    TEmulator(const TEmulator&) = delete;
    TEmulator& operator=(const TEmulator&) = delete;

    // Interprets bytes received from the host, drawing on the screen.
    virtual void Write(const char* data, int count);
    // Hands out up to `maximum` queued bytes for the host; returns how many.
    virtual int GetOutput(char* buffer, int maximum);
    // Queues the bytes a key event stands for.
    virtual void KeyPressed(INPUT_RECORD record);
    // Bytes of 0x80 and above through the host's incoming / outgoing table.
    virtual unsigned char RecodeIncoming(unsigned char b);
    virtual unsigned char RecodeOutgoing(unsigned char b);

    // Text in the console code page (typed or pasted) as the host wants it:
    // through the outgoing table, or as UTF-8.
    std::string RecodeOutgoingText(std::string_view text) const;
    // Queues one typed character (a cell byte), recoded.
    void QueueTyped(unsigned char c);

    void QueueOutput(const char* data, int count);
    int GetScreen() const { return Screen; }

  protected:
    // The UTF-8 path for a host byte of 0x80 and above (Utf8In only).
    void PutUtf8Byte(unsigned char b);
    // A decoded character: its cell, a placeholder, or nothing (zero width).
    void PutCode(char32_t code);

    const THostConfig* Host;
    int Screen;
    TConsole* Con;
    int OutCapacity = 0;
    int OutLength = 0;
    int OutRead = 0;
    std::vector<char> OutData;
    // The host's tables, taken whole from the configuration at construction.
    unsigned char Incoming[256];
    unsigned char Outgoing[256];
    bool Utf8In = false;
    bool Utf8Out = false;
    TUtf8Decoder Decoder;  // Write's, under the session lock
};

// The cell shown for a character code page 866 lacks, one per column it
// takes, and for each ill-formed stretch of UTF-8.
constexpr unsigned char kMissingCell = '?';
constexpr unsigned char kInvalidCell = 0xFE;  // the black square
