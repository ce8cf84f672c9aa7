#include "base/exception.h"

#include <gtest/gtest.h>

#include <string>

TEST(ThrowError, FormatsAndCutsAt1023Characters) {
    try {
        ThrowError("TConsole::AddScreen: %s %d.", "Unable to add new screen", 7);
    } catch (const TException& e) {
        EXPECT_STREQ("TConsole::AddScreen: Unable to add new screen 7.", e.what());
    }
    try {
        ThrowError("%s", std::string(5000, 'a').c_str());
    } catch (const TException& e) {
        EXPECT_EQ(std::string(1023, 'a'), e.Message());
    }
}
