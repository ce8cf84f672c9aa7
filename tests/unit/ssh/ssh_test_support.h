// Helpers shared by the SSH unit tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "base/exception.h"
#include "data_rows.h"
#include "ssh/transport/packet.h"
#include "ssh/wire/log.h"

// The hook the SSH connection installs: raise TException with the text as is.
inline void RaisingFatalHook(const char* text) {
    throw TException(text);
}

// Installs the raising hook for each test of a fixture.
class SshTest : public ::testing::Test {
  protected:
    void SetUp() override { previous_ = fatal_set_hook(RaisingFatalHook); }
    void TearDown() override {
        fatal_set_hook(previous_);
        log_set_level(SYSLOG_LEVEL_INFO);
    }

  private:
    FatalHook previous_ = nullptr;
};

// Runs `body` and returns the message of the TException it raised; fails the
// test when nothing was raised.
inline std::string FatalMessage(const std::function<void()>& body) {
    try {
        body();
    } catch (const TException& e) {
        return e.Message();
    }
    ADD_FAILURE() << "expected a fatal error";
    return "";
}

// What `body` writes to standard error, where the log goes.
inline std::string StderrOf(const std::function<void()>& body) {
    testing::internal::CaptureStderr();
    try {
        body();
    } catch (...) {
        testing::internal::GetCapturedStderr();
        throw;
    }
    return testing::internal::GetCapturedStderr();
}

// What `body` logs, then "! " and the message of the TException it raised,
// if it raised one.
inline std::string Outcome(const std::function<void()>& body) {
    std::string raised;
    std::string log = StderrOf([&] {
        try {
            body();
        } catch (const TException& e) {
            raised = "! " + e.Message();
        }
    });
    return log + raised;
}

// The bytes in hex, two digits a byte, as the case files write them.
inline std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : bytes) text += {kDigits[byte >> 4], kDigits[byte & 15]};
    return text;
}

// The bytes of a string as the C interfaces take them.
inline unsigned char* UBytes(const std::string& bytes) {
    return reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data()));
}

inline std::string BufferText(const Buffer* buffer) {
    return std::string(reinterpret_cast<const char*>(buffer_ptr(buffer)), buffer_len(buffer));
}

inline std::string BigEndian(uint32_t value) {
    char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                     static_cast<char>(value >> 8), static_cast<char>(value)};
    return std::string(bytes, 4);
}

inline std::string SshString(const std::string& text) {
    return BigEndian(static_cast<uint32_t>(text.size())) + text;
}

// Queues one packet with a raw payload and writes it out through the hook.
inline void SendPacket(PacketContext* context, int type, const std::string& payload = "") {
    packet_start(context, type);
    packet_put_raw(context, payload.data(), static_cast<uint32_t>(payload.size()));
    packet_send(context);
    packet_write_wait(context);
}
