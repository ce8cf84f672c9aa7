// Private key files others can read are refused before they are read.
#include <sys/stat.h>

#include "base/exception.h"
#include "hostkeys_test_support.h"
#include "ssh/keys/key_file_mode.h"

using namespace hostkeys_test;

namespace {

TEST(KeyFileMode, OnlyTheOwnerMayHaveAccess) {
    TempDir dir;
    const std::string key = dir / "id_dsa";
    WriteFile(key, "not read here");
    struct Case {
        mode_t mode;
        bool refused;
    };
    for (const Case& c : {Case{0600, false}, Case{0400, false}, Case{0700, false}, Case{0640, true},
                          Case{0604, true}, Case{0644, true}, Case{0610, true}}) {
        ASSERT_EQ(chmod(key.c_str(), c.mode), 0);
        std::string message;
        try {
            key_file_check_mode(key.c_str());
        } catch (const TException& e) {
            message = e.Message();
        }
        EXPECT_EQ(!message.empty(), c.refused) << std::oct << c.mode;
        if (c.refused) {
            EXPECT_NE(message.find(key), std::string::npos) << message;
            EXPECT_NE(message.find("chmod 600"), std::string::npos) << message;
        }
    }
    // A missing file is the reader's to report.
    EXPECT_NO_THROW(key_file_check_mode((dir / "missing").c_str()));
}

}  // namespace
