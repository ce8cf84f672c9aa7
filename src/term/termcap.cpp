#include "term/termcap.h"

#include <cstring>
#include <fstream>

#include "base/exception.h"
#include "term/regexp.h"
#include "term/termcap_value.h"

namespace {

struct BuiltinCap {
    std::uint32_t code;
    const char* name;
    const char* value;  // default, or null
};

// Order matters: the interpreter tries output records in this order and the
// first one that matches wins.
const BuiltinCap kOutputCaps[TTermcap::OutputCapCount] = {
    {0, "ac", nullptr},
    {TCapRecord::kOutputSequence, "ae", nullptr},
    {TCapRecord::kOutputSequence, "AL", nullptr},
    {TCapRecord::kOutputSequence, "al", nullptr},
    {TCapRecord::kOutputSequence, "as", nullptr},
    {TCapRecord::kOutputSequence, "cb", nullptr},
    {TCapRecord::kOutputSequence, "cd", nullptr},
    {TCapRecord::kOutputSequence, "ce", nullptr},
    {TCapRecord::kOutputSequence, "ch", nullptr},
    {TCapRecord::kOutputSequence, "cl", nullptr},
    {TCapRecord::kOutputSequence, "cL", nullptr},
    {TCapRecord::kOutputSequence, "c0", "\x1b[%dJ"},
    {TCapRecord::kOutputSequence, "cm", nullptr},
    {TCapRecord::kOutputSequence, "cM", "\x1b[%dH"},
    {TCapRecord::kOutputSequence, "cs", nullptr},
    {TCapRecord::kOutputSequence, "cv", nullptr},
    {TCapRecord::kOutputSequence, "DC", nullptr},
    {TCapRecord::kOutputSequence, "dc", nullptr},
    {TCapRecord::kOutputSequence, "DL", nullptr},
    {TCapRecord::kOutputSequence, "dl", nullptr},
    {TCapRecord::kOutputSequence, "DO", nullptr},
    {TCapRecord::kOutputSequence, "do", nullptr},
    {TCapRecord::kOutputSequence, "ec", "\x1b[%dX"},
    {TCapRecord::kOutputSequence, "ei", nullptr},
    {TCapRecord::kOutputSequence, "fs", nullptr},
    {TCapRecord::kOutputSequence, "ho", nullptr},
    {TCapRecord::kOutputSequence, "IC", nullptr},
    {TCapRecord::kOutputSequence, "ic", nullptr},
    {TCapRecord::kOutputSequence, "im", nullptr},
    {TCapRecord::kOutputSequence, "ke", nullptr},
    {TCapRecord::kOutputSequence, "kI", nullptr},
    {TCapRecord::kOutputSequence, "ks", nullptr},
    {TCapRecord::kOutputSequence, "LE", nullptr},
    // A backspace byte. (Stored as the two characters "^" "H", the default
    // would swallow that text whenever a host prints it.)
    {TCapRecord::kOutputSequence, "le", "\x08"},
    {TCapRecord::kOutputSequence, "Q0", "\x1b[m"},
    {TCapRecord::kOutputSequence, "Q1", "\x1b[%dm"},
    {TCapRecord::kOutputSequence, "Q2", "\x1b[%d;%dm"},
    {TCapRecord::kOutputSequence, "Q3", "\x1b[%d;%d;%dm"},
    {TCapRecord::kOutputSequence, "Q4", "\x1b[%d;%d;%d;%dm"},
    {TCapRecord::kOutputSequence, "Q5", "\x1b[%d;%d;%d;%d;%dm"},
    {TCapRecord::kOutputSequence, "nd", nullptr},
    {TCapRecord::kOutputSequence, "pf", "\x1b[4i"},
    {TCapRecord::kOutputSequence, "po", "\x1b[5i"},
    {TCapRecord::kOutputSequence, "rc", nullptr},
    {TCapRecord::kOutputSequence, "RI", nullptr},
    {TCapRecord::kOutputSequence, "rs", nullptr},
    {TCapRecord::kOutputSequence, "sc", nullptr},
    {TCapRecord::kOutputSequence, "se", nullptr},
    {TCapRecord::kOutputSequence, "sf", nullptr},
    {TCapRecord::kOutputSequence, "SF", nullptr},
    {TCapRecord::kOutputSequence, "so", nullptr},
    {TCapRecord::kOutputSequence, "SR", nullptr},
    {TCapRecord::kOutputSequence, "sr", nullptr},
    {TCapRecord::kOutputSequence, "te", nullptr},
    {TCapRecord::kOutputSequence, "ti", nullptr},
    {TCapRecord::kOutputSequence, "ts", nullptr},
    {TCapRecord::kOutputSequence, "UP", nullptr},
    {TCapRecord::kOutputSequence, "up", nullptr},
    {TCapRecord::kOutputSequence, "ve", nullptr},
    {TCapRecord::kOutputSequence, "vi", nullptr},
    {TCapRecord::kOutputSequence, "vs", nullptr},
    {TCapRecord::kOutputSequence, "x0", "\x1b[x"},
    {TCapRecord::kOutputSequence, "x2", "\x1b[%d;%dx"},
    {TCapRecord::kOutputSequence, "VGA_cur_1", "\x1b[?%dc"},
    {TCapRecord::kOutputSequence, "VGA_cur_2", "\x1b[?%d;%dc"},
    {TCapRecord::kOutputSequence, "VGA_cur_3", "\x1b[?%d;%d;%dc"},
    {0, "", nullptr},
    {0, "", nullptr},
};

const BuiltinCap kKeyCaps[TTermcap::KeyCapCount] = {
    {0x08, "kb", "\x08"},  {0x26, "ku", nullptr}, {0x28, "kd", nullptr}, {0x25, "kl", nullptr},
    {0x27, "kr", nullptr}, {0x21, "kP", nullptr}, {0x22, "kN", nullptr}, {0x24, "kh", nullptr},
    {0x23, "@7", nullptr}, {0x2E, "kD", nullptr}, {0x2D, "kI", nullptr}, {0x70, "k1", nullptr},
    {0x71, "k2", nullptr}, {0x72, "k3", nullptr}, {0x73, "k4", nullptr}, {0x74, "k5", nullptr},
    {0x75, "k6", nullptr}, {0x76, "k7", nullptr}, {0x77, "k8", nullptr}, {0x78, "k9", nullptr},
    {0x79, "k0", nullptr}, {0x7A, "F1", nullptr}, {0x7B, "F2", nullptr},
};

// F10 falls back to "k;" when the description has no "k0".
const BuiltinCap kKeyFallback = {0x79, "k;", nullptr};

std::vector<TCapRecord> CopyTable(const BuiltinCap* table, int count) {
    std::vector<TCapRecord> out(count);
    for (int i = 0; i < count; ++i) {
        out[i].Code = table[i].code;
        std::strncpy(out[i].Name, table[i].name, sizeof out[i].Name - 1);
        if (table[i].value) out[i].Value = table[i].value;
    }
    return out;
}

// A string value, unless the capability is absent or a boolean.
const std::string* StringValue(const TStringDictionary& dict, const char* name) {
    auto it = dict.find(name);
    if (it == dict.end() || it->second == "1") return nullptr;
    return &it->second;
}

// A terminal name is literal text: every character the pattern dialect
// gives a meaning to is escaped.
std::string EscapeName(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (std::strchr("\\^$.|?*+()[]{}/#~=!", c) && c != '\0') out += '\\';
        out += c;
    }
    return out;
}

// Reads one line of at most 1023 characters the way a text stream does: a
// longer line is cut and leaves the stream failed, so every later read fails.
// A carriage return before the line feed is dropped.
bool ReadLine(std::istream& in, std::string& line) {
    char buf[1024];
    in.getline(buf, sizeof buf);
    std::streamsize n = in.gcount();
    if (in.fail() && n == 0) return false;
    if (!in.fail() && !in.eof() && n > 0) --n;  // the line feed was extracted
    line.assign(buf, static_cast<size_t>(n));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

void Store(TStringDictionary& dict, const std::string& name, const std::string& value,
           bool top_level) {
    if (top_level) {
        dict[name] = value;
    } else {
        dict.emplace(name, value);  // a referenced entry never overrides
    }
}

}  // namespace

void TTermcap::Load(const std::string& file_name, const std::string& terminal_type) {
    TTermcap t;
    t.TermName = terminal_type;
    t.FileName = file_name;
    t.Read(t.Capabilities, true, 0);
    t.TermName = terminal_type;
    t.OutputCaps = CopyTable(kOutputCaps, OutputCapCount);
    t.KeyCaps = CopyTable(kKeyCaps, KeyCapCount);
    for (auto* table : {&t.OutputCaps, &t.KeyCaps}) {
        for (TCapRecord& r : *table) {
            if (r.Name[0] == '\0') continue;
            if (const std::string* v = StringValue(t.Capabilities, r.Name)) r.Value = *v;
        }
    }
    const std::string* fallback = StringValue(t.Capabilities, kKeyFallback.name);
    for (TCapRecord& r : t.KeyCaps) {
        if (!r.Value && std::strcmp(r.Name, "k0") == 0 && fallback) r.Value = *fallback;
    }
    t.AssignToKeyList();
    *this = std::move(t);
}

void TTermcap::Read(TStringDictionary& dict, bool top_level, int depth) {
    if (depth > kMaxTcDepth) {
        ThrowError("TTermcap::Read. Too many nested tc references at %s in %s.", TermName.c_str(),
                   FileName.c_str());
    }
    TRegExp entry("/(^)?:|(\\|)?:" + EscapeName(TermName) + "(:)?:|(\\|)?:/");
    TRegExp string_cap("/:([^:=]+)=([^:]+)/");
    TRegExp bool_cap("/:([a-z]+):?=/");

    std::ifstream in(FileName, std::ios::in | std::ios::binary);
    if (!in) ThrowError("TTermcap::Read. Unable to open termcap file: %s.", FileName.c_str());

    std::vector<std::string> caps;
    std::string line;
    int number = 0;
    for (;;) {
        if (!ReadLine(in, line)) {
            ThrowError("TTermcap::Read. Terminal type %s wasn't found in %s.\n", TermName.c_str(),
                       FileName.c_str());
        }
        ++number;
        line = TRegExp::Trim(line);
        if (line.empty() || line[0] == '#') continue;
        if (entry.Match(line, caps)) break;
    }

    for (;;) {
        ++number;
        if (!ReadLine(in, line)) line.clear();
        line = TRegExp::Trim(line);
        if (line.empty() || line[0] != ':') {
            ThrowError("TTermcap::Read. Bad line in %s: |%s|. Line %d.", FileName.c_str(),
                       line.c_str(), number);
        }
        const bool continued = line.back() == '\\';
        for (;;) {
            while (bool_cap.Match(line, caps)) {
                Store(dict, caps[1], "1", top_level);
                line.erase(bool_cap.MatchStart(0), bool_cap.MatchEnd(0) - bool_cap.MatchStart(0));
            }
            if (!string_cap.Match(line, caps)) break;
            if (caps[1] == "tc") {
                const std::string referring = TermName;
                TermName = caps[2];
                Read(dict, false, depth + 1);
                TermName = referring;
                break;
            }
            Store(dict, caps[1], DecodeTermcapValue(caps[2]), top_level);
            line.erase(string_cap.MatchStart(0), string_cap.MatchEnd(0) - string_cap.MatchStart(0));
        }
        if (!continued) return;
    }
}

std::string TTermcap::GetCapability(const std::string& name) const {
    auto it = Capabilities.find(name);
    return it == Capabilities.end() ? std::string() : it->second;
}

const std::string* TTermcap::FindKeyCapability(std::uint16_t code) const {
    for (const TCapRecord& r : KeyCaps) {
        if (r.Code == code) return r.Value ? &*r.Value : nullptr;
    }
    return nullptr;
}
