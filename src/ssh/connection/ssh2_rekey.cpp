#include "ssh/connection/ssh2_rekey.h"

#include "base/exception.h"
#include "ssh/transport/kex.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/log.h"
#include "ssh/wire/scoped.h"

namespace {

void send_now(PacketContext* context, int type, const std::string& payload) {
    packet_start(context, type);
    packet_put_raw(context, payload.data(), static_cast<uint32_t>(payload.size()));
    packet_send(context);
    packet_write_wait(context);
}

}  // namespace

bool ssh2_rekey_due(const Ssh2Rekey* rekey, uint64_t bytes) {
    if (rekey->byte_limit != 0 && bytes >= rekey->byte_limit) return true;
    if (rekey->second_limit == 0) return false;
    const auto age = std::chrono::steady_clock::now() - rekey->keys_since;
    return age >= std::chrono::seconds(rekey->second_limit);
}

void ssh2_rekey_begin(PacketContext* context, Ssh2Rekey* rekey, Ssh2SendGate* gate) {
    if (rekey->own_sent) return;
    const char* proposal[PROPOSAL_MAX];
    kex_make_proposal(context, proposal);
    ScopedBuffer own;
    kex_build_kexinit(own.get(), proposal);
    debug("re-key: sending KEXINIT");
    gate->BeginKex();
    rekey->own_sent = true;
    rekey->own.assign(reinterpret_cast<const char*>(buffer_ptr(own.get())), buffer_len(own.get()));
    kex_send_kexinit(context, own.get());
}

void ssh2_rekey_run(PacketContext* context, Ssh2Rekey* rekey, Ssh2SendGate* gate,
                    TCriticalSection* send_lock) {
    ScopedBuffer server;
    int length = 0;
    const unsigned char* payload = packet_get_raw(context, &length);
    buffer_append(server.get(), payload, static_cast<uint32_t>(length));
    ScopedBuffer own;
    {
        TLockGuard guard(*send_lock);
        ssh2_rekey_begin(context, rekey, gate);
        buffer_append(own.get(), rekey->own.data(), static_cast<uint32_t>(rekey->own.size()));
    }
    // The gate is closed and own_sent set: this thread alone sends now.
    ssh2_key_exchange_continue(context, own.get(), server.get());

    TLockGuard guard(*send_lock);
    rekey->own_sent = false;
    rekey->own.clear();
    rekey->keys_since = std::chrono::steady_clock::now();
    rekey->exchanges++;
    debug("re-key %d done", rekey->exchanges);
    for (const auto& [type, held_payload] : rekey->held) send_now(context, type, held_payload);
    rekey->held.clear();
    gate->EndKex();
}

void ssh2_send_or_hold(PacketContext* context, Ssh2Rekey* rekey, TCriticalSection* send_lock,
                       int type, const std::string& payload) {
    TLockGuard guard(*send_lock);
    if (!rekey->own_sent) {
        send_now(context, type, payload);
        return;
    }
    if (rekey->held.size() >= kMaxHeldReplies)
        ThrowError("TSSH2Connection::GetBuffer. Too many requests during a key exchange.");
    rekey->held.emplace_back(type, payload);
}
