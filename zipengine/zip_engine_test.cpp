#include "zipengine/zip_engine.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "exeimage/exe_image.h"
#include "sfxformat/sfx_format.h"  // readStubParameters
#include "sfxstub/stub_core.h"
#include "sfxstub/stub_core_test_util.h"
#include "support/platform.h"
#include "support/testing/scratch_dir.h"
#include "support/testing/tree_listing.h"

namespace {

const char kSep = platform::pathSeparator();

class ZipEngineTest : public ::testing::Test {
protected:
    void TearDown() override { removeTree(root()); }
    std::string root() const { return dir_.path().substr(0, dir_.path().size() - 1); }
    std::string at(const std::string& rel) const {
        std::string p = dir_.path() + rel;
        for (char& c : p)
            if (c == '/') c = kSep;
        return p;
    }
    void put(const std::string& rel, const std::string& bytes) {
        const std::string p = at(rel);
        platform::createDirectoryChain(p.substr(0, p.rfind(kSep)).c_str());
        platform::FileHandle h = platform::openFile(p.c_str(), platform::OpenMode::CreateAlways);
        uint32_t w = 0;
        ASSERT_TRUE(h != platform::kInvalidFile && platform::writeFile(h, bytes.data(), uint32_t(bytes.size()), &w));
        platform::closeFile(h);
    }
    // The source tree most tests pack.
    void makeTree() {
        put("in/a.txt", "alpha");
        put("in/b.bin", std::string(300000, 'b') + "tail");
        put("in/sub/c.txt", "gamma");
        put("in/sub/d.dat", "delta");
    }
    std::string zipOf(const std::string& source, bool recurse, const std::string& password = "") {
        ZipEngine e;
        e.newArchive("");
        e.addFolderContents(source, recurse);
        e.setPasswordProtection(!password.empty());
        e.setPassword(password);
        e.setOutputName(at("out.zip"));
        e.writeArchive();
        return at("out.zip");
    }
    static std::set<std::string> names(ZipEngine& e) {
        std::set<std::string> out;
        for (EntryCollection c = e.getEntries(); c.hasMore();) out.insert(c.next().fileName);
        return out;
    }

    ScratchDir dir_;
};

TEST_F(ZipEngineTest, AddFolderContentsTakesWhatThePathOrPatternNames) {
    makeTree();
    struct {
        std::string source;
        bool recurse;
        std::set<std::string> entries;
    } const cases[] = {
        {"in", false, {"a.txt", "b.bin"}},
        {"in", true, {"a.txt", "b.bin", "sub/", "sub/c.txt", "sub/d.dat"}},
        {"in/*", true, {"a.txt", "b.bin", "sub/", "sub/c.txt", "sub/d.dat"}},
        {"in/*.txt", false, {"a.txt"}},
        {"in/*.txt", true, {"a.txt", "sub/c.txt"}},
        {"in/sub/d.dat", false, {"d.dat"}},
    };
    for (const auto& c : cases) {
        ZipEngine e;
        e.openZip(zipOf(at(c.source), c.recurse));
        EXPECT_EQ(names(e), c.entries) << c.source << (c.recurse ? " recursive" : "");
    }
}

TEST_F(ZipEngineTest, PasswordDecidesWhetherTheArchiveOpens) {
    makeTree();
    struct {
        std::string writtenWith, openedWith;
        bool opens;
    } const cases[] = {
        {"", "", true},        {"", "unused", true},        {"s3cret", "s3cret", true},
        {"s3cret", "", false}, {"s3cret", "S3cret", false}, {" ", " ", true},  // blanks are a password
    };
    for (const auto& c : cases) {
        const std::string zip = zipOf(at("in"), true, c.writtenWith);
        ZipEngine e;
        e.setPassword(c.openedWith);
        const std::string label = "'" + c.writtenWith + "' opened with '" + c.openedWith + "'";
        if (!c.opens) {
            EXPECT_THROW(e.openZip(zip), ZipEngineError) << label;
            EXPECT_EQ(e.getEntries().count(), 0u) << label;  // empty, not an error
            continue;
        }
        e.openZip(zip);
        EXPECT_EQ(e.getEntries().count(), 5u) << label;
        const std::string out = at("x" + std::to_string(&c - cases));
        e.unzipToFolder(out);
        EXPECT_EQ(readWholeFile(out + kSep + "b.bin"), std::string(300000, 'b') + "tail") << label;
        EXPECT_EQ(readWholeFile(out + kSep + "sub" + kSep + "d.dat"), "delta") << label;
    }
}

TEST_F(ZipEngineTest, UnzipPercentRisesToOneHundred) {
    std::string big;
    for (uint32_t x = 1; big.size() < 3000000; x = x * 1103515245u + 12345u) big += char(x >> 23);
    put("in/big.bin", big);
    put("in/small.txt", "s");
    ZipEngine e;
    std::vector<int> seen;
    e.setUnzipPercentDone([&](int p) { seen.push_back(p); });
    e.openZip(zipOf(at("in"), false));
    e.unzipToFolder(at("out"));
    ASSERT_GE(seen.size(), 3u);  // inside the one large entry too
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), 100);
    for (size_t i = 1; i < seen.size(); i++) EXPECT_LE(seen[i - 1], seen[i]) << "at report " << i;
    EXPECT_EQ(readWholeFile(at("out/big.bin")), big);
}

void tryOpen(ZipEngine& e, const std::string& path) {
    try {
        e.openZip(path);
    } catch (const ZipEngineError&) {
    }
}

// A self-extractor of the folder "in" below d.
void sfx(ZipEngine& e, const std::string& d) {
    e.newArchive("");
    e.addFolderContents(d + "in", false);
    e.writeSelfExtractor(d + "x.exe");
}

TEST_F(ZipEngineTest, OperationsOutOfOrderOrFailingThrow) {
    makeTree();
    put("blocker", "a file where a folder should go");
    const std::string zip = zipOf(at("in"), false);
    using K = ZipEngineError::Kind;
    struct {
        const char* what;
        void (*run)(ZipEngine&, const std::string& zip, const std::string& dir);
        K kind;
    } const cases[] = {
        // clang-format off
        {"entries before open", [](ZipEngine& e, auto&, auto&) { e.getEntries(); }, K::OutOfOrder},
        {"unzip before open", [](ZipEngine& e, auto&, auto& d) { e.unzipToFolder(d + "o"); }, K::OutOfOrder},
        {"unzip after failed open", [](ZipEngine& e, auto&, auto& d) { tryOpen(e, d + "no.zip"), e.unzipToFolder(d + "o"); }, K::OutOfOrder},
        {"next past the end", [](ZipEngine& e, auto& z, auto&) { e.openZip(z); for (EntryCollection c = e.getEntries();;) c.next(); }, K::OutOfOrder},
        {"add before new archive", [](ZipEngine& e, auto&, auto& d) { e.addFolderContents(d + "in", false); }, K::OutOfOrder},
        {"write before new archive", [](ZipEngine& e, auto&, auto&) { e.writeArchive(); }, K::OutOfOrder},
        {"sfx before new archive", [](ZipEngine& e, auto&, auto& d) { e.writeSelfExtractor(d + "x.exe"); }, K::OutOfOrder},
        {"write without a name", [](ZipEngine& e, auto&, auto&) { e.newArchive(""), e.writeArchive(); }, K::Failed},
        {"protection without password",
         [](ZipEngine& e, auto&, auto& d) { e.newArchive(d + "p.zip"), e.setPasswordProtection(true), e.writeArchive(); }, K::Failed},
        {"missing folder", [](ZipEngine& e, auto&, auto& d) { e.newArchive(""), e.addFolderContents(d + "nope/*", false); }, K::Failed},
        {"not a zip", [](ZipEngine& e, auto&, auto& d) { e.openZip(d + "blocker"); }, K::Failed},
        {"unzip onto a file", [](ZipEngine& e, auto& z, auto& d) { e.openZip(z), e.unzipToFolder(d + "blocker"); }, K::Failed},
        {"unzip to no folder", [](ZipEngine& e, auto& z, auto&) { e.openZip(z), e.unzipToFolder(""); }, K::Failed},
        {"run from temp without running", [](ZipEngine& e, auto&, auto& d) { e.setRunFromTemporaryFolder(true), sfx(e, d); }, K::Failed},
        {"running without a program", [](ZipEngine& e, auto&, auto& d) { e.setRunProgram(true), sfx(e, d); }, K::Failed},
        {"encryption without a password", [](ZipEngine& e, auto&, auto& d) { e.setEncryption(true), sfx(e, d); }, K::Failed},
        // clang-format on
    };
    for (const auto& c : cases) {
        ZipEngine e;
        try {
            c.run(e, zip, dir_.path());
            ADD_FAILURE() << c.what << ": no error";
        } catch (const ZipEngineError& x) {
            EXPECT_EQ(x.kind(), c.kind) << c.what << ": " << x.what();
        }
    }
}

// Well-formed: every tag closed in order, one root element.
bool wellFormedXml(const std::string& x) {
    std::vector<std::string> open;
    int roots = 0;
    for (size_t i = x.find('<'); i != std::string::npos; i = x.find('<', i + 1)) {
        if (x.compare(i, 9, "<![CDATA[") == 0) {
            i = x.find("]]>", i);
            if (i == std::string::npos) return false;
            continue;
        }
        const size_t end = x.find('>', i);
        if (end == std::string::npos) return false;
        std::string tag = x.substr(i + 1, end - i - 1);
        tag = tag.substr(0, tag.find(' '));  // without attributes
        if (tag[0] == '?') continue;
        if (tag[0] != '/') {
            if (open.empty()) roots++;
            open.push_back(tag);
        } else if (open.empty() || open.back() != tag.substr(1)) {
            return false;
        } else {
            open.pop_back();
        }
    }
    return open.empty() && roots == 1;
}

TEST_F(ZipEngineTest, SavedLogIsXmlNamingTheOperations) {
    makeTree();
    put("blocker", "x");
    ZipEngine e;
    e.openZip(zipOf(at("in"), false));
    e.unzipToFolder(at("ok"));
    EXPECT_THROW(e.unzipToFolder(at("blocker")), ZipEngineError);
    e.saveLog(at("log.xml"));
    const std::string xml = readWholeFile(at("log.xml"));
    EXPECT_TRUE(wellFormedXml(xml)) << xml;
    for (const char* part : {"<OpenZip>", "<UnzipToFolder>", "<files>2</files>", "blocker"})
        EXPECT_NE(xml.find(part), std::string::npos) << part << " in\n" << xml;
}

TEST_F(ZipEngineTest, SelfExtractorUnpacksThroughTheStub) {
    makeTree();
    put("in/run.exe", "MZ not really");
    struct {
        const char* what;
        bool fromTemp, run;
        std::string program, unzipDir, password;
        std::string autotemp, autorun;  // what the stub is told to start
    } const cases[] = {
        {"extract only", false, false, "", "", "", "", ""},
        {"run from temp", true, true, at("in/run.exe"), "", "", "run.exe", ""},  // a disk path: its name
        {"encrypted, run", true, true, "run.exe", "", "pw", "run.exe", ""},
        {"preset folder, run there", false, true, "RUN.EXE", at("preset"), "", "", "RUN.EXE"},
    };
    for (const auto& c : cases) {
        ZipEngine e;
        e.setRunFromTemporaryFolder(c.fromTemp);
        e.setUnzipFolder(c.unzipDir);
        e.setRunProgram(c.run);
        e.setIconFile("");
        e.setProgramToRun(c.program);
        e.newArchive("notUsed.zip");
        e.addFolderContents(at("in"), true);
        e.setEncryption(!c.password.empty());
        e.setKeyLength(256);
        e.setPassword(c.password);
        e.writeSelfExtractor(at("out.exe"));

        std::unique_ptr<ExeImage> image(ExeImage::loadFromFile(at("out.exe").c_str(), nullptr));
        ASSERT_TRUE(image) << c.what;
        StubParameters p;
        readStubParameters(*image, p);
        EXPECT_EQ(p.encrypted, !c.password.empty()) << c.what;
        EXPECT_EQ(p.unzipDir.str(), c.unzipDir) << c.what;
        EXPECT_EQ(p.autotemp.str(), c.autotemp) << c.what;
        EXPECT_EQ(p.autorun.str(), c.autorun) << c.what;
        stubtest::RecordingUi ui;
        ui.passwords.push_back(c.password);
        StubSession session(p, ui);
        const std::string out = at(std::string("x") + std::to_string(&c - cases));
        EXPECT_EQ(session.openAndUnzip(out.c_str()), UnzipOutcome::Unzipped) << c.what << ": " << session.openError();
        EXPECT_EQ(readWholeFile(out + kSep + "sub" + kSep + "c.txt"), "gamma") << c.what;
    }
    // A program that is not in the archive is refused.
    ZipEngine e;
    e.setRunProgram(true);
    e.setProgramToRun("missing.exe");
    e.newArchive("");
    e.addFolderContents(at("in"), false);
    EXPECT_THROW(e.writeSelfExtractor(at("out2.exe")), ZipEngineError);
    EXPECT_FALSE(fileIsThere(at("out2.exe")));
}

}  // namespace
