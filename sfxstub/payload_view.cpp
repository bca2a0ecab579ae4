#include "sfxstub/payload_view.h"

#include <cstring>

#include "crypto/symmetric_algorithm.h"
#include "sfxformat/sfx_format.h"

PayloadProgress::~PayloadProgress() = default;

namespace {

// Plain bytes decrypted per step of a long read; bounds the scratch buffer
// (the zip reader asks for 64 KiB at a time, plus a block on either side
// when the read is not aligned).
constexpr size_t kPiece = 64 * 1024;

bool fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

}  // namespace

DecryptingPayloadView::~DecryptingPayloadView() {
    // The scratch buffer held plain text.
    if (!scratch_.empty()) std::memset(scratch_.data(), 0, scratch_.size());
}

bool DecryptingPayloadView::open(std::unique_ptr<ByteSource> payload, uint32_t keyBits, const char* password,
                                 std::string* error) {
    ready_ = false;
    plainSize_ = 0;
    decrypted_ = 0;
    if (!isPayloadKeyLength(keyBits))
        return fail(error, "the payload key length " + std::to_string(keyBits) + " is not 128, 192 or 256 bits");
    if (!payload) return fail(error, "the payload is missing");
    payload_ = std::move(payload);
    payloadSize_ = payload_->size();
    const uint64_t payloadSize = payloadSize_;
    if (payloadSize == 0) {
        // An empty archive encrypts to nothing.
        ready_ = true;
        return true;
    }
    if (payloadSize % 16 != 0 || payloadSize < 32)
        return fail(error, "the payload length " + std::to_string(payloadSize) +
                               " is not a multiple of 16 of at least 32 bytes");
    if (!password) return fail(error, "no password for the payload");

    // The key: the first 16, 24 or 32 bytes of the pass phrase's key
    // material, made exactly as the builder's cipher makes it.
    Rijndael2 derivation;
    derivation.setPassphrase(password);
    const DataBuffer& material = derivation.keyMaterial();
    if (material.length() < keyBits / 8 || !key_.setKey(material.data(), keyBits / 8))
        return fail(error, "the payload key cannot be made");

    // The last two blocks: a whole block of sixteen 16s, before it 1 to 16
    // bytes of value n.
    uint8_t tail[32];
    const uint64_t lastTwo = payloadSize / 16 - 2;
    if (!decryptBlocks(lastTwo, 2, tail)) return fail(error, "the payload cannot be read");
    decrypted_ = sizeof tail;
    const char* const kWhy = " (wrong password or damaged data)";
    for (int i = 16; i < 32; i++)
        if (tail[i] != 16) return fail(error, std::string("the payload's final padding block is not valid") + kWhy);
    const uint8_t n = tail[15];
    if (n == 0 || n > 16)
        return fail(error, "the payload's padding length " + std::to_string(n) + " is not valid" + kWhy);
    for (int i = 16 - n; i < 16; i++)
        if (tail[i] != n) return fail(error, std::string("the payload's padding bytes are not valid") + kWhy);
    std::memset(tail, 0, sizeof tail);
    plainSize_ = payloadSize - 16u - n;
    ready_ = true;
    if (progress_) progress_->decrypted(decrypted_, payloadSize_);
    return true;
}

bool DecryptingPayloadView::decryptBlocks(uint64_t first, size_t count, uint8_t* out) {
    // One read of the blocks with the one before them (the IV of the
    // first; zeros before block 0). The source refuses a range outside the
    // payload.
    const size_t before = first > 0 ? 1 : 0;
    if (cipher_.size() < (count + 1) * 16) cipher_.resize((count + 1) * 16);
    std::memset(cipher_.data(), 0, 16);
    uint8_t* at = cipher_.data() + 16 * (1 - before);
    if (!payload_->read((first - before) * 16, at, (count + before) * 16)) return false;
    key_.cbcDecrypt(cipher_.data(), cipher_.data() + 16, out, count * 16);
    return true;
}

bool DecryptingPayloadView::read(uint64_t pos, void* buf, size_t n) {
    if (!ready_ || pos > plainSize_ || n > plainSize_ - pos) return false;
    uint8_t* out = static_cast<uint8_t*>(buf);
    while (n) {
        // Plain bytes [pos, pos + take) lie in blocks [first, first +
        // count), all inside the payload because the plain data ends at
        // least 17 bytes before the payload does.
        const uint64_t first = pos / 16;
        const size_t skip = size_t(pos % 16);
        const size_t take = n < kPiece ? n : kPiece;
        const size_t count = (skip + take + 15) / 16;
        if (scratch_.size() < count * 16) scratch_.resize(count * 16);
        if (!decryptBlocks(first, count, scratch_.data())) return false;
        std::memcpy(out, scratch_.data() + skip, take);
        decrypted_ += uint64_t(count) * 16;
        out += take;
        pos += take;
        n -= take;
    }
    if (progress_) progress_->decrypted(decrypted_, payloadSize_);
    return true;
}
