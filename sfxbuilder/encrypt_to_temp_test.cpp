// The encryption step on an in-memory stub image: the "encrypted"
// resource, the temporary payload and its failures.
#include "sfxbuilder/encrypt_to_temp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "crypto/easy_crypt.h"
#include "exeimage/exe_image.h"
#include "exeimage/test_pe_builder.h"
#include "sfxformat/sfx_format.h"
#include "support/byte_reader.h"
#include "support/data_buffer.h"
#include "support/platform.h"
#include "support/string_buffer.h"
#include "support/testing/recording_log.h"
#include "support/testing/scratch_dir.h"

using namespace testpe;

namespace {

struct Stub {
    Bytes bytes;
    std::unique_ptr<ExeImage> image;
    Stub() : bytes(build(samplePlan(false)).bytes) {
        image.reset(ExeImage::loadFromMemory(bytes.data(), uint32_t(bytes.size()), "stub.exe", nullptr));
    }
    bool encrypted(uint32_t* keyBits, std::string* check) {
        const uint8_t* data = nullptr;
        uint32_t size = 0;
        if (!image->findNamedResourceData("encrypted", &data, &size, nullptr)) return false;
        ByteView v(data, size);
        if (v.size() != kEncryptedResourceSize || !v.u32(0, keyBits)) return false;
        check->assign(reinterpret_cast<const char*>(v.at(4, 32)), 32);
        return true;
    }
};

std::string zipLike(uint32_t n) {
    std::string s = "PK\x03\x04";
    while (s.size() < n) s += char('a' + s.size() % 26);
    s.resize(n);
    return s;
}

TEST(MapPayloadKeyLength, Table) {
    struct {
        int in, out;
    } cases[] = {{-1000, 128}, {-1, 128}, {0, 128}, {1, 128}, {128, 128}, {129, 192},
                 {192, 192}, {193, 256}, {256, 256}, {1000, 256}};
    for (const auto& c : cases) EXPECT_EQ(mapPayloadKeyLength(c.in), c.out) << c.in;
}

class EncryptToTemp : public ::testing::Test {
protected:
    ScratchDir dir;
    Stub stub;
};

// The resource carries the effective key length; the check block is the
// same for every payload key length; the payload decrypts to the zip.
TEST_F(EncryptToTemp, ResourceAndPayloadPerKeyLength) {
    ASSERT_TRUE(stub.image);
    std::string zip = zipLike(1000);
    dir.write("in.zip", zip);
    std::string firstCheck;
    struct {
        int request, effective;
    } cases[] = {{0, 128}, {128, 128}, {129, 192}, {192, 192}, {193, 256}, {1000, 256}};
    for (const auto& c : cases) {
        Stub s;
        StringBuffer temp;
        RecordingLog log;
        ASSERT_TRUE(encryptToTemp(*s.image, dir.file("in.zip").c_str(), "s\xc3\xa9same", c.request, temp, &log))
            << c.request;
        dir.track(temp.str());
        EXPECT_TRUE(log.errors().empty());
        uint32_t bits = 0;
        std::string check;
        ASSERT_TRUE(s.encrypted(&bits, &check));
        EXPECT_EQ(bits, uint32_t(c.effective));
        if (firstCheck.empty()) firstCheck = check;
        EXPECT_EQ(check, firstCheck) << c.request;
        EXPECT_TRUE(EasyCrypt::verifyCheckBlock("s\xc3\xa9same", reinterpret_cast<const uint8_t*>(check.data()), 32));
        EXPECT_FALSE(EasyCrypt::verifyCheckBlock("sesame", reinterpret_cast<const uint8_t*>(check.data()), 32));

        // A unique temporary file named from "vke" in the temp folder.
        char tmpDir[800];
        ASSERT_GT(platform::tempDirectory(tmpDir, sizeof tmpDir), 0u);
        std::string path = temp.str();
        ASSERT_EQ(path.compare(0, std::strlen(tmpDir), tmpDir), 0) << path;
        EXPECT_EQ(path.substr(std::strlen(tmpDir), 3), "vke") << path;
        std::string payload = readWholeFile(path);
        EXPECT_EQ(payload.size(), 1000u / 16 * 16 + 32);
        DataBuffer plain;
        ASSERT_TRUE(EasyCrypt::decryptBytes(1, c.effective, "s\xc3\xa9same", payload.data(),
                                            uint32_t(payload.size()), plain));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(plain.data()), plain.length()), zip);
        platform::deleteFile(path.c_str());
    }
}

TEST_F(EncryptToTemp, EmptyPasswordAndEmptyZip) {
    dir.write("empty.zip", "");
    StringBuffer temp;
    ASSERT_TRUE(encryptToTemp(*stub.image, dir.file("empty.zip").c_str(), "", 256, temp, nullptr));
    dir.track(temp.str());
    bool ok = false;
    EXPECT_EQ(readWholeFile(temp.str(), &ok), "");
    EXPECT_TRUE(ok);
    uint32_t bits = 0;
    std::string check;
    ASSERT_TRUE(stub.encrypted(&bits, &check));
    EXPECT_EQ(bits, 256u);
    uint8_t expect[32];
    ASSERT_TRUE(EasyCrypt::makeCheckBlock("", expect));
    EXPECT_EQ(std::memcmp(check.data(), expect, 32), 0);
}

TEST_F(EncryptToTemp, Failures) {
    struct {
        const char* name;
        bool zipGiven;
        const char* password;
        const char* error;
        bool resourceAdded;
    } cases[] = {
        {"no zip", false, "pw", "No Zip filename in Tollan/encrypt-to-temp", false},
        {"no password", true, nullptr, "No Zip password in Tollan/encrypt-to-temp", false},
    };
    dir.write("in.zip", zipLike(50));
    for (const auto& c : cases) {
        Stub s;
        StringBuffer temp("stale");
        RecordingLog log;
        std::string zip = dir.file("in.zip");
        EXPECT_FALSE(encryptToTemp(*s.image, c.zipGiven ? zip.c_str() : nullptr, c.password, 256, temp, &log));
        EXPECT_EQ(log.errors(), std::vector<std::string>{c.error}) << c.name;
        EXPECT_TRUE(temp.isEmpty());
        uint32_t bits;
        std::string check;
        EXPECT_EQ(s.encrypted(&bits, &check), c.resourceAdded) << c.name;
    }
}

// A missing zip or an unwritable folder: false, the messages, and no
// temporary file left behind.
TEST_F(EncryptToTemp, FailuresLeaveNoTemporaryFile) {
    ScratchDir tmp;
    dir.write("in.zip", zipLike(40));
    StringBuffer temp;
    RecordingLog log;
    EXPECT_FALSE(encryptToTempIn(*stub.image, dir.file("missing.zip").c_str(), "pw", 256, tmp.path().c_str(),
                                 temp, &log));
    EXPECT_TRUE(temp.isEmpty());
    EXPECT_TRUE(log.has("data: filename = " + dir.file("missing.zip")));
    // The folder can be removed only when it is empty.
    EXPECT_TRUE(platform::removeDirectory(tmp.path().c_str()));
    EXPECT_TRUE(platform::createDirectory(tmp.path().c_str()));

    Stub s;
    RecordingLog noFolder;
    std::string missingFolder = tmp.file("not-there");
    EXPECT_FALSE(encryptToTempIn(*s.image, dir.file("in.zip").c_str(), "pw", 256, missingFolder.c_str(), temp,
                                 &noFolder));
    EXPECT_TRUE(noFolder.has("error: Failed to create a temporary file for the encrypted zip"));
    EXPECT_TRUE(temp.isEmpty());
}

}  // namespace
