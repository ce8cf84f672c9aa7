#include <gtest/gtest.h>

#include <set>
#include <string>

#include "config/telnet_config.h"
#include "config_test_util.h"

namespace {

// 0x80 + i for i in 0..count-1, as "%02x" words, `per_line` to a line.
std::string TableLines(int count, int per_line) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        char word[8];
        std::snprintf(word, sizeof word, "%02x", (0x80 + i) & 0xFF);
        text += word;
        bool end_of_line = (i + 1) % per_line == 0 || i + 1 == count;
        text += end_of_line ? (i + 1 == count ? "\n" : " \\\n") : " ";
    }
    return text;
}

}  // namespace

TEST(BuiltInTables, PermutationsInversesAndKnownCharacters) {
    auto config = NewConfig();
    std::set<int> koi_to_alt;
    std::set<int> alt_to_koi;
    for (int b = 0; b <= 0xFF; ++b) {
        unsigned char byte = static_cast<unsigned char>(b);
        if (b < 0x80) {  // low bytes pass unchanged
            EXPECT_EQ(config->Recode(0, byte), b);
            EXPECT_EQ(config->Recode(1, byte), b);
            continue;
        }
        koi_to_alt.insert(config->Recode(0, byte));
        alt_to_koi.insert(config->Recode(1, byte));
        EXPECT_EQ(config->Recode(1, config->Recode(0, byte)), b) << b;
        EXPECT_EQ(config->Recode(0, config->Recode(1, byte)), b) << b;
    }
    EXPECT_EQ(koi_to_alt.size(), 128u);
    EXPECT_EQ(*koi_to_alt.begin(), 0x80);
    EXPECT_EQ(alt_to_koi.size(), 128u);
    EXPECT_EQ(*alt_to_koi.begin(), 0x80);
    // Bad table indexes pass bytes unchanged.
    EXPECT_EQ(config->Recode(2, 0xC1), 0xC1);
    EXPECT_EQ(config->Recode(-1, 0xC1), 0xC1);

    // {KOI8-R, CP866}: small a, capital A, capital ZE, small and capital IO,
    // box horizontal, no-break space, degree, middle dot, bullet, square root,
    // then the eight characters neither side has, paired with each other.
    const int pairs[][2] = {{0xC1, 0xA0}, {0xE1, 0x80}, {0xFA, 0x87}, {0xA3, 0xF1}, {0xB3, 0xF0},
                            {0x80, 0xC4}, {0x9A, 0xFF}, {0x9C, 0xF8}, {0x9E, 0xFA}, {0x95, 0xF9},
                            {0x96, 0xFB}, {0x93, 0xF4}, {0x97, 0xF7}, {0x98, 0xF3}, {0x99, 0xF2},
                            {0x9B, 0xF5}, {0x9D, 0xFD}, {0x9F, 0xF6}, {0xBF, 0xFC}};
    for (const auto& p : pairs) {
        EXPECT_EQ(config->Recode(0, p[0]), p[1]) << std::hex << p[0];
        EXPECT_EQ(config->Recode(1, p[1]), p[0]) << std::hex << p[1];
    }
}

TEST(UserTable, ContinuationAndBlankLines) {
    auto config = Loaded(
        "DEFINE_RECODE_TABLE = mine trailing words are ignored\n"
        "80 81 \\\n"
        "\n"
        "\n"
        "\t0x82   0X83 1FF\t\\   \n"
        "84\n"
        "USER=after\n"
        "INCOMING_RECODE_TABLE=mine\n");
    ASSERT_EQ(config->GetTableCount(), 3);
    EXPECT_STREQ(config->GetTable(2).Name, "mine");
    const unsigned char expected[] = {0x80, 0x81, 0x82, 0x83, 0xFF, 0x84};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(config->Recode(2, 0x80 + i), expected[i]) << i;
    for (int b = 0x86; b <= 0xFF; ++b) EXPECT_EQ(config->Recode(2, b), 0x00) << b;
    for (int b = 0; b < 0x80; ++b) EXPECT_EQ(config->Recode(2, b), b);
    EXPECT_EQ(config->GetHost(0).GetUser(), "after");
    EXPECT_EQ(config->GetHost(0).GetIncomingTable(), 2);
}

TEST(UserTable, SixtyFourValuesLeaveTheRestZero) {
    auto config = Loaded("DEFINE_RECODE_TABLE half\n" + TableLines(64, 16) +
                         "DEFINE_HOST h {\n  OUTGOING_RECODE_TABLE=half\n}\n");
    for (int b = 0x80; b < 0xC0; ++b) EXPECT_EQ(config->Recode(2, b), b);
    for (int b = 0xC0; b <= 0xFF; ++b) EXPECT_EQ(config->Recode(2, b), 0x00);
    EXPECT_EQ(config->GetHost(1).GetOutgoingTable(), 2);
    EXPECT_EQ(config->GetHost(0).GetOutgoingTable(), 1);
}

TEST(UserTable, FullTableAndHiddenDuplicateName) {
    auto config =
        Loaded("DEFINE_RECODE_TABLE same\n" + TableLines(128, 16) +
               "DEFINE_RECODE_TABLE same\n\n7f\n" + "DEFINE_RECODE_TABLE koi8r_alt\n00\n");
    ASSERT_EQ(config->GetTableCount(), 5);
    for (int b = 0x80; b <= 0xFF; ++b) EXPECT_EQ(config->Recode(2, b), b);
    // An empty first data line is skipped like any empty data line.
    EXPECT_EQ(config->Recode(3, 0x80), 0x7F);
    EXPECT_EQ(config->FindTable("same"), 2);
    EXPECT_EQ(config->FindTable("koi8r_alt"), 0);
    EXPECT_EQ(config->FindTable("Same"), -1);
}

TEST(UserTable, Errors) {
    LineNumber = 0;
    const std::string name63(63, 'n');
    struct Case {
        std::string text;
        std::string message;
    } cases[] = {
        {"DEFINE_RECODE_TABLE t\n" + TableLines(128, 16) + "\n",  // lines 1-10
         ""},
        {"DEFINE_RECODE_TABLE t\n" + TableLines(129, 16),  // lines 11-20
         "Config error. More than 128 values in recode table 't'. Line number: 20."},
        {"DEFINE_RECODE_TABLE t\n80 zz\n",  // lines 21-22
         "Config error. Bad hexadecimal value in recode table 't': zz. Line number: 22."},
        {"DEFINE_RECODE_TABLE t\n0x\n",
         "Config error. Bad hexadecimal value in recode table "
         "'t': 0x. Line number: 24."},
        {"DEFINE_RECODE_TABLE t\n-1\n",
         "Config error. Bad hexadecimal value in recode table "
         "'t': -1. Line number: 26."},
        {"DEFINE_RECODE_TABLE t\n12g\n",
         "Config error. Bad hexadecimal value in recode table "
         "'t': 12g. Line number: 28."},
        // End of file where a data line is still expected never waits.
        {"DEFINE_RECODE_TABLE t\n80 81 \\\n\n",
         "Config error. End of file in the data of recode table 't'."},
        {"DEFINE_RECODE_TABLE t\n", "Config error. End of file in the data of recode table 't'."},
        {"DEFINE_RECODE_TABLE\n", "Config error. Recode table name missing. Line number: 33."},
        {"DEFINE_RECODE_TABLE " + name63 + "x\n00\n",
         "Config error. Recode table name longer than 63 characters: " + name63 +
             "x. Line number: 34."},
    };
    for (const Case& c : cases) {
        auto config = NewConfig();
        EXPECT_EQ(ReadError(*config, c.text), c.message) << c.text;
        // A refused table is never added.
        EXPECT_EQ(config->GetTableCount(), c.message.empty() ? 3 : 2) << c.text;
    }

    auto config = Loaded("DEFINE_RECODE_TABLE " + name63 + "\n00\n");
    EXPECT_EQ(config->FindTable(name63), 2);
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
