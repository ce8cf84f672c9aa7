// The clipboard: text in the console code page (CP866), lines separated by
// a single carriage return. It lives in the process; a copy is also offered
// to the desktop through the terminal (OSC 52, UTF-8 in base64), and the
// terminal's own paste lands here (see the terminal back end).
// Thread-safe; in practice only the main thread uses it.
#pragma once

#include <string>

// Stores the text and sends it to the terminal's clipboard.
void SetClipboardText(const std::string& cp866);
// Stores the text only (a paste that came from the terminal).
void StoreClipboardText(const std::string& cp866);
// The stored text; empty when nothing was stored.
std::string GetClipboardText();
// Base64 of arbitrary bytes (standard alphabet, with padding).
std::string Base64Encode(const std::string& bytes);
