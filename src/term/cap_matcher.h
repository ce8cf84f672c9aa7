// Recognises the output capabilities of a terminal description in host output.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "term/termcap.h"

// What a recognised capability does; one value per output record name.
enum class TCapEffect : std::uint8_t {
    None,  // consumed, nothing else happens
    ae,
    AL,
    al,
    as,
    cb,
    cd,
    ce,
    ch,
    cl,
    cL,
    c0,
    cm,
    cM,
    cs,
    cv,
    DC,
    dc,
    DL,
    dl,
    DO,
    do_,
    ec,
    ei,
    ho,
    IC,
    ic,
    im,
    LE,
    le,
    Q,
    nd,
    rc,
    RI,
    sc,
    se,
    sf,
    SF,
    so,
    SR,
    sr,
    UP,
    up,
    ve,
    x0,
    x2,
};

enum class TMatchStatus : std::uint8_t { Matched, NoMatch, Incomplete };

struct TCapMatch {
    static constexpr int kMaxParams = 16;  // more directives than this are ignored
    TCapEffect Effect = TCapEffect::None;
    int Record = -1;  // index in the output table
    int Params[kMaxParams] = {};
    int ParamCount = 0;
    int Consumed = 0;
};

// Templates are compiled once into small op lists. A capability whose first
// data-consuming op is a literal byte can only be under way when the data
// starts with that byte, so candidates are indexed by the first byte and,
// for busy first bytes such as ESC, by the second byte too; a busy pair
// (ESC "[") is refined by the third byte, and when that starts a number, by
// the byte that ends the number. Each index leaves out only templates whose
// walk over data of that shape is certain to fail without running out of
// data, so the outcome is the one of trying every template in table order:
// the first record that matches wins, and the first one that runs out of
// data stops the search (the caller holds the tail back).
class TCapMatcher {
  public:
    // Numbers in the data are read up to this value; longer runs of digits
    // still match but saturate, so effects never overflow.
    static constexpr int kMaxNumber = 1000000;

    void Build(const std::vector<TCapRecord>& caps);

    // True when no capability can start with this byte: it is plain text.
    bool IsPlain(unsigned char b) const { return first_[b].empty(); }

    // Matches at `p` (p < end).
    TMatchStatus Match(const unsigned char* p, const unsigned char* end, TCapMatch& out) const;
    // The same by trying every template in table order, without the indexes:
    // the definition Match must agree with (tests and fuzzers compare them).
    TMatchStatus MatchExhaustive(const unsigned char* p, const unsigned char* end,
                                 TCapMatch& out) const;

  private:
    enum OpKind : std::uint8_t { kLit, kNum, kChar, kCharPlus, kInc };
    struct Op {
        OpKind kind;
        unsigned char byte;
    };
    struct Template {
        std::vector<Op> ops;
        TCapEffect effect;
        int record;
    };
    using List = std::vector<std::uint8_t>;  // template indexes, table order
    struct Family {
        List by_third[256];
        List by_terminator[256];  // third byte is a digit: by the byte after the digits
    };
    TMatchStatus Try(const Template& t, const unsigned char* p, const unsigned char* end,
                     TCapMatch& out) const;
    const List& Candidates(const unsigned char* p, const unsigned char* end) const;
    void BuildFamily(Family& f, const List& members) const;
    // The first `count` (at most 4) ops that consume data; null past the end.
    static std::array<const Op*, 4> FirstOps(const Template& t, int count);

    std::vector<Template> templates_;
    List first_[256];
    // second_[b] is empty, or 256 lists refined by the second byte.
    std::vector<List> second_[256];
    // family_[b] is empty, or 256 entries, set for busy (b, second byte) pairs.
    std::vector<std::unique_ptr<Family>> family_[256];
};

// The effect of an output record name (None for names without one).
TCapEffect CapEffectOf(const char* name);
