#include "ssh/wire/crc32.h"

#include <array>

namespace {

constexpr std::array<uint32_t, 256> make_table() {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int bit = 0; bit < 8; bit++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kTable = make_table();

}  // namespace

uint32_t ssh_crc32(const unsigned char* bytes, size_t length) {
    uint32_t crc = 0;
    for (size_t i = 0; i < length; i++) crc = kTable[(crc ^ bytes[i]) & 0xff] ^ (crc >> 8);
    return crc;
}
