// Drawing cost of the terminal back end: bytes sent to the terminal and time
// to bring an 80x25 terminal up to date after a full screen change, after a
// one-line scroll, and for a whole redraw.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "console/headless_console.h"
#include "console/screen_painter.h"

namespace {

constexpr int W = 80, H = 25;

std::vector<TCell> Pattern(int seed) {
    std::vector<TCell> cells(W * H);
    for (int i = 0; i < W * H; ++i) {
        const int v = i + seed * 7;
        // Mixed ASCII and CP866 letters, a colour change every 16 cells.
        const unsigned char c = (v % 5 == 0) ? static_cast<unsigned char>(0x80 + v % 32)
                                             : static_cast<unsigned char>('a' + v % 26);
        cells[i] = TCell{c, 0, static_cast<std::uint16_t>(((v / 16) + seed) % 7 + 1)};
    }
    return cells;
}

void BM_FullScreenChange(benchmark::State& state) {
    const std::vector<TCell> a = Pattern(0), b = Pattern(1);
    std::vector<TCell> shown = a;
    TScreenPainter painter;
    std::string out;
    std::size_t bytes = 0;
    bool flip = false;
    for (auto _ : state) {
        out.clear();
        painter.Paint(out, flip ? a.data() : b.data(), shown.data(), W, H, false);
        flip = !flip;
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_FullScreenChange);

void BM_WholeRedraw(benchmark::State& state) {
    const std::vector<TCell> a = Pattern(0);
    std::vector<TCell> shown = a;
    TScreenPainter painter;
    std::string out;
    for (auto _ : state) {
        out.clear();
        painter.Reset();
        painter.Paint(out, a.data(), shown.data(), W, H, true);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes"] = static_cast<double>(out.size());
}
BENCHMARK(BM_WholeRedraw);

// Text of a line: with `distinct`, rows share no columns (the worst case for
// a scroll); without, lines look alike as in a log (the usual case).
std::string LineText(int n, bool distinct) {
    if (!distinct) return "line " + std::to_string(n) + ": the quick brown fox jumps over";
    std::string text;
    unsigned v = static_cast<unsigned>(n) * 2654435761u;
    for (int i = 0; i < 70; ++i) {
        v = v * 1103515245u + 12345u;
        text.push_back(static_cast<char>('!' + (v >> 16) % 90));
    }
    return text;
}

// A session's screen full of text gets one more line at the bottom: the
// console scrolls, and the difference to what the terminal shows is sent.
void BM_OneLineScroll(benchmark::State& state) {
    const bool distinct = state.range(0) != 0;
    THeadlessConsole console(W, H);
    const int screen = console.AddScreen();
    console.SetAutoWrap(screen, true);
    for (int y = 0; y < H; ++y) console.WriteText(screen, (LineText(y, distinct) + "\r\n").c_str());
    ScreenRecord record;
    console.SaveScreen(screen, record);
    std::vector<TCell> shown = record.Cells;
    TScreenPainter painter;
    std::string out;
    std::size_t bytes = 0;
    int n = 0;
    for (auto _ : state) {
        const std::string line = LineText(H + n++, distinct) + "\r\n";
        console.WriteText(screen, line.c_str());
        console.SaveScreen(screen, record);  // stands in for ComposeScreen's copy
        out.clear();
        painter.Paint(out, record.Cells.data(), shown.data(), W, H, false);
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_OneLineScroll)->ArgName("distinct")->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
