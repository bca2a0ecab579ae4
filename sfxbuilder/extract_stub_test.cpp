// Getting the stub out of its carrier module (the unique copy names,
// failures and what they leave behind) and the build sequence
// after it: load the copy, build, delete the copy. Also builds on several
// threads at once.
#include "sfxbuilder/extract_stub.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "crypto/easy_crypt.h"
#include "exeimage/exe_image.h"
#include "exeimage/test_pe_builder.h"
#include "sfxbuilder/pipeline_test_util.h"
#include "sfxbuilder/sfx_settings.h"
#include "sfxformat/sfx_format.h"
#include "support/byte_reader.h"
#include "support/data_buffer.h"
#include "support/file_sys.h"
#include "support/platform.h"
#include "support/string_buffer.h"
#include "support/testing/recording_log.h"
#include "support/testing/scratch_dir.h"

using namespace testpe;
using namespace pipelinetest;

namespace {

// Empties and removes a folder the test made (whatever a failed test left).
void removeFolder(const std::string& folder) {
    for (auto& n : namesIn(folder)) platform::deleteFile((folder + n).c_str());
    platform::removeDirectory(folder.substr(0, folder.size() - 1).c_str());
}

std::string asText(const Bytes& b) { return std::string(b.begin(), b.end()); }

// The stub: a PE32 with an icon, a group icon and no RT_RCDATA.
Bytes stubBytes() {
    Plan p = samplePlan(false);
    p.root = Dir(0, {Dir(3, {Dir(1, {Leaf(1033, Bytes(40, 0x11))})}),
                     Dir(14, {Dir(101, {Leaf(1033, Bytes(20, 0x33))})})});
    p.overlay.clear();
    return build(p).bytes;
}

// A module carrying resources under the given root.
Bytes moduleWith(const Res& root) {
    Plan p = samplePlan(false);
    p.root = root;
    return build(p).bytes;
}

// The carrier: "VARNOCK" with the stub as 218 and something else as 219.
Bytes carrier(const Bytes& stub) {
    return moduleWith(Dir(0, {Dir("VARNOCK", {Dir(218, {Leaf(1033, stub)}), Dir(219, {Leaf(1033, Text("x64"))})}),
                              Dir(3, {Dir(1, {Leaf(1033, Bytes(8, 1))})})}));
}

// Named RT_RCDATA entries of an output, in order, with their bytes.
std::vector<std::pair<std::string, std::string>> rcData(const std::string& path) {
    std::vector<std::pair<std::string, std::string>> out;
    std::unique_ptr<ExeImage> img(ExeImage::loadFromFile(path.c_str(), nullptr));
    if (!img) return out;
    for (const StoredParameter& p : storedParameters(*img)) {
        const uint8_t* data = img->leafData(p.leaf, nullptr);
        out.emplace_back(p.name, data ? std::string(reinterpret_cast<const char*>(data), p.size) : "");
    }
    return out;
}

std::string systemTempFolder() {
    StringBuffer t;
    EXPECT_TRUE(FileSys::tempDirectory(t));
    return t.str();
}

class Extract : public ::testing::Test {
protected:
    void SetUp() override {
        stub = stubBytes();
        module = carrier(stub);
        modulePath = dir.file("carrier.dll");
        dir.write("carrier.dll", asText(module));
        tmp = dir.file("tmp/");
        ASSERT_TRUE(platform::createDirectory(dir.file("tmp").c_str()));
    }
    void TearDown() override {
        removeFolder(tmp);
    }
    ScratchDir dir;
    Bytes stub, module;
    std::string modulePath, tmp;
};

// tln.tmp in the folder, the stub's bytes, nothing logged.
TEST_F(Extract, WritesTheStubCopy) {
    StringBuffer copy("stale");
    RecordingLog log;
    ASSERT_TRUE(extractStubIn(modulePath.c_str(), kStubResourceId, tmp.c_str(), copy, &log));
    EXPECT_EQ(log.lines, std::vector<std::string>{});
    EXPECT_EQ(std::string(copy.str()), tmp + "tln.tmp");
    EXPECT_EQ(readWholeFile(copy.str()), asText(stub));
    // The other resource of the type, by its id.
    StringBuffer other;
    ASSERT_TRUE(extractStubIn(modulePath.c_str(), kStub64ResourceId, tmp.c_str(), other, nullptr));
    EXPECT_EQ(std::string(other.str()), tmp + "tln_2.tmp");
    EXPECT_EQ(readWholeFile(other.str()), "x64");
    platform::deleteFile(copy.str());
    platform::deleteFile(other.str());
}

// Names already taken (another build's copy) are skipped and left alone.
TEST_F(Extract, TakenNamesAreSkipped) {
    dir.write("tmp/tln.tmp", "someone else's");
    StringBuffer second, third;
    ASSERT_TRUE(extractStubIn(modulePath.c_str(), kStubResourceId, tmp.c_str(), second, nullptr));
    EXPECT_EQ(std::string(second.str()), tmp + "tln_2.tmp");
    ASSERT_TRUE(extractStubIn(modulePath.c_str(), kStubResourceId, tmp.c_str(), third, nullptr));
    EXPECT_EQ(std::string(third.str()), tmp + "tln_3.tmp");
    EXPECT_EQ(readWholeFile(tmp + "tln.tmp"), "someone else's");
    EXPECT_EQ(readWholeFile(second.str()), asText(stub));
    EXPECT_EQ(readWholeFile(third.str()), asText(stub));
}

// The public functions use the system temporary folder.
TEST_F(Extract, SystemTemporaryFolder) {
    const std::string sys = systemTempFolder();
    StringBuffer copy;
    ASSERT_TRUE(extractStub(modulePath.c_str(), kStubResourceId, copy, nullptr));
    std::string path = copy.str();
    EXPECT_EQ(readWholeFile(path), asText(stub));
    EXPECT_TRUE(platform::deleteFile(path.c_str()));
    ASSERT_GT(path.size(), sys.size());
    EXPECT_EQ(path.substr(0, sys.size()), sys);
    std::string name = path.substr(sys.size());
    EXPECT_EQ(name.substr(0, 3), "tln") << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".tmp") << name;
    EXPECT_FALSE(fileIsThere(path));
}

// Failures: false, the lines logged, an empty path, nothing in the folder.
TEST_F(Extract, Failures) {
    dir.write("not-a-pe.dll", "hello, world");
    Bytes noStub = moduleWith(Dir(0, {Dir(3, {Dir(1, {Leaf(1033, Bytes(8, 1))})})}));
    dir.write("no-stub.dll", asText(noStub));
    const std::string missing = dir.file("missing.dll");
    const std::string noFolder = dir.file("no-such-folder/");
    StringBuffer notFound;
    notFound.appendSystemError(platform::errorFileNotFound());
    struct Case {
        const char* name;
        std::string module;
        std::string folder;
        uint16_t id;
        std::vector<std::string> lines;  // empty: only the first line is checked
        std::string firstLine;
    } cases[] = {
        {"missing module", missing, tmp, 218, {"error: Failed to open file", "data: filename = " + missing}, ""},
        {"not a PE", dir.file("not-a-pe.dll"), tmp, 218,
         {"error: Failed to find DOS signature", "data: filename = " + dir.file("not-a-pe.dll")}, ""},
        // A module without the stub logs nothing.
        {"no stub", dir.file("no-stub.dll"), tmp, 218, {}, ""},
        {"no such id", modulePath, tmp, 300, {}, ""},
        {"folder missing", modulePath, noFolder, 218, {}, "data: filename = " + noFolder + "tln.tmp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StringBuffer copy("stale");
        RecordingLog log;
        EXPECT_FALSE(extractStubIn(c.module.c_str(), c.id, c.folder.c_str(), copy, &log));
        EXPECT_TRUE(copy.isEmpty());
        if (c.firstLine.empty()) {
            EXPECT_EQ(log.lines, c.lines);
        } else {
            ASSERT_EQ(log.lines.size(), 3u);
            EXPECT_EQ(log.lines[0], c.firstLine);
            EXPECT_EQ(log.lines[2], "error: Failed to open/create file for writing");
        }
        EXPECT_EQ(namesIn(tmp), std::vector<std::string>{});
    }
}

class BuildFromCopy : public Extract {
protected:
    void SetUp() override {
        Extract::SetUp();
        zip = zipLike(2500, 'a');
        dir.write("in.zip", zip);
        zipPath = dir.file("in.zip");
    }
    std::string out(const std::string& name) {
        std::string p = dir.file(name);
        dir.track(p);
        return p;
    }
    std::string zip, zipPath;
    SfxSettings settings;
};

// Each variant through the sequence: the output is right and the copy
// is gone.
TEST_F(BuildFromCopy, EachVariant) {
    settings.title = "Title";
    settings.program = "run.exe";
    settings.runInPlace = true;
    settings.keyBits = 192;
    settings.password = "pw";
    struct {
        bool encrypt, runProgram;
        const char* method;
        std::vector<std::string> names;
    } cases[] = {
        {false, false, "CreateExe", {"appTitle", "zip"}},
        {false, true, "CreateExe2", {"autorun", "appTitle", "zip"}},
        {true, false, "CreateExe3", {"encrypted", "appTitle", "zip"}},
        {true, true, "CreateExe4", {"encrypted", "appTitle", "autorun", "zip"}},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(n);
        StringBuffer copy;
        ASSERT_TRUE(extractStubIn(modulePath.c_str(), kStubResourceId, tmp.c_str(), copy, nullptr));
        settings.encrypt = c.encrypt;
        settings.runProgram = c.runProgram;
        EXPECT_STREQ(settings.methodName(), c.method);
        std::string path = out("out" + std::to_string(n++) + ".exe");
        RecordingLog log;
        ASSERT_TRUE(buildFromStubCopy(copy.str(), settings, zipPath.c_str(), path.c_str(), &log, tmp.c_str()));
        EXPECT_EQ(log.lines, std::vector<std::string>{});
        EXPECT_FALSE(fileIsThere(copy.str()));
        auto entries = rcData(path);
        std::vector<std::string> names;
        for (auto& e : entries) names.push_back(e.first);
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(c.encrypt ? decrypt(entries.back().second, 192, "pw") : entries.back().second, zip);
        EXPECT_EQ(namesIn(tmp), std::vector<std::string>{});
    }
}

// The copy is deleted whatever happened: the copy does not load, the
// build fails; a missing copy is a load failure.
TEST_F(BuildFromCopy, CopyDeletedOnFailure) {
    struct Case {
        const char* name;
        std::string copyBytes;  // written as tmp/tln.tmp; "-" : no file
        bool goodZip;
        bool encrypt, runProgram;
        std::string firstError;
    } cases[] = {
        {"copy is not a PE", "MZ but not much else", true, false, false, "DOS header is truncated"},
        {"copy is empty", "", true, true, false, "Failed to find DOS signature"},
        {"copy missing", "-", true, false, false, "Failed to open file"},
        {"zip missing", asText(stub), false, false, false, ""},
        {"zip missing, encrypted", asText(stub), false, true, true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string copy = tmp + "tln.tmp";
        if (c.copyBytes != "-") dir.write("tmp/tln.tmp", c.copyBytes);
        std::string missingZip = dir.file("missing.zip");
        settings.encrypt = c.encrypt;
        settings.runProgram = c.runProgram;
        settings.password = "pw";
        std::string path = out("failed.exe");
        RecordingLog log;
        EXPECT_FALSE(buildFromStubCopy(copy.c_str(), settings, c.goodZip ? zipPath.c_str() : missingZip.c_str(),
                                       path.c_str(), &log, tmp.c_str()));
        ASSERT_FALSE(log.errors().empty());
        if (!c.firstError.empty()) {
            EXPECT_EQ(log.errors()[0], c.firstError);
        }
        EXPECT_FALSE(fileIsThere(copy));
        EXPECT_FALSE(fileIsThere(path));
        EXPECT_EQ(namesIn(tmp), std::vector<std::string>{});
    }
    RecordingLog log;
    EXPECT_FALSE(buildFromStubCopy(nullptr, settings, nullptr, nullptr, &log));
    EXPECT_EQ(log.lines, (std::vector<std::string>{"error: Failed to open file", "data: filename = "}));
}

// Eight builds at once into one folder, each with its own settings and log,
// from one carrier module file. All eight extract at the same moment
// and hold their copies until all have one, so every copy needs a name of
// its own; then all build at once. Every output is right and no temporary
// file stays.
void parallelBuilds(const std::string& modulePath, const std::string& zipPath, const std::string& zip,
                    const std::string& outFolder, const std::string& tempFolder, std::vector<std::string>* copies) {
    constexpr int kThreads = 8;
    std::atomic<int> ready{0}, extractedCount{0};
    bool extracted[kThreads] = {}, built[kThreads] = {};
    std::vector<std::string> errors(kThreads);
    copies->assign(kThreads, "");
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; i++) {
        threads.emplace_back([&, i] {
            SfxSettings settings;
            settings.title = "Build " + std::to_string(i);
            settings.runProgram = i % 2 == 1;
            settings.program = "go.exe";
            settings.encrypt = i % 4 >= 2;
            settings.password = "pw";
            RecordingLog log;
            StringBuffer copy;
            ready++;
            while (ready.load() < kThreads) std::this_thread::yield();
            extracted[i] = extractStubIn(modulePath.c_str(), kStubResourceId, tempFolder.c_str(), copy, &log);
            (*copies)[size_t(i)] = copy.str();
            extractedCount++;
            while (extractedCount.load() < kThreads) std::this_thread::yield();
            std::string out = outFolder + "out" + std::to_string(i) + ".exe";
            built[i] = extracted[i] && buildFromStubCopy(copy.str(), settings, zipPath.c_str(), out.c_str(), &log,
                                                         tempFolder.c_str());
            for (auto& e : log.errors()) errors[size_t(i)] += e + "; ";
        });
    }
    for (auto& t : threads) t.join();
    for (int i = 0; i < kThreads; i++) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(extracted[i]);
        EXPECT_TRUE(built[i]);
        EXPECT_EQ(errors[size_t(i)], "");
        std::string out = outFolder + "out" + std::to_string(i) + ".exe";
        auto entries = rcData(out);
        ASSERT_GE(entries.size(), 2u);
        bool enc = i % 4 >= 2;
        // Only the plain build has nothing before "appTitle".
        size_t title = i % 4 == 0 ? 0 : 1;
        EXPECT_EQ(entries[title].first, "appTitle");
        EXPECT_EQ(entries[title].second, "Build " + std::to_string(i) + std::string(1, '\0'));
        EXPECT_EQ(enc ? decrypt(entries.back().second, 256, "pw") : entries.back().second, zip);
        platform::deleteFile(out.c_str());
        EXPECT_FALSE(fileIsThere((*copies)[size_t(i)]));
    }
    std::set<std::string> distinct(copies->begin(), copies->end());
    EXPECT_EQ(distinct.size(), size_t(kThreads));
}

TEST_F(BuildFromCopy, ParallelBuildsInOneFolder) {
    ASSERT_TRUE(platform::createDirectory(dir.file("out").c_str()));
    std::vector<std::string> copies;
    parallelBuilds(modulePath, zipPath, zip, dir.file("out/"), tmp, &copies);
    // The copies were tln.tmp, tln_2.tmp, ... tln_8.tmp, all gone now.
    std::set<std::string> expected = {tmp + "tln.tmp"};
    for (int k = 2; k <= 8; k++) expected.insert(tmp + "tln_" + std::to_string(k) + ".tmp");
    EXPECT_EQ(std::set<std::string>(copies.begin(), copies.end()), expected);
    EXPECT_EQ(namesIn(tmp), std::vector<std::string>{});
    EXPECT_EQ(namesIn(dir.file("out")), std::vector<std::string>{});
    removeFolder(dir.file("out/"));
}

// The same through the system temporary folder (shared with whatever else
// runs): distinct copies, each removed.
TEST_F(BuildFromCopy, ParallelBuildsInTheSystemTemporaryFolder) {
    ASSERT_TRUE(platform::createDirectory(dir.file("out").c_str()));
    std::vector<std::string> copies;
    parallelBuilds(modulePath, zipPath, zip, dir.file("out/"), "", &copies);
    const std::string sys = systemTempFolder();
    for (auto& c : copies) EXPECT_EQ(c.substr(0, sys.size()), sys);
    EXPECT_EQ(namesIn(dir.file("out")), std::vector<std::string>{});
    removeFolder(dir.file("out/"));
}

}  // namespace
