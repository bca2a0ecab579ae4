#include "zip/zip_extract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "support/byte_reader.h"
#include "support/platform.h"
#include "support/testing/scratch_dir.h"
#include "support/testing/tree_listing.h"
#include "zip/crc32.h"
#include "zip/zip_archive.h"

namespace {

// ---- Entry-name rules ------------------------------------------------------

TEST(ZipEntryPath, AcceptedNames) {
    struct {
        std::string name, relative;
    } const cases[] = {
        {"a.txt", "a.txt"},
        {"dir/sub/f.bin", "dir/sub/f.bin"},
        {"dir\\sub\\f.bin", "dir/sub/f.bin"},  // a backslash separates
        {"dir/", "dir"},
        {"dir\\", "dir"},
        {"./a", "a"},
        {"a//b", "a/b"},
        {"a/./b", "a/b"},
        {"..a", "..a"},
        {"a..", "a.."},
        {"a..b/c", "a..b/c"},
        {".hidden", ".hidden"},
        {"CONSOLE.txt", "CONSOLE.txt"},  // only the exact device names
        {"NULL", "NULL"},
        {"con_x", "con_x"},
        {"x.con", "x.con"},
        {"COM10", "COM10"},
        {"COM0", "COM0"},
        {"LPT", "LPT"},
        {"COMA", "COMA"},
        {"caf\xC3\xA9/\xE6\xBC\xA2.txt", "caf\xC3\xA9/\xE6\xBC\xA2.txt"},
        {"with space/ x .txt", "with space/ x .txt"},
    };
    for (const auto& c : cases) {
        std::string relative = "junk", reason;
        EXPECT_TRUE(zipEntryPath(c.name, &relative, &reason)) << c.name << ": " << reason;
        EXPECT_EQ(relative, c.relative) << c.name;
    }
}

TEST(ZipEntryPath, RefusedNames) {
    struct {
        std::string name, reason;
    } const cases[] = {
        {"", "empty name"},
        {"/abs", "absolute path"},
        {"/", "absolute path"},
        {"\\abs", "absolute path"},
        {"\\\\server\\share\\x", "absolute path"},
        {"//server/share/x", "absolute path"},
        {"C:/x", "drive letter"},
        {"c:x", "drive letter"},
        {"Z:\\x", "drive letter"},
        {"../x", "\"..\""},
        {"..", "\"..\""},
        {"a/../../x", "\"..\""},
        {"a/../b", "\"..\""},  // even when it stays inside: nothing needs it
        {"a/..", "\"..\""},
        {"..\\x", "\"..\""},
        {"a\\..\\..\\x", "\"..\""},
        {"a/..\\..\\x", "\"..\""},
        {"...", "only dots and spaces"},
        {"a/.../b", "only dots and spaces"},
        {". .", "only dots and spaces"},
        {".. ", "only dots and spaces"},
        {" ", "only dots and spaces"},
        {"NUL", "device name"},
        {"nul", "device name"},
        {"com1.txt", "device name"},
        {"COM9", "device name"},
        {"Lpt1", "device name"},
        {"lpt9.log.txt", "device name"},
        {"aux.tar.gz", "device name"},
        {"PRN", "device name"},
        {"CON .txt", "device name"},  // trailing spaces are dropped by the system
        {"con.", "device name"},
        {"dir/prn/x", "device name"},
        {"dir/CON", "device name"},
        {"CONIN$", "device name"},
        {"conout$.txt", "device name"},
        {"COM\xC2\xB9", "device name"},
        {"lpt\xC2\xB3.txt", "device name"},
        {"a:b", "drive letter"},  // as the system reads it
        {"ab:c", "\":\""},
        {"a/b:stream", "\":\""},
        {"file.txt::$DATA", "\":\""},
        {"a\x01" "b", "control character"},
        {"a\nb", "control character"},
        {std::string("a\0b", 3), "control character"},  // a zero byte would cut the name short
        {".", "names no file"},
        {"./", "names no file"},
        {"././/", "names no file"},
    };
    for (const auto& c : cases) {
        std::string relative, reason;
        EXPECT_FALSE(zipEntryPath(c.name, &relative, &reason)) << c.name << " -> " << relative;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.name << ": " << reason;
    }
}

// ---- Hand-built archives ----------------------------------------------------

struct TestEntry {
    std::string name;
    std::string data;
    uint16_t dosDate = uint16_t((25 << 9) | (6 << 5) | 15);  // 2005-06-15
    uint16_t dosTime = uint16_t((10 << 11) | (20 << 5) | 15);  // 10:20:30
    uint32_t attributes = 0x20;
    int32_t declaredSize = -1;  // uncompressed size to declare, when not the real one
    bool corruptCrc = false;
    uint8_t host = 0;           // "made by" host: 0 MS-DOS, 3 Unix
    bool flagUtf8 = true;       // the UTF-8 flag on a non-ASCII name
};

void put16(std::string& s, uint16_t v) {
    uint8_t b[2];
    storeLE16(b, v);
    s.append(reinterpret_cast<char*>(b), 2);
}
void put32(std::string& s, uint32_t v) {
    uint8_t b[4];
    storeLE32(b, v);
    s.append(reinterpret_cast<char*>(b), 4);
}

// Stored entries, made on MS-DOS/Windows (attributes in the low byte).
std::string buildStoredZip(const std::vector<TestEntry>& entries) {
    std::string out, central;
    for (const TestEntry& e : entries) {
        uint32_t crc = crc32Update(0, e.data.data(), e.data.size()) ^ (e.corruptCrc ? 1u : 0u);
        uint32_t size = uint32_t(e.data.size());
        uint32_t declared = e.declaredSize >= 0 ? uint32_t(e.declaredSize) : size;
        bool utf8 = e.flagUtf8 && std::any_of(e.name.begin(), e.name.end(), [](char c) { return uint8_t(c) >= 0x80; });
        uint32_t offset = uint32_t(out.size());
        put32(out, 0x04034b50);
        put16(out, 20);                    // version needed
        put16(out, utf8 ? 0x0800 : 0);     // flags
        put16(out, 0);                     // stored
        put16(out, e.dosTime);
        put16(out, e.dosDate);
        put32(out, crc);
        put32(out, size);                  // compressed
        put32(out, declared);              // uncompressed
        put16(out, uint16_t(e.name.size()));
        put16(out, 0);                     // extra
        out += e.name;
        out += e.data;

        put32(central, 0x02014b50);
        put16(central, uint16_t(e.host << 8 | 20));  // made by (host), 2.0
        put16(central, 20);
        put16(central, utf8 ? 0x0800 : 0);
        put16(central, 0);
        put16(central, e.dosTime);
        put16(central, e.dosDate);
        put32(central, crc);
        put32(central, size);
        put32(central, declared);
        put16(central, uint16_t(e.name.size()));
        put16(central, 0);                 // extra
        put16(central, 0);                 // comment
        put16(central, 0);                 // disk
        put16(central, 0);                 // internal attributes
        put32(central, e.attributes);
        put32(central, offset);
        central += e.name;
    }
    uint32_t cdOffset = uint32_t(out.size());
    out += central;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, uint16_t(entries.size()));
    put16(out, uint16_t(entries.size()));
    put32(out, uint32_t(central.size()));
    put32(out, cdOffset);
    put16(out, 0);
    return out;
}

// A scratch folder whose contents are removed, whatever they are.
class ExtractDir {
public:
    ~ExtractDir() {
        for (const ListedName& n : listNames(root())) removeTree(root() + "/" + n.name);
    }
    std::string root() const { return dir_.path().substr(0, dir_.path().size() - 1); }
    std::string file(const std::string& name) const { return dir_.file(name); }
    // Writes the archive beside the target and opens it.
    bool open(ZipReader& reader, const std::string& bytes, std::string* error) {
        std::string path = file("archive.zip");
        dir_.write("archive.zip", bytes);
        return reader.openFile(path.c_str(), error);
    }

private:
    ScratchDir dir_;
};

class RecordingProgress : public ZipProgress {
public:
    void progress(uint64_t done, uint64_t total) override { calls.push_back({done, total}); }
    std::vector<std::pair<uint64_t, uint64_t>> calls;
};

std::string reasonFor(const ZipExtractResult& r, const std::string& entry) {
    for (const auto& f : r.failures)
        if (f.entry == entry) return f.reason;
    return "";
}

// ---- Extraction ----------------------------------------------------------------

TEST(ZipExtract, WritesFilesAndFoldersWithTimesAndAttributes) {
    ExtractDir dir;
    std::vector<TestEntry> entries(5);
    entries[0].name = "top.txt";
    entries[0].data = "top level";
    entries[1].name = "docs/";
    entries[1].attributes = 0x10;
    entries[1].dosDate = uint16_t((30 << 9) | (1 << 5) | 2);  // 2010-01-02
    entries[1].dosTime = uint16_t((3 << 11) | (4 << 5) | 5);
    entries[2].name = "docs/deep/er/readme.md";  // its folders made on the way
    entries[2].data = std::string(300000, 'x') + "end";
    entries[3].name = "locked.txt";
    entries[3].data = "read only";
    entries[3].attributes = 0x21;
    entries[3].dosDate = uint16_t((40 << 9) | (7 << 5) | 31);  // 2020-07-31 (summer)
    entries[3].dosTime = uint16_t((23 << 11) | (59 << 5) | 29);
    entries[4].name = "empty";
    ZipReader reader;
    std::string error;
    ASSERT_TRUE(dir.open(reader, buildStoredZip(entries), &error)) << error;

    char before[4096], after[4096];
    ASSERT_GT(platform::currentDirectory(before, sizeof before), 0u);
    RecordingProgress progress;
    std::string target = dir.file("out/new/level");  // missing parents are made
    ZipExtractResult r = extractAll(reader, target.c_str(), nullptr, &progress);
    ASSERT_GT(platform::currentDirectory(after, sizeof after), 0u);
    EXPECT_STREQ(before, after);

    EXPECT_TRUE(r.ok()) << (r.failures.empty() ? "" : r.failures[0].entry + ": " + r.failures[0].reason);
    EXPECT_EQ(r.filesWritten, 4u);
    EXPECT_EQ(r.foldersMade, 1u);
    EXPECT_EQ(listTree(target), (std::vector<std::string>{"docs/", "docs/deep/", "docs/deep/er/", "docs/deep/er/readme.md",
                                                      "empty", "locked.txt", "top.txt"}));
    for (const TestEntry& e : entries) {
        if (e.name.back() == '/') continue;
        EXPECT_EQ(readWholeFile(target + "/" + e.name), e.data) << e.name;
    }
    for (size_t i : {size_t(0), size_t(1), size_t(3)}) {
        platform::FileInfo info;
        std::string path = target + "/" + entries[i].name;
        ASSERT_TRUE(platform::fileInfo(path.c_str(), &info)) << path;
        EXPECT_EQ(info.dosDate, entries[i].dosDate) << path;
        EXPECT_EQ(info.dosTime, entries[i].dosTime) << path;
        EXPECT_EQ(info.attributes & 0x01, entries[i].attributes & 0x01) << path;
    }

    // One report per entry, growing to the total of the declared sizes.
    uint64_t total = 0;
    for (const TestEntry& e : entries) total += e.data.size();
    ASSERT_EQ(progress.calls.size(), entries.size());
    uint64_t done = 0;
    for (size_t i = 0; i < entries.size(); i++) {
        done += entries[i].data.size();
        EXPECT_EQ(progress.calls[i].first, done);
        EXPECT_EQ(progress.calls[i].second, total);
    }
}

// Hostile names are refused one by one with a reason; the good entries
// between them are written; nothing appears outside the target.
TEST(ZipExtract, RefusesUnsafeNamesAndWritesNothingOutside) {
    ExtractDir dir;
    const char* hostile[] = {"../x",      "/abs",  "C:/x", "a/../../x", "..\\x", "a\\..\\..\\x",
                             "NUL",       "com1.txt", "a:b", "\\\\server\\share\\x", "...", "sub/../../y"};
    std::vector<TestEntry> entries;
    for (const char* name : hostile) {
        TestEntry e;
        e.name = name;
        e.data = "payload";
        entries.push_back(e);
        TestEntry good;
        good.name = std::string("good") + std::to_string(entries.size()) + ".txt";
        good.data = "fine";
        entries.push_back(good);
    }
    ZipReader reader;
    std::string error;
    ASSERT_TRUE(dir.open(reader, buildStoredZip(entries), &error)) << error;
    std::string target = dir.file("t");
    ZipExtractResult r = extractAll(reader, target.c_str(), nullptr, nullptr);
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(r.targetFailed);
    EXPECT_EQ(r.filesWritten, sizeof hostile / sizeof hostile[0]);
    ASSERT_EQ(r.failures.size(), sizeof hostile / sizeof hostile[0]);
    for (size_t i = 0; i < r.failures.size(); i++) {
        EXPECT_EQ(r.failures[i].entry, hostile[i]);
        EXPECT_FALSE(r.failures[i].reason.empty()) << hostile[i];
    }
    // Only the archive and the target beside it; only the good files inside.
    std::vector<std::string> outside = listTree(dir.root());
    for (const std::string& name : outside)
        EXPECT_TRUE(name == "archive.zip" || name.compare(0, 2, "t/") == 0) << name;
    std::vector<std::string> expected = {"t/"};
    for (size_t i = 1; i < entries.size(); i += 2) expected.push_back("t/" + entries[i].name);
    std::sort(expected.begin(), expected.end());
    expected.insert(expected.begin(), "archive.zip");
    EXPECT_EQ(outside, expected);
}

// A failing entry (bad CRC, more data than declared) is skipped, leaves no
// partial file and does not destroy a file of its name from before; the
// entries after it are still extracted.
TEST(ZipExtract, FailingEntryIsSkippedAndLeavesNoTrace) {
    ExtractDir dir;
    std::vector<TestEntry> entries(4);
    entries[0].name = "before.txt";
    entries[0].data = "first";
    entries[1].name = "crc.bin";
    entries[1].data = std::string(1000, 'c');
    entries[1].corruptCrc = true;
    entries[2].name = "keep.txt";
    entries[2].data = "replacement that fails";
    entries[2].corruptCrc = true;
    entries[3].name = "after.txt";
    entries[3].data = "last";
    ZipReader reader;
    std::string error;
    ASSERT_TRUE(dir.open(reader, buildStoredZip(entries), &error)) << error;
    std::string target = dir.file("t");
    ASSERT_TRUE(platform::createDirectory(target.c_str()));
    {
        platform::FileHandle h = platform::openFile((target + "/keep.txt").c_str(), platform::OpenMode::CreateNew);
        ASSERT_NE(h, platform::kInvalidFile);
        uint32_t w;
        platform::writeFile(h, "precious", 8, &w);
        platform::closeFile(h);
    }
    ZipExtractResult r = extractAll(reader, target.c_str(), nullptr, nullptr);
    EXPECT_EQ(r.filesWritten, 2u);
    ASSERT_EQ(r.failures.size(), 2u);
    EXPECT_EQ(r.failures[0].entry, "crc.bin");
    EXPECT_EQ(r.failures[1].entry, "keep.txt");
    EXPECT_NE(r.failures[0].reason.find("CRC"), std::string::npos) << r.failures[0].reason;
    EXPECT_EQ(listTree(target), (std::vector<std::string>{"after.txt", "before.txt", "keep.txt"}));
    EXPECT_EQ(readWholeFile(target + "/keep.txt"), "precious");
}

TEST(ZipExtract, DeclaredSizeIsALimit) {
    ExtractDir dir;
    std::vector<TestEntry> entries(2);
    entries[0].name = "liar.bin";
    entries[0].data = std::string(5000, 'L');
    entries[0].declaredSize = 1;
    entries[1].name = "honest.bin";
    entries[1].data = "ok";
    ZipReader reader;
    std::string error;
    ASSERT_TRUE(dir.open(reader, buildStoredZip(entries), &error)) << error;
    std::string target = dir.file("t");
    ZipExtractResult r = extractAll(reader, target.c_str(), nullptr, nullptr);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0].entry, "liar.bin");
    EXPECT_EQ(listTree(target), (std::vector<std::string>{"honest.bin"}));
}

// A target that cannot be made (a file stands in its way): nothing at all
// is written and the result says why.
TEST(ZipExtract, TargetThatCannotBeMade) {
    ExtractDir dir;
    std::vector<TestEntry> entries(1);
    entries[0].name = "a.txt";
    entries[0].data = "a";
    ZipReader reader;
    std::string error;
    ASSERT_TRUE(dir.open(reader, buildStoredZip(entries), &error)) << error;
    RecordingProgress progress;
    std::string target = dir.file("archive.zip") + "/sub";
    ZipExtractResult r = extractAll(reader, target.c_str(), nullptr, &progress);
    EXPECT_TRUE(r.targetFailed);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.filesWritten, 0u);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0].entry, "");
    EXPECT_NE(r.failures[0].reason.find(target), std::string::npos) << r.failures[0].reason;
    EXPECT_TRUE(progress.calls.empty());
    EXPECT_EQ(listTree(dir.root()), std::vector<std::string>{"archive.zip"});
}

// Entries in the way of each other: a file where a folder must go, a folder
// where a file must go. Each fails alone.
TEST(ZipExtract, EntriesInEachOthersWay) {
    ExtractDir dir;
    std::vector<TestEntry> entries(4);
    entries[0].name = "x";
    entries[0].data = "file x";
    entries[1].name = "x/inside.txt";  // x is a file
    entries[1].data = "no";
    entries[2].name = "d/";
    entries[3].name = "d";  // d is a folder
    entries[3].data = "no";
    ZipReader reader;
    std::string error;
    ASSERT_TRUE(dir.open(reader, buildStoredZip(entries), &error)) << error;
    std::string target = dir.file("t");
    ZipExtractResult r = extractAll(reader, target.c_str(), nullptr, nullptr);
    EXPECT_EQ(r.filesWritten, 1u);
    EXPECT_EQ(r.foldersMade, 1u);
    EXPECT_FALSE(reasonFor(r, "x/inside.txt").empty());
    EXPECT_FALSE(reasonFor(r, "d").empty());
    EXPECT_EQ(listTree(target), (std::vector<std::string>{"d/", "x"}));
    EXPECT_EQ(readWholeFile(target + "/x"), "file x");
}

// Names as the system spells them: UTF-8 names arrive intact natively (the
// code page there is UTF-8); a stored time that names no moment leaves the
// time of writing without failing the entry.
TEST(ZipExtract, Utf8NamesAndMissingTimes) {
    ExtractDir dir;
    std::vector<TestEntry> entries(2);
    entries[0].name = "caf\xC3\xA9.txt";
    entries[0].data = "accent";
    entries[1].name = "notime.txt";
    entries[1].data = "zero";
    entries[1].dosDate = 0;
    entries[1].dosTime = 0;
    ZipReader reader;
    std::string error;
    ASSERT_TRUE(dir.open(reader, buildStoredZip(entries), &error)) << error;
    std::string target = dir.file("t");
    ZipExtractResult r = extractAll(reader, target.c_str(), nullptr, nullptr);
    EXPECT_TRUE(reasonFor(r, "notime.txt").empty()) << reasonFor(r, "notime.txt");
    EXPECT_EQ(readWholeFile(target + "/notime.txt"), "zero");
    // The accented name has a form in the test code pages (UTF-8, 1252).
    char local[64];
    int n = platform::utf8ToAnsi(entries[0].name.data(), int(entries[0].name.size()), local, sizeof local);
    ASSERT_GT(n, 0);
    EXPECT_EQ(readWholeFile(target + "/" + std::string(local, size_t(n))), "accent");
    EXPECT_TRUE(r.ok());
}

// Archives from our own writer: deflated and encrypted entries come out
// byte-exact with the right password; with a wrong one, or none, every
// file fails with a reason and nothing is written.
TEST(ZipExtract, WriterArchivesRoundTripAndWrongPasswords) {
    ExtractDir dir;
    std::string src = dir.file("src");
    ASSERT_TRUE(platform::createDirectoryChain((src + "/sub").c_str()));
    std::string big;
    for (int i = 0; i < 20000; i++) big += "line " + std::to_string(i) + "\n";
    const std::pair<std::string, std::string> files[] = {{"a.txt", "alpha"}, {"sub/big.txt", big}, {"sub/empty", ""}};
    for (const auto& f : files) {
        platform::FileHandle h = platform::openFile((src + "/" + f.first).c_str(), platform::OpenMode::CreateNew);
        ASSERT_NE(h, platform::kInvalidFile);
        uint32_t w;
        platform::writeFile(h, f.second.data(), uint32_t(f.second.size()), &w);
        platform::closeFile(h);
    }
    struct {
        int level;
        ZipWriter::Encryption encryption;
    } const variants[] = {{0, ZipWriter::None}, {9, ZipWriter::None}, {6, ZipWriter::ZipCrypto}, {6, ZipWriter::Aes256}};
    int n = 0;
    for (const auto& v : variants) {
        SCOPED_TRACE("level " + std::to_string(v.level) + " encryption " + std::to_string(v.encryption));
        std::string archive = dir.file("w" + std::to_string(n++) + ".zip");
        ZipWriter writer;
        ZipWriter::Options options;
        options.level = v.level;
        options.encryption = v.encryption;
        options.password = "pw";
        std::string error;
        ASSERT_TRUE(writer.create(archive.c_str(), &error)) << error;
        ASSERT_TRUE(writer.addFolder(src.c_str(), "tree", true, options, &error)) << error;
        ASSERT_TRUE(writer.close(&error)) << error;
        bool encrypted = v.encryption != ZipWriter::None;
        for (const char* password : {"pw", "wrong", static_cast<const char*>(nullptr)}) {
            bool right = password && std::strcmp(password, "pw") == 0;
            if (!encrypted && !right) continue;
            ZipReader reader;
            ASSERT_TRUE(reader.openFile(archive.c_str(), &error)) << error;
            std::string target = dir.file("out" + std::to_string(n) + (password ? password : "-none"));
            ZipExtractResult r = extractAll(reader, target.c_str(), password, nullptr);
            if (right) {
                EXPECT_TRUE(r.ok()) << (r.failures.empty() ? "" : r.failures[0].entry + ": " + r.failures[0].reason);
                for (const auto& f : files) EXPECT_EQ(readWholeFile(target + "/tree/" + f.first), f.second) << f.first;
                continue;
            }
            EXPECT_EQ(r.filesWritten, 0u);
            ASSERT_EQ(r.failures.size(), 3u);
            for (const auto& f : r.failures) EXPECT_FALSE(f.reason.empty()) << f.entry;
            EXPECT_EQ(listTree(target), (std::vector<std::string>{"tree/", "tree/sub/"}));
        }
    }
}

// ---- Files already in the target, links, collisions, long paths --------------

// A scripted answer to the overwrite question.
class Answers : public ZipOverwriteQuestion {
public:
    explicit Answers(std::vector<Answer> answers) : answers_(std::move(answers)) {}
    Answer ask(const std::string& path) override {
        asked.push_back(path);
        Answer a = answers_.empty() ? None : answers_.front();
        if (!answers_.empty()) answers_.erase(answers_.begin());
        return a;
    }
    std::vector<std::string> asked;

private:
    std::vector<Answer> answers_;
};

void writeFileText(const std::string& path, const std::string& text) {
    platform::FileHandle h = platform::openFile(path.c_str(), platform::OpenMode::CreateAlways);
    ASSERT_NE(h, platform::kInvalidFile) << path;
    uint32_t w;
    platform::writeFile(h, text.data(), uint32_t(text.size()), &w);
    platform::closeFile(h);
}

bool readOnly(const std::string& path) {
    platform::FileInfo info;
    return platform::fileInfo(path.c_str(), &info) && (info.attributes & 0x01);
}

// Each rule against a read-only file and a writable one already there; a
// replaced file stays as protected as it was; nothing temporary remains.
TEST(ZipExtract, ExistingFilesFollowTheRule) {
    using A = ZipOverwriteQuestion;
    struct Case {
        const char* label;
        ZipOverwrite rule;
        std::vector<A::Answer> answers;
        bool replaced[2];  // locked.txt, open.txt
        uint32_t skipped, refused;
    } const cases[] = {
        {"replace", ZipOverwrite::Replace, {}, {true, true}, 0, 0},
        {"skip", ZipOverwrite::Skip, {}, {false, false}, 2, 0},
        {"refuse", ZipOverwrite::Refuse, {}, {false, false}, 0, 2},
        {"ask no, yes", ZipOverwrite::Ask, {A::No, A::Yes}, {false, true}, 1, 0},
        {"ask all", ZipOverwrite::Ask, {A::All}, {true, true}, 0, 0},
        {"ask none", ZipOverwrite::Ask, {A::None}, {false, false}, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ExtractDir dir;
        std::vector<TestEntry> entries(3);
        entries[0].name = "locked.txt";
        entries[0].data = "new locked";
        entries[1].name = "open.txt";
        entries[1].data = "new open";
        entries[2].name = "fresh.txt";
        entries[2].data = "fresh";
        ZipReader reader;
        std::string error;
        ASSERT_TRUE(dir.open(reader, buildStoredZip(entries), &error)) << error;
        std::string target = dir.file("t");
        ASSERT_TRUE(platform::createDirectory(target.c_str()));
        writeFileText(target + "/locked.txt", "old locked");
        writeFileText(target + "/open.txt", "old open");
        ASSERT_TRUE(platform::setFileAttributes((target + "/locked.txt").c_str(), 0x01));
        Answers answers(c.answers);
        ZipExtractOptions options;
        options.overwrite = c.rule;
        options.question = &answers;
        ZipExtractResult r = extractAll(reader, target.c_str(), nullptr, nullptr, options);
        EXPECT_EQ(readWholeFile(target + "/locked.txt"), c.replaced[0] ? "new locked" : "old locked");
        EXPECT_EQ(readWholeFile(target + "/open.txt"), c.replaced[1] ? "new open" : "old open");
        EXPECT_EQ(readWholeFile(target + "/fresh.txt"), "fresh");
        EXPECT_TRUE(readOnly(target + "/locked.txt"));
        EXPECT_FALSE(readOnly(target + "/open.txt"));
        EXPECT_EQ(r.skipped, c.skipped);
        EXPECT_EQ(r.refusedExisting, c.refused);
        EXPECT_EQ(r.failures.size(), size_t(c.refused));
        EXPECT_EQ(listTree(target), (std::vector<std::string>{"fresh.txt", "locked.txt", "open.txt"}));
        if (c.rule == ZipOverwrite::Ask) {
            EXPECT_EQ(answers.asked.size(), c.answers.size());
        }
    }
}

// The archive being read is never replaced, even when replacing is the rule.
TEST(ZipExtract, ArchiveBeingReadIsNeverReplaced) {
    ExtractDir dir;
    std::vector<TestEntry> entries(1);
    entries[0].name = "archive.zip";
    entries[0].data = "not the archive";
    ZipReader reader;
    std::string error;
    std::string bytes = buildStoredZip(entries);
    ASSERT_TRUE(dir.open(reader, bytes, &error)) << error;
    ZipExtractOptions options;
    ASSERT_TRUE(platform::fileIdOf(dir.file("archive.zip").c_str(), &options.protect));
    ZipExtractResult r = extractAll(reader, dir.root().c_str(), nullptr, nullptr, options);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_NE(r.failures[0].reason.find("archive being read"), std::string::npos) << r.failures[0].reason;
    EXPECT_EQ(readWholeFile(dir.file("archive.zip")), bytes);
}

// Two entries for one path: the first is kept and the second fails; names
// that differ only in case fail where names ignore case and are a warning
// elsewhere.
TEST(ZipExtract, CollidingEntriesAreReported) {
    ExtractDir dir;
    std::vector<TestEntry> entries(5);
    const char* names[] = {"same.txt", "same.txt", "Case.txt", "case.txt", "sub/"};
    for (size_t i = 0; i < entries.size(); i++) {
        entries[i].name = names[i];
        entries[i].data = std::string(names[i]).back() == '/' ? "" : "copy " + std::to_string(i);
    }
    ZipReader reader;
    std::string error;
    ASSERT_TRUE(dir.open(reader, buildStoredZip(entries), &error)) << error;
    std::string target = dir.file("t");
    ZipExtractResult r = extractAll(reader, target.c_str(), nullptr, nullptr);
    EXPECT_EQ(readWholeFile(target + "/same.txt"), "copy 0");
    EXPECT_NE(reasonFor(r, "same.txt").find("second entry"), std::string::npos);
    bool ignoreCase = platform::pathSeparator() == '\\';
    EXPECT_EQ(reasonFor(r, "case.txt").empty(), !ignoreCase) << reasonFor(r, "case.txt");
    EXPECT_EQ(r.warnings.size(), ignoreCase ? 0u : 1u);
    EXPECT_EQ(r.failures.size(), ignoreCase ? 2u : 1u);
}

// Long names: a 250-byte name extracts (its temporary name is short); a
// path longer than the system allows fails before any folder is made.
TEST(ZipExtract, LongNamesAndPaths) {
    ExtractDir dir;
    std::vector<TestEntry> entries(2);
    entries[0].name = std::string(250, 'n');
    entries[0].data = "long name";
    for (int i = 0; i < 17000; i++) entries[1].name += "d/";
    entries[1].name += "deep.txt";
    entries[1].data = "too deep";
    ZipReader reader;
    std::string error;
    ASSERT_TRUE(dir.open(reader, buildStoredZip(entries), &error)) << error;
    std::string target = dir.file("t");
    ZipExtractResult r = extractAll(reader, target.c_str(), nullptr, nullptr);
    // (Read back natively only: the test's own ANSI reader stops at MAX_PATH.)
    if (platform::pathSeparator() == '/') {
        EXPECT_EQ(readWholeFile(target + "/" + entries[0].name), "long name");
    }
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_NE(r.failures[0].reason.find("too long"), std::string::npos) << r.failures[0].reason;
    EXPECT_EQ(listTree(target), std::vector<std::string>{entries[0].name});
}

// A name without the UTF-8 flag from a Unix host is UTF-8 when it is valid
// UTF-8; from MS-DOS, or invalid, it is CP437.
TEST(ZipExtract, UnflaggedNamesByHost) {
    struct Case {
        uint8_t host;
        std::string stored, read;
    } const cases[] = {
        {3, "na\xC3\xAFve \xE2\x9C\x93.txt", "na\xC3\xAFve \xE2\x9C\x93.txt"},
        {0, "na\xC3\xAFve.txt", "na\xE2\x94\x9C\xC2\xBBve.txt"},  // CP437: U+251C U+00BB
        {3, "caf\x82.txt", "caf\xC3\xA9.txt"},                      // not UTF-8: CP437 0x82 is U+00E9
    };
    for (const Case& c : cases) {
        std::vector<TestEntry> entries(1);
        entries[0].name = c.stored;
        entries[0].host = c.host;
        entries[0].flagUtf8 = false;
        std::string bytes = buildStoredZip(entries);
        ZipReader reader;
        std::string error;
        ASSERT_TRUE(reader.openMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &error)) << error;
        EXPECT_EQ(reader.entry(0).name, c.read) << int(c.host);
    }
}

#ifndef _WIN32
// Links already in the target are never followed: neither a folder link on
// an entry's way nor a file link at its end (which is replaced as itself).
TEST(ZipExtract, LinksInTheTargetAreNotFollowed) {
    ExtractDir dir;
    std::vector<TestEntry> entries(3);
    entries[0].name = "dlink/escape.txt";
    entries[0].data = "escaped";
    entries[1].name = "dlink/";
    entries[1].attributes = 0x11;  // a read-only folder: must not reach outside/
    entries[2].name = "flink";
    entries[2].data = "replaces the link";
    ZipReader reader;
    std::string error;
    ASSERT_TRUE(dir.open(reader, buildStoredZip(entries), &error)) << error;
    std::string target = dir.file("t"), outside = dir.file("outside");
    ASSERT_TRUE(platform::createDirectory(target.c_str()));
    ASSERT_TRUE(platform::createDirectory(outside.c_str()));
    writeFileText(outside + "/secret", "secret");
    ASSERT_EQ(::symlink("../outside", (target + "/dlink").c_str()), 0);
    ASSERT_EQ(::symlink("../outside/secret", (target + "/flink").c_str()), 0);
    ZipExtractOptions options;  // replacing: the strongest temptation
    ZipExtractResult r = extractAll(reader, target.c_str(), nullptr, nullptr, options);
    EXPECT_NE(reasonFor(r, "dlink/escape.txt").find("link"), std::string::npos) << reasonFor(r, "dlink/escape.txt");
    EXPECT_NE(reasonFor(r, "dlink/").find("link"), std::string::npos) << reasonFor(r, "dlink/");
    EXPECT_EQ(listTree(outside), std::vector<std::string>{"secret"});
    EXPECT_EQ(readWholeFile(outside + "/secret"), "secret");
    EXPECT_FALSE(readOnly(outside));
    EXPECT_EQ(platform::nodeKind((target + "/flink").c_str()), platform::NodeKind::File);
    EXPECT_EQ(readWholeFile(target + "/flink"), "replaces the link");
}
#endif

}  // namespace
