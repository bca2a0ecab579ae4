// The decrypting view against the one-shot decryption: every key length,
// sizes around the block boundaries, reads at any offset, and damaged
// payloads (lengths, padding, key lengths, wrong passwords).
#include "sfxstub/payload_view.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crypto/easy_crypt.h"
#include "crypto/symmetric_algorithm.h"
#include "support/data_buffer.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kPassword[] = "p\xC3\xA4ssw0rd";

Bytes plainOf(uint32_t n, uint32_t seed) {
    Bytes b(n);
    uint32_t x = seed * 2654435761u + 1;
    for (uint32_t i = 0; i < n; i++) {
        x = x * 1103515245u + 12345u;
        b[i] = uint8_t(x >> 16);
    }
    return b;
}

Bytes encrypt(const Bytes& plain, int keyBits, const char* password = kPassword) {
    DataBuffer out;
    EXPECT_TRUE(EasyCrypt::encryptBytes(kAlgorithmAes, keyBits, password, plain.data(), uint32_t(plain.size()), out));
    return Bytes(out.data(), out.data() + out.length());
}

std::unique_ptr<ByteSource> source(const uint8_t* data, uint64_t size) {
    return std::unique_ptr<ByteSource>(new MemoryByteSource(data, size));
}

Bytes readAll(DecryptingPayloadView& view) {
    Bytes out(size_t(view.size()));
    EXPECT_TRUE(view.read(0, out.data(), out.size()));
    return out;
}

struct Recorder : PayloadProgress {
    std::vector<std::pair<uint64_t, uint64_t>> reports;
    void decrypted(uint64_t done, uint64_t total) override { reports.emplace_back(done, total); }
};

// Byte for byte what EasyCrypt::decryptBytes gives, read whole and in
// pieces at every alignment.
TEST(DecryptingPayloadView, AgreesWithOneShotDecryption) {
    const uint32_t sizes[] = {1,    2,    15,   16,   17,    31,    32,    33,    47,    48,     49,
                              63,   64,   65,   255,  256,   257,   4095,  4096,  4097,  65535,  65536,
                              65537, 65551, 65552, 131071, 131072, 200000};
    for (int keyBits : {128, 192, 256}) {
        for (uint32_t size : sizes) {
            SCOPED_TRACE(std::to_string(keyBits) + " bits, " + std::to_string(size) + " bytes");
            Bytes plain = plainOf(size, size + uint32_t(keyBits));
            Bytes cipher = encrypt(plain, keyBits);
            DataBuffer expected;
            ASSERT_TRUE(EasyCrypt::decryptBytes(kAlgorithmAes, keyBits, kPassword, cipher.data(),
                                                uint32_t(cipher.size()), expected));
            ASSERT_EQ(expected.length(), size);
            DecryptingPayloadView view;
            std::string error;
            ASSERT_TRUE(view.open(source(cipher.data(), uint32_t(cipher.size())), uint32_t(keyBits), kPassword, &error))
                << error;
            ASSERT_EQ(view.size(), size);
            EXPECT_TRUE(readAll(view) == Bytes(expected.data(), expected.data() + size));
            // Pieces of awkward lengths at awkward offsets.
            uint32_t x = size;
            for (int k = 0; k < 40; k++) {
                x = x * 1664525u + 1013904223u;
                uint64_t pos = x % size;
                uint64_t n = (x >> 8) % (size - pos + 1);
                if (k % 4 == 0) n = size - pos;  // to the very end
                Bytes piece(size_t(n) + 1, 0xEE);
                ASSERT_TRUE(view.read(pos, piece.data(), size_t(n))) << pos << "+" << n;
                EXPECT_EQ(std::memcmp(piece.data(), expected.data() + pos, size_t(n)), 0) << pos << "+" << n;
                EXPECT_EQ(piece[size_t(n)], 0xEE) << "wrote past the read";
            }
            // Nothing outside the plain data.
            uint8_t b = 0;
            EXPECT_FALSE(view.read(size, &b, 1));
            EXPECT_FALSE(view.read(size + 1, &b, 0));
            EXPECT_FALSE(view.read(0, &b, size_t(size) + 1));
            EXPECT_FALSE(view.read(1, &b, SIZE_MAX));
            EXPECT_FALSE(view.read(UINT64_MAX, &b, 1));
            EXPECT_TRUE(view.read(size, &b, 0));
        }
    }
}

TEST(DecryptingPayloadView, EmptyPayloadIsAnEmptyArchive) {
    DecryptingPayloadView view;
    std::string error;
    ASSERT_TRUE(view.open(source(nullptr, 0), 256, kPassword, &error)) << error;
    EXPECT_EQ(view.size(), 0u);
    uint8_t b = 0;
    EXPECT_TRUE(view.read(0, &b, 0));
    EXPECT_FALSE(view.read(0, &b, 1));
}

// Truncated at every length, one byte flipped in the last two blocks, a
// wrong password or key length: the open fails with a reason and no read
// gets through.
TEST(DecryptingPayloadView, DamagedPayloadsFailTheOpen) {
    Bytes plain = plainOf(100, 7);
    for (int keyBits : {128, 192, 256}) {
        SCOPED_TRACE(keyBits);
        Bytes cipher = encrypt(plain, keyBits);
        ASSERT_EQ(cipher.size(), 128u);
        for (size_t length = 1; length < cipher.size(); length++) {
            DecryptingPayloadView view;
            std::string error;
            EXPECT_FALSE(view.open(source(cipher.data(), uint32_t(length)), uint32_t(keyBits), kPassword, &error))
                << length;
            EXPECT_FALSE(error.empty());
            uint8_t b = 0;
            EXPECT_FALSE(view.read(0, &b, 1));
        }
        for (size_t at = cipher.size() - 32; at < cipher.size(); at++) {
            for (uint8_t bit : {0x01, 0x80}) {
                Bytes damaged = cipher;
                damaged[at] ^= bit;
                DecryptingPayloadView view;
                std::string error;
                EXPECT_FALSE(view.open(source(damaged.data(), uint32_t(damaged.size())), uint32_t(keyBits), kPassword, &error))
                    << at;
                EXPECT_NE(error.find("wrong password or damaged data"), std::string::npos) << error;
            }
        }
        for (const char* wrong : {"", "p\xC3\xA4ssw0rD", "password"}) {
            DecryptingPayloadView view;
            std::string error;
            EXPECT_FALSE(view.open(source(cipher.data(), uint32_t(cipher.size())), uint32_t(keyBits), wrong, &error));
        }
        for (int other : {128, 192, 256}) {
            if (other == keyBits) continue;
            DecryptingPayloadView view;
            std::string error;
            EXPECT_FALSE(view.open(source(cipher.data(), uint32_t(cipher.size())), uint32_t(other), kPassword, &error));
        }
    }
    Bytes cipher = encrypt(plain, 256);
    struct {
        uint32_t keyBits, length;
        const char* password;
        const char* error;
    } const refused[] = {
        {0, 128, kPassword, "the payload key length 0 is not 128, 192 or 256 bits"},
        {129, 128, kPassword, "the payload key length 129 is not 128, 192 or 256 bits"},
        {512, 128, kPassword, "the payload key length 512 is not 128, 192 or 256 bits"},
        {256, 16, kPassword, "the payload length 16 is not a multiple of 16 of at least 32 bytes"},
        {256, 127, kPassword, "the payload length 127 is not a multiple of 16 of at least 32 bytes"},
        {256, 128, nullptr, "no password for the payload"},
    };
    for (const auto& c : refused) {
        DecryptingPayloadView view;
        std::string error;
        EXPECT_FALSE(view.open(source(cipher.data(), c.length), c.keyBits, c.password, &error));
        EXPECT_EQ(error, c.error);
    }
    DecryptingPayloadView view;
    std::string error;
    EXPECT_FALSE(view.open(nullptr, 256, kPassword, &error));
    EXPECT_EQ(error, "the payload is missing");
}

// Each padding rule on its own: payloads made with raw CBC so that one
// rule at a time is broken.
TEST(DecryptingPayloadView, EachPaddingRuleIsChecked) {
    auto rawCbc = [](Bytes plain) {
        DataBuffer in;
        in.appendExact(plain.data(), uint32_t(plain.size()));
        std::unique_ptr<SymmetricAlgorithm2> cipher(EasyCrypt::createCipher(kAlgorithmAes));
        cipher->setKeyLength(256);
        cipher->useCbc();
        cipher->setPassphrase(kPassword);
        DataBuffer out;
        EXPECT_TRUE(cipher->encryptBlocks(in, out));
        return Bytes(out.data(), out.data() + out.length());
    };
    // data (16 bytes of 'A'), then "A...A" + 4 x 4 in the second block, then 16 x 16.
    Bytes base(48, 0x41);
    for (int i = 28; i < 32; i++) base[i] = 4;
    for (int i = 32; i < 48; i++) base[i] = 16;
    struct {
        const char* what;
        int at;
        uint8_t value;
        bool opens;
        uint64_t size;
    } const cases[] = {
        {"as written", -1, 0, true, 28},
        {"final block not all 16", 40, 15, false, 0},
        {"final block last byte", 47, 1, false, 0},
        {"padding length 0", 31, 0, false, 0},
        {"padding length 17", 31, 17, false, 0},
        {"padding byte differs", 28, 5, false, 0},
        {"padding of 16 over data", 31, 16, false, 0},
        {"padding of 1", 31, 1, true, 31},
    };
    for (const auto& c : cases) {
        Bytes plain = base;
        if (c.at >= 0) plain[size_t(c.at)] = c.value;
        Bytes cipher = rawCbc(plain);
        DecryptingPayloadView view;
        std::string error;
        EXPECT_EQ(view.open(source(cipher.data(), uint32_t(cipher.size())), 256, kPassword, &error), c.opens) << c.what;
        if (c.opens) {
            EXPECT_EQ(view.size(), c.size) << c.what;
        } else {
            EXPECT_FALSE(error.empty()) << c.what;
        }
    }
}

// Progress counts the payload bytes decrypted, against the payload size,
// and grows with every read.
TEST(DecryptingPayloadView, ReportsBytesDecrypted) {
    Bytes plain = plainOf(1000, 3);
    Bytes cipher = encrypt(plain, 128);
    DecryptingPayloadView view;
    Recorder progress;
    view.setProgress(&progress);
    std::string error;
    ASSERT_TRUE(view.open(source(cipher.data(), uint32_t(cipher.size())), 128, kPassword, &error)) << error;
    ASSERT_EQ(progress.reports.size(), 1u);
    EXPECT_EQ(progress.reports[0], std::make_pair(uint64_t(32), uint64_t(cipher.size())));
    uint8_t buf[40];
    ASSERT_TRUE(view.read(15, buf, 2));  // crosses one block boundary: two blocks
    EXPECT_EQ(progress.reports.back().first, 64u);
    ASSERT_TRUE(view.read(32, buf, 16));  // exactly one block
    EXPECT_EQ(progress.reports.back().first, 80u);
    ASSERT_TRUE(view.read(0, buf, 0));
    EXPECT_EQ(progress.reports.back().first, 80u);
    Bytes all = readAll(view);
    EXPECT_EQ(progress.reports.back().first, 80u + 1008u);
    EXPECT_EQ(view.bytesDecrypted(), 80u + 1008u);
    for (const auto& r : progress.reports) EXPECT_EQ(r.second, cipher.size());
}

}  // namespace
