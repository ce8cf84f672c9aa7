#include "term/termcap_emulator.h"

#include <cstring>

#include "config/host_config.h"

namespace {

// Host colour numbers (RGB bit order) to console colours (BGR).
const int kColours[8] = {0, 4, 2, 6, 1, 5, 3, 7};

int Colour(int p) {
    return kColours[p & 7];
}

}  // namespace

TTermcapEmulator::TTermcapEmulator(const THostConfig* host, int screen, TConsole* console)
    : TEmulator(host, screen, console) {
    Termcap.Load(host->GetTermcapFile(), host->GetTerminalType());
    Setup();
}

TTermcapEmulator::TTermcapEmulator(const THostConfig* host, int screen, const TTermcap& termcap,
                                   TConsole* console)
    : TEmulator(host, screen, console), Termcap(termcap) {
    Setup();
}

void TTermcapEmulator::Setup() {
    const TStringDictionary& caps = Termcap.GetCapabilities();
    auto ac = caps.find("ac");
    if (ac != caps.end() && ac->second != "1") AcsTable.Fill(ac->second);
    Matcher.Build(Termcap.GetOutputCaps());
    if (Termcap.GetCapability("bw") == "1") Con->SetReverseWrap(Screen, true);
    if (Termcap.GetCapability("am") == "1") Con->SetAutoWrap(Screen, true);
    Absorb = Termcap.GetCapability("qabsorb") == "1";
    // "xn": the wrap waits for the next character; attribute changes, a
    // column move, CR and the erase at the end of a full row leave it.
    DeferredWrap = Termcap.GetCapability("xn") == "1";
    // ESC M and ESC D are the index controls: they move the cursor and
    // scroll only at the region's edge, unlike the scrolling sequences the
    // console descriptions give for sr and sf.
    ReverseIndex = Termcap.GetCapability("sr") == "\033M";
    Index = Termcap.GetCapability("sf") == "\033D";
}

TTermcapEmulator::~TTermcapEmulator() = default;

void TTermcapEmulator::Write(const char* data, int count) {
    if (count <= 0) return;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
    Con->BeginUpdate(Screen);
    if (PendingLength > 0) {
        Work.assign(Pending, Pending + PendingLength);
        Work.insert(Work.end(), p, p + count);
        PendingLength = 0;
        Interpret(Work.data(), Work.data() + Work.size());
    } else {
        Interpret(p, p + count);
    }
    Con->EndUpdate(Screen);
}

void TTermcapEmulator::Interpret(const unsigned char* p, const unsigned char* end) {
    TCapMatch m;
    while (p < end) {
        if (String != TString::None) {
            p = SkipString(p, end);
            continue;
        }
        unsigned char b = *p;
        if (Utf8In) {
            // Text bytes whatever the description says: a UTF-8 host sends
            // no 8-bit control sequences.
            if (b >= 0x80) {
                PutUtf8Byte(b);
                ++p;
                continue;
            }
            if (Decoder.Interrupt()) Con->PutGlyph(Screen, kInvalidCell);
        }
        const bool absorbable = Absorb && b == 0x1B;
        if (!Matcher.IsPlain(b) || absorbable) {
            TMatchStatus st = Matcher.IsPlain(b) ? TMatchStatus::NoMatch : Matcher.Match(p, end, m);
            if (st == TMatchStatus::Matched) {
                Apply(m);
                p += m.Consumed;
                continue;
            }
            if (st == TMatchStatus::NoMatch && absorbable) {
                const int n = AbsorbedLength(p, end);
                if (n > 0) {
                    p += n;
                    continue;
                }
                if (n < 0) st = TMatchStatus::Incomplete;
            }
            if (st == TMatchStatus::Incomplete) {
                const long rest = end - p;
                if (rest <= kPendingSize) {
                    std::memcpy(Pending, p, rest);
                    PendingLength = static_cast<int>(rest);
                    return;
                }
                // Longer than any sequence we can hold: it is not one. Print
                // its first byte and go on, so nothing is lost and the tail
                // stays bounded.
            }
        }
        PutText(b);
        ++p;
    }
}

void TTermcapEmulator::PutText(unsigned char b) {
    if (AltCharset) {
        b = AcsTable.Translate(b);
    } else if (b >= 0x80) {
        b = Incoming[b];
    }
    if (InsertMode && b >= 0x20) {
        Con->CompletePendingWrap(Screen);
        Con->InsertChars(Screen, 1);
    }
    Con->PutChar(Screen, b);
}

int TTermcapEmulator::AbsorbedLength(const unsigned char* p, const unsigned char* end) {
    const unsigned char* q = p + 1;
    if (q >= end) return -1;
    const unsigned char kind = *q++;
    if (kind == '[') {
        while (q < end && *q >= 0x30 && *q <= 0x3F) ++q;  // parameters
        while (q < end && *q >= 0x20 && *q <= 0x2F) ++q;  // intermediates
        if (q >= end) return -1;
        return *q >= 0x40 && *q <= 0x7E ? static_cast<int>(q + 1 - p) : 0;
    }
    if (kind == ']' || kind == 'P' || kind == '_' || kind == '^' || kind == 'X') {
        String = TString::Body;
        StringLength = 0;
        return 2;
    }
    --q;
    while (q < end && *q >= 0x20 && *q <= 0x2F) ++q;  // ESC ( B, ESC # 8 ...
    if (q >= end) return -1;
    return *q >= 0x30 && *q <= 0x7E ? static_cast<int>(q + 1 - p) : 0;
}

const unsigned char* TTermcapEmulator::SkipString(const unsigned char* p,
                                                  const unsigned char* end) {
    while (p < end) {
        const unsigned char b = *p++;
        if (String == TString::Escape) {
            // ESC \ is the terminator; any other ESC ends the string too, and
            // the byte after it counts as text again.
            String = TString::None;
            return b == '\\' ? p : p - 1;
        }
        // BEL ends an OSC the way most hosts write it; CAN and SUB cancel.
        // A string that never ends is dropped only up to a bound, so stray
        // bytes cannot hide the rest of the session.
        if (b == 0x07 || b == 0x18 || b == 0x1A || ++StringLength > kMaxStringLength) {
            String = TString::None;
            return p;
        }
        if (b == 0x1B) String = TString::Escape;
    }
    return p;
}

int TTermcapEmulator::Clamp(int count) const {
    // Repeating past a screenful changes nothing more on the screen; the
    // bound keeps a huge count from the host from stalling the session.
    const int height = Con->GetScreen(Screen).Height;
    if (count < 0) return 0;
    return count > height ? height : count;
}

void TTermcapEmulator::Apply(const TCapMatch& m) {
    TConsole& c = *Con;
    const int s = Screen;
    const int p1 = m.Params[0];
    const int p2 = m.Params[1];
    switch (m.Effect) {
        case TCapEffect::None:
            break;
        case TCapEffect::ae:
            AltCharset = false;
            break;
        case TCapEffect::as:
            AltCharset = true;
            break;
        case TCapEffect::AL:
            c.InsertLines(s, p1);
            break;
        case TCapEffect::al:
            c.InsertLines(s, 1);
            break;
        case TCapEffect::cb:
            c.ClearToStartOfLine(s);
            break;
        case TCapEffect::cd:
            c.ClearToEndOfScreen(s);
            break;
        case TCapEffect::ce:
            // Past a full row, with the wrap still to come, there is nothing
            // left of the row to erase.
            if (!(DeferredWrap && c.GetScreen(s).WrapPending)) c.ClearToEndOfLine(s);
            break;
        case TCapEffect::ch:
            if (!DeferredWrap) c.CompletePendingWrap(s);
            c.SetCursor(s, p1, c.GetCursorY(s));
            break;
        case TCapEffect::cl:
            c.SetCursor(s, 0, 0);
            c.ClearToEndOfScreen(s);
            break;
        case TCapEffect::cL:
            c.ClearLine(s);
            break;
        case TCapEffect::c0:
            if (p1 == 0) {
                c.ClearToEndOfScreen(s);
            } else if (p1 == 1) {
                c.ClearToStartOfScreen(s);
            } else if (p1 == 2) {
                c.SaveCursor(s);
                c.SetCursor(s, 0, 0);
                c.ClearToEndOfScreen(s);
                c.RestoreCursor(s);
            }
            break;
        case TCapEffect::cm:
            c.SetCursor(s, p2, p1);
            break;
        case TCapEffect::cM:
            c.SetCursor(s, 0, p1);
            break;
        case TCapEffect::cs:
            // Terminals home the cursor here; hosts may rely on it.
            c.SetScrollRegion(s, p1, p2);
            c.SetCursor(s, 0, 0);
            break;
        case TCapEffect::cv:
            c.SetCursor(s, c.GetCursorX(s), p1);
            break;
        case TCapEffect::DC:
            c.DeleteChars(s, p1);
            break;
        case TCapEffect::dc:
            c.DeleteChars(s, 1);
            break;
        case TCapEffect::DL:
            c.DeleteLines(s, p1);
            break;
        case TCapEffect::dl:
            c.DeleteLines(s, 1);
            break;
        case TCapEffect::DO:
            for (int i = Clamp(p1); i > 0; --i) c.PutChar(s, 0x0A);
            break;
        case TCapEffect::do_:
            c.PutChar(s, 0x0A);
            break;
        case TCapEffect::ec:
            c.ClearChars(s, p1);
            break;
        case TCapEffect::ei:
            InsertMode = false;
            break;
        case TCapEffect::im:
            InsertMode = true;
            break;
        case TCapEffect::ho:
            c.SetCursor(s, 0, 0);
            break;
        case TCapEffect::IC:
            c.InsertChars(s, p1);
            break;
        case TCapEffect::ic:
            c.InsertChars(s, 1);
            break;
        case TCapEffect::LE:
            c.MoveCursor(s, -p1, 0);
            break;
        case TCapEffect::le:
            c.MoveCursor(s, -1, 0);
            break;
        case TCapEffect::Q:
            Attributes(m);
            break;
        case TCapEffect::nd:
            c.MoveCursor(s, 1, 0);
            break;
        case TCapEffect::rc:
            c.RestoreCursor(s);
            break;
        case TCapEffect::RI:
            c.MoveCursor(s, p1, 0);
            break;
        case TCapEffect::sc:
            c.SaveCursor(s);
            break;
        case TCapEffect::se:
            c.SetForeground(s, 7);
            c.SetBackground(s, 0);
            break;
        case TCapEffect::sf:
            if (Index) {
                c.PutChar(s, 0x0A);
            } else {
                c.ScrollUp(s);
            }
            break;
        case TCapEffect::SF:
            for (int i = Clamp(p1); i > 0; --i) c.ScrollUp(s);
            break;
        case TCapEffect::so:
            c.SetForeground(s, 0);
            c.SetBackground(s, 7);
            break;
        case TCapEffect::SR:
            c.InsertLines(s, p1);
            break;
        case TCapEffect::sr:
            if (ReverseIndex && c.GetCursorY(s) != c.GetScreen(s).RegionTop) {
                c.MoveCursor(s, 0, -1);
            } else {
                c.InsertLines(s, 1);
            }
            break;
        case TCapEffect::UP:
            c.MoveCursor(s, 0, -p1);
            break;
        case TCapEffect::up:
            c.MoveCursor(s, 0, -1);
            break;
        case TCapEffect::ve:
            c.ResetAttributes(s);
            break;
        case TCapEffect::x0:
            c.ResetAttributes(s);
            break;
        case TCapEffect::x2:
            if (p1 == 0) {
                c.ResetAttributes(s);
            } else if (p1 == 1) {
                c.SetBackground(s, Colour(p2));
            } else if (p1 == 2) {
                c.SetForeground(s, Colour(p2));
            } else if (p1 == 3) {
                c.SetAttribute(s, static_cast<std::uint16_t>(p2));
            }
            break;
    }
}

void TTermcapEmulator::Attributes(const TCapMatch& m) {
    TConsole& c = *Con;
    const int s = Screen;
    if (!DeferredWrap) c.CompletePendingWrap(s);
    if (m.ParamCount == 0) {
        c.ResetAttributes(s);
        return;
    }
    for (int i = 0; i < m.ParamCount; ++i) {
        const int p = m.Params[i];
        switch (p) {
            case 0:
                c.ResetAttributes(s);
                break;
            case 1:
                c.SetBold(s);
                break;
            case 2:
            case 22:
                c.ClearBold(s);
                break;
            case 5:
                c.SetBlink(s);
                break;
            case 7:
                c.SetReverse(s);
                break;
            case 25:
                c.ClearBlink(s);
                break;
            case 27:
                c.ClearReverse(s);
                break;
            case 39:
                c.SetForeground(s, 7);
                break;
            case 49:
                c.SetBackground(s, 0);
                break;
            case 38:
            case 48:
                // An extended colour: its numbers (5;N or 2;R;G;B) are no
                // attributes of their own.
                if (i + 1 < m.ParamCount) i += m.Params[i + 1] == 5 ? 2 : 4;
                break;
            default:
                if (p >= 30 && p <= 37) {
                    c.SetForeground(s, Colour(p - 30));
                } else if (p >= 40 && p <= 47) {
                    c.SetBackground(s, Colour(p - 40));
                } else if (p >= 90 && p <= 97) {
                    // The bright colours: the console's intense foreground.
                    c.SetForeground(s, Colour(p - 90));
                    c.SetBold(s);
                } else if (p >= 100 && p <= 107) {
                    c.SetBackground(s, Colour(p - 100));
                }
                break;
        }
    }
}

void TTermcapEmulator::KeyPressed(INPUT_RECORD record) {
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) return;
    KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    unsigned char ch = static_cast<unsigned char>(key.uChar.AsciiChar);
    // The keypad operators send their characters whatever the layout gives.
    switch (key.wVirtualKeyCode) {
        case VK_MULTIPLY:
            ch = '*';
            break;
        case VK_ADD:
            ch = '+';
            break;
        case VK_SUBTRACT:
            ch = '-';
            break;
        default:
            break;
    }
    const std::string binding = Termcap.FindKeyBinding(key);
    if (!binding.empty()) {
        QueueOutput(binding.data(), static_cast<int>(binding.size()));
        return;
    }
    if (ch == 0) {
        if (const std::string* cap = Termcap.FindKeyCapability(key.wVirtualKeyCode)) {
            QueueOutput(cap->data(), static_cast<int>(cap->size()));
        }
        return;
    }
    QueueTyped(ch);
}
