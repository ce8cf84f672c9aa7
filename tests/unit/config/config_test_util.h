// Helpers shared by the configuration tests.
#pragma once

#include <memory>
#include <sstream>
#include <string>

#include "base/exception.h"
#include "config/telnet_config.h"

// Reads the text as a configuration file; the error message, or "" when none.
inline std::string ReadError(TTelnetConfig& config, const std::string& text) {
    std::istringstream in(text);
    try {
        config.ReadConfig(in);
    } catch (const TException& e) {
        return e.what();
    }
    return "";
}

// A fresh configuration (too large to keep on the stack comfortably).
inline std::unique_ptr<TTelnetConfig> NewConfig() {
    return std::make_unique<TTelnetConfig>();
}

// A fresh configuration loaded from the text; the test fails on an error.
inline std::unique_ptr<TTelnetConfig> Loaded(const std::string& text) {
    auto config = NewConfig();
    std::string error = ReadError(*config, text);
    if (!error.empty()) ADD_FAILURE() << error;
    return config;
}
