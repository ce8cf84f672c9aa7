#include "term/emulator.h"

#include <cstring>

#include "config/host_config.h"
#include "config/telnet_config.h"
#include "platform/cp866.h"
#include "term/char_width.h"

TEmulator::TEmulator(const THostConfig* host, int screen, TConsole* console)
    : Host(host), Screen(screen), Con(console) {
    const int in = host ? host->GetIncomingTable() : -1;
    const int out = host ? host->GetOutgoingTable() : -1;
    for (int b = 0; b < 256; ++b) {
        Incoming[b] = Config.Recode(in, static_cast<unsigned char>(b));
        Outgoing[b] = Config.Recode(out, static_cast<unsigned char>(b));
    }
    Utf8In = in == kRecodeUtf8;
    Utf8Out = out == kRecodeUtf8;
}

TEmulator::~TEmulator() = default;

void TEmulator::Write(const char* data, int count) {
    if (count <= 0) return;
    Con->BeginUpdate(Screen);
    for (int i = 0; i < count; ++i) {
        const unsigned char b = static_cast<unsigned char>(data[i]);
        if (Utf8In && b >= 0x80) {
            PutUtf8Byte(b);
            continue;
        }
        if (Utf8In && Decoder.Interrupt()) Con->PutGlyph(Screen, kInvalidCell);
        Con->PutChar(Screen, b);
    }
    Con->EndUpdate(Screen);
}

void TEmulator::PutUtf8Byte(unsigned char b) {
    char32_t codes[2];
    const int n = Decoder.Feed(b, codes);
    for (int i = 0; i < n; ++i) {
        if (codes[i] == TUtf8Decoder::kInvalid) {
            Con->PutGlyph(Screen, kInvalidCell);
        } else {
            PutCode(codes[i]);
        }
    }
}

void TEmulator::PutCode(char32_t code) {
    // C1 controls: no terminal this emulates acts on them in UTF-8.
    if (code < 0xA0) return;
    const int width = CharWidth(code);
    if (width == 0) return;
    const int cell = Cp866GlyphCell(code);
    if (cell >= 0) {
        Con->PutGlyph(Screen, static_cast<unsigned char>(cell));
    } else if (width == 2) {
        Con->PutWideGlyph(Screen, kMissingCell);
    } else {
        Con->PutGlyph(Screen, kMissingCell);
    }
}

std::string TEmulator::RecodeOutgoingText(std::string_view text) const {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.push_back(c);
        } else if (Utf8Out) {
            AppendUtf8(out, Cp866ToUnicode(b));
        } else {
            out.push_back(static_cast<char>(Outgoing[b]));
        }
    }
    return out;
}

void TEmulator::QueueTyped(unsigned char c) {
    const char byte = static_cast<char>(c);
    const std::string out = RecodeOutgoingText(std::string_view(&byte, 1));
    QueueOutput(out.data(), static_cast<int>(out.size()));
}

int TEmulator::GetOutput(char* buffer, int maximum) {
    int n = OutLength - OutRead;
    if (maximum < n) n = maximum;
    if (n <= 0) return 0;
    std::memcpy(buffer, OutData.data() + OutRead, n);
    OutRead += n;
    if (OutRead >= OutLength) {
        OutData.clear();
        OutData.shrink_to_fit();
        OutCapacity = OutLength = OutRead = 0;
    }
    return n;
}

void TEmulator::KeyPressed(INPUT_RECORD record) {
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) return;
    char c = record.Event.KeyEvent.uChar.AsciiChar;
    QueueOutput(&c, 1);
}

unsigned char TEmulator::RecodeIncoming(unsigned char b) {
    return Incoming[b];
}

unsigned char TEmulator::RecodeOutgoing(unsigned char b) {
    return Outgoing[b];
}

void TEmulator::QueueOutput(const char* data, int count) {
    if (count <= 0) return;
    if (OutCapacity <= OutLength + count) {
        OutCapacity = OutLength + count + 1024;
        OutData.resize(OutCapacity);
    }
    std::memcpy(OutData.data() + OutLength, data, count);
    OutLength += count;
}
