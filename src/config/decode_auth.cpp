#include "config/decode_auth.h"

#include "base/exception.h"

void DecodeAuth(const std::string& text, THostConfig& host) {
    static const char* const kPrefixes[] = {"pwd:", "rsa:", "dsa:"};
    host.SetAuthType(0);
    for (int i = 0; i < 3; ++i) {
        if (text.compare(0, 4, kPrefixes[i]) == 0) {
            host.SetAuthType(i + 1);
            std::string rest = text.substr(4);
            if (i + 1 == kAuthPassword) {
                host.SetPassword(rest);
            } else {
                host.SetKeyFile(rest);
            }
            return;
        }
    }
    ThrowError("DecodeAuth. Unknown SSH authentication type: |%s|.", text.c_str());
}
