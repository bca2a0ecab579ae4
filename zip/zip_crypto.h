// Entry encryption of the zip format: the traditional PKWARE stream cipher
// ("ZipCrypto") and WinZip AES (AES-CTR with a little-endian counter,
// PBKDF2-HMAC-SHA1 keys, a 2-byte password verifier and a 10-byte
// HMAC-SHA1 authentication code over the encrypted bytes).
//
// The traditional cipher is weak (known-plaintext attacks recover the keys);
// it is here because every zip tool reads it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/aes.h"
#include "crypto/sha1.h"

class ZipCryptoCipher {
public:
    static constexpr uint32_t kHeaderSize = 12;

    explicit ZipCryptoCipher(const char* password, size_t length);
    void decrypt(uint8_t* data, size_t n);
    void encrypt(uint8_t* data, size_t n);

private:
    uint8_t keyByte() const;
    void update(uint8_t plain);
    uint32_t k0_, k1_, k2_;
};

class WinZipAesCipher {
public:
    static constexpr uint32_t kIterations = 1000;
    static constexpr uint32_t kVerifierSize = 2;
    static constexpr uint32_t kMacSize = 10;
    // strength 1, 2, 3: 128, 192, 256-bit keys; 0 for anything else.
    static uint32_t keyLength(int strength) { return strength >= 1 && strength <= 3 ? 8 + 8 * uint32_t(strength) : 0; }
    static uint32_t saltLength(int strength) { return keyLength(strength) / 2; }

    WinZipAesCipher();
    ~WinZipAesCipher();
    // Derives the keys from the password and salt (saltLength(strength)
    // bytes) and writes the password verifier. False for a bad strength.
    bool init(const char* password, size_t length, const uint8_t* salt, int strength, uint8_t verifier[2]);
    // Decrypting: the authentication code covers the encrypted input.
    void decrypt(uint8_t* data, size_t n);
    // Encrypting: the authentication code covers the encrypted output.
    void encrypt(uint8_t* data, size_t n);
    // The 10-byte authentication code of everything so far.
    void finishMac(uint8_t mac[kMacSize]);

private:
    void macUpdate(const uint8_t* data, size_t n);
    AesKey key_;
    HmacSha1* mac_ = nullptr;
    uint8_t counter_[16];
    uint8_t stream_[16];
    uint32_t used_ = 16;
};
