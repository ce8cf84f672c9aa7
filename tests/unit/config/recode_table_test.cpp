// Recode tables in files are checked by tests/data/config/cases/recode_tables.cfgcase;
// here what needs every byte or many tables.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "config/telnet_config.h"
#include "config_test_util.h"

TEST(BuiltInTables, PermutationsAndInverses) {
    auto config = NewConfig();
    std::set<int> koi_to_alt;
    std::set<int> alt_to_koi;
    for (int b = 0x80; b <= 0xFF; ++b) {
        unsigned char byte = static_cast<unsigned char>(b);
        koi_to_alt.insert(config->Recode(0, byte));
        alt_to_koi.insert(config->Recode(1, byte));
        EXPECT_EQ(config->Recode(1, config->Recode(0, byte)), b) << b;
        EXPECT_EQ(config->Recode(0, config->Recode(1, byte)), b) << b;
    }
    EXPECT_EQ(koi_to_alt.size(), 128u);
    EXPECT_EQ(*koi_to_alt.begin(), 0x80);
    EXPECT_EQ(alt_to_koi.size(), 128u);
    EXPECT_EQ(*alt_to_koi.begin(), 0x80);
}

TEST(UserTable, SixtyFourTablesAtMost) {
    std::string text;
    for (int i = 2; i < kMaxTables; ++i)
        text += "DEFINE_RECODE_TABLE t" + std::to_string(i) + "\n01\n";
    auto config = Loaded(text);
    ASSERT_EQ(config->GetTableCount(), kMaxTables);
    EXPECT_EQ(config->Recode(kMaxTables - 1, 0x80), 0x01);
    LineNumber = 0;
    EXPECT_EQ(ReadError(*config, "DEFINE_RECODE_TABLE extra\n02\n"),
              "Config error. Too many recode tables: 'extra' would be number 65, at most 64. "
              "Line number: 1.");
    EXPECT_EQ(config->GetTableCount(), kMaxTables);
    EXPECT_EQ(config->FindTable("extra"), -1);
}
