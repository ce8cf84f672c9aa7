// REKEY_LIMIT values: "size [time]". The size is a decimal number of bytes
// with an optional K, M or G (powers of 1024); the time a decimal number of
// seconds with an optional s, m or h. 0 turns that limit off. The size is at
// least 16K (re-keying more often than that would be all the connection
// does); the time, when not given, stays as it was.
#pragma once

#include <string>

#include "config/host_config.h"

// Sets RekeyBytes and, when given, RekeySeconds. Raises
// "Config error. Bad value for option REKEY_LIMIT: %s." otherwise.
void DecodeRekeyLimit(const std::string& text, THostConfig& host);
