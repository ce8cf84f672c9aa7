#include "net/name_lookup.h"

#include <netdb.h>
#include <sys/socket.h>

#include <memory>
#include <system_error>
#include <thread>

#include "platform/cancel.h"
#include "platform/sync.h"

namespace {

bool Resolve(const std::string& name, in_addr* address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) return false;
    bool found = false;
    for (addrinfo* entry = result; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
            *address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr;
            found = true;
            break;
        }
    }
    freeaddrinfo(result);
    return found;
}

// Shared by the waiting caller and the helper, so that whichever ends last
// releases it. The event's lock orders the helper's writes before the
// caller's reads.
struct TLookupJob {
    std::string Name;
    in_addr Address{};
    bool Found = false;
    TEvent Done{true, false};
};

}  // namespace

bool LookupIPv4(const std::string& name, in_addr* address) {
    if (CurrentCancellation() == nullptr) return Resolve(name, address);

    auto job = std::make_shared<TLookupJob>();
    job->Name = name;
    try {
        std::thread([job] {
            job->Found = Resolve(job->Name, &job->Address);
            job->Done.Set();
        }).detach();
    } catch (const std::system_error&) {
        return Resolve(name, address);  // no thread to spare: wait the plain way
    }
    job->Done.Wait();
    if (job->Found) *address = job->Address;
    return job->Found;
}
