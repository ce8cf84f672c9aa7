// Host name to IPv4 address, without holding up the end of a session.
#pragma once

#include <netinet/in.h>

#include <string>

// Looks `name` up (hosts file, DNS) and stores its first IPv4 address.
// Returns false when the name has none.
//
// The resolver cannot be interrupted, and a DNS query may take many seconds.
// On a thread that can be cancelled the lookup therefore runs on a helper
// thread of its own while the caller waits cancellably: a cancelled caller
// raises TThreadCancelled at once and the helper finishes in the background.
bool LookupIPv4(const std::string& name, in_addr* address);
