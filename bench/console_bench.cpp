// Drawing cost of the terminal back end: bytes sent to the terminal and time
// to bring an 80x25 terminal up to date after a full screen change, after a
// one-line scroll, and for a whole redraw. Then the cost of keeping the
// scroll-back: a line scrolled into a full scroll-back of n lines, and a
// snapshot of it for the viewer.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "config/host_config.h"
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
    std::vector<TCell> shown(record.Cells.begin(), record.Cells.end());
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

// Host output scrolls a screen whose scroll-back is already full: the cost of
// one line of text (printed, then a line feed on the bottom row) must not
// grow with the scroll-back's size.
void BM_ScrollIntoFullScrollBack(benchmark::State& state) {
    THostConfig host;
    host.SetMaxScrollSize(static_cast<int>(state.range(0)));
    THeadlessConsole console(W, H);
    const int screen = console.AddScreen();
    console.SetHostConfig(screen, &host);
    console.SetCursor(screen, 0, H - 1);
    const std::string line = LineText(0, false) + "\r\n";
    for (int i = 0; i < state.range(0) + H; ++i) console.WriteText(screen, line.c_str());
    for (auto _ : state) console.WriteText(screen, line.c_str());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
}
BENCHMARK(BM_ScrollIntoFullScrollBack)->ArgName("lines")->Arg(0)->Arg(1000)->Arg(5000);

// Opening the scroll-back viewer: the snapshot of a full scroll-back and the
// screen, oldest line first.
void BM_SnapshotOfFullScrollBack(benchmark::State& state) {
    THostConfig host;
    host.SetMaxScrollSize(static_cast<int>(state.range(0)));
    THeadlessConsole console(W, H);
    const int screen = console.AddScreen();
    console.SetHostConfig(screen, &host);
    console.SetCursor(screen, 0, H - 1);
    // Not a whole number of rounds, so the oldest line is not stored first.
    for (int i = 0; i < state.range(0) * 2 + H + 7; ++i)
        console.WriteText(screen, (LineText(i, false) + "\r\n").c_str());
    int lines = 0;
    for (auto _ : state) {
        std::vector<TCell> block = console.TakeSnapshot(screen, lines);
        benchmark::DoNotOptimize(block.data());
    }
    state.counters["lines"] = lines;
}
BENCHMARK(BM_SnapshotOfFullScrollBack)->ArgName("lines")->Arg(1000)->Arg(5000);

}  // namespace

BENCHMARK_MAIN();
