#include "base/exception.h"

#include <gtest/gtest.h>

#include <string>

TEST(ThrowError, FormatsAndCutsAt1023Characters) {
    try {
        ThrowError("%s %d.%s", "screen", 7, std::string(5000, 'a').c_str());
    } catch (const TException& e) {
        EXPECT_EQ("screen 7." + std::string(1014, 'a'), e.Message());
    }
}
