// Blowfish (Schneier, 1993): the key schedule and the 16-round Feistel
// network on 64-bit blocks. Words are big-endian in the published
// description; callers choose how bytes map to words.
#pragma once

#include <cstdint>

class BlowfishCore {
public:
    // 1 to 56 key bytes, repeated cyclically over the P-array.
    bool setKey(const uint8_t* key, uint32_t keyLength);
    void encrypt(uint32_t* left, uint32_t* right) const;
    void decrypt(uint32_t* left, uint32_t* right) const;

private:
    uint32_t f(uint32_t x) const {
        return ((s_[0][x >> 24] + s_[1][(x >> 16) & 255]) ^ s_[2][(x >> 8) & 255]) + s_[3][x & 255];
    }
    uint32_t p_[18];
    uint32_t s_[4][256];
};
