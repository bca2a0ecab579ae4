// `orvanta sfx` driven through runSfxCommand: bad command lines, then
// build, inspect and extract round trips with the stubs this program
// carries (embedded natively, its own resources on Windows).
#include "cli/sfx_command.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
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
        writeZip(zip, ZipWriter::Options());
    }
    // The two files as a new archive.
    void writeZip(const std::string& path, const ZipWriter::Options& options) {
        dir.track(path);
        ZipWriter writer;
        std::string error;
        ASSERT_TRUE(writer.create(path.c_str(), &error)) << error;
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
        {"settings",
         {"--title", "T", "--caption", "C", "--unzip-dir", "D", "--params", "P", "--silent", "--run", "one.txt"},
         "autotemp,appTitle,progressCaption,unzipDir,autoParams,noInterface,zip", nullptr, 0, "silent"},
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
        const std::string resources = json.substr(0, json.find("\"entries\": "));
        for (size_t at = resources.find("{\"name\": \""); at != std::string::npos;
             at = resources.find("{\"name\": \"", at + 1)) {
            size_t start = at + 10;
            names += (names.empty() ? "" : ",") + resources.substr(start, resources.find('"', start) - start);
        }
        EXPECT_EQ(names, v.names);
        // The entries are listed unless the payload is encrypted.
        EXPECT_NE(json.find(v.password ? "\"entries\": null"
                                       : "{\"name\": \"two.bin\", \"size\": 14, \"encrypted\": false}"),
                  std::string::npos)
            << json;
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

// Removes a folder with everything in it.
void removeTree(const std::string& path) {
    std::vector<std::pair<std::string, bool>> names;
    platform::listDirectory(
        path.c_str(),
        [](void* list, const char* name, bool isFolder) {
            static_cast<std::vector<std::pair<std::string, bool>>*>(list)->emplace_back(name, isFolder);
            return true;
        },
        &names);
    for (const auto& n : names) {
        const std::string item = path + platform::pathSeparator() + n.first;
        if (n.second) removeTree(item);
        else platform::deleteFile(item.c_str());
    }
    platform::removeDirectory(path.c_str());
}

// One command line, its exit status, what it says on standard error, and
// whether the file it should write is there afterwards.
struct CliCase {
    std::vector<std::string> args;
    int status;
    const char* said;  // a fragment of standard error; null: nothing said there
    std::string output;
    bool written;
};

TEST_F(SfxCommandTest, SettingsThatCannotWorkAreRefusedOrNamed) {
    // An archive of the two files encrypted inside it, a password file
    // (only its first line counts), a folder with a subfolder, and an
    // encrypted self-extractor.
    ZipWriter::Options aes;
    aes.encryption = ZipWriter::Aes256;
    aes.password = "inner";
    const std::string inner = dir.file("inner.zip");
    writeZip(inner, aes);
    dir.write("pw.txt", "inner\r\nnot this\n");
    const std::string pwFile = dir.file("pw.txt"), sep(1, platform::pathSeparator());
    const std::string tree = dir.file("tree");
    ASSERT_TRUE(platform::createDirectory(tree.c_str()));
    ASSERT_TRUE(platform::createDirectory((tree + sep + "sub").c_str()));
    dir.write("tree/sub/Setup.exe", "not really a program");
    const std::string locked = built("locked.exe");
    testing::internal::CaptureStdout();
    ASSERT_EQ(sfx({"build", zip, locked, "-p", "inner"}), 0);
    testing::internal::GetCapturedStdout();
    auto exe = [&](const char* name) { return built(name); };
    auto unpacked = [&](const char* folder, const std::string& file) { return dir.file(folder) + sep + file; };

    const std::vector<CliCase> cases = {
        // Settings the stub would never act on.
        {{"build", zip, exe("a.exe"), "--run", "one.txt", "--run-in-place", "--unzip-dir", "D"}, 2,
         "--run PROGRAM with --unzip-dir DIR starts it", exe("a.exe"), false},
        {{"build", zip, exe("b.exe"), "--run=one.txt", "--run-in-place", "--silent"}, 2, "--silent unpacks without",
         exe("b.exe"), false},
        {{"build", zip, exe("c.exe"), "--silent"}, 2, "add --unzip-dir", exe("c.exe"), false},
        {{"build", zip, exe("d.exe"), "--params", "/q", "--unzip-dir", "D"}, 2, "--params needs --run", exe("d.exe"),
         false},
        // The program to run, looked up as Windows looks up names.
        {{"build", zip, exe("e.exe"), "--run", "one.exe"}, 0, "\"one.exe\" to run is not in the archive",
         exe("e.exe"), true},
        {{"build", zip, exe("f.exe"), "--run", "ONE.TXT", "--silent"}, 0, nullptr, exe("f.exe"), true},
        {{"build", tree, exe("g.exe"), "--run", "sub\\setup.EXE", "--run-in-place", "--params", "/q"}, 0, nullptr,
         exe("g.exe"), true},
        {{"extract", exe("g.exe"), "-d", dir.file("x1")}, 0, nullptr, unpacked("x1", "sub" + sep + "Setup.exe"), true},
        {{"build", tree, tree + sep + "h.exe"}, 1, "inside the folder", tree + sep + "h.exe", false},
        // Entries encrypted inside the archive.
        {{"build", inner, exe("i.exe"), "--silent", "--unzip-dir", "D"}, 1, "2 encrypted entries", exe("i.exe"), false},
        {{"build", inner, exe("j.exe"), "--run", "one.txt"}, 1, "automatic mode", exe("j.exe"), false},
        {{"build", inner, exe("k.exe")}, 0, "cannot unpack without a password", exe("k.exe"), true},
        {{"build", inner, exe("l.exe"), "--password", "inne"}, 1, "wrong password", exe("l.exe"), false},
        {{"build", inner, exe("m.exe"), "--password-file", pwFile, "--silent", "--unzip-dir", "D"}, 0, nullptr,
         exe("m.exe"), true},
        {{"extract", exe("m.exe"), "-d", dir.file("x2"), "--password", "inner"}, 0, nullptr, unpacked("x2", "two.bin"),
         true},
        // Key lengths the builder maps.
        {{"build", zip, exe("n.exe"), "-p", "pw", "--key-bits", "0"}, 0, "128-bit keys", exe("n.exe"), true},
        {{"build", zip, exe("o.exe"), "--password-file", pwFile, "--key-bits=257"}, 0, "256-bit keys", exe("o.exe"),
         true},
        {{"build", zip, exe("p.exe"), "-p", "pw", "--key-bits=1"}, 0, nullptr, exe("p.exe"), true},
        // The password one way only, and from a file that is there.
        {{"build", zip, exe("q.exe"), "-p", "pw", "--password-file", pwFile}, 2, "one way only", exe("q.exe"), false},
        {{"build", zip, exe("r.exe"), "--password=pw", "-p", "pw"}, 2, "one way only", exe("r.exe"), false},
        {{"build", zip, exe("s.exe"), "--password-file", dir.file("nowhere.txt")}, 2, "nowhere.txt", exe("s.exe"),
         false},
        {{"extract", locked, "-d", dir.file("x3"), "--password-file", pwFile}, 0, nullptr, unpacked("x3", "one.txt"),
         true},
        {{"extract", locked, "-d", dir.file("x4"), "-p", "inner", "--password-file", pwFile}, 2, "one way only",
         unpacked("x4", "one.txt"), false},
    };
    for (const CliCase& c : cases) {
        std::string joined;
        for (const std::string& a : c.args) joined += a + " ";
        SCOPED_TRACE(joined);
        std::vector<std::string> copies(c.args);
        std::vector<char*> argv;
        for (std::string& a : copies) argv.push_back(&a[0]);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int status = runSfxCommand(static_cast<int>(argv.size()), argv.data());
        testing::internal::GetCapturedStdout();
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, c.status) << err;
        if (c.said) EXPECT_NE(err.find(c.said), std::string::npos) << err;
        else EXPECT_EQ(err, "");
        EXPECT_EQ(fileIsThere(c.output), c.written);
    }
    // What k.exe holds is listed, each entry marked as encrypted.
    int status;
    const std::string text = captured({"inspect", exe("k.exe")}, &status);
    for (const char* f : {"one.txt", "two.bin"}) {
        size_t at = text.find(std::string("  ") + f);
        ASSERT_NE(at, std::string::npos) << text;
        EXPECT_NE(text.substr(at, text.find('\n', at) - at).find("  encrypted"), std::string::npos) << text;
    }
    for (const char* folder : {"x2", "x3"}) expectUnpacked(folder);
    for (const char* folder : {"x1", "tree"}) removeTree(dir.file(folder));
}

TEST_F(SfxCommandTest, SelfExtractorsAreToldApartForTheListVerb) {
    const std::string plain = built("plain setup.exe"), locked = built("locked.exe");
    testing::internal::CaptureStdout();
    ASSERT_EQ(sfx({"build", zip, plain}), 0);
    ASSERT_EQ(sfx({"build", zip, locked, "-p", "pw"}), 0);
    testing::internal::GetCapturedStdout();
    const struct {
        std::string path;
        const char* hint;  // a fragment; null: not a self-extractor
    } cases[] = {
        {locked, "locked.exe is an encrypted self-extractor: unpack it with orvanta sfx extract "},
        {plain, "setup.exe\" is a self-extractor: see what it holds with orvanta sfx inspect \""},
        {zip, nullptr},
        {dir.file("one.txt"), nullptr},
        {dir.file("nowhere.exe"), nullptr},
    };
    for (const auto& c : cases) {
        std::string hint;
        EXPECT_EQ(describeSelfExtractor(c.path, &hint), c.hint != nullptr) << c.path;
        if (!c.hint) continue;
        EXPECT_NE(hint.find(c.hint), std::string::npos) << hint;
        const std::string typed = c.path == plain ? "\"" + plain + "\"" : c.path;
        EXPECT_NE(hint.find("orvanta sfx extract " + typed), std::string::npos) << hint;
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
