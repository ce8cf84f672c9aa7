// The emulator driven by a termcap description.
#pragma once

#include <vector>

#include "term/acs_table.h"
#include "term/cap_matcher.h"
#include "term/emulator.h"
#include "term/termcap.h"

// Knows no escape sequence of its own: the description's output capabilities
// (with a few built-in defaults) say which byte strings stand for which screen
// operation; every other byte is recoded and printed. A sequence cut by the end
// of a block is held back (at most 1024 bytes) and finished with the next one.
//
// A description with the boolean "qabsorb" also drops the ECMA-48 escape and
// control sequences none of its capabilities matches (queries, mode switches,
// window titles): hosts send them whatever they know of the terminal, and
// printed they would only litter the screen. Without it they are printed
// byte by byte, as the console descriptions always had it.
//
// Construction loads the description (host's TermcapFile and TerminalType) and
// raises its errors. Threads as for TEmulator.
class TTermcapEmulator : public TEmulator {
  public:
    static constexpr int kPendingSize = 1024;
    // Bytes of a control string dropped at most before it counts as ended.
    static constexpr int kMaxStringLength = 4096;

    TTermcapEmulator(const THostConfig* host, int screen, TConsole* console = Console);
    // With a description loaded before (the host's file and type are not read).
    TTermcapEmulator(const THostConfig* host, int screen, const TTermcap& termcap,
                     TConsole* console = Console);
    ~TTermcapEmulator() override;

    void Write(const char* data, int count) override;
    void KeyPressed(INPUT_RECORD record) override;

    // The capability at the start of the data, as Write would see it.
    TMatchStatus MatchCapability(const unsigned char* p, const unsigned char* end,
                                 TCapMatch& match) const {
        return Matcher.Match(p, end, match);
    }
    const TTermcap& GetTermcap() const { return Termcap; }
    bool GetAltCharset() const { return AltCharset; }
    int GetPendingLength() const { return PendingLength; }

  private:
    void Setup();
    void Interpret(const unsigned char* p, const unsigned char* end);
    void Apply(const TCapMatch& m);
    void Attributes(const TCapMatch& m);
    int Clamp(int count) const;
    // Length of the unmatched sequence at `p` (p[0] is ESC) that "qabsorb"
    // drops: 0 when it is none, -1 when the data ends inside it. A control
    // string (OSC, DCS, ...) is only begun here; String carries it on.
    int AbsorbedLength(const unsigned char* p, const unsigned char* end);
    // Drops control string bytes up to its terminator; returns where text goes on.
    const unsigned char* SkipString(const unsigned char* p, const unsigned char* end);
    void PutText(unsigned char b);

    int PendingLength = 0;
    unsigned char Pending[kPendingSize];
    TTermcap Termcap;
    TAcsTable AcsTable;
    bool AltCharset = false;
    bool InsertMode = false;    // im .. ei: text pushes the rest of the row right
    bool Absorb = false;        // the description's "qabsorb"
    bool ReverseIndex = false;  // sr is ESC M: it scrolls only on the region's top row
    bool DeferredWrap = false;  // the description's "xn"
    bool Index = false;         // sf is ESC D: a line feed
    int StringLength = 0;
    enum class TString : unsigned char { None, Body, Escape } String = TString::None;
    TCapMatcher Matcher;
    std::vector<unsigned char> Work;  // pending tail + block, reused
};
