// Feeds arbitrary server bytes to the SSH packet layer, in plaintext and after
// keys are set, and reads every delivered payload. The only allowed way out of
// bad input is `fatal` (a TException here); crashes, hangs and leaks are bugs.
//
// Input layout: byte 0 picks the framing and keys, byte 1 the cipher, MAC,
// compression and how the bytes arrive; the rest is either the raw byte stream
// or, in "framed" mode, records that a correctly keyed sender turns into
// packets (type, 16-bit length, payload) before one byte may be corrupted.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/exception.h"
#include "ssh/transport/cipher.h"
#include "ssh/transport/packet.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/log.h"
#include "ssh/wire/xmalloc.h"

namespace {

constexpr uint32_t kNeed = 24;
const unsigned char kSessionKey[32] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6,
                                       7, 8, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 1, 2, 3};

struct Wire {
    PacketContext context{};
    std::string bytes;  // written (sender) or to be read (receiver)
    size_t position = 0;
    size_t chunk = 1;

    Wire() {
        context.owner = reinterpret_cast<TSSHConnection*>(this);
        packet_set_io_hooks(&context, Write, Read);
    }
    ~Wire() { packet_free(&context); }
    static Wire* Of(PacketContext* context) { return reinterpret_cast<Wire*>(context->owner); }
    static void Write(PacketContext* context, const void* data, uint32_t n) {
        Of(context)->bytes.append(static_cast<const char*>(data), n);
    }
    static int Read(PacketContext* context, void* buffer, uint32_t n) {
        Wire* self = Of(context);
        size_t count = std::min({self->bytes.size() - self->position, size_t{n}, self->chunk});
        std::memcpy(buffer, self->bytes.data() + self->position, count);
        self->position += count;
        return static_cast<int>(count);  // 0 once exhausted: "Connection closed"
    }
};

unsigned char* Material(unsigned char seed) {
    auto* bytes = static_cast<unsigned char*>(xmalloc(kNeed));
    for (uint32_t i = 0; i < kNeed; i++) bytes[i] = static_cast<unsigned char>(seed * 31 + i);
    return bytes;
}

// The same keys in both directions, so a sender's outgoing side matches a
// receiver's incoming side.
KexResult* MakeKex(int cipher, const EVP_MD* md, int compression) {
    auto* kex = static_cast<KexResult*>(xmalloc(sizeof(KexResult)));
    *kex = KexResult{};
    kex->need = kNeed;
    for (int mode = MODE_IN; mode <= MODE_OUT; mode++) {
        kex->enc[mode].type = cipher;
        kex->enc[mode].block_size = 8;
        kex->enc[mode].key = Material(1);
        kex->enc[mode].iv = Material(2);
        kex->enc[mode].key_len = cipher == SSH_CIPHER_3DES_CBC ? 24 : 16;
        kex->enc[mode].iv_len = 8;
        kex->mac[mode].md = md;
        kex->mac[mode].mac_len = md != nullptr ? EVP_MD_get_size(md) : 0;
        kex->mac[mode].key = Material(3);
        kex->mac[mode].key_len = 16;
        kex->comp[mode].type = compression;
    }
    return kex;
}

struct Setup {
    bool ssh2;
    bool keyed;
    bool framed;
    int cipher;
    const EVP_MD* md;
    int compression;
};

void Configure(Wire& wire, const Setup& setup, Wire* newkeys_to) {
    if (!setup.ssh2) {
        if (setup.keyed) packet_set_encryption_key(&wire.context, kSessionKey, 32, setup.cipher);
        return;
    }
    wire.context.compat20 = 1;
    packet_set_ssh2_format(&wire.context);
    if (!setup.keyed) return;
    packet_set_kex(&wire.context, MakeKex(setup.cipher, setup.md, setup.compression));
    if (newkeys_to != nullptr) {
        // A sender switches by sending NEWKEYS, which the receiver then reads.
        packet_start(&wire.context, SSH2_MSG_NEWKEYS);
        packet_send(&wire.context);
        packet_write_wait(&wire.context);
        newkeys_to->bytes += wire.bytes;
        wire.bytes.clear();
    }
}

// Takes every field a handler might read, driven by the type.
void Consume(PacketContext* context, int type) {
    for (int step = 0; packet_remaining(context) > 0 && step < 64; step++) {
        switch ((type + step) % 5) {
            case 0: {
                XmallocPtr<char> text(static_cast<char*>(packet_get_string(context, nullptr)));
                break;
            }
            case 1:
                packet_get_int(context);
                break;
            case 2: {
                BIGNUM* number = BN_new();
                try {
                    if (context->use_ssh2_packet_format) {
                        packet_get_bignum2(context, number, nullptr);
                    } else {
                        packet_get_bignum(context, number, nullptr);
                    }
                } catch (...) {
                    BN_free(number);
                    throw;
                }
                BN_free(number);
                break;
            }
            case 3:
                packet_get_raw(context, nullptr);
                packet_get_char(context);
                break;
            default:
                packet_get_char(context);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    log_set_level(SYSLOG_LEVEL_QUIET);
    const uint8_t mode = data[0], select = data[1];
    data += 2;
    size -= 2;

    Setup setup{};
    setup.ssh2 = (mode & 1) != 0;
    setup.keyed = (mode & 2) != 0;
    setup.framed = (mode & 4) != 0;
    const bool corrupt = (mode & 8) != 0;
    if (setup.ssh2) {
        static const int kCiphers[] = {SSH_CIPHER_BLOWFISH_CBC, SSH_CIPHER_3DES_CBC,
                                       SSH_CIPHER_ARCFOUR, SSH_CIPHER_CAST128_CBC};
        setup.cipher = kCiphers[select & 3];
        setup.md = (select & 4) ? nullptr : ((select & 8) ? EVP_sha1() : EVP_md5());
        setup.compression = (select & 16) ? COMP_ZLIB : COMP_NONE;
    } else {
        setup.cipher = (select & 1) ? SSH_CIPHER_3DES : SSH_CIPHER_BLOWFISH;
    }

    Wire receiver;
    receiver.chunk = 1 + (select >> 5) * 37;
    try {
        if (setup.framed) {
            Wire sender;
            Configure(sender, setup, &receiver);
            Configure(receiver, setup, nullptr);
            size_t at = 0;
            while (at + 3 <= size) {
                int type = data[at];
                size_t length = std::min<size_t>((data[at + 1] << 8) | data[at + 2], size - at - 3);
                packet_start(&sender.context, type);
                packet_put_raw(&sender.context, data + at + 3, static_cast<uint32_t>(length));
                packet_send(&sender.context);
                packet_write_wait(&sender.context);
                at += 3 + length;
            }
            if (corrupt && !sender.bytes.empty() && size > 0)
                sender.bytes[(data[0] * 251u + size) % sender.bytes.size()] ^= 1 << (size % 8);
            receiver.bytes += sender.bytes;
        } else {
            Configure(receiver, setup, nullptr);
            if (setup.keyed && setup.ssh2) {
                // Switch the receiver to its keys with a plaintext NEWKEYS.
                Wire plain;
                packet_set_ssh2_format(&plain.context);
                packet_start(&plain.context, SSH2_MSG_NEWKEYS);
                packet_send(&plain.context);
                packet_write_wait(&plain.context);
                receiver.bytes += plain.bytes;
            }
            receiver.bytes.append(reinterpret_cast<const char*>(data), size);
        }
        // Reads until the bytes run out ("Connection closed") or a fatal.
        for (;;) {
            int length = 0;
            int type = packet_read(&receiver.context, &length);
            if (length != packet_remaining(&receiver.context)) __builtin_trap();
            Consume(&receiver.context, type);
        }
    } catch (const TException&) {
    }
    return 0;
}
