#include "zip/crc32.h"

namespace {
struct Table {
    uint32_t t[256];
    constexpr Table() : t() {
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
    }
};
constexpr Table kTable;
}  // namespace

uint32_t crc32Update(uint32_t crc, const void* data, size_t length) {
    auto* p = static_cast<const uint8_t*>(data);
    crc = ~crc;
    for (size_t i = 0; i < length; i++) crc = kTable.t[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}
