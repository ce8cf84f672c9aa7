// Arbitrary termcap files: loading either succeeds or raises TException;
// a description that loads then interprets the same bytes as host output.
#include <unistd.h>

#include <cstdio>

#include "base/exception.h"
#include "term/cap_matcher.h"
#include "term/termcap_emulator.h"
#include "term_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/quenlor_termcap_fuzz_" + std::to_string(::getpid());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    // The first line's first name is the type looked up, so that entries
    // are found often; a name with pattern characters is fine too.
    std::string type;
    for (size_t i = 0; i < size && i < 64 && data[i] != '|' && data[i] != ':' && data[i] != '\n';
         ++i) {
        type += static_cast<char>(data[i]);
    }

    // The indexes of the capability matcher must agree with trying every
    // template in table order, on this description and these bytes.
    try {
        TTermcap termcap;
        termcap.Load(path, type);
        TCapMatcher matcher;
        matcher.Build(termcap.GetOutputCaps());
        const unsigned char* end = data + size;
        for (const unsigned char* p = data; p < end && p < data + 512; ++p) {
            TCapMatch a, b;
            TMatchStatus sa = matcher.Match(p, end, a);
            if (sa != matcher.MatchExhaustive(p, end, b)) __builtin_trap();
            if (sa == TMatchStatus::Matched && (a.Record != b.Record || a.Consumed != b.Consumed ||
                                                a.ParamCount != b.ParamCount)) {
                __builtin_trap();
            }
        }
    } catch (const TException&) {
    }

    THostConfig host;
    host.SetTermcapFile(path);
    host.SetTerminalType(type);
    TFuzzScreen screen;
    try {
        TTermcapEmulator emulator(&host, screen.Index(), &FuzzConsole());
        emulator.Write(reinterpret_cast<const char*>(data), static_cast<int>(size));
        emulator.KeyPressed(MakeKeyEvent(true, VK_F1, 0, SHIFT_PRESSED));
        char out[64];
        while (emulator.GetOutput(out, sizeof out) > 0) {
        }
    } catch (const TException&) {
    }
    return 0;
}
