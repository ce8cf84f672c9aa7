#include "ssh/wire/bufaux.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ssh/wire/scoped.h"
#include "ssh/wire/xmalloc.h"
#include "ssh_test_support.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

BignumPtr Number(const char* decimal) {
    BIGNUM* n = nullptr;
    EXPECT_GT(BN_dec2bn(&n, decimal), 0);
    return BignumPtr(n);
}

}  // namespace

class BufauxTest : public SshTest {
  protected:
    void TearDown() override {
        buffer_free(&buffer_);
        SshTest::TearDown();
    }
    std::string Bytes() const { return Hex(buffer_ptr(&buffer_), buffer_len(&buffer_)); }
    Buffer buffer_{};
};

TEST_F(BufauxTest, IntegersAndBytesAreBigEndian) {
    buffer_put_int(&buffer_, 0x01020304);
    buffer_put_char(&buffer_, 0xfe);
    buffer_put_char(&buffer_, 0x1ff);  // only the low byte
    EXPECT_EQ(Bytes(), "01 02 03 04 fe ff");
    EXPECT_EQ(buffer_get_int(&buffer_), 0x01020304u);
    EXPECT_EQ(buffer_get_char(&buffer_), 0xfe);
    EXPECT_EQ(buffer_get_char(&buffer_), 0xff);
    EXPECT_EQ(FatalMessage([&] { buffer_get_int(&buffer_); }),
              "buffer_get: trying to get more bytes than in buffer");
}

TEST_F(BufauxTest, StringsCarryALengthAndComeBackTerminated) {
    buffer_put_cstring(&buffer_, "ab");
    buffer_put_string(&buffer_, "\0x", 2);
    EXPECT_EQ(Bytes(), "00 00 00 02 61 62 00 00 00 02 00 78");
    uint32_t length = 0;
    XmallocPtr<char> first(static_cast<char*>(buffer_get_string(&buffer_, &length)));
    EXPECT_EQ(length, 2u);
    EXPECT_STREQ(first.get(), "ab");
    XmallocPtr<char> second(static_cast<char*>(buffer_get_string(&buffer_, nullptr)));
    EXPECT_EQ(second.get()[1], 'x');
    EXPECT_EQ(second.get()[2], '\0');
}

TEST_F(BufauxTest, StringLengthLimitIs262144) {
    std::string big(262145, 'q');
    buffer_put_string(&buffer_, big.data(), 262144);
    uint32_t length = 0;
    XmallocPtr<char> accepted(static_cast<char*>(buffer_get_string(&buffer_, &length)));
    EXPECT_EQ(length, 262144u);

    buffer_put_string(&buffer_, big.data(), 262145);
    EXPECT_EQ(FatalMessage([&] { buffer_get_string(&buffer_, nullptr); }),
              "Received packet with bad string length 262145");

    // A length that promises more than the buffer holds.
    buffer_clear(&buffer_);
    buffer_put_int(&buffer_, 10);
    buffer_put_char(&buffer_, 'a');
    EXPECT_EQ(FatalMessage([&] { buffer_get_string(&buffer_, nullptr); }),
              "buffer_get: trying to get more bytes than in buffer");
}

// A set top bit gets a zero byte in front; negative numbers are two's
// complement and logged.
TEST_F(BufauxTest, Ssh2BignumEncoding) {
    const char* const rows[][2] = {{"127", "00 00 00 01 7f"},    {"128", "00 00 00 02 00 80"},
                                   {"0", "00 00 00 00"},         {"65535", "00 00 00 03 00 ff ff"},
                                   {"-1", "00 00 00 01 ff"},     {"-129", "00 00 00 02 ff 7f"},
                                   {"-256", "00 00 00 02 ff 00"}};
    for (const auto& [number, bytes] : rows) {
        buffer_clear(&buffer_);
        CaptureStderr();
        buffer_put_bignum2(&buffer_, Number(number).get());
        EXPECT_EQ(GetCapturedStderr(), number[0] == '-' ? "negativ!\r\n" : "") << number;
        EXPECT_EQ(Bytes(), bytes) << number;
    }
}

TEST_F(BufauxTest, Ssh2BignumRoundTrip) {
    BignumPtr big = Number("123456789012345678901234567890123456789012345678901234567890");
    buffer_put_bignum2(&buffer_, big.get());
    BignumPtr back(BN_new());
    int length = buffer_get_bignum2(&buffer_, back.get());
    EXPECT_EQ(length, BN_num_bytes(big.get()) + (BN_num_bits(big.get()) % 8 == 0 ? 1 : 0));
    EXPECT_EQ(BN_cmp(big.get(), back.get()), 0);
    EXPECT_EQ(buffer_len(&buffer_), 0u);
}

TEST_F(BufauxTest, Ssh1BignumEncoding) {
    buffer_put_bignum(&buffer_, Number("1").get());
    EXPECT_EQ(Bytes(), "00 01 01");
    buffer_clear(&buffer_);
    buffer_put_bignum(&buffer_, Number("256").get());
    EXPECT_EQ(Bytes(), "00 09 01 00");

    BignumPtr back(BN_new());
    EXPECT_EQ(buffer_get_bignum(&buffer_, back.get()), 4);
    EXPECT_TRUE(BN_is_word(back.get(), 256));
    EXPECT_EQ(buffer_len(&buffer_), 0u);

    unsigned char truncated[] = {0x00, 0x11, 0x01, 0x02};  // 17 bits need 3 bytes
    buffer_append(&buffer_, truncated, sizeof truncated);
    EXPECT_EQ(FatalMessage([&] { buffer_get_bignum(&buffer_, back.get()); }),
              "buffer_get_bignum: input buffer too small");
}
