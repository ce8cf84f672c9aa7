// REKEY_LIMIT: sizes with units, the optional time, the turned-off limits,
// refusals, and the key in host blocks inheriting from "default".
#include <gtest/gtest.h>

#include "base/exception.h"
#include "config/decode_rekey_limit.h"
#include "config_test_util.h"

namespace {

TEST(RekeyLimit, Values) {
    struct Case {
        const char* text;
        uint64_t bytes;
        int64_t seconds;  // 3600 when the text gives none
    } cases[] = {
        {"1G", uint64_t{1} << 30, 3600},      {"256K", 256 * 1024, 3600},
        {"500m 30m", 500u << 20, 1800},       {"16384 1h", 16384, 3600},
        {" 2G   90 ", uint64_t{2} << 30, 90}, {"0 0", 0, 0},  // both off
        {"64k 45s", 64 * 1024, 45},           {"1024G", uint64_t{1} << 40, 3600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        THostConfig host;
        DecodeRekeyLimit(c.text, host);
        EXPECT_EQ(c.bytes, host.GetRekeyBytes());
        EXPECT_EQ(c.seconds, host.GetRekeySeconds());
    }
}

TEST(RekeyLimit, Refusals) {
    for (const char* text : {"", "1X", "-1G", "+1G", "01G", "16383", "1K", "1G 1d", "1G 5 6", "1GG",
                             "G", "99999999999999999G", "1G x"}) {
        SCOPED_TRACE(text);
        THostConfig host;
        std::string message = "(no error)";
        try {
            DecodeRekeyLimit(text, host);
        } catch (const TException& e) {
            message = e.Message();
        }
        EXPECT_EQ(std::string("Config error. Bad value for option REKEY_LIMIT: ") + text + ".",
                  message);
        EXPECT_EQ(uint64_t{1} << 30, host.GetRekeyBytes());
    }
}

TEST(RekeyLimit, DefaultsAndHostBlocks) {
    auto config = Loaded(
        "REKEY_LIMIT=512M 10m\n"
        "DEFINE_HOST slow {\n"
        "REKEY_LIMIT=256K\n"
        "}\n");
    EXPECT_EQ(uint64_t{512} << 20, config->GetHost(0).GetRekeyBytes());
    EXPECT_EQ(600, config->GetHost(0).GetRekeySeconds());
    // The block starts from "default" and changes only the size.
    EXPECT_EQ(uint64_t{256} << 10, config->GetHost(1).GetRekeyBytes());
    EXPECT_EQ(600, config->GetHost(1).GetRekeySeconds());
    THostConfig fresh;
    EXPECT_EQ(uint64_t{1} << 30, fresh.GetRekeyBytes());
    EXPECT_EQ(3600, fresh.GetRekeySeconds());
}

}  // namespace
