#include "zip/crc32.h"

#include "support/byte_reader.h"

// Slicing-by-8: t[k][b] is the CRC of byte b followed by k zero bytes, so
// eight input bytes fold into the CRC with eight independent lookups.
namespace {
struct Tables {
    uint32_t t[8][256];
    constexpr Tables() : t() {
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; i++)
            for (int k = 1; k < 8; k++) t[k][i] = t[0][t[k - 1][i] & 0xFF] ^ (t[k - 1][i] >> 8);
    }
};
constexpr Tables kTables;
}  // namespace

uint32_t crc32Update(uint32_t crc, const void* data, size_t length) {
    auto* p = static_cast<const uint8_t*>(data);
    const auto& t = kTables.t;
    crc = ~crc;
    while (length >= 8) {
        uint32_t lo = loadLE32(p) ^ crc;
        uint32_t hi = loadLE32(p + 4);
        crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        p += 8;
        length -= 8;
    }
    while (length--) crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}
