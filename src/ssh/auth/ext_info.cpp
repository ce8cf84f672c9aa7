#include "ssh/auth/ext_info.h"

#include "ssh/keys/user_key.h"

bool ParseExtInfo(const uint8_t* payload, std::size_t length, ExtInfo* info) {
    BlobReader r(payload, length);
    uint32_t count = 0;
    if (!r.GetU32(&count)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        std::string name;
        std::string value;
        if (!r.GetString(&name) || !r.GetString(&value)) return false;
        if (name == "server-sig-algs") {
            info->has_server_sig_algs = true;
            info->server_sig_algs = SplitNameList(value);
        }
    }
    return r.AtEnd();
}
