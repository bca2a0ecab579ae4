// AES (FIPS-197) with the modes this system needs: CBC (SP 800-38A) for
// the payload, and CTR with the little-endian counter of WinZip AES zip
// entries.
//
// Two implementations behind one interface: the processor's AES
// instructions when cpuid reports them (checked at run time, in 32-bit
// builds too), else a portable table-driven version. The table version
// indexes memory with key-dependent values and is NOT constant-time: a
// local attacker who can observe cache timing may learn key bits.
#pragma once

#include <cstddef>
#include <cstdint>

class AesKey {
public:
    // keyLength is 16, 24 or 32 bytes; false for any other length.
    bool setKey(const uint8_t* key, uint32_t keyLength);
    // Forces the portable path (tests compare both paths).
    void setUseHardware(bool on) { hardware_ = on && hardwareAvailable(); }
    bool usesHardware() const { return hardware_; }
    int rounds() const { return rounds_; }

    void encryptBlock(const uint8_t in[16], uint8_t out[16]) const;
    void decryptBlock(const uint8_t in[16], uint8_t out[16]) const;

    // CBC over n bytes (a multiple of 16); in and out may be the same
    // buffer. iv carries the chaining value in and out, so consecutive
    // calls continue one chain.
    void cbcEncrypt(uint8_t iv[16], const uint8_t* in, uint8_t* out, size_t n) const;
    void cbcDecrypt(uint8_t iv[16], const uint8_t* in, uint8_t* out, size_t n) const;

    // CTR as WinZip AES uses it: the 16-byte counter is a little-endian
    // number, incremented before each block (start it at 0 to have the
    // first block use 1). Any length; the key stream position carries over
    // between calls through counter, stream and *used (start *used at 16).
    void ctrLittleEndianXor(uint8_t counter[16], uint8_t stream[16], uint32_t* used,
                            const uint8_t* in, uint8_t* out, size_t n) const;

    static bool hardwareAvailable();

private:
    // Round keys in the standard's byte order: encryption keys, then the
    // decryption keys of the equivalent inverse cipher (FIPS-197 5.3.5).
    uint8_t enc_[15 * 16];
    uint8_t dec_[15 * 16];
    uint32_t encWords_[60];
    uint32_t decWords_[60];
    int rounds_ = 0;
    bool hardware_ = false;
};
