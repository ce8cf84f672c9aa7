// Known-hosts files in the format both this program and the OpenSSH tools
// read and write, so that trust given in either counts in the other.
//
// One entry a line: an optional marker (@revoked, @cert-authority), a host
// field, then either "type base64-blob" (SSH-2) or "bits exponent modulus"
// in decimal (SSH-1), and an optional comment. The host field is a comma
// list of patterns ("*" and "?" wildcards, "!" negates, "[host]:port" for
// ports other than 22) or one hashed name "|1|base64-salt|base64-hmac" (the
// HMAC-SHA1 of the name keyed with the salt). Blank lines, comments and
// lines that cannot be read are skipped and left alone; the file is only
// ever appended to.
//
// No user interface here: the question to the user comes in as a callback.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "ssh/keys/host_key.h"

// The values of the host setting that chooses how unknown and changed keys
// are met.
enum class HostKeyPolicy {
    kAsk,        // unknown: ask; changed: refuse
    kAcceptNew,  // unknown: record without asking; changed: refuse
    kStrict,     // unknown and changed: refuse
    kOff,        // no check beyond the key's signature
};

// The name a host is recorded under: the lower-case host, as "[host]:port"
// when the port is not 22.
std::string known_hosts_name(std::string_view host, int port);

// One pattern with "*" and "?" against a name, case-insensitively.
bool known_hosts_match_pattern(std::string_view pattern, std::string_view name);
// A comma list of patterns: 1 when a pattern matches and no negated one does,
// -1 when a negated pattern matches, 0 when nothing matches.
int known_hosts_match_list(std::string_view list, std::string_view name);
// A "|1|salt|hash" entry against a name; false for any other form.
bool known_hosts_match_hashed(std::string_view entry, std::string_view name);

// The line (without its line end) that records `key` for `name`.
std::string known_hosts_line(std::string_view name, const HostKey& key);

struct KnownHostsResult {
    enum Status { kUnknown, kKnown, kChanged, kRevoked };
    Status status = kUnknown;
    // kChanged: the first line holding another key of the same type for
    // the name; kKnown and kRevoked: the deciding line. 1-based.
    int line = 0;
};

// Looks `key` up for `name` in the text of a known-hosts file. A revoked
// key wins over everything; a line with the same key over one with another
// key of the same type. Keys of other types leave the host unknown.
KnownHostsResult known_hosts_lookup_text(std::string_view text, std::string_view name,
                                         const HostKey& key);
// The same for a file; a file that does not exist knows no host.
KnownHostsResult known_hosts_lookup(const std::string& path, std::string_view name,
                                    const HostKey& key);

// Records `key` for `name` at the end of the file, creating the file (mode
// 600) and missing folders (mode 700). The file is locked while it is read
// again and written, so that two sessions recording the same host write one
// line; the line goes out in a single append, so a concurrent writer never
// interleaves with it. Returns false (with the reason in *error) when the
// file cannot be written; true when the line is there, written now or before.
bool known_hosts_add(const std::string& path, std::string_view name, const HostKey& key,
                     std::string* error);

// "~/" at the start becomes $HOME.
std::string known_hosts_expand_path(const std::string& path);

// Asked when the host is unknown and the policy is kAsk: true trusts the key.
using HostKeyQuestion = std::function<bool(const std::string& name, const HostKey& key,
                                           const std::string& fingerprint)>;

// Returns when `key` is trusted for `name` under `policy` (recording it when
// new and accepted); raises TException with the reason otherwise.
void known_hosts_verify(const std::string& path, HostKeyPolicy policy, const std::string& name,
                        const HostKey& key, const HostKeyQuestion& ask);
