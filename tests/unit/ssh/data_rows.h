// Case files under tests/data: rows of blank-separated words, and the hex
// notation their byte strings are written in.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

// The bytes written in `hex` (two digits a byte, no separators).
inline std::string HexBytes(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

// The rows of the case file `name` under tests/data, split into words at
// blanks; empty lines and "#" comments are skipped.
inline std::vector<std::vector<std::string>> DataRows(const std::string& name) {
    std::ifstream in(std::string(QUENLOR_TEST_DATA) + "/" + name);
    EXPECT_TRUE(in) << name;
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        rows.emplace_back(std::istream_iterator<std::string>(words),
                          std::istream_iterator<std::string>());
    }
    return rows;
}
