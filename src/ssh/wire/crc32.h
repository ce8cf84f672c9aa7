// CRC-32 of the SSH-1 check bytes: reflected polynomial 0xEDB88320, initial
// value 0 and no final inversion (unlike zlib's crc32).
#pragma once

#include <cstddef>
#include <cstdint>

uint32_t ssh_crc32(const unsigned char* bytes, size_t length);
