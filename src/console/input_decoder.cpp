#include "console/input_decoder.h"

#include "platform/beep.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/beep.h"
#include "platform/clipboard.h"
#include "platform/cp866.h"

namespace {

constexpr char kPasteEnd[] = "\x1b[201~";
constexpr std::size_t kPasteEndLength = sizeof kPasteEnd - 1;
// A CSI longer than this is garbage: drop it rather than wait for ever.
constexpr std::size_t kMaxSequence = 64;

// xterm modifier parameter (1 + bits: 1 shift, 2 alt, 4 ctrl, 8 meta).
std::uint32_t ModifierState(int param) {
    if (param < 2) return 0;
    const int bits = param - 1;
    std::uint32_t state = 0;
    if (bits & 1) state |= SHIFT_PRESSED;
    if (bits & (2 | 8)) state |= LEFT_ALT_PRESSED;
    if (bits & 4) state |= LEFT_CTRL_PRESSED;
    return state;
}

struct Printable {
    std::uint16_t vk;
    bool shift;
};

// Virtual key of a printable ASCII character on a US keyboard.
Printable PrintableKey(unsigned char c) {
    if (c >= 'a' && c <= 'z') return {static_cast<std::uint16_t>(c - 'a' + 'A'), false};
    if (c >= 'A' && c <= 'Z') return {c, true};
    if (c >= '0' && c <= '9') return {c, false};
    switch (c) {
        case ' ':
            return {VK_SPACE, false};
        case '!':
            return {'1', true};
        case '@':
            return {'2', true};
        case '#':
            return {'3', true};
        case '$':
            return {'4', true};
        case '%':
            return {'5', true};
        case '^':
            return {'6', true};
        case '&':
            return {'7', true};
        case '*':
            return {'8', true};
        case '(':
            return {'9', true};
        case ')':
            return {'0', true};
        case '-':
            return {VK_OEM_MINUS, false};
        case '_':
            return {VK_OEM_MINUS, true};
        case '=':
            return {VK_OEM_PLUS, false};
        case '+':
            return {VK_OEM_PLUS, true};
        case '[':
            return {VK_OEM_4, false};
        case '{':
            return {VK_OEM_4, true};
        case ']':
            return {VK_OEM_6, false};
        case '}':
            return {VK_OEM_6, true};
        case '\\':
            return {VK_OEM_5, false};
        case '|':
            return {VK_OEM_5, true};
        case ';':
            return {VK_OEM_1, false};
        case ':':
            return {VK_OEM_1, true};
        case '\'':
            return {VK_OEM_7, false};
        case '"':
            return {VK_OEM_7, true};
        case ',':
            return {VK_OEM_COMMA, false};
        case '<':
            return {VK_OEM_COMMA, true};
        case '.':
            return {VK_OEM_PERIOD, false};
        case '>':
            return {VK_OEM_PERIOD, true};
        case '/':
            return {VK_OEM_2, false};
        case '?':
            return {VK_OEM_2, true};
        case '`':
            return {VK_OEM_3, false};
        case '~':
            return {VK_OEM_3, true};
        default:
            return {0, false};
    }
}

// The key of "CSI n ~".
std::uint16_t TildeKey(int n) {
    switch (n) {
        case 1:
        case 7:
            return VK_HOME;
        case 2:
            return VK_INSERT;
        case 3:
            return VK_DELETE;
        case 4:
        case 8:
            return VK_END;
        case 5:
            return VK_PRIOR;
        case 6:
            return VK_NEXT;
        case 11:
            return VK_F1;
        case 12:
            return VK_F2;
        case 13:
            return VK_F3;
        case 14:
            return VK_F4;
        case 15:
            return VK_F5;
        case 17:
            return VK_F6;
        case 18:
            return VK_F7;
        case 19:
            return VK_F8;
        case 20:
            return VK_F9;
        case 21:
            return VK_F10;
        case 23:
            return VK_F11;
        case 24:
            return VK_F12;
        default:
            return 0;
    }
}

// The key of a CSI or SS3 sequence ending in a letter.
std::uint16_t LetterKey(char final) {
    switch (final) {
        case 'A':
            return VK_UP;
        case 'B':
            return VK_DOWN;
        case 'C':
            return VK_RIGHT;
        case 'D':
            return VK_LEFT;
        case 'H':
            return VK_HOME;
        case 'F':
            return VK_END;
        case 'E':
            return VK_CLEAR;
        case 'P':
            return VK_F1;
        case 'Q':
            return VK_F2;
        case 'R':
            return VK_F3;
        case 'S':
            return VK_F4;
        default:
            return 0;
    }
}

std::vector<int> SplitParams(const std::string& text) {
    std::vector<int> params;
    int value = 0;
    bool any = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            value = std::min(value * 10 + (c - '0'), 100000);
            any = true;
        } else if (c == ';' || c == ':') {
            params.push_back(any ? value : 0);
            value = 0;
            any = false;
        }
    }
    params.push_back(any ? value : 0);
    return params;
}

}  // namespace

void TInputDecoder::Feed(const char* data, std::size_t size) {
    buffer_.append(data, size);
    Parse(false);
}

bool TInputDecoder::Incomplete() const {
    return !in_paste_ && !buffer_.empty();
}

void TInputDecoder::Timeout() {
    Parse(true);
}

INPUT_RECORD TInputDecoder::PopEvent() {
    INPUT_RECORD r = events_.front();
    events_.pop_front();
    return r;
}

void TInputDecoder::Key(std::uint16_t vk, unsigned char ch, std::uint32_t state) {
    // CTRL+ALT+S stands in for SCROLL LOCK, which no terminal can send.
    if (vk == 'S' && (state & CTRL_PRESSED) && (state & ALT_PRESSED)) {
        events_.push_back(MakeKeyEvent(true, VK_SCROLL, 0, 0));
        return;
    }
    events_.push_back(MakeKeyEvent(true, vk, ch, state));
}

void TInputDecoder::Parse(bool final) {
    std::size_t pos = 0;
    while (pos < buffer_.size()) {
        if (in_paste_) {
            buffer_.erase(0, pos);
            pos = 0;
            PasteBytes();
            if (in_paste_) return;  // waiting for the rest of the paste
            continue;
        }
        std::size_t used;
        if (buffer_[pos] == '\x1b')
            used = ParseEscape(pos, final);
        else
            used = ParseChar(pos, 0, final);
        if (used == 0) break;
        pos += used;
    }
    buffer_.erase(0, pos);
    if (final) buffer_.clear();  // whatever is left cannot become a key
}

std::size_t TInputDecoder::ParseEscape(std::size_t pos, bool final) {
    const std::size_t left = buffer_.size() - pos;
    if (left < 2) {
        if (!final) return 0;
        Key(VK_ESCAPE, 27, 0);  // a lone ESC
        return 1;
    }
    const char next = buffer_[pos + 1];
    if (next == '[') {
        const std::size_t used = ParseCsi(pos + 2, 0, final);
        if (used == 0) {
            if (!final) return 0;
            if (left == 2) {
                Key(VK_OEM_4, '[', LEFT_ALT_PRESSED);  // ALT+[ after a pause
                return 2;
            }
            return left;  // an unfinished sequence: drop it
        }
        return used + 2;
    }
    if (next == 'O') {
        const std::size_t used = ParseSs3(pos + 2, 0, final);
        if (used == 0) {
            if (!final) return 0;
            if (left == 2) {
                Key('O', 'O', LEFT_ALT_PRESSED | SHIFT_PRESSED);
                return 2;
            }
            return left;
        }
        return used + 2;
    }
    if (next == '\x1b') {
        // ESC ESC [ ... : some terminals send ALT+key this way.
        if (left < 3) {
            if (!final) return 0;
            Key(VK_ESCAPE, 27, LEFT_ALT_PRESSED);
            return 2;
        }
        const char third = buffer_[pos + 2];
        if (third == '[' || third == 'O') {
            const std::size_t used = third == '[' ? ParseCsi(pos + 3, LEFT_ALT_PRESSED, final)
                                                  : ParseSs3(pos + 3, LEFT_ALT_PRESSED, final);
            if (used == 0) return final ? left : 0;
            return used + 3;
        }
        Key(VK_ESCAPE, 27, LEFT_ALT_PRESSED);
        return 2;
    }
    const std::size_t used = ParseChar(pos + 1, LEFT_ALT_PRESSED, final);
    if (used == 0) return final ? left : 0;
    return used + 1;
}

std::size_t TInputDecoder::ParseChar(std::size_t pos, std::uint32_t extra, bool final) {
    const unsigned char c = static_cast<unsigned char>(buffer_[pos]);
    if (c < 0x80) {
        switch (c) {
            case 0x0D:
                Key(VK_RETURN, 13, extra);
                break;
            case 0x09:
                Key(VK_TAB, 9, extra);
                break;
            case 0x7F:
                Key(VK_BACK, 8, extra);
                break;
            case 0x1B:
                Key(VK_ESCAPE, 27, extra);
                break;
            case 0x00:
                Key(VK_SPACE, 0, extra | LEFT_CTRL_PRESSED);
                break;
            case 0x1C:
                Key(VK_OEM_5, c, extra | LEFT_CTRL_PRESSED);
                break;
            case 0x1D:
                Key(VK_OEM_6, c, extra | LEFT_CTRL_PRESSED);
                break;
            case 0x1E:
                Key('6', c, extra | LEFT_CTRL_PRESSED | SHIFT_PRESSED);
                break;
            case 0x1F:
                Key(VK_OEM_MINUS, c, extra | LEFT_CTRL_PRESSED | SHIFT_PRESSED);
                break;
            default:
                if (c < 0x20) {
                    Key(static_cast<std::uint16_t>('A' + c - 1), c, extra | LEFT_CTRL_PRESSED);
                } else {
                    const Printable key = PrintableKey(c);
                    Key(key.vk, c, extra | (key.shift ? SHIFT_PRESSED : 0));
                }
        }
        return 1;
    }
    std::size_t len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
    if (len == 1) return 1;  // not a lead byte: skip it
    if (buffer_.size() - pos < len) return final ? buffer_.size() - pos : 0;
    const std::string cp866 = Utf8ToCp866(std::string_view(buffer_).substr(pos, len));
    // A character the code page lacks is a key without a character.
    Key(VK_PACKET, cp866.empty() ? 0 : static_cast<unsigned char>(cp866[0]), extra);
    return len;
}

std::size_t TInputDecoder::ParseCsi(std::size_t pos, std::uint32_t extra, bool final) {
    std::size_t i = pos;
    while (i < buffer_.size()) {
        const unsigned char c = static_cast<unsigned char>(buffer_[i]);
        if (c >= 0x40 && c <= 0x7E) break;
        if (c < 0x20 || c > 0x7E || i - pos > kMaxSequence) {
            // Not a sequence after all: drop what was read.
            return i - pos + (i < buffer_.size() ? 1 : 0);
        }
        ++i;
    }
    if (i >= buffer_.size()) {
        (void) final;
        return 0;
    }
    const std::size_t used = i - pos + 1;
    const std::string body = buffer_.substr(pos, i - pos);
    const char fin = buffer_[i];
    if (!body.empty() && body[0] == '<') {
        if (fin == 'M' || fin == 'm') {
            const std::vector<int> p = SplitParams(body.substr(1));
            if (p.size() >= 3) Mouse(p[0], p[1] - 1, p[2] - 1, fin == 'm');
        }
        return used;
    }
    if (!body.empty() && (body[0] < '0' || body[0] > ';')) return used;  // private: ignore
    const std::vector<int> p = SplitParams(body);
    const std::uint32_t state = extra | (p.size() >= 2 ? ModifierState(p[1]) : 0);
    if (fin == '~') {
        if (p[0] == 200) {
            in_paste_ = true;
            paste_.clear();
            return used;
        }
        const std::uint16_t vk = TildeKey(p[0]);
        if (vk != 0) Key(vk, 0, state);
        return used;
    }
    if (fin == 'Z') {
        Key(VK_TAB, 9, extra | SHIFT_PRESSED);
        return used;
    }
    // "CSI R" with a row is a cursor report, never F3 (which has no row).
    if (fin == 'R' && p[0] > 1) return used;
    const std::uint16_t vk = LetterKey(fin);
    if (vk != 0) Key(vk, 0, state);
    return used;
}

std::size_t TInputDecoder::ParseSs3(std::size_t pos, std::uint32_t extra, bool final) {
    (void) final;
    std::size_t i = pos;
    int modifier = 0;
    while (i < buffer_.size() && buffer_[i] >= '0' && buffer_[i] <= '9' && i - pos < 4) {
        modifier = modifier * 10 + (buffer_[i] - '0');
        ++i;
    }
    if (i >= buffer_.size()) return 0;
    const char fin = buffer_[i];
    const std::uint32_t state = extra | ModifierState(modifier);
    const std::size_t used = i - pos + 1;
    if (const std::uint16_t vk = LetterKey(fin); vk != 0) {
        Key(vk, 0, state);
        return used;
    }
    // Keypad in application mode.
    switch (fin) {
        case 'M':
            Key(VK_RETURN, 13, state);
            break;
        case 'j':
            Key(VK_MULTIPLY, '*', state);
            break;
        case 'k':
            Key(VK_ADD, '+', state);
            break;
        case 'l':
            Key(VK_SEPARATOR, ',', state);
            break;
        case 'm':
            Key(VK_SUBTRACT, '-', state);
            break;
        case 'n':
            Key(VK_DECIMAL, '.', state);
            break;
        case 'o':
            Key(VK_DIVIDE, '/', state);
            break;
        default:
            if (fin >= 'p' && fin <= 'y')
                Key(static_cast<std::uint16_t>(VK_NUMPAD0 + (fin - 'p')),
                    static_cast<unsigned char>('0' + (fin - 'p')), state);
    }
    return used;
}

void TInputDecoder::Mouse(int code, int x, int y, bool release) {
    std::uint32_t state = 0;
    if (code & 4) state |= SHIFT_PRESSED;
    if (code & 8) state |= LEFT_ALT_PRESSED;
    if (code & 16) state |= LEFT_CTRL_PRESSED;
    x = std::clamp(x, 0, 32767);
    y = std::clamp(y, 0, 32767);
    const int button = code & 3;
    if (code & 64) {
        // Wheel: the high word carries the distance, positive away from the user.
        const std::uint32_t delta = button == 0 ? 120u : static_cast<std::uint16_t>(-120);
        events_.push_back(MakeMouseEvent(x, y, (delta << 16) | buttons_, MOUSE_WHEELED, state));
        return;
    }
    static constexpr std::uint32_t kBits[3] = {
        FROM_LEFT_1ST_BUTTON_PRESSED, FROM_LEFT_2ND_BUTTON_PRESSED, RIGHTMOST_BUTTON_PRESSED};
    if (code & 32) {
        if (button < 3) buttons_ |= kBits[button];
        events_.push_back(MakeMouseEvent(x, y, buttons_, MOUSE_MOVED, state));
        return;
    }
    if (button == 3) {
        buttons_ = 0;  // a release that does not say which button
    } else if (release) {
        buttons_ &= ~kBits[button];
    } else {
        buttons_ |= kBits[button];
    }
    events_.push_back(MakeMouseEvent(x, y, buttons_, 0, state));
}

void TInputDecoder::PasteBytes() {
    const std::size_t end = buffer_.find(kPasteEnd);
    // Keep a possible start of the end marker for the next read.
    const std::size_t take = end != std::string::npos
                                 ? end
                                 : buffer_.size() - std::min(buffer_.size(), kPasteEndLength - 1);
    if (!paste_too_long_ && take > kMaxPaste - paste_.size()) {
        paste_too_long_ = true;
        paste_.clear();
        paste_.shrink_to_fit();
    }
    if (!paste_too_long_) paste_.append(buffer_, 0, take);
    if (end == std::string::npos) {
        buffer_.erase(0, take);
        return;
    }
    buffer_.erase(0, end + kPasteEndLength);
    EndPaste();
}

void TInputDecoder::EndPaste() {
    in_paste_ = false;
    if (paste_too_long_) {
        // Refused whole, never cut: the tail of a command could run without
        // its head. The clipboard keeps what it held.
        paste_too_long_ = false;
        MessageBeep(-1);
        return;
    }
    // Clipboard lines are separated by a single CR.
    std::string text;
    text.reserve(paste_.size());
    for (std::size_t i = 0; i < paste_.size(); ++i) {
        const char c = paste_[i];
        if (c == '\n') {
            if (i == 0 || paste_[i - 1] != '\r') text.push_back('\r');
        } else {
            text.push_back(c);
        }
    }
    paste_.clear();
    StoreClipboardText(Utf8ToCp866(text));
    Key(VK_INSERT, 0, SHIFT_PRESSED);
}
