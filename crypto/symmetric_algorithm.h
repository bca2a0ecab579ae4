// SymmetricAlgorithm2: the cipher family behind EasyCrypt, with its three
// members Rijndael2 (AES), TwoFish and BlowFish. Each object holds the key
// material made from a pass phrase (MD5 of the pass phrase, then MD5 of its
// base64 form) and its own mode and key length; nothing is shared between
// objects.
#pragma once

#include <cstdint>

#include "crypto/aes.h"
#include "crypto/blowfish_core.h"
#include "crypto/twofish_core.h"
#include "support/data_buffer.h"

// What exportSettings and importSettings exchange.
struct CipherSettings {
    int mode = 0;
    int keyBits = 0;
    int paddingScheme = 0;
};

// Padding scheme 0 on a DataBuffer: strict removal of one layer. False
// (buffer unchanged) when the last byte is not 1..16, is longer than the
// data, or the bytes it covers do not all hold it.
bool removePaddingStrict(DataBuffer& buffer);

class SymmetricAlgorithm2 {
public:
    virtual ~SymmetricAlgorithm2();

    virtual bool useEcb() { return false; }
    virtual bool useCbc() { return false; }
    virtual bool useCfb() { return false; }
    virtual bool useOfb() { return false; }
    virtual int setKeyLength(int bits) { return 128; }
    // Pads (scheme 0), encrypts, and strips the padding from the input again.
    // Returns a new buffer the caller owns, or null.
    virtual DataBuffer* encryptBuffer(DataBuffer& input) { return nullptr; }
    // Whole blocks, no padding: into a new output buffer (out is replaced,
    // its capacity the input length rounded up to 16).
    virtual bool encryptBlocks(const DataBuffer& input, DataBuffer& out) { return false; }
    // Decrypts and removes one padding layer strictly. Null when the length
    // is not a whole number of 16-byte blocks or the padding is invalid.
    virtual DataBuffer* decryptBuffer(const DataBuffer& input) { return nullptr; }
    virtual bool decryptBlocks(const DataBuffer& input, DataBuffer& out) { return false; }
    // Whole blocks into the caller's buffer of at least input.length() bytes.
    virtual bool encryptBlocksInto(const DataBuffer& input, uint8_t* out) { return false; }
    virtual bool decryptBlocksInto(const DataBuffer& input, uint8_t* out) { return false; }
    virtual void exportSettings(CipherSettings& settings) const {}
    virtual void importSettings(const CipherSettings& settings) {}

    // Streaming (file encryption in chunks): set up for one chain, then
    // process whole 16-byte blocks in place; consecutive calls continue the
    // chain exactly as one call over the concatenation would.
    virtual bool beginStream(bool encrypt) { return false; }
    virtual bool streamBlocks(uint8_t* data, uint32_t length) { return false; }

    // Replaces the key material from a terminated byte string; a null
    // pointer leaves it unchanged.
    void setPassphrase(const char* passphrase);
    const DataBuffer& keyMaterial() const { return keyMaterial_; }

protected:
    // The first n bytes of the key material, zero-filled to 64 bytes.
    void keyBytes(uint8_t out[64]) const;

    DataBuffer keyMaterial_;
};

class Rijndael2 : public SymmetricAlgorithm2 {
public:
    bool useEcb() override { mode_ = 0; return true; }
    bool useCbc() override { mode_ = 1; return true; }
    int setKeyLength(int bits) override;
    DataBuffer* encryptBuffer(DataBuffer& input) override;
    bool encryptBlocks(const DataBuffer& input, DataBuffer& out) override;
    DataBuffer* decryptBuffer(const DataBuffer& input) override;
    bool decryptBlocks(const DataBuffer& input, DataBuffer& out) override;
    bool encryptBlocksInto(const DataBuffer& input, uint8_t* out) override;
    bool decryptBlocksInto(const DataBuffer& input, uint8_t* out) override;
    void exportSettings(CipherSettings& settings) const override;
    void importSettings(const CipherSettings& settings) override;
    bool beginStream(bool encrypt) override;
    bool streamBlocks(uint8_t* data, uint32_t length) override;

    int keyBits() const { return 128 + 64 * keySizeIndex_; }
    // Tests and the benchmark compare the two AES implementations.
    void setUseHardware(bool on) { allowHardware_ = on; }

private:
    bool prepare(bool encrypt);
    void run(const uint8_t* in, uint8_t* out, uint32_t length);

    int paddingScheme_ = 0;
    int keySizeIndex_ = 2;  // 0, 1, 2 for 128, 192, 256
    int mode_ = 1;          // 0 ECB, 1 CBC
    bool encrypting_ = true;
    bool scheduleNotReady_ = true;
    bool allowHardware_ = true;
    uint8_t iv_[16] = {};     // all zero, never changed
    uint8_t chain_[16] = {};  // the running chaining value
    AesKey key_;
};

class TwoFish : public SymmetricAlgorithm2 {
public:
    bool useEcb() override { mode_ = 1; return true; }
    bool useCbc() override { mode_ = 2; return true; }
    int setKeyLength(int bits) override;
    DataBuffer* encryptBuffer(DataBuffer& input) override;
    bool encryptBlocks(const DataBuffer& input, DataBuffer& out) override;
    DataBuffer* decryptBuffer(const DataBuffer& input) override;
    bool decryptBlocks(const DataBuffer& input, DataBuffer& out) override;
    bool encryptBlocksInto(const DataBuffer& input, uint8_t* out) override;
    bool decryptBlocksInto(const DataBuffer& input, uint8_t* out) override;
    void exportSettings(CipherSettings& settings) const override;
    void importSettings(const CipherSettings& settings) override;
    bool beginStream(bool encrypt) override;
    bool streamBlocks(uint8_t* data, uint32_t length) override;

    // The fixed IV of the CBC mode.
    static const uint8_t kIv[16];

private:
    bool prepare(bool encrypt);
    void run(const uint8_t* in, uint8_t* out, uint32_t length);

    int mode_ = 2;  // 1 ECB, 2 CBC
    int keyBits_ = 256;
    bool encrypting_ = true;
    uint8_t chain_[16] = {};
    TwofishCore core_;
};

class BlowFish : public SymmetricAlgorithm2 {
public:
    // Blowfish runs in ECB only; the selectors are accepted and ignored.
    bool useEcb() override { return true; }
    bool useCbc() override { return true; }
    bool useCfb() override { return true; }
    bool useOfb() override { return true; }
    int setKeyLength(int bits) override;
    DataBuffer* encryptBuffer(DataBuffer& input) override;
    bool encryptBlocks(const DataBuffer& input, DataBuffer& out) override;
    DataBuffer* decryptBuffer(const DataBuffer& input) override;
    bool decryptBlocks(const DataBuffer& input, DataBuffer& out) override;
    bool encryptBlocksInto(const DataBuffer& input, uint8_t* out) override;
    bool decryptBlocksInto(const DataBuffer& input, uint8_t* out) override;
    void exportSettings(CipherSettings& settings) const override;
    void importSettings(const CipherSettings& settings) override;
    bool beginStream(bool encrypt) override;
    bool streamBlocks(uint8_t* data, uint32_t length) override;

private:
    bool prepare(bool encrypt);
    void run(const uint8_t* in, uint8_t* out, uint32_t length);

    int keyBits_ = 128;
    bool encrypting_ = true;
    BlowfishCore core_;
};
