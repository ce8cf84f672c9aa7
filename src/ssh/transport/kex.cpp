#include "ssh/transport/kex.h"

#include <algorithm>
#include <cstring>

#include "ssh/keys/sshkey.h"
#include "ssh/transport/cipher.h"
#include "ssh/transport/cipher_table.h"
#include "ssh/transport/compat.h"
#include "ssh/transport/kex_method.h"
#include "ssh/transport/mac_table.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/log.h"
#include "ssh/wire/random.h"
#include "ssh/wire/scoped.h"
#include "ssh/wire/xmalloc.h"

namespace {

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
    const CipherRow* row = cipher_row_find(name.get());
    if (row == nullptr) fatal("unsupported cipher %s", name.get());
    enc->type = row->engine == CipherEngine::Legacy ? row->legacy_number : SSH_CIPHER_NONE;
    enc->row = row;
    enc->key_len = row->key_len;
    enc->iv_len = row->iv_len;
    enc->block_size = static_cast<int>(row->block_size);
    enc->enabled = 0;
    enc->key = nullptr;
    enc->iv = nullptr;
    enc->name = name.release();
}

// An AEAD cipher brings its own integrity: the MAC lists are not looked at.
void choose_mac(Mac* mac, const Enc& enc, const char* own, const char* server, int datafellows) {
    mac->enabled = 0;
    mac->key = nullptr;
    if (cipher_row_is_aead(enc.row)) {
        mac->md = nullptr;
        mac->mac_len = 0;
        mac->key_len = 0;
        mac->etm = 0;
        mac->name = xstrdup("<implicit>");
        return;
    }
    XmallocPtr<char> name(match_first(own, server));
    if (!name) fatal("no matching mac found: client %s server %s", own, server);
    const MacRow* row = mac_row_find(name.get());
    if (row == nullptr) fatal("unsupported mac %s", name.get());
    mac->md = EVP_get_digestbyname(row->digest);
    if (mac->md == nullptr) fatal("unsupported mac %s", name.get());
    mac->mac_len = static_cast<int>(row->mac_len);
    mac->key_len = row->key_len;
    // Old servers key the original HMACs with 16 bytes only.
    if (!row->etm && (datafellows & SSH_BUG_HMACKEY)) mac->key_len = 16;
    mac->etm = row->etm ? 1 : 0;
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

namespace {

template <typename Row, typename NameOf>
std::string join_rows(const Row* rows, int count, NameOf name_of) {
    std::string list;
    for (int i = 0; i < count; i++) {
        if (!list.empty()) list += ',';
        list += name_of(rows[i]);
    }
    return list;
}

struct DefaultLists {
    std::string kex, hostkeys, ciphers, macs;
    DefaultLists() {
        int count = 0;
        const KexMethod* methods = kex_methods(&count);
        kex = join_rows(methods, count, [](const KexMethod& m) { return m.name; }) + "," +
              KEX_EXT_INFO_C;
        const char* const* names = sshkey_algorithms(&count);
        hostkeys = join_rows(names, count, [](const char* n) { return n; });
        size_t rows = 0;
        const CipherRow* ciphers_table = cipher_rows(&rows);
        ciphers = join_rows(ciphers_table, static_cast<int>(rows),
                            [](const CipherRow& r) { return r.name; });
        const MacRow* macs_table = mac_rows(&rows);
        macs =
            join_rows(macs_table, static_cast<int>(rows), [](const MacRow& r) { return r.name; });
    }
};

const DefaultLists& defaults() {
    static const DefaultLists lists;
    return lists;
}

bool known_name(int proposal_index, const std::string& name) {
    switch (proposal_index) {
        case PROPOSAL_KEX_ALGS:
            return kex_method_find(name.c_str()) != nullptr;
        case PROPOSAL_SERVER_HOST_KEY_ALGS:
            return sshkey_type_of_algorithm(name.c_str()) != nullptr;
        case PROPOSAL_ENC_ALGS_CTOS:
        case PROPOSAL_ENC_ALGS_STOC:
            return cipher_row_find(name.c_str()) != nullptr;
        case PROPOSAL_MAC_ALGS_CTOS:
        case PROPOSAL_MAC_ALGS_STOC:
            return mac_row_find(name.c_str()) != nullptr;
        default:
            return false;
    }
}

}  // namespace

const char* kex_default_list(int proposal_index) {
    switch (proposal_index) {
        case PROPOSAL_KEX_ALGS:
            return defaults().kex.c_str();
        case PROPOSAL_SERVER_HOST_KEY_ALGS:
            return defaults().hostkeys.c_str();
        case PROPOSAL_ENC_ALGS_CTOS:
        case PROPOSAL_ENC_ALGS_STOC:
            return defaults().ciphers.c_str();
        case PROPOSAL_MAC_ALGS_CTOS:
        case PROPOSAL_MAC_ALGS_STOC:
            return defaults().macs.c_str();
        default:
            return "";
    }
}

std::string kex_unknown_name(int proposal_index, const std::string& list) {
    size_t start = 0;
    for (;;) {
        size_t comma = list.find(',', start);
        std::string name = list.substr(start, comma == std::string::npos ? comma : comma - start);
        if (name.empty() || !known_name(proposal_index, name)) return name.empty() ? "," : name;
        if (comma == std::string::npos) return "";
        start = comma + 1;
    }
}

void kex_make_proposal(const PacketContext* context, const char* proposal[PROPOSAL_MAX]) {
    proposal[PROPOSAL_KEX_ALGS] =
        context->kex_list != nullptr ? context->kex_list : kex_default_list(PROPOSAL_KEX_ALGS);
    proposal[PROPOSAL_SERVER_HOST_KEY_ALGS] = context->hostkey_list != nullptr
                                                  ? context->hostkey_list
                                                  : kex_default_list(PROPOSAL_SERVER_HOST_KEY_ALGS);
    const char* ciphers = kex_default_list(PROPOSAL_ENC_ALGS_CTOS);
    if (context->cipher_list != nullptr) {
        ciphers = context->cipher_list;
    } else if (context->cipher_type == SSH_CIPHER_3DES) {
        ciphers = "3des-cbc";
    } else if (context->cipher_type == SSH_CIPHER_BLOWFISH) {
        ciphers = "blowfish-cbc";
    }
    proposal[PROPOSAL_ENC_ALGS_CTOS] = ciphers;
    proposal[PROPOSAL_ENC_ALGS_STOC] = ciphers;
    const char* macs =
        context->mac_list != nullptr ? context->mac_list : kex_default_list(PROPOSAL_MAC_ALGS_CTOS);
    proposal[PROPOSAL_MAC_ALGS_CTOS] = macs;
    proposal[PROPOSAL_MAC_ALGS_STOC] = macs;
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
        choose_mac(&kex->mac[mode], kex->enc[mode], own[mac_index], server[mac_index],
                   context->datafellows);
        choose_comp(&kex->comp[mode], own[comp_index], server[comp_index]);
        debug("kex: %s %s %s %s", mode == MODE_IN ? "server->client" : "client->server",
              kex->enc[mode].name, kex->mac[mode].name, kex->comp[mode].name);
    }
    kex->name = match_first(own[PROPOSAL_KEX_ALGS], server[PROPOSAL_KEX_ALGS]);
    if (kex->name == nullptr) fatal("no kex alg");
    if (kex_method_find(kex->name) == nullptr) fatal("bad kex alg %s", kex->name);
    kex->hostkey_name =
        match_first(own[PROPOSAL_SERVER_HOST_KEY_ALGS], server[PROPOSAL_SERVER_HOST_KEY_ALGS]);
    if (kex->hostkey_name == nullptr) fatal("no hostkey alg");
    if (sshkey_type_of_algorithm(kex->hostkey_name) == nullptr)
        fatal("bad hostkey alg %s", kex->hostkey_name);

    uint32_t need = 0;
    for (int mode = MODE_IN; mode <= MODE_OUT; mode++) {
        need =
            std::max({need, kex->enc[mode].key_len, kex->enc[mode].iv_len, kex->mac[mode].key_len});
    }
    kex->need = need;
    return kex.release();
}

std::string kex_algorithms_text(const PacketContext* context) {
    const KexResult* kex = context->kex;
    if (kex == nullptr || kex->name == nullptr || kex->hostkey_name == nullptr) return "";
    auto direction = [&](int mode) {
        return std::string(kex->enc[mode].name) + " " + kex->mac[mode].name;
    };
    return std::string(kex->name) + " " + kex->hostkey_name + ", " + direction(MODE_OUT) +
           " out, " + direction(MODE_IN) + " in";
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
    kex_run_method(context, kex.release(), own, server);
    log("SSH2 algorithms: %s", kex_algorithms_text(context).c_str());

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
