#include "ssh/transport/cipher.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <sstream>
#include <string>

#include "../base/case_file.h"
#include "ssh/transport/compress.h"
#include "ssh/transport/hmac.h"
#include "ssh/transport/mac_table.h"
#include "ssh/transport/packet.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/xmalloc.h"
#include "ssh_test_support.h"

namespace {

unsigned char* U(const std::string& bytes) {
    return reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data()));
}

std::string Text(const Buffer* buffer) {
    return std::string(reinterpret_cast<const char*>(buffer_ptr(buffer)), buffer_len(buffer));
}

}  // namespace

using CipherTest = SshTest;

TEST_F(CipherTest, NamesNumbersKeysAndLengths) {
    for (const TCase& c : ReadCases("ssh/cipher_names")) {
        EXPECT_EQ(cipher_number(c[0].c_str()), Num(c[1])) << c.where;
        EXPECT_TRUE(Num(c[1]) < 0 || c[0] == cipher_name(static_cast<int>(Num(c[1])))) << c.where;
    }
    EXPECT_EQ(cipher_number(nullptr), -1);
    EXPECT_STREQ(cipher_name(0), "none");
    EXPECT_EQ(FatalMessage([] { cipher_name(12); }), "cipher_name: bad cipher name: 12");
    EXPECT_EQ(FatalMessage([] { cipher_name(-1); }), "cipher_name: bad cipher name: -1");
    EXPECT_EQ(cipher_mask1(), 0x48u);
    EXPECT_EQ(cipher_mask(), 0xF48u);

    const std::string key(32, '\x5a'), data(16, '\0');
    for (const TCase& c : ReadCases("ssh/cipher_keys")) {
        const int number = static_cast<int>(Num(c[0]));
        const int key_length = static_cast<int>(Num(c[1]));
        const auto call = Words(c[3]);
        const auto length = static_cast<uint32_t>(Num(call[1]));
        CipherContext context{};
        EXPECT_EQ(Outcome([&] {
                      if (c[2] == "-") cipher_set_key(&context, number, U(key), key_length);
                      if (c[2] != "-")
                          cipher_set_key_iv(&context, number, U(key), key_length, U(key),
                                            static_cast<int>(Num(c[2])));
                      if (call[0] == "encrypt") cipher_encrypt(&context, U(data), U(data), length);
                      if (call[0] == "decrypt") cipher_decrypt(&context, U(data), U(data), length);
                  }),
                  c[4])
            << c.where;
        EXPECT_EQ(context.type, c[4].find("! cipher_set_key") == 0 ? 0 : number) << c.where;
        cipher_cleanup(&context);
    }
    CipherContext unknown{};
    unknown.type = 1;
    EXPECT_EQ(Outcome([&] { cipher_encrypt(&unknown, U(data), U(data), 8); }),
              "! cipher_encrypt: unknown cipher: idea");
    EXPECT_EQ(Outcome([&] { cipher_decrypt(&unknown, U(data), U(data), 8); }),
              "! cipher_decrypt: unknown cipher: idea");
}

// Every cipher against known answers: the calls of one direction chain like
// one stream; decryption works into another buffer and in place.
TEST_F(CipherTest, KnownAnswersAcrossCalls) {
    const auto rows = DataRows("ssh/cipher_vectors");
    EXPECT_EQ(rows.size(), 10u);
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 7u);
        SCOPED_TRACE(row[0] + " " + row[1]);
        const int number = std::stoi(row[0]);
        const std::string key = HexBytes(row[1]), iv = HexBytes(row[2]);
        const std::string plain = HexBytes(row[3]), cipher = HexBytes(row[4]);
        CipherContext contexts[3] = {};
        for (CipherContext& context : contexts) {
            if (row[2] == "-") {
                cipher_set_key(&context, number, U(key), static_cast<int>(key.size()));
            } else {
                cipher_set_key_iv(&context, number, U(key), static_cast<int>(key.size()), U(iv),
                                  static_cast<int>(iv.size()));
            }
        }
        for (int pass = 0; pass < 3; pass++) {
            std::string out = pass == 0 ? std::string(plain.size(), '\0') : cipher;
            std::istringstream pieces(row[pass == 0 ? 5 : 6]);
            size_t at = 0;
            for (std::string piece; std::getline(pieces, piece, ',');) {
                const auto n = static_cast<uint32_t>(std::stoul(piece));
                const std::string in = out.substr(at, n);  // pass 1 reads a copy, pass 2 in place
                if (pass == 0) cipher_encrypt(&contexts[0], U(out) + at, U(plain) + at, n);
                if (pass > 0)
                    cipher_decrypt(&contexts[pass], U(out) + at, pass == 1 ? U(in) : U(out) + at,
                                   n);
                at += n;
            }
            EXPECT_EQ(at, plain.size());
            EXPECT_EQ(Hex(out), Hex(pass == 0 ? cipher : plain)) << pass;
        }
        for (CipherContext& context : contexts) cipher_cleanup(&context);
    }
}

// Both MAC paths: the one-shot hmac() and the keyed state, which must
// restart cleanly for each packet. The first four data bytes stand for the
// sequence number.
TEST_F(CipherTest, HmacKnownAnswers) {
    const auto rows = DataRows("ssh/hmac_vectors");
    EXPECT_EQ(rows.size(), 18u);
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 4u);
        SCOPED_TRACE(row[0] + " " + row[2]);
        const EVP_MD* md = EVP_get_digestbyname(row[0].c_str());
        const std::string key = HexBytes(row[1]), data = HexBytes(row[2]);
        const auto n = static_cast<uint32_t>(data.size() - 4);
        const auto k = static_cast<uint32_t>(key.size());
        XmallocPtr<unsigned char> mac(hmac(md, get_u32(U(data)), U(data) + 4, n, U(key), k));
        EXPECT_EQ(Hex(std::string(reinterpret_cast<char*>(mac.get()), row[3].size() / 2)), row[3]);
        MacState* state = mac_state_new(md, U(key), k);
        for (int round = 0; round < 2; round++) {
            unsigned char out[EVP_MAX_MD_SIZE];
            mac_state_compute(state, get_u32(U(data)), U(data) + 4, n, out);
            EXPECT_EQ(Hex(std::string(reinterpret_cast<char*>(out), row[3].size() / 2)), row[3]);
        }
        mac_state_free(state);
    }
    EXPECT_EQ(mac_row_find("hmac-sha2-512-etm@openssh.com")->mac_len, 64u);
    EXPECT_TRUE(mac_row_find("hmac-sha1-etm@openssh.com")->etm);
    EXPECT_FALSE(mac_row_find("hmac-sha2-256")->etm);
    EXPECT_EQ(FatalMessage([] { hmac(EVP_sha1(), 0, U("data"), 4, nullptr, 0); }), "hmac: no key");
}

// Each packet decompresses on arrival (a partial flush after each), the
// dictionary carries over, and the inflated size is bounded.
TEST_F(CipherTest, CompressionPerPacket) {
    PacketContext sender{}, receiver{};
    buffer_compress_init(&sender, 6);
    buffer_compress_init(&receiver, 6);
    Buffer in{}, wire{}, out{};
    const auto round_trip = [&](const std::string& text) {
        buffer_clear(&in);
        buffer_clear(&wire);
        buffer_clear(&out);
        buffer_append(&in, text.data(), static_cast<uint32_t>(text.size()));
        buffer_compress(&sender, &in, &wire);
        EXPECT_EQ(buffer_len(&in), text.size());  // the input is left alone
        buffer_uncompress(&receiver, &wire, &out);
        EXPECT_EQ(Text(&out), text);
        return buffer_len(&wire);
    };
    round_trip("ls -l\r");
    round_trip("x");
    const std::string line = "The quick brown fox jumps over the lazy dog again and again.";
    const uint32_t first = round_trip(line);
    EXPECT_LT(round_trip(line), first);
    std::string noise(20000, '\0');  // incompressible: several 4096-byte steps
    for (size_t i = 0; i < noise.size(); i++)
        noise[i] = static_cast<char>((i * i * 2654435761u) >> 13);
    EXPECT_GT(round_trip(noise), 4096u * 4);
    buffer_clear(&in);
    buffer_clear(&wire);
    buffer_compress(&sender, &in, &wire);
    EXPECT_EQ(buffer_len(&wire), 0u);

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

    // The level is checked after it is logged; streams never started fail on
    // first use; statistics without traffic give factor 0.
    log_set_level(SYSLOG_LEVEL_DEBUG);
    PacketContext idle{};
    for (const char* level : {"0", "10"}) {
        EXPECT_EQ(Outcome([&] { buffer_compress_init(&idle, std::stoi(level)); }),
                  std::string("debug: Enabling compression at level ") + level +
                      ".\r\n! Bad compression level " + level + ".");
    }
    EXPECT_EQ(Outcome([&] { buffer_compress(&idle, &in, &out); }),
              "! buffer_compress: deflate returned -2");
    EXPECT_EQ(Outcome([&] { buffer_uncompress(&idle, &in, &out); }),
              "! buffer_uncompress: inflate returned -2");
    buffer_compress_init(&idle, 9);
    EXPECT_EQ(StderrOf([&] { buffer_compress_uninit(&idle); }),
              "debug: compress outgoing: raw data 0, compressed 0, factor 0.00\r\n"
              "debug: compress incoming: raw data 0, compressed 0, factor 0.00\r\n");
    for (Buffer* b : {&in, &wire, &out}) buffer_free(b);
}
