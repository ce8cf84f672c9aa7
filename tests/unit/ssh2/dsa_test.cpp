// DSA keys and signatures: the key files, the public-key blob, and how
// verification adapts the compatibility word to the form a server sends
// (tests/data/ssh2/dsa).
#include "ssh/keys/authfile.h"
#include "ssh2_test_support.h"

namespace {

KeyPtr FromBlob(const Bytes& blob) {
    return KeyPtr(dsa_key_from_blob(reinterpret_cast<const unsigned char*>(blob.data()),
                                    static_cast<uint32_t>(blob.size())));
}

class DsaTest : public Ssh2Test {};

TEST_F(DsaTest, KeyFilesAndBlobs) {
    KeyPtr key(key_new(KEY_DSA)), locked(key_new(KEY_DSA));
    char* comment = nullptr;
    ASSERT_TRUE(load_private_key_file(QUENLOR_TEST_DATA "/ssh2/user_dsa", "", key.get(), &comment));
    EXPECT_STREQ("dsa w/o comment", comment);
    xfree(comment);
    // A protected key opens with its passphrase only; other files not at all.
    const char* const locked_file = QUENLOR_TEST_DATA "/ssh2/locked_dsa";
    EXPECT_FALSE(load_private_key_file(locked_file, "", locked.get(), nullptr));
    EXPECT_TRUE(load_private_key_file(locked_file, "secret", locked.get(), nullptr));
    EXPECT_FALSE(
        load_private_key_file(QUENLOR_SOURCE_DIR "/CMakeLists.txt", "", locked.get(), nullptr));

    const Bytes blob = DsaBlob(key.get());
    EXPECT_EQ(Str("ssh-dss"), blob.substr(0, 11));
    EXPECT_EQ(blob, DsaBlob(FromBlob(blob).get()));
    // Trailing bytes are only reported; another key type is refused, a
    // truncated number is fatal.
    EXPECT_TRUE(FromBlob(blob + "xyz"));
    EXPECT_FALSE(FromBlob(Str("ssh-rsa") + Str("whatever")));
    EXPECT_FALSE(FatalMessage([&] { FromBlob(blob.substr(0, blob.size() - 3)); }).empty());
    KeyPtr empty(key_new(KEY_EMPTY));
    EXPECT_EQ(0u, dsa_key_to_blob(empty.get(), nullptr, nullptr));
    int word = 0;
    EXPECT_EQ(-1, DsaVerify(empty.get(), "x", "x", &word));

    for (const TCase& c : ReadCases("ssh2/dsa")) {
        SCOPED_TRACE(c.where);
        const Bytes signature = HexBytes(c[1]);
        word = c[0] == "verify" ? static_cast<int>(Num(c[3])) : 0;
        if (c[0] == "fatal") {
            EXPECT_EQ(c[2], FatalMessage([&] { DsaVerify(key.get(), signature, "hash", &word); }));
            continue;
        }
        EXPECT_EQ(Num(c[4]), DsaVerify(key.get(), signature, c[2], &word));
        EXPECT_EQ(Num(c[5]), word);
    }
}

}  // namespace
