#include "app/connection_factory.h"

#include "base/exception.h"
#include "net/file_connection.h"
#include "net/telnet_connection.h"
#include "ssh/connection/ssh1_connection.h"
#include "ssh/connection/ssh2_connection.h"

std::unique_ptr<TConnection> CreateConnection(const THostConfig& host, int screen) {
    switch (host.GetProtocol()) {
        case kProtocolTelnet:
            return std::make_unique<TTelnetConnection>(&host, screen);
        case kProtocolFile:
            return std::make_unique<TFileConnection>(&host, screen);
        case kProtocolSsh2:
            return std::make_unique<TSSH2Connection>(&host, screen);
        case kProtocolSsh:
            return std::make_unique<TSSH1Connection>(&host, screen);
        default:
            ThrowError("TSession. Unknown protocol.");
    }
}
