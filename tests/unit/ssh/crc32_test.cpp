#include "ssh/wire/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

TEST(Crc32, InitialZeroAndNoFinalInversion) {
    EXPECT_EQ(ssh_crc32(nullptr, 0), 0u);
    // By hand: one byte 0x01 selects table entry 1, which is 0x01 shifted
    // right eight times with 0xEDB88320 folded in at each set low bit:
    // 0x77073096.
    const unsigned char one = 0x01;
    EXPECT_EQ(ssh_crc32(&one, 1), 0x77073096u);
    // 0x80 shifts right seven times without folding, then folds once:
    // 0x01 >> 1 = 0 ^ 0xEDB88320.
    const unsigned char high = 0x80;
    EXPECT_EQ(ssh_crc32(&high, 1), 0xEDB88320u);
}

TEST(Crc32, MatchesZlibWithItsInversionsUndone) {
    // zlib inverts on entry and exit; starting it from all ones and inverting
    // the result gives the same register arithmetic from 0.
    std::string text = "The quick brown fox jumps over the lazy dog";
    for (size_t n = 0; n <= text.size(); n += 7) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        uLong reference = crc32(0xffffffffUL, bytes, static_cast<uInt>(n)) ^ 0xffffffffUL;
        EXPECT_EQ(ssh_crc32(bytes, n), reference) << n;
    }
}
