#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <map>
#include <set>
#include <sstream>
#include <string>

#include "../base/case_file.h"
#include "ssh/transport/cipher.h"
#include "ssh/transport/compress.h"
#include "ssh/transport/hmac.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/random.h"
#include "ssh/wire/scoped.h"
#include "ssh/wire/xmalloc.h"
#include "ssh_test_support.h"

using WireTest = SshTest;

TEST_F(WireTest, LogLinesAndFatalErrors) {
    const std::map<std::string, void (*)(const char*, ...)> calls = {
        {"error", error}, {"log", log}, {"verbose", verbose}, {"debug", debug}};
    for (const TCase& c : ReadCases("ssh/log_lines")) {
        log_set_level(static_cast<int>(Num(c[0])));
        EXPECT_EQ(StderrOf([&] { calls.at(c[1])("%s", c[2].c_str()); }), c[3]) << c.where;
    }
    log_set_level(6);
    log_set_level(-1);
    EXPECT_EQ(log_get_level(), SYSLOG_LEVEL_INFO);

    // Fatal text reaches the hook as formatted once, cut to 1023 bytes; a
    // hook that returns, or none, still ends in TException.
    EXPECT_EQ(FatalMessage([] { fatal("Remote: %s", "100%s sure %n %d"); }),
              "Remote: 100%s sure %n %d");
    EXPECT_EQ(FatalMessage([] { fatal("%s", std::string(3000, 'y').c_str()); }),
              std::string(1023, 'y'));
    EXPECT_EQ(fatal_set_hook([](const char* text) { throw std::string(text); }), RaisingFatalHook);
    EXPECT_THROW(fatal("code %d", 7), std::string);
    fatal_set_hook([](const char*) {});
    EXPECT_EQ(FatalMessage([] { fatal("still fatal"); }), "still fatal");
    fatal_set_hook(nullptr);
    EXPECT_EQ(FatalMessage([] { fatal("no hook"); }), "no hook");
}

// Growth keeps one spare byte and adds 32 KB; more than half read is
// compacted away instead; a drained buffer restarts at offset zero; taking
// more than there is changes nothing.
TEST_F(WireTest, BufferGrowthBoundsAndEncodings) {
    std::string bytes(5000, '\0');
    for (size_t i = 0; i < bytes.size(); i++) bytes[i] = static_cast<char>(i * 7 + i / 256);
    Buffer buffer{}, zero{};
    buffer_init(&buffer);
    buffer_append(&buffer, bytes.data(), 4095);
    EXPECT_EQ(buffer.capacity, 4096u);
    buffer_append(&buffer, bytes.data() + 4095, 1);
    EXPECT_EQ(buffer.capacity, 4096u + 1 + 32768);
    EXPECT_EQ(BufferText(&buffer), bytes.substr(0, 4096));
    buffer_free(&buffer);

    buffer_init(&buffer);
    buffer_append(&buffer, bytes.data(), 4000);
    buffer_consume(&buffer, 3000);
    buffer_append(&buffer, bytes.data() + 4000, 200);
    EXPECT_EQ(buffer.capacity, 4096u);
    EXPECT_EQ(buffer.read_offset, 0u);
    EXPECT_EQ(BufferText(&buffer), bytes.substr(3000, 1200));
    buffer_consume(&buffer, 1200);
    buffer_append(&buffer, "abcde", 5);
    EXPECT_EQ(buffer.read_offset, 0u);

    unsigned char out[8];
    const std::string over = Outcome([&] { buffer_get(&buffer, out, 6); }) +
                             Outcome([&] { buffer_consume(&buffer, 6); }) +
                             Outcome([&] { buffer_consume_end(&buffer, 6); });
    EXPECT_EQ(over,
              "! buffer_get: trying to get more bytes than in buffer"
              "! buffer_consume: trying to get more bytes than in buffer"
              "! buffer_consume_end: trying to get more bytes than in buffer");
    buffer_consume_end(&buffer, 1);
    buffer_get(&buffer, out, 4);
    EXPECT_EQ(std::string(out, out + 4), "abcd");
    EXPECT_EQ(Outcome([&] { buffer_append_space(&buffer, 0xffffffffu); }),
              "! buffer_append_space: len 4294967295 not supported");
    buffer_append(&buffer, bytes.data(), 4096);
    EXPECT_EQ(buffer.capacity, 40960u);

    buffer_append(&zero, "abc", 3);  // an all-zero buffer is usable
    EXPECT_EQ(BufferText(&zero), "abc");
    buffer_free(&zero);
    EXPECT_EQ(Outcome([] { xfree(nullptr); }), "! xfree: NULL pointer given as argument");

    buffer_clear(&buffer);
    buffer_put_int(&buffer, 0x01020304);
    buffer_put_char(&buffer, 0xfe);
    buffer_put_char(&buffer, 0x1ff);  // only the low byte
    buffer_put_cstring(&buffer, "ab");
    buffer_put_string(&buffer, "\0x", 2);
    EXPECT_EQ(Hex(BufferText(&buffer)), "01020304feff000000026162000000020078");
    EXPECT_EQ(buffer_get_int(&buffer), 0x01020304u);
    EXPECT_EQ(buffer_get_char(&buffer), 0xfe);
    EXPECT_EQ(buffer_get_char(&buffer), 0xff);
    uint32_t length = 0;
    XmallocPtr<char> first(static_cast<char*>(buffer_get_string(&buffer, &length)));
    EXPECT_EQ(std::string(first.get(), length + 1), std::string("ab\0", 3));
    XmallocPtr<char> second(static_cast<char*>(buffer_get_string(&buffer, nullptr)));
    EXPECT_EQ(std::string(second.get(), 3), std::string("\0x\0", 3));

    const std::string big(262145, 'q');
    buffer_put_string(&buffer, big.data(), 262144);
    XmallocPtr<char> largest(static_cast<char*>(buffer_get_string(&buffer, &length)));
    EXPECT_EQ(length, 262144u);
    buffer_put_string(&buffer, big.data(), 262145);
    EXPECT_EQ(Outcome([&] { buffer_get_string(&buffer, nullptr); }),
              "! Received packet with bad string length 262145");
    buffer_clear(&buffer);
    buffer_append(&buffer, "\x00\x11\x01\x02", 4);  // 17 bits need 3 bytes
    BignumPtr number(BN_new());
    EXPECT_EQ(Outcome([&] { buffer_get_bignum(&buffer, number.get()); }),
              "! buffer_get_bignum: input buffer too small");
    buffer_free(&buffer);
}

TEST_F(WireTest, BignumsEncodeAndDecode) {
    for (const TCase& c : ReadCases("ssh/bignums")) {
        SCOPED_TRACE(c.where);
        BIGNUM* parsed = nullptr;
        ASSERT_GT(BN_dec2bn(&parsed, c[1].c_str()), 0);
        BignumPtr number(parsed), back(BN_new());
        const bool two = c[0] == "2";
        Buffer buffer{};
        EXPECT_EQ(StderrOf([&] {
                      if (two) buffer_put_bignum2(&buffer, number.get());
                      if (!two) buffer_put_bignum(&buffer, number.get());
                  }),
                  c[3]);
        EXPECT_EQ(Hex(BufferText(&buffer)), c[2]);
        if (!BN_is_negative(number.get())) {
            const int length = two ? buffer_get_bignum2(&buffer, back.get())
                                   : buffer_get_bignum(&buffer, back.get());
            EXPECT_EQ(length + (two ? 4 : 0), static_cast<int>(c[2].size() / 2));
            EXPECT_EQ(BN_cmp(number.get(), back.get()), 0);
            EXPECT_EQ(buffer_len(&buffer), 0u);
        }
        buffer_free(&buffer);
    }
}

// 256 draws of 32 bits from four keys: a repeat is vanishingly unlikely
// unless stirring reproduced a key.
TEST_F(WireTest, RandomSourceIsAnRc4KeystreamRekeyedByStirring) {
    for (const TCase& c : ReadCases("ssh/rc4_keystream")) {
        const std::string key = HexBytes(c[0]);
        RandomState state;
        random_state_key(&state, reinterpret_cast<const unsigned char*>(key.data()), key.size());
        std::string stream;
        while (stream.size() * 2 < c[1].size()) {
            const uint32_t word = random_state_word(&state);
            for (int k = 0; k < 4; k++) stream += static_cast<char>(word >> (8 * k));
        }
        EXPECT_EQ(Hex(stream), c[1]) << c.where;
    }
    std::set<uint32_t> words;
    for (int round = 0; round < 4; round++) {
        random_stir();
        for (int n = 0; n < 64; n++) words.insert(random_word());
    }
    EXPECT_GE(words.size(), 255u);
}

TEST_F(WireTest, NamesNumbersKeysAndLengths) {
    for (const TCase& c : ReadCases("ssh/cipher_names")) {
        EXPECT_EQ(cipher_number(c[0].c_str()), Num(c[1])) << c.where;
        EXPECT_TRUE(Num(c[1]) < 0 || c[0] == cipher_name(static_cast<int>(Num(c[1])))) << c.where;
    }
    EXPECT_EQ(cipher_number(nullptr), -1);
    EXPECT_STREQ(cipher_name(0), "none");
    EXPECT_EQ(FatalMessage([] { cipher_name(12); }), "cipher_name: bad cipher name: 12");
    EXPECT_EQ(FatalMessage([] { cipher_name(-1); }), "cipher_name: bad cipher name: -1");

    const std::string key(32, '\x5a'), data(16, '\0');
    for (const TCase& c : ReadCases("ssh/cipher_keys")) {
        const int number = static_cast<int>(Num(c[0]));
        const int key_length = static_cast<int>(Num(c[1]));
        const auto call = Words(c[3]);
        const auto length = static_cast<uint32_t>(Num(call[1]));
        CipherContext context{};
        EXPECT_EQ(Outcome([&] {
                      if (c[2] == "-") cipher_set_key(&context, number, UBytes(key), key_length);
                      if (c[2] != "-")
                          cipher_set_key_iv(&context, number, UBytes(key), key_length, UBytes(key),
                                            static_cast<int>(Num(c[2])));
                      if (call[0] == "encrypt")
                          cipher_encrypt(&context, UBytes(data), UBytes(data), length);
                      if (call[0] == "decrypt")
                          cipher_decrypt(&context, UBytes(data), UBytes(data), length);
                  }),
                  c[4])
            << c.where;
        EXPECT_EQ(context.type, c[4].find("! cipher_set_key") == 0 ? 0 : number) << c.where;
        cipher_cleanup(&context);
    }
}

// Every cipher against known answers: the calls of one direction chain like
// one stream; decryption also works in place.
TEST_F(WireTest, KnownAnswersAcrossCalls) {
    const auto rows = DataRows("ssh/cipher_vectors");
    EXPECT_EQ(rows.size(), 10u);
    for (const auto& row : rows) {
        SCOPED_TRACE(row[0] + " " + row[1]);
        const int number = std::stoi(row[0]);
        const std::string key = HexBytes(row[1]), iv = HexBytes(row[2]), plain = HexBytes(row[3]);
        CipherContext contexts[2] = {};
        for (CipherContext& context : contexts) {
            const int key_length = static_cast<int>(key.size());
            if (row[2] == "-") cipher_set_key(&context, number, UBytes(key), key_length);
            if (row[2] != "-")
                cipher_set_key_iv(&context, number, UBytes(key), key_length, UBytes(iv),
                                  static_cast<int>(iv.size()));
        }
        std::string out(plain.size(), '\0');
        for (int pass = 0; pass < 2; pass++) {
            std::istringstream pieces(row[5 + pass]);
            size_t at = 0;
            for (std::string piece; std::getline(pieces, piece, ',');) {
                const auto n = static_cast<uint32_t>(std::stoul(piece));
                if (pass == 0)
                    cipher_encrypt(&contexts[0], UBytes(out) + at, UBytes(plain) + at, n);
                if (pass == 1) cipher_decrypt(&contexts[1], UBytes(out) + at, UBytes(out) + at, n);
                at += n;
            }
            EXPECT_EQ(Hex(out), row[4 - pass]) << pass;
        }
        for (CipherContext& context : contexts) cipher_cleanup(&context);
    }
}

// Both MAC paths: the one-shot hmac() and the keyed state, which must
// restart cleanly for each packet. The first four data bytes stand for the
// sequence number.
TEST_F(WireTest, HmacKnownAnswers) {
    const auto rows = DataRows("ssh/hmac_vectors");
    EXPECT_EQ(rows.size(), 18u);
    for (const auto& row : rows) {
        SCOPED_TRACE(row[0] + " " + row[2]);
        const EVP_MD* md = EVP_get_digestbyname(row[0].c_str());
        const std::string key = HexBytes(row[1]), data = HexBytes(row[2]);
        const auto n = static_cast<uint32_t>(data.size() - 4);
        const auto k = static_cast<uint32_t>(key.size());
        XmallocPtr<unsigned char> mac(
            hmac(md, get_u32(UBytes(data)), UBytes(data) + 4, n, UBytes(key), k));
        EXPECT_EQ(Hex(std::string(reinterpret_cast<char*>(mac.get()), row[3].size() / 2)), row[3]);
        MacState* state = mac_state_new(md, UBytes(key), k);
        for (int round = 0; round < 2; round++) {
            unsigned char out[EVP_MAX_MD_SIZE];
            mac_state_compute(state, get_u32(UBytes(data)), UBytes(data) + 4, n, out);
            EXPECT_EQ(Hex(std::string(reinterpret_cast<char*>(out), row[3].size() / 2)), row[3]);
        }
        mac_state_free(state);
    }
    EXPECT_EQ(Outcome([] { mac_state_new(EVP_sha1(), nullptr, 0); }), "! hmac: no key");
}

// An inflated packet is bounded; the level is checked after it is logged.
TEST_F(WireTest, CompressionLimitsAndLevels) {
    PacketContext sender{}, receiver{};
    buffer_compress_init(&sender, 9);
    buffer_compress_init(&receiver, 1);
    Buffer in{}, wire{}, out{};
    const std::string zeros(kMaxUncompressedLength + 1, '\0');
    buffer_append(&in, zeros.data(), static_cast<uint32_t>(zeros.size()));
    buffer_compress(&sender, &in, &wire);
    EXPECT_EQ(Outcome([&] { buffer_uncompress(&receiver, &wire, &out); }),
              "! buffer_uncompress: uncompressed packet longer than 263168 bytes");
    buffer_clear(&wire);
    buffer_append(&wire, "\xff\xff\xff\xff garbage", 12);
    EXPECT_EQ(Outcome([&] { buffer_uncompress(&receiver, &wire, &out); }),
              "! buffer_uncompress: inflate returned -3");
    buffer_compress_uninit(&sender);
    buffer_compress_uninit(&receiver);
    for (Buffer* b : {&in, &wire, &out}) buffer_free(b);

    log_set_level(SYSLOG_LEVEL_DEBUG);
    PacketContext idle{};
    for (const std::string level : {"0", "10"}) {
        EXPECT_EQ(Outcome([&] { buffer_compress_init(&idle, std::stoi(level)); }),
                  "debug: Enabling compression at level " + level +
                      ".\r\n! Bad compression level " + level + ".");
    }
}
