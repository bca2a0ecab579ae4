#include "zip/crc32.h"

#include "support/byte_reader.h"

#if defined(__x86_64__) || defined(__i386__)
#define ORV_CRC_X86 1
#include <cpuid.h>
#include <emmintrin.h>
#include <wmmintrin.h>
#endif

// Polynomials here are over GF(2) and written the way the CRC register
// holds them: reflected, so in a 32-bit value bit k is the coefficient of
// x^(31-k), and in the data the first byte's lowest bit is the highest
// power. The register after a message M is M * x^32 mod P.
namespace {

constexpr uint32_t kPoly = 0xEDB88320u;  // P without its x^32 term

// One byte at a time is eight multiplications by x: a right shift, with
// x^32 replaced by the rest of P when the x^31 bit falls off.
constexpr uint32_t timesX(uint32_t c) { return (c & 1) ? kPoly ^ (c >> 1) : c >> 1; }

// ---- Table path: slicing-by-8 ---------------------------------------------

// t[k][b] is the CRC of byte b followed by k zero bytes, so eight input
// bytes fold into the CRC with eight independent lookups.
struct Tables {
    uint32_t t[8][256];
    constexpr Tables() : t() {
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int k = 0; k < 8; k++) c = timesX(c);
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; i++)
            for (int k = 1; k < 8; k++) t[k][i] = t[0][t[k - 1][i] & 0xFF] ^ (t[k - 1][i] >> 8);
    }
};
constexpr Tables kTables;

// The bare register (no inversion on the way in or out).
uint32_t tableUpdate(uint32_t crc, const uint8_t* p, size_t length) {
    const auto& t = kTables.t;
    while (length >= 8) {
        uint32_t lo = loadLE32(p) ^ crc;
        uint32_t hi = loadLE32(p + 4);
        crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        p += 8;
        length -= 8;
    }
    while (length--) crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

// ---- Folding path: carry-less multiply -------------------------------------
//
// A 128-bit block A (loaded little-endian, so bit m is the coefficient of
// x^(127-m)) that is followed by D more bits of message contributes
// A * x^D mod P. Split A = H * x^64 + L (H the low quadword) and replace
// the powers of x by their residues:
//   A * x^D = H * x^(D+64) + L * x^D.
// The carry-less product of a 64-bit H and a 32-bit constant C, read as a
// 128-bit block, is H * C * x^33, so the constants are x^(D+31) mod P for
// H and x^(D-33) mod P for L. The 128-bit result is congruent to A * x^D,
// is aligned with the block D bits on, and is simply XORed into it.
//
// At the end one block is left and the CRC is its value times x^32 mod P,
// reduced 128 -> 96 -> 64 bits with x^95 and x^63, then Barrett:
//   q = floor(W_hi * mu / x^32) with mu = floor(x^64 / P),  R = W - q * P.

// x^n mod P.
constexpr uint32_t xPowModP(unsigned n) {
    uint32_t c = 0x80000000u;  // x^0
    while (n--) c = timesX(c);
    return c;
}

// floor(x^64 / P), a 33-bit polynomial, with bit k the coefficient of x^(32-k).
constexpr uint64_t barrettMu() {
    uint64_t p = uint64_t(1) << 32;  // P in plain order (bit i holds x^i)
    for (int k = 0; k < 32; k++)
        if ((kPoly >> k) & 1) p |= uint64_t(1) << (31 - k);
    // Long division of x^64, one dividend coefficient at a time from x^64 down.
    uint64_t r = 0, q = 0;
    for (int i = 64; i >= 0; i--) {
        r = (r << 1) | (i == 64 ? 1 : 0);
        q <<= 1;
        if (r >> 32) {
            r ^= p;
            q |= 1;
        }
    }
    uint64_t mu = 0;
    for (int i = 0; i <= 32; i++)
        if ((q >> i) & 1) mu |= uint64_t(1) << (32 - i);
    return mu;
}

constexpr uint64_t kP33 = (uint64_t(kPoly) << 1) | 1;  // P itself, bit k holds x^(32-k)
constexpr uint64_t kMu = barrettMu();
// Four lanes of 128 bits, each folded 512 bits on at a time.
constexpr unsigned kLaneBits = 512;
// Folding by all lanes, by one block, and the final 128 -> 64 bit steps.
constexpr uint32_t kLaneH = xPowModP(kLaneBits + 31), kLaneL = xPowModP(kLaneBits - 33);
constexpr uint32_t kBlockH = xPowModP(128 + 31), kBlockL = xPowModP(128 - 33);
constexpr uint32_t kTo96 = xPowModP(95), kTo64 = xPowModP(63);

#ifdef ORV_CRC_X86
#define ORV_CLMUL_INLINE __attribute__((target("pclmul,sse2"), always_inline)) inline
#define ORV_CLMUL __attribute__((target("pclmul,sse2"), force_align_arg_pointer))

ORV_CLMUL_INLINE __m128i constants(uint64_t lo, uint64_t hi) {
    return _mm_set_epi32(int(uint32_t(hi >> 32)), int(uint32_t(hi)), int(uint32_t(lo >> 32)), int(uint32_t(lo)));
}

ORV_CLMUL_INLINE __m128i load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// x * x^D mod P (within 128 bits) for k = constants(x^(D+31), x^(D-33)).
ORV_CLMUL_INLINE __m128i fold(__m128i x, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

// The register after n bytes at p (n a multiple of 16, at least 64).
ORV_CLMUL uint32_t foldedUpdate(uint32_t crc, const uint8_t* p, size_t n) {
    const __m128i kLane = constants(kLaneH, kLaneL);
    const __m128i kBlock = constants(kBlockH, kBlockL);
    const __m128i kReduce = constants(kTo96, kTo64);
    const __m128i kBarrett = constants(kMu, kP33);
    const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);

    // The incoming register goes over the first 32 bits of the data.
    __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(int(crc)));
    __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
    p += 64;
    n -= 64;
    for (; n >= 64; n -= 64, p += 64) {
        x0 = _mm_xor_si128(fold(x0, kLane), load(p));
        x1 = _mm_xor_si128(fold(x1, kLane), load(p + 16));
        x2 = _mm_xor_si128(fold(x2, kLane), load(p + 32));
        x3 = _mm_xor_si128(fold(x3, kLane), load(p + 48));
    }
    __m128i a = _mm_xor_si128(fold(x0, kBlock), x1);
    a = _mm_xor_si128(fold(a, kBlock), x2);
    a = _mm_xor_si128(fold(a, kBlock), x3);
    for (; n >= 16; n -= 16, p += 16) a = _mm_xor_si128(fold(a, kBlock), load(p));

    // 128 -> 96 bits: H * x^96 + L * x^32 (bits 0..95, bit m holds x^(95-m)).
    __m128i t = _mm_xor_si128(_mm_clmulepi64_si128(a, kReduce, 0x00), _mm_srli_si128(a, 8));
    // 96 -> 64 bits: the top 32 coefficients times x^64, plus the rest.
    __m128i w = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(t, low32), kReduce, 0x10), _mm_srli_si128(t, 4));
    // Barrett: the quotient from the top 32 coefficients, then the remainder
    // is the low 32 coefficients of W - q * P.
    __m128i q = _mm_and_si128(_mm_clmulepi64_si128(_mm_and_si128(w, low32), kBarrett, 0x00), low32);
    __m128i r = _mm_xor_si128(w, _mm_clmulepi64_si128(q, kBarrett, 0x10));
    return uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(r, 4)));
}
#endif

// Below this the table path is as quick as setting up the lanes.
constexpr size_t kFoldMinimum = 64;

}  // namespace

bool crc32HasCarrylessMultiply() {
#ifdef ORV_CRC_X86
    static const bool has = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
        return (c & bit_PCLMUL) != 0 && (d & bit_SSE2) != 0;
    }();
    return has;
#else
    return false;
#endif
}

uint32_t crc32UpdateTable(uint32_t crc, const void* data, size_t length) {
    return ~tableUpdate(~crc, static_cast<const uint8_t*>(data), length);
}

uint32_t crc32UpdateFolded(uint32_t crc, const void* data, size_t length) {
    auto* p = static_cast<const uint8_t*>(data);
    crc = ~crc;
#ifdef ORV_CRC_X86
    if (length >= kFoldMinimum && crc32HasCarrylessMultiply()) {
        size_t bulk = length & ~size_t(15);
        crc = foldedUpdate(crc, p, bulk);
        p += bulk;
        length -= bulk;
    }
#endif
    return ~tableUpdate(crc, p, length);
}

uint32_t crc32Update(uint32_t crc, const void* data, size_t length) { return crc32UpdateFolded(crc, data, length); }
