// Small text rules shared by the configuration parsers.
#pragma once

#include <istream>
#include <optional>
#include <string>

// Blank = space or tab.
bool IsBlank(char c);
// The text without blanks at both ends.
std::string Trim(const std::string& text);
// The text without blanks at its end.
std::string TrimRight(const std::string& text);

// When the line begins with `key` (letter case ignored), the value: the one
// character after the key is skipped whatever it is, then every blank and
// "=". A line that ends right after the key has the empty value.
std::optional<std::string> MatchKey(const std::string& line, const char* key);

// The number when the trimmed text is a decimal integer written exactly as
// "%d" prints it (no plus sign, no leading zeros, nothing trailing, in range).
std::optional<int> ParseCanonicalInt(const std::string& text);

// Reads the next line of at most kMaxLineLength characters into `line`
// (a carriage return before the line feed is dropped) and counts it in
// LineNumber. False at end of file. A longer line raises a "Config error."
// instead of being cut, because the rest of it would be read as a line of
// its own.
bool ReadConfigLine(std::istream& file, std::string& line);
