// The build worker: each variant's named RT_RCDATA entries in their order
// and bytes, read back from the written executable; the file-backed zip,
// plain and encrypted; the settings' edge cases; the icon; the failures
// with their log lines and what they leave on disk.
#include "sfxbuilder/tollan_impl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crypto/easy_crypt.h"
#include "exeimage/exe_image.h"
#include "exeimage/test_pe_builder.h"
#include "sfxbuilder/encrypt_to_temp.h"
#include "sfxbuilder/pipeline_test_util.h"
#include "sfxformat/sfx_format.h"
#include "support/byte_reader.h"
#include "support/data_buffer.h"
#include "support/logger.h"
#include "support/platform.h"
#include "support/string_buffer.h"
#include "support/testing/recording_log.h"
#include "support/testing/scratch_dir.h"

using namespace testpe;
using namespace pipelinetest;

namespace {

// A stub like the real one: icon, dialog, string table, group icon, no
// RT_RCDATA of its own.
Plan stubPlan() {
    Plan p = samplePlan(false);
    p.root = Dir(0, {Dir(3, {Dir(1, {Leaf(1033, Bytes(40, 0x11))})}),
                     Dir(5, {Dir(100, {Leaf(1033, Text("dialog"))})}),
                     Dir(6, {Dir(1, {Leaf(1033, Text("strings"))})}),
                     Dir(14, {Dir(101, {Leaf(1033, Bytes(20, 0x33))})})});
    return p;
}

std::string text0(const std::string& s) { return s + std::string(1, '\0'); }

std::string systemText(uint32_t code) {
    StringBuffer t;
    t.appendSystemError(code);
    return t.str();
}

// What a written executable holds, as far as the build is concerned.
struct Output {
    bool loaded = false;
    std::vector<uint16_t> rootTypes;
    std::vector<std::string> names;  // named RT_RCDATA entries, in order
    std::vector<std::string> data;   // their bytes
    std::string icon, group;

    std::string get(const std::string& name) const {
        for (size_t i = 0; i < names.size(); i++)
            if (names[i] == name) return data[i];
        return "<missing>";
    }
};

std::string leafText(ExeImage& img, ExeResource* leaf) {
    const uint8_t* p = leaf ? img.leafData(leaf, nullptr) : nullptr;
    return p ? std::string(reinterpret_cast<const char*>(p), leaf->dataSize) : "";
}

Output readOutput(const std::string& path) {
    Output o;
    std::unique_ptr<ExeImage> img(ExeImage::loadFromFile(path.c_str(), nullptr));
    if (!img || !img->resources()) return o;
    o.loaded = true;
    const ExeResource* root = img->resources();
    for (int i = 0; i < root->idCount(); i++) {
        const ExeResource* type = root->idChild(i);
        o.rootTypes.push_back(type->id);
        if (type->id != 10) continue;
        EXPECT_EQ(type->idCount(), 0) << "RT_RCDATA entries are all named";
        for (int k = 0; k < type->namedCount(); k++) {
            const ExeResource* r = type->namedChild(k);
            std::string name = r->name.str();
            // One language, id 1, holding the data.
            ExeResource* leaf = r->idCount() == 1 ? r->idChild(0) : nullptr;
            if (!leaf || leaf->isDirectory || leaf->id != 1 || r->namedCount() != 0) name += " (malformed)";
            o.names.push_back(name);
            o.data.push_back(leaf && !leaf->isDirectory ? leafText(*img, leaf) : "");
        }
    }
    o.icon = leafText(*img, img->findFirstIconLeaf());
    o.group = leafText(*img, img->findFirstGroupIconLeaf());
    return o;
}

// Which variant of the worker, and its arguments as the worker takes them.
struct BuildRequest {
    enum Variant { Plain, WithProgram, Encrypted, EncryptedWithProgram };
    Variant variant = Plain;
    const char* zipPath = nullptr;
    const char* program = nullptr;
    bool runFromTemp = true;
    int keyBits = 256;
    const char* password = nullptr;
    const char* outPath = nullptr;
};

// Runs one variant of the worker on an image.
bool runVariant(TollanImpl& w, ExeImage* image, const BuildRequest& r, LogBase* log) {
    switch (r.variant) {
        case BuildRequest::Plain: return w.buildPlain(image, r.zipPath, r.outPath, log);
        case BuildRequest::WithProgram:
            return w.buildWithProgram(image, r.zipPath, r.program, r.runFromTemp, r.outPath, log);
        case BuildRequest::Encrypted: return w.buildEncrypted(image, r.zipPath, r.keyBits, r.password, r.outPath, log);
        case BuildRequest::EncryptedWithProgram:
            return w.buildEncryptedWithProgram(image, r.zipPath, r.keyBits, r.password, r.program, r.runFromTemp,
                                               r.outPath, log);
    }
    return false;
}

const char* variantName(BuildRequest::Variant v) {
    static const char* const names[] = {"plain", "with program", "encrypted", "encrypted with program"};
    return names[v];
}

bool isEncrypted(BuildRequest::Variant v) {
    return v == BuildRequest::Encrypted || v == BuildRequest::EncryptedWithProgram;
}

class Worker : public ::testing::Test {
protected:
    void SetUp() override {
        stub = build(stubPlan()).bytes;
        zip = zipLike(3000);
        dir.write("in.zip", zip);
        zipPath = dir.file("in.zip");
        ASSERT_TRUE(platform::createDirectory(tempPath().c_str()));
        worker.tempFolder.assign(tempPath().c_str());
    }
    void TearDown() override {
        // Every build leaves the temporary folder empty.
        EXPECT_EQ(namesIn(tempPath()), std::vector<std::string>{});
        for (auto& n : namesIn(tempPath())) platform::deleteFile((tempPath() + "/" + n).c_str());
        platform::removeDirectory(tempPath().c_str());
    }
    std::string tempPath() const { return dir.file("tmp"); }
    std::string out(const std::string& name) {
        std::string p = dir.file(name);
        dir.track(p);
        return p;
    }
    std::unique_ptr<ExeImage> load(const Bytes& bytes) {
        return std::unique_ptr<ExeImage>(
            ExeImage::loadFromMemory(bytes.data(), uint32_t(bytes.size()), "stub.exe", nullptr));
    }
    // Runs the request on a fresh image of the stub.
    bool run(const BuildRequest& r, LogBase* log, const Bytes* stubBytes = nullptr) {
        std::unique_ptr<ExeImage> image = load(stubBytes ? *stubBytes : stub);
        EXPECT_TRUE(image);
        return runVariant(worker, image.get(), r, log);
    }
    BuildRequest request(BuildRequest::Variant v, const std::string& outPath) {
        BuildRequest r;
        r.variant = v;
        r.zipPath = zipPath.c_str();
        r.program = "setup.exe";
        r.password = "sesame";
        r.keyBits = 256;
        r.outPath = outPath.c_str();
        return r;
    }
    void setAll() {
        worker.appTitle.assign("Setup");
        worker.progressCaption.assign("Unpacking");
        worker.unzipDir.assign("C:\\Program Files\\Thing");
        worker.autoParams.assign("/quiet /x");
        worker.noInterface = true;
    }

    ScratchDir dir;
    Bytes stub;
    std::string zip, zipPath;
    TollanImpl worker;
};

// Every setting and both program names: the order of the entries per
// variant, their bytes, the file-backed zip (plain or decrypting to the
// zip), and the RT_RCDATA type created as the root's last type.
TEST_F(Worker, EntriesInOrderPerVariant) {
    setAll();
    using V = BuildRequest;
    const std::vector<std::string> settings = {"appTitle", "progressCaption", "unzipDir", "autoParams",
                                               "noInterface"};
    auto join = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    struct Case {
        V::Variant variant;
        bool runFromTemp;
        std::vector<std::string> names;
    } cases[] = {
        {V::Plain, true, join(settings, {"zip"})},
        {V::WithProgram, true, join(join({"autotemp"}, settings), {"zip"})},
        {V::WithProgram, false, join(join({"autorun"}, settings), {"zip"})},
        {V::Encrypted, true, join(join({"encrypted"}, settings), {"zip"})},
        {V::EncryptedWithProgram, true, join(join({"encrypted"}, settings), {"autotemp", "zip"})},
        {V::EncryptedWithProgram, false, join(join({"encrypted"}, settings), {"autorun", "zip"})},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(variantName(c.variant)) + (c.runFromTemp ? ", temp" : ", run"));
        std::string path = out("out" + std::to_string(n++) + ".exe");
        BuildRequest r = request(c.variant, path);
        r.runFromTemp = c.runFromTemp;
        RecordingLog log;
        ASSERT_TRUE(run(r, &log));
        EXPECT_EQ(log.lines, std::vector<std::string>{});

        Output o = readOutput(path);
        ASSERT_TRUE(o.loaded);
        EXPECT_EQ(o.rootTypes, (std::vector<uint16_t>{3, 5, 6, 14, 10}));
        EXPECT_EQ(o.names, c.names);
        EXPECT_EQ(o.get("appTitle"), text0("Setup"));
        EXPECT_EQ(o.get("progressCaption"), text0("Unpacking"));
        EXPECT_EQ(o.get("unzipDir"), text0("C:\\Program Files\\Thing"));
        EXPECT_EQ(o.get("autoParams"), text0("/quiet /x"));
        EXPECT_EQ(o.get("noInterface"), std::string("yes\0", 4));
        if (c.variant != V::Plain && c.variant != V::Encrypted) {
            EXPECT_EQ(o.get(c.runFromTemp ? "autotemp" : "autorun"), text0("setup.exe"));
        }
        if (isEncrypted(c.variant)) {
            std::string e = o.get("encrypted");
            ASSERT_EQ(e.size(), kEncryptedResourceSize);
            EXPECT_EQ(loadLE32(reinterpret_cast<const uint8_t*>(e.data())), 256u);
            EXPECT_TRUE(EasyCrypt::verifyCheckBlock("sesame", reinterpret_cast<const uint8_t*>(e.data() + 4), 32));
            EXPECT_EQ(o.get("zip").size(), zip.size() / 16 * 16 + 32);
            EXPECT_EQ(decrypt(o.get("zip"), 256, "sesame"), zip);
        } else {
            EXPECT_EQ(o.get("zip"), zip);
        }
        // The rest of the stub is the stub's.
        EXPECT_EQ(o.icon, std::string(40, '\x11'));
    }
}

// Settings one at a time: an empty one writes nothing, text is its bytes
// and one zero byte, the program is written even when empty.
TEST_F(Worker, SettingsEdgeCases) {
    using V = BuildRequest;
    struct Case {
        const char* name;
        V::Variant variant;
        const char* title;
        bool noInterface;
        const char* program;
        bool runFromTemp;
        std::vector<std::string> names;
        std::vector<std::string> data;  // of every entry but "zip"/"encrypted"
    } cases[] = {
        {"all empty", V::Plain, "", false, nullptr, true, {"zip"}, {}},
        {"all empty, encrypted", V::Encrypted, "", false, nullptr, true, {"encrypted", "zip"}, {}},
        {"six-character title", V::Plain, "Hello!", false, nullptr, true, {"appTitle", "zip"}, {text0("Hello!")}},
        {"ANSI title", V::Plain, "Caf\xe9 \xa9", false, nullptr, true, {"appTitle", "zip"}, {text0("Caf\xe9 \xa9")}},
        {"no interface", V::Plain, "", true, nullptr, true, {"noInterface", "zip"}, {std::string("yes\0", 4)}},
        {"program from temp", V::WithProgram, "", false, "go.exe", true, {"autotemp", "zip"}, {text0("go.exe")}},
        {"program in place", V::WithProgram, "", false, "go.exe", false, {"autorun", "zip"}, {text0("go.exe")}},
        {"empty program", V::WithProgram, "", false, "", true, {"autotemp", "zip"}, {std::string(1, '\0')}},
        {"empty program, encrypted", V::EncryptedWithProgram, "", false, "", false, {"encrypted", "autorun", "zip"},
         {std::string(1, '\0')}},
        {"null program, encrypted", V::EncryptedWithProgram, "", false, nullptr, true,
         {"encrypted", "autotemp", "zip"}, {std::string(1, '\0')}},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TollanImpl w;
        w.tempFolder.assign(tempPath().c_str());
        w.appTitle.assign(c.title);
        w.noInterface = c.noInterface;
        std::string path = out("edge" + std::to_string(n++) + ".exe");
        BuildRequest r = request(c.variant, path);
        r.program = c.program;
        r.runFromTemp = c.runFromTemp;
        std::unique_ptr<ExeImage> image = load(stub);
        ASSERT_TRUE(runVariant(w, image.get(), r, nullptr));
        Output o = readOutput(path);
        EXPECT_EQ(o.names, c.names);
        std::vector<std::string> data;
        for (size_t i = 0; i < o.names.size(); i++)
            if (o.names[i] != "zip" && o.names[i] != "encrypted") data.push_back(o.data[i]);
        EXPECT_EQ(data, c.data);
        if (!data.empty() && c.title[0]) {
            EXPECT_EQ(data[0].size(), std::strlen(c.title) + 1);
        }
        EXPECT_EQ(isEncrypted(c.variant) ? decrypt(o.get("zip"), 256, "sesame") : o.get("zip"), zip);
    }
}

// The key length the caller passes is mapped before it is stored and used
// for the payload.
TEST_F(Worker, KeyLengthMapping) {
    struct {
        int requested;
        uint32_t stored;
    } cases[] = {{100, 128}, {150, 192}, {192, 192}, {193, 256}, {-5, 128}, {128, 128}, {256, 256}, {4096, 256}};
    int n = 0;
    for (const auto& c : cases) {
        for (auto v : {BuildRequest::Encrypted, BuildRequest::EncryptedWithProgram}) {
            SCOPED_TRACE(std::string(variantName(v)) + " " + std::to_string(c.requested));
            std::string path = out("key" + std::to_string(n++) + ".exe");
            BuildRequest r = request(v, path);
            r.keyBits = c.requested;
            ASSERT_TRUE(run(r, nullptr));
            Output o = readOutput(path);
            std::string e = o.get("encrypted");
            ASSERT_EQ(e.size(), 36u);
            EXPECT_EQ(loadLE32(reinterpret_cast<const uint8_t*>(e.data())), c.stored);
            EXPECT_EQ(decrypt(o.get("zip"), int(c.stored), "sesame"), zip);
            // Another key length does not decrypt it.
            EXPECT_NE(decrypt(o.get("zip"), c.stored == 256 ? 128 : 256, "sesame"), zip);
        }
    }
}

TEST_F(Worker, EmptyPasswordIsAPassword) {
    std::string path = out("empty-pw.exe");
    BuildRequest r = request(BuildRequest::Encrypted, path);
    r.password = "";
    RecordingLog log;
    ASSERT_TRUE(run(r, &log));
    EXPECT_EQ(log.lines, std::vector<std::string>{});
    Output o = readOutput(path);
    std::string e = o.get("encrypted");
    ASSERT_EQ(e.size(), 36u);
    EXPECT_TRUE(EasyCrypt::verifyCheckBlock("", reinterpret_cast<const uint8_t*>(e.data() + 4), 32));
    EXPECT_FALSE(EasyCrypt::verifyCheckBlock("sesame", reinterpret_cast<const uint8_t*>(e.data() + 4), 32));
    EXPECT_EQ(decrypt(o.get("zip"), 256, ""), zip);
}

// An empty zip is stored as it is (plain) or as an empty payload.
TEST_F(Worker, EmptyZip) {
    dir.write("empty.zip", "");
    std::string emptyZip = dir.file("empty.zip");
    for (auto v : {BuildRequest::Plain, BuildRequest::Encrypted}) {
        SCOPED_TRACE(variantName(v));
        std::string path = out(std::string("empty-") + (isEncrypted(v) ? "e" : "p") + ".exe");
        BuildRequest r = request(v, path);
        r.zipPath = emptyZip.c_str();
        ASSERT_TRUE(run(r, nullptr));
        Output o = readOutput(path);
        ASSERT_TRUE(o.loaded);
        EXPECT_EQ(o.get("zip"), "");
    }
}

// A stub that already carries "zip" (an SFX used as a stub): the old one
// goes, the new one is added after the settings, into the existing
// RT_RCDATA type, which keeps its place.
TEST_F(Worker, ReplacesAnExistingZip) {
    Bytes withZip = build(samplePlan(false)).bytes;
    worker.appTitle.assign("T");
    for (auto v : {BuildRequest::Plain, BuildRequest::Encrypted}) {
        SCOPED_TRACE(variantName(v));
        std::string path = out(std::string("rezip-") + (isEncrypted(v) ? "e" : "p") + ".exe");
        ASSERT_TRUE(run(request(v, path), nullptr, &withZip));
        Output o = readOutput(path);
        EXPECT_EQ(o.rootTypes, (std::vector<uint16_t>{3, 10, 14}));
        std::vector<std::string> names = {"appTitle", "zip"};
        if (isEncrypted(v)) names.insert(names.begin(), "encrypted");
        EXPECT_EQ(o.names, names);
        EXPECT_EQ(isEncrypted(v) ? decrypt(o.get("zip"), 256, "sesame") : o.get("zip"), zip);
    }
}

// The zip is streamed from its file into the output; a few MiB come
// through byte for byte.
TEST_F(Worker, LargeZipStreamsThrough) {
    std::string big = zipLike(5 * 1024 * 1024 + 4097);
    dir.write("big.zip", big);
    std::string bigPath = dir.file("big.zip");
    for (auto v : {BuildRequest::Plain, BuildRequest::EncryptedWithProgram}) {
        SCOPED_TRACE(variantName(v));
        std::string path = out(std::string("big-") + (isEncrypted(v) ? "e" : "p") + ".exe");
        BuildRequest r = request(v, path);
        r.zipPath = bigPath.c_str();
        ASSERT_TRUE(run(r, nullptr));
        Output o = readOutput(path);
        std::string stored = isEncrypted(v) ? decrypt(o.get("zip"), 256, "sesame") : o.get("zip");
        EXPECT_EQ(stored.size(), big.size());
        EXPECT_TRUE(stored == big) << "the stored zip differs from the zip file";
    }
}

// A usable .ico replaces the first icon; a missing or broken one leaves
// the stub's icon and the build succeeds.
TEST_F(Worker, Icon) {
    // One 16x16 image of 72 bytes.
    Bytes ico(6 + 16);
    put16(ico, 2, 1);
    put16(ico, 4, 1);
    ico[6] = 16, ico[7] = 16;
    put16(ico, 10, 1);
    put16(ico, 12, 32);
    put32(ico, 14, 72);
    put32(ico, 18, 22);
    for (int i = 0; i < 72; i++) ico.push_back(uint8_t(i * 3 + 1));
    dir.write("good.ico", std::string(ico.begin(), ico.end()));
    dir.write("broken.ico", std::string(ico.begin(), ico.begin() + 30));
    const std::string image72(ico.begin() + 22, ico.end());

    struct {
        const char* file;
        bool replaced;
    } cases[] = {{"good.ico", true}, {"missing.ico", false}, {"broken.ico", false}};
    int n = 0;
    for (const auto& c : cases) {
        for (auto v : {BuildRequest::Plain, BuildRequest::EncryptedWithProgram}) {
            SCOPED_TRACE(std::string(c.file) + ", " + variantName(v));
            worker.iconFile.assign(dir.file(c.file).c_str());
            std::string path = out("icon" + std::to_string(n++) + ".exe");
            RecordingLog log;
            ASSERT_TRUE(run(request(v, path), &log));
            EXPECT_EQ(log.errors(), std::vector<std::string>{});
            Output o = readOutput(path);
            EXPECT_EQ(o.icon, c.replaced ? image72 : std::string(40, '\x11'));
            EXPECT_EQ(o.group == std::string(20, '\x33'), !c.replaced);
            EXPECT_EQ(o.names.back(), "zip");
        }
    }
}

// Failures: false, exactly these log lines, no output, no temporary file
// (checked in TearDown).
TEST_F(Worker, Failures) {
    using V = BuildRequest;
    const std::string missingZip = dir.file("missing.zip");
    const std::string noFolder = dir.file("no-such-folder/out.exe");
    const std::string notFound = "error: " + systemText(platform::errorFileNotFound());
    struct Case {
        const char* name;
        V::Variant variant;
        std::string zip;  // "" : the good zip
        bool nullZip, nullOut, nullPassword, nullProgram, nullImage;
        std::string outPath;  // "" : a fresh output in the scratch folder
        std::vector<std::string> lines;
    };
    // A zip the 32-bit stub could not map (sparse: nothing is written).
    const std::string hugeZip = dir.file("huge.zip");
    platform::FileHandle h = platform::openFile(hugeZip.c_str(), platform::OpenMode::CreateAlways);
    ASSERT_TRUE(platform::truncateFile(h, kMaxPe32PayloadSize + 1));
    platform::closeFile(h);
    std::vector<Case> cases;
    for (auto v : {V::Plain, V::WithProgram, V::Encrypted, V::EncryptedWithProgram}) {
        cases.push_back({"zip too large", v, hugeZip, false, false, false, false, false, "",
                         {"error: Zip file is too large for a 32-bit self-extractor: " +
                              std::to_string(kMaxPe32PayloadSize + 1) + " bytes, at most " +
                              std::to_string(kMaxPe32PayloadSize - (isEncrypted(v) ? 32 : 0)),
                          "data: filename = " + hugeZip}});
        cases.push_back({"missing zip", v, missingZip, false, false, false, false, false, "", {notFound}});
        cases.push_back({"no output folder", v, "", false, false, false, false, false, noFolder,
                         {"error: Failed to create file", "data: filename = " + noFolder}});
        cases.push_back({"null zip", v, "", true, false, false, false, false, "", {"error: No Zip filename"}});
        cases.push_back({"null output", v, "", false, true, false, false, false, "", {"error: No EXE filename"}});
        cases.push_back({"null image", v, "", false, false, false, false, true, "", {"error: No stub image"}});
        if (isEncrypted(v))
            cases.push_back({"null password", v, "", false, false, true, false, false, "", {"error: No Zip password"}});
    }
    cases.push_back({"null program", V::WithProgram, "", false, false, false, true, false, "",
                     {"error: No program to run"}});
    // Writing over the zip would truncate it before it is copied.
    cases.push_back({"output is the zip", V::Plain, "", false, false, false, false, false, zipPath,
                     {"error: Output file is the Zip file", "data: filename = " + zipPath}});
    cases.push_back({"output is the zip", V::WithProgram, "", false, false, false, false, false, zipPath,
                     {"error: Output file is the Zip file", "data: filename = " + zipPath}});

    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(variantName(c.variant)) + ": " + c.name);
        std::string path = c.outPath.empty() ? out("fail" + std::to_string(n++) + ".exe") : c.outPath;
        BuildRequest r = request(c.variant, path);
        if (!c.zip.empty()) r.zipPath = c.zip.c_str();
        if (c.nullZip) r.zipPath = nullptr;
        if (c.nullOut) r.outPath = nullptr;
        if (c.nullPassword) r.password = nullptr;
        if (c.nullProgram) r.program = nullptr;
        RecordingLog log;
        std::unique_ptr<ExeImage> image = load(stub);
        EXPECT_FALSE(runVariant(worker, c.nullImage ? nullptr : image.get(), r, &log));
        EXPECT_EQ(log.lines, c.lines);
        if (path != zipPath) {
            EXPECT_FALSE(fileIsThere(path));
        }
        // No stub-side temporary file either: an encrypted payload written
        // before the write failed is gone too.
        EXPECT_EQ(namesIn(tempPath()), std::vector<std::string>{});
    }
    EXPECT_EQ(readWholeFile(zipPath), zip);
    EXPECT_FALSE(fileIsThere(missingZip));
}

// A stub without a resource tree: the zip cannot be added. Settings that
// cannot be added are logged but do not fail the build on their own.
TEST_F(Worker, StubWithoutResources) {
    Plan p = stubPlan();
    p.withResources = false;
    Bytes bare = build(p).bytes;
    struct {
        BuildRequest::Variant variant;
        bool title;
        std::vector<std::string> errors;
    } cases[] = {
        {BuildRequest::Plain, false, {"Resources pointer is NULL (1)"}},
        {BuildRequest::Plain, true, {"Resources pointer is NULL (3)", "Resources pointer is NULL (1)"}},
        {BuildRequest::WithProgram, false, {"Resources pointer is NULL (3)", "Resources pointer is NULL (1)"}},
        // The "encrypted" resource comes first and fails the build before
        // any temporary file exists.
        {BuildRequest::Encrypted, true, {"Resources pointer is NULL (3)"}},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(variantName(c.variant));
        worker.appTitle.assign(c.title ? "T" : "");
        std::string path = out("bare" + std::to_string(n++) + ".exe");
        RecordingLog log;
        std::unique_ptr<ExeImage> image = load(bare);
        ASSERT_TRUE(image);
        ASSERT_EQ(image->resources(), nullptr);
        EXPECT_FALSE(runVariant(worker, image.get(), request(c.variant, path), &log));
        EXPECT_EQ(log.errors(), c.errors);
        EXPECT_FALSE(fileIsThere(path));
    }
}

// The COM layer reads the failure back as the log's error text.
TEST_F(Worker, ErrorTextThroughTheLogger) {
    const std::string noFolder = dir.file("no-such-folder/out.exe");
    const std::string missingZip = dir.file("missing.zip");
    struct {
        const char* context;
        BuildRequest::Variant variant;
        bool missing;
        std::string text;
    } cases[] = {
        {"CreateExe", BuildRequest::Plain, false, "(CreateExe)\nFailed to create file\nfilename: " + noFolder},
        {"CreateExe3", BuildRequest::Encrypted, false, "(CreateExe3)\nFailed to create file\nfilename: " + noFolder},
        {"CreateExe2", BuildRequest::WithProgram, true,
         "(CreateExe2)\n" + systemText(platform::errorFileNotFound())},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.context);
        Logger log;
        log.enterContext(c.context, true);
        BuildRequest r = request(c.variant, noFolder);
        if (c.missing) r.zipPath = missingZip.c_str();
        EXPECT_FALSE(run(r, &log));
        log.leaveContext();
        EXPECT_TRUE(log.hadError());
        StringBuffer text;
        ASSERT_TRUE(log.getErrorText(text));
        EXPECT_EQ(std::string(text.str()), c.text);
    }
}

// Without a folder of its own the worker uses the system temporary folder
// for the payload, and removes it there too.
TEST_F(Worker, EncryptedPayloadInTheSystemTemporaryFolder) {
    worker.tempFolder.clear();
    std::string path = out("systemp.exe");
    RecordingLog log;
    ASSERT_TRUE(run(request(BuildRequest::Encrypted, path), &log));
    EXPECT_EQ(log.lines, std::vector<std::string>{});
    EXPECT_EQ(decrypt(readOutput(path).get("zip"), 256, "sesame"), zip);
}

}  // namespace
