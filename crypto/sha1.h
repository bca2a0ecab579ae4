// SHA-1 (RFC 3174), HMAC-SHA1 (RFC 2104) and PBKDF2-HMAC-SHA1 (RFC 8018),
// for the zip library's AES entry encryption.
#pragma once

#include <cstdint>

class Sha1 {
public:
    static constexpr uint32_t kDigestSize = 20;
    static constexpr uint32_t kBlockSize = 64;

    Sha1() { initialize(); }
    void initialize();
    void update(const void* data, uint32_t length);
    void finish(uint8_t digest[kDigestSize]);
    static void digest(const void* data, uint32_t length, uint8_t out[kDigestSize]);

private:
    friend class HmacSha1;
    void compress(const uint8_t block[64]);
    // Continues from a state reached after bytesDone bytes (a multiple of 64).
    void resume(const uint32_t state[5], uint64_t bytesDone);

    uint32_t state_[5];
    uint64_t totalBytes_;
    uint8_t pending_[64];
    uint32_t pendingLength_;
};

class HmacSha1 {
public:
    HmacSha1(const void* key, uint32_t keyLength);
    void update(const void* data, uint32_t length) { inner_.update(data, length); }
    // Writes the MAC and starts over with the same key.
    void finish(uint8_t mac[Sha1::kDigestSize]);
    static void mac(const void* key, uint32_t keyLength, const void* data, uint32_t length,
                    uint8_t out[Sha1::kDigestSize]);

private:
    friend bool pbkdf2HmacSha1(const void*, uint32_t, const void*, uint32_t, uint32_t, uint8_t*, uint32_t);
    // The hash states after the one block of key ^ ipad and key ^ opad:
    // every MAC under this key starts from them.
    uint32_t innerState_[5];
    uint32_t outerState_[5];
    Sha1 inner_;
};

// Derives outLength bytes. False when the iteration count is 0 or the
// requested length is beyond what the construction allows.
bool pbkdf2HmacSha1(const void* password, uint32_t passwordLength, const void* salt,
                    uint32_t saltLength, uint32_t iterations, uint8_t* out, uint32_t outLength);
