#include "crypto/aes.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#define ORV_AES_X86 1
#include <cpuid.h>
#include <wmmintrin.h>
#include <emmintrin.h>
#endif

namespace {

// ---- Tables (computed at compile time from the field arithmetic) ----------

constexpr uint8_t xtime(uint8_t x) { return uint8_t((x << 1) ^ ((x & 0x80) ? 0x1b : 0)); }
constexpr uint8_t gmul(uint8_t a, uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) {
        if (b & 1) r ^= a;
        a = xtime(a);
        b >>= 1;
    }
    return r;
}

struct Tables {
    uint8_t sbox[256];
    uint8_t inv[256];
    uint32_t te[4][256];  // SubBytes + ShiftRows + MixColumns, per row
    uint32_t td[4][256];  // the inverse
};

// FIPS-197 5.1.1: multiplicative inverse (through the log tables of the
// generator 3), then the affine transformation.
constexpr Tables makeTables() {
    Tables t{};
    uint8_t expTable[256] = {};
    uint8_t logTable[256] = {};
    uint8_t x = 1;
    for (int i = 0; i < 255; ++i) {
        expTable[i] = x;
        logTable[x] = uint8_t(i);
        x = uint8_t(x ^ xtime(x));  // times 3
    }
    for (int i = 0; i < 256; ++i) {
        uint8_t b = i == 0 ? 0 : expTable[(255 - logTable[i]) % 255];
        uint8_t s = b;
        for (int r = 1; r <= 4; ++r) s ^= uint8_t((b << r) | (b >> (8 - r)));
        s ^= 0x63;
        t.sbox[i] = s;
        t.inv[s] = uint8_t(i);
    }
    // Words are big-endian: byte 0 of the column is the high byte.
    for (int i = 0; i < 256; ++i) {
        uint8_t s = t.sbox[i];
        uint32_t w = (uint32_t(gmul(s, 2)) << 24) | (uint32_t(s) << 16) | (uint32_t(s) << 8) | gmul(s, 3);
        uint8_t v = t.inv[i];
        uint32_t d = (uint32_t(gmul(v, 14)) << 24) | (uint32_t(gmul(v, 9)) << 16) |
                     (uint32_t(gmul(v, 13)) << 8) | gmul(v, 11);
        for (int r = 0; r < 4; ++r) {
            t.te[r][i] = (w >> (8 * r)) | (r ? (w << (32 - 8 * r)) : 0);
            t.td[r][i] = (d >> (8 * r)) | (r ? (d << (32 - 8 * r)) : 0);
        }
    }
    return t;
}

constexpr Tables kT = makeTables();

inline uint32_t loadBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline void storeBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}
inline uint32_t subWord(uint32_t w) {
    return (uint32_t(kT.sbox[w >> 24]) << 24) | (uint32_t(kT.sbox[(w >> 16) & 255]) << 16) |
           (uint32_t(kT.sbox[(w >> 8) & 255]) << 8) | kT.sbox[w & 255];
}
// InvMixColumns of one round-key word (for the equivalent inverse cipher).
inline uint32_t invMixWord(uint32_t w) {
    return kT.td[0][kT.sbox[w >> 24]] ^ kT.td[1][kT.sbox[(w >> 16) & 255]] ^
           kT.td[2][kT.sbox[(w >> 8) & 255]] ^ kT.td[3][kT.sbox[w & 255]];
}

// ---- Portable rounds (table lookups: not constant-time) -----------------

void encryptPortable(const uint32_t* rk, int rounds, const uint8_t in[16], uint8_t out[16]) {
    uint32_t s0 = loadBE32(in) ^ rk[0], s1 = loadBE32(in + 4) ^ rk[1];
    uint32_t s2 = loadBE32(in + 8) ^ rk[2], s3 = loadBE32(in + 12) ^ rk[3];
    for (int r = 1; r < rounds; ++r) {
        rk += 4;
        uint32_t t0 = kT.te[0][s0 >> 24] ^ kT.te[1][(s1 >> 16) & 255] ^ kT.te[2][(s2 >> 8) & 255] ^ kT.te[3][s3 & 255] ^ rk[0];
        uint32_t t1 = kT.te[0][s1 >> 24] ^ kT.te[1][(s2 >> 16) & 255] ^ kT.te[2][(s3 >> 8) & 255] ^ kT.te[3][s0 & 255] ^ rk[1];
        uint32_t t2 = kT.te[0][s2 >> 24] ^ kT.te[1][(s3 >> 16) & 255] ^ kT.te[2][(s0 >> 8) & 255] ^ kT.te[3][s1 & 255] ^ rk[2];
        uint32_t t3 = kT.te[0][s3 >> 24] ^ kT.te[1][(s0 >> 16) & 255] ^ kT.te[2][(s1 >> 8) & 255] ^ kT.te[3][s2 & 255] ^ rk[3];
        s0 = t0; s1 = t1; s2 = t2; s3 = t3;
    }
    rk += 4;
    auto last = [&](uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
        return ((uint32_t(kT.sbox[a >> 24]) << 24) | (uint32_t(kT.sbox[(b >> 16) & 255]) << 16) |
                (uint32_t(kT.sbox[(c >> 8) & 255]) << 8) | kT.sbox[d & 255]) ^ k;
    };
    storeBE32(out, last(s0, s1, s2, s3, rk[0]));
    storeBE32(out + 4, last(s1, s2, s3, s0, rk[1]));
    storeBE32(out + 8, last(s2, s3, s0, s1, rk[2]));
    storeBE32(out + 12, last(s3, s0, s1, s2, rk[3]));
}

void decryptPortable(const uint32_t* rk, int rounds, const uint8_t in[16], uint8_t out[16]) {
    uint32_t s0 = loadBE32(in) ^ rk[0], s1 = loadBE32(in + 4) ^ rk[1];
    uint32_t s2 = loadBE32(in + 8) ^ rk[2], s3 = loadBE32(in + 12) ^ rk[3];
    for (int r = 1; r < rounds; ++r) {
        rk += 4;
        uint32_t t0 = kT.td[0][s0 >> 24] ^ kT.td[1][(s3 >> 16) & 255] ^ kT.td[2][(s2 >> 8) & 255] ^ kT.td[3][s1 & 255] ^ rk[0];
        uint32_t t1 = kT.td[0][s1 >> 24] ^ kT.td[1][(s0 >> 16) & 255] ^ kT.td[2][(s3 >> 8) & 255] ^ kT.td[3][s2 & 255] ^ rk[1];
        uint32_t t2 = kT.td[0][s2 >> 24] ^ kT.td[1][(s1 >> 16) & 255] ^ kT.td[2][(s0 >> 8) & 255] ^ kT.td[3][s3 & 255] ^ rk[2];
        uint32_t t3 = kT.td[0][s3 >> 24] ^ kT.td[1][(s2 >> 16) & 255] ^ kT.td[2][(s1 >> 8) & 255] ^ kT.td[3][s0 & 255] ^ rk[3];
        s0 = t0; s1 = t1; s2 = t2; s3 = t3;
    }
    rk += 4;
    auto last = [&](uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
        return ((uint32_t(kT.inv[a >> 24]) << 24) | (uint32_t(kT.inv[(b >> 16) & 255]) << 16) |
                (uint32_t(kT.inv[(c >> 8) & 255]) << 8) | kT.inv[d & 255]) ^ k;
    };
    storeBE32(out, last(s0, s3, s2, s1, rk[0]));
    storeBE32(out + 4, last(s1, s0, s3, s2, rk[1]));
    storeBE32(out + 8, last(s2, s1, s0, s3, rk[2]));
    storeBE32(out + 12, last(s3, s2, s1, s0, rk[3]));
}

// ---- AES instructions -------------------------------------------------------

#ifdef ORV_AES_X86
#define ORV_AESNI __attribute__((target("aes,sse2"), force_align_arg_pointer))

ORV_AESNI void encryptBlockNi(const uint8_t* rkBytes, int rounds, const uint8_t in[16], uint8_t out[16]) {
    const __m128i* rk = reinterpret_cast<const __m128i*>(rkBytes);
    __m128i s = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), _mm_loadu_si128(rk));
    for (int r = 1; r < rounds; ++r) s = _mm_aesenc_si128(s, _mm_loadu_si128(rk + r));
    s = _mm_aesenclast_si128(s, _mm_loadu_si128(rk + rounds));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), s);
}

ORV_AESNI void decryptBlockNi(const uint8_t* rkBytes, int rounds, const uint8_t in[16], uint8_t out[16]) {
    const __m128i* rk = reinterpret_cast<const __m128i*>(rkBytes);
    __m128i s = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), _mm_loadu_si128(rk));
    for (int r = 1; r < rounds; ++r) s = _mm_aesdec_si128(s, _mm_loadu_si128(rk + r));
    s = _mm_aesdeclast_si128(s, _mm_loadu_si128(rk + rounds));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), s);
}

ORV_AESNI void cbcEncryptNi(const uint8_t* rkBytes, int rounds, uint8_t iv[16], const uint8_t* in,
                            uint8_t* out, size_t n) {
    const __m128i* rkp = reinterpret_cast<const __m128i*>(rkBytes);
    __m128i k[15];
    for (int r = 0; r <= rounds; ++r) k[r] = _mm_loadu_si128(rkp + r);
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(iv));
    for (size_t off = 0; off < n; off += 16) {
        __m128i s = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + off)), c);
        s = _mm_xor_si128(s, k[0]);
        for (int r = 1; r < rounds; ++r) s = _mm_aesenc_si128(s, k[r]);
        c = _mm_aesenclast_si128(s, k[rounds]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + off), c);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(iv), c);
}

// Eight blocks at a time: CBC decryption has no chain between the block
// decryptions, so the instruction latencies overlap.
ORV_AESNI void cbcDecryptNi(const uint8_t* rkBytes, int rounds, uint8_t iv[16], const uint8_t* in,
                            uint8_t* out, size_t n) {
    const __m128i* rkp = reinterpret_cast<const __m128i*>(rkBytes);
    __m128i k[15];
    for (int r = 0; r <= rounds; ++r) k[r] = _mm_loadu_si128(rkp + r);
    __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(iv));
    size_t off = 0;
    for (; n - off >= 128; off += 128) {
        __m128i c[8], s[8];
        for (int j = 0; j < 8; ++j) {
            c[j] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + off + 16 * j));
            s[j] = _mm_xor_si128(c[j], k[0]);
        }
        for (int r = 1; r < rounds; ++r)
            for (int j = 0; j < 8; ++j) s[j] = _mm_aesdec_si128(s[j], k[r]);
        for (int j = 0; j < 8; ++j) s[j] = _mm_aesdeclast_si128(s[j], k[rounds]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + off), _mm_xor_si128(s[0], prev));
        for (int j = 1; j < 8; ++j)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + off + 16 * j), _mm_xor_si128(s[j], c[j - 1]));
        prev = c[7];
    }
    for (; off < n; off += 16) {
        __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + off));
        __m128i s = _mm_xor_si128(c, k[0]);
        for (int r = 1; r < rounds; ++r) s = _mm_aesdec_si128(s, k[r]);
        s = _mm_aesdeclast_si128(s, k[rounds]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + off), _mm_xor_si128(s, prev));
        prev = c;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(iv), prev);
}

ORV_AESNI void invMixKeysNi(const uint8_t* enc, int rounds, uint8_t* dec) {
    // dec[0] = enc[rounds], dec[i] = InvMixColumns(enc[rounds - i]), dec[rounds] = enc[0]
    const __m128i* e = reinterpret_cast<const __m128i*>(enc);
    __m128i* d = reinterpret_cast<__m128i*>(dec);
    _mm_storeu_si128(d, _mm_loadu_si128(e + rounds));
    for (int i = 1; i < rounds; ++i) _mm_storeu_si128(d + i, _mm_aesimc_si128(_mm_loadu_si128(e + rounds - i)));
    _mm_storeu_si128(d + rounds, _mm_loadu_si128(e));
}
#endif

}  // namespace

bool AesKey::hardwareAvailable() {
#ifdef ORV_AES_X86
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    return (c & bit_AES) != 0 && (d & bit_SSE2) != 0;
#else
    return false;
#endif
}

// FIPS-197 5.2 (KeyExpansion), then the decryption schedule of 5.3.5.
bool AesKey::setKey(const uint8_t* key, uint32_t keyLength) {
    if (!key || (keyLength != 16 && keyLength != 24 && keyLength != 32)) return false;
    int nk = int(keyLength / 4);
    rounds_ = nk + 6;
    int total = 4 * (rounds_ + 1);
    for (int i = 0; i < nk; ++i) encWords_[i] = loadBE32(key + 4 * i);
    uint32_t rcon = 1;
    for (int i = nk; i < total; ++i) {
        uint32_t temp = encWords_[i - 1];
        if (i % nk == 0) {
            temp = subWord((temp << 8) | (temp >> 24)) ^ (rcon << 24);
            rcon = xtime(uint8_t(rcon));
        } else if (nk > 6 && i % nk == 4) {
            temp = subWord(temp);
        }
        encWords_[i] = encWords_[i - nk] ^ temp;
    }
    for (int r = 0; r <= rounds_; ++r) {
        for (int j = 0; j < 4; ++j) {
            uint32_t w = encWords_[4 * (rounds_ - r) + j];
            decWords_[4 * r + j] = (r == 0 || r == rounds_) ? w : invMixWord(w);
        }
    }
    for (int i = 0; i < total; ++i) {
        storeBE32(enc_ + 4 * i, encWords_[i]);
        storeBE32(dec_ + 4 * i, decWords_[i]);
    }
    hardware_ = hardwareAvailable();
#ifdef ORV_AES_X86
    if (hardware_) {
        uint8_t check[15 * 16];
        invMixKeysNi(enc_, rounds_, check);
        // Both derivations of the inverse schedule must agree.
        if (std::memcmp(check, dec_, size_t(total) * 4) != 0) hardware_ = false;
    }
#endif
    return true;
}

void AesKey::encryptBlock(const uint8_t in[16], uint8_t out[16]) const {
#ifdef ORV_AES_X86
    if (hardware_) return encryptBlockNi(enc_, rounds_, in, out);
#endif
    encryptPortable(encWords_, rounds_, in, out);
}

void AesKey::decryptBlock(const uint8_t in[16], uint8_t out[16]) const {
#ifdef ORV_AES_X86
    if (hardware_) return decryptBlockNi(dec_, rounds_, in, out);
#endif
    decryptPortable(decWords_, rounds_, in, out);
}

void AesKey::cbcEncrypt(uint8_t iv[16], const uint8_t* in, uint8_t* out, size_t n) const {
    n -= n % 16;
#ifdef ORV_AES_X86
    if (hardware_) return cbcEncryptNi(enc_, rounds_, iv, in, out, n);
#endif
    uint8_t block[16];
    for (size_t off = 0; off < n; off += 16) {
        for (int j = 0; j < 16; ++j) block[j] = uint8_t(in[off + j] ^ iv[j]);
        encryptPortable(encWords_, rounds_, block, iv);
        std::memcpy(out + off, iv, 16);
    }
}

void AesKey::cbcDecrypt(uint8_t iv[16], const uint8_t* in, uint8_t* out, size_t n) const {
    n -= n % 16;
#ifdef ORV_AES_X86
    if (hardware_) return cbcDecryptNi(dec_, rounds_, iv, in, out, n);
#endif
    uint8_t cipher[16], plain[16];
    for (size_t off = 0; off < n; off += 16) {
        std::memcpy(cipher, in + off, 16);  // in may be out
        decryptPortable(decWords_, rounds_, cipher, plain);
        for (int j = 0; j < 16; ++j) out[off + j] = uint8_t(plain[j] ^ iv[j]);
        std::memcpy(iv, cipher, 16);
    }
}

void AesKey::ctrLittleEndianXor(uint8_t counter[16], uint8_t stream[16], uint32_t* used,
                                const uint8_t* in, uint8_t* out, size_t n) const {
    for (size_t i = 0; i < n; ++i) {
        if (*used >= 16) {
            for (int j = 0; j < 16 && ++counter[j] == 0; ++j) {
            }
            encryptBlock(counter, stream);
            *used = 0;
        }
        out[i] = uint8_t(in[i] ^ stream[(*used)++]);
    }
}
