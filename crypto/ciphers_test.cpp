#include "crypto/symmetric_algorithm.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "crypto/blowfish_core.h"
#include "crypto/test_hex.h"
#include "crypto/twofish_core.h"
#include "support/byte_reader.h"

namespace {

// The Twofish paper's test vectors (ecb_tbl.txt, the first entries for
// each key size, and the zero-key iterations).
TEST(Twofish, PublishedVectors) {
    struct {
        const char* key;
        const char* plain;
        const char* cipher;
    } cases[] = {
        {"00000000000000000000000000000000", "00000000000000000000000000000000", "9f589f5cf6122c32b6bfec2f2ae8c35a"},
        {"0123456789abcdeffedcba98765432100011223344556677", "00000000000000000000000000000000",
         "cfd1d2e5a9be9cdf501f13b892bd2248"},
        {"0123456789abcdeffedcba987654321000112233445566778899aabbccddeeff", "00000000000000000000000000000000",
         "37527be0052334b89f0cfccae87cfa20"},
        {"0000000000000000000000000000000000000000000000000000000000000000", "00000000000000000000000000000000",
         "57ff739d4dc92c1bd7fc01700cc8216f"},
    };
    for (const auto& c : cases) {
        auto key = fromHex(c.key), plain = fromHex(c.plain);
        TwofishCore t;
        ASSERT_TRUE(t.setKey(key.data(), uint32_t(key.size())));
        uint8_t out[16], back[16];
        t.encryptBlock(plain.data(), out);
        EXPECT_EQ(toHex(out, 16), c.cipher) << c.key;
        t.decryptBlock(out, back);
        EXPECT_EQ(toHex(back, 16), c.plain) << c.key;
    }
    TwofishCore t;
    uint8_t k[32] = {};
    EXPECT_FALSE(t.setKey(k, 20));
}

// Eric Young's Blowfish vectors (words big-endian, as published).
TEST(Blowfish, PublishedVectors) {
    struct {
        const char* key;
        const char* plain;
        const char* cipher;
    } cases[] = {
        {"0000000000000000", "0000000000000000", "4ef997456198dd78"},
        {"ffffffffffffffff", "ffffffffffffffff", "51866fd5b85ecb8a"},
        {"3000000000000000", "1000000000000001", "7d856f9a613063f2"},
        {"1111111111111111", "1111111111111111", "2466dd878b963c9d"},
        {"0123456789abcdef", "1111111111111111", "61f9c3802281b096"},
        {"fedcba9876543210", "0123456789abcdef", "0aceab0fc6a0a28d"},
    };
    auto be = [](const uint8_t* p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; };
    for (const auto& c : cases) {
        auto key = fromHex(c.key), plain = fromHex(c.plain);
        BlowfishCore b;
        ASSERT_TRUE(b.setKey(key.data(), uint32_t(key.size())));
        uint32_t l = be(plain.data()), r = be(plain.data() + 4);
        b.encrypt(&l, &r);
        char hex[17];
        std::snprintf(hex, sizeof hex, "%08x%08x", l, r);
        EXPECT_EQ(std::string(hex), c.cipher) << c.key;
        b.decrypt(&l, &r);
        EXPECT_EQ(l, be(plain.data()));
        EXPECT_EQ(r, be(plain.data() + 4));
    }
    BlowfishCore b;
    uint8_t k[57] = {};
    EXPECT_FALSE(b.setKey(k, 0));
    EXPECT_FALSE(b.setKey(k, 57));
}

TEST(SymmetricAlgorithm2, KeyLengthMapping) {
    struct {
        int request;
        int aes;
        int blowfish;
    } cases[] = {
        {-5, 128, 40}, {0, 128, 40}, {39, 128, 40}, {47, 128, 40}, {48, 128, 48}, {128, 128, 128},
        {129, 192, 128}, {135, 192, 128}, {192, 192, 192}, {193, 256, 192}, {256, 256, 256},
        {447, 256, 440}, {448, 256, 448}, {1000, 256, 448},
    };
    for (const auto& c : cases) {
        Rijndael2 aes;
        TwoFish tf;
        BlowFish bf;
        EXPECT_EQ(aes.setKeyLength(c.request), c.aes) << c.request;
        EXPECT_EQ(aes.keyBits(), c.aes) << c.request;
        EXPECT_EQ(tf.setKeyLength(c.request), c.aes) << c.request;
        EXPECT_EQ(bf.setKeyLength(c.request), c.blowfish) << c.request;
    }
}

// Key material: MD5 of the pass phrase, then MD5 of its base64 form
// (RFC 4648: "foobar" is "Zm9vYmFy"). Digests from python's hashlib.
TEST(SymmetricAlgorithm2, PassphraseDerivation) {
    struct {
        const char* phrase;
        const char* material;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427ed41d8cd98f00b204e9800998ecf8427e"},
        {"foobar", "3858f62230ac3c915f300c664312c63fd95d92ecf62225f7187b271ddd566a42"},
    };
    for (const auto& c : cases) {
        Rijndael2 r;
        r.setPassphrase(c.phrase);
        ASSERT_EQ(r.keyMaterial().length(), 32u);
        EXPECT_EQ(toHex(r.keyMaterial().data(), 32), c.material) << c.phrase;
        r.setPassphrase(nullptr);  // unchanged
        EXPECT_EQ(toHex(r.keyMaterial().data(), 32), c.material) << c.phrase;
    }
}

// AES through the class equals the block cipher with the first 16/24/32
// key-material bytes in CBC with a zero IV.
TEST(Rijndael2, EncryptBufferIsCbcWithZeroIvOverThePaddedInput) {
    for (int bits : {128, 192, 256}) {
        Rijndael2 r;
        r.setKeyLength(bits);
        r.useCbc();
        r.setPassphrase("secret");
        DataBuffer in;
        in.append("twenty bytes of data", 20);
        std::unique_ptr<DataBuffer> out(r.encryptBuffer(in));
        ASSERT_TRUE(out);
        EXPECT_EQ(in.length(), 20u);  // handed back as it came
        ASSERT_EQ(out->length(), 32u);
        EXPECT_GE(out->capacity(), 64u);
        AesKey k;
        ASSERT_TRUE(k.setKey(r.keyMaterial().data(), uint32_t(bits / 8)));
        uint8_t expect[32];
        std::memcpy(expect, "twenty bytes of data", 20);
        std::memset(expect + 20, 12, 12);
        uint8_t iv[16] = {};
        k.cbcEncrypt(iv, expect, expect, 32);
        EXPECT_EQ(toHex(out->data(), 32), toHex(expect, 32)) << bits;
        std::unique_ptr<DataBuffer> back(r.decryptBuffer(*out));
        ASSERT_TRUE(back);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(back->data()), back->length()), "twenty bytes of data");
    }
}

// Every cipher: round trip in each mode, empty input, the raw block
// operations, and strict padding on the way back.
TEST(SymmetricAlgorithm2, RoundTripsAndRefusals) {
    for (uint32_t alg : {1u, 2u, 3u}) {
        for (bool ecb : {false, true}) {
            std::unique_ptr<SymmetricAlgorithm2> c(alg == 1   ? static_cast<SymmetricAlgorithm2*>(new Rijndael2)
                                                   : alg == 2 ? static_cast<SymmetricAlgorithm2*>(new TwoFish)
                                                              : new BlowFish);
            SCOPED_TRACE(std::to_string(alg) + (ecb ? " ecb" : " cbc"));
            EXPECT_TRUE(ecb ? c->useEcb() : c->useCbc());
            c->setPassphrase("pw");
            DataBuffer empty;
            std::unique_ptr<DataBuffer> e(c->encryptBuffer(empty));
            ASSERT_TRUE(e);
            EXPECT_EQ(e->length(), 0u);
            for (uint32_t n : {1u, 15u, 16u, 17u, 40u}) {
                DataBuffer in;
                for (uint32_t i = 0; i < n; ++i) in.append(&"abcdefghijklmnopq"[i % 17], 1);
                std::unique_ptr<DataBuffer> enc(c->encryptBuffer(in));
                ASSERT_TRUE(enc);
                EXPECT_EQ(enc->length(), (n / 16 + 1) * 16);
                std::unique_ptr<DataBuffer> dec(c->decryptBuffer(*enc));
                ASSERT_TRUE(dec) << n;
                ASSERT_EQ(dec->length(), n);
                EXPECT_EQ(std::memcmp(dec->data(), in.data(), n), 0);
                // Raw blocks: decrypting the ciphertext shows the padding.
                DataBuffer raw;
                ASSERT_TRUE(c->decryptBlocks(*enc, raw));
                EXPECT_EQ(raw.length(), enc->length());
                EXPECT_EQ(raw.data()[raw.length() - 1], uint8_t(16 - n % 16));
                std::vector<uint8_t> into(enc->length());
                ASSERT_TRUE(c->decryptBlocksInto(*enc, into.data()));
                EXPECT_EQ(std::memcmp(into.data(), raw.data(), into.size()), 0);
                DataBuffer again;
                ASSERT_TRUE(c->encryptBlocks(raw, again));
                EXPECT_EQ(std::memcmp(again.data(), enc->data(), enc->length()), 0);
                ASSERT_TRUE(c->encryptBlocksInto(raw, into.data()));
                EXPECT_EQ(std::memcmp(into.data(), enc->data(), enc->length()), 0);
                // Truncated: not whole blocks, or the padding is gone.
                DataBuffer cut;
                cut.append(enc->data(), enc->length() - 1);
                EXPECT_EQ(c->decryptBuffer(cut), nullptr);
            }
            DataBuffer odd;
            odd.append("12345", 5);
            DataBuffer sink;
            EXPECT_FALSE(c->encryptBlocks(odd, sink));
            EXPECT_FALSE(c->decryptBlocksInto(odd, nullptr));
        }
    }
}

// A block that decrypts to bad padding (last byte 0, above 16, or not
// repeated) is refused instead of returning garbage.
TEST(SymmetricAlgorithm2, StrictPaddingRemoval) {
    struct {
        std::vector<uint8_t> bytes;
        bool ok;
        uint32_t left;
    } cases[] = {
        {{1, 2, 3, 1}, true, 3},
        {{5, 5, 5, 5, 5}, true, 0},
        {{9, 3, 3, 3}, true, 1},
        {{0}, false, 0},
        {{17}, false, 0},
        {{4, 4, 4}, false, 0},   // longer than the data
        {{2, 9, 3, 3}, false, 0},
        {{7, 4, 4, 4}, false, 0},
        {{}, false, 0},
    };
    for (const auto& c : cases) {
        DataBuffer b;
        b.append(c.bytes.data(), uint32_t(c.bytes.size()));
        EXPECT_EQ(removePaddingStrict(b), c.ok) << toHex(c.bytes);
        EXPECT_EQ(b.length(), c.ok ? c.left : uint32_t(c.bytes.size())) << toHex(c.bytes);
    }
}

TEST(SymmetricAlgorithm2, WrongKeyDoesNotDecrypt) {
    Rijndael2 a, b;
    a.setPassphrase("right");
    b.setPassphrase("wrong");
    DataBuffer in;
    in.append("0123456789abcdef0123456789abcdef", 32);
    std::unique_ptr<DataBuffer> enc(a.encryptBuffer(in));
    ASSERT_TRUE(enc);
    std::unique_ptr<DataBuffer> dec(b.decryptBuffer(*enc));
    // Invalid padding is the overwhelmingly likely outcome; a valid one
    // must at least not give the plaintext back.
    if (dec) {
        EXPECT_NE(std::string(reinterpret_cast<const char*>(dec->data()), dec->length()),
                  std::string(reinterpret_cast<const char*>(in.data()), 32));
    }
}

TEST(SymmetricAlgorithm2, SettingsRoundTrip) {
    Rijndael2 r;
    r.useEcb();
    r.setKeyLength(192);
    CipherSettings s;
    r.exportSettings(s);
    EXPECT_EQ(s.mode, 0);
    EXPECT_EQ(s.keyBits, 192);
    Rijndael2 r2;
    r2.importSettings(s);
    EXPECT_EQ(r2.keyBits(), 192);
    BlowFish bf;
    bf.setKeyLength(64);
    bf.exportSettings(s);
    EXPECT_EQ(s.keyBits, 64);
}

}  // namespace
