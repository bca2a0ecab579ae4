// Traditional PKWARE entry encryption and WinZip AES entry encryption.
#include "zip/zip_crypto.h"

#include <cstring>
#include <new>

namespace {

// CRC-32 of one byte without the pre- and post-inversion: the traditional
// cipher's key update (the table of the reflected polynomial 0xEDB88320).
struct CrcTable {
    uint32_t t[256];
    CrcTable() {
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
    }
};

uint32_t crcByte(uint32_t crc, uint8_t b) {
    static const CrcTable table;
    return table.t[(crc ^ b) & 0xFF] ^ (crc >> 8);
}

}  // namespace

ZipCryptoCipher::ZipCryptoCipher(const char* password, size_t length)
    : k0_(0x12345678u), k1_(0x23456789u), k2_(0x34567890u) {
    for (size_t i = 0; i < length; i++) update(uint8_t(password[i]));
}

void ZipCryptoCipher::update(uint8_t plain) {
    k0_ = crcByte(k0_, plain);
    k1_ = (k1_ + (k0_ & 0xFF)) * 134775813u + 1;
    k2_ = crcByte(k2_, uint8_t(k1_ >> 24));
}

uint8_t ZipCryptoCipher::keyByte() const {
    uint32_t temp = (k2_ | 2) & 0xFFFF;
    return uint8_t((temp * (temp ^ 1)) >> 8);
}

void ZipCryptoCipher::decrypt(uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; i++) {
        uint8_t plain = uint8_t(data[i] ^ keyByte());
        update(plain);
        data[i] = plain;
    }
}

void ZipCryptoCipher::encrypt(uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; i++) {
        uint8_t plain = data[i];
        data[i] = uint8_t(plain ^ keyByte());
        update(plain);
    }
}

WinZipAesCipher::WinZipAesCipher() {
    std::memset(counter_, 0, sizeof counter_);
    std::memset(stream_, 0, sizeof stream_);
}

WinZipAesCipher::~WinZipAesCipher() { delete mac_; }

bool WinZipAesCipher::init(const char* password, size_t length, const uint8_t* salt, int strength,
                           uint8_t verifier[2]) {
    uint32_t keyLen = keyLength(strength);
    if (!keyLen || length > 0xFFFFFFFFu) return false;
    uint8_t material[2 * 32 + 2];
    if (!pbkdf2HmacSha1(password, uint32_t(length), salt, saltLength(strength), kIterations, material,
                        2 * keyLen + 2))
        return false;
    if (!key_.setKey(material, keyLen)) return false;
    delete mac_;
    mac_ = new HmacSha1(material + keyLen, keyLen);
    verifier[0] = material[2 * keyLen];
    verifier[1] = material[2 * keyLen + 1];
    std::memset(material, 0, sizeof material);
    std::memset(counter_, 0, sizeof counter_);
    used_ = 16;
    return true;
}

void WinZipAesCipher::macUpdate(const uint8_t* data, size_t n) {
    while (n) {
        uint32_t piece = n > 0x40000000u ? 0x40000000u : uint32_t(n);
        mac_->update(data, piece);
        data += piece;
        n -= piece;
    }
}

void WinZipAesCipher::decrypt(uint8_t* data, size_t n) {
    macUpdate(data, n);
    key_.ctrLittleEndianXor(counter_, stream_, &used_, data, data, n);
}

void WinZipAesCipher::encrypt(uint8_t* data, size_t n) {
    key_.ctrLittleEndianXor(counter_, stream_, &used_, data, data, n);
    macUpdate(data, n);
}

void WinZipAesCipher::finishMac(uint8_t mac[kMacSize]) {
    uint8_t full[Sha1::kDigestSize];
    mac_->finish(full);
    std::memcpy(mac, full, kMacSize);
}
