#include "config/config_text.h"

#include <cctype>
#include <charconv>

#include "base/exception.h"
#include "config/telnet_config.h"

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::string TrimRight(const std::string& text) {
    size_t end = text.size();
    while (end > 0 && IsBlank(text[end - 1])) --end;
    return text.substr(0, end);
}

std::optional<std::string> MatchKey(const std::string& line, const char* key) {
    size_t length = 0;
    for (; key[length] != '\0'; ++length) {
        if (length >= line.size()) return std::nullopt;
        unsigned char a = static_cast<unsigned char>(line[length]);
        unsigned char b = static_cast<unsigned char>(key[length]);
        if (std::toupper(a) != std::toupper(b)) return std::nullopt;
    }
    size_t position = length + 1;
    while (position < line.size() && (IsBlank(line[position]) || line[position] == '=')) {
        ++position;
    }
    if (position >= line.size()) return std::string();
    return line.substr(position);
}

std::optional<int> ParseCanonicalInt(const std::string& text) {
    std::string trimmed = Trim(text);
    int value = 0;
    const char* first = trimmed.data();
    const char* last = first + trimmed.size();
    auto [end, error] = std::from_chars(first, last, value);
    if (trimmed.empty() || error != std::errc() || end != last) return std::nullopt;
    if (std::to_string(value) != trimmed) return std::nullopt;
    return value;
}

bool ReadConfigLine(std::istream& file, std::string& line) {
    line.clear();
    std::streambuf* buffer = file.rdbuf();
    if (buffer == nullptr || !file.good()) return false;
    bool any = false;
    for (;;) {
        int c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof()) {
            file.setstate(std::ios::eofbit);
            break;
        }
        any = true;
        if (c == '\n') break;
        // One character of slack for the carriage return of a CR LF end.
        if (line.size() > static_cast<size_t>(kMaxLineLength)) {
            ++LineNumber;
            ThrowError("Config error. Line longer than %d characters. Line number: %d.",
                       kMaxLineLength, LineNumber);
        }
        line.push_back(static_cast<char>(c));
    }
    if (!any) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ++LineNumber;
    if (line.size() > static_cast<size_t>(kMaxLineLength)) {
        ThrowError("Config error. Line longer than %d characters. Line number: %d.", kMaxLineLength,
                   LineNumber);
    }
    return true;
}
