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
// Construction loads the description (host's TermcapFile and TerminalType) and
// raises its errors. Threads as for TEmulator.
class TTermcapEmulator : public TEmulator {
  public:
    static constexpr int kPendingSize = 1024;

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

    int PendingLength = 0;
    unsigned char Pending[kPendingSize];
    TTermcap Termcap;
    TAcsTable AcsTable;
    bool AltCharset = false;
    TCapMatcher Matcher;
    std::vector<unsigned char> Work;  // pending tail + block, reused
};
