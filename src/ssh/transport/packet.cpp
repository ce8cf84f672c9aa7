#include "ssh/transport/packet.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <openssl/crypto.h>

#include "ssh/transport/compress.h"
#include "ssh/transport/hmac.h"
#include "ssh/transport/ssh1.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/crc32.h"
#include "ssh/wire/log.h"
#include "ssh/wire/random.h"
#include "ssh/wire/xmalloc.h"

namespace {

constexpr uint32_t kDefaultBlockSize = 8;

void free_text(char*& text, bool wipe = false) {
    if (text == nullptr) return;
    if (wipe) OPENSSL_cleanse(text, std::strlen(text));
    xfree(text);
    text = nullptr;
}

// Random bytes: one random_word for every fourth byte, its bytes lowest first.
void fill_random(unsigned char* bytes, uint32_t n) {
    uint32_t word = 0;
    for (uint32_t i = 0; i < n; i++) {
        if (i % 4 == 0) word = random_word();
        bytes[i] = static_cast<unsigned char>(word);
        word >>= 8;
    }
}

void start_compression(PacketContext* context, Comp* comp) {
    if (!context->compression_started) {
        buffer_compress_init(context, kPacketCompressionLevel);
        context->compression_started = 1;
    }
    comp->enabled = 1;
}

void release_direction(PacketDirection* direction) {
    cipher_state_free(direction->cipher);
    mac_state_free(direction->mac);
    *direction = PacketDirection{};
}

// Takes the new keys of one direction into use at NEWKEYS: the MAC from now
// on, the cipher from the next packet on. The cipher key and IV are wiped and
// released once the cipher state holds them.
void switch_keys(PacketContext* context, int mode, const char* no_kex) {
    KexResult* kex = context->kex;
    if (kex == nullptr || kex->enc[mode].key == nullptr || kex->enc[mode].iv == nullptr)
        fatal("%s", no_kex);
    Enc& enc = kex->enc[mode];
    Mac& mac = kex->mac[mode];
    Comp& comp = kex->comp[mode];
    PacketDirection* direction = &context->direction[mode];
    release_direction(direction);
    const CipherRow* row = enc.row != nullptr ? enc.row : cipher_row_by_number(enc.type);
    if (row != nullptr)
        direction->cipher =
            cipher_state_new(row, mode == MODE_OUT, enc.key, enc.key_len, enc.iv, enc.iv_len);
    direction->block_size = enc.block_size > 0 ? static_cast<uint32_t>(enc.block_size) : 8;
    if (mac.md != nullptr && (row == nullptr || !cipher_row_is_aead(row))) {
        mac.enabled = 1;
        direction->mac = mac_state_new(mac.md, mac.key, mac.key_len);
        direction->mac_len = static_cast<uint32_t>(mac.mac_len);
        direction->etm = mac.etm;
    }
    uint32_t wipe_key = std::max(kex->need, enc.key_len);
    uint32_t wipe_iv = std::max(kex->need, enc.iv_len);
    OPENSSL_cleanse(enc.key, wipe_key);
    OPENSSL_cleanse(enc.iv, wipe_iv);
    xfree(enc.key);
    xfree(enc.iv);
    enc.key = nullptr;
    enc.iv = nullptr;
    if (comp.type != COMP_NONE && !comp.enabled) start_compression(context, &comp);

    KexResult* replaced = context->keys_in_force[mode];
    context->keys_in_force[mode] = kex;
    if (replaced != nullptr && replaced != kex && replaced != context->keys_in_force[1 - mode])
        kex_result_free(replaced);
    if (mode == MODE_OUT) {
        context->bytes_sent_since_keys = 0;
    } else {
        context->bytes_received_since_keys = 0;
    }
}

bool is_aead(const PacketDirection& direction) {
    return direction.cipher != nullptr && cipher_row_is_aead(cipher_state_row(direction.cipher));
}

// --- SSH-1 framing ---

void packet_send1(PacketContext* context) {
    Buffer* packet = &context->outgoing_packet;
    if (buffer_len(packet) < 9) fatal("packet_send: no packet started");
    uint32_t length = buffer_len(packet) - 4;
    uint32_t padding = 8 - (length % 8);
    if (context->ssh1_cipher != SSH_CIPHER_NONE) {
        // The padding sits just in front of the type: fill it from there down.
        unsigned char* prefix = buffer_ptr(packet);
        uint32_t word = 0;
        for (uint32_t i = 0; i < padding; i++) {
            if (i % 4 == 0) word = random_word();
            prefix[7 - i] = static_cast<unsigned char>(word);
            word >>= 8;
        }
    }
    buffer_consume(packet, 8 - padding);
    uint32_t checksum = ssh_crc32(buffer_ptr(packet), buffer_len(packet));
    buffer_put_int(packet, checksum);

    buffer_put_int(&context->output, length);
    unsigned char* place = buffer_append_space(&context->output, buffer_len(packet));
    cipher_encrypt(&context->send_context, place, buffer_ptr(packet), buffer_len(packet));
    buffer_clear(packet);
}

int packet_read_poll1(PacketContext* context, int* payload_length) {
    Buffer* input = &context->input;
    Buffer* packet = &context->incoming_packet;
    if (buffer_len(input) < 4 + 8) return 0;
    uint32_t length = get_u32(buffer_ptr(input));
    if (length < 5 || length > kMaxPacketLength) fatal("Bad packet length %u.", length);
    uint32_t padded = (length + 8) & ~7u;
    if (buffer_len(input) < 4 + padded) return 0;

    buffer_consume(input, 4);
    buffer_clear(packet);
    unsigned char* place = buffer_append_space(packet, padded);
    cipher_decrypt(&context->receive_context, place, buffer_ptr(input), padded);
    buffer_consume(input, padded);

    uint32_t checksum = ssh_crc32(buffer_ptr(packet), buffer_len(packet) - 4);
    buffer_consume(packet, 8 - (length % 8));
    if (buffer_len(packet) != length)
        fatal("packet_read_poll: len %u != buffer_len %u.", length, buffer_len(packet));
    uint32_t received = get_u32(buffer_ptr(packet) + length - 4);
    if (checksum != received) fatal("Corrupted check bytes on input.");
    buffer_consume_end(packet, 4);

    int type = buffer_get_char(packet);
    *payload_length = static_cast<int>(buffer_len(packet));
    return type;
}

// --- SSH-2 framing ---

// One send path for the three framings: MAC over the plaintext (RFC 4253
// section 6), encrypt-then-MAC and AEAD. The last two keep the 4 length
// bytes out of the padding unit, since the length is not encrypted with the
// body.
void packet_send2(PacketContext* context) {
    Buffer* packet = &context->outgoing_packet;
    if (buffer_len(packet) < 6) fatal("packet_send: no packet started");
    KexResult* kex = context->keys_in_force[MODE_OUT];
    Comp* comp = kex != nullptr ? &kex->comp[MODE_OUT] : nullptr;
    PacketDirection& out = context->direction[MODE_OUT];
    const uint32_t block = out.block_size > 0 ? out.block_size : kDefaultBlockSize;
    const bool aead = is_aead(out);
    const bool length_apart = aead || (out.mac != nullptr && out.etm);
    int type = buffer_ptr(packet)[5];
    if (context->kex_sending && type >= 50)
        fatal("packet_send2: message %d during a key exchange", type);
    if (type == SSH2_MSG_KEXINIT) context->kex_sending = 1;

    if (comp != nullptr && comp->enabled) {
        Buffer* scratch = &context->compression_buffer;
        buffer_clear(scratch);
        buffer_consume(packet, 5);
        buffer_compress(context, packet, scratch);
        buffer_clear(packet);
        std::memset(buffer_append_space(packet, 5), 0, 5);
        buffer_append(packet, buffer_ptr(scratch), buffer_len(scratch));
    }

    const uint32_t aligned = buffer_len(packet) - (length_apart ? 4 : 0);
    uint32_t padding = block - (aligned % block);
    if (padding < 4) padding += block;
    unsigned char* pad = buffer_append_space(packet, padding);
    if (out.cipher != nullptr) {
        fill_random(pad, padding);
    } else {
        std::memset(pad, 0, padding);
    }
    unsigned char* bytes = buffer_ptr(packet);
    const uint32_t total = buffer_len(packet);
    put_u32(bytes, total - 4);
    bytes[4] = static_cast<unsigned char>(padding);
    const uint32_t seqnr = context->send_seqnr;

    if (aead) {
        const uint32_t tag = cipher_state_row(out.cipher)->tag_len;
        unsigned char* place = buffer_append_space(&context->output, total + tag);
        cipher_state_aead_seal(out.cipher, seqnr, place, bytes, total);
    } else if (out.mac != nullptr && out.etm) {
        unsigned char* place = buffer_append_space(&context->output, total + out.mac_len);
        std::memcpy(place, bytes, 4);
        cipher_state_crypt(out.cipher, place + 4, bytes + 4, total - 4);
        unsigned char digest[EVP_MAX_MD_SIZE];
        mac_state_compute(out.mac, seqnr, place, total, digest);
        std::memcpy(place + total, digest, out.mac_len);
    } else {
        unsigned char digest[EVP_MAX_MD_SIZE];
        if (out.mac != nullptr) mac_state_compute(out.mac, seqnr, bytes, total, digest);
        unsigned char* place = buffer_append_space(&context->output, total + out.mac_len);
        if (out.cipher != nullptr) {
            cipher_state_crypt(out.cipher, place, bytes, total);
        } else {
            std::memcpy(place, bytes, total);
        }
        if (out.mac != nullptr) std::memcpy(place + total, digest, out.mac_len);
    }
    context->bytes_sent_since_keys +=
        total + (aead ? cipher_state_row(out.cipher)->tag_len : out.mac_len);

    if (++context->send_seqnr == 0) log("outgoing seqnr wraps around");
    buffer_clear(packet);

    if (type == SSH2_MSG_NEWKEYS) {
        switch_keys(context, MODE_OUT, "packet_send2: no KEX");
        context->kex_sending = 0;
    }
}

// The message for every integrity failure once keys are in force: a bad
// length, a bad MAC and a bad AEAD tag end the connection alike.
constexpr const char* kCorrupted = "Corrupted HMAC on input.";

// The length check. Before keys a bad length is reported as such; once keys
// are in force it only poisons the packet (see PacketContext).
bool length_acceptable(PacketContext* context, uint32_t length, uint32_t block, bool length_apart) {
    const uint32_t aligned = length_apart ? length : length + 4;
    if (length >= 5 && length <= kMaxPacketLength && aligned % block == 0) return true;
    const PacketDirection& in = context->direction[MODE_IN];
    if (in.cipher != nullptr || in.mac != nullptr) return false;
    if (length < 5 || length > kMaxPacketLength) {
        buffer_dump(&context->incoming_packet);
        fatal("Bad packet length %u.", length);
    }
    int64_t need = int64_t{4} + length - block;
    fatal("padding error: need %lld block %u mod %lld", static_cast<long long>(need), block,
          static_cast<long long>(need % block));
}

// One receive path for the three framings. The classic framing decrypts the
// first block to learn the length and keeps it in the packet buffer; the
// other two read the length from the first 4 wire bytes, leave them in the
// input until the whole packet has arrived and check the MAC or tag over the
// wire bytes before decrypting anything else.
int packet_read_poll2(PacketContext* context, int* payload_length) {
    Buffer* input = &context->input;
    Buffer* packet = &context->incoming_packet;
    KexResult* kex = context->keys_in_force[MODE_IN];
    Comp* comp = kex != nullptr ? &kex->comp[MODE_IN] : nullptr;
    PacketDirection& in = context->direction[MODE_IN];
    const uint32_t block = in.block_size > 0 ? in.block_size : kDefaultBlockSize;
    const bool aead = is_aead(in);
    const bool etm = !aead && in.mac != nullptr && in.etm;
    const bool length_apart = aead || etm;
    const uint32_t trailer = aead ? cipher_state_row(in.cipher)->tag_len : in.mac_len;
    const uint32_t seqnr = context->read_seqnr;

    if (context->packet_length == 0) {
        uint32_t length = 0;
        if (length_apart) {
            if (buffer_len(input) < 4) return 0;
            length = aead ? cipher_state_aead_length(in.cipher, seqnr, buffer_ptr(input))
                          : get_u32(buffer_ptr(input));
            buffer_clear(packet);
        } else {
            // The first block tells the length; it is decrypted once and kept
            // until the rest of the packet has arrived.
            if (buffer_len(input) < block) return 0;
            buffer_clear(packet);
            unsigned char* place = buffer_append_space(packet, block);
            if (in.cipher != nullptr) {
                cipher_state_crypt(in.cipher, place, buffer_ptr(input), block);
            } else {
                std::memcpy(place, buffer_ptr(input), block);
            }
            length = get_u32(buffer_ptr(packet));
        }
        if (!length_acceptable(context, length, block, length_apart)) {
            context->receive_poisoned = 1;
            length = std::min(std::max(length, block), kMaxPacketLength);
            // Nothing decrypted of this packet is kept.
            buffer_clear(packet);
        }
        if (!length_apart) buffer_consume(input, block);
        context->packet_length = length;
    }
    const uint32_t consumed = length_apart ? 0 : block;
    const uint32_t rest = 4 + context->packet_length - consumed;
    if (buffer_len(input) < rest + trailer) return 0;
    if (context->receive_poisoned) fatal("%s", kCorrupted);

    const unsigned char* wire = buffer_ptr(input);
    if (aead) {
        unsigned char* place = buffer_append_space(packet, rest);
        if (!cipher_state_aead_open(in.cipher, seqnr, place, wire, rest)) fatal("%s", kCorrupted);
    } else if (etm) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        mac_state_compute(in.mac, seqnr, wire, rest, digest);
        if (CRYPTO_memcmp(digest, wire + rest, in.mac_len) != 0) fatal("%s", kCorrupted);
        unsigned char* place = buffer_append_space(packet, rest);
        std::memcpy(place, wire, 4);
        cipher_state_crypt(in.cipher, place + 4, wire + 4, rest - 4);
    } else {
        unsigned char* place = buffer_append_space(packet, rest);
        if (in.cipher != nullptr) {
            cipher_state_crypt(in.cipher, place, wire, rest);
        } else {
            std::memcpy(place, wire, rest);
        }
        if (in.mac != nullptr) {
            unsigned char digest[EVP_MAX_MD_SIZE];
            mac_state_compute(in.mac, seqnr, buffer_ptr(packet), buffer_len(packet), digest);
            if (CRYPTO_memcmp(digest, wire + rest, in.mac_len) != 0) {
                buffer_clear(packet);
                fatal("%s", kCorrupted);
            }
        }
    }
    buffer_consume(input, rest + trailer);
    if (++context->read_seqnr == 0) log("incoming seqnr wraps around");
    context->bytes_received_since_keys += 4 + context->packet_length + trailer;

    uint32_t padding = buffer_ptr(packet)[4];
    // Besides the minimum, the padding must leave room for the type byte.
    if (padding < 4 || padding > context->packet_length - 2)
        fatal("Corrupted padlen %u on input.", padding);
    buffer_consume(packet, 5);
    buffer_consume_end(packet, padding);

    if (comp != nullptr && comp->enabled) {
        Buffer* scratch = &context->decompression_buffer;
        buffer_clear(scratch);
        buffer_uncompress(context, packet, scratch);
        buffer_clear(packet);
        buffer_append(packet, buffer_ptr(scratch), buffer_len(scratch));
    }
    context->packet_length = 0;
    int type = buffer_get_char(packet);
    *payload_length = static_cast<int>(buffer_len(packet));
    if (type == SSH2_MSG_NEWKEYS) switch_keys(context, MODE_IN, "packet_read_poll2: no KEX");
    return type;
}

bool valid_direction(const KexResult* kex, int mode) {
    const Enc& enc = kex->enc[mode];
    const Mac& mac = kex->mac[mode];
    if (enc.key == nullptr || enc.iv == nullptr || mac.key == nullptr) return false;
    // Every cipher works on 8-byte units; the MAC must fit the digest block.
    if (enc.block_size <= 0 || enc.block_size % 8 != 0 || enc.block_size > 256) return false;
    if (mac.mac_len < 0 || mac.mac_len > kHmacBlockSize) return false;
    if (mac.md != nullptr && mac.mac_len > EVP_MD_get_size(mac.md)) return false;
    return true;
}

}  // namespace

// --- Set-up ---

void packet_set_io_hooks(PacketContext* context, PacketWriteHook write_hook,
                         PacketReadHook read_hook) {
    context->write_hook = write_hook;
    context->read_hook = read_hook;
}

void packet_free(PacketContext* context) {
    if (context->compression_started) buffer_compress_uninit(context);
    buffer_free(&context->input);
    buffer_free(&context->output);
    buffer_free(&context->outgoing_packet);
    buffer_free(&context->incoming_packet);
    buffer_free(&context->compression_buffer);
    buffer_free(&context->decompression_buffer);
    // Up to three distinct records: the newest and the ones in force.
    KexResult* in = context->keys_in_force[MODE_IN];
    KexResult* out = context->keys_in_force[MODE_OUT];
    if (in != nullptr && in != context->kex) kex_result_free(in);
    if (out != nullptr && out != context->kex && out != in) kex_result_free(out);
    kex_result_free(context->kex);
    release_direction(&context->direction[MODE_IN]);
    release_direction(&context->direction[MODE_OUT]);
    free_text(context->cipher_list);
    free_text(context->kex_list);
    free_text(context->hostkey_list);
    free_text(context->mac_list);
    free_text(context->client_version_string);
    free_text(context->server_version_string);
    if (context->session_id2 != nullptr) {
        OPENSSL_cleanse(context->session_id2, context->session_id2_len);
        xfree(context->session_id2);
    }
    free_text(context->password, true);
    free_text(context->keyfile);

    TSSHConnection* owner = context->owner;
    PacketWriteHook write_hook = context->write_hook;
    PacketReadHook read_hook = context->read_hook;
    OPENSSL_cleanse(context, sizeof *context);
    context->owner = owner;
    context->write_hook = write_hook;
    context->read_hook = read_hook;
}

void packet_set_ssh2_format(PacketContext* context) {
    context->use_ssh2_packet_format = 1;
}

void packet_set_encryption_key(PacketContext* context, const unsigned char* key,
                               uint32_t key_length, int number) {
    if (key_length < 20) fatal("keylen too small: %u", key_length);
    int length = static_cast<int>(std::min<uint32_t>(key_length, 32));
    cipher_set_key(&context->receive_context, number, key, length);
    cipher_set_key(&context->send_context, number, key, length);
    context->ssh1_cipher = number;
}

void packet_set_kex(PacketContext* context, KexResult* kex) {
    // The previous newest record may only give way once both directions use
    // it; until then it is still waiting for a NEWKEYS.
    KexResult* previous = context->kex;
    const bool waiting = previous != nullptr && (context->keys_in_force[MODE_IN] != previous ||
                                                 context->keys_in_force[MODE_OUT] != previous);
    if (kex == nullptr || kex == previous || waiting || !valid_direction(kex, MODE_IN) ||
        !valid_direction(kex, MODE_OUT)) {
        if (kex != context->kex) kex_result_free(kex);
        fatal("bad KEX");
    }
    for (int mode = MODE_IN; mode <= MODE_OUT; mode++) {
        const uint32_t need = kex->need;
        if (kex->enc[mode].key_len > need || kex->enc[mode].iv_len > need ||
            kex->mac[mode].key_len > need) {
            kex_result_free(kex);
            fatal("bad KEX");
        }
    }
    context->kex = kex;
}

void packet_set_protocol_flags(PacketContext* context, uint32_t flags) {
    context->protocol_flags = flags;
}

uint32_t packet_get_protocol_flags(PacketContext* context) {
    return context->protocol_flags;
}

// --- Building and sending ---

void packet_start(PacketContext* context, int type) {
    Buffer* packet = &context->outgoing_packet;
    buffer_clear(packet);
    uint32_t reserved = context->use_ssh2_packet_format ? 5 : 8;
    std::memset(buffer_append_space(packet, reserved), 0, reserved);
    buffer_put_char(packet, type);
}

void packet_put_char(PacketContext* context, int value) {
    buffer_put_char(&context->outgoing_packet, value);
}

void packet_put_int(PacketContext* context, uint32_t value) {
    buffer_put_int(&context->outgoing_packet, value);
}

void packet_put_string(PacketContext* context, const void* bytes, uint32_t n) {
    buffer_put_string(&context->outgoing_packet, bytes, n);
}

void packet_put_cstring(PacketContext* context, const char* text) {
    buffer_put_cstring(&context->outgoing_packet, text);
}

void packet_put_raw(PacketContext* context, const void* bytes, uint32_t n) {
    buffer_append(&context->outgoing_packet, bytes, n);
}

void packet_put_bignum(PacketContext* context, const BIGNUM* number) {
    buffer_put_bignum(&context->outgoing_packet, number);
}

void packet_put_bignum2(PacketContext* context, const BIGNUM* number) {
    buffer_put_bignum2(&context->outgoing_packet, number);
}

void packet_send(PacketContext* context) {
    if (context->use_ssh2_packet_format) {
        packet_send2(context);
    } else {
        packet_send1(context);
    }
}

void packet_write_poll(PacketContext* context) {
    uint32_t length = buffer_len(&context->output);
    if (length == 0) return;
    if (context->write_hook == nullptr) fatal("packet_write_poll: no write hook installed");
    context->write_hook(context, buffer_ptr(&context->output), length);
    buffer_consume(&context->output, length);
}

void packet_write_wait(PacketContext* context) {
    while (packet_have_data_to_write(context)) packet_write_poll(context);
}

int packet_have_data_to_write(PacketContext* context) {
    return buffer_len(&context->output) != 0;
}

// --- Receiving ---

int packet_read_poll(PacketContext* context, int* payload_length) {
    int ignored_length;
    if (payload_length == nullptr) payload_length = &ignored_length;
    for (;;) {
        *payload_length = 0;
        int type = context->use_ssh2_packet_format ? packet_read_poll2(context, payload_length)
                                                   : packet_read_poll1(context, payload_length);
        if (type == 0) return 0;
        if (context->compat20) {
            if (type == SSH2_MSG_IGNORE) continue;
            if (type == SSH2_MSG_DEBUG) {
                packet_get_char(context);  // always-display flag
                uint32_t length = 0;
                XmallocPtr<char> message(static_cast<char*>(packet_get_string(context, &length)));
                XmallocPtr<char> language(static_cast<char*>(packet_get_string(context, nullptr)));
                debug("Remote: %s",
                      log_sanitize(message.get(), std::min<uint32_t>(length, 900), 900).c_str());
                continue;
            }
            if (type == SSH2_MSG_DISCONNECT) {
                uint32_t reason = packet_get_int(context);
                char text[kLogMessageSize];
                {
                    uint32_t length = 0;
                    XmallocPtr<char> description(
                        static_cast<char*>(packet_get_string(context, &length)));
                    std::snprintf(
                        text, sizeof text, "Received disconnect: %u: %s", reason,
                        log_sanitize(description.get(), std::min<uint32_t>(length, 900), 900)
                            .c_str());
                }
                fatal("%s", text);
            }
        } else {
            if (type == SSH_MSG_IGNORE) continue;
            if (type == SSH_MSG_DEBUG) {
                uint32_t length = 0;
                XmallocPtr<char> message(static_cast<char*>(packet_get_string(context, &length)));
                debug("Remote: %s",
                      log_sanitize(message.get(), std::min<uint32_t>(length, 900), 900).c_str());
                continue;
            }
            if (type == SSH_MSG_DISCONNECT) {
                char text[kLogMessageSize];
                {
                    uint32_t length = 0;
                    XmallocPtr<char> message(
                        static_cast<char*>(packet_get_string(context, &length)));
                    std::snprintf(
                        text, sizeof text, "Received disconnect: %s",
                        log_sanitize(message.get(), std::min<uint32_t>(length, 900), 900).c_str());
                }
                fatal("%s", text);
            }
        }
        return type;
    }
}

int packet_read(PacketContext* context, int* payload_length) {
    int ignored_length;
    if (payload_length == nullptr) payload_length = &ignored_length;
    for (;;) {
        int type = packet_read_poll(context, payload_length);
        if (!context->use_ssh2_packet_format &&
            (type == SSH_SMSG_SUCCESS || type == SSH_SMSG_FAILURE || type == SSH_CMSG_EOF ||
             type == SSH_CMSG_EXIT_CONFIRMATION) &&
            *payload_length != 0) {
            log("Packet integrity error (%d != %d) at %s:%d", *payload_length, 0, __FILE__,
                __LINE__);
            fatal("Packet integrity error. (%d)", type);
        }
        if (type != 0) return type;

        if (context->read_hook == nullptr) fatal("packet_read: no read hook installed");
        // The hook fills the input buffer in place: received bytes are
        // copied once, by the socket, rather than through a chunk.
        unsigned char* space = packet_input_reserve(context, kPacketReadChunk);
        int got = 0;
        try {
            got = context->read_hook(context, space, kPacketReadChunk);
        } catch (...) {
            // A cancelled or failed read leaves no reserved bytes behind to
            // be taken for received ones.
            packet_input_commit(context, kPacketReadChunk, 0);
            throw;
        }
        const uint32_t used = got > 0 ? std::min(static_cast<uint32_t>(got), kPacketReadChunk) : 0;
        packet_input_commit(context, kPacketReadChunk, used);
        if (got == 0) fatal("Connection closed by XXX");
        if (got < 0) fatal("Read from socket failed: %.100s", std::strerror(errno));
        if (static_cast<uint32_t>(got) > kPacketReadChunk)
            fatal("packet_read: read hook returned %d bytes for %u", got, kPacketReadChunk);
    }
}

void packet_read_expect(PacketContext* context, int* payload_length, int expected_type) {
    int type = packet_read(context, payload_length);
    if (type != expected_type)
        fatal("Protocol error: expected packet type %d, got %d", expected_type, type);
}

void packet_process_incoming(PacketContext* context, const void* bytes, uint32_t n) {
    buffer_append(&context->input, bytes, n);
}

unsigned char* packet_input_reserve(PacketContext* context, uint32_t n) {
    return buffer_append_space(&context->input, n);
}

void packet_input_commit(PacketContext* context, uint32_t reserved, uint32_t used) {
    if (used > reserved) fatal("packet_input_commit: %u bytes used of %u", used, reserved);
    buffer_consume_end(&context->input, reserved - used);
}

int packet_get_char(PacketContext* context) {
    return buffer_get_char(&context->incoming_packet);
}

uint32_t packet_get_int(PacketContext* context) {
    return buffer_get_int(&context->incoming_packet);
}

void* packet_get_string(PacketContext* context, uint32_t* length) {
    return buffer_get_string(&context->incoming_packet, length);
}

void packet_get_bignum(PacketContext* context, BIGNUM* number, int* bytes) {
    int consumed = buffer_get_bignum(&context->incoming_packet, number);
    if (bytes != nullptr) *bytes = consumed;
}

void packet_get_bignum2(PacketContext* context, BIGNUM* number, int* length) {
    int consumed = buffer_get_bignum2(&context->incoming_packet, number);
    if (length != nullptr) *length = consumed;
}

unsigned char* packet_get_raw(PacketContext* context, int* length) {
    if (length != nullptr) *length = static_cast<int>(buffer_len(&context->incoming_packet));
    return buffer_ptr(&context->incoming_packet);
}

int packet_remaining(PacketContext* context) {
    return static_cast<int>(buffer_len(&context->incoming_packet));
}
