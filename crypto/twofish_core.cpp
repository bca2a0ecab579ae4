#include "crypto/twofish_core.h"

#include "support/byte_reader.h"

namespace {

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// The 4-bit tables of the fixed permutations q0 and q1 (paper, 4.3.5).
const uint8_t kQt[2][4][16] = {
    {{0x8, 0x1, 0x7, 0xD, 0x6, 0xF, 0x3, 0x2, 0x0, 0xB, 0x5, 0x9, 0xE, 0xC, 0xA, 0x4},
     {0xE, 0xC, 0xB, 0x8, 0x1, 0x2, 0x3, 0x5, 0xF, 0x4, 0xA, 0x6, 0x7, 0x0, 0x9, 0xD},
     {0xB, 0xA, 0x5, 0xE, 0x6, 0xD, 0x9, 0x0, 0xC, 0x8, 0xF, 0x3, 0x2, 0x4, 0x7, 0x1},
     {0xD, 0x7, 0xF, 0x4, 0x1, 0x2, 0x6, 0xE, 0x9, 0xB, 0x3, 0x0, 0x8, 0x5, 0xC, 0xA}},
    {{0x2, 0x8, 0xB, 0xD, 0xF, 0x7, 0x6, 0xE, 0x3, 0x1, 0x9, 0x4, 0x0, 0xA, 0xC, 0x5},
     {0x1, 0xE, 0x2, 0xB, 0x4, 0xC, 0x3, 0x7, 0x6, 0xD, 0xA, 0x5, 0xF, 0x9, 0x0, 0x8},
     {0x4, 0xC, 0x7, 0x5, 0x1, 0x6, 0x9, 0xA, 0x0, 0xE, 0xD, 0x8, 0x2, 0xB, 0x3, 0xF},
     {0xB, 0x9, 0x5, 0x1, 0xC, 0x3, 0xD, 0xE, 0x6, 0x4, 0x7, 0xF, 0x2, 0x0, 0x8, 0xA}}};

inline uint8_t ror4(uint8_t x) { return uint8_t(((x >> 1) | (x << 3)) & 15); }

uint8_t q(int which, uint8_t x) {
    const uint8_t(*t)[16] = kQt[which];
    uint8_t a0 = x >> 4, b0 = x & 15;
    uint8_t a1 = a0 ^ b0, b1 = uint8_t(a0 ^ ror4(b0) ^ ((8 * a0) & 15));
    uint8_t a2 = t[0][a1], b2 = t[1][b1];
    uint8_t a3 = a2 ^ b2, b3 = uint8_t(a2 ^ ror4(b2) ^ ((8 * a2) & 15));
    uint8_t a4 = t[2][a3], b4 = t[3][b3];
    return uint8_t((b4 << 4) | a4);
}

// Multiplication in GF(2^8) modulo the given polynomial.
uint8_t gfMul(uint8_t a, uint8_t b, uint32_t poly) {
    uint32_t r = 0, x = a;
    for (; b; b >>= 1) {
        if (b & 1) r ^= x;
        x <<= 1;
        if (x & 0x100) x ^= poly;
    }
    return uint8_t(r);
}

const uint8_t kMds[4][4] = {
    {0x01, 0xEF, 0x5B, 0x5B}, {0x5B, 0xEF, 0xEF, 0x01}, {0xEF, 0x5B, 0x01, 0xEF}, {0xEF, 0x01, 0xEF, 0x5B}};
const uint8_t kRs[4][8] = {{0x01, 0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E},
                           {0xA4, 0x56, 0x82, 0xF3, 0x1E, 0xC6, 0x68, 0xE5},
                           {0x02, 0xA1, 0xFC, 0xC1, 0x47, 0xAE, 0x3D, 0x19},
                           {0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E, 0x03}};
constexpr uint32_t kMdsPoly = 0x169;
constexpr uint32_t kRsPoly = 0x14D;

// MDS column j times byte y, as a little-endian word.
uint32_t mdsColumn(int j, uint8_t y) {
    uint32_t z = 0;
    for (int i = 0; i < 4; ++i) z |= uint32_t(gfMul(kMds[i][j], y, kMdsPoly)) << (8 * i);
    return z;
}

// The byte chain of h (paper, figure 2) for byte position j, before MDS.
uint8_t hByte(int j, uint8_t y, const uint32_t* l, int k) {
    // q choices per stage, per byte position, from the innermost stage out.
    static const uint8_t kStage4[4] = {1, 0, 0, 1};
    static const uint8_t kStage3[4] = {1, 1, 0, 0};
    static const uint8_t kStage2[4] = {0, 1, 0, 1};
    static const uint8_t kStage1[4] = {0, 0, 1, 1};
    static const uint8_t kStage0[4] = {1, 0, 1, 0};
    auto keyByte = [&](int word) { return uint8_t(l[word] >> (8 * j)); };
    if (k == 4) y = q(kStage4[j], y) ^ keyByte(3);
    if (k >= 3) y = q(kStage3[j], y) ^ keyByte(2);
    y = q(kStage2[j], y) ^ keyByte(1);
    y = q(kStage1[j], y) ^ keyByte(0);
    return q(kStage0[j], y);
}

uint32_t h(uint32_t x, const uint32_t* l, int k) {
    uint32_t z = 0;
    for (int j = 0; j < 4; ++j) z ^= mdsColumn(j, hByte(j, uint8_t(x >> (8 * j)), l, k));
    return z;
}

}  // namespace

bool TwofishCore::setKey(const uint8_t* key, uint32_t keyLength) {
    if (!key || (keyLength != 16 && keyLength != 24 && keyLength != 32)) return false;
    int k = int(keyLength / 8);
    uint32_t me[4], mo[4], s[4];
    for (int i = 0; i < k; ++i) {
        me[i] = loadLE32(key + 8 * i);
        mo[i] = loadLE32(key + 8 * i + 4);
        uint32_t w = 0;
        for (int row = 0; row < 4; ++row) {
            uint8_t acc = 0;
            for (int c = 0; c < 8; ++c) acc ^= gfMul(kRs[row][c], key[8 * i + c], kRsPoly);
            w |= uint32_t(acc) << (8 * row);
        }
        s[k - 1 - i] = w;  // the S words are used in reverse order
    }
    const uint32_t rho = 0x01010101;
    for (uint32_t i = 0; i < 20; ++i) {
        uint32_t a = h(2 * i * rho, me, k);
        uint32_t b = rotl(h((2 * i + 1) * rho, mo, k), 8);
        k_[2 * i] = a + b;
        k_[2 * i + 1] = rotl(a + 2 * b, 9);
    }
    for (int j = 0; j < 4; ++j)
        for (int x = 0; x < 256; ++x) sbox_[j][x] = mdsColumn(j, hByte(j, uint8_t(x), s, k));
    return true;
}

void TwofishCore::encryptBlock(const uint8_t in[16], uint8_t out[16]) const {
    uint32_t a = loadLE32(in) ^ k_[0], b = loadLE32(in + 4) ^ k_[1];
    uint32_t c = loadLE32(in + 8) ^ k_[2], d = loadLE32(in + 12) ^ k_[3];
    for (int r = 0; r < 16; ++r) {
        uint32_t t0 = g(a), t1 = g(rotl(b, 8));
        c = rotr(c ^ (t0 + t1 + k_[2 * r + 8]), 1);
        d = rotl(d, 1) ^ (t0 + 2 * t1 + k_[2 * r + 9]);
        uint32_t ta = a, tb = b;
        a = c; b = d; c = ta; d = tb;
    }
    storeLE32(out, c ^ k_[4]);
    storeLE32(out + 4, d ^ k_[5]);
    storeLE32(out + 8, a ^ k_[6]);
    storeLE32(out + 12, b ^ k_[7]);
}

void TwofishCore::decryptBlock(const uint8_t in[16], uint8_t out[16]) const {
    uint32_t c = loadLE32(in) ^ k_[4], d = loadLE32(in + 4) ^ k_[5];
    uint32_t a = loadLE32(in + 8) ^ k_[6], b = loadLE32(in + 12) ^ k_[7];
    for (int r = 15; r >= 0; --r) {
        uint32_t ta = a, tb = b;
        a = c; b = d; c = ta; d = tb;
        uint32_t t0 = g(a), t1 = g(rotl(b, 8));
        c = rotl(c, 1) ^ (t0 + t1 + k_[2 * r + 8]);
        d = rotr(d ^ (t0 + 2 * t1 + k_[2 * r + 9]), 1);
    }
    storeLE32(out, a ^ k_[0]);
    storeLE32(out + 4, b ^ k_[1]);
    storeLE32(out + 8, c ^ k_[2]);
    storeLE32(out + 12, d ^ k_[3]);
}
