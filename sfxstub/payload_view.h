// The encrypted payload of a self-extractor read as the zip archive it
// holds, without a decrypted copy anywhere: CBC decryption is random
// access (plain block i = AES-decrypt(cipher block i) xor cipher block
// i - 1, the IV before block 0), so each read reads and decrypts only the
// blocks that cover it, straight from the self-extractor's file.
//
// The payload is AES-CBC with a zero IV of: the archive, 1 to 16 bytes of
// padding (n bytes of value n), then one whole block of sixteen 16s. The
// open checks the length, the key length and both padding layers strictly
// and so learns the archive's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crypto/aes.h"
#include "zip/zip_archive.h"

class PayloadProgress {
public:
    virtual ~PayloadProgress();
    // After each read: bytes decrypted so far (blocks read twice count
    // twice), of the payload's size.
    virtual void decrypted(uint64_t done, uint64_t total) = 0;
};

class DecryptingPayloadView : public ZipSource {
public:
    DecryptingPayloadView() = default;
    ~DecryptingPayloadView() override;
    DecryptingPayloadView(const DecryptingPayloadView&) = delete;
    DecryptingPayloadView& operator=(const DecryptingPayloadView&) = delete;

    // The view reads the payload from its source, which it keeps.
    // keyBits is the payload key length (128, 192 or 256; anything else is
    // a damaged payload); the key is made from the password as the
    // builder makes it. False with *error when the payload is damaged: a
    // length that is not 0 or a multiple of 16 of at least 32, or padding
    // that is not exactly what the builder writes (also the sign of a
    // wrong password). An empty payload is an empty archive.
    bool open(std::unique_ptr<ByteSource> payload, uint32_t keyBits, const char* password, std::string* error);
    void setProgress(PayloadProgress* progress) { progress_ = progress; }

    uint64_t size() const override { return plainSize_; }
    bool read(uint64_t pos, void* buf, size_t n) override;

    uint64_t bytesDecrypted() const { return decrypted_; }
    uint64_t payloadSize() const { return payloadSize_; }

private:
    // Decrypts cipher blocks [first, first + count) into out; false when
    // they cannot be read.
    bool decryptBlocks(uint64_t first, size_t count, uint8_t* out);

    std::unique_ptr<ByteSource> payload_;
    uint64_t payloadSize_ = 0;
    uint64_t plainSize_ = 0;
    uint64_t decrypted_ = 0;
    bool ready_ = false;
    AesKey key_;
    std::vector<uint8_t> scratch_;  // plain bytes of the last read
    std::vector<uint8_t> cipher_;   // cipher blocks of the last read, the IV block first
    PayloadProgress* progress_ = nullptr;
};
