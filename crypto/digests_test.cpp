#include <gtest/gtest.h>

#include <string>

#include "crypto/md5.h"
#include "crypto/sha1.h"
#include "crypto/test_hex.h"
#include "support/data_buffer.h"
#include "support/string_buffer.h"

namespace {

struct TextVector {
    std::string input;
    const char* digest;
};

// RFC 1321 appendix A.5.
TEST(Md5, Rfc1321Suite) {
    const TextVector cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) {
        uint8_t d[16];
        DigestMD5::digestBytes(c.input.data(), uint32_t(c.input.size()), d);
        EXPECT_EQ(toHex(d, 16), c.digest) << c.input;
        StringBuffer s(c.input.c_str());
        DigestMD5::digestString(s, d);
        EXPECT_EQ(toHex(d, 16), c.digest) << c.input;
        DataBuffer b;
        b.append(c.input.data(), uint32_t(c.input.size()));
        DigestMD5::digestData(b, d);
        EXPECT_EQ(toHex(d, 16), c.digest) << c.input;
        // Fed one byte at a time, across every block boundary.
        HmacMD5 running;
        for (char ch : c.input) running.update(&ch, 1);
        running.finish(d);
        EXPECT_EQ(toHex(d, 16), c.digest) << c.input;
    }
}

TEST(Md5, PaddingBoundaries) {
    // Lengths 55, 56, 63, 64, 65 change where the length field goes; split
    // feeding must agree with one call.
    for (uint32_t n : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u}) {
        std::string s(n, 'x');
        uint8_t whole[16], split[16];
        DigestMD5::digestBytes(s.data(), n, whole);
        HmacMD5 m;
        m.update(s.data(), n / 3);
        m.update(s.data() + n / 3, n - n / 3);
        m.finish(split);
        EXPECT_EQ(toHex(whole, 16), toHex(split, 16)) << n;
    }
    // 56 and 64 bytes of 'x' from an outside computation.
    uint8_t d[16];
    DigestMD5::digestBytes(std::string(64, 'x').data(), 64, d);
    EXPECT_EQ(toHex(d, 16), "c1bb4f81d892b2d57947682aeb252456");
}

// RFC 3174 section 7.3.
TEST(Sha1, Rfc3174Suite) {
    std::string t4;
    for (int i = 0; i < 10; ++i) t4 += "0123456701234567012345670123456701234567012345670123456701234567";
    const TextVector cases[] = {
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        {t4, "dea356a2cddd90c7a7ecedc5ebb563934f460452"},
    };
    for (const auto& c : cases) {
        uint8_t d[20];
        Sha1::digest(c.input.data(), uint32_t(c.input.size()), d);
        EXPECT_EQ(toHex(d, 20), c.digest) << c.input.size();
        Sha1 s;
        for (size_t off = 0; off < c.input.size(); off += 37)
            s.update(c.input.data() + off, uint32_t(std::min<size_t>(37, c.input.size() - off)));
        s.finish(d);
        EXPECT_EQ(toHex(d, 20), c.digest) << c.input.size();
    }
}

// RFC 2202 section 3.
TEST(HmacSha1, Rfc2202Suite) {
    struct {
        std::vector<uint8_t> key;
        std::string data;
        const char* mac;
    } cases[] = {
        {std::vector<uint8_t>(20, 0x0b), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
        {{'J', 'e', 'f', 'e'}, "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {std::vector<uint8_t>(20, 0xaa), std::string(50, '\xdd'), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {fromHex("0102030405060708090a0b0c0d0e0f10111213141516171819"), std::string(50, '\xcd'),
         "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
        {std::vector<uint8_t>(20, 0x0c), "Test With Truncation", "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
        {std::vector<uint8_t>(80, 0xaa), "Test Using Larger Than Block-Size Key - Hash Key First",
         "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {std::vector<uint8_t>(80, 0xaa), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    };
    for (const auto& c : cases) {
        uint8_t mac[20];
        HmacSha1::mac(c.key.data(), uint32_t(c.key.size()), c.data.data(), uint32_t(c.data.size()), mac);
        EXPECT_EQ(toHex(mac, 20), c.mac) << c.data;
        // The object starts over after finish.
        HmacSha1 h(c.key.data(), uint32_t(c.key.size()));
        h.update("junk", 4);
        h.finish(mac);
        h.update(c.data.data(), uint32_t(c.data.size()));
        h.finish(mac);
        EXPECT_EQ(toHex(mac, 20), c.mac) << c.data;
    }
}

// RFC 6070 (the 16777216-iteration case is left out for time).
TEST(Pbkdf2HmacSha1, Rfc6070Suite) {
    struct {
        std::string password, salt;
        uint32_t iterations;
        const char* key;
    } cases[] = {
        {"password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"password", "salt", 2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {"password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, "56fa6aa75548099dcc37d7f03425e0c3"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> out(std::string(c.key).size() / 2);
        ASSERT_TRUE(pbkdf2HmacSha1(c.password.data(), uint32_t(c.password.size()), c.salt.data(),
                                   uint32_t(c.salt.size()), c.iterations, out.data(), uint32_t(out.size())));
        EXPECT_EQ(toHex(out), c.key) << c.password << " " << c.iterations;
    }
    uint8_t k[4];
    EXPECT_FALSE(pbkdf2HmacSha1("p", 1, "s", 1, 0, k, 4));
}

// Keys as the zip library derives them (1000 iterations, 34 or 66 bytes:
// several output blocks, the last one cut short), with passwords either
// side of the 64-byte block size, where the key is hashed first. Computed
// with python3 hashlib.pbkdf2_hmac('sha1', password, bytes.fromhex(salt),
// iterations, length), the password being letters a..z repeated.
TEST(Pbkdf2HmacSha1, LongPasswordsSeveralBlocks) {
    struct {
        uint32_t passwordLength;
        const char* salt;
        uint32_t iterations;
        const char* key;
    } cases[] = {
        {65, "0001020304050607f8f9fafbfcfdfeff", 1000,
         "e5a02d441fe2ab9d6f6d1b4c88becdef8f83b83ab4f107df37f98c58ef6c699f99916d1f02963d9cc2cc4a69c16e18535879e6cd8"
         "bce05bc92f920d0268ac815611e"},
        {64, "a1b2c3d4e5f60718", 1000, "4a34df11e259fceb460f7deea699f84d774f3180bbdc29d84de6a6ff6156e8c8fee0"},
        {100, "73616c74", 2,
         "aa0dd029179530103501a695aae1f893177693ad7ecfaa63a42b03fb247eeef33efc4e65b0f99d20025d031171018689b6fe693af"
         "35641a79d6c9dab9e11da7dcf2c"},
    };
    for (const auto& c : cases) {
        std::string password;
        for (uint32_t i = 0; i < c.passwordLength; ++i) password += char('a' + i % 26);
        std::vector<uint8_t> salt = fromHex(c.salt);
        std::vector<uint8_t> out(std::string(c.key).size() / 2);
        ASSERT_TRUE(pbkdf2HmacSha1(password.data(), c.passwordLength, salt.data(), uint32_t(salt.size()),
                                   c.iterations, out.data(), uint32_t(out.size())));
        EXPECT_EQ(toHex(out), c.key) << c.passwordLength;
    }
}

}  // namespace
