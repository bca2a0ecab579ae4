#include "crypto/sha1.h"

#include <cstring>

#include "crypto/hash_blocks.h"

namespace {
inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
inline uint32_t loadBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline void storeBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}
}  // namespace

void Sha1::initialize() {
    state_[0] = 0x67452301;
    state_[1] = 0xEFCDAB89;
    state_[2] = 0x98BADCFE;
    state_[3] = 0x10325476;
    state_[4] = 0xC3D2E1F0;
    totalBytes_ = 0;
    pendingLength_ = 0;
}

// RFC 3174 section 6.1, method 1.
void Sha1::compress(const uint8_t block[64]) {
    uint32_t w[80];
    for (int t = 0; t < 16; ++t) w[t] = loadBE32(block + 4 * t);
    for (int t = 16; t < 80; ++t) w[t] = rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
    for (int t = 0; t < 80; ++t) {
        uint32_t f, k;
        if (t < 20) { f = (b & c) | (~b & d); k = 0x5A827999; }
        else if (t < 40) { f = b ^ c ^ d; k = 0x6ED9EBA1; }
        else if (t < 60) { f = (b & c) | (b & d) | (c & d); k = 0x8F1BBCDC; }
        else { f = b ^ c ^ d; k = 0xCA62C1D6; }
        uint32_t temp = rotl(a, 5) + f + e + w[t] + k;
        e = d;
        d = c;
        c = rotl(b, 30);
        b = a;
        a = temp;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
    state_[4] += e;
}

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
    for (int i = 0; i < 64; ++i) {
        innerPad_[i] = uint8_t(k[i] ^ 0x36);
        outerPad_[i] = uint8_t(k[i] ^ 0x5c);
    }
    inner_.update(innerPad_, 64);
}

void HmacSha1::finish(uint8_t mac[Sha1::kDigestSize]) {
    uint8_t innerDigest[Sha1::kDigestSize];
    inner_.finish(innerDigest);
    Sha1 outer;
    outer.update(outerPad_, 64);
    outer.update(innerDigest, sizeof innerDigest);
    outer.finish(mac);
    inner_.initialize();
    inner_.update(innerPad_, 64);
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
    uint32_t blockIndex = 1;
    while (outLength) {
        uint8_t indexBytes[4];
        storeBE32(indexBytes, blockIndex);
        uint8_t u[Sha1::kDigestSize], t[Sha1::kDigestSize];
        prf.update(salt, saltLength);
        prf.update(indexBytes, 4);
        prf.finish(u);
        std::memcpy(t, u, sizeof t);
        for (uint32_t i = 1; i < iterations; ++i) {
            prf.update(u, sizeof u);
            prf.finish(u);
            for (uint32_t j = 0; j < sizeof t; ++j) t[j] ^= u[j];
        }
        uint32_t take = outLength < sizeof t ? outLength : uint32_t(sizeof t);
        std::memcpy(out, t, take);
        out += take;
        outLength -= take;
        if (++blockIndex == 0) return false;  // 2^32 - 1 blocks at most
    }
    return true;
}
