#include "net/file_connection.h"

#include "base/exception.h"
#include "config/host_config.h"
#include "platform/cancel.h"

TFileConnection::TFileConnection(const THostConfig* host, int screen)
    : TConnection(host, screen),
      Input(host->GetAddress(), std::ios::in | std::ios::binary),
      Output("out.fc", std::ios::out | std::ios::binary | std::ios::trunc) {
    if (Input.good()) SetState(kStateOpen);
}

TFileConnection::~TFileConnection() {
    Output.close();
    Input.close();
}

int TFileConnection::GetBuffer(char* buffer, unsigned length, bool) {
    int count = 0;
    if (length > 0 && Input.good()) {
        char byte;
        // A read error in the middle of the file ends the replay like its end.
        if (Input.get(byte)) {
            buffer[0] = byte;
            count = 1;
        }
    }
    // Sleep(0) yields and also lets a cancelled session thread unwind here.
    Sleep(count > 0 ? 0 : kReplayIdleDelayMs);
    return count;
}

void TFileConnection::PutBuffer(const char*, unsigned, bool) {
    ThrowError("TFileConnection::PutBuffer. TFileConnection is read only connection.");
}
