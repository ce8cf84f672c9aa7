// The console code page: cells and key characters are CP866 bytes; the
// terminal speaks UTF-8. Every byte has a glyph, the symbols of 0x01-0x1F
// and 0x7F included, so a cell never sends a control byte to the terminal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The Unicode code point drawn for a CP866 byte (0x00 draws as a space).
char32_t Cp866ToUnicode(unsigned char byte);
// The CP866 byte for a code point, or -1 when the code page has none.
// Code points below 0x80 map to themselves (controls included).
int UnicodeToCp866(char32_t code);
// The cell byte whose glyph is this code point, or -1: like UnicodeToCp866,
// but the symbols drawn for 0x01-0x1F give their bytes too. For host text
// decoded from UTF-8, where such a symbol is a character to show, not a key.
int Cp866GlyphCell(char32_t code);

// Appends the UTF-8 form of a code point.
void AppendUtf8(std::string& out, char32_t code);
// A whole CP866 text as UTF-8, with a carriage return turned into a line
// feed when `crToLf` is set (clipboard text uses CR between lines).
std::string Cp866ToUtf8(std::string_view text, bool crToLf);
// UTF-8 to CP866; characters the code page lacks and malformed bytes are
// left out.
std::string Utf8ToCp866(std::string_view text);
