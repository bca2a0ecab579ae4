// The stub's logic on real self-extractors: a synthetic stub with the
// parameter resources added, written to disk and opened again from its
// file, driven through a StubUi that records everything it was asked.
#include "sfxstub/stub_core.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "crypto/easy_crypt.h"
#include "exeimage/exe_image.h"
#include "exeimage/test_pe_builder.h"
#include "sfxstub/stub_core_test_util.h"
#include "support/byte_reader.h"
#include "support/data_buffer.h"
#include "support/file_sys.h"
#include "support/platform.h"
#include "support/testing/scratch_dir.h"
#include "zip/zip_archive.h"

using namespace testpe;
using stubtest::RecordingUi;

namespace {

const char kPassword[] = "Sesam\xC3\xA9 123";

// ---- Building self-extractors -----------------------------------------------

struct Resource {
    std::string name;
    std::string bytes;
};

std::string z(const char* text) { return std::string(text) + '\0'; }  // text + zero byte

// The sample stub without RT_RCDATA resources: the builder's resources
// make the type directory.
Plan stubPlan() {
    Plan p = samplePlan(false);
    p.root = Dir(0, {Dir("VARNOCK", {Dir(218, {Leaf(1033, Text("stub-bytes"))})}),
                     Dir(3, {Dir(1, {Leaf(1033, Bytes(40, 0x11))})}),
                     Dir(14, {Dir(101, {Leaf(1033, Bytes(20, 0x33))})})});
    return p;
}

// A self-extractor on disk: the stub with the resources added, written,
// and opened again from its file as the stub opens itself.
class StubFile {
public:
    explicit StubFile(const std::vector<Resource>& resources) {
        Bytes base = build(stubPlan()).bytes;
        std::unique_ptr<ExeImage> in(ExeImage::loadFromMemory(base.data(), uint32_t(base.size()), "stub.exe", nullptr));
        EXPECT_TRUE(in);
        if (!in) return;
        for (const Resource& r : resources)
            EXPECT_TRUE(in->addNamedData(r.name.c_str(), r.bytes.data(), uint32_t(r.bytes.size()), nullptr)) << r.name;
        std::string path = dir_.file("sfx.exe");
        dir_.track(path);
        EXPECT_TRUE(in->writeToFile(path.c_str(), nullptr, nullptr));
        image_.reset(ExeImage::loadFromFile(path.c_str(), nullptr));
        EXPECT_TRUE(image_);
        if (image_) readStubParameters(*image_, params);
    }

    StubParameters params;

private:
    ScratchDir dir_;
    std::unique_ptr<ExeImage> image_;  // closed before the folder is removed
};

// The same in memory only (many variants of one payload).
class MemoryStub {
public:
    explicit MemoryStub(const std::vector<Resource>& resources) : base_(build(stubPlan()).bytes) {
        image_.reset(ExeImage::loadFromMemory(base_.data(), uint32_t(base_.size()), "stub.exe", nullptr));
        EXPECT_TRUE(image_);
        if (!image_) return;
        for (const Resource& r : resources)
            EXPECT_TRUE(image_->addNamedData(r.name.c_str(), r.bytes.data(), uint32_t(r.bytes.size()), nullptr));
        readStubParameters(*image_, params);
    }
    StubParameters params;

private:
    Bytes base_;
    std::unique_ptr<ExeImage> image_;
};

struct ZipItem {
    ZipItem(std::string n, std::string c, ZipWriter::Encryption e = ZipWriter::None, std::string p = "")
        : name(std::move(n)), content(std::move(c)), encryption(e), password(std::move(p)) {}
    std::string name;
    std::string content;
    ZipWriter::Encryption encryption;
    std::string password;
};

// An archive made by our writer; level 0 stores, so contents can be found
// (and damaged) in the bytes.
std::string makeZip(const std::vector<ZipItem>& items, int level = 6) {
    ScratchDir dir;
    ZipWriter w;
    std::string error;
    std::string path = dir.file("a.zip");
    EXPECT_TRUE(w.create(path.c_str(), &error)) << error;
    for (size_t k = 0; k < items.size(); k++) {
        std::string src = "src" + std::to_string(k);
        dir.write(src, items[k].content);
        ZipWriter::Options options;
        options.level = level;
        options.encryption = items[k].encryption;
        options.password = items[k].password;
        EXPECT_TRUE(w.addFile(dir.file(src).c_str(), items[k].name, options, &error)) << error;
    }
    EXPECT_TRUE(w.close(&error)) << error;
    dir.track(path);
    return readWholeFile(path);
}

std::string le32(uint32_t v) {
    uint8_t b[4];
    storeLE32(b, v);
    return std::string(reinterpret_cast<char*>(b), 4);
}

std::string checkResource(const char* password, uint32_t keyBits) {
    uint8_t check[kPasswordCheckBlockSize];
    EXPECT_TRUE(EasyCrypt::makeCheckBlock(password, check));
    return le32(keyBits) + std::string(reinterpret_cast<char*>(check), sizeof check);
}

std::string encryptPayload(const std::string& zip, const char* password, int keyBits) {
    DataBuffer out;
    EXPECT_TRUE(EasyCrypt::encryptBytes(kAlgorithmAes, keyBits, password, zip.data(), uint32_t(zip.size()), out));
    return std::string(reinterpret_cast<const char*>(out.data()), out.length());
}

// "zip" and "encrypted" as an encrypted build writes them.
std::vector<Resource> encryptedResources(const std::string& zip, const char* password, int keyBits) {
    return {{"encrypted", checkResource(password, uint32_t(keyBits))},
            {"zip", encryptPayload(zip, password, keyBits)}};
}

const std::vector<ZipItem> kTwoFiles = {{"a.txt", "alpha contents\r\n"}, {"sub/b.txt", std::string(3000, 'b')}};

// A scratch folder whose contents are removed, whatever the unzip made.
class Workspace {
public:
    ~Workspace() {
        for (const ListedName& n : listNames(root())) removeTree(root() + "/" + n.name);
    }
    std::string root() const { return dir_.path().substr(0, dir_.path().size() - 1); }
    std::string folder(const std::string& name) const { return dir_.path() + name; }
    void write(const std::string& name, const std::string& bytes) { dir_.write(name, bytes); }

private:
    ScratchDir dir_;
};

void expectTwoFiles(const std::string& folder) {
    EXPECT_EQ(listTree(folder), (std::vector<std::string>{"a.txt", "sub/", "sub/b.txt"}));
    EXPECT_EQ(readWholeFile(folder + "/a.txt"), kTwoFiles[0].content);
    EXPECT_EQ(readWholeFile(folder + "/sub/b.txt"), kTwoFiles[1].content);
}

// Reports start at 0, never go back, and stay within 0..100.
void expectProgress(const std::vector<uint32_t>& reports, bool reachesEnd) {
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front(), 0u);
    for (size_t i = 1; i < reports.size(); i++) EXPECT_LE(reports[i - 1], reports[i]);
    EXPECT_LE(reports.back(), 100u);
    if (reachesEnd) {
        EXPECT_EQ(reports.back(), 100u);
    }
}

using Messages = std::vector<std::pair<std::string, std::string>>;
using Texts = std::vector<std::string>;

// ---- Mode ---------------------------------------------------------------------------

TEST(StubModeTest, ChoiceTable) {
    struct {
        bool noInterface;
        const char* unzipDir;
        bool autotemp, autorun;
        StubMode mode;
    } const cases[] = {
        {false, "", false, false, StubMode::Interactive},
        {false, "", false, true, StubMode::Interactive},
        {false, "C:\\x", false, false, StubMode::Automatic},
        {false, "", true, false, StubMode::Automatic},
        {false, "C:\\x", false, true, StubMode::Automatic},
        {false, "C:\\x", true, true, StubMode::Automatic},
        {true, "", false, false, StubMode::Silent},
        {true, "C:\\x", true, false, StubMode::Silent},
        {true, "", false, true, StubMode::Silent},
    };
    for (const auto& c : cases) {
        StubParameters p;
        p.noInterface = c.noInterface;
        p.unzipDir.assign(c.unzipDir);
        p.hasAutotemp = c.autotemp;
        p.hasAutorun = c.autorun;
        EXPECT_EQ(chooseStubMode(p), c.mode) << c.noInterface << " " << c.unzipDir << " " << c.autotemp;
    }
    // The modes from real resources: an empty "autotemp" text still
    // chooses the automatic mode, an empty "unzipDir" text does not.
    EXPECT_EQ(chooseStubMode(StubFile({{"zip", "x"}, {"autotemp", z("")}}).params), StubMode::Automatic);
    EXPECT_EQ(chooseStubMode(StubFile({{"zip", "x"}, {"unzipDir", z("")}}).params), StubMode::Interactive);
    EXPECT_EQ(chooseStubMode(StubFile({{"zip", "x"}, {"noInterface", ""}}).params), StubMode::Interactive);
}

// ---- Texts ------------------------------------------------------------------------------

TEST(StubTextTest, MessagesAndFailureReport) {
    EXPECT_EQ(StubText::unzipSucceeded("C:\\x"), "Unzip to C:\\x successful.");
    EXPECT_EQ(StubText::failedToRun("C:\\x\\a.exe"),
              "Failed to run C:\\x\\a.exe (check to see if this file is in the Zip)");

    EXPECT_EQ(StubText::unzipFailed("C:\\x", {{"a.txt", "CRC mismatch"}}),
              "Unzip to C:\\x failed for 1 file:\r\n  a.txt: CRC mismatch");
    EXPECT_EQ(StubText::unzipFailed("C:\\x", {{"a.txt", "CRC mismatch"}, {"d/b", "wrong password"}}),
              "Unzip to C:\\x failed for 2 files:\r\n  a.txt: CRC mismatch\r\n  d/b: wrong password");
    EXPECT_EQ(StubText::unzipFailed("C:\\x", {{"", "cannot create the folder C:\\x: Access is denied"}}),
              "Unzip to C:\\x failed:\r\n  cannot create the folder C:\\x: Access is denied");
    std::vector<std::pair<std::string, std::string>> many;
    for (int i = 0; i < 25; i++) many.emplace_back("f" + std::to_string(i), "bad");
    std::string report = StubText::unzipFailed("C:\\x", many);
    EXPECT_EQ(report.rfind("Unzip to C:\\x failed for 25 files:\r\n  f0: bad\r\n", 0), 0u) << report;
    EXPECT_NE(report.find("\r\n  f19: bad\r\n  and 5 more."), std::string::npos) << report;
    EXPECT_EQ(report.find("f20"), std::string::npos);
    many.resize(StubText::kMaxListedFailures);
    report = StubText::unzipFailed("C:\\x", many);
    EXPECT_EQ(report.find("more"), std::string::npos);
    EXPECT_EQ(report.substr(report.size() - 12), "\r\n  f19: bad");
}

TEST(StubTextTest, InteractiveProgramPathRule) {
    struct {
        const char *folder, *program, *path;
    } const cases[] = {
        {"C:\\out", "setup.exe", "C:\\out\\setup.exe"},
        {"C:\\out\\", "setup.exe", "C:\\out\\setup.exe"},
        {"C:\\out/", "setup.exe", "C:\\out/setup.exe"},
        {"C:\\", "bin\\a.exe", "C:\\bin\\a.exe"},
        {"C:\\out", "", "C:\\out\\"},  // an empty program opens the folder
        {"", "setup.exe", "setup.exe"},  // the current folder
    };
    for (const auto& c : cases) EXPECT_EQ(interactiveProgramPath(c.folder, c.program), c.path) << c.folder;
}

// ---- Plain archives ---------------------------------------------------------------------

TEST(StubSessionTest, InteractiveUnzipShowsStatusesAndSuccess) {
    Workspace ws;
    StubFile stub({{"zip", makeZip(kTwoFiles)}});
    RecordingUi ui;
    StubSession session(stub.params, ui);
    std::string target = ws.folder("out");
    EXPECT_EQ(session.runInteractive(target.c_str()), UnzipOutcome::Unzipped);
    expectTwoFiles(target);
    EXPECT_EQ(ui.statuses, (Texts{"Unzipping...", "Finished."}));
    EXPECT_EQ(ui.messages, (Messages{{"Unzip to " + target + " successful.", "Status"}}));
    EXPECT_EQ(ui.passwordAsks, 0);
    EXPECT_TRUE(ui.runs.empty());
    EXPECT_TRUE(ui.decryptReports.empty());
    expectProgress(ui.unzipReports, true);
    EXPECT_TRUE(session.failures().empty());
    // The dialog stays open: a second unzip into the same folder works too.
    EXPECT_EQ(session.runInteractive(target.c_str()), UnzipOutcome::Unzipped);
    expectTwoFiles(target);
}

TEST(StubSessionTest, EmptyArchiveIsASuccess) {
    Workspace ws;
    StubFile stub({{"zip", makeZip({})}});
    RecordingUi ui;
    StubSession session(stub.params, ui);
    std::string target = ws.folder("empty");
    EXPECT_EQ(session.runInteractive(target.c_str()), UnzipOutcome::Unzipped);
    EXPECT_EQ(ui.messages, (Messages{{"Unzip to " + target + " successful.", "Status"}}));
    EXPECT_TRUE(listTree(target).empty());
}

TEST(StubSessionTest, ArchiveThatDoesNotOpen) {
    std::string zip = makeZip(kTwoFiles);
    struct {
        const char* what;
        std::vector<Resource> resources;
    } const cases[] = {
        {"no zip resource", {}},
        {"empty zip resource", {{"zip", ""}}},
        {"not a zip", {{"zip", "this is not an archive at all, only text"}}},
        {"archive cut short", {{"zip", zip.substr(0, zip.size() - 30)}}},
    };
    for (const auto& c : cases) {
        Workspace ws;
        StubFile stub(c.resources);
        RecordingUi ui;
        StubSession session(stub.params, ui);
        std::string target = ws.folder("out");
        EXPECT_EQ(session.runInteractive(target.c_str()), UnzipOutcome::OpenFailed) << c.what;
        EXPECT_EQ(ui.messages, (Messages{{"Failed to open embedded zip.", "Error"}})) << c.what;
        EXPECT_TRUE(ui.statuses.empty()) << c.what;
        EXPECT_TRUE(ui.runs.empty()) << c.what;
        EXPECT_FALSE(session.openError().empty()) << c.what;
        EXPECT_FALSE(fileIsThere(target)) << c.what;
        EXPECT_TRUE(listNames(ws.root()).empty()) << c.what;
    }
}

// A damaged entry: the others are unzipped, the failure is reported by
// name, the status says so, and no program starts.
TEST(StubSessionTest, FailedEntryIsReportedAndStartsNothing) {
    std::string zip = makeZip({{"good.txt", "good contents"}, {"bad.txt", "contents to be damaged"}}, 0);
    size_t at = zip.find("contents to be damaged");
    ASSERT_NE(at, std::string::npos);
    zip[at + 3] ^= 0x20;
    for (bool interactive : {true, false}) {
        SCOPED_TRACE(interactive);
        Workspace ws;
        std::string target = ws.folder("out");
        StubFile stub({{"zip", zip},
                       {"autorun", z("good.txt")},
                       {"autotemp", z("good.txt")},
                       {"unzipDir", z(target.c_str())}});
        RecordingUi ui;
        StubSession session(stub.params, ui);
        UnzipOutcome outcome = interactive ? session.runInteractive(target.c_str()) : session.runAutomatic();
        EXPECT_EQ(outcome, UnzipOutcome::UnzipFailed);
        EXPECT_EQ(listTree(target), (std::vector<std::string>{"good.txt"}));
        ASSERT_EQ(session.failures().size(), 1u);
        EXPECT_EQ(session.failures()[0].first, "bad.txt");
        EXPECT_EQ(session.failures()[0].second.rfind("CRC mismatch", 0), 0u) << session.failures()[0].second;
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].first, "Unzip to " + target + " failed for 1 file:\r\n  bad.txt: " +
                                            session.failures()[0].second);
        EXPECT_EQ(ui.messages[0].second, "Error");
        EXPECT_TRUE(ui.runs.empty());
        // The progress dialog has no status label.
        if (interactive) {
            EXPECT_EQ(ui.statuses, (Texts{"Unzipping...", "Unzip failed."}));
        }
    }
}

// Entry names in the failure report are in the system code page; a
// character it cannot show becomes one "?".
TEST(StubSessionTest, FailedEntryNamesInTheSystemCodePage) {
    const std::string names[] = {"caf\xC3\xA9.txt", "\xE6\xBC\xA2\xE5\xAD\x97.txt"};
    std::vector<ZipItem> items;
    for (const std::string& n : names) items.emplace_back(n, "damaged contents of " + n);
    std::string zip = makeZip(items, 0);
    for (const std::string& n : names) zip[zip.find("damaged contents of " + n)] ^= 0x01;
    Workspace ws;
    StubFile stub({{"zip", zip}});
    RecordingUi ui;
    StubSession session(stub.params, ui);
    EXPECT_EQ(session.runInteractive(ws.folder("out").c_str()), UnzipOutcome::UnzipFailed);
    ASSERT_EQ(session.failures().size(), 2u);
    const std::string fallback[] = {"caf?.txt", "??.txt"};
    for (int i = 0; i < 2; i++) {
        char ansi[64] = {};
        int n = platform::utf8ToAnsi(names[i].data(), int(names[i].size()), ansi, sizeof ansi);
        EXPECT_EQ(session.failures()[size_t(i)].first, n > 0 ? std::string(ansi, size_t(n)) : fallback[i]);
    }
}

TEST(StubSessionTest, TargetFolderThatCannotBeMade) {
    Workspace ws;
    ws.write("blocker", "a file where a folder should be");
    std::string target = ws.folder("blocker") + "/out";
    StubFile stub({{"zip", makeZip(kTwoFiles)}, {"autorun", z("a.txt")}});
    RecordingUi ui;
    StubSession session(stub.params, ui);
    EXPECT_EQ(session.runInteractive(target.c_str()), UnzipOutcome::UnzipFailed);
    ASSERT_EQ(session.failures().size(), 1u);
    EXPECT_EQ(session.failures()[0].first, "");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].first.rfind("Unzip to " + target + " failed:\r\n  cannot create the folder " + target, 0),
              0u)
        << ui.messages[0].first;
    EXPECT_EQ(ui.messages[0].second, "Error");
    EXPECT_TRUE(ui.runs.empty());
    EXPECT_EQ(ui.statuses.back(), "Unzip failed.");
    EXPECT_EQ(readWholeFile(ws.folder("blocker")), "a file where a folder should be");
}

// The program after an interactive unzip: the path rule, its parameters,
// its working folder, and the message when it cannot be started.
TEST(StubSessionTest, InteractiveProgram) {
    std::string zip = makeZip(kTwoFiles);
    struct {
        const char* what;
        std::string autorun;
        std::vector<Resource> more;
        const char* suffix;  // typed after the folder
        bool runSucceeds;
        const char* path;    // after the folder as typed
        bool hasParams;
        const char* params;
    } const cases[] = {
        {"program", z("a.txt"), {}, "", true, "\\a.txt", false, ""},
        {"program with parameters", z("sub\\b.txt"), {{"autoParams", z("-q x")}}, "", true, "\\sub\\b.txt", true,
         "-q x"},
        {"empty parameters are none", z("a.txt"), {{"autoParams", z("")}}, "", true, "\\a.txt", false, ""},
        {"folder typed with a trailing slash", z("a.txt"), {}, "/", true, "a.txt", false, ""},
        {"empty text opens the folder", z(""), {}, "", true, "\\", false, ""},
        {"start fails", z("missing.exe"), {}, "", false, "\\missing.exe", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Workspace ws;
        std::vector<Resource> resources = {{"zip", zip}, {"autorun", c.autorun}};
        resources.insert(resources.end(), c.more.begin(), c.more.end());
        StubFile stub(resources);
        RecordingUi ui;
        ui.runSucceeds = c.runSucceeds;
        StubSession session(stub.params, ui);
        std::string folder = ws.folder("out") + c.suffix;
        EXPECT_EQ(session.runInteractive(folder.c_str()), UnzipOutcome::Unzipped);
        expectTwoFiles(ws.folder("out"));
        ASSERT_EQ(ui.runs.size(), 1u);
        std::string path = folder + c.path;
        EXPECT_EQ(ui.runs[0].path, path);
        EXPECT_EQ(ui.runs[0].hasParams, c.hasParams);
        EXPECT_EQ(ui.runs[0].params, c.params);
        EXPECT_EQ(ui.runs[0].workDir, folder);
        if (c.runSucceeds) {
            EXPECT_TRUE(ui.messages.empty());
        } else {
            EXPECT_EQ(ui.messages,
                      (Messages{{"Failed to run " + path + " (check to see if this file is in the Zip)", "Error"}}));
        }
        EXPECT_EQ(ui.statuses, (Texts{"Unzipping...", "Finished."}));
    }
}

// The automatic unzip into a preset folder: "autotemp" runs (always
// joined with "\"), "autorun" does not, nothing is said on success.
TEST(StubSessionTest, AutomaticIntoThePresetFolder) {
    std::string zip = makeZip(kTwoFiles);
    struct {
        const char* what;
        std::vector<Resource> more;
        bool runSucceeds;
        const char* program;  // null: none started
        const char* params;
    } const cases[] = {
        {"nothing to run", {}, true, nullptr, nullptr},
        {"autotemp", {{"autotemp", z("a.txt")}, {"autoParams", z("/go")}}, true, "a.txt", "/go"},
        {"autotemp empty text", {{"autotemp", z("")}}, true, nullptr, nullptr},
        {"autorun is not run here", {{"autorun", z("a.txt")}}, true, nullptr, nullptr},
        {"autotemp fails to start", {{"autotemp", z("a.txt")}}, false, "a.txt", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Workspace ws;
        std::string target = ws.folder("preset");
        std::vector<Resource> resources = {{"zip", zip}, {"unzipDir", z(target.c_str())}};
        resources.insert(resources.end(), c.more.begin(), c.more.end());
        StubFile stub(resources);
        EXPECT_EQ(chooseStubMode(stub.params), StubMode::Automatic);
        RecordingUi ui;
        ui.runSucceeds = c.runSucceeds;
        StubSession session(stub.params, ui);
        EXPECT_EQ(session.automaticTarget(), target);
        EXPECT_EQ(session.runAutomatic(), UnzipOutcome::Unzipped);
        expectTwoFiles(target);
        expectProgress(ui.unzipReports, true);
        if (!c.program) {
            EXPECT_TRUE(ui.runs.empty());
            EXPECT_TRUE(ui.messages.empty());
            continue;
        }
        ASSERT_EQ(ui.runs.size(), 1u);
        std::string path = target + "\\" + c.program;
        EXPECT_EQ(ui.runs[0].path, path);
        EXPECT_EQ(ui.runs[0].hasParams, c.params != nullptr);
        EXPECT_EQ(ui.runs[0].params, c.params ? c.params : "");
        EXPECT_EQ(ui.runs[0].workDir, target);
        if (c.runSucceeds) {
            EXPECT_TRUE(ui.messages.empty());
        } else {
            EXPECT_EQ(ui.messages,
                      (Messages{{"Failed to run " + path + " (check to see if this file is in the Zip)", "Error"}}));
        }
    }
}

bool isLowerHex(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

TEST(StubSessionTest, TemporaryTargetNames) {
    Workspace ws;
    std::string dir = ws.folder("");
    EXPECT_EQ(temporaryUnzipTarget(dir.c_str(), 0xABC), dir + "vkz.tmpabc");
    EXPECT_EQ(temporaryUnzipTarget(dir.c_str(), 0), dir + "vkz.tmp0");
    EXPECT_EQ(temporaryUnzipTarget(dir.c_str(), 0xFFFFFFFFu), dir + "vkz.tmpffffffff");
    ws.write("vkz.tmp", "taken");
    EXPECT_EQ(temporaryUnzipTarget(dir.c_str(), 0x1f), dir + "vkz_2.tmp1f");
    ws.write("vkz_2.tmp", "taken");
    EXPECT_EQ(temporaryUnzipTarget(dir.c_str(), 0x1f), dir + "vkz_3.tmp1f");

    // The session's own: the system temporary folder, vkz.tmp (or a later
    // free name), then the tick count.
    StubParameters none;
    RecordingUi ui;
    StubSession session(none, ui);
    StringBuffer temp;
    ASSERT_TRUE(FileSys::tempDirectory(temp));
    std::string target = session.automaticTarget();
    ASSERT_EQ(target.rfind(temp.str(), 0), 0u) << target;
    std::string rest = target.substr(temp.length());
    ASSERT_EQ(rest.rfind("vkz", 0), 0u) << rest;
    size_t tmp = rest.find(".tmp");
    ASSERT_NE(tmp, std::string::npos) << rest;
    std::string between = rest.substr(3, tmp - 3);
    EXPECT_TRUE(between.empty() || (between[0] == '_' && between.size() > 1)) << rest;
    EXPECT_TRUE(isLowerHex(rest.substr(tmp + 4))) << rest;
}

// "autotemp" with an empty text and no "unzipDir": the automatic mode into
// a new temporary folder, and no program.
TEST(StubSessionTest, AutomaticIntoATemporaryFolder) {
    StubFile stub({{"zip", makeZip(kTwoFiles)}, {"autotemp", z("")}, {"autoParams", z("-x")}});
    ASSERT_EQ(chooseStubMode(stub.params), StubMode::Automatic);
    RecordingUi ui;
    StubSession session(stub.params, ui);
    StringBuffer temp;
    ASSERT_TRUE(FileSys::tempDirectory(temp));
    std::set<std::string> before;
    for (const auto& n : listNames(temp.str())) before.insert(n.name);
    EXPECT_EQ(session.runAutomatic(), UnzipOutcome::Unzipped);
    // New "vkz" folders holding exactly these files (other programs may
    // unpack into the same temporary folder meanwhile).
    std::vector<std::string> made;
    for (const auto& n : listNames(temp.str()))
        if (!before.count(n.name) && n.isDirectory && n.name.rfind("vkz", 0) == 0 &&
            listTree(std::string(temp.str()) + n.name) ==
                std::vector<std::string>{"a.txt", "sub/", "sub/b.txt"})
            made.push_back(n.name);
    ASSERT_EQ(made.size(), 1u);
    std::string target = std::string(temp.str()) + made[0];
    expectTwoFiles(target);
    removeTree(target);
    EXPECT_TRUE(ui.runs.empty());
    EXPECT_TRUE(ui.messages.empty());
}

// An AES entry inside a plain archive needs a password that the stub
// does not have: the entry fails and says why.
TEST(StubSessionTest, EncryptedEntryWithoutPayloadPassword) {
    Workspace ws;
    StubFile stub({{"zip", makeZip({{"s.txt", "secret", ZipWriter::Aes256, "pw"}, {"p.txt", "plain"}})}});
    RecordingUi ui;
    StubSession session(stub.params, ui);
    std::string target = ws.folder("out");
    EXPECT_EQ(session.runInteractive(target.c_str()), UnzipOutcome::UnzipFailed);
    ASSERT_EQ(session.failures().size(), 1u);
    EXPECT_EQ(session.failures()[0].first, "s.txt");
    EXPECT_EQ(session.failures()[0].second, "a password is required");
    EXPECT_EQ(listTree(target), (std::vector<std::string>{"p.txt"}));
}

// ---- Encrypted payloads ----------------------------------------------------------------

TEST(StubSessionTest, WrongThenRightPassword) {
    Workspace ws;
    StubFile stub(encryptedResources(makeZip(kTwoFiles), kPassword, 256));
    RecordingUi ui;
    ui.passwords = {std::string("wrong"), std::string(kPassword)};
    StubSession session(stub.params, ui);
    std::string target = ws.folder("out");

    EXPECT_EQ(session.runInteractive(target.c_str()), UnzipOutcome::WrongPassword);
    EXPECT_EQ(ui.messages, (Messages{{"Incorrect password.", "Error"}}));
    EXPECT_EQ(ui.statuses, (Texts{"Decrypting...", ""}));
    EXPECT_FALSE(fileIsThere(target));
    EXPECT_TRUE(listNames(ws.root()).empty());
    EXPECT_TRUE(ui.unzipReports.empty());

    ui.messages.clear();
    ui.statuses.clear();
    EXPECT_EQ(session.runInteractive(target.c_str()), UnzipOutcome::Unzipped);
    expectTwoFiles(target);
    EXPECT_EQ(ui.passwordAsks, 2);
    EXPECT_EQ(ui.statuses, (Texts{"Decrypting...", "Unzipping...", "Finished."}));
    EXPECT_EQ(ui.messages, (Messages{{"Unzip to " + target + " successful.", "Status"}}));
    expectProgress(ui.decryptReports, false);
    EXPECT_GT(ui.decryptReports.back(), 50u);
    expectProgress(ui.unzipReports, true);
}

TEST(StubSessionTest, CancelledPasswordSaysAndUnzipsNothing) {
    for (bool interactive : {true, false}) {
        Workspace ws;
        std::string target = ws.folder("out");
        std::vector<Resource> resources = encryptedResources(makeZip(kTwoFiles), kPassword, 128);
        resources.push_back({"unzipDir", z(target.c_str())});
        resources.push_back({"autotemp", z("a.txt")});
        StubFile stub(resources);
        RecordingUi ui;
        ui.passwords = {std::nullopt};
        StubSession session(stub.params, ui);
        UnzipOutcome outcome = interactive ? session.runInteractive(target.c_str()) : session.runAutomatic();
        EXPECT_EQ(outcome, UnzipOutcome::Cancelled);
        EXPECT_EQ(ui.passwordAsks, 1);
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_TRUE(ui.statuses.empty());
        EXPECT_TRUE(ui.runs.empty());
        EXPECT_TRUE(ui.unzipReports.empty());
        EXPECT_FALSE(fileIsThere(target));
        EXPECT_TRUE(listNames(ws.root()).empty());
    }
}

// Every payload key length, an empty password, and entries encrypted
// inside the archive with the typed password.
TEST(StubSessionTest, EveryKeyLengthAndEntryPasswords) {
    std::string zip = makeZip({{"a.txt", kTwoFiles[0].content},
                               {"sub/b.txt", kTwoFiles[1].content, ZipWriter::Aes256, kPassword}});
    struct {
        int keyBits;
        const char* password;
    } const cases[] = {{128, kPassword}, {192, kPassword}, {256, kPassword}, {256, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keyBits);
        Workspace ws;
        std::string target = ws.folder("out");
        StubFile stub(encryptedResources(zip, c.password, c.keyBits));
        RecordingUi ui;
        ui.passwords = {std::string(c.password)};
        StubSession session(stub.params, ui);
        if (*c.password) {
            EXPECT_EQ(session.runInteractive(target.c_str()), UnzipOutcome::Unzipped);
            expectTwoFiles(target);
        } else {
            // The payload opens with the empty password; the entry wants another.
            EXPECT_EQ(session.runInteractive(target.c_str()), UnzipOutcome::UnzipFailed);
            ASSERT_EQ(session.failures().size(), 1u);
            EXPECT_EQ(session.failures()[0].first, "sub/b.txt");
            EXPECT_EQ(session.failures()[0].second, "wrong password");
        }
    }
}

// Damaged encrypted self-extractors: a clean failure with its message,
// never a crash, never a file written.
TEST(StubSessionTest, DamagedEncryptedPayloads) {
    const std::string zip = makeZip(kTwoFiles);
    const std::string payload = encryptPayload(zip, kPassword, 192);
    const std::string check = checkResource(kPassword, 192);
    ASSERT_GT(payload.size(), 64u);
    struct Case {
        std::string what;
        std::string encrypted, payload;
        bool asksPassword;
    };
    std::vector<Case> cases;
    for (size_t length : {size_t(0), size_t(1), size_t(15), size_t(16), size_t(17), size_t(31), size_t(32),
                          size_t(48), size_t(64), payload.size() / 2, payload.size() - 32, payload.size() - 17,
                          payload.size() - 16, payload.size() - 1})
        cases.push_back({"payload cut to " + std::to_string(length), check, payload.substr(0, length), true});
    for (size_t at = payload.size() - 32; at < payload.size(); at++) {
        std::string damaged = payload;
        damaged[at] ^= 0x01;
        cases.push_back({"byte flipped at " + std::to_string(at), check, damaged, true});
    }
    cases.push_back({"one byte too many", check, payload + "x", true});
    cases.push_back({"a block too many", check, payload + std::string(16, 'x'), true});
    cases.push_back({"stored key length differs", checkResource(kPassword, 256), payload, true});
    cases.push_back({"key length 100", le32(100) + check.substr(4), payload, false});
    cases.push_back({"key length 0", le32(0) + check.substr(4), payload, false});
    cases.push_back({"check resource 35 bytes", check.substr(0, 35), payload, false});
    cases.push_back({"check resource 37 bytes", check + "x", payload, false});
    cases.push_back({"check resource 4 bytes", check.substr(0, 4), payload, false});
    cases.push_back({"check resource empty", "", payload, false});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Workspace ws;
        MemoryStub stub({{"encrypted", c.encrypted}, {"zip", c.payload}});
        ASSERT_TRUE(stub.params.encrypted);
        RecordingUi ui;
        ui.passwords = {std::string(kPassword)};
        StubSession session(stub.params, ui);
        std::string target = ws.folder("out");
        EXPECT_EQ(session.runInteractive(target.c_str()), UnzipOutcome::OpenFailed);
        EXPECT_EQ(ui.passwordAsks, c.asksPassword ? 1 : 0);
        EXPECT_EQ(ui.messages, (Messages{{"Failed to open embedded zip.", "Error"}}));
        EXPECT_FALSE(session.openError().empty());
        EXPECT_TRUE(ui.runs.empty());
        EXPECT_FALSE(fileIsThere(target));
        if (!ui.statuses.empty()) {
            EXPECT_EQ(ui.statuses.back(), "");
        }
    }
    // A damaged check block is a wrong password for every password.
    std::string badCheck = check;
    badCheck[20] ^= 0x40;
    MemoryStub stub({{"encrypted", badCheck}, {"zip", payload}});
    RecordingUi ui;
    ui.passwords = {std::string(kPassword)};
    StubSession session(stub.params, ui);
    Workspace ws;
    EXPECT_EQ(session.runInteractive(ws.folder("out").c_str()), UnzipOutcome::WrongPassword);
    EXPECT_EQ(ui.messages, (Messages{{"Incorrect password.", "Error"}}));
}

// The plain archive never touches the disk: nothing new in the temporary
// folder holds it, during the unzip or after, and no "vkd" file appears.
TEST(StubSessionTest, NoDecryptedCopyInTheTemporaryFolder) {
    Workspace ws;
    const std::string zip = makeZip(kTwoFiles);
    StubFile stub(encryptedResources(zip, kPassword, 256));
    StringBuffer tempText;
    ASSERT_TRUE(FileSys::tempDirectory(tempText));
    const std::string temp = tempText.str();
    std::set<std::string> before;
    for (const auto& n : listNames(temp)) before.insert(n.name);

    std::vector<std::string> found;
    int looks = 0;
    auto look = [&]() {
        looks++;
        for (const auto& n : listNames(temp)) {
            if (before.count(n.name) || n.isDirectory) continue;
            if (n.name.rfind("vkd", 0) == 0) found.push_back(n.name);
            platform::FileInfo info;
            if (platform::fileInfo((temp + n.name).c_str(), &info) && info.size == zip.size() &&
                readWholeFile(temp + n.name) == zip)
                found.push_back(n.name);
        }
    };
    RecordingUi ui;
    ui.passwords = {std::string(kPassword)};
    ui.duringUnzip = look;
    StubSession session(stub.params, ui);
    std::string target = ws.folder("out");
    EXPECT_EQ(session.runInteractive(target.c_str()), UnzipOutcome::Unzipped);
    look();
    expectTwoFiles(target);
    EXPECT_GE(looks, 3);
    EXPECT_TRUE(found.empty()) << found[0];
}

}  // namespace
