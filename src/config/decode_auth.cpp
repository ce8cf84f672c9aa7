#include "config/decode_auth.h"

#include "base/exception.h"

void DecodeAuth(const std::string& text, THostConfig& host) {
    static const struct {
        const char* prefix;
        int type;
    } kForms[] = {
        {"pwd:", kAuthPassword}, {"rsa:", kAuthRsa}, {"dsa:", kAuthDsa}, {"key:", kAuthKey}};
    host.SetAuthType(0);
    for (const auto& form : kForms) {
        if (text.compare(0, 4, form.prefix) == 0) {
            host.SetAuthType(form.type);
            std::string rest = text.substr(4);
            if (form.type == kAuthPassword) {
                host.SetPassword(rest);
            } else {
                host.SetKeyFile(rest);
            }
            return;
        }
    }
    if (text == "agent") {
        host.SetAuthType(kAuthAgent);
        return;
    }
    ThrowError("DecodeAuth. Unknown SSH authentication type: |%s|.", text.c_str());
}
