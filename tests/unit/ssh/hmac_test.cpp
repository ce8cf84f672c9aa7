#include "ssh/transport/hmac.h"

#include <gtest/gtest.h>

#include <string>

#include "ssh/transport/mac_table.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/xmalloc.h"
#include "ssh_test_support.h"

using HmacTest = SshTest;

// Every known answer through both MAC paths: the one-shot hmac() and the
// keyed state, which must restart cleanly for each packet.
TEST_F(HmacTest, KnownAnswersAndTheMissingKey) {
    const auto rows = DataRows("ssh/hmac_vectors");
    EXPECT_EQ(rows.size(), 18u);
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 4u);
        const EVP_MD* md = EVP_get_digestbyname(row[0].c_str());
        const std::string key = HexBytes(row[1]), data = HexBytes(row[2]);
        const auto* k = reinterpret_cast<const unsigned char*>(key.data());
        const auto* d = reinterpret_cast<const unsigned char*>(data.data());
        const auto n = static_cast<uint32_t>(data.size() - 4);
        const size_t size = row[3].size() / 2;
        XmallocPtr<unsigned char> mac(
            hmac(md, get_u32(d), d + 4, n, k, static_cast<uint32_t>(key.size())));
        EXPECT_EQ(HexBytes(row[3]), std::string(reinterpret_cast<char*>(mac.get()), size))
            << row[0] << " " << row[2];
        MacState* state = mac_state_new(md, k, static_cast<uint32_t>(key.size()));
        for (int round = 0; round < 2; round++) {
            unsigned char out[EVP_MAX_MD_SIZE];
            mac_state_compute(state, get_u32(d), d + 4, n, out);
            EXPECT_EQ(HexBytes(row[3]), std::string(reinterpret_cast<char*>(out), size))
                << row[0] << " " << row[2];
        }
        mac_state_free(state);
    }
    // The rows name those digests with the RFC lengths.
    EXPECT_EQ(mac_row_find("hmac-sha2-512-etm@openssh.com")->mac_len, 64u);
    EXPECT_TRUE(mac_row_find("hmac-sha1-etm@openssh.com")->etm);
    EXPECT_FALSE(mac_row_find("hmac-sha2-256")->etm);
    unsigned char data[4] = {};
    EXPECT_EQ(FatalMessage([&] { hmac(EVP_sha1(), 0, data, 4, nullptr, 0); }), "hmac: no key");
}
