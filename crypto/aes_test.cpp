#include "crypto/aes.h"

#include <gtest/gtest.h>

#include <cstring>

#include "crypto/test_hex.h"

namespace {

// Both implementations: the instructions (when the processor has them)
// and the portable tables.
std::vector<bool> paths() {
    std::vector<bool> p{false};
    if (AesKey::hardwareAvailable()) p.push_back(true);
    return p;
}

struct BlockVector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// FIPS-197 appendix C.1 to C.3, and the appendix A/B example.
const BlockVector kFips197[] = {
    {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
     "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "00112233445566778899aabbccddeeff",
     "8ea2b7ca516745bfeafc49904b496089"},
    {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734", "3925841d02dc09fbdc118597196a0b32"},
};

TEST(Aes, Fips197BlocksBothWays) {
    for (bool hw : paths()) {
        for (const auto& v : kFips197) {
            SCOPED_TRACE(std::string(v.key) + (hw ? " hw" : " portable"));
            auto key = fromHex(v.key), plain = fromHex(v.plain);
            AesKey k;
            ASSERT_TRUE(k.setKey(key.data(), uint32_t(key.size())));
            k.setUseHardware(hw);
            EXPECT_EQ(k.usesHardware(), hw);
            EXPECT_EQ(k.rounds(), int(key.size() / 4 + 6));
            uint8_t out[16], back[16];
            k.encryptBlock(plain.data(), out);
            EXPECT_EQ(toHex(out, 16), v.cipher);
            k.decryptBlock(out, back);
            EXPECT_EQ(toHex(back, 16), v.plain);
        }
    }
}

TEST(Aes, RejectsKeyLengths) {
    uint8_t key[33] = {};
    AesKey k;
    for (uint32_t n : {0u, 1u, 15u, 17u, 23u, 25u, 31u, 33u}) EXPECT_FALSE(k.setKey(key, n)) << n;
    EXPECT_FALSE(k.setKey(nullptr, 16));
}

// SP 800-38A F.2.1/F.2.2 (CBC-AES128) and F.2.5/F.2.6 (CBC-AES256).
TEST(Aes, Sp80038aCbc) {
    const char* iv = "000102030405060708090a0b0c0d0e0f";
    const char* plain =
        "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
        "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
    struct {
        const char* key;
        const char* cipher;
    } cases[] = {
        {"2b7e151628aed2a6abf7158809cf4f3c",
         "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
         "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
        {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
         "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
         "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
    };
    for (bool hw : paths()) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.key) + (hw ? " hw" : " portable"));
            auto key = fromHex(c.key), p = fromHex(plain), ivb = fromHex(iv);
            AesKey k;
            ASSERT_TRUE(k.setKey(key.data(), uint32_t(key.size())));
            k.setUseHardware(hw);
            std::vector<uint8_t> buf = p;
            uint8_t chain[16];
            std::memcpy(chain, ivb.data(), 16);
            k.cbcEncrypt(chain, buf.data(), buf.data(), buf.size());  // in place
            EXPECT_EQ(toHex(buf), c.cipher);
            EXPECT_EQ(toHex(chain, 16), std::string(c.cipher).substr(96));
            std::memcpy(chain, ivb.data(), 16);
            // Two calls continue one chain.
            k.cbcDecrypt(chain, buf.data(), buf.data(), 16);
            k.cbcDecrypt(chain, buf.data() + 16, buf.data() + 16, 48);
            EXPECT_EQ(toHex(buf), plain);
        }
    }
}

// The eight-block decryption path and the single-block tail agree with the
// portable code for every length up to 20 blocks.
TEST(Aes, HardwareAndPortableAgreeOnCbc) {
    if (!AesKey::hardwareAvailable()) GTEST_SKIP() << "no AES instructions";
    std::vector<uint8_t> key(32), data(16 * 20);
    for (size_t i = 0; i < key.size(); ++i) key[i] = uint8_t(i * 7 + 3);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 31 + (i >> 5));
    AesKey hw, sw;
    ASSERT_TRUE(hw.setKey(key.data(), 32));
    ASSERT_TRUE(sw.setKey(key.data(), 32));
    sw.setUseHardware(false);
    for (size_t blocks = 0; blocks <= 20; ++blocks) {
        size_t n = blocks * 16;
        std::vector<uint8_t> a(data.begin(), data.begin() + n), b = a;
        uint8_t ivA[16] = {1, 2, 3}, ivB[16] = {1, 2, 3};
        hw.cbcEncrypt(ivA, a.data(), a.data(), n);
        sw.cbcEncrypt(ivB, b.data(), b.data(), n);
        ASSERT_EQ(a, b) << blocks;
        uint8_t dA[16] = {1, 2, 3}, dB[16] = {1, 2, 3};
        hw.cbcDecrypt(dA, a.data(), a.data(), n);
        sw.cbcDecrypt(dB, b.data(), b.data(), n);
        ASSERT_EQ(a, b) << blocks;
        ASSERT_TRUE(std::equal(a.begin(), a.end(), data.begin())) << blocks;
    }
}

// WinZip AES: counter block 1, 2, ... as a little-endian number; the key
// stream continues across calls of any length.
TEST(Aes, CtrLittleEndianCounter) {
    auto key = fromHex("000102030405060708090a0b0c0d0e0f");
    AesKey k;
    ASSERT_TRUE(k.setKey(key.data(), 16));
    std::vector<uint8_t> zeros(16 * 3 + 5, 0), whole(zeros.size());
    uint8_t counter[16] = {}, stream[16];
    uint32_t used = 16;
    k.ctrLittleEndianXor(counter, stream, &used, zeros.data(), whole.data(), zeros.size());
    for (int blockNo = 1; blockNo <= 4; ++blockNo) {
        uint8_t ctr[16] = {uint8_t(blockNo)}, expect[16];
        k.encryptBlock(ctr, expect);
        size_t take = blockNo == 4 ? 5 : 16;
        EXPECT_EQ(toHex(whole.data() + 16 * (blockNo - 1), take), toHex(expect, take)) << blockNo;
    }
    // Split into odd pieces: same stream.
    std::vector<uint8_t> pieces(zeros.size());
    uint8_t c2[16] = {};
    used = 16;
    size_t off = 0;
    for (size_t step : {1u, 7u, 16u, 3u, 26u}) {
        k.ctrLittleEndianXor(c2, stream, &used, zeros.data() + off, pieces.data() + off, step);
        off += step;
    }
    ASSERT_EQ(off, zeros.size());
    EXPECT_EQ(pieces, whole);
    // The carry runs upward through the bytes.
    uint8_t c3[16] = {0xff, 0xff, 0x00};
    used = 16;
    uint8_t one = 0, outByte;
    k.ctrLittleEndianXor(c3, stream, &used, &one, &outByte, 1);
    EXPECT_EQ(c3[0], 0);
    EXPECT_EQ(c3[1], 0);
    EXPECT_EQ(c3[2], 1);
}

}  // namespace
