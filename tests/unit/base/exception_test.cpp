#include "base/exception.h"

#include <gtest/gtest.h>

#include <string>

TEST(ThrowError, FormatsAndCutsAt1023Characters) {
    try {
        ThrowError("TConsole::AddScreen: %s %d.", "Unable to add new screen", 7);
        FAIL() << "ThrowError returned";
    } catch (const TException& e) {
        EXPECT_STREQ(e.what(), "TConsole::AddScreen: Unable to add new screen 7.");
    }
    std::string longText(5000, 'a');
    try {
        ThrowError("%s", longText.c_str());
    } catch (const TException& e) {
        EXPECT_EQ(e.Message().size(), 1023u);
    }
}
