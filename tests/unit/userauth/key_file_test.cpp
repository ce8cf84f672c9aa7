// Private key files made by ssh-keygen: OpenSSH's format plain
// and encrypted (bcrypt-pbkdf + aes256-ctr), PEM and PKCS #8, for every key
// type; what the passphrase prompt sees; and malformed OpenSSH files.
#include "ssh/keys/key_file.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>

#include "../ssh/data_rows.h"
#include "key_test_support.h"
#include "ssh/keys/openssh_key.h"

namespace {

// Answers passphrase prompts from a script and records them.
struct ScriptedAsk {
    std::vector<std::string> answers;  // "\x1b" stands for ESC
    std::vector<std::string> prompts;
    PassphraseAsk Function() {
        return [this](const std::string& prompt, std::string* passphrase) {
            prompts.push_back(prompt);
            if (prompts.size() > answers.size()) return false;
            const std::string& answer = answers[prompts.size() - 1];
            if (answer == "\x1b") return false;
            *passphrase = answer;
            return true;
        };
    }
};

TEST(KeyFile, FilesMadeBySshKeygen) {
    const auto rows = DataRows("userauth/key_files");
    EXPECT_EQ(12u, rows.size());
    for (const auto& row : rows) {
        const std::string file = KeyPath(row[0]);
        SCOPED_TRACE(file);
        const bool encrypted = row[1] != "-";
        ScriptedAsk ask{{row[1]}, {}};
        std::unique_ptr<UserKey> key;
        std::string error;
        ASSERT_EQ(LoadKeyResult::kOk, LoadUserKeyFile(file, ask.Function(), &key, &error)) << error;
        EXPECT_EQ(encrypted ? 1u : 0u, ask.prompts.size());
        if (encrypted) {
            EXPECT_EQ("Enter passphrase for key '" + file + "': ", ask.prompts[0]);
        }
        EXPECT_EQ(PubFileBlob(file + ".pub"), key->PublicBlob());
        EXPECT_EQ(
            hostkeys_test::ReadFile(file + ".pub").rfind(key->TypeName() + std::string(" "), 0),
            0u);
        EXPECT_EQ(key->TypeName(), BlobKeyType(key->PublicBlob()));
        const Blob data = ToBlob("session id and request");
        Blob signature;
        ASSERT_TRUE(key->Sign(row[2], data.data(), data.size(), false, &signature));
        std::string named;
        EXPECT_TRUE(VerifySshSignature(key->Pkey(), signature, data, &named));
        EXPECT_EQ(row[2], named);
        if (row[3] != "yes") continue;

        // Wrong three times; ESC; no way to ask at all.
        ScriptedAsk wrong{{"no", "nope", "still not"}, {}};
        EXPECT_EQ(LoadKeyResult::kFailed, LoadUserKeyFile(file, wrong.Function(), &key, &error));
        ASSERT_EQ(3u, wrong.prompts.size());
        EXPECT_EQ("Bad passphrase. Enter passphrase for key '" + file + "': ", wrong.prompts[1]);
        EXPECT_EQ("incorrect passphrase", error);
        ScriptedAsk escape{{"wrong", "\x1b"}, {}};
        EXPECT_EQ(LoadKeyResult::kCancelled,
                  LoadUserKeyFile(file, escape.Function(), &key, &error));
        EXPECT_EQ(LoadKeyResult::kFailed, LoadUserKeyFile(file, PassphraseAsk(), &key, &error));
    }
}

// OpenSSH's format leaves the CRT exponents out; those computed on reading
// must be libcrypto's own for the same key read from PEM (the library's
// signing falls back to d when they are wrong, so signatures cannot tell).
TEST(KeyFile, RsaCrtParametersOfOpensshFiles) {
    std::unique_ptr<UserKey> openssh, pem;
    std::string error;
    ScriptedAsk ask{{"passphrase"}, {}};
    ASSERT_EQ(LoadKeyResult::kOk,
              LoadUserKeyFile(KeyPath("rsa_pass"), ask.Function(), &openssh, &error));
    ASSERT_EQ(LoadKeyResult::kOk,
              LoadUserKeyFile(KeyPath("rsa_pem"), PassphraseAsk(), &pem, &error));
    for (const char* name : {OSSL_PKEY_PARAM_RSA_EXPONENT1, OSSL_PKEY_PARAM_RSA_EXPONENT2,
                             OSSL_PKEY_PARAM_RSA_COEFFICIENT1}) {
        BIGNUM* got = nullptr;
        BIGNUM* expected = nullptr;
        EXPECT_EQ(1, EVP_PKEY_get_bn_param(openssh->Pkey(), name, &got));
        EXPECT_EQ(1, EVP_PKEY_get_bn_param(pem->Pkey(), name, &expected));
        EXPECT_EQ(0, BN_cmp(got, expected)) << name;
        BN_free(got);
        BN_free(expected);
    }
}

TEST(KeyFile, MissingAndForeignFiles) {
    std::unique_ptr<UserKey> key;
    std::string error;
    EXPECT_EQ(LoadKeyResult::kMissing,
              LoadUserKeyFile("/nonexistent/key", PassphraseAsk(), &key, &error));
    EXPECT_EQ(LoadKeyResult::kFailed,
              LoadUserKeyText("just some text\n", "t", PassphraseAsk(), &key, &error));
    EXPECT_EQ("not a private key file", error);
    // One byte over the limit is refused as such, not read cut short.
    TempFolder folder;
    hostkeys_test::WriteFile(folder / "big", std::string(kMaxKeyFileSize + 1, '-'));
    EXPECT_EQ(LoadKeyResult::kFailed,
              LoadUserKeyFile(folder / "big", PassphraseAsk(), &key, &error));
    EXPECT_EQ("file too large", error);
    // The legacy DSA test key (PEM) is read through the same entry point.
    EXPECT_EQ(LoadKeyResult::kOk,
              LoadUserKeyFile(QUENLOR_TEST_DATA "/ssh2/user_dsa", PassphraseAsk(), &key, &error));
    EXPECT_STREQ("ssh-dss", key->TypeName());
}

// An unencrypted OpenSSH file's binary, built here from a fresh Ed25519 key,
// with one field changed per case.
Blob OpensshBinary(const Blob& pub, const Blob& seed, uint32_t check2, const std::string& cipher,
                   uint8_t last_pad, uint32_t count = 1) {
    BlobWriter blob;
    blob.PutString("ssh-ed25519");
    blob.PutString(pub);
    BlobWriter priv;
    priv.PutU32(0x11223344);
    priv.PutU32(check2);
    priv.PutString("ssh-ed25519");
    priv.PutString(pub);
    Blob secret = seed;
    secret.insert(secret.end(), pub.begin(), pub.end());
    priv.PutString(secret);
    priv.PutString("comment");
    for (uint8_t pad = 1; priv.bytes().size() % 8 != 0; ++pad)
        priv.PutByte(priv.bytes().size() % 8 == 7 ? last_pad : pad);
    BlobWriter w;
    const char magic[] = "openssh-key-v1";
    w.PutRaw(reinterpret_cast<const uint8_t*>(magic), sizeof magic);
    w.PutString(cipher);
    w.PutString(cipher == "none" ? "none" : "bcrypt");
    w.PutString(Blob{});
    w.PutU32(count);
    w.PutString(blob.bytes());
    w.PutString(priv.bytes());
    return w.Take();
}

TEST(KeyFile, OpensshFormatChecks) {
    const Blob seed = HexBlob("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60");
    const Blob pub = HexBlob("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
    Blob other_pub = pub;
    other_pub[5] ^= 1;
    struct Case {
        Blob binary;
        KeyFileStatus expected;
    };
    // The byte before the padding's end decides whether the padding is
    // 1, 2, 3... as written; the key above leaves 6 bytes of padding.
    const Case cases[] = {
        {OpensshBinary(pub, seed, 0x11223344, "none", 6), KeyFileStatus::kOk},
        {OpensshBinary(pub, seed, 0x11223345, "none", 6), KeyFileStatus::kBadPassphrase},
        {OpensshBinary(pub, seed, 0x11223344, "none", 9), KeyFileStatus::kBadFormat},
        {OpensshBinary(other_pub, seed, 0x11223344, "none", 6), KeyFileStatus::kBadFormat},
        {OpensshBinary(pub, seed, 0x11223344, "3des-cbc", 6), KeyFileStatus::kUnsupported},
        {OpensshBinary(pub, seed, 0x11223344, "aes256-ctr", 6), KeyFileStatus::kNeedPassphrase},
        {OpensshBinary(pub, seed, 0x11223344, "none", 6, 2), KeyFileStatus::kUnsupported},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        SCOPED_TRACE(i);
        std::unique_ptr<UserKey> key;
        EXPECT_EQ(cases[i].expected, ParseOpensshKeyBinary(cases[i].binary, nullptr, &key));
        EXPECT_EQ(cases[i].expected == KeyFileStatus::kOk, key != nullptr);
        if (key) {
            EXPECT_EQ("comment", key->Comment());
        }
        // Every truncation is malformed, never a crash.
        for (std::size_t n = 0; n < cases[i].binary.size(); n += 7) {
            Blob cut(cases[i].binary.begin(), cases[i].binary.begin() + n);
            EXPECT_NE(KeyFileStatus::kOk, ParseOpensshKeyBinary(cut, nullptr, &key));
        }
    }
}

}  // namespace
