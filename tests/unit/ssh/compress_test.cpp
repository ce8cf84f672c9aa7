#include "ssh/transport/compress.h"

#include <gtest/gtest.h>

#include <string>

#include "ssh/transport/packet.h"
#include "ssh_test_support.h"

namespace {

std::string Text(const Buffer* buffer) {
    return std::string(reinterpret_cast<const char*>(buffer_ptr(buffer)), buffer_len(buffer));
}

void Put(Buffer* buffer, const std::string& text) {
    buffer_append(buffer, text.data(), static_cast<uint32_t>(text.size()));
}

std::string Noise(size_t n) {
    std::string text(n, '\0');
    unsigned seed = 7;
    for (char& ch : text) {
        seed = seed * 1103515245u + 12345u;
        ch = static_cast<char>(seed >> 16);
    }
    return text;
}

}  // namespace

class CompressTest : public SshTest {
  protected:
    void SetUp() override {
        SshTest::SetUp();
        buffer_compress_init(&sender_, 6);
        buffer_compress_init(&receiver_, 6);
    }
    void TearDown() override {
        buffer_compress_uninit(&sender_);
        buffer_compress_uninit(&receiver_);
        for (Buffer* b : {&in_, &wire_, &out_}) buffer_free(b);
        SshTest::TearDown();
    }
    // Compresses text as one packet and decompresses it on the other side.
    std::string RoundTrip(const std::string& text) {
        buffer_clear(&in_);
        buffer_clear(&wire_);
        buffer_clear(&out_);
        Put(&in_, text);
        buffer_compress(&sender_, &in_, &wire_);
        EXPECT_EQ(buffer_len(&in_), text.size());  // input not consumed
        buffer_uncompress(&receiver_, &wire_, &out_);
        return Text(&out_);
    }
    PacketContext sender_{}, receiver_{};
    Buffer in_{}, wire_{}, out_{};
};

TEST_F(CompressTest, EachPacketDecompressesOnArrival) {
    // No packet waits for the next one: partial flush after each.
    for (const std::string text : {"ls -l\r", "hello hello hello hello", "x", "ls -l\r"})
        EXPECT_EQ(RoundTrip(text), text);
    // The dictionary carries over: a repeat costs less than the first time.
    std::string line = "The quick brown fox jumps over the lazy dog again and again.";
    RoundTrip(line);
    uint32_t first = buffer_len(&wire_);
    RoundTrip(line);
    EXPECT_LT(buffer_len(&wire_), first);
    // Empty input appends nothing.
    buffer_clear(&in_);
    buffer_clear(&wire_);
    buffer_compress(&sender_, &in_, &wire_);
    EXPECT_EQ(buffer_len(&wire_), 0u);
}

TEST_F(CompressTest, OutputLargerThanOneStepArrivesInOrder) {
    std::string noise = Noise(20000);  // incompressible: several 4096-byte steps
    EXPECT_EQ(RoundTrip(noise), noise);
    EXPECT_GT(buffer_len(&wire_), 4096u * 4);
}

TEST_F(CompressTest, InflatingBeyondTheLimitIsFatal) {
    std::string zeros(kMaxUncompressedLength + 1, '\0');
    buffer_clear(&in_);
    Put(&in_, zeros);
    buffer_compress(&sender_, &in_, &wire_);
    EXPECT_LT(buffer_len(&wire_), 4096u);
    EXPECT_EQ(FatalMessage([&] { buffer_uncompress(&receiver_, &wire_, &out_); }),
              "buffer_uncompress: uncompressed packet longer than 263168 bytes");
}

TEST_F(CompressTest, CorruptInputIsFatal) {
    Put(&wire_, "\xff\xff\xff\xff garbage");
    EXPECT_EQ(FatalMessage([&] { buffer_uncompress(&receiver_, &wire_, &out_); }),
              "buffer_uncompress: inflate returned -3");
}

using CompressSetupTest = SshTest;

TEST_F(CompressSetupTest, LevelIsCheckedAfterItIsLogged) {
    log_set_level(SYSLOG_LEVEL_DEBUG);
    PacketContext context{};
    for (int level : {0, 10}) {
        std::string message;
        EXPECT_EQ(StderrOf([&] {
                      message = FatalMessage([&] { buffer_compress_init(&context, level); });
                  }),
                  "debug: Enabling compression at level " + std::to_string(level) + ".\r\n");
        EXPECT_EQ(message, "Bad compression level " + std::to_string(level) + ".");
    }
    // The highest level is still taken.
    buffer_compress_init(&context, 9);
    buffer_compress_uninit(&context);
}

TEST_F(CompressSetupTest, UnstartedStreamsFailOnFirstUse) {
    PacketContext context{};
    Buffer in{}, out{};
    buffer_append(&in, "abc", 3);
    EXPECT_EQ(FatalMessage([&] { buffer_compress(&context, &in, &out); }),
              "buffer_compress: deflate returned -2");
    EXPECT_EQ(FatalMessage([&] { buffer_uncompress(&context, &in, &out); }),
              "buffer_uncompress: inflate returned -2");
    buffer_free(&in);
    buffer_free(&out);
}

TEST_F(CompressSetupTest, StatisticsWithoutTrafficReportFactorZero) {
    log_set_level(SYSLOG_LEVEL_DEBUG);
    PacketContext context{};
    buffer_compress_init(&context, 1);
    EXPECT_EQ(StderrOf([&] { buffer_compress_uninit(&context); }),
              "debug: compress outgoing: raw data 0, compressed 0, factor 0.00\r\n"
              "debug: compress incoming: raw data 0, compressed 0, factor 0.00\r\n");
}
