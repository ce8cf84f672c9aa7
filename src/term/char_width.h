// How many terminal columns a character takes, as hosts' full-screen
// programs count them: 2 for East Asian wide and full-width characters
// (emoji included), 0 for combining marks and zero-width characters, 1 for
// everything else. Code points below U+0300 are all 1 (the caller handles
// control codes).
#pragma once

#include <cstddef>

int CharWidth(char32_t code);
