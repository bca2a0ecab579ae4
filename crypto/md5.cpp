#include "crypto/md5.h"

#include <cstring>

#include "crypto/hash_blocks.h"
#include "support/byte_reader.h"
#include "support/data_buffer.h"
#include "support/string_buffer.h"

namespace {
// K[i] = floor(|sin(i + 1)| * 2^32), RFC 1321 section 3.4.
const uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee,
    0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be,
    0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa,
    0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
    0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c,
    0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05,
    0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039,
    0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1,
    0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

const uint8_t kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
}  // namespace

void HmacMD5::initialize() {
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
    totalBytes_ = 0;
    pendingLength_ = 0;
}

// One 64-byte block: the four rounds of section 3.4, written as one loop
// over the 64 steps with the round's function and message index.
void HmacMD5::compress(const uint8_t block[64]) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = loadLE32(block + 4 * i);
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        int round = i / 16;
        switch (round) {
        case 0: f = (b & c) | (~b & d); g = i; break;
        case 1: f = (d & b) | (~d & c); g = (5 * i + 1) % 16; break;
        case 2: f = b ^ c ^ d; g = (3 * i + 5) % 16; break;
        default: f = c ^ (b | ~d); g = (7 * i) % 16; break;
        }
        uint32_t t = d;
        d = c;
        c = b;
        b = b + rotl(a + f + kSine[i] + x[g], kShift[round][i % 4]);
        a = t;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void HmacMD5::update(const void* data, uint32_t length) {
    if (!data || !length) return;
    totalBytes_ += length;
    feedHashBlocks(pending_, pendingLength_, data, length, [this](const uint8_t* block) { compress(block); });
}

void HmacMD5::finish(uint8_t digest[16]) {
    uint64_t bits = totalBytes_ * 8;
    uint8_t tail[72] = {0x80};
    uint32_t padLength = (pendingLength_ < 56 ? 56 : 120) - pendingLength_;
    update(tail, padLength);
    uint8_t lengthBytes[8];
    storeLE64(lengthBytes, bits);
    update(lengthBytes, 8);
    for (int i = 0; i < 4; ++i) storeLE32(digest + 4 * i, state_[i]);
}

void DigestMD5::digestBytes(const void* data, uint32_t length, uint8_t digest[16]) {
    HmacMD5 md5;
    md5.update(data, length);
    md5.finish(digest);
}

void DigestMD5::digestData(const DataBuffer& data, uint8_t digest[16]) {
    digestBytes(data.data(), data.length(), digest);
}

void DigestMD5::digestString(const StringBuffer& text, uint8_t digest[16]) {
    digestBytes(text.str(), text.length(), digest);
}
