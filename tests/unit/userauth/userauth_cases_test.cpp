// The parsers, encodings and choices of the SSH-2 login, one row each in
// tests/data/userauth/functions.cases (its head explains the kinds).
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "../base/case_file.h"
#include "base/exception.h"
#include "config/decode_auth.h"
#include "key_test_support.h"
#include "ssh/auth/auth_options.h"
#include "ssh/auth/ext_info.h"
#include "ssh/auth/kbdint.h"
#include "ssh/keys/agent_client.h"
#include "ssh/keys/bcrypt_pbkdf.h"
#include "ssh/keys/openssh_key.h"

namespace {

std::string Text(const Blob& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string Join(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) out += (out.empty() ? "" : ",") + name;
    return out;
}

// What the row's kind gives for `input` (its first input) and the inputs
// after it, written as the case files write results; "-" for a refusal.
std::string Result(const TCase& c, const std::string& input) {
    const std::string& kind = c[0];
    const Blob in = ToBlob(input);
    if (kind == "kbdint") {
        KbdIntRequest r;
        if (!ParseKbdIntRequest(in.data(), in.size(), &r)) return "-";
        std::string out = r.name + "|" + r.instruction;
        for (const KbdIntPrompt& p : r.prompts) out += "|" + p.text + (p.echo ? "+" : "");
        return out;
    }
    if (kind == "clean") return CleanServerText(input);
    if (kind == "extinfo") {
        ExtInfo info;
        if (!ParseExtInfo(in.data(), in.size(), &info)) return "-";
        return info.has_server_sig_algs ? Join(info.server_sig_algs) : "none";
    }
    if (kind == "agentids") {
        std::vector<AgentIdentity> ids;
        if (!ParseAgentIdentities(in, &ids)) return "-";
        std::string out;
        for (const AgentIdentity& id : ids) out += Text(id.blob) + "/" + id.comment + ";";
        return out;
    }
    if (kind == "agentsig") {
        Blob signature;
        return ParseAgentSignResponse(in, &signature) ? Text(signature) : "-";
    }
    if (kind == "openssh") {
        static const char* const kStatus[] = {"ok", "need-passphrase", "bad-passphrase",
                                              "bad-format", "unsupported"};
        std::unique_ptr<UserKey> key;
        const int status = static_cast<int>(ParseOpensshKeyBinary(in, nullptr, &key));
        return kStatus[status] + (key ? " " + key->Comment() : "");
    }
    if (kind == "der") {
        Blob r, s;
        return SplitDerSignature(in.data(), in.size(), &r, &s) ? Text(r) + " " + Text(s) : "-";
    }
    if (kind == "mpint") {
        BlobWriter w;
        w.PutMpint(in.data(), in.size());
        return Text(w.bytes());
    }
    if (kind == "names") return Join(SplitNameList(input));
    if (kind == "algs") return Join(SignatureAlgorithms(input, SplitNameList(c[2]), c[2] != "-"));
    if (kind == "bcrypt") {
        const Blob salt = ToBlob(c[2]);
        Blob key(Num(c[4]));
        return bcrypt_pbkdf(in.data(), in.size(), salt.data(), salt.size(), key.data(), key.size(),
                            Num(c[3]))
                   ? Text(key)
                   : "-";
    }
    if (kind == "ed25519") {
        const Blob message = ToBlob(c[2]);
        auto key = UserKey::FromPkey(
            EvpPkeyPtr(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, in.data(), 32)),
            "rfc");
        Blob signature;
        if (key->Sign("ssh-rsa", message.data(), message.size(), false, &signature))
            return "signed as ssh-rsa";
        key->Sign("ssh-ed25519", message.data(), message.size(), false, &signature);
        return Text(key->PublicBlob()) + " " + Text(signature);
    }
    if (kind == "authopts") {
        unsetenv("SSH_AUTH_SOCK");
        if (c[3] != "-") setenv("SSH_AUTH_SOCK", c[3].c_str(), 1);
        THostConfig host;
        host.SetUser("bob");
        host.SetAddress("example.org");
        try {
            DecodeAuth(input, host);
            const Ssh2AuthOptions o = ssh2_auth_options(host, nullptr, c[2] == "typed");
            return o.user + "@" + o.host + "|" + o.key_file + "|" + o.password +
                   (o.password_configured ? "|configured|" : "|asked|") +
                   (o.use_agent ? o.agent_socket : "no agent");
        } catch (const TException&) {
            return "error";
        }
    }
    return "unknown kind " + kind;
}

TEST(UserAuth, Cases) {
    // A parser that takes the whole input refuses every part of it.
    const std::set<std::string> parsers = {"kbdint", "extinfo", "agentids", "agentsig", "der"};
    for (const TCase& c : ReadCases("userauth/functions.cases")) {
        SCOPED_TRACE(c.where);
        const std::string result = Result(c, c[1]);
        EXPECT_EQ(c.fields.back(), result);
        const bool whole = parsers.count(c[0]) && result != "-";
        for (std::size_t n = 0; (whole || c[0] == "openssh") && n < c[1].size(); ++n) {
            const std::string cut = Result(c, c[1].substr(0, n));
            EXPECT_TRUE(whole ? cut == "-" : cut.rfind("ok", 0) != 0) << n << ": " << cut;
        }
    }
}

}  // namespace
