// Keyboard-interactive requests and EXT_INFO as a server may send them, and
// the cleaning of the texts shown from them.
#include <cstddef>
#include <cstdint>

#include "ssh/auth/ext_info.h"
#include "ssh/auth/kbdint.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    KbdIntRequest request;
    if (ParseKbdIntRequest(data, size, &request)) {
        (void)CleanServerText(request.name);
        (void)CleanServerText(request.instruction);
        for (const KbdIntPrompt& prompt : request.prompts) (void)CleanServerText(prompt.text);
    }
    ExtInfo info;
    (void)ParseExtInfo(data, size, &info);
    return 0;
}
