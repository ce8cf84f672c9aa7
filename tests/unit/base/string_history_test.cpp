#include "base/string_history.h"

#include <gtest/gtest.h>

#include "case_file.h"

TEST(StringHistory, Steps) {
    TStringHistory h;
    for (const TCase& c : ReadCases("base/string_history.cases")) {
        SCOPED_TRACE(c.where);
        const std::vector<std::string> step = Words(c[0]);
        if (step[0] == "add") {
            h.Add(step.at(1));
        } else if (step[0] == "older" || step[0] == "newer") {
            step[0] == "older" ? h.Older() : h.Newer();
        } else if (step[0] == "lock" || step[0] == "unlock") {
            h.SetLocked(step[0] == "lock");
        } else if (step[0] == "clear") {
            h.Clear();
        } else if (step[0] == "copy") {
            const TStringHistory copy(h);
            h = TStringHistory();
            h = copy;
        } else {
            ADD_FAILURE() << "unknown step " << step[0];
        }
        EXPECT_EQ(c[1], h.Current());
        EXPECT_EQ(Num(c[2]), h.Position());
        EXPECT_EQ(Num(c[3]), h.Count());
        EXPECT_EQ(c[4] == "locked", h.IsLocked());
    }
}
