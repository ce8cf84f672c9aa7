// Case files under tests/data: one case a line, fields separated by tabs;
// blank lines and lines starting with "#" are skipped. Fields take the
// escapes \e \r \n \b \t \0 \\ and \xHH, and \s for a blank that would
// not show; a field "" is empty.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct TCase {
    std::string where;  // "file:line", for SCOPED_TRACE
    std::vector<std::string> fields;
    const std::string& operator[](std::size_t i) const { return fields.at(i); }
    std::size_t size() const { return fields.size(); }
};

inline std::string Unescape(const std::string& text) {
    if (text == "\"\"") return "";
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char e = text[++i];
        static const std::string kFrom = "ernbt0s", kTo("\x1b\r\n\b\t\0 ", 7);
        if (e == 'x') {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            const std::size_t k = kFrom.find(e);
            out += k == std::string::npos ? e : kTo[k];
        }
    }
    return out;
}

// A number in decimal, or in hex with "0x".
inline long Num(const std::string& text) {
    return std::stol(text, nullptr, 0);
}

// The words of a field, split at blanks.
inline std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

// Every case of tests/data/NAME; the test fails when there are none.
inline std::vector<TCase> ReadCases(const std::string& name) {
    std::vector<TCase> cases;
    std::ifstream in(std::string(QUENLOR_TEST_DATA) + "/" + name);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#') continue;
        TCase c{name + ":" + std::to_string(number), {}};
        std::istringstream fields(line);
        for (std::string f; std::getline(fields, f, '\t');) c.fields.push_back(Unescape(f));
        cases.push_back(std::move(c));
    }
    EXPECT_FALSE(cases.empty()) << "no cases in " << name;
    return cases;
}
