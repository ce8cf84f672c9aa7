#include "term/cap_matcher.h"

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
    {"do", TCapEffect::do_}, {"ec", TCapEffect::ec}, {"ho", TCapEffect::ho}, {"IC", TCapEffect::IC},
    {"ic", TCapEffect::ic},  {"LE", TCapEffect::LE}, {"le", TCapEffect::le}, {"Q0", TCapEffect::Q},
    {"Q1", TCapEffect::Q},   {"Q2", TCapEffect::Q},  {"Q3", TCapEffect::Q},  {"Q4", TCapEffect::Q},
    {"Q5", TCapEffect::Q},   {"nd", TCapEffect::nd}, {"rc", TCapEffect::rc}, {"RI", TCapEffect::RI},
    {"sc", TCapEffect::sc},  {"se", TCapEffect::se}, {"sf", TCapEffect::sf}, {"SF", TCapEffect::SF},
    {"so", TCapEffect::so},  {"SR", TCapEffect::SR}, {"sr", TCapEffect::sr}, {"UP", TCapEffect::UP},
    {"up", TCapEffect::up},  {"ve", TCapEffect::ve}, {"x0", TCapEffect::x0}, {"x2", TCapEffect::x2},
};

// Only the ESC family has enough members to be worth a second index.
constexpr size_t kRefineAbove = 4;

bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

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
        const Op* first = nullptr;
        for (const Op& op : t.ops) {
            if (op.kind != kInc) {
                first = &op;
                break;
            }
        }
        if (!first) continue;
        const std::uint8_t index = static_cast<std::uint8_t>(templates_.size());
        if (first->kind == kLit) {
            first_[first->byte].push_back(index);
        } else {
            for (auto& list : first_) list.push_back(index);
        }
        templates_.push_back(std::move(t));
    }

    for (int b = 0; b < 256; ++b) {
        if (first_[b].size() <= kRefineAbove) continue;
        auto& lists = second_[b];
        lists.assign(256, {});
        for (std::uint8_t index : first_[b]) {
            const Template& t = templates_[index];
            const Op* ops[2] = {nullptr, nullptr};
            int n = 0;
            for (const Op& op : t.ops) {
                if (op.kind == kInc) continue;
                ops[n++] = &op;
                if (n == 2) break;
            }
            if (ops[0]->kind == kLit && ops[1] && ops[1]->kind == kLit) {
                lists[ops[1]->byte].push_back(index);
            } else {
                for (auto& list : lists) list.push_back(index);
            }
        }
    }
}

TMatchStatus TCapMatcher::Match(const unsigned char* p, const unsigned char* end,
                                TCapMatch& out) const {
    const std::vector<std::uint8_t>* list = &first_[*p];
    // With a single byte left every candidate must be tried, so that one that
    // has only begun reports incomplete.
    if (end - p >= 2 && !second_[*p].empty()) list = &second_[*p][p[1]];
    for (std::uint8_t index : *list) {
        TMatchStatus st = Try(templates_[index], p, end, out);
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
