// Tests that run threads; CI runs this executable under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/exception.h"
#include "ssh/log.h"
#include "ssh/random.h"

TEST(RandomThreads, TwoThreadsDrawWithoutRacing) {
    constexpr int kDraws = 50000;
    std::vector<uint32_t> a(kDraws), b(kDraws);
    std::thread first([&] {
        for (uint32_t& word : a) word = random_word();
    });
    std::thread second([&] {
        for (uint32_t& word : b) word = random_word();
        random_stir();
    });
    first.join();
    second.join();
    // Under a race the shared state would be corrupted or handed out twice;
    // 100000 RC4 words should hold only a handful of chance repeats.
    std::set<uint32_t> distinct(a.begin(), a.end());
    distinct.insert(b.begin(), b.end());
    EXPECT_GT(distinct.size(), 2u * kDraws - 50);
}

namespace {
struct FirstThreadFailure {
    std::string text;
};
void FirstThreadHook(const char* text) {
    throw FirstThreadFailure{text};
}
}  // namespace

TEST(FatalHookThreads, EachThreadHasItsOwnHook) {
    std::string seen_first, seen_second;
    std::thread first([&] {
        fatal_set_hook(FirstThreadHook);
        try {
            fatal("first %d", 1);
        } catch (const FirstThreadFailure& failure) {
            seen_first = failure.text;
        }
    });
    first.join();
    std::thread second([&] {
        // No hook installed here: the plain TException path.
        try {
            fatal("second %d", 2);
        } catch (const TException& e) {
            seen_second = e.Message();
        }
    });
    second.join();
    EXPECT_EQ(seen_first, "first 1");
    EXPECT_EQ(seen_second, "second 2");
}
