// `orvanta sfx` driven through runSfxCommand: bad command lines, then
// build, inspect and extract round trips with the stubs this program
// carries (embedded natively, its own resources on Windows).
#include "cli/sfx_command.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "exeimage/exe_image.h"
#include "support/log_base.h"
#include "support/platform.h"
#include "support/testing/scratch_dir.h"
#include "zip/zip_archive.h"

namespace {

int sfx(std::initializer_list<std::string> args) {
    std::vector<std::string> copies(args);
    std::vector<char*> argv;
    for (std::string& s : copies) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    return runSfxCommand(static_cast<int>(copies.size()), argv.data());
}

std::string captured(std::initializer_list<std::string> args, int* status) {
    testing::internal::CaptureStdout();
    *status = sfx(args);
    return testing::internal::GetCapturedStdout();
}

class SfxCommandTest : public testing::Test {
protected:
    void SetUp() override {
        dir.write("one.txt", "the first file\n");
        dir.write("two.bin", std::string("\0\1\2\3 binary \xff", 14));
        zip = dir.file("in.zip");
        dir.track(zip);
        ZipWriter writer;
        ZipWriter::Options options;
        std::string error;
        ASSERT_TRUE(writer.create(zip.c_str(), &error)) << error;
        for (const char* f : {"one.txt", "two.bin"})
            ASSERT_TRUE(writer.addFile(dir.file(f).c_str(), f, options, &error)) << error;
        ASSERT_TRUE(writer.close(&error)) << error;
    }
    // The two files unpacked into a new folder `name`, compared and removed.
    void expectUnpacked(const std::string& name) {
        std::string folder = dir.file(name);
        for (const char* f : {"one.txt", "two.bin"}) {
            std::string sep(1, platform::pathSeparator());
            bool ok = false;
            EXPECT_EQ(readWholeFile(folder + sep + f, &ok), readWholeFile(dir.file(f))) << name << " " << f;
            EXPECT_TRUE(ok) << name << " " << f;
            platform::deleteFile((folder + sep + f).c_str());
        }
        EXPECT_TRUE(platform::removeDirectory(folder.c_str())) << name << " holds more than the two files";
    }
    std::string built(const std::string& name) {
        dir.track(dir.file(name));
        return dir.file(name);
    }

    ScratchDir dir;
    std::string zip;
};

TEST_F(SfxCommandTest, BadCommandLinesAreUsageErrorsAndWriteNothing) {
    std::string out = dir.file("never.exe");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"build"},
        {"build", zip},
        {"build", zip, out, "extra"},
        {"build", zip, out, "--title"},                               // value missing
        {"build", zip, out, "--bogus"},                               // unknown option
        {"build", zip, out, "--silent=yes"},                          // a flag with a value
        {"build", zip, out, "--run-in-place"},                        // without --run
        {"build", zip, out, "--key-bits", "256"},                     // without --password
        {"build", zip, out, "--password", "p", "--key-bits", "12x"},  // not a number
        {"build", zip, out, "--password", "p", "--key-bits", ""},
        {"build", zip, out, "--password", "p", "--key-bits=4294967296"},  // beyond 32 bits
        {"inspect"},
        {"inspect", out, out},
        {"extract"},
        {"extract", out, "-d"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> copies(c);
        std::vector<char*> argv;
        for (std::string& s : copies) argv.push_back(&s[0]);
        argv.push_back(nullptr);
        testing::internal::CaptureStderr();
        int status = runSfxCommand(static_cast<int>(copies.size()), argv.data());
        std::string err = testing::internal::GetCapturedStderr();
        std::string joined;
        for (const auto& s : c) joined += s + " ";
        EXPECT_EQ(status, 2) << joined;
        // The usage of the verb at hand, not of every verb (all three
        // when there is no known verb).
        const std::string verb = c.empty() || c[0] == "frobnicate" ? "" : c[0];
        EXPECT_NE(err.find("usage: orvanta sfx " + (verb.empty() ? "build" : verb)), std::string::npos) << joined;
        if (!verb.empty()) {
            EXPECT_EQ(err.find("usage: orvanta sfx " + std::string(verb == "build" ? "extract" : "build")),
                      std::string::npos)
                << joined;
        }
        EXPECT_FALSE(fileIsThere(out)) << joined;
    }
}

// Each variant: its options, the names the stub copy gets, the password to
// extract with, the stored key length and the start-up mode.
struct Variant {
    const char* label;
    std::vector<std::string> options;
    const char* names;  // as inspect lists them, comma-separated
    const char* password;
    int keyBits;
    const char* mode;
};

TEST_F(SfxCommandTest, EveryVariantBuildsInspectsAndExtracts) {
    const std::vector<Variant> variants = {
        {"plain", {}, "zip", nullptr, 0, "interactive"},
        {"settings", {"--title", "T", "--caption", "C", "--unzip-dir", "D", "--params", "P", "--silent"},
         "appTitle,progressCaption,unzipDir,autoParams,noInterface,zip", nullptr, 0, "silent"},
        {"program", {"--run", "one.txt"}, "autotemp,zip", nullptr, 0, "automatic"},
        {"in-place", {"--run=one.txt", "--run-in-place"}, "autorun,zip", nullptr, 0, "interactive"},
        {"encrypted", {"--password", "pw"}, "encrypted,zip", "pw", 256, "interactive"},
        {"negative", {"--password", "pw", "--key-bits=-5"}, "encrypted,zip", "pw", 128, "interactive"},
        {"empty-password", {"--password="}, "encrypted,zip", "", 256, "interactive"},
        {"both", {"--password", "pw", "--key-bits", "150", "--run", "two.bin", "--unzip-dir", "X"},
         "encrypted,unzipDir,autotemp,zip", "pw", 192, "automatic"},
        {"x64", {"--x64", "--title", "64"}, "appTitle,zip", nullptr, 0, "interactive"},
    };
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.label);
        std::string exe = built(std::string(v.label) + ".exe");
        std::vector<std::string> args = {"build", zip, exe};
        args.insert(args.end(), v.options.begin(), v.options.end());
        std::vector<char*> argv;
        for (std::string& s : args) argv.push_back(&s[0]);
        testing::internal::CaptureStdout();
        int status = runSfxCommand(static_cast<int>(argv.size()), argv.data());
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(status, 0);

        std::unique_ptr<ExeImage> image(ExeImage::loadFromFile(exe.c_str(), nullptr));
        ASSERT_TRUE(image);
        EXPECT_EQ(image->ntHeaders().isPe32Plus(), std::string(v.label) == "x64");
        image.reset();

        std::string json = captured({"inspect", "--json", exe}, &status);
        EXPECT_EQ(status, 0);
        std::string names;
        for (size_t at = json.find("{\"name\": \""); at != std::string::npos;
             at = json.find("{\"name\": \"", at + 1)) {
            size_t start = at + 10;
            names += (names.empty() ? "" : ",") + json.substr(start, json.find('"', start) - start);
        }
        EXPECT_EQ(names, v.names);
        EXPECT_NE(json.find(std::string("\"mode\": \"") + v.mode + "\""), std::string::npos) << json;
        if (v.password) {
            EXPECT_NE(json.find("\"keyBits\": " + std::to_string(v.keyBits) + ",\n"), std::string::npos) << json;
        }

        std::string folder = dir.file(std::string(v.label) + "-out");
        std::string said = v.password ? captured({"extract", exe, "-d", folder, "-p", v.password}, &status)
                                      : captured({"extract", exe, "-d", folder}, &status);
        EXPECT_EQ(status, 0);
        expectUnpacked(std::string(v.label) + "-out");
        bool startsProgram = std::string(v.mode) != "interactive" ? std::string(v.names).find("autotemp") != std::string::npos
                                                                   : std::string(v.names).find("autorun") != std::string::npos;
        EXPECT_EQ(said.find("not started here") != std::string::npos, startsProgram) << said;
    }
}

TEST_F(SfxCommandTest, EncryptedExtractWithoutTheRightPasswordUnpacksNothing) {
    std::string exe = built("locked.exe");
    testing::internal::CaptureStdout();
    ASSERT_EQ(sfx({"build", zip, exe, "--password", "right"}), 0);
    testing::internal::GetCapturedStdout();
    std::string folder = dir.file("locked-out");
    for (const char* password : {"wrong", "", "righ", "right "}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(sfx({"extract", exe, "-d", folder, "-p", password}), 1) << password;
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("Incorrect password."), std::string::npos) << err;
        EXPECT_FALSE(platform::removeDirectory(folder.c_str())) << "folder made for \"" << password << "\"";
    }
}

TEST_F(SfxCommandTest, FailedBuildsSaySoAndKeepTheirLog) {
    std::string log = built("failed.xml");
    std::string missingFolder = dir.file("no-such-folder") + platform::pathSeparator() + "out.exe";
    testing::internal::CaptureStderr();
    EXPECT_EQ(sfx({"build", zip, missingFolder, "--log", log}), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Failed to create file"), std::string::npos) << err;
    std::string xml = readWholeFile(log);
    EXPECT_NE(xml.find("<CreateExe>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("Failed to create file"), std::string::npos) << xml;

    std::string exe = dir.file("nozip.exe");
    testing::internal::CaptureStderr();
    EXPECT_EQ(sfx({"build", dir.file("missing.zip"), exe, "--run", "x", "--password", "p"}), 1);
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("CreateExe4"), std::string::npos) << err;
    EXPECT_FALSE(fileIsThere(exe));

    // Something that is no self-extractor: read, but refused.
    for (const char* verb : {"inspect", "extract"}) {
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        EXPECT_EQ(sfx({verb, zip}), 1) << verb;
        testing::internal::GetCapturedStdout();
        EXPECT_FALSE(testing::internal::GetCapturedStderr().empty()) << verb;
    }
}

// A damaged self-extractor (cut short anywhere, or one byte of its
// resource directory changed) is refused or read, never a crash; what it
// unpacks, if anything, is the archive's own files.
TEST_F(SfxCommandTest, DamagedSelfExtractorsFailCleanly) {
    std::string exe = built("whole.exe");
    testing::internal::CaptureStdout();
    ASSERT_EQ(sfx({"build", zip, exe, "--title", "damaged", "--password", "pw"}), 0);
    testing::internal::GetCapturedStdout();
    const std::string whole = readWholeFile(exe);
    uint32_t rsrc = 0;
    {
        std::unique_ptr<ExeImage> image(ExeImage::loadFromFile(exe.c_str(), nullptr));
        ASSERT_TRUE(image);
        ASSERT_GE(image->resourceSectionIndex(), 0);
        rsrc = image->sections().get(image->resourceSectionIndex())->pointerToRawData();
    }
    ASSERT_GT(rsrc, 0u);
    ASSERT_LT(rsrc, whole.size());

    std::vector<std::string> damaged;
    for (size_t n = 0; n < whole.size(); n += n < 1024 ? 61 : 8191) damaged.push_back(whole.substr(0, n));
    for (size_t n = whole.size() - 300; n < whole.size(); n++) damaged.push_back(whole.substr(0, n));
    for (size_t at = rsrc; at < rsrc + 256 && at < whole.size(); at++) {
        std::string copy = whole;
        copy[at] = static_cast<char>(copy[at] ^ 0x5a);
        damaged.push_back(copy);
    }
    std::string bad = built("damaged.exe");
    std::string folder = dir.file("damaged-out");
    int refused = 0;
    for (const std::string& bytes : damaged) {
        dir.write("damaged.exe", bytes);
        for (bool extract : {false, true}) {
            testing::internal::CaptureStdout();
            testing::internal::CaptureStderr();
            int status = extract ? sfx({"extract", bad, "-d", folder, "-p", "pw"}) : sfx({"inspect", "--json", bad});
            testing::internal::GetCapturedStdout();
            std::string err = testing::internal::GetCapturedStderr();
            ASSERT_TRUE(status == 0 || status == 1) << bytes.size() << " bytes: " << status;
            if (status != 0) {
                EXPECT_FALSE(err.empty()) << bytes.size() << " bytes: failed without a word";
                refused++;
            } else if (extract) {
                expectUnpacked("damaged-out");
            }
            for (const char* f : {"one.txt", "two.bin"})
                platform::deleteFile((folder + platform::pathSeparator() + f).c_str());
            platform::removeDirectory(folder.c_str());
        }
    }
    EXPECT_GT(refused, 0);
}

}  // namespace
