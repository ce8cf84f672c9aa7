// Private key files made by ssh-keygen: OpenSSH's format plain and encrypted
// (bcrypt-pbkdf + aes256-ctr), PEM and PKCS #8, for every key type.
#include "ssh/keys/key_file.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>

#include "../base/case_file.h"
#include "key_test_support.h"

namespace {

// Answers passphrase prompts from `answers` ("\x1b": the user presses ESC;
// past the end: no way to ask) and records the prompts.
PassphraseAsk Script(std::vector<std::string> answers, std::vector<std::string>* prompts) {
    return [answers, prompts](const std::string& prompt, std::string* passphrase) {
        prompts->push_back(prompt);
        if (prompts->size() > answers.size() || answers[prompts->size() - 1] == "\x1b")
            return false;
        *passphrase = answers[prompts->size() - 1];
        return true;
    };
}

TEST(KeyFile, FilesMadeBySshKeygen) {
    for (const TCase& row : ReadCases("userauth/key_files")) {
        const std::string file = KeyPath(row[0]);
        SCOPED_TRACE(row.where);
        std::vector<std::string> prompts;
        std::unique_ptr<UserKey> key;
        std::string error;
        ASSERT_EQ(LoadKeyResult::kOk,
                  LoadUserKeyFile(file, Script({row[1]}, &prompts), &key, &error))
            << error;
        const std::string ask = "Enter passphrase for key '" + file + "': ";
        EXPECT_EQ(row[1] == "-" ? std::vector<std::string>{} : std::vector<std::string>{ask},
                  prompts);
        EXPECT_EQ(PubFileBlob(file + ".pub"), key->PublicBlob());
        EXPECT_EQ(BlobKeyType(key->PublicBlob()), key->TypeName());
        const Blob data = ToBlob("session id and request");
        Blob signature;
        ASSERT_TRUE(key->Sign(row[2], data.data(), data.size(), false, &signature));
        EXPECT_TRUE(Verifies(key->PublicBlob(), row[2], signature, data));
        if (row.size() > 4) {
            // OpenSSH's format leaves the CRT exponents out; those computed on
            // reading must be libcrypto's own for the same key read from PEM
            // (its signing falls back to d when they are wrong: signatures
            // cannot tell).
            std::unique_ptr<UserKey> pem;
            ASSERT_EQ(LoadKeyResult::kOk, LoadUserKeyFile(KeyPath(row[4]), {}, &pem, &error));
            for (const char* name : {OSSL_PKEY_PARAM_RSA_EXPONENT1, OSSL_PKEY_PARAM_RSA_EXPONENT2,
                                     OSSL_PKEY_PARAM_RSA_COEFFICIENT1}) {
                BIGNUM* got = nullptr;
                BIGNUM* expected = nullptr;
                EXPECT_EQ(1, EVP_PKEY_get_bn_param(key->Pkey(), name, &got));
                EXPECT_EQ(1, EVP_PKEY_get_bn_param(pem->Pkey(), name, &expected));
                EXPECT_EQ(0, BN_cmp(got, expected)) << name;
                BN_free(got);
                BN_free(expected);
            }
        }
        if (row[3] != "yes") continue;

        // Wrong three times; ESC; no way to ask at all.
        prompts.clear();
        EXPECT_EQ(LoadKeyResult::kFailed,
                  LoadUserKeyFile(file, Script({"no", "nope", "not"}, &prompts), &key, &error));
        EXPECT_EQ(
            (std::vector<std::string>{ask, "Bad passphrase. " + ask, "Bad passphrase. " + ask}),
            prompts);
        EXPECT_EQ("incorrect passphrase", error);
        EXPECT_EQ(LoadKeyResult::kCancelled,
                  LoadUserKeyFile(file, Script({"wrong", "\x1b"}, &prompts), &key, &error));
        EXPECT_EQ(LoadKeyResult::kFailed, LoadUserKeyFile(file, PassphraseAsk(), &key, &error));
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
    const std::string big = testing::TempDir() + "/quenlor-big-key";
    std::ofstream(big) << std::string(kMaxKeyFileSize + 1, '-');
    EXPECT_EQ(LoadKeyResult::kFailed, LoadUserKeyFile(big, PassphraseAsk(), &key, &error));
    EXPECT_EQ("file too large", error);
    std::remove(big.c_str());
}

}  // namespace
