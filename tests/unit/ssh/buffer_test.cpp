#include "ssh/wire/buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ssh/wire/xmalloc.h"
#include "ssh_test_support.h"

class BufferTest : public SshTest {
  protected:
    void SetUp() override {
        SshTest::SetUp();
        buffer_init(&buffer_);
    }
    void TearDown() override {
        buffer_free(&buffer_);
        SshTest::TearDown();
    }
    Buffer buffer_{};
};

TEST_F(BufferTest, GrowthKeepsASpareByteAndAdds32K) {
    EXPECT_EQ(buffer_.capacity, 4096u);
    std::vector<unsigned char> bytes(4096, 0x5a);
    buffer_append(&buffer_, bytes.data(), 10);
    EXPECT_EQ(buffer_.capacity, 4096u);
    buffer_append(&buffer_, bytes.data(), 4085);  // end 4095: one spare byte left
    EXPECT_EQ(buffer_.capacity, 4096u);
    buffer_append(&buffer_, bytes.data(), 1);
    EXPECT_EQ(buffer_.capacity, 4096u + 1 + 32768);
    EXPECT_EQ(buffer_len(&buffer_), 4096u);

    Buffer fresh{};
    buffer_init(&fresh);
    buffer_append(&fresh, bytes.data(), 4096);
    EXPECT_EQ(fresh.capacity, 40960u);
    EXPECT_EQ(std::memcmp(buffer_ptr(&fresh), bytes.data(), 4096), 0);
    buffer_free(&fresh);
}

TEST_F(BufferTest, CompactsInsteadOfGrowingWhenMoreThanHalfWasRead) {
    std::vector<unsigned char> bytes(4000);
    for (size_t i = 0; i < bytes.size(); i++) bytes[i] = static_cast<unsigned char>(i * 7);
    buffer_append(&buffer_, bytes.data(), 4000);
    buffer_consume(&buffer_, 3000);
    buffer_append(&buffer_, bytes.data(), 200);
    EXPECT_EQ(buffer_.capacity, 4096u);
    EXPECT_EQ(buffer_.read_offset, 0u);
    EXPECT_EQ(buffer_.end_offset, 1200u);
    EXPECT_EQ(std::memcmp(buffer_ptr(&buffer_), bytes.data() + 3000, 1000), 0);
    EXPECT_EQ(std::memcmp(buffer_ptr(&buffer_) + 1000, bytes.data(), 200), 0);

    // A drained buffer restarts at offset zero.
    buffer_consume(&buffer_, 1200);
    buffer_append(&buffer_, bytes.data(), 5);
    EXPECT_EQ(buffer_.read_offset, 0u);
    EXPECT_EQ(buffer_.end_offset, 5u);
}

TEST_F(BufferTest, QueueFilledAndDrainedInTurnsSettles) {
    std::vector<unsigned char> bytes(3000, 1);
    uint32_t settled = 0;
    for (int round = 0; round < 400; round++) {
        buffer_append(&buffer_, bytes.data(), 1000 + (round * 37) % 2000);
        buffer_consume(&buffer_, buffer_len(&buffer_) > 1500 ? buffer_len(&buffer_) - 500 : 0);
        if (round == 100) settled = buffer_.capacity;
        if (round > 100) {
            ASSERT_EQ(buffer_.capacity, settled) << round;
        }
    }
    // At most one growth step beyond the initial storage.
    EXPECT_LE(settled, 4096u + 3000 + 32768);
}

TEST_F(BufferTest, TakingTooMuchIsFatalAndChangesNothing) {
    unsigned char bytes[4] = {1, 2, 3, 4};
    unsigned char out[8];
    buffer_append(&buffer_, bytes, 4);
    EXPECT_EQ(FatalMessage([&] { buffer_get(&buffer_, out, 5); }),
              "buffer_get: trying to get more bytes than in buffer");
    EXPECT_EQ(FatalMessage([&] { buffer_consume(&buffer_, 5); }),
              "buffer_consume: trying to get more bytes than in buffer");
    EXPECT_EQ(FatalMessage([&] { buffer_consume_end(&buffer_, 5); }),
              "buffer_consume_end: trying to get more bytes than in buffer");
    EXPECT_EQ(buffer_len(&buffer_), 4u);
    buffer_consume_end(&buffer_, 1);
    buffer_get(&buffer_, out, 3);
    EXPECT_EQ(Hex(out, 3), "01 02 03");
    EXPECT_EQ(FatalMessage([&] { buffer_append_space(&buffer_, 0xffffffffu); }),
              "buffer_append_space: len 4294967295 not supported");
    EXPECT_EQ(buffer_len(&buffer_), 0u);
}

TEST_F(BufferTest, ZeroBufferIsUsableAndFreeingItTwiceIsHarmless) {
    Buffer zero{};
    EXPECT_EQ(buffer_len(&zero), 0u);
    buffer_append(&zero, "abc", 3);
    EXPECT_EQ(buffer_len(&zero), 3u);
    EXPECT_EQ(std::memcmp(buffer_ptr(&zero), "abc", 3), 0);
    buffer_free(&zero);
    EXPECT_EQ(zero.data, nullptr);
    buffer_free(&zero);
}

using XmallocTest = SshTest;

TEST_F(XmallocTest, FreeingNullIsFatalAndStrdupCopies) {
    EXPECT_EQ(FatalMessage([] { xfree(nullptr); }), "xfree: NULL pointer given as argument");
    char* copy = xstrdup("text");
    EXPECT_STREQ(copy, "text");
    copy = static_cast<char*>(xrealloc(copy, 100));
    EXPECT_STREQ(copy, "text");
    xfree(copy);
    void* grown = xrealloc(nullptr, 10);  // a null block is allocated
    ASSERT_NE(grown, nullptr);
    xfree(grown);
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUENLOR_SANITIZED_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUENLOR_SANITIZED_ALLOCATOR 1
#endif

#ifndef QUENLOR_SANITIZED_ALLOCATOR
TEST_F(XmallocTest, ExhaustionIsFatal) {
    // The sanitizers' allocators abort on such requests instead of failing.
    EXPECT_EQ(FatalMessage([] { xmalloc(SIZE_MAX / 2); }),
              "xmalloc: out of memory (allocating " + std::to_string(SIZE_MAX / 2) + " bytes)");
    void* block = xmalloc(8);
    EXPECT_EQ(FatalMessage([&] { block = xrealloc(block, SIZE_MAX / 2); }),
              "xrealloc: out of memory (new_size " + std::to_string(SIZE_MAX / 2) + " bytes)");
    xfree(block);
}
#endif
