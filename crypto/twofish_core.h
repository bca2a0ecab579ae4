// Twofish (Schneier et al., 1998) on 128-bit blocks with 128-, 192- or
// 256-bit keys. The key-dependent S-boxes are folded with the MDS matrix
// into four 256-entry tables at key set-up; lookups depend on the data,
// so this code is not constant-time either.
#pragma once

#include <cstdint>

class TwofishCore {
public:
    bool setKey(const uint8_t* key, uint32_t keyLength);  // 16, 24 or 32
    void encryptBlock(const uint8_t in[16], uint8_t out[16]) const;
    void decryptBlock(const uint8_t in[16], uint8_t out[16]) const;

private:
    uint32_t g(uint32_t x) const {
        return sbox_[0][x & 255] ^ sbox_[1][(x >> 8) & 255] ^ sbox_[2][(x >> 16) & 255] ^ sbox_[3][x >> 24];
    }
    uint32_t k_[40];
    uint32_t sbox_[4][256];
};
