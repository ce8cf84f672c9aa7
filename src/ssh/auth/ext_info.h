// SSH_MSG_EXT_INFO (RFC 8308): the server's extensions after the first key
// exchange. Only server-sig-algs is used: it names the signature algorithms
// the server accepts in public-key requests.
#pragma once

#include <string>
#include <vector>

#include "ssh/keys/blob.h"

struct ExtInfo {
    bool has_server_sig_algs = false;
    std::vector<std::string> server_sig_algs;
};

// Extensions after the message number; unknown ones are skipped. False when
// malformed (the extensions read so far are kept).
bool ParseExtInfo(const uint8_t* payload, std::size_t length, ExtInfo* info);
