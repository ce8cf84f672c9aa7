// Protocol-1 keys: the refusals of the PKCS #1 v1.5 operations (their results
// are checked against libcrypto by the logins of ssh1_connection), and the key
// file reader on the files of tests/data/ssh1/keyfiles.
#include "ssh/keys/authfile_rsa1.h"

#include <gtest/gtest.h>

#include <string>

#include "ssh/keys/authfile.h"
#include "ssh/keys/key.h"
#include "ssh/keys/rsa.h"
#include "ssh/wire/xmalloc.h"
#include "ssh1_test_support.h"

namespace {

// The comment of the key in `path` (its public part when `passphrase` is
// null), checked part by part against `expected`; "<refused>" when refused.
std::string Read(const std::string& path, const char* passphrase, const RSA* expected) {
    KeyPtr key(key_new(KEY_RSA));
    char* comment = nullptr;
    if (passphrase ? !load_rsa1_private_key_file(path.c_str(), passphrase, key.get(), &comment)
                   : !load_rsa1_public_key(path.c_str(), key.get(), &comment))
        return "<refused>";
    XmallocPtr<char> owned(comment);
    int part = 0;
    for (auto get : {RSA_get0_n, RSA_get0_e, RSA_get0_d, RSA_get0_p, RSA_get0_q, RSA_get0_iqmp,
                     RSA_get0_dmp1, RSA_get0_dmq1}) {
        const BIGNUM* want = passphrase != nullptr || part++ < 2 ? get(expected) : nullptr;
        EXPECT_TRUE(want ? BN_cmp(get(key->rsa), want) == 0 : get(key->rsa) == nullptr) << part;
    }
    return comment;
}

// Each row: a key file ("-": none), the key in it, the passphrase, what the
// private and the public read give (the comment, "<refused>", or "!" and a
// fatal message), and the debug lines of both ("{}" stands for the path).
TEST_F(SshTest, Rsa1KeyFileReads) {
    log_set_level(SYSLOG_LEVEL_DEBUG);
    for (const TCase& c : ReadCases("ssh1/keyfile_reads")) {
        SCOPED_TRACE(c.where);
        const TempKeyFile file(c[0] == "-" ? "" : KeyFileBytes(c[0]));
        const std::string path = c[0] == "-" ? "/nonexistent/key" : file.path;
        std::string results;
        const std::string log = StderrOf([&] {
            try {
                results = Read(path, c[2].c_str(), DataKey(c[1]));
            } catch (const TException& e) {
                results = "!" + e.Message();
            }
            results += " | " + Read(path, nullptr, DataKey(c[1]));
        });
        EXPECT_EQ(results, c[3] + " | " + c[4]);
        std::string expected_log = c[5];
        for (size_t at; (at = expected_log.find("{}")) != std::string::npos;)
            expected_log.replace(at, 2, path);
        EXPECT_EQ(log, expected_log);
    }
}

// Each row: a key file, the length of its public head, and its comment.
// Under AddressSanitizer this also proves that no prefix is read past its end.
TEST_F(SshTest, Rsa1KeyFileTruncationsAreRefused) {
    for (const TCase& c : ReadCases("ssh1/keyfile_heads")) {
        const std::string bytes = KeyFileBytes(c[0]);
        for (size_t length = 0; length < bytes.size(); length++) {
            const TempKeyFile file(bytes.substr(0, length));
            EXPECT_EQ(Read(file.path, "", DataKey("k768")), "<refused>") << length;
            EXPECT_EQ(Read(file.path, nullptr, DataKey("k768")),
                      length >= std::stoul(c[1]) ? c[2] : "<refused>")
                << c[0] << " " << length;
        }
    }
}

TEST_F(SshTest, Rsa1KeyFileEntriesAndKeyRecords) {
    RSA* expected = DataKey("k768");
    const TempKeyFile file(KeyFileBytes("plain768"));
    // The generic reader hands RSA keys to the protocol-1 reader.
    KeyPtr key(key_new(KEY_RSA));
    ASSERT_TRUE(load_private_key_file(file.path.c_str(), "", key.get(), nullptr));
    EXPECT_EQ(BN_cmp(RSA_get0_d(key->rsa), RSA_get0_d(expected)), 0);
    EXPECT_FALSE(load_private_key_file("/nonexistent/key", "", key.get(), nullptr));
    // A failed read leaves the key as it was.
    RSA* before = key->rsa;
    EXPECT_FALSE(load_rsa1_private_key_file(TempKeyFile(KeyFileBytes("bad-check")).path.c_str(), "",
                                            key.get(), nullptr));
    EXPECT_EQ(key->rsa, before);
    EXPECT_EQ(BN_cmp(RSA_get0_d(key->rsa), RSA_get0_d(expected)), 0);
    // A file too large to be a key file; a key record of another type.
    const TempKeyFile large(KeyFileBytes("plain768") + std::string(kMaxKeyFileSize, '\0'));
    EXPECT_EQ(Read(large.path, "", expected), "<refused>");
    KeyPtr dsa(key_new(KEY_DSA));
    EXPECT_FALSE(load_rsa1_private_key_file(file.path.c_str(), "", dsa.get(), nullptr));
    EXPECT_FALSE(load_rsa1_public_key(file.path.c_str(), dsa.get(), nullptr));
}

TEST_F(SshTest, RsaRefusalsAreFatal) {
    RSA* key = DataKey("k768");
    BignumPtr value = BnFromBytes("\x12\x34");
    BignumPtr out(BN_new());
    // Exponents below 3 or even are refused; 3 is the smallest taken.
    for (unsigned long e : {0ul, 1ul, 2ul, 3ul, 4ul, 65536ul}) {
        RsaHandle copy(RSA_new());
        BIGNUM* exponent = BN_new();
        BN_set_word(exponent, e);
        RSA_set0_key(copy.get(), BN_dup(RSA_get0_n(key)), exponent, nullptr);
        if (e == 3) {
            rsa_public_encrypt(out.get(), value.get(), copy.get());
            continue;
        }
        EXPECT_EQ(FatalMessage([&] { rsa_public_encrypt(out.get(), value.get(), copy.get()); }),
                  "rsa_public_encrypt() exponent too small or not odd")
            << e;
    }
    // PKCS #1 needs 11 bytes of the modulus for itself: 86 of 96 bytes is too long.
    BignumPtr too_long = BnFromBytes(std::string(86, '\x5a'));
    EXPECT_EQ(FatalMessage([&] { rsa_public_encrypt(out.get(), too_long.get(), key); }),
              "rsa_public_encrypt() failed");
    BignumPtr fits = BnFromBytes(std::string(85, '\x5a'));
    rsa_public_encrypt(out.get(), fits.get(), key);
    EXPECT_EQ(LibraryRsaDecrypt(
                  key, std::string(96 - BN_num_bytes(out.get()), '\0') + BnBytes(out.get())),
              std::string(85, '\x5a'));

    // A number that does not decrypt to a type-2 block, and one above the modulus.
    BignumPtr garbage = BnFromBytes("\x01\x23\x45\x67\x89");
    EXPECT_EQ(FatalMessage([&] { rsa_private_decrypt(out.get(), garbage.get(), key); }),
              "rsa_private_decrypt() failed");
    BignumPtr above(BN_dup(RSA_get0_n(key)));
    BN_lshift(above.get(), above.get(), 8);
    EXPECT_EQ(FatalMessage([&] { rsa_private_decrypt(out.get(), above.get(), key); }),
              "rsa_private_decrypt() failed");
}

}  // namespace
