#include "ssh/transport/kex.h"

#include <algorithm>
#include <cstring>

#include "ssh/transport/cipher.h"
#include "ssh/transport/compat.h"
#include "ssh/transport/dh.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/log.h"
#include "ssh/wire/random.h"
#include "ssh/wire/scoped.h"
#include "ssh/wire/xmalloc.h"

namespace {

struct CipherParameters {
    int number;
    uint32_t key_len;
    uint32_t iv_len;
    int block_size;
};

constexpr CipherParameters kCiphers[] = {
    {SSH_CIPHER_BLOWFISH_CBC, 16, 8, 8},
    {SSH_CIPHER_3DES_CBC, 24, 8, 8},
    {SSH_CIPHER_ARCFOUR, 16, 0, 8},
    {SSH_CIPHER_CAST128_CBC, 16, 8, 8},
};

// The ten server lists, released when the scope is left.
struct ServerProposal {
    char* list[PROPOSAL_MAX] = {};
    ~ServerProposal() {
        for (char*& text : list)
            if (text != nullptr) xfree(text);
    }
};

struct KexResultFree {
    void operator()(KexResult* kex) const { kex_result_free(kex); }
};
using KexResultPtr = std::unique_ptr<KexResult, KexResultFree>;

void integrity_check(PacketContext* context, int line) {
    int remaining = packet_remaining(context);
    if (remaining > 0) {
        log("Packet integrity error (%d bytes remaining) at %s:%d", remaining, __FILE__, line);
        fatal("Packet integrity error.");
    }
}

void choose_enc(Enc* enc, const char* own, const char* server) {
    XmallocPtr<char> name(match_first(own, server));
    if (!name) fatal("no matching cipher found: client %s server %s", own, server);
    int number = cipher_number(name.get());
    const CipherParameters* found = nullptr;
    for (const CipherParameters& parameters : kCiphers)
        if (parameters.number == number) found = &parameters;
    if (found == nullptr) fatal("unsupported cipher %s", name.get());
    enc->type = number;
    enc->key_len = found->key_len;
    enc->iv_len = found->iv_len;
    enc->block_size = found->block_size;
    enc->enabled = 0;
    enc->key = nullptr;
    enc->iv = nullptr;
    enc->name = name.release();
}

void choose_mac(Mac* mac, const char* own, const char* server, int datafellows) {
    XmallocPtr<char> name(match_first(own, server));
    if (!name) fatal("no matching mac found: client %s server %s", own, server);
    if (std::strcmp(name.get(), "hmac-md5") == 0) {
        mac->md = EVP_md5();
    } else if (std::strcmp(name.get(), "hmac-sha1") == 0) {
        mac->md = EVP_sha1();
    } else if (std::strcmp(name.get(), KEX_MAC_RIPEMD160) == 0) {
        mac->md = EVP_ripemd160();
    } else {
        fatal("unsupported mac %s", name.get());
    }
    if (mac->md == nullptr) fatal("unsupported mac %s", name.get());
    mac->mac_len = EVP_MD_get_size(mac->md);
    mac->key_len = (datafellows & SSH_BUG_HMACKEY) ? 16 : static_cast<uint32_t>(mac->mac_len);
    mac->enabled = 0;
    mac->key = nullptr;
    mac->name = name.release();
}

void choose_comp(Comp* comp, const char* own, const char* server) {
    XmallocPtr<char> name(match_first(own, server));
    if (!name) fatal("no matching comp found: client %s server %s", own, server);
    if (std::strcmp(name.get(), "zlib") == 0) {
        comp->type = COMP_ZLIB;
    } else if (std::strcmp(name.get(), "none") == 0) {
        comp->type = COMP_NONE;
    } else {
        fatal("unsupported comp %s", name.get());
    }
    comp->name = name.release();
}

// The ten lists of a KEXINIT payload (after the message number) into
// `lists` (new xmalloc texts); trailing bytes are an integrity error.
void split_kexinit(Buffer* payload, char* lists[PROPOSAL_MAX]) {
    for (int i = 0; i < 16; i++) buffer_get_char(payload);  // cookie
    for (int i = 0; i < PROPOSAL_MAX; i++) {
        lists[i] = static_cast<char*>(buffer_get_string(payload, nullptr));
        debug("got kexinit: %s", lists[i]);
    }
    debug("first kex follow: %d", buffer_get_char(payload));
    debug("reserved: %u", buffer_get_int(payload));
    const uint32_t remaining = buffer_len(payload);
    if (remaining > 0) {
        log("Packet integrity error (%u bytes remaining) at %s:%d", remaining, __FILE__, __LINE__);
        fatal("Packet integrity error.");
    }
}

}  // namespace

void kex_make_proposal(const PacketContext* context, const char* proposal[PROPOSAL_MAX]) {
    proposal[PROPOSAL_KEX_ALGS] = KEX_DH1;
    proposal[PROPOSAL_SERVER_HOST_KEY_ALGS] = "ssh-dss";
    const char* ciphers = KEX_DEFAULT_ENCRYPT;
    if (context->cipher_list != nullptr) {
        ciphers = context->cipher_list;
    } else if (context->cipher_type == SSH_CIPHER_3DES) {
        ciphers = "3des-cbc";
    } else if (context->cipher_type == SSH_CIPHER_BLOWFISH) {
        ciphers = "blowfish-cbc";
    }
    proposal[PROPOSAL_ENC_ALGS_CTOS] = ciphers;
    proposal[PROPOSAL_ENC_ALGS_STOC] = ciphers;
    proposal[PROPOSAL_MAC_ALGS_CTOS] = KEX_DEFAULT_MAC;
    proposal[PROPOSAL_MAC_ALGS_STOC] = KEX_DEFAULT_MAC;
    const char* compression = context->compression ? "zlib" : "none";
    proposal[PROPOSAL_COMP_ALGS_CTOS] = compression;
    proposal[PROPOSAL_COMP_ALGS_STOC] = compression;
    proposal[PROPOSAL_LANG_CTOS] = "";
    proposal[PROPOSAL_LANG_STOC] = "";
}

void kex_build_kexinit(Buffer* out, const char* const proposal[PROPOSAL_MAX]) {
    buffer_init(out);
    unsigned char cookie[16];
    uint32_t word = 0;
    for (int i = 0; i < 16; i++) {
        if (i % 4 == 0) word = random_word();
        cookie[i] = static_cast<unsigned char>(word);
        word >>= 8;
    }
    buffer_append(out, cookie, sizeof cookie);
    for (int i = 0; i < PROPOSAL_MAX; i++) buffer_put_cstring(out, proposal[i]);
    buffer_put_char(out, 0);  // first_kex_packet_follows
    buffer_put_int(out, 0);   // reserved
}

void kex_send_receive_kexinit(PacketContext* context, const Buffer* own, Buffer* server,
                              char* server_proposal[PROPOSAL_MAX]) {
    kex_send_kexinit(context, own);
    debug("wait KEXINIT");
    packet_read_expect(context, nullptr, SSH2_MSG_KEXINIT);
    kex_parse_kexinit(context, server, server_proposal);
}

void kex_send_kexinit(PacketContext* context, const Buffer* own) {
    debug("send KEXINIT");
    packet_start(context, SSH2_MSG_KEXINIT);
    packet_put_raw(context, buffer_ptr(own), buffer_len(own));
    packet_send(context);
    packet_write_wait(context);
    debug("done");
}

void kex_parse_kexinit(PacketContext* context, Buffer* server,
                       char* server_proposal[PROPOSAL_MAX]) {
    int length = 0;
    unsigned char* payload = packet_get_raw(context, &length);
    buffer_append(server, payload, static_cast<uint32_t>(length));
    ScopedBuffer parse;
    buffer_append(parse.get(), payload, static_cast<uint32_t>(length));
    buffer_consume(&context->incoming_packet, static_cast<uint32_t>(length));
    split_kexinit(parse.get(), server_proposal);
}

char* match_first(const char* own, const char* server) {
    XmallocPtr<char> own_copy(xstrdup(own));
    XmallocPtr<char> server_copy(xstrdup(server));
    const char* names[kMaxServerNames];
    int count = 0;
    char* rest = server_copy.get();
    while (count < kMaxServerNames) {
        char* name = strsep(&rest, ",");
        if (name == nullptr || *name == '\0') break;
        names[count++] = name;
    }
    rest = own_copy.get();
    for (;;) {
        char* name = strsep(&rest, ",");
        if (name == nullptr || *name == '\0') return nullptr;
        for (int i = 0; i < count; i++)
            if (std::strcmp(name, names[i]) == 0) return xstrdup(name);
    }
}

KexResult* kex_choose(const PacketContext* context, const char* const own[PROPOSAL_MAX],
                      char* const server[PROPOSAL_MAX]) {
    auto* raw = static_cast<KexResult*>(xmalloc(sizeof(KexResult)));
    std::memset(raw, 0, sizeof *raw);
    KexResultPtr kex(raw);
    kex->server = 0;
    for (int mode = MODE_IN; mode <= MODE_OUT; mode++) {
        // Incoming takes the server-to-client lists, outgoing the others.
        int enc_index = mode == MODE_OUT ? PROPOSAL_ENC_ALGS_CTOS : PROPOSAL_ENC_ALGS_STOC;
        int mac_index = mode == MODE_OUT ? PROPOSAL_MAC_ALGS_CTOS : PROPOSAL_MAC_ALGS_STOC;
        int comp_index = mode == MODE_OUT ? PROPOSAL_COMP_ALGS_CTOS : PROPOSAL_COMP_ALGS_STOC;
        choose_enc(&kex->enc[mode], own[enc_index], server[enc_index]);
        choose_mac(&kex->mac[mode], own[mac_index], server[mac_index], context->datafellows);
        choose_comp(&kex->comp[mode], own[comp_index], server[comp_index]);
        debug("kex: %s %s %s %s", mode == MODE_IN ? "server->client" : "client->server",
              kex->enc[mode].name, kex->mac[mode].name, kex->comp[mode].name);
    }
    kex->name = match_first(own[PROPOSAL_KEX_ALGS], server[PROPOSAL_KEX_ALGS]);
    if (kex->name == nullptr) fatal("no kex alg");
    if (std::strcmp(kex->name, KEX_DH1) != 0) fatal("bad kex alg %s", kex->name);
    kex->hostkey_name =
        match_first(own[PROPOSAL_SERVER_HOST_KEY_ALGS], server[PROPOSAL_SERVER_HOST_KEY_ALGS]);
    if (kex->hostkey_name == nullptr) fatal("no hostkey alg");
    if (std::strcmp(kex->hostkey_name, "ssh-dss") != 0)
        fatal("bad hostkey alg %s", kex->hostkey_name);

    uint32_t need = 0;
    for (int mode = MODE_IN; mode <= MODE_OUT; mode++) {
        need =
            std::max({need, kex->enc[mode].key_len, kex->enc[mode].iv_len, kex->mac[mode].key_len});
    }
    kex->need = need;
    return kex.release();
}

void ssh2_key_exchange(PacketContext* context) {
    const char* proposal[PROPOSAL_MAX];
    kex_make_proposal(context, proposal);
    ScopedBuffer own;
    kex_build_kexinit(own.get(), proposal);
    kex_send_kexinit(context, own.get());
    debug("wait KEXINIT");
    packet_read_expect(context, nullptr, SSH2_MSG_KEXINIT);
    ScopedBuffer server;
    int length = 0;
    unsigned char* payload = packet_get_raw(context, &length);
    buffer_append(server.get(), payload, static_cast<uint32_t>(length));
    ssh2_key_exchange_continue(context, own.get(), server.get());
}

void ssh2_key_exchange_continue(PacketContext* context, const Buffer* own, const Buffer* server) {
    const char* proposal[PROPOSAL_MAX];
    kex_make_proposal(context, proposal);
    KexResultPtr kex;
    {
        // Parsed from the stored payload, so that both ways in (the server's
        // KEXINIT read here, or by the connection during a session) are one.
        ServerProposal server_proposal;
        ScopedBuffer parse;
        buffer_append(parse.get(), buffer_ptr(server), buffer_len(server));
        split_kexinit(parse.get(), server_proposal.list);
        kex.reset(kex_choose(context, proposal, server_proposal.list));
    }
    ssh2_dh_exchange(context, kex.release(), own, server);

    debug("Wait SSH2_MSG_NEWKEYS.");
    packet_read_expect(context, nullptr, SSH2_MSG_NEWKEYS);
    integrity_check(context, __LINE__);
    debug("GOT SSH2_MSG_NEWKEYS.");
    debug("send SSH2_MSG_NEWKEYS.");
    packet_start(context, SSH2_MSG_NEWKEYS);
    packet_send(context);
    packet_write_wait(context);
    debug("done: send SSH2_MSG_NEWKEYS.");
    debug("done: KEX2.");
}
