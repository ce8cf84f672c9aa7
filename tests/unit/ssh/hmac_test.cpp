#include "ssh/transport/hmac.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ssh/wire/bufaux.h"
#include "ssh/wire/xmalloc.h"
#include "ssh_test_support.h"

namespace {

struct Rfc2202Case {
    std::string key;
    std::string data;
    const char* md5;
    const char* sha1;
};

// RFC 2202, test cases 1 to 7. `hmac` always starts with the 4-byte sequence
// number, so the first 4 bytes of each data text are passed as that number.
std::vector<Rfc2202Case> Cases() {
    return {
        {std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d", nullptr},
        {std::string(20, '\x0b'), "Hi There", nullptr, "b617318655057264e28bc0b6fb378c8ef146be00"},
        {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738",
         "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {std::string(16, '\xaa'), std::string(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6",
         nullptr},
        {std::string(20, '\xaa'), std::string(50, '\xdd'), nullptr,
         "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12"
                     "\x13\x14\x15\x16\x17\x18\x19",
                     25),
         std::string(50, '\xcd'), "697eaf0aca3a3aea3a75164746ffaa79",
         "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
        {std::string(16, '\x0c'), "Test With Truncation", "56461ef2342edc00f9bab995690efd4c",
         nullptr},
        {std::string(20, '\x0c'), "Test With Truncation", nullptr,
         "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd", "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {std::string(80, '\xaa'),
         "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "6f630fad67cda0ee1fb1f562db3aa53e", "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    };
}

std::string HmacHex(const EVP_MD* md, const Rfc2202Case& c) {
    const auto* data = reinterpret_cast<const unsigned char*>(c.data.data());
    XmallocPtr<unsigned char> mac(hmac(
        md, get_u32(data), data + 4, static_cast<uint32_t>(c.data.size() - 4),
        reinterpret_cast<const unsigned char*>(c.key.data()), static_cast<uint32_t>(c.key.size())));
    std::string hex = Hex(mac.get(), static_cast<size_t>(EVP_MD_get_size(md)));
    hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
    return hex;
}

}  // namespace

using HmacTest = SshTest;

TEST_F(HmacTest, Rfc2202Md5AndSha1AndTheMissingKey) {
    int checked = 0;
    for (const Rfc2202Case& c : Cases()) {
        if (c.md5 != nullptr) {
            EXPECT_EQ(HmacHex(EVP_md5(), c), c.md5) << c.data;
            checked++;
        }
        if (c.sha1 != nullptr) {
            EXPECT_EQ(HmacHex(EVP_sha1(), c), c.sha1) << c.data;
            checked++;
        }
    }
    EXPECT_EQ(checked, 14);

    unsigned char data[4] = {};
    EXPECT_EQ(FatalMessage([&] { hmac(EVP_sha1(), 0, data, 4, nullptr, 0); }), "hmac: no key");
}
