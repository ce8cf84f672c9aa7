// The switcher's hot keys: ALT chords (either ALT key; other modifiers are
// not examined) and ESC.
#pragma once

#include "platform/input_record.h"

enum class THotKey {
    None,
    Escape,      // ESC: ends the program when the banner is shown
    SwitchTo,    // ALT+F1..ALT+F12: the session number in `index`
    Next,        // ALT+N
    Previous,    // ALT+P
    StatusLine,  // ALT+T
    NewSession,  // ALT+A
};

// Only key-down events can be hot keys. `index` gets 0..11 for SwitchTo.
THotKey ClassifyHotKey(const INPUT_RECORD& record, int& index);
