#include "platform/clipboard.h"

#include <mutex>

#include "platform/cp866.h"
#include "platform/terminal_output.h"

namespace {

std::mutex clipboard_lock;
std::string clipboard_text;

}  // namespace

std::string Base64Encode(const std::string& bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(kAlphabet[(v >> 6) & 63]);
        out.push_back(kAlphabet[v & 63]);
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(rest == 2 ? kAlphabet[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

void StoreClipboardText(const std::string& cp866) {
    std::lock_guard guard(clipboard_lock);
    clipboard_text = cp866;
}

void SetClipboardText(const std::string& cp866) {
    StoreClipboardText(cp866);
    // The desktop expects UTF-8 with line feeds between lines.
    TerminalWrite("\x1b]52;c;" + Base64Encode(Cp866ToUtf8(cp866, true)) + "\x07");
}

std::string GetClipboardText() {
    std::lock_guard guard(clipboard_lock);
    return clipboard_text;
}
