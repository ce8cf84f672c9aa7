#include <gtest/gtest.h>

#include "config/telnet_config.h"
#include "config_test_util.h"

namespace {

TEST(RecodeUtf8, IsAChoiceBesideTheTables) {
    struct {
        const char* text;
        int incoming;
        int outgoing;
    } const cases[] = {
        {"INCOMING_RECODE_TABLE=utf-8\nOUTGOING_RECODE_TABLE=utf-8\n", kRecodeUtf8, kRecodeUtf8},
        {"INCOMING_RECODE_TABLE=utf-8\n", kRecodeUtf8, 1},
        {"OUTGOING_RECODE_TABLE=utf-8\nINCOMING_RECODE_TABLE=alt_koi8r\n", 1, kRecodeUtf8},
    };
    for (const auto& c : cases) {
        auto config = Loaded(c.text);
        EXPECT_EQ(config->GetHost(0).GetIncomingTable(), c.incoming) << c.text;
        EXPECT_EQ(config->GetHost(0).GetOutgoingTable(), c.outgoing) << c.text;
    }
}

TEST(RecodeUtf8, ByteLookupsPassBytesAndOtherSpellingsAreRefused) {
    auto config = NewConfig();
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(config->Recode(kRecodeUtf8, static_cast<unsigned char>(b)), b);
    EXPECT_EQ(ReadError(*config, "INCOMING_RECODE_TABLE=utf8\n"),
              "Config error. Table not found: INCOMING_RECODE_TABLE = utf8.");
}

}  // namespace
