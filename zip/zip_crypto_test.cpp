// Entry encryption: archives made by outside tools (Info-ZIP zip with
// traditional encryption, 7-Zip with WinZip AES) decrypt to their known
// contents; wrong passwords, tampering and missing passwords are refused
// with their own messages; the ciphers invert themselves.
#include "zip/zip_crypto.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "zip/zip_archive.h"

namespace {

// made by Info-ZIP zip 3.0: "zip -P secret" of hello.txt (stored) and fox.txt (deflate), data descriptors, time-based check bytes.
const char kZipCryptoDescriptor[] =
    "504b03040a000900000041b9875dbf8ffb0d1f0000001300000009001c0068656c6c6f2e7478745554090003ca3c176b"
    "ca3c176b75780b0001040000000004000000008edd23d9149098ecdb4ee0b2cf22b526abd1ab9513b20084c4ab3f0ef1"
    "5596504b0708bf8ffb0d1f00000013000000504b030414000900080041b9875dd2d9ff7a3e0000005a00000007001c00"
    "666f782e7478745554090003ca3c176bca3c176b75780b000104000000000400000000d0189bd86268afac049e2322d9"
    "4d193ba3ab214386a3f9cc10577ab3ae26d689cd158b8d22d225c1bf26e0be2c3a3e82e4a122f93cc080a1cb9eb738bc"
    "27504b0708d2d9ff7a3e0000005a000000504b01021e030a000900000041b9875dbf8ffb0d1f00000013000000090018"
    "000000000001000000a4810000000068656c6c6f2e7478745554050003ca3c176b75780b000104000000000400000000"
    "504b01021e0314000900080041b9875dd2d9ff7a3e0000005a000000070018000000000001000000a48172000000666f"
    "782e7478745554050003ca3c176b75780b000104000000000400000000504b050600000000020002009c000000010100"
    "000000"
    ;
// made by 7-Zip: ZipCrypto, stored hello.txt, no data descriptor, CRC-based check byte.
const char kZipCryptoPlain[] =
    "504b030414000100000042b9875dbf8ffb0d1f000000130000000900000068656c6c6f2e747874aff79b06a6cf4c9875"
    "b7c74d13242412cbfa6c004220e72d96cf93852033bf504b01023f0314000100000042b9875dbf8ffb0d1f0000001300"
    "0000090024000000000000002080a4810000000068656c6c6f2e7478740a002000000000000100180089508816a086dd"
    "0100000000000000000000000000000000504b050600000000010001005b000000460000000000"
    ;
// made by 7-Zip: AES-256 (AE-2), fox.txt deflated, hello.txt stored.
const char kAes256[] =
    "504b030433000100630042b9875d00000000530000005a00000007000b00666f782e7478740199070002004145030800"
    "ebc43a17567d57613ede0d5161c1a981546ce3b6e013934c8e688a9820ee3a56dfa87d2074d6c85b1ac2cbc6545343c8"
    "87af41ddddf12b224d0a29b28386e6ff6acf291dce0ca9c8caba9387d5106fcb10668f504b030433000100630042b987"
    "5d000000002f0000001300000009000b0068656c6c6f2e7478740199070002004145030000f86a8f122c2b97ade0f0ca"
    "829325d1ed94051c97da443740095dc98837a11e60d67118f3bf910fd4f7010f75d3e81e504b01023f03330001006300"
    "42b9875d00000000530000005a00000007002f000000000000002080a48100000000666f782e7478740a002000000000"
    "000100180089508816a086dd01000000000000000000000000000000000199070002004145030800504b01023f033300"
    "0100630042b9875d000000002f0000001300000009002f000000000000002080a4818300000068656c6c6f2e7478740a"
    "002000000000000100180089508816a086dd01000000000000000000000000000000000199070002004145030000504b"
    "05060000000002000200ca000000e40000000000"
    ;
// made by 7-Zip: AES-128 (AE-2), hello.txt stored.
const char kAes128[] =
    "504b030433000100630042b9875d00000000270000001300000009000b0068656c6c6f2e747874019907000200414501"
    "0000c1fd530c50eda3314daa888c0b617e5f3f9c4ee42cfaa969543536887ef43f5b78abf8ebf01f62504b01023f0333"
    "000100630042b9875d00000000270000001300000009002f000000000000002080a4810000000068656c6c6f2e747874"
    "0a002000000000000100180089508816a086dd0100000000000000000000000000000000019907000200414501000050"
    "4b0506000000000100010066000000590000000000"
    ;

const char kHello[] = "Hello, zip crypto!\n";
const char kFox[] = "The quick brown fox jumps over the lazy dog. The quick brown fox jumps over the lazy dog.\n";

std::vector<uint8_t> fromHex(const char* hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) out.push_back(uint8_t(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    return out;
}

struct StringSink : ZipDataSink {
    std::string data;
    bool write(const uint8_t* p, size_t n) override {
        data.append(reinterpret_cast<const char*>(p), n);
        return true;
    }
};

size_t findEntry(const ZipReader& r, const std::string& name) {
    for (size_t i = 0; i < r.entryCount(); i++)
        if (r.entry(i).name == name) return i;
    return SIZE_MAX;
}

struct FixtureCase {
    const char* label;
    const char* hex;
    const char* entry;
    const char* contents;
    ZipEntry::Encryption encryption;
    int aesStrength;
};

const FixtureCase kCases[] = {
    {"zip-descriptor-stored", kZipCryptoDescriptor, "hello.txt", kHello, ZipEntry::ZipCrypto, 0},
    {"zip-descriptor-deflate", kZipCryptoDescriptor, "fox.txt", kFox, ZipEntry::ZipCrypto, 0},
    {"7z-zipcrypto", kZipCryptoPlain, "hello.txt", kHello, ZipEntry::ZipCrypto, 0},
    {"7z-aes256-deflate", kAes256, "fox.txt", kFox, ZipEntry::Aes, 3},
    {"7z-aes256-stored", kAes256, "hello.txt", kHello, ZipEntry::Aes, 3},
    {"7z-aes128", kAes128, "hello.txt", kHello, ZipEntry::Aes, 1},
};

}  // namespace

TEST(ZipCryptoInterop, OutsideArchivesDecryptWithTheRightPassword) {
    for (const FixtureCase& c : kCases) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> bytes = fromHex(c.hex);
        ZipReader r;
        std::string error;
        ASSERT_TRUE(r.openMemory(bytes.data(), bytes.size(), &error)) << error;
        size_t i = findEntry(r, c.entry);
        ASSERT_NE(i, SIZE_MAX);
        EXPECT_EQ(r.entry(i).encryption, c.encryption);
        EXPECT_EQ(r.entry(i).aesStrength, c.aesStrength);
        StringSink sink;
        ASSERT_TRUE(r.extract(i, sink, "secret", &error)) << error;
        EXPECT_EQ(sink.data, c.contents);
    }
}

TEST(ZipCryptoInterop, WrongOrMissingPasswordIsRefused) {
    for (const FixtureCase& c : kCases) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> bytes = fromHex(c.hex);
        ZipReader r;
        std::string error;
        ASSERT_TRUE(r.openMemory(bytes.data(), bytes.size(), &error)) << error;
        size_t i = findEntry(r, c.entry);
        ASSERT_NE(i, SIZE_MAX);
        for (const char* wrong : {"Secret", "", "secret "}) {
            StringSink sink;
            EXPECT_FALSE(r.extract(i, sink, wrong, &error));
            EXPECT_EQ(error.rfind(std::string(c.entry) + ": wrong password", 0), 0u) << error;
        }
        StringSink sink;
        EXPECT_FALSE(r.extract(i, sink, nullptr, &error));
        EXPECT_EQ(error, std::string(c.entry) + ": a password is required");
    }
}

// One password in 256 passes the traditional check byte; the CRC must
// still catch it.
TEST(ZipCryptoInterop, WrongPasswordPassingTheCheckByteFailsOnTheCrc) {
    std::vector<uint8_t> bytes = fromHex(kZipCryptoPlain);
    ZipReader r;
    std::string error;
    ASSERT_TRUE(r.openMemory(bytes.data(), bytes.size(), &error)) << error;
    int crcFailures = 0;
    for (int k = 0; k < 3000 && crcFailures < 3; k++) {
        std::string password = "guess" + std::to_string(k);
        StringSink sink;
        ASSERT_FALSE(r.extract(0, sink, password.c_str(), &error));
        if (error == "hello.txt: wrong password (CRC mismatch)") crcFailures++;
        else EXPECT_EQ(error, "hello.txt: wrong password");
    }
    EXPECT_EQ(crcFailures, 3);
}

TEST(ZipCryptoInterop, TamperedAesDataFailsTheAuthenticationCode) {
    std::vector<uint8_t> bytes = fromHex(kAes128);
    ZipReader r;
    std::string error;
    ASSERT_TRUE(r.openMemory(bytes.data(), bytes.size(), &error)) << error;
    const ZipEntry& e = r.entry(0);
    uint64_t lho = e.localHeaderOffset;
    uint64_t dataStart = lho + 30 + bytes[lho + 26] + (bytes[lho + 27] << 8) + bytes[lho + 28] + (bytes[lho + 29] << 8);
    // Salt (8 bytes for AES-128) and verifier (2), then the ciphertext, then the code.
    for (uint64_t at : {dataStart + 10 + 3, dataStart + e.compressedSize - 1}) {
        std::vector<uint8_t> copy = bytes;
        copy[size_t(at)] ^= 0x40;
        ZipReader t;
        ASSERT_TRUE(t.openMemory(copy.data(), copy.size(), &error)) << error;
        StringSink sink;
        EXPECT_FALSE(t.extract(0, sink, "secret", &error));
        EXPECT_EQ(error, "hello.txt: authentication code does not match (wrong password or corrupt data)");
    }
}

TEST(ZipCryptoCipherTest, EncryptThenDecryptRestoresAndDependsOnThePassword) {
    std::vector<uint8_t> plain(1000);
    for (size_t i = 0; i < plain.size(); i++) plain[i] = uint8_t(i * 7 + 3);
    std::vector<uint8_t> a = plain, b = plain;
    ZipCryptoCipher("pass", 4).encrypt(a.data(), a.size());
    ZipCryptoCipher("pasS", 4).encrypt(b.data(), b.size());
    EXPECT_NE(a, plain);
    EXPECT_NE(a, b);
    // Decrypting in pieces equals decrypting at once.
    ZipCryptoCipher d("pass", 4);
    d.decrypt(a.data(), 333);
    d.decrypt(a.data() + 333, a.size() - 333);
    EXPECT_EQ(a, plain);
}

TEST(WinZipAesCipherTest, RoundTripKeysVerifierAndCode) {
    const uint8_t salt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    for (int strength = 1; strength <= 3; strength++) {
        SCOPED_TRACE(strength);
        std::vector<uint8_t> plain(100);
        for (size_t i = 0; i < plain.size(); i++) plain[i] = uint8_t(i);
        WinZipAesCipher enc, dec, other;
        uint8_t v1[2], v2[2], v3[2];
        ASSERT_TRUE(enc.init("pw", 2, salt, strength, v1));
        ASSERT_TRUE(dec.init("pw", 2, salt, strength, v2));
        ASSERT_TRUE(other.init("px", 2, salt, strength, v3));
        EXPECT_EQ(std::memcmp(v1, v2, 2), 0);
        std::vector<uint8_t> data = plain;
        enc.encrypt(data.data(), 37);
        enc.encrypt(data.data() + 37, data.size() - 37);
        EXPECT_NE(data, plain);
        uint8_t macE[10], macD[10];
        enc.finishMac(macE);
        dec.decrypt(data.data(), 5);
        dec.decrypt(data.data() + 5, data.size() - 5);
        dec.finishMac(macD);
        EXPECT_EQ(data, plain);
        EXPECT_EQ(std::memcmp(macE, macD, 10), 0);
    }
    uint8_t v[2];
    WinZipAesCipher bad;
    EXPECT_FALSE(bad.init("pw", 2, salt, 4, v));
    EXPECT_FALSE(bad.init("pw", 2, salt, 0, v));
    EXPECT_EQ(WinZipAesCipher::saltLength(1), 8u);
    EXPECT_EQ(WinZipAesCipher::saltLength(3), 16u);
}
