#include "term/regexp.h"

#include <climits>
#include <cstring>

#include "base/exception.h"

namespace {

// Longer patterns are refused: the matcher recurses once per node at most,
// so this bounds its stack whatever the pattern.
constexpr size_t kMaxPattern = 1024;
constexpr int kMaxDepth = 64;
constexpr uint16_t kUnbounded = 0xFFFF;
// Backtracking over several repetitions can take polynomial time; a match
// that needs more steps than this is reported as no match instead of hanging.
constexpr long kStepBudget = 20000000;

struct ByteSet {
    uint64_t bits[4] = {0, 0, 0, 0};
    void Add(int c) { bits[c >> 6] |= uint64_t{1} << (c & 63); }
    void AddRange(int lo, int hi) {
        for (int c = lo; c <= hi; ++c) Add(c);
    }
    void AddSet(const ByteSet& o) {
        for (int i = 0; i < 4; ++i) bits[i] |= o.bits[i];
    }
    void Invert() {
        for (auto& b : bits) b = ~b;
    }
    bool Has(int c) const { return (bits[c >> 6] >> (c & 63)) & 1; }
};

// Character classes of code page 866.
ByteSet Digits() {
    ByteSet s;
    s.AddRange(0x30, 0x39);
    return s;
}
ByteSet Upper() {
    ByteSet s;
    s.AddRange(0x41, 0x5A);
    s.AddRange(0x80, 0x9F);
    s.Add(0xF0);
    return s;
}
ByteSet Lower() {
    ByteSet s;
    s.AddRange(0x61, 0x7A);
    s.AddRange(0xA0, 0xAF);
    s.AddRange(0xE0, 0xEF);
    s.Add(0xF1);
    return s;
}
ByteSet Word() {
    ByteSet s;
    s.AddRange(0x30, 0x39);
    s.AddRange(0x41, 0x5A);
    s.Add(0x5F);
    s.AddRange(0x61, 0x7A);
    s.AddRange(0x80, 0xAF);
    s.AddRange(0xE0, 0xF1);
    return s;
}
ByteSet Blanks() {
    ByteSet s;
    s.Add(' ');
    s.Add('\t');
    return s;
}

const ByteSet& WordSet() {
    static const ByteSet set = Word();
    return set;
}

// The class an escape letter names, if it names one.
bool ClassOf(char letter, ByteSet& out) {
    ByteSet s;
    switch (letter) {
        case 'd':
            s = Digits();
            break;
        case 'D':
            s = Digits();
            s.Invert();
            break;
        case 'w':
            s = Word();
            break;
        case 'W':
            s = Word();
            s.Invert();
            break;
        case 's':
            s = Blanks();
            break;
        case 'S':
            s = Blanks();
            s.Invert();
            break;
        case 'u':
            s = Upper();
            break;
        case 'l':
            s = Lower();
            break;
        default:
            return false;
    }
    out = s;
    return true;
}

unsigned char FoldCase(unsigned char c) {
    if (c >= 0x41 && c <= 0x5A) return c + 0x20;
    if (c >= 0x80 && c <= 0x8F) return c + 0x20;
    if (c >= 0x90 && c <= 0x9F) return c + 0x50;
    if (c == 0xF0) return 0xF1;
    return c;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

struct TRegExp::Node {
    enum Kind : uint8_t {
        kByte,
        kAny,
        kSet,
        kBol,
        kEol,
        kWordStart,
        kWordEnd,
        kNotAfterWord,
        kMarkStart,
        kMarkEnd,
        kBackRef,
        kPrevRef,
        kGroup,
        kRepeat,
        kAlt,
        kLook,
    };
    Kind kind = kByte;
    unsigned char byte = 0;
    bool lazy = false;
    bool negate = false;
    bool behind = false;
    bool capturing = true;
    bool touches_captures = false;  // a group or \m \M inside the child
    uint16_t min = 0;
    uint16_t max = 0;
    int index = 0;  // capture index, back-reference or look-behind distance
    ByteSet set;
    std::unique_ptr<Node> child;
    std::unique_ptr<Node> next;

    explicit Node(Kind k) : kind(k) {}
    // Unlinks the sequence iteratively so a long pattern cannot exhaust the
    // stack on destruction.
    ~Node() {
        std::unique_ptr<Node> p = std::move(next);
        while (p) {
            std::unique_ptr<Node> q = std::move(p->next);
            p = std::move(q);
        }
    }
};

struct TRegExp::Cont {
    enum Kind : uint8_t { kSeq, kClose, kItemEnd, kAccept };
    Kind kind;
    const Node* node;
    int start;
    const Cont* up;
};

namespace {

using Node = TRegExp::Node;

class Parser {
  public:
    Parser(const std::string& body, bool icase, bool extended)
        : s_(body), icase_(icase), extended_(extended) {}

    // False when the body is not a valid pattern.
    bool Parse(std::unique_ptr<Node>& seq, int& groups) {
        seq = ParseSeq(0);
        if (!ok_ || pos_ != s_.size()) return false;
        MarkCaptures(seq.get());
        groups = groups_;
        return true;
    }

  private:
    std::unique_ptr<Node> ParseSeq(int depth) {
        if (depth > kMaxDepth) {
            ok_ = false;
            return nullptr;
        }
        std::vector<std::unique_ptr<Node>> items;
        while (ok_ && pos_ < s_.size()) {
            char c = s_[pos_];
            if (extended_ && c == ' ') {
                ++pos_;
                continue;
            }
            if (c == ')') break;
            ++pos_;
            switch (c) {
                case '(': {
                    auto g = std::make_unique<Node>(Node::kGroup);
                    g->index = ++groups_;
                    if (groups_ >= TRegExp::kMaxCaptures) ok_ = false;
                    g->child = ParseSeq(depth + 1);
                    if (!ok_) break;
                    if (pos_ >= s_.size() || s_[pos_] != ')') {
                        ok_ = false;
                        break;
                    }
                    ++pos_;
                    if (s_.compare(pos_, 2, "?:") == 0) {
                        pos_ += 2;
                        g->capturing = false;
                        Renumber(g->child.get(), g->index);
                        --groups_;
                    }
                    items.push_back(std::move(g));
                    break;
                }
                case '[':
                    items.push_back(ParseSet());
                    break;
                case ']':
                case '}':
                    ok_ = false;
                    break;
                case '*':
                case '+':
                    Wrap(items, Repeat(c == '+' ? 1 : 0, kUnbounded));
                    break;
                case '{':
                    Counted(items);
                    break;
                case '?':
                    Question(items);
                    break;
                case '|': {
                    if (!CanWrap(items)) break;
                    auto alt = std::make_unique<Node>(Node::kAlt);
                    alt->child = std::move(items.back());
                    items.back() = std::move(alt);
                    break;
                }
                case '.':
                    items.push_back(std::make_unique<Node>(Node::kAny));
                    break;
                case '^':
                    items.push_back(std::make_unique<Node>(Node::kBol));
                    break;
                case '$':
                    items.push_back(std::make_unique<Node>(Node::kEol));
                    break;
                case '\\':
                    items.push_back(Escape());
                    break;
                default:
                    items.push_back(Literal(static_cast<unsigned char>(c)));
                    break;
            }
        }
        // An alternation needs the item after it.
        if (!items.empty() && items.back() && items.back()->kind == Node::kAlt) ok_ = false;
        if (!ok_) return nullptr;
        std::unique_ptr<Node> head;
        for (size_t i = items.size(); i-- > 0;) {
            items[i]->next = std::move(head);
            head = std::move(items[i]);
        }
        return head;
    }

    // Marks every repetition and look-around whose item can set captures,
    // so they know to save and restore them when they backtrack.
    static bool MarkCaptures(Node* n) {
        bool any = false;
        for (; n; n = n->next.get()) {
            bool inner = MarkCaptures(n->child.get());
            n->touches_captures = inner;
            if (inner || n->kind == Node::kGroup || n->kind == Node::kMarkStart ||
                n->kind == Node::kMarkEnd) {
                any = true;
            }
        }
        return any;
    }

    // A group that turned out non-capturing gives its index back; the groups
    // opened inside it move down by one so numbering stays dense.
    static void Renumber(Node* n, int above) {
        for (; n; n = n->next.get()) {
            if (n->kind == Node::kGroup && n->index > above) --n->index;
            Renumber(n->child.get(), above);
        }
    }

    bool CanWrap(std::vector<std::unique_ptr<Node>>& items) {
        if (items.empty() || !items.back() || items.back()->kind == Node::kAlt) {
            ok_ = false;
            return false;
        }
        return true;
    }

    void Wrap(std::vector<std::unique_ptr<Node>>& items, std::unique_ptr<Node> mark) {
        if (!ok_ || !CanWrap(items)) return;
        mark->child = std::move(items.back());
        items.back() = std::move(mark);
    }

    std::unique_ptr<Node> Repeat(uint16_t min, uint16_t max) {
        auto r = std::make_unique<Node>(Node::kRepeat);
        r->min = min;
        r->max = max;
        if (pos_ < s_.size() && s_[pos_] == '?') {
            r->lazy = true;
            ++pos_;
        }
        return r;
    }

    void Counted(std::vector<std::unique_ptr<Node>>& items) {
        long m = 0, n = 0;
        if (!ReadNumber(m)) return;
        if (pos_ < s_.size() && s_[pos_] == ',') {
            ++pos_;
            if (pos_ < s_.size() && s_[pos_] == '}') {
                n = kUnbounded;
            } else if (!ReadNumber(n)) {
                return;
            }
        } else {
            n = m;
        }
        if (pos_ >= s_.size() || s_[pos_] != '}' || n < m) {
            ok_ = false;
            return;
        }
        ++pos_;
        Wrap(items, Repeat(static_cast<uint16_t>(m), static_cast<uint16_t>(n)));
    }

    bool ReadNumber(long& v) {
        size_t start = pos_;
        v = 0;
        while (pos_ < s_.size() && IsDigit(s_[pos_]) && v < kUnbounded) {
            v = v * 10 + (s_[pos_] - '0');
            ++pos_;
        }
        if (pos_ == start || v >= kUnbounded) {
            ok_ = false;
            return false;
        }
        return true;
    }

    void Question(std::vector<std::unique_ptr<Node>>& items) {
        char c = pos_ < s_.size() ? s_[pos_] : '\0';
        if (c == '=' || c == '!') {
            ++pos_;
            auto look = std::make_unique<Node>(Node::kLook);
            look->negate = c == '!';
            Wrap(items, std::move(look));
        } else if (c == '#' || c == '~') {
            ++pos_;
            if (pos_ >= s_.size() || !IsDigit(s_[pos_])) {
                ok_ = false;
                return;
            }
            auto look = std::make_unique<Node>(Node::kLook);
            look->negate = c == '~';
            look->behind = true;
            look->index = s_[pos_++] - '0';
            Wrap(items, std::move(look));
        } else {
            Wrap(items, Repeat(0, 1));
        }
    }

    std::unique_ptr<Node> Literal(unsigned char c) {
        auto n = std::make_unique<Node>(Node::kByte);
        n->byte = icase_ ? FoldCase(c) : c;
        return n;
    }

    std::unique_ptr<Node> Escape() {
        if (pos_ >= s_.size()) {
            ok_ = false;
            return nullptr;
        }
        char c = s_[pos_++];
        ByteSet cls;
        if (ClassOf(c, cls)) {
            auto n = std::make_unique<Node>(Node::kSet);
            n->set = cls;
            return n;
        }
        switch (c) {
            case 'n':
                return Literal('\n');
            case 'r':
                return Literal('\r');
            case 't':
                return Literal('\t');
            case 'x': {
                int v = HexByte();
                return v < 0 ? nullptr : Literal(static_cast<unsigned char>(v));
            }
            case 'b':
                return std::make_unique<Node>(Node::kWordStart);
            case 'B':
                return std::make_unique<Node>(Node::kWordEnd);
            case 'c':
                return std::make_unique<Node>(Node::kNotAfterWord);
            case 'm':
                return std::make_unique<Node>(Node::kMarkStart);
            case 'M':
                return std::make_unique<Node>(Node::kMarkEnd);
            case 'y':
                if (pos_ < s_.size() && IsDigit(s_[pos_])) {
                    // This program keeps no previous match: such a reference never matches.
                    ReferenceNumber(s_[pos_++]);
                    return std::make_unique<Node>(Node::kPrevRef);
                }
                return Literal('y');
            default:
                break;
        }
        if (IsDigit(c)) {
            int ref = ReferenceNumber(c);
            if (ref >= TRegExp::kMaxCaptures) {
                ok_ = false;
                return nullptr;
            }
            auto n = std::make_unique<Node>(Node::kBackRef);
            n->index = ref;
            return n;
        }
        return Literal(static_cast<unsigned char>(c));
    }

    int ReferenceNumber(char first) {
        int ref = first - '0';
        if (ref == 1 && pos_ < s_.size() && IsDigit(s_[pos_])) ref = 10 + (s_[pos_++] - '0');
        return ref;
    }

    int HexByte() {
        if (pos_ + 2 > s_.size() || HexValue(s_[pos_]) < 0 || HexValue(s_[pos_ + 1]) < 0) {
            ok_ = false;
            return -1;
        }
        int v = HexValue(s_[pos_]) * 16 + HexValue(s_[pos_ + 1]);
        pos_ += 2;
        return v;
    }

    // One member of a bracket: a byte (returned) or a class added to the set
    // (returns -1), or nothing (-2).
    int SetElement(ByteSet& set) {
        char c = s_[pos_++];
        if (c != '\\') return static_cast<unsigned char>(c);
        if (pos_ >= s_.size()) {
            ok_ = false;
            return -2;
        }
        c = s_[pos_++];
        ByteSet cls;
        if (ClassOf(c, cls)) {
            set.AddSet(cls);
            return -1;
        }
        switch (c) {
            case 'n':
                return '\n';
            case 'r':
                return '\r';
            case 't':
                return '\t';
            case 'x': {
                int v = HexByte();
                return v < 0 ? -2 : v;
            }
            case 'b':
            case 'B':
            case 'c':
            case 'm':
            case 'M':
                return -2;
            default:
                return static_cast<unsigned char>(c);
        }
    }

    std::unique_ptr<Node> ParseSet() {
        auto n = std::make_unique<Node>(Node::kSet);
        bool negated = false;
        if (pos_ < s_.size() && s_[pos_] == '^') {
            negated = true;
            ++pos_;
        }
        ByteSet set;
        for (;;) {
            if (pos_ >= s_.size()) {
                ok_ = false;
                return nullptr;
            }
            if (s_[pos_] == ']') {
                ++pos_;
                break;
            }
            int lo = SetElement(set);
            if (!ok_) return nullptr;
            if (lo < 0) continue;
            if (pos_ + 1 < s_.size() && s_[pos_] == '-' && s_[pos_ + 1] != ']') {
                ++pos_;
                int hi = SetElement(set);
                if (!ok_) return nullptr;
                if (hi < lo) {
                    ok_ = false;
                    return nullptr;
                }
                set.AddRange(lo, hi);
            } else {
                set.Add(lo);
            }
        }
        if (negated) set.Invert();
        n->set = set;
        return n;
    }

    const std::string& s_;
    size_t pos_ = 0;
    bool icase_;
    bool extended_;
    bool ok_ = true;
    int groups_ = 0;
};

}  // namespace

TRegExp::TRegExp() {
    std::memset(text_, 0, sizeof text_);
}

TRegExp::TRegExp(const std::string& pattern) : TRegExp() {
    Compile(pattern);
}

TRegExp::~TRegExp() = default;

bool TRegExp::Compile(const std::string& pattern) {
    valid_ = false;
    root_.reset();
    groups_ = 0;
    icase_ = extended_ = false;
    if (pattern.size() > kMaxPattern || pattern.empty() || pattern[0] != '/') return false;
    size_t close = pattern.rfind('/');
    if (close == 0) return false;
    for (size_t i = close + 1; i < pattern.size(); ++i) {
        if (pattern[i] == 'i') icase_ = true;
        if (pattern[i] == 'x') extended_ = true;
    }
    std::string body = pattern.substr(1, close - 1);
    Parser parser(body, icase_, extended_);
    int groups = 0;
    std::unique_ptr<Node> seq;
    if (!parser.Parse(seq, groups)) return false;
    root_ = std::make_unique<Node>(Node::kGroup);
    root_->index = 0;
    root_->child = std::move(seq);
    groups_ = groups;
    valid_ = true;
    return true;
}

bool TRegExp::Match(const std::string& text, std::vector<std::string>& captures) {
    if (!valid_) ThrowError("bad RegExp");
    text_end_ = static_cast<int>(text.size() < kWorkSize - 1 ? text.size() : kWorkSize - 1);
    std::memcpy(text_, text.data(), text_end_);
    text_[text_end_] = 0;
    for (int i = 0; i < kMaxCaptures; ++i) start_[i] = end_[i] = -1;
    marks_.clear();
    snapshots_.clear();
    steps_left_ = kStepBudget;
    Cont accept{Cont::kAccept, nullptr, 0, nullptr};
    bool found = false;
    for (int pos = 0; pos <= text_end_ && !found && steps_left_ > 0; ++pos) {
        found = Run(root_.get(), pos, &accept);
    }
    if (!found) {
        for (int i = 0; i < kMaxCaptures; ++i) start_[i] = end_[i] = -1;
        return false;
    }
    captures.clear();
    for (int i = 0; i <= groups_; ++i) {
        if (start_[i] >= 0 && end_[i] >= start_[i]) {
            captures.emplace_back(reinterpret_cast<const char*>(text_) + start_[i],
                                  end_[i] - start_[i]);
        } else {
            captures.emplace_back();
        }
    }
    return true;
}

int TRegExp::MatchStart(int index) const {
    return index >= 0 && index <= groups_ ? start_[index] : -1;
}

int TRegExp::MatchEnd(int index) const {
    return index >= 0 && index <= groups_ ? end_[index] : -1;
}

bool TRegExp::TestAtom(const Node* n, int pos) const {
    auto word_at = [this](int p) { return p >= 0 && p < text_end_ && WordSet().Has(text_[p]); };
    switch (n->kind) {
        case Node::kByte:
            if (pos >= text_end_) return false;
            return (icase_ ? FoldCase(text_[pos]) : text_[pos]) == n->byte;
        case Node::kAny:
            return pos < text_end_;
        case Node::kSet:
            return pos < text_end_ && n->set.Has(text_[pos]);
        case Node::kBol:
            return pos == 0;
        case Node::kEol:
            return pos == text_end_;
        case Node::kWordStart:
            return pos == text_end_ || (word_at(pos) && !word_at(pos - 1));
        case Node::kWordEnd:
            return pos == text_end_ || (!word_at(pos) && word_at(pos - 1));
        case Node::kNotAfterWord:
            return pos == text_end_ || !word_at(pos - 1);
        default:
            return false;
    }
}

int TRegExp::MatchItem(const Node* node, int pos) {
    Cont end{Cont::kItemEnd, nullptr, 0, nullptr};
    return Run(node, pos, &end) ? item_end_ : -1;
}

bool TRegExp::Resume(int pos, const Cont* cont) {
    switch (cont->kind) {
        case Cont::kSeq:
            return Run(cont->node, pos, cont->up);
        case Cont::kItemEnd:
            item_end_ = pos;
            return true;
        case Cont::kAccept:
            return true;
        case Cont::kClose: {
            const Node* g = cont->node;
            if (!g->capturing) return Run(g->next.get(), pos, cont->up);
            int i = g->index;
            int16_t old_start = start_[i], old_end = end_[i];
            if (i != 0 || start_[0] < 0) start_[i] = static_cast<int16_t>(cont->start);
            if (i != 0 || end_[0] < 0) end_[i] = static_cast<int16_t>(pos);
            if (Run(g->next.get(), pos, cont->up)) return true;
            start_[i] = old_start;
            end_[i] = old_end;
            return false;
        }
    }
    return false;
}

bool TRegExp::Run(const Node* node, int pos, const Cont* cont) {
    for (;;) {
        if (!node) return Resume(pos, cont);
        if (--steps_left_ <= 0) return false;
        switch (node->kind) {
            case Node::kByte:
            case Node::kAny:
            case Node::kSet:
                if (!TestAtom(node, pos)) return false;
                ++pos;
                break;
            case Node::kBol:
            case Node::kEol:
            case Node::kWordStart:
            case Node::kWordEnd:
            case Node::kNotAfterWord:
                if (!TestAtom(node, pos)) return false;
                break;
            case Node::kMarkStart:
            case Node::kMarkEnd: {
                int16_t* slot = node->kind == Node::kMarkStart ? &start_[0] : &end_[0];
                int16_t old = *slot;
                *slot = static_cast<int16_t>(pos);
                if (Run(node->next.get(), pos, cont)) return true;
                *slot = old;
                return false;
            }
            case Node::kBackRef: {
                int i = node->index;
                if (start_[i] < 0 || end_[i] < start_[i]) return false;
                int len = end_[i] - start_[i];
                if (len > text_end_ - pos) return false;
                for (int k = 0; k < len; ++k) {
                    unsigned char a = text_[start_[i] + k], b = text_[pos + k];
                    if (icase_ ? FoldCase(a) != FoldCase(b) : a != b) return false;
                }
                pos += len;
                break;
            }
            case Node::kPrevRef:
                return false;
            case Node::kGroup: {
                Cont close{Cont::kClose, node, pos, cont};
                return Run(node->child.get(), pos, &close);
            }
            case Node::kRepeat:
                return node->lazy ? RepeatLazy(node, pos, cont) : RepeatGreedy(node, pos, cont);
            case Node::kAlt: {
                // After the chosen alternative, go on behind the last one.
                const Node* after = node->next.get();
                while (after && after->kind == Node::kAlt) after = after->next.get();
                if (after) after = after->next.get();
                Cont rest{Cont::kSeq, after, 0, cont};
                if (Run(node->child.get(), pos, &rest)) return true;
                if (steps_left_ <= 0) return false;
                break;  // the next item is the alternative
            }
            case Node::kLook: {
                if (!node->touches_captures) {
                    int from = node->behind ? pos - node->index : pos;
                    bool hit = from >= 0 && MatchItem(node->child.get(), from) >= 0;
                    if (hit == node->negate) return false;
                    break;
                }
                return LookAround(node, pos, cont);
            }
        }
        node = node->next.get();
    }
}

void TRegExp::SaveCaptures() {
    snapshots_.insert(snapshots_.end(), start_, start_ + kMaxCaptures);
    snapshots_.insert(snapshots_.end(), end_, end_ + kMaxCaptures);
}

void TRegExp::LoadCaptures(size_t at) {
    std::memcpy(start_, snapshots_.data() + at, sizeof start_);
    std::memcpy(end_, snapshots_.data() + at + kMaxCaptures, sizeof end_);
}

bool TRegExp::LookAround(const Node* node, int pos, const Cont* cont) {
    const size_t base = snapshots_.size();
    SaveCaptures();
    int from = node->behind ? pos - node->index : pos;
    bool hit = from >= 0 && MatchItem(node->child.get(), from) >= 0;
    // A look-around that must not match keeps nothing of what its item set.
    if (node->negate) LoadCaptures(base);
    bool found = hit != node->negate && Run(node->next.get(), pos, cont);
    if (!found) LoadCaptures(base);
    snapshots_.resize(base);
    return found;
}

bool TRegExp::RepeatGreedy(const Node* node, int pos, const Cont* cont) {
    const int max = node->max == kUnbounded ? INT_MAX : node->max;
    const bool snap = node->touches_captures;
    const size_t base = marks_.size();
    const size_t snap_base = snapshots_.size();
    constexpr size_t kSnap = 2 * kMaxCaptures;
    marks_.push_back(static_cast<uint16_t>(pos));
    if (snap) SaveCaptures();
    int count = 0;
    bool empty = false;  // the item matched empty: any further count is reachable
    int p = pos;
    while (count < max) {
        int q = MatchItem(node->child.get(), p);
        if (q < 0) break;
        if (q == p) {
            empty = true;
            break;
        }
        marks_.push_back(static_cast<uint16_t>(q));
        // Each iteration's captures, so that backing off to fewer
        // iterations shows the captures of the last one still in use.
        if (snap) SaveCaptures();
        p = q;
        ++count;
    }
    bool found = false;
    for (int i = count; i >= 0 && steps_left_ > 0; --i) {
        if (i < node->min && !(empty && i == count)) break;
        if (snap && !(empty && i == count)) LoadCaptures(snap_base + i * kSnap);
        if (Run(node->next.get(), marks_[base + i], cont)) {
            found = true;
            break;
        }
    }
    if (!found && snap) LoadCaptures(snap_base);
    marks_.resize(base);
    snapshots_.resize(snap_base);
    return found;
}

bool TRegExp::RepeatLazy(const Node* node, int pos, const Cont* cont) {
    const int max = node->max == kUnbounded ? INT_MAX : node->max;
    const size_t snap_base = snapshots_.size();
    if (node->touches_captures) SaveCaptures();
    int count = 0;
    int p = pos;
    bool found = false;
    for (;;) {
        if (count >= node->min && Run(node->next.get(), p, cont)) {
            found = true;
            break;
        }
        if (count >= max || steps_left_ <= 0) break;
        int q = MatchItem(node->child.get(), p);
        if (q < 0) break;
        if (q == p) {
            if (count >= node->min) break;
            count = node->min;
            continue;
        }
        p = q;
        ++count;
    }
    if (node->touches_captures) {
        if (!found) LoadCaptures(snap_base);
        snapshots_.resize(snap_base);
    }
    return found;
}

std::string TRegExp::Trim(const std::string& text) {
    size_t b = text.find_first_not_of(" \t");
    if (b == std::string::npos) return std::string();
    size_t e = text.find_last_not_of(" \t");
    return text.substr(b, e - b + 1);
}
