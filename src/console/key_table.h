// The character a key event carries after reading: control letters for
// CTRL+letter, 0 for keys and chords that carry none (function keys, ALT
// chords ...), the key's own character otherwise. The main loop and the
// sessions take text from it and test hot keys by virtual key code.
#pragma once

#include "platform/input_record.h"

// Rewrites the character of a key event in place (key releases get 0);
// other events are left alone.
void NormaliseKeyEvent(INPUT_RECORD& record);
