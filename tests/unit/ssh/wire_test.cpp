#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <set>
#include <string>

#include "../base/case_file.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/buffer.h"
#include "ssh/wire/crc32.h"
#include "ssh/wire/log.h"
#include "ssh/wire/random.h"
#include "ssh/wire/scoped.h"
#include "ssh/wire/xmalloc.h"
#include "ssh_test_support.h"

namespace {

std::string Text(const Buffer* buffer) {
    return std::string(reinterpret_cast<const char*>(buffer_ptr(buffer)), buffer_len(buffer));
}

std::string g_hook_text;
struct HookRaised {};

void Cleanup(void* context) {
    std::fprintf(stderr, "cleanup %s\n", static_cast<char*>(context));
}
char g_first[] = "first";
char g_second[] = "second";

}  // namespace

using WireTest = SshTest;

TEST_F(WireTest, LogLevelsNamesAndLineEnds) {
    EXPECT_EQ(StderrOf([] {
                  log("hello %d", 42);
                  error("bad %s", "thing");
                  verbose("not shown");
                  debug("not shown either");
              }),
              "hello 42\r\nbad thing\r\n");
    log_set_level(SYSLOG_LEVEL_DEBUG);
    EXPECT_EQ(StderrOf([] {
                  debug("detail %s", "x");
                  verbose("more");
              }),
              "debug: detail x\r\nmore\r\n");
    log_set_level(SYSLOG_LEVEL_QUIET);
    EXPECT_EQ(StderrOf([] { error("suppressed"); }), "");
    log_set_level(SYSLOG_LEVEL_ERROR);
    log_set_level(6);
    log_set_level(-1);
    EXPECT_EQ(log_get_level(), SYSLOG_LEVEL_ERROR);

    for (const TCase& c : ReadCases("ssh/log_names")) {
        const auto lookup = c[0] == "level" ? log_level_number : log_facility_number;
        EXPECT_EQ(lookup(c[1].c_str()), Num(c[2])) << c.where;
    }
    EXPECT_EQ(log_level_number(nullptr), -1);
    EXPECT_EQ(log_facility_number(nullptr), -1);
}

TEST_F(WireTest, TextIsTakenLiterallyCutAndRaisedThroughTheHook) {
    EXPECT_EQ(StderrOf([] { log("%s", std::string(2000, 'x').c_str()); }),
              std::string(1023, 'x') + "\r\n");
    EXPECT_EQ(FatalMessage([] { fatal("Remote: %s", "100%s sure %n %d"); }),
              "Remote: 100%s sure %n %d");
    EXPECT_EQ(FatalMessage([] { fatal("%s", std::string(3000, 'y').c_str()); }),
              std::string(1023, 'y'));

    EXPECT_EQ(fatal_set_hook([](const char* text) {
                  g_hook_text = text;
                  throw HookRaised{};
              }),
              RaisingFatalHook);
    EXPECT_THROW(fatal("code %d", 7), HookRaised);
    EXPECT_EQ(g_hook_text, "code 7");
    // A hook that returns must not turn the failure into success.
    fatal_set_hook([](const char*) {});
    EXPECT_EQ(FatalMessage([] { fatal("still fatal"); }), "still fatal");
    fatal_set_hook(nullptr);
    EXPECT_EQ(FatalMessage([] { fatal("no hook"); }), "no hook");
}

TEST_F(WireTest, CleanupsGoByFunctionAndPointerAndRunNewestFirst) {
    fatal_add_cleanup(Cleanup, g_first);
    fatal_add_cleanup(Cleanup, g_second);
    fatal_remove_cleanup(Cleanup, g_first);
    char expected[128];
    std::snprintf(expected, sizeof expected,
                  "fatal_remove_cleanup: no such cleanup function: 0x%lx 0x%lx\n",
                  reinterpret_cast<unsigned long>(Cleanup),
                  reinterpret_cast<unsigned long>(static_cast<void*>(g_first)));
    EXPECT_EQ(FatalMessage([] { fatal_remove_cleanup(Cleanup, g_first); }), expected);
    fatal_remove_cleanup(Cleanup, g_second);

    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            fatal_add_cleanup(Cleanup, g_first);
            fatal_add_cleanup(Cleanup, g_second);
            fatal_cleanup();
        },
        ::testing::ExitedWithCode(255), "cleanup second\ncleanup first\n");
}

// Growth keeps one spare byte and adds 32 KB; more than half read is
// compacted away instead; a drained buffer restarts at offset zero.
TEST_F(WireTest, BufferGrowthCompactionAndBounds) {
    std::string bytes(5000, '\0');
    for (size_t i = 0; i < bytes.size(); i++) bytes[i] = static_cast<char>(i * 7 + i / 256);
    Buffer buffer{}, zero{};
    buffer_init(&buffer);
    EXPECT_EQ(buffer.capacity, 4096u);
    buffer_append(&buffer, bytes.data(), 4095);
    EXPECT_EQ(buffer.capacity, 4096u);
    buffer_append(&buffer, bytes.data() + 4095, 1);
    EXPECT_EQ(buffer.capacity, 4096u + 1 + 32768);
    EXPECT_EQ(Text(&buffer), bytes.substr(0, 4096));
    buffer_free(&buffer);
    buffer_free(&buffer);  // twice is harmless

    buffer_init(&buffer);
    buffer_append(&buffer, bytes.data(), 4000);
    buffer_consume(&buffer, 3000);
    buffer_append(&buffer, bytes.data() + 4000, 200);
    EXPECT_EQ(buffer.capacity, 4096u);
    EXPECT_EQ(buffer.read_offset, 0u);
    EXPECT_EQ(Text(&buffer), bytes.substr(3000, 1200));
    buffer_consume(&buffer, 1200);
    buffer_append(&buffer, "abcde", 5);
    EXPECT_EQ(buffer.read_offset, 0u);
    EXPECT_EQ(buffer.end_offset, 5u);

    unsigned char out[8];
    EXPECT_EQ(FatalMessage([&] { buffer_get(&buffer, out, 6); }),
              "buffer_get: trying to get more bytes than in buffer");
    EXPECT_EQ(FatalMessage([&] { buffer_consume(&buffer, 6); }),
              "buffer_consume: trying to get more bytes than in buffer");
    EXPECT_EQ(FatalMessage([&] { buffer_consume_end(&buffer, 6); }),
              "buffer_consume_end: trying to get more bytes than in buffer");
    buffer_consume_end(&buffer, 1);
    buffer_get(&buffer, out, 4);
    EXPECT_EQ(std::string(out, out + 4), "abcd");
    EXPECT_EQ(FatalMessage([&] { buffer_append_space(&buffer, 0xffffffffu); }),
              "buffer_append_space: len 4294967295 not supported");
    buffer_append(&buffer, bytes.data(), 4096);
    EXPECT_EQ(buffer.capacity, 40960u);
    buffer_free(&buffer);

    buffer_append(&zero, "abc", 3);  // an all-zero buffer is usable
    EXPECT_EQ(Text(&zero), "abc");
    buffer_free(&zero);

    EXPECT_EQ(FatalMessage([] { xfree(nullptr); }), "xfree: NULL pointer given as argument");
    char* copy = static_cast<char*>(xrealloc(xstrdup("text"), 100));
    EXPECT_STREQ(copy, "text");
    xfree(copy);
    xfree(xrealloc(nullptr, 10));
}

TEST_F(WireTest, IntegersAndStringsAreBigEndianWithLengths) {
    Buffer buffer{};
    buffer_put_int(&buffer, 0x01020304);
    buffer_put_char(&buffer, 0xfe);
    buffer_put_char(&buffer, 0x1ff);  // only the low byte
    buffer_put_cstring(&buffer, "ab");
    buffer_put_string(&buffer, "\0x", 2);
    EXPECT_EQ(Hex(Text(&buffer)), "01020304feff000000026162000000020078");
    EXPECT_EQ(buffer_get_int(&buffer), 0x01020304u);
    EXPECT_EQ(buffer_get_char(&buffer), 0xfe);
    EXPECT_EQ(buffer_get_char(&buffer), 0xff);
    uint32_t length = 0;
    XmallocPtr<char> first(static_cast<char*>(buffer_get_string(&buffer, &length)));
    EXPECT_EQ(std::string(first.get(), length + 1), std::string("ab\0", 3));
    XmallocPtr<char> second(static_cast<char*>(buffer_get_string(&buffer, nullptr)));
    EXPECT_EQ(std::string(second.get(), 3), std::string("\0x\0", 3));
    EXPECT_EQ(FatalMessage([&] { buffer_get_int(&buffer); }),
              "buffer_get: trying to get more bytes than in buffer");

    const std::string big(262145, 'q');
    buffer_put_string(&buffer, big.data(), 262144);
    XmallocPtr<char> largest(static_cast<char*>(buffer_get_string(&buffer, &length)));
    EXPECT_EQ(length, 262144u);
    buffer_put_string(&buffer, big.data(), 262145);
    EXPECT_EQ(FatalMessage([&] { buffer_get_string(&buffer, nullptr); }),
              "Received packet with bad string length 262145");
    buffer_clear(&buffer);
    buffer_put_int(&buffer, 10);  // promises more than there is
    buffer_put_char(&buffer, 'a');
    EXPECT_EQ(FatalMessage([&] { buffer_get_string(&buffer, nullptr); }),
              "buffer_get: trying to get more bytes than in buffer");
    buffer_free(&buffer);
}

TEST_F(WireTest, BignumsEncodeAndDecode) {
    for (const TCase& c : ReadCases("ssh/bignums")) {
        SCOPED_TRACE(c.where);
        BIGNUM* parsed = nullptr;
        ASSERT_GT(BN_dec2bn(&parsed, c[1].c_str()), 0);
        BignumPtr number(parsed), back(BN_new());
        const bool two = c[0] == "2";
        Buffer buffer{};
        EXPECT_EQ(StderrOf([&] {
                      if (two) buffer_put_bignum2(&buffer, number.get());
                      if (!two) buffer_put_bignum(&buffer, number.get());
                  }),
                  c[3]);
        EXPECT_EQ(Hex(Text(&buffer)), c[2]);
        if (!BN_is_negative(number.get())) {
            const int length = two ? buffer_get_bignum2(&buffer, back.get())
                                   : buffer_get_bignum(&buffer, back.get());
            EXPECT_EQ(length + (two ? 4 : 0), static_cast<int>(c[2].size() / 2));
            EXPECT_EQ(BN_cmp(number.get(), back.get()), 0);
            EXPECT_EQ(buffer_len(&buffer), 0u);
        }
        buffer_free(&buffer);
    }
    Buffer truncated{};
    buffer_append(&truncated, "\x00\x11\x01\x02", 4);  // 17 bits need 3 bytes
    BignumPtr number(BN_new());
    EXPECT_EQ(FatalMessage([&] { buffer_get_bignum(&truncated, number.get()); }),
              "buffer_get_bignum: input buffer too small");
    buffer_free(&truncated);
}

// The register starts at zero and is not inverted at the end: zlib's result
// from all ones, inverted, is the same arithmetic.
TEST(Crc32, MatchesZlibWithItsInversionsUndone) {
    const std::string text = "\x01\x80 The quick brown fox jumps over the lazy dog";
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t n = 0; n <= text.size(); n++) {
        const uLong reference = crc32(0xffffffffUL, bytes, static_cast<uInt>(n)) ^ 0xffffffffUL;
        EXPECT_EQ(ssh_crc32(bytes, n), reference) << n;
    }
}

TEST_F(WireTest, RandomSourceIsAnRc4KeystreamRekeyedByStirring) {
    for (const TCase& c : ReadCases("ssh/rc4_keystream")) {
        const std::string key = HexBytes(c[0]);
        RandomState state;
        random_state_key(&state, reinterpret_cast<const unsigned char*>(key.data()), key.size());
        std::string stream;
        while (stream.size() * 2 < c[1].size()) {
            const uint32_t word = random_state_word(&state);
            for (int k = 0; k < 4; k++) stream += static_cast<char>(word >> (8 * k));
        }
        EXPECT_EQ(Hex(stream), c[1]) << c.where;
    }
    // 256 draws of 32 bits from four keys: a repeat is vanishingly unlikely
    // unless stirring reproduced a key.
    std::set<uint32_t> words;
    for (int round = 0; round < 4; round++) {
        random_stir();
        for (int n = 0; n < 64; n++) words.insert(random_word());
    }
    EXPECT_GE(words.size(), 255u);
}
