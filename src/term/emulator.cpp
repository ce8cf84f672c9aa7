#include "term/emulator.h"

#include <cstring>

#include "config/host_config.h"
#include "config/telnet_config.h"

TEmulator::TEmulator(const THostConfig* host, int screen, TConsole* console)
    : Host(host), Screen(screen), Con(console) {
    const int in = host ? host->GetIncomingTable() : -1;
    const int out = host ? host->GetOutgoingTable() : -1;
    for (int b = 0; b < 256; ++b) {
        Incoming[b] = Config.Recode(in, static_cast<unsigned char>(b));
        Outgoing[b] = Config.Recode(out, static_cast<unsigned char>(b));
    }
}

TEmulator::~TEmulator() = default;

void TEmulator::Write(const char* data, int count) {
    if (count <= 0) return;
    Con->BeginUpdate(Screen);
    for (int i = 0; i < count; ++i) Con->PutChar(Screen, static_cast<unsigned char>(data[i]));
    Con->EndUpdate(Screen);
}

int TEmulator::GetOutput(char* buffer, int maximum) {
    int n = OutLength - OutRead;
    if (maximum < n) n = maximum;
    if (n <= 0) return 0;
    std::memcpy(buffer, OutData.data() + OutRead, n);
    OutRead += n;
    if (OutRead >= OutLength) {
        OutData.clear();
        OutData.shrink_to_fit();
        OutCapacity = OutLength = OutRead = 0;
    }
    return n;
}

void TEmulator::KeyPressed(INPUT_RECORD record) {
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) return;
    char c = record.Event.KeyEvent.uChar.AsciiChar;
    QueueOutput(&c, 1);
}

unsigned char TEmulator::RecodeIncoming(unsigned char b) {
    return Incoming[b];
}

unsigned char TEmulator::RecodeOutgoing(unsigned char b) {
    return Outgoing[b];
}

void TEmulator::QueueOutput(const char* data, int count) {
    if (count <= 0) return;
    if (OutCapacity <= OutLength + count) {
        OutCapacity = OutLength + count + 1024;
        OutData.resize(OutCapacity);
    }
    std::memcpy(OutData.data() + OutLength, data, count);
    OutLength += count;
}
