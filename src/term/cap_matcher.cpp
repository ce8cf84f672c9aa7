#include "term/cap_matcher.h"

#include <array>
#include <cstring>

namespace {

struct EffectName {
    const char* name;
    TCapEffect effect;
};

const EffectName kEffects[] = {
    {"ae", TCapEffect::ae},  {"AL", TCapEffect::AL}, {"al", TCapEffect::al}, {"as", TCapEffect::as},
    {"cb", TCapEffect::cb},  {"cd", TCapEffect::cd}, {"ce", TCapEffect::ce}, {"ch", TCapEffect::ch},
    {"cl", TCapEffect::cl},  {"cL", TCapEffect::cL}, {"c0", TCapEffect::c0}, {"cm", TCapEffect::cm},
    {"cM", TCapEffect::cM},  {"cs", TCapEffect::cs}, {"cv", TCapEffect::cv}, {"DC", TCapEffect::DC},
    {"dc", TCapEffect::dc},  {"DL", TCapEffect::DL}, {"dl", TCapEffect::dl}, {"DO", TCapEffect::DO},
    {"do", TCapEffect::do_}, {"ec", TCapEffect::ec}, {"ei", TCapEffect::ei}, {"ho", TCapEffect::ho},
    {"IC", TCapEffect::IC},  {"ic", TCapEffect::ic}, {"im", TCapEffect::im}, {"LE", TCapEffect::LE},
    {"le", TCapEffect::le},  {"Q0", TCapEffect::Q},  {"Q1", TCapEffect::Q},  {"Q2", TCapEffect::Q},
    {"Q3", TCapEffect::Q},   {"Q4", TCapEffect::Q},  {"Q5", TCapEffect::Q},  {"nd", TCapEffect::nd},
    {"rc", TCapEffect::rc},  {"RI", TCapEffect::RI}, {"sc", TCapEffect::sc}, {"se", TCapEffect::se},
    {"sf", TCapEffect::sf},  {"SF", TCapEffect::SF}, {"so", TCapEffect::so}, {"SR", TCapEffect::SR},
    {"sr", TCapEffect::sr},  {"UP", TCapEffect::UP}, {"up", TCapEffect::up}, {"ve", TCapEffect::ve},
    {"x0", TCapEffect::x0},  {"x2", TCapEffect::x2},
};

// Only the ESC family has enough members to be worth a second index.
constexpr size_t kRefineAbove = 4;

bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::array<const TCapMatcher::Op*, 4> TCapMatcher::FirstOps(const Template& t, int count) {
    std::array<const Op*, 4> ops = {nullptr, nullptr, nullptr, nullptr};
    int n = 0;
    for (const Op& op : t.ops) {
        if (op.kind == kInc) continue;
        if (n == count) break;
        ops[n++] = &op;
    }
    return ops;
}

TCapEffect CapEffectOf(const char* name) {
    for (const EffectName& e : kEffects) {
        if (std::strcmp(e.name, name) == 0) return e.effect;
    }
    return TCapEffect::None;
}

void TCapMatcher::Build(const std::vector<TCapRecord>& caps) {
    templates_.clear();
    for (auto& list : first_) list.clear();
    for (auto& lists : second_) lists.clear();
    for (auto& families : family_) families.clear();

    for (size_t r = 0; r < caps.size(); ++r) {
        const TCapRecord& rec = caps[r];
        if (!rec.IsOutputSequence() || !rec.Value) continue;
        const std::string& v = *rec.Value;
        Template t;
        t.effect = CapEffectOf(rec.Name);
        t.record = static_cast<int>(r);
        size_t i = 0;
        while (i < v.size() && IsDigit(v[i])) ++i;  // padding
        while (i < v.size()) {
            unsigned char c = v[i];
            if (c != '%') {
                t.ops.push_back({kLit, c});
                ++i;
                continue;
            }
            if (i + 1 >= v.size()) break;
            char d = v[i + 1];
            i += 2;
            switch (d) {
                case 'd':
                case '2':
                case '3':
                    t.ops.push_back({kNum, 0});
                    break;
                case '.':
                    t.ops.push_back({kChar, 0});
                    break;
                case '+': {
                    unsigned char base = 0;
                    if (i < v.size()) base = static_cast<unsigned char>(v[i++]);
                    t.ops.push_back({kCharPlus, base});
                    break;
                }
                case 'i':
                    t.ops.push_back({kInc, 0});
                    break;
                case '>':
                    for (int k = 0; k < 2 && i < v.size(); ++k, ++i) {
                        t.ops.push_back({kLit, static_cast<unsigned char>(v[i])});
                    }
                    break;
                default:
                    break;  // %%, %r, %n, %B, %D ...: nothing to match
            }
        }
        // A template that consumes nothing would match everywhere without
        // progress; it can never stand for a sequence.
        const Op* first = FirstOps(t, 1)[0];
        if (!first) continue;
        const std::uint8_t index = static_cast<std::uint8_t>(templates_.size());
        if (first->kind == kLit) {
            first_[first->byte].push_back(index);
        } else {
            for (auto& list : first_) list.push_back(index);
        }
        templates_.push_back(std::move(t));
    }

    // Only bytes that start many templates of their own are refined further:
    // templates that start with a directive sit in every list, and counting
    // them would build indexes for every byte (and pair) of a description
    // full of them.
    int own_first[256] = {};
    for (const Template& t : templates_) {
        const Op* first = FirstOps(t, 1)[0];
        if (first->kind == kLit) ++own_first[first->byte];
    }
    for (int b = 0; b < 256; ++b) {
        if (own_first[b] <= static_cast<int>(kRefineAbove)) continue;
        auto& lists = second_[b];
        lists.assign(256, {});
        int own_second[256] = {};
        for (std::uint8_t index : first_[b]) {
            const auto ops = FirstOps(templates_[index], 2);
            if (ops[0]->kind == kLit && ops[1] && ops[1]->kind == kLit) {
                lists[ops[1]->byte].push_back(index);
                ++own_second[ops[1]->byte];
            } else {
                for (auto& list : lists) list.push_back(index);
            }
        }
        for (int c = 0; c < 256; ++c) {
            if (own_second[c] <= static_cast<int>(kRefineAbove)) continue;
            if (family_[b].empty()) family_[b].resize(256);
            family_[b][c] = std::make_unique<Family>();
            BuildFamily(*family_[b][c], lists[c]);
        }
    }
}

// The members all start with two literal bytes b0 b1 (or with a directive,
// which keeps them everywhere). What decides the outcome for data b0 b1 x ...:
// - a third op that is a literal other than x fails at x;
// - a number with x not a digit fails, but the walk goes on at x, so only
//   a following literal other than x makes it fail for certain;
// - a number over the digits at x fails for certain when the literal after
//   it differs from the byte that ends the digits.
// Everything else (directives that take any byte, templates that end early)
// stays in every list.
void TCapMatcher::BuildFamily(Family& f, const List& members) const {
    for (std::uint8_t index : members) {
        const auto ops = FirstOps(templates_[index], 4);
        const bool literal_prefix = ops[0]->kind == kLit && ops[1] && ops[1]->kind == kLit;
        const Op* third = literal_prefix ? ops[2] : nullptr;
        const Op* after = literal_prefix ? ops[3] : nullptr;
        for (int x = 0; x < 256; ++x) {
            bool keep = true;
            if (third && third->kind == kLit) {
                keep = third->byte == x;
            } else if (third && third->kind == kNum && !IsDigit(x)) {
                keep = !(after && after->kind == kLit && after->byte != x);
            }
            if (keep) f.by_third[x].push_back(index);
        }
        for (int t_end = 0; t_end < 256; ++t_end) {
            bool keep = true;
            if (third && third->kind == kLit) {
                keep = IsDigit(third->byte);  // a literal digit: checked by the walk
            } else if (third && third->kind == kNum) {
                keep = !(after && after->kind == kLit && after->byte != t_end);
            }
            if (keep) f.by_terminator[t_end].push_back(index);
        }
    }
}

const TCapMatcher::List& TCapMatcher::Candidates(const unsigned char* p,
                                                 const unsigned char* end) const {
    // With fewer bytes than an index looks at, every candidate of the coarser
    // list must be tried, so that one that has only begun reports incomplete.
    const long avail = end - p;
    if (avail < 2 || second_[*p].empty()) return first_[*p];
    const List& pair = second_[*p][p[1]];
    if (avail < 3 || family_[*p].empty() || !family_[*p][p[1]]) return pair;
    const Family& f = *family_[*p][p[1]];
    if (!IsDigit(p[2])) return f.by_third[p[2]];
    const unsigned char* q = p + 3;
    while (q < end && IsDigit(*q)) ++q;
    if (q >= end) return f.by_third[p[2]];
    return f.by_terminator[*q];
}

TMatchStatus TCapMatcher::Match(const unsigned char* p, const unsigned char* end,
                                TCapMatch& out) const {
    for (std::uint8_t index : Candidates(p, end)) {
        TMatchStatus st = Try(templates_[index], p, end, out);
        if (st != TMatchStatus::NoMatch) return st;
    }
    return TMatchStatus::NoMatch;
}

TMatchStatus TCapMatcher::MatchExhaustive(const unsigned char* p, const unsigned char* end,
                                          TCapMatch& out) const {
    for (const Template& t : templates_) {
        TMatchStatus st = Try(t, p, end, out);
        if (st != TMatchStatus::NoMatch) return st;
    }
    return TMatchStatus::NoMatch;
}

TMatchStatus TCapMatcher::Try(const Template& t, const unsigned char* p, const unsigned char* end,
                              TCapMatch& out) const {
    const unsigned char* const start = p;
    int offset = 0;
    int count = 0;
    bool fails = false;  // a number had no digit: the walk goes on only to detect the end
    for (const Op& op : t.ops) {
        int param = 0;
        switch (op.kind) {
            case kLit:
                if (p >= end) return TMatchStatus::Incomplete;
                if (*p != op.byte) return TMatchStatus::NoMatch;
                ++p;
                continue;
            case kInc:
                ++offset;
                continue;
            case kNum: {
                if (p >= end) return TMatchStatus::Incomplete;
                if (!IsDigit(*p)) {
                    fails = true;
                    break;
                }
                int v = 0;
                while (p < end && IsDigit(*p)) {
                    v = v * 10 + (*p - '0');
                    if (v > kMaxNumber) v = kMaxNumber;
                    ++p;
                }
                if (p >= end) return TMatchStatus::Incomplete;
                param = v - offset;
                break;
            }
            case kChar:
                if (p >= end) return TMatchStatus::Incomplete;
                param = static_cast<signed char>(*p++);
                break;
            case kCharPlus:
                if (p >= end) return TMatchStatus::Incomplete;
                param = static_cast<signed char>(*p++) - op.byte - offset;
                break;
        }
        if (count < TCapMatch::kMaxParams) out.Params[count] = param;
        ++count;
    }
    if (fails) return TMatchStatus::NoMatch;
    out.Effect = t.effect;
    out.Record = t.record;
    out.ParamCount = count < TCapMatch::kMaxParams ? count : TCapMatch::kMaxParams;
    for (int i = out.ParamCount; i < TCapMatch::kMaxParams; ++i) out.Params[i] = 0;
    out.Consumed = static_cast<int>(p - start);
    return TMatchStatus::Matched;
}
