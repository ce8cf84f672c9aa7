#include "ssh/keys/known_hosts.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "base/exception.h"

namespace {

constexpr int kSha1Length = 20;

struct BignumFree {
    void operator()(BIGNUM* number) const { BN_free(number); }
};

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

std::vector<std::string_view> split_fields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && is_blank(line[i])) i++;
        if (i == line.size()) break;
        size_t start = i;
        while (i < line.size() && !is_blank(line[i])) i++;
        fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

bool all_digits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// Padded base64 only, as the tools write it; false for anything else.
bool base64_decode(std::string_view text, std::vector<unsigned char>* out) {
    if (text.empty() || text.size() % 4 != 0) return false;
    out->assign(text.size() / 4 * 3, 0);
    const int written =
        EVP_DecodeBlock(out->data(), reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<int>(text.size()));
    if (written < 0) return false;
    size_t padding = 0;
    if (text.back() == '=') padding++;
    if (text.size() >= 2 && text[text.size() - 2] == '=') padding++;
    out->resize(static_cast<size_t>(written) - padding);
    return true;
}

std::string base64_encode(const unsigned char* bytes, size_t length) {
    std::string text(4 * ((length + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes,
                                        static_cast<int>(length));
    text.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return text;
}

bool decimal_bytes(std::string_view text, std::vector<unsigned char>* out, int* bits) {
    if (!all_digits(text)) return false;
    const std::string copy(text);
    BIGNUM* raw = nullptr;
    if (BN_dec2bn(&raw, copy.c_str()) != static_cast<int>(copy.size())) {
        BN_free(raw);
        return false;
    }
    std::unique_ptr<BIGNUM, BignumFree> number(raw);
    out->assign(static_cast<size_t>(BN_num_bytes(number.get())), 0);
    if (!out->empty()) BN_bn2bin(number.get(), out->data());
    if (bits != nullptr) *bits = BN_num_bits(number.get());
    return true;
}

std::string decimal_text(const std::vector<unsigned char>& bytes) {
    std::unique_ptr<BIGNUM, BignumFree> number(
        BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr));
    if (!number) return "0";
    char* text = BN_bn2dec(number.get());
    if (text == nullptr) return "0";
    std::string out(text);
    OPENSSL_free(text);
    return out;
}

struct Entry {
    enum Marker { kNone, kRevoked, kCertAuthority };
    Marker marker = kNone;
    std::string_view hosts;
    HostKey key;
};

// False for lines to skip: blank, comments, unknown markers and anything
// whose key does not read.
bool parse_entry(std::string_view line, Entry* entry) {
    std::vector<std::string_view> fields = split_fields(line);
    size_t at = 0;
    if (fields.empty() || fields[0][0] == '#') return false;
    if (fields[0][0] == '@') {
        if (fields[0] == "@revoked") {
            entry->marker = Entry::kRevoked;
        } else if (fields[0] == "@cert-authority") {
            entry->marker = Entry::kCertAuthority;
        } else {
            return false;
        }
        at = 1;
    }
    if (fields.size() < at + 3) return false;
    entry->hosts = fields[at];
    if (all_digits(fields[at + 1])) {
        if (fields.size() < at + 4) return false;
        HostKey& key = entry->key;
        key.type = kHostKeyTypeRsa1;
        int bits = 0;
        if (!decimal_bytes(fields[at + 2], &key.exponent, nullptr)) return false;
        if (!decimal_bytes(fields[at + 3], &key.modulus, &bits)) return false;
        key.bits = bits;
        return !key.exponent.empty() && !key.modulus.empty();
    }
    std::vector<unsigned char> blob;
    if (!base64_decode(fields[at + 2], &blob)) return false;
    entry->key = host_key_from_blob(blob.data(), blob.size());
    // A line whose type field disagrees with its blob is damaged.
    return !entry->key.type.empty() && entry->key.type == fields[at + 1];
}

bool hosts_match(std::string_view hosts, std::string_view name) {
    if (!hosts.empty() && hosts[0] == '|') return known_hosts_match_hashed(hosts, name);
    return known_hosts_match_list(hosts, name) == 1;
}

std::string read_all(int fd) {
    std::string text;
    char block[8192];
    for (off_t offset = 0;;) {
        const ssize_t got = pread(fd, block, sizeof block, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        text.append(block, static_cast<size_t>(got));
        offset += got;
    }
    return text;
}

bool make_folders(const std::string& path, std::string* error) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            *error = "cannot create " + folder + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

}  // namespace

std::string known_hosts_name(std::string_view host, int port) {
    if (port == 22 || port <= 0) return lower(host);
    return "[" + lower(host) + "]:" + std::to_string(port);
}

bool known_hosts_match_pattern(std::string_view pattern, std::string_view name) {
    // Greedy glob with one back-tracking point: the last "*" seen.
    size_t p = 0;
    size_t n = 0;
    size_t star = std::string_view::npos;
    size_t resume = 0;
    auto same = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    };
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || same(pattern[p], name[n]))) {
            p++;
            n++;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') p++;
    return p == pattern.size();
}

int known_hosts_match_list(std::string_view list, std::string_view name) {
    bool positive = false;
    while (!list.empty()) {
        const size_t comma = list.find(',');
        std::string_view pattern = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        if (pattern.empty()) continue;
        const bool negated = pattern[0] == '!';
        if (negated) pattern.remove_prefix(1);
        if (!known_hosts_match_pattern(pattern, name)) continue;
        if (negated) return -1;
        positive = true;
    }
    return positive ? 1 : 0;
}

bool known_hosts_match_hashed(std::string_view entry, std::string_view name) {
    constexpr std::string_view kMagic = "|1|";
    if (entry.substr(0, kMagic.size()) != kMagic) return false;
    entry.remove_prefix(kMagic.size());
    const size_t bar = entry.find('|');
    if (bar == std::string_view::npos) return false;
    std::vector<unsigned char> salt;
    std::vector<unsigned char> hash;
    if (!base64_decode(entry.substr(0, bar), &salt) || salt.size() != kSha1Length) return false;
    if (!base64_decode(entry.substr(bar + 1), &hash) || hash.size() != kSha1Length) return false;
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int mac_length = 0;
    if (HMAC(EVP_sha1(), salt.data(), static_cast<int>(salt.size()),
             reinterpret_cast<const unsigned char*>(name.data()), name.size(), mac,
             &mac_length) == nullptr ||
        mac_length != kSha1Length)
        return false;
    return std::memcmp(mac, hash.data(), kSha1Length) == 0;
}

std::string known_hosts_line(std::string_view name, const HostKey& key) {
    std::string line(name);
    if (key.IsRsa1()) {
        line += " " + std::to_string(key.bits) + " " + decimal_text(key.exponent) + " " +
                decimal_text(key.modulus);
    } else {
        line += " " + key.type + " " + base64_encode(key.blob.data(), key.blob.size());
    }
    return line;
}

KnownHostsResult known_hosts_lookup_text(std::string_view text, std::string_view name,
                                         const HostKey& key) {
    KnownHostsResult known;
    KnownHostsResult changed;
    int number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        number++;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        Entry entry;
        if (!parse_entry(line, &entry) || entry.marker == Entry::kCertAuthority) continue;
        if (!hosts_match(entry.hosts, name)) continue;
        if (entry.marker == Entry::kRevoked) {
            if (entry.key.SameKey(key)) return {KnownHostsResult::kRevoked, number};
            continue;
        }
        if (entry.key.SameKey(key)) {
            if (known.status == KnownHostsResult::kUnknown)
                known = {KnownHostsResult::kKnown, number};
        } else if (entry.key.type == key.type && changed.status == KnownHostsResult::kUnknown) {
            changed = {KnownHostsResult::kChanged, number};
        }
    }
    return known.status != KnownHostsResult::kUnknown ? known : changed;
}

KnownHostsResult known_hosts_lookup(const std::string& path, std::string_view name,
                                    const HostKey& key) {
    std::ifstream file(path, std::ios::in | std::ios::binary);
    if (!file.is_open()) return {};
    std::ostringstream text;
    text << file.rdbuf();
    return known_hosts_lookup_text(text.str(), name, key);
}

bool known_hosts_add(const std::string& path, std::string_view name, const HostKey& key,
                     std::string* error) {
    if (!make_folders(path, error)) return false;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        *error = std::string("cannot open it: ") + std::strerror(errno);
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }  // also gives the lock back
    } closer{fd};
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        *error = std::string("cannot lock it: ") + std::strerror(errno);
        return false;
    }
    // Another session may have recorded the key while this one was asking.
    const std::string text = read_all(fd);
    if (known_hosts_lookup_text(text, name, key).status == KnownHostsResult::kKnown) return true;
    std::string line;
    if (!text.empty() && text.back() != '\n') line = "\n";
    line += known_hosts_line(name, key) + "\n";
    const ssize_t written = ::write(fd, line.data(), line.size());
    if (written != static_cast<ssize_t>(line.size())) {
        *error = written < 0 ? std::string("cannot write it: ") + std::strerror(errno)
                             : std::string("the disk took only part of the line");
        return false;
    }
    return true;
}

std::string known_hosts_expand_path(const std::string& path) {
    if (path.rfind("~/", 0) != 0) return path;
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        // Started without an environment: the account's own home folder.
        const passwd* account = ::getpwuid(::getuid());
        home = account != nullptr ? account->pw_dir : nullptr;
    }
    if (home == nullptr || *home == '\0') return path;
    return std::string(home) + path.substr(1);
}

void known_hosts_verify(const std::string& path, HostKeyPolicy policy, const std::string& name,
                        const HostKey& key, const HostKeyQuestion& ask) {
    if (policy == HostKeyPolicy::kOff) return;
    const std::string fingerprint = host_key_fingerprint(key);
    const KnownHostsResult found = known_hosts_lookup(path, name, key);
    switch (found.status) {
        case KnownHostsResult::kKnown:
            return;
        case KnownHostsResult::kRevoked:
            ThrowError(
                "The host key of %s is REVOKED: refused, nothing was sent.\r\n"
                "Revoked in: %s, line %d\r\nKey: %s %s",
                name.c_str(), path.c_str(), found.line, key.type.c_str(), fingerprint.c_str());
        case KnownHostsResult::kChanged:
            // Each part on a line of its own, so that an 80-column screen
            // keeps the fingerprint and the command whole.
            ThrowError(
                "The host key of %s has CHANGED!\r\n"
                "Old key: %s, line %d\r\n"
                "New key: %s %s\r\n"
                "Someone may be listening in, or the host has a new key. Nothing was sent.\r\n"
                "If the new key is right, remove the old one with:\r\n"
                "ssh-keygen -R '%s' -f %s",
                name.c_str(), path.c_str(), found.line, key.type.c_str(), fingerprint.c_str(),
                name.c_str(), path.c_str());
        case KnownHostsResult::kUnknown:
            break;
    }
    if (policy == HostKeyPolicy::kStrict)
        ThrowError(
            "Unknown host %s refused: HOST_KEY_CHECK is strict.\r\n"
            "Known hosts: %s\r\nKey: %s %s",
            name.c_str(), path.c_str(), key.type.c_str(), fingerprint.c_str());
    if (policy == HostKeyPolicy::kAsk && !(ask && ask(name, key, fingerprint)))
        ThrowError("The host key of %s was not accepted: not connected.", name.c_str());
    std::string error;
    if (!known_hosts_add(path, name, key, &error))
        ThrowError("Cannot record the host key of %s in %s: %s.", name.c_str(), path.c_str(),
                   error.c_str());
}
