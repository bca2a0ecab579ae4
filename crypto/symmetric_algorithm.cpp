#include "crypto/symmetric_algorithm.h"

#include <cstring>
#include <memory>

#include "crypto/md5.h"
#include "support/byte_reader.h"
#include "support/content_coding.h"
#include "support/string_buffer.h"

bool removePaddingStrict(DataBuffer& buffer) {
    uint32_t n = buffer.length();
    if (n == 0) return false;
    uint8_t v = buffer.data()[n - 1];
    if (v == 0 || v > 16 || v > n) return false;
    for (uint32_t i = n - v; i < n; ++i)
        if (buffer.data()[i] != v) return false;
    buffer.truncate(n - v);
    return true;
}

SymmetricAlgorithm2::~SymmetricAlgorithm2() = default;

void SymmetricAlgorithm2::setPassphrase(const char* passphrase) {
    if (!passphrase) return;
    uint32_t length = uint32_t(std::strlen(passphrase));
    uint8_t digests[32];
    DigestMD5::digestBytes(passphrase, length, digests);
    StringBuffer base64;
    ContentCoding().encodeBase64(passphrase, length, base64);
    DigestMD5::digestString(base64, digests + 16);
    keyMaterial_.clear();
    keyMaterial_.appendExact(digests, sizeof digests);
}

void SymmetricAlgorithm2::keyBytes(uint8_t out[64]) const {
    std::memset(out, 0, 64);
    uint32_t n = keyMaterial_.length() < 64 ? keyMaterial_.length() : 64;
    if (n) std::memcpy(out, keyMaterial_.data(), n);
}

namespace {

// The shared shape of encryptBuffer: pad the input in place, copy it into
// a new buffer of capacity padded length + 32, encrypt that in place, and
// strip the padding from the input again.
DataBuffer* padAndEncrypt(SymmetricAlgorithm2& cipher, DataBuffer& input) {
    if (input.isEmpty()) return new DataBuffer();
    uint32_t original = input.length();
    if (original > UINT32_MAX - 48) return new DataBuffer();
    input.pad();
    auto out = std::make_unique<DataBuffer>(input.length() + 32);
    out->append(input.data(), input.length());
    input.truncate(original);
    if (!cipher.beginStream(true) || !cipher.streamBlocks(out->data(), out->length()))
        return new DataBuffer();
    return out.release();
}

DataBuffer* decryptAndUnpad(SymmetricAlgorithm2& cipher, const DataBuffer& input) {
    if (input.isEmpty()) return new DataBuffer();
    if (input.length() % 16 != 0) return nullptr;
    auto out = std::make_unique<DataBuffer>(input.length());
    out->append(input.data(), input.length());
    if (!cipher.beginStream(false) || !cipher.streamBlocks(out->data(), out->length())) return nullptr;
    if (!removePaddingStrict(*out)) return nullptr;
    return out.release();
}

// Raw whole blocks into a new buffer with capacity rounded up to 16.
bool rawIntoNew(SymmetricAlgorithm2& cipher, bool encrypt, const DataBuffer& input, DataBuffer& out,
                uint32_t block) {
    if (input.length() % block != 0) return false;
    uint32_t capacity = input.length() + (16 - input.length() % 16) % 16;
    DataBuffer fresh(capacity ? capacity : 16);
    fresh.append(input.data(), input.length());
    if (!cipher.beginStream(encrypt) || !cipher.streamBlocks(fresh.data(), fresh.length())) return false;
    out.takeFrom(fresh);
    return true;
}

bool rawInto(SymmetricAlgorithm2& cipher, bool encrypt, const DataBuffer& input, uint8_t* out,
             uint32_t block) {
    if (!out || input.length() % block != 0) return false;
    if (input.isEmpty()) return true;
    std::memmove(out, input.data(), input.length());
    return cipher.beginStream(encrypt) && cipher.streamBlocks(out, input.length());
}

int mapAesKeyBits(int bits) { return bits >= 193 ? 256 : bits < 129 ? 128 : 192; }

}  // namespace

// ---- Rijndael2 ------------------------------------------------------------

int Rijndael2::setKeyLength(int bits) {
    int effective = mapAesKeyBits(bits);
    keySizeIndex_ = (effective - 128) / 64;
    scheduleNotReady_ = true;
    return effective;
}

bool Rijndael2::prepare(bool encrypt) {
    uint8_t key[64];
    keyBytes(key);
    bool ok = key_.setKey(key, uint32_t(keyBits() / 8));
    std::memset(key, 0, sizeof key);
    if (!ok) return false;
    key_.setUseHardware(allowHardware_);
    encrypting_ = encrypt;
    scheduleNotReady_ = false;
    std::memcpy(chain_, iv_, 16);
    return true;
}

bool Rijndael2::beginStream(bool encrypt) { return prepare(encrypt); }

void Rijndael2::run(const uint8_t* in, uint8_t* out, uint32_t length) {
    if (mode_ == 1) {
        if (encrypting_) key_.cbcEncrypt(chain_, in, out, length);
        else key_.cbcDecrypt(chain_, in, out, length);
        return;
    }
    for (uint32_t off = 0; off < length; off += 16) {
        if (encrypting_) key_.encryptBlock(in + off, out + off);
        else key_.decryptBlock(in + off, out + off);
    }
}

bool Rijndael2::streamBlocks(uint8_t* data, uint32_t length) {
    if (scheduleNotReady_ || length % 16 != 0 || (length && !data)) return false;
    run(data, data, length);
    return true;
}

DataBuffer* Rijndael2::encryptBuffer(DataBuffer& input) { return padAndEncrypt(*this, input); }
DataBuffer* Rijndael2::decryptBuffer(const DataBuffer& input) { return decryptAndUnpad(*this, input); }
bool Rijndael2::encryptBlocks(const DataBuffer& input, DataBuffer& out) { return rawIntoNew(*this, true, input, out, 16); }
bool Rijndael2::decryptBlocks(const DataBuffer& input, DataBuffer& out) { return rawIntoNew(*this, false, input, out, 16); }
bool Rijndael2::encryptBlocksInto(const DataBuffer& input, uint8_t* out) { return rawInto(*this, true, input, out, 16); }
bool Rijndael2::decryptBlocksInto(const DataBuffer& input, uint8_t* out) { return rawInto(*this, false, input, out, 16); }

void Rijndael2::exportSettings(CipherSettings& settings) const {
    settings.mode = mode_;
    settings.keyBits = keyBits();
    settings.paddingScheme = paddingScheme_;
}

void Rijndael2::importSettings(const CipherSettings& settings) {
    if (settings.mode == 0 || settings.mode == 1) mode_ = settings.mode;
    setKeyLength(settings.keyBits);
}

// ---- TwoFish --------------------------------------------------------------

// The CBC IV is a fixed constant of this implementation.
const uint8_t TwoFish::kIv[16] = {0x4f, 0x72, 0x76, 0x61, 0x6e, 0x74, 0x61, 0x20,
                                  0x54, 0x77, 0x6f, 0x66, 0x69, 0x73, 0x68, 0x21};

int TwoFish::setKeyLength(int bits) {
    keyBits_ = mapAesKeyBits(bits);
    return keyBits_;
}

bool TwoFish::prepare(bool encrypt) {
    uint8_t key[64];
    keyBytes(key);
    bool ok = core_.setKey(key, uint32_t(keyBits_ / 8));
    std::memset(key, 0, sizeof key);
    encrypting_ = encrypt;
    std::memcpy(chain_, kIv, 16);
    return ok;
}

bool TwoFish::beginStream(bool encrypt) { return prepare(encrypt); }

void TwoFish::run(const uint8_t* in, uint8_t* out, uint32_t length) {
    uint8_t block[16];
    for (uint32_t off = 0; off < length; off += 16) {
        if (mode_ != 2) {
            if (encrypting_) core_.encryptBlock(in + off, out + off);
            else core_.decryptBlock(in + off, out + off);
        } else if (encrypting_) {
            for (int j = 0; j < 16; ++j) block[j] = uint8_t(in[off + j] ^ chain_[j]);
            core_.encryptBlock(block, chain_);
            std::memcpy(out + off, chain_, 16);
        } else {
            uint8_t cipherBlock[16];
            std::memcpy(cipherBlock, in + off, 16);
            core_.decryptBlock(cipherBlock, block);
            for (int j = 0; j < 16; ++j) out[off + j] = uint8_t(block[j] ^ chain_[j]);
            std::memcpy(chain_, cipherBlock, 16);
        }
    }
}

bool TwoFish::streamBlocks(uint8_t* data, uint32_t length) {
    if (length % 16 != 0 || (length && !data)) return false;
    run(data, data, length);
    return true;
}

DataBuffer* TwoFish::encryptBuffer(DataBuffer& input) { return padAndEncrypt(*this, input); }
DataBuffer* TwoFish::decryptBuffer(const DataBuffer& input) { return decryptAndUnpad(*this, input); }
bool TwoFish::encryptBlocks(const DataBuffer& input, DataBuffer& out) { return rawIntoNew(*this, true, input, out, 16); }
bool TwoFish::decryptBlocks(const DataBuffer& input, DataBuffer& out) { return rawIntoNew(*this, false, input, out, 16); }
bool TwoFish::encryptBlocksInto(const DataBuffer& input, uint8_t* out) { return rawInto(*this, true, input, out, 16); }
bool TwoFish::decryptBlocksInto(const DataBuffer& input, uint8_t* out) { return rawInto(*this, false, input, out, 16); }

void TwoFish::exportSettings(CipherSettings& settings) const {
    settings.mode = mode_;
    settings.keyBits = keyBits_;
    settings.paddingScheme = 0;
}

void TwoFish::importSettings(const CipherSettings& settings) {
    if (settings.mode == 1 || settings.mode == 2) mode_ = settings.mode;
    setKeyLength(settings.keyBits);
}

// ---- BlowFish -------------------------------------------------------------

int BlowFish::setKeyLength(int bits) {
    int b = bits > 448 ? 448 : bits;
    b -= ((b % 8) + 8) % 8;  // down to a multiple of 8, also below zero
    keyBits_ = b < 40 ? 40 : b;
    return keyBits_;
}

// The P-array and S-boxes are rebuilt from the key for every operation.
bool BlowFish::prepare(bool encrypt) {
    uint8_t key[64];
    keyBytes(key);
    bool ok = core_.setKey(key, uint32_t(keyBits_ / 8));
    std::memset(key, 0, sizeof key);
    encrypting_ = encrypt;
    return ok;
}

bool BlowFish::beginStream(bool encrypt) { return prepare(encrypt); }

// ECB over 8-byte blocks, each taken as two little-endian words.
void BlowFish::run(const uint8_t* in, uint8_t* out, uint32_t length) {
    for (uint32_t off = 0; off + 8 <= length; off += 8) {
        uint32_t l = loadLE32(in + off), r = loadLE32(in + off + 4);
        if (encrypting_) core_.encrypt(&l, &r);
        else core_.decrypt(&l, &r);
        storeLE32(out + off, l);
        storeLE32(out + off + 4, r);
    }
}

bool BlowFish::streamBlocks(uint8_t* data, uint32_t length) {
    if (length % 8 != 0 || (length && !data)) return false;
    run(data, data, length);
    return true;
}

DataBuffer* BlowFish::encryptBuffer(DataBuffer& input) { return padAndEncrypt(*this, input); }
DataBuffer* BlowFish::decryptBuffer(const DataBuffer& input) { return decryptAndUnpad(*this, input); }
bool BlowFish::encryptBlocks(const DataBuffer& input, DataBuffer& out) { return rawIntoNew(*this, true, input, out, 8); }
bool BlowFish::decryptBlocks(const DataBuffer& input, DataBuffer& out) { return rawIntoNew(*this, false, input, out, 8); }
bool BlowFish::encryptBlocksInto(const DataBuffer& input, uint8_t* out) { return rawInto(*this, true, input, out, 8); }
bool BlowFish::decryptBlocksInto(const DataBuffer& input, uint8_t* out) { return rawInto(*this, false, input, out, 8); }

void BlowFish::exportSettings(CipherSettings& settings) const {
    settings.mode = 0;
    settings.keyBits = keyBits_;
    settings.paddingScheme = 0;
}

void BlowFish::importSettings(const CipherSettings& settings) { setKeyLength(settings.keyBits); }
