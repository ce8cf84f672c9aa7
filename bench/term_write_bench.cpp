// Host output throughput of the terminal emulator, next to libvterm on the
// same bytes: (a) plain text lines, (b) what vim sent while paging through a
// syntax-highlighted C header (about one control sequence per ten bytes),
// (c) the short lines of `seq`, where every few bytes scroll the screen.
//
// Both sides keep a full 80x25 cell grid. Quenlor's screen is not the shown
// one in the main figures, so nothing is composed for drawing (libvterm has no
// drawing either); the "Shown" variant adds composing and the headless back
// end's differential draw after every block.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "config/host_config.h"
#include "console/headless_console.h"
#include "term/termcap_emulator.h"

#ifdef QUENLOR_HAVE_LIBVTERM
#include <vterm.h>
#endif

namespace {

constexpr size_t kBlock = 32768;  // what a session hands to Write at most

std::string ReadFile(const std::string& name) {
    std::ifstream in(std::string(QUENLOR_TEST_DATA) + "/term/" + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// About 1 MB of printable lines ending in CR LF.
const std::string& PlainText() {
    static const std::string text = [] {
        std::string lines = ReadFile("replay/less_sample.txt"), out;
        std::string crlf;
        for (char c : lines) {
            if (c == '\n') crlf += '\r';
            crlf += c;
        }
        while (out.size() < (1u << 20)) out += crlf;
        return out;
    }();
    return text;
}

const std::string& EscapeHeavy() {
    static const std::string text = [] {
        std::string cap = ReadFile("replay/vim_cons25r.cap"), out;
        while (out.size() < (1u << 20)) out += cap;
        return out;
    }();
    return text;
}

// About 1 MB of `seq 1 N` through a terminal: numbers ending in CR LF.
const std::string& ShortLines() {
    static const std::string text = [] {
        std::string out;
        for (int i = 1; out.size() < (1u << 20); ++i) out += std::to_string(i) + "\r\n";
        return out;
    }();
    return text;
}

void RunQuenlor(benchmark::State& state, const std::string& bytes, bool shown) {
    THeadlessConsole console(80, 25);
    THostConfig host;
    host.SetTermcapFile(std::string(QUENLOR_SOURCE_DIR) + "/etc/termcap");
    host.SetTerminalType("cons25r");
    const int other = console.AddScreen();
    const int screen = console.AddScreen();
    console.SetActiveScreen(shown ? screen : other);
    TTermcapEmulator emulator(&host, screen, &console);
    for (auto _ : state) {
        for (size_t i = 0; i < bytes.size(); i += kBlock) {
            const size_t n = std::min(kBlock, bytes.size() - i);
            emulator.Write(bytes.data() + i, static_cast<int>(n));
        }
        benchmark::DoNotOptimize(console.GetScreen(screen).Cells.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes.size());
}

void BM_QuenlorPlain(benchmark::State& state) {
    RunQuenlor(state, PlainText(), false);
}
void BM_QuenlorEscapes(benchmark::State& state) {
    RunQuenlor(state, EscapeHeavy(), false);
}
void BM_QuenlorPlainShown(benchmark::State& state) {
    RunQuenlor(state, PlainText(), true);
}
void BM_QuenlorEscapesShown(benchmark::State& state) {
    RunQuenlor(state, EscapeHeavy(), true);
}
void BM_QuenlorShortLines(benchmark::State& state) {
    RunQuenlor(state, ShortLines(), false);
}
BENCHMARK(BM_QuenlorPlain);
BENCHMARK(BM_QuenlorShortLines);
BENCHMARK(BM_QuenlorEscapes);
BENCHMARK(BM_QuenlorPlainShown);
BENCHMARK(BM_QuenlorEscapesShown);

#ifdef QUENLOR_HAVE_LIBVTERM
void RunLibvterm(benchmark::State& state, const std::string& bytes) {
    VTerm* vt = vterm_new(25, 80);
    vterm_set_utf8(vt, 0);
    VTermScreen* screen = vterm_obtain_screen(vt);
    vterm_screen_reset(screen, 1);
    for (auto _ : state) {
        for (size_t i = 0; i < bytes.size(); i += kBlock) {
            const size_t n = std::min(kBlock, bytes.size() - i);
            vterm_input_write(vt, bytes.data() + i, n);
        }
        VTermScreenCell cell;
        vterm_screen_get_cell(screen, VTermPos{0, 0}, &cell);
        benchmark::DoNotOptimize(cell);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes.size());
    vterm_free(vt);
}

void BM_LibvtermPlain(benchmark::State& state) {
    RunLibvterm(state, PlainText());
}
void BM_LibvtermEscapes(benchmark::State& state) {
    RunLibvterm(state, EscapeHeavy());
}
void BM_LibvtermShortLines(benchmark::State& state) {
    RunLibvterm(state, ShortLines());
}
BENCHMARK(BM_LibvtermPlain);
BENCHMARK(BM_LibvtermShortLines);
BENCHMARK(BM_LibvtermEscapes);
#endif

}  // namespace

BENCHMARK_MAIN();
