// Decoding of termcap string values as they are written in the file.
#pragma once

#include <string>

// Strips leading padding ("digits*", when the "*" is not the last character)
// and turns the escapes into bytes: ^X control codes (^? is DEL, a lower-case
// letter gives the same code as its capital), \E, \ with octal digits (one
// byte, the value modulo 256), and \ before any other character gives that
// character ("\n" is the letter n). Digits without "*" stay as text.
std::string DecodeTermcapValue(const std::string& value);
