// Host output in arbitrary blocks through the emulator: the first byte picks
// the description, the next four give the block sizes used in turn.
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "base/exception.h"
#include "term/termcap_emulator.h"
#include "term_fuzz_common.h"

namespace {

// Every kind of template directive, line drawing, and the Quenlor
// capabilities with parameters, next to the shipped console description.
const char kRich[] =
    "rich|a description with every directive:\\\n"
    "\t:am:bw:cm=\\E[%i%d;%dH:ch=\\E|%.:cv=5*\\E=%+ :cs=\\E[%i%d;%dr:\\\n"
    "\t:ce=\\E>%>xyK:cd=\\E<%%J:DO=\\E[%dB:SF=\\E[%dS:UP=\\E[%dA:LE=\\E[%dD:\\\n"
    "\t:RI=\\E[%dC:AL=\\E[%dL:DL=\\E[%dM:IC=\\E[%d@:DC=\\E[%dP:ec=\\E[%dX:\\\n"
    "\t:as=\\E(0:ae=\\E(B:ac=``aaffggjjkkllmmnnooppqqrrssttuuvvwwxxyyzz{{||}}~~:\\\n"
    "\t:so=^N:se=^O:sc=\\E7:rc=\\E8:sf=\\ED:sr=\\EM:ho=\\E[H:cl=\\E[H\\E[J:\\\n"
    "\t:ks=\\E[?%dh:ke=\\E[?%dl:c0=\\E[%dJ:cM=\\E[%d;H:cb=\\E[1K:cL=\\E[2K:\n";

std::string RichFile() {
    static std::string path;
    if (path.empty()) {
        path = "/tmp/quenlor_term_fuzz_rich_" + std::to_string(::getpid());
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fputs(kRich, f);
        std::fclose(f);
    }
    return path;
}

// The descriptions, loaded once: every input gets a fresh emulator built
// from a copy, so no state leaks between inputs. The third drops unmatched
// sequences and control strings ("qabsorb") and defers the wrap.
const TTermcap& Description(int kind) {
    static const TTermcap kinds[3] = {
        [] {
            TTermcap t;
            t.Load(QUENLOR_SOURCE_DIR "/etc/termcap", "cons25r");
            return t;
        }(),
        [] {
            TTermcap t;
            t.Load(RichFile(), "rich");
            return t;
        }(),
        [] {
            TTermcap t;
            t.Load(QUENLOR_SOURCE_DIR "/etc/termcap", "xterm");
            return t;
        }(),
    };
    return kinds[kind];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    THostConfig host;
    const TTermcap& termcap = Description(data[0] % 3);
    size_t sizes[4];
    for (int i = 0; i < 4; ++i) sizes[i] = data[1 + i] == 0 ? 4096 : data[1 + i];
    data += 5;
    size -= 5;

    TFuzzScreen screen;
    TTermcapEmulator emulator(&host, screen.Index(), termcap, &FuzzConsole());
    size_t at = 0;
    for (int block = 0; at < size; ++block) {
        const size_t n = std::min(sizes[block % 4], size - at);
        emulator.Write(reinterpret_cast<const char*>(data + at), static_cast<int>(n));
        at += n;
        if (emulator.GetPendingLength() > TTermcapEmulator::kPendingSize) __builtin_trap();
    }
    const ScreenRecord& s = FuzzConsole().GetScreen(screen.Index());
    if (s.CursorX < 0 || s.CursorX >= s.Width || s.CursorY < 0 || s.CursorY >= s.Height) {
        __builtin_trap();
    }
    return 0;
}
