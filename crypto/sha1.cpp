#include "crypto/sha1.h"

#include <cstring>

#include "crypto/hash_blocks.h"

namespace {
inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// One aligned-or-not 32-bit load and a byte swap on little-endian hosts
// (every target we build for); compilers turn this into a single
// load-and-swap instruction.
inline uint32_t loadBE32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return v;
#elif defined(__GNUC__)
    return __builtin_bswap32(v);
#else
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
#endif
}

inline void storeBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}

// The compression function (RFC 3174 section 6.2, the 16-word variant):
// the 80 rounds written out, the message schedule kept in a ring of 16
// words that w[] is on entry and gets overwritten in.
#define SHA1_CH(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define SHA1_PARITY(b, c, d) ((b) ^ (c) ^ (d))
#define SHA1_MAJ(b, c, d) (((b) & (c)) | ((d) & ((b) | (c))))
// W[t] = rotl(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16], 1), replacing W[t-16].
#define SHA1_WORD(t)                                                                                 \
    ((t) < 16 ? w[(t) & 15]                                                                          \
              : (w[(t) & 15] = rotl(w[((t) + 13) & 15] ^ w[((t) + 8) & 15] ^ w[((t) + 2) & 15] ^     \
                                        w[(t) & 15],                                                 \
                                    1)))
// One round, with the variables renamed instead of shifted: afterwards e
// holds the new a and b the new c.
#define SHA1_ROUND(a, b, c, d, e, f, k, t)                \
    e += rotl(a, 5) + f(b, c, d) + (k) + SHA1_WORD(t);    \
    b = rotl(b, 30);
#define SHA1_FIVE(f, k, t)                     \
    SHA1_ROUND(a, b, c, d, e, f, k, (t))       \
    SHA1_ROUND(e, a, b, c, d, f, k, (t) + 1)   \
    SHA1_ROUND(d, e, a, b, c, f, k, (t) + 2)   \
    SHA1_ROUND(c, d, e, a, b, f, k, (t) + 3)   \
    SHA1_ROUND(b, c, d, e, a, f, k, (t) + 4)
#define SHA1_TWENTY(f, k, t) \
    SHA1_FIVE(f, k, (t)) SHA1_FIVE(f, k, (t) + 5) SHA1_FIVE(f, k, (t) + 10) SHA1_FIVE(f, k, (t) + 15)

inline void sha1Rounds(uint32_t state[5], uint32_t w[16]) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    SHA1_TWENTY(SHA1_CH, 0x5A827999u, 0)
    SHA1_TWENTY(SHA1_PARITY, 0x6ED9EBA1u, 20)
    SHA1_TWENTY(SHA1_MAJ, 0x8F1BBCDCu, 40)
    SHA1_TWENTY(SHA1_PARITY, 0xCA62C1D6u, 60)
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

#undef SHA1_TWENTY
#undef SHA1_FIVE
#undef SHA1_ROUND
#undef SHA1_WORD
#undef SHA1_MAJ
#undef SHA1_PARITY
#undef SHA1_CH

inline void compressBytes(uint32_t state[5], const uint8_t block[64]) {
    uint32_t w[16];
    for (int t = 0; t < 16; ++t) w[t] = loadBE32(block + 4 * t);
    sha1Rounds(state, w);
}

// A block already in words, left as it is.
inline void compressWords(uint32_t state[5], const uint32_t block[16]) {
    uint32_t w[16];
    std::memcpy(w, block, sizeof w);
    sha1Rounds(state, w);
}

const uint32_t kInitialState[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
}  // namespace

void Sha1::initialize() { resume(kInitialState, 0); }

void Sha1::resume(const uint32_t state[5], uint64_t bytesDone) {
    std::memcpy(state_, state, sizeof state_);
    totalBytes_ = bytesDone;
    pendingLength_ = 0;
}

void Sha1::compress(const uint8_t block[64]) { compressBytes(state_, block); }

void Sha1::update(const void* data, uint32_t length) {
    if (!data || !length) return;
    totalBytes_ += length;
    feedHashBlocks(pending_, pendingLength_, data, length, [this](const uint8_t* block) { compress(block); });
}

void Sha1::finish(uint8_t digest[kDigestSize]) {
    uint64_t bits = totalBytes_ * 8;
    uint8_t tail[72] = {0x80};
    uint32_t padLength = (pendingLength_ < 56 ? 56 : 120) - pendingLength_;
    update(tail, padLength);
    uint8_t lengthBytes[8];
    storeBE32(lengthBytes, uint32_t(bits >> 32));
    storeBE32(lengthBytes + 4, uint32_t(bits));
    update(lengthBytes, 8);
    for (int i = 0; i < 5; ++i) storeBE32(digest + 4 * i, state_[i]);
}

void Sha1::digest(const void* data, uint32_t length, uint8_t out[kDigestSize]) {
    Sha1 s;
    s.update(data, length);
    s.finish(out);
}

HmacSha1::HmacSha1(const void* key, uint32_t keyLength) {
    uint8_t k[64] = {0};
    if (keyLength > 64) {
        Sha1::digest(key, keyLength, k);
    } else if (keyLength) {
        std::memcpy(k, key, keyLength);
    }
    uint8_t innerPad[64], outerPad[64];
    for (int i = 0; i < 64; ++i) {
        innerPad[i] = uint8_t(k[i] ^ 0x36);
        outerPad[i] = uint8_t(k[i] ^ 0x5c);
    }
    std::memcpy(innerState_, kInitialState, sizeof innerState_);
    std::memcpy(outerState_, kInitialState, sizeof outerState_);
    compressBytes(innerState_, innerPad);
    compressBytes(outerState_, outerPad);
    inner_.resume(innerState_, 64);
}

void HmacSha1::finish(uint8_t mac[Sha1::kDigestSize]) {
    uint8_t innerDigest[Sha1::kDigestSize];
    inner_.finish(innerDigest);
    Sha1 outer;
    outer.resume(outerState_, 64);
    outer.update(innerDigest, sizeof innerDigest);
    outer.finish(mac);
    inner_.resume(innerState_, 64);
}

void HmacSha1::mac(const void* key, uint32_t keyLength, const void* data, uint32_t length,
                   uint8_t out[Sha1::kDigestSize]) {
    HmacSha1 h(key, keyLength);
    h.update(data, length);
    h.finish(out);
}

bool pbkdf2HmacSha1(const void* password, uint32_t passwordLength, const void* salt,
                    uint32_t saltLength, uint32_t iterations, uint8_t* out, uint32_t outLength) {
    if (iterations == 0 || (outLength && !out)) return false;
    HmacSha1 prf(password, passwordLength);
    // From the second iteration on, both hashes of a MAC take one block
    // after the pad block: a 20-byte message, then the padding and the
    // length of 64 + 20 bytes. The message words are the only ones that
    // change, so the block is laid out once and the digests go in as words.
    uint32_t block[16] = {0};
    block[5] = 0x80000000u;
    block[15] = (64 + Sha1::kDigestSize) * 8;
    uint32_t blockIndex = 1;
    while (outLength) {
        uint8_t indexBytes[4];
        storeBE32(indexBytes, blockIndex);
        uint8_t u[Sha1::kDigestSize];
        prf.update(salt, saltLength);
        prf.update(indexBytes, 4);
        prf.finish(u);
        uint32_t t[5];
        for (int j = 0; j < 5; ++j) t[j] = block[j] = loadBE32(u + 4 * j);
        for (uint32_t i = 1; i < iterations; ++i) {
            uint32_t state[5];
            std::memcpy(state, prf.innerState_, sizeof state);
            compressWords(state, block);
            std::memcpy(block, state, sizeof state);
            std::memcpy(state, prf.outerState_, sizeof state);
            compressWords(state, block);
            std::memcpy(block, state, sizeof state);
            for (int j = 0; j < 5; ++j) t[j] ^= state[j];
        }
        uint8_t tBytes[Sha1::kDigestSize];
        for (int j = 0; j < 5; ++j) storeBE32(tBytes + 4 * j, t[j]);
        uint32_t take = outLength < sizeof tBytes ? outLength : uint32_t(sizeof tBytes);
        std::memcpy(out, tBytes, take);
        out += take;
        outLength -= take;
        if (++blockIndex == 0) return false;  // 2^32 - 1 blocks at most
    }
    return true;
}
