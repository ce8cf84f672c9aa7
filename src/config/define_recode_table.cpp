// DEFINE_RECODE_TABLE name, then up to 128 hexadecimal values on data lines,
// each line but the last ending with a backslash.
#include <cstring>

#include "base/exception.h"
#include "config/config_text.h"
#include "config/telnet_config.h"

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A word of hex digits with an optional "0x" prefix; the low byte of its
// value. Anything else in the word is refused rather than read up to the
// first stray character, which would hide typing errors in a table.
bool ParseHexWord(const std::string& word, unsigned char& byte) {
    size_t position = 0;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) position = 2;
    if (position >= word.size()) return false;
    unsigned value = 0;
    for (; position < word.size(); ++position) {
        int digit = HexDigit(word[position]);
        if (digit < 0) return false;
        value = ((value << 4) | static_cast<unsigned>(digit)) & 0xFF;
    }
    byte = static_cast<unsigned char>(value);
    return true;
}

}  // namespace

void TTelnetConfig::DefineRecodeTable(std::istream& file, const std::string& header) {
    size_t end = 0;
    while (end < header.size() && !IsBlank(header[end])) ++end;
    std::string name = header.substr(0, end);
    if (name.empty()) {
        ThrowError("Config error. Recode table name missing. Line number: %d.", LineNumber);
    }
    if (name.size() >= static_cast<size_t>(kRecodeNameSize)) {
        ThrowError(
            "Config error. Recode table name longer than %d characters: %s. Line "
            "number: %d.",
            kRecodeNameSize - 1, name.c_str(), LineNumber);
    }
    if (TableCount >= kMaxTables) {
        ThrowError(
            "Config error. Too many recode tables: '%s' would be number %d, at most %d. "
            "Line number: %d.",
            name.c_str(), TableCount + 1, kMaxTables, LineNumber);
    }

    // Filled aside and stored only when complete, so a refused table never
    // becomes visible to later lines.
    TRecodeTable table{};
    std::memcpy(table.Name, name.c_str(), name.size() + 1);
    int count = 0;
    std::string line;
    for (;;) {
        if (!ReadConfigLine(file, line)) {
            ThrowError("Config error. End of file in the data of recode table '%s'.", name.c_str());
        }
        if (line.empty()) continue;
        line = TrimRight(line);
        bool more = !line.empty() && line.back() == '\\';
        if (more) {
            line.pop_back();
            line = TrimRight(line);
        }
        size_t position = 0;
        while (position < line.size()) {
            while (position < line.size() && IsBlank(line[position])) ++position;
            size_t start = position;
            while (position < line.size() && !IsBlank(line[position])) ++position;
            if (start == position) break;
            std::string word = line.substr(start, position - start);
            unsigned char byte = 0;
            if (!ParseHexWord(word, byte)) {
                ThrowError(
                    "Config error. Bad hexadecimal value in recode table '%s': %s. Line "
                    "number: %d.",
                    name.c_str(), word.c_str(), LineNumber);
            }
            if (count >= kRecodeTableSize) {
                ThrowError(
                    "Config error. More than %d values in recode table '%s'. Line "
                    "number: %d.",
                    kRecodeTableSize, name.c_str(), LineNumber);
            }
            table.Table[count++] = byte;
        }
        if (!more) break;
    }
    Tables[TableCount] = table;
    ++TableCount;
}
