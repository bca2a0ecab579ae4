// The same tests run against the POSIX and the Win32 implementation.
#include "support/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/byte_source.h"
#include "support/testing/scratch_dir.h"

TEST(Platform, FilesMappingAndErrors) {
    ScratchDir dir;
    std::string p = dir.file("f.bin");
    dir.track(p);
    platform::FileHandle h = platform::openFile(p.c_str(), platform::OpenMode::CreateNew);
    ASSERT_NE(h, platform::kInvalidFile);
    uint32_t w = 0;
    ASSERT_TRUE(platform::writeFile(h, "0123456789", 10, &w));
    EXPECT_EQ(w, 10u);
    ASSERT_TRUE(platform::seekFile(h, 2));
    ASSERT_TRUE(platform::writeFile(h, "AB", 2, &w));
    uint64_t pos = 0;
    ASSERT_TRUE(platform::tellFile(h, &pos));
    EXPECT_EQ(pos, 4u);
    platform::closeFile(h);

    EXPECT_EQ(platform::openFile(p.c_str(), platform::OpenMode::CreateNew), platform::kInvalidFile);
    EXPECT_EQ(platform::lastError(), platform::errorFileExists());

    h = platform::openFile(p.c_str(), platform::OpenMode::ReadExisting);
    ASSERT_NE(h, platform::kInvalidFile);
    uint64_t size = 0;
    ASSERT_TRUE(platform::fileSize(h, &size));
    EXPECT_EQ(size, 10u);
    {
        FileByteSource range(h, 2, 6, false);  // "AB4567", read by position
        char part[6];
        ASSERT_TRUE(range.read(0, part, 6));
        EXPECT_EQ(std::string(part, 6), "AB4567");
        EXPECT_FALSE(range.read(1, part, 6));  // past the range
    }
    ASSERT_TRUE(platform::seekFile(h, 0));
    char buf[20];
    uint32_t got = 0;
    ASSERT_TRUE(platform::readFile(h, buf, sizeof buf, &got));
    EXPECT_EQ(got, 10u);
    ASSERT_TRUE(platform::readFile(h, buf, sizeof buf, &got));
    EXPECT_EQ(got, 0u);  // end of file
    platform::closeFile(h);

    EXPECT_EQ(platform::openFile(dir.file("missing").c_str(), platform::OpenMode::ReadExisting), platform::kInvalidFile);
    uint32_t code = platform::lastError();
    EXPECT_EQ(code, platform::errorFileNotFound());
    char text[512];
    EXPECT_GT(platform::errorText(code, text, sizeof text), 0u);
    EXPECT_EQ(platform::errorText(code, text, 2), 0u);  // too small: nothing, no overflow
    // A folder is not a file.
    std::string folder = dir.path().substr(0, dir.path().size() - 1);
    EXPECT_EQ(platform::openFile(folder.c_str(), platform::OpenMode::ReadExisting), platform::kInvalidFile);
}

TEST(Platform, AnsiWideConversion) {
    const char16_t wide[] = u"abc";
    EXPECT_EQ(platform::wideToAnsi(wide, 3, nullptr, 0), 3);
    EXPECT_EQ(platform::wideToAnsi(wide, -1, nullptr, 0), 4);  // with terminator
    char out[8] = {};
    EXPECT_EQ(platform::wideToAnsi(wide, 3, out, 2), 0);  // does not fit
    EXPECT_EQ(platform::wideToAnsi(wide, 3, out, 8), 3);
    EXPECT_STREQ(out, "abc");
    char16_t back[8] = {};
    EXPECT_EQ(platform::ansiToWide("xyz", 3, back, 8), 3);
    EXPECT_EQ(std::u16string(back), u"xyz");
    // Every BMP character survives a round trip when the code page has it;
    // one that it lacks becomes the default character, never a crash.
    const char16_t odd[] = {0x00E9, 0xD800, 'x', 0};
    int n = platform::wideToAnsi(odd, 3, nullptr, 0);
    EXPECT_GT(n, 0);
    std::string conv(size_t(n), '\0');
    EXPECT_EQ(platform::wideToAnsi(odd, 3, &conv[0], n), n);
    EXPECT_EQ(conv.back(), 'x');
}

TEST(Platform, TimeAndFolders) {
    platform::LocalTime t = platform::localTime();
    EXPECT_GE(t.year, 2020);
    EXPECT_GE(t.month, 1);
    EXPECT_LE(t.month, 12);
    char buf[600];
    uint32_t n = platform::tempDirectory(buf, sizeof buf);
    ASSERT_GT(n, 0u);
    EXPECT_TRUE(buf[n - 1] == '/' || buf[n - 1] == '\\');
    EXPECT_EQ(platform::tempDirectory(buf, 2), 0u);
    ASSERT_GT(platform::currentDirectory(buf, sizeof buf), 0u);
    ASSERT_GT(platform::modulePath(reinterpret_cast<const void*>(&platform::tickCount), buf, sizeof buf), 0u);
}

TEST(Platform, AnsiToUtf8) {
    char out[64];
    int n = platform::ansiToUtf8("plain ascii", -1, out, sizeof out);
    ASSERT_EQ(n, 12);  // the terminator is counted when the input length is -1
    EXPECT_STREQ(out, "plain ascii");
    EXPECT_EQ(platform::ansiToUtf8("abc", 3, nullptr, 0), 3);

    char ansi[32] = {};
    ASSERT_GT(platform::wideToAnsi(u"Gr\u00FC\u00DFe", -1, ansi, sizeof ansi), 0);
    int len = int(std::strlen(ansi));
    int need = platform::ansiToUtf8(ansi, len, nullptr, 0);
    ASSERT_EQ(need, 7);
    ASSERT_EQ(platform::ansiToUtf8(ansi, len, out, need), need);
    EXPECT_EQ(std::string(out, size_t(need)), "Gr\xC3\xBC\xC3\x9F" "e");
    EXPECT_EQ(platform::ansiToUtf8(ansi, len, out, 3), 0);  // too small
    EXPECT_EQ(platform::ansiToUtf8(nullptr, 3, out, 3), 0);
}

TEST(Platform, ErrorInfoInstallAndTake) {
    platform::takeErrorInfo(nullptr, nullptr, nullptr);  // start clean
    char16_t* d = reinterpret_cast<char16_t*>(1);
    char16_t* s = reinterpret_cast<char16_t*>(1);
    uint8_t guid[16];
    EXPECT_FALSE(platform::takeErrorInfo(&d, guid, &s));
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(s, nullptr);

    uint8_t in[16];
    for (int i = 0; i < 16; i++) in[i] = uint8_t(0xF0 - i);
    ASSERT_TRUE(platform::installErrorInfo(u"first", in, u"src1"));
    ASSERT_TRUE(platform::installErrorInfo(u"second", in, u"src2"));  // replaces
    ASSERT_TRUE(platform::takeErrorInfo(&d, guid, &s));
    EXPECT_EQ(std::u16string(d, platform::bstrLength(d)), u"second");
    EXPECT_EQ(std::u16string(s, platform::bstrLength(s)), u"src2");
    EXPECT_EQ(std::memcmp(guid, in, 16), 0);
    platform::freeBstr(d);
    platform::freeBstr(s);
    EXPECT_FALSE(platform::takeErrorInfo(&d, guid, &s));
}

// The unique temporary-file service: each call creates a new empty file
// named with the first three characters of the prefix; a missing folder
// or a short buffer fails without leaving a file.
TEST(Platform, CreateUniqueTempFile) {
    ScratchDir dir;
    char a[800], b[800];
    uint32_t na = platform::createUniqueTempFile(dir.path().c_str(), "vke-c", a, sizeof a);
    ASSERT_GT(na, 0u);
    dir.track(a);
    uint32_t nb = platform::createUniqueTempFile(dir.path().c_str(), "vke-c", b, sizeof b);
    ASSERT_GT(nb, 0u);
    dir.track(b);
    EXPECT_NE(std::string(a), std::string(b));
    for (const char* p : {a, b}) {
        std::string s(p);
        // In the folder (Win32 adds its own separator after the given one).
        std::string folder = dir.path().substr(0, dir.path().size() - 1);
        ASSERT_EQ(s.compare(0, folder.size(), folder), 0) << s;
        std::string name = s.substr(s.find_last_of("/\\") + 1);
        EXPECT_EQ(name.substr(0, 3), "vke") << s;
        // (No random character is a "-": a fourth prefix character would show.)
        EXPECT_EQ(name.find("vke-"), std::string::npos) << s;
        // Directly in the folder: only separators between folder and name.
        EXPECT_EQ(s.find_first_not_of("/\\", folder.size()), s.size() - name.size()) << s;
        bool ok = false;
        EXPECT_EQ(readWholeFile(s, &ok), "");
        EXPECT_TRUE(ok) << s;
    }
    EXPECT_EQ(std::strlen(a), na);
    std::string missing = dir.file("no-such-folder");
    EXPECT_EQ(platform::createUniqueTempFile(missing.c_str(), "vkenc", a, sizeof a), 0u);
    char tiny[4];
    EXPECT_EQ(platform::createUniqueTempFile(dir.path().c_str(), "vkenc", tiny, sizeof tiny), 0u);
}

// Whatever the code page, every byte sequence converts to valid UTF-8 (the
// XML log declares that encoding).
TEST(Platform, AnsiToUtf8AlwaysValid) {
    std::string all;
    for (int c = 1; c < 256; c++) all += char(c);
    all += "\xC3(\xE3\x82\xF0\x9F\x98";  // truncated and broken sequences
    int need = platform::ansiToUtf8(all.data(), int(all.size()), nullptr, 0);
    ASSERT_GT(need, 0);
    std::string out(size_t(need), '\0');
    ASSERT_EQ(platform::ansiToUtf8(all.data(), int(all.size()), &out[0], need), need);
    auto* s = reinterpret_cast<const unsigned char*>(out.data());
    size_t n = out.size(), i = 0;
    while (i < n) {
        unsigned c = s[i];
        size_t len = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3
                   : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
        ASSERT_NE(len, 0u) << "bad lead byte at " << i;
        ASSERT_LE(len, n - i) << "truncated sequence at " << i;
        for (size_t k = 1; k < len; k++) ASSERT_EQ(s[i + k] & 0xC0, 0x80) << "at " << i;
        i += len;
    }
}

// Extraction's helpers: folder chains made level by level (an existing
// file in the way fails), MS-DOS times that come back unchanged through
// fileInfo, read-only on and off, renaming over a file, exact UTF-8
// conversion.
TEST(Platform, DirectoryChainTimesAttributesRename) {
    ScratchDir dir;
    std::string a = dir.file("a"), ab = a + "/b", abc = ab + "/c";
    ASSERT_TRUE(platform::createDirectoryChain((abc + "/").c_str()));
    ASSERT_TRUE(platform::createDirectoryChain(abc.c_str()));  // already there
    platform::FileInfo info;
    ASSERT_TRUE(platform::fileInfo(abc.c_str(), &info));
    EXPECT_TRUE(info.isDirectory);
    dir.write("f", "data");
    EXPECT_FALSE(platform::createDirectoryChain(dir.file("f/x/y").c_str()));
    EXPECT_FALSE(platform::createDirectoryChain(""));

    // date 2001-02-03 04:05:06 and others, on a file and on a folder
    struct {
        uint16_t date, time;
        bool valid;
    } const times[] = {
        {uint16_t((21 << 9) | (2 << 5) | 3), uint16_t((4 << 11) | (5 << 5) | 3), true},
        {uint16_t((20 << 9) | (2 << 5) | 29), uint16_t((23 << 11) | (59 << 5) | 29), true},  // 2000-02-29
        {uint16_t((26 << 9) | (7 << 5) | 15), uint16_t((12 << 11) | (30 << 5) | 0), true},   // summer
        {uint16_t((21 << 9) | (0 << 5) | 3), 0, false},                                      // month 0
        {uint16_t((21 << 9) | (13 << 5) | 3), 0, false},                                     // month 13
        {uint16_t((21 << 9) | (2 << 5) | 30), 0, false},                                     // 30 February
        {uint16_t((21 << 9) | (2 << 5) | 29), 0, false},                                     // 2001 is no leap year
        {uint16_t((21 << 9) | (4 << 5) | 0), 0, false},                                      // day 0
        {uint16_t((21 << 9) | (4 << 5) | 1), uint16_t(24 << 11), false},                     // hour 24
        {uint16_t((21 << 9) | (4 << 5) | 1), uint16_t(60 << 5), false},                      // minute 60
        {uint16_t((21 << 9) | (4 << 5) | 1), uint16_t(30), false},                           // second 60
    };
    for (const auto& t : times) {
        for (const std::string& p : {dir.file("f"), ab}) {
            SCOPED_TRACE(p + " " + std::to_string(t.date) + " " + std::to_string(t.time));
            ASSERT_EQ(platform::setFileTimesFromDos(p.c_str(), t.date, t.time), t.valid);
            if (!t.valid) continue;
            ASSERT_TRUE(platform::fileInfo(p.c_str(), &info));
            EXPECT_EQ(info.dosDate, t.date);
            EXPECT_EQ(info.dosTime, t.time);
        }
    }
    EXPECT_FALSE(platform::setFileTimesFromDos(dir.file("missing").c_str(), times[0].date, times[0].time));

    ASSERT_TRUE(platform::setFileAttributes(dir.file("f").c_str(), 0x01));
    ASSERT_TRUE(platform::fileInfo(dir.file("f").c_str(), &info));
    EXPECT_EQ(info.attributes & 0x01, 0x01u);
    ASSERT_TRUE(platform::setFileAttributes(dir.file("f").c_str(), 0x20));
    ASSERT_TRUE(platform::fileInfo(dir.file("f").c_str(), &info));
    EXPECT_EQ(info.attributes & 0x01, 0u);
    EXPECT_FALSE(platform::setFileAttributes(dir.file("missing").c_str(), 0x01));

    dir.write("g", "new");
    ASSERT_TRUE(platform::renameReplacing(dir.file("g").c_str(), dir.file("f").c_str()));
    EXPECT_EQ(readWholeFile(dir.file("f")), "new");
    EXPECT_FALSE(fileIsThere(dir.file("g")));
    EXPECT_FALSE(platform::renameReplacing(dir.file("g").c_str(), dir.file("f").c_str()));  // gone
    EXPECT_FALSE(platform::renameReplacing(dir.file("f").c_str(), ab.c_str()));            // a folder
    EXPECT_EQ(readWholeFile(dir.file("f")), "new");

    for (const std::string& p : {abc, ab, a}) EXPECT_TRUE(platform::removeDirectory(p.c_str())) << p;
}

TEST(Platform, Utf8ToAnsiIsExactOrFails) {
    char out[64];
    EXPECT_EQ(platform::utf8ToAnsi("plain", 5, nullptr, 0), 5);
    ASSERT_EQ(platform::utf8ToAnsi("plain", 5, out, sizeof out), 5);
    EXPECT_EQ(std::string(out, 5), "plain");
    EXPECT_EQ(platform::utf8ToAnsi("plain", 5, out, 3), 0);  // too small
    // Invalid UTF-8: a lone continuation, a truncated sequence, an overlong form.
    for (const char* bad : {"a\x80z", "a\xC3", "\xC0\xAF", "\xED\xA0\x80"})
        EXPECT_EQ(platform::utf8ToAnsi(bad, int(std::strlen(bad)), nullptr, 0), 0) << bad;
    // Characters the code page may or may not have: when a conversion
    // succeeds it reads back as exactly the same text (no look-alike, such
    // as "/" for the full-width solidus, and no default character).
    for (const char* text : {"caf\xC3\xA9", "\xEF\xBC\x8F", "\xEF\xBC\x8E\xEF\xBC\x8E", "\xE6\xBC\xA2",
                             "\xF0\x9F\x98\x80", "\xE2\x88\x95"}) {
        int n = platform::utf8ToAnsi(text, int(std::strlen(text)), out, sizeof out);
        if (n == 0) continue;
        char back[64];
        int m = platform::ansiToUtf8(out, n, back, sizeof back);
        EXPECT_EQ(std::string(back, size_t(m)), text);
        EXPECT_EQ(std::string(out, size_t(n)).find_first_of("/\\.?"), std::string::npos) << text;
    }
}

TEST(Platform, IsTerminal) {
    ScratchDir dir;
    dir.write("t.txt", "");
    std::FILE* f = std::fopen(dir.file("t.txt").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(platform::isTerminal(f));
    std::fclose(f);
    EXPECT_FALSE(platform::isTerminal(nullptr));
}

TEST(Platform, RandomBytes) {
    uint8_t a[64] = {}, b[64] = {};
    ASSERT_TRUE(platform::randomBytes(a, sizeof a));
    ASSERT_TRUE(platform::randomBytes(b, sizeof b));
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
    int zeros = 0;
    for (uint8_t v : a) zeros += v == 0;
    EXPECT_LT(zeros, 16);
    EXPECT_TRUE(platform::randomBytes(a, 0));
}

TEST(Platform, FileInfoAndListing) {
    ScratchDir dir;
    dir.write("seven.bin", "1234567");
    dir.write("empty", "");
    std::string sub = dir.path() + "sub";
    ASSERT_TRUE(platform::createDirectory(sub.c_str()));

    platform::FileInfo info;
    ASSERT_TRUE(platform::fileInfo(dir.file("seven.bin").c_str(), &info));
    EXPECT_EQ(info.size, 7u);
    EXPECT_FALSE(info.isDirectory);
    EXPECT_EQ(info.attributes & 0x10, 0u);
    // Just written: the MS-DOS date is today's local date.
    platform::LocalTime now = platform::localTime();
    EXPECT_EQ(info.dosDate >> 9, now.year - 1980);
    EXPECT_EQ((info.dosDate >> 5) & 15, now.month);
    EXPECT_EQ(info.dosDate & 31, now.day);
    EXPECT_LT(info.dosTime >> 11, 24);
    ASSERT_TRUE(platform::fileInfo(sub.c_str(), &info));
    EXPECT_TRUE(info.isDirectory);
    EXPECT_EQ(info.attributes & 0x10, 0x10u);
    EXPECT_FALSE(platform::fileInfo(dir.file("missing").c_str(), &info));

    std::vector<std::pair<std::string, bool>> seen;
    auto collect = [](void* context, const char* name, bool isDirectory) {
        static_cast<std::vector<std::pair<std::string, bool>>*>(context)->emplace_back(name, isDirectory);
        return true;
    };
    ASSERT_TRUE(platform::listDirectory(dir.path().c_str(), collect, &seen));
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, bool>>{{"empty", false}, {"seven.bin", false}, {"sub", true}}));
    seen.clear();
    ASSERT_TRUE(platform::listDirectory(sub.c_str(), collect, &seen));
    EXPECT_TRUE(seen.empty());
    auto stop = [](void*, const char*, bool) { return false; };
    EXPECT_FALSE(platform::listDirectory(dir.path().c_str(), stop, nullptr));
    EXPECT_FALSE(platform::listDirectory(dir.file("missing").c_str(), collect, &seen));
    platform::removeDirectory(sub.c_str());
}

// Lead bytes of the ANSI code page: a byte for which the test says yes
// starts one character together with a following "A" (a valid trail byte
// in every double-byte code page); every other byte makes a character of
// its own. ASCII never leads.
TEST(Platform, DbcsLeadByteAgreesWithConversion) {
    for (int c = 1; c < 256; c++) {
        char two[2] = {char(c), 'A'};
        int chars = platform::ansiToWide(two, 2, nullptr, 0);
        bool lead = platform::isDbcsLeadByte((unsigned char)c);
        EXPECT_EQ(lead, chars == 1) << "byte " << c;
        if (c < 0x80) {
            EXPECT_FALSE(lead) << "byte " << c;
        }
    }
}

namespace {

// Every record of a search, in search order ({} when the search fails).
std::vector<platform::FindRecord> findAll(const std::string& pattern) {
    std::vector<platform::FindRecord> out;
    platform::FindRecord r;
    platform::FindHandle h = platform::findFirst(pattern.c_str(), &r);
    if (h == platform::kInvalidFind) return out;
    do out.push_back(r);
    while (platform::findNext(h, &r));
    EXPECT_FALSE(platform::findNext(h, &r));  // stays at the end
    platform::findClose(h);
    return out;
}

std::vector<std::string> sortedNames(const std::vector<platform::FindRecord>& records) {
    std::vector<std::string> names;
    for (const auto& r : records) names.push_back(r.name);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

// Wildcards in the last component, ASCII case ignored, "." and ".." first
// in a folder that is not a root, both separators, failures for a missing
// folder, an empty last component and a pattern past 259 characters.
TEST(Platform, FindWildcards) {
    ScratchDir dir;
    dir.write("a.txt", "1");
    dir.write("B.TXT", "22");
    dir.write("readme", "333");
    dir.write("a.text", "4444");
    std::string sub = dir.file("sub");
    ASSERT_TRUE(platform::createDirectory(sub.c_str()));
    dir.write("sub/inner.txt", "x");

    auto all = findAll(dir.path() + "*");
    ASSERT_GE(all.size(), 2u);
    EXPECT_STREQ(all[0].name, ".");
    EXPECT_STREQ(all[1].name, "..");
    EXPECT_EQ(all[0].attributes & 0x10, 0x10u);
    EXPECT_EQ(all[1].attributes & 0x10, 0x10u);

    using Names = std::vector<std::string>;
    struct {
        const char* mask;
        Names names;
    } const cases[] = {
        {"*", {".", "..", "B.TXT", "a.text", "a.txt", "readme", "sub"}},
        {"*.*", {".", "..", "B.TXT", "a.text", "a.txt", "readme", "sub"}},
        {"*.txt", {"B.TXT", "a.txt"}},
        {"?.TXT", {"B.TXT", "a.txt"}},
        {"A.TXT", {"a.txt"}},
        {"a*", {"a.text", "a.txt"}},
        {"*.te?t", {"a.text"}},
        {"read*.*", {"readme"}},
        {"r??dm?", {"readme"}},
        {"SUB", {"sub"}},
        {"*.tx", {}},
        {"nothing*", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask);
        EXPECT_EQ(sortedNames(findAll(dir.path() + c.mask)), c.names);
    }
    // "\\" separates too, natively as on Windows.
    EXPECT_EQ(sortedNames(findAll(dir.path() + "sub\\*.txt")), Names{"inner.txt"});
    EXPECT_EQ(sortedNames(findAll(dir.path() + "sub/*.txt")), Names{"inner.txt"});

    platform::FindRecord r;
    for (const std::string& bad : {dir.path(), dir.path() + "missing\\*", dir.path() + "missing/*", std::string()})
        EXPECT_EQ(platform::findFirst(bad.c_str(), &r), platform::kInvalidFind) << bad;

    // 259 characters are the most a pattern may have.
    std::string stars = "a";
    size_t fixed = dir.path().size() + std::strlen("a.txt");
    ASSERT_LT(fixed, platform::kMaxFindPattern);
    stars += std::string(platform::kMaxFindPattern - fixed, '*') + ".txt";
    std::string longest = dir.path() + stars;
    ASSERT_EQ(longest.size(), platform::kMaxFindPattern);
    EXPECT_EQ(sortedNames(findAll(longest)), Names{"a.txt"});
    longest.insert(longest.size() - 4, "*");
    EXPECT_EQ(platform::findFirst(longest.c_str(), &r), platform::kInvalidFind);

    // Relative to the current folder.
    char cwd[600];
    ASSERT_GT(platform::currentDirectory(cwd, sizeof cwd), 0u);
    ASSERT_TRUE(platform::setCurrentDirectory(dir.path().c_str()));
    Names relative = sortedNames(findAll("*.txt"));
    Names relativeSub = sortedNames(findAll("sub\\*"));
    ASSERT_TRUE(platform::setCurrentDirectory(cwd));
    EXPECT_EQ(relative, (Names{"B.TXT", "a.txt"}));
    EXPECT_EQ(relativeSub, (Names{".", "..", "inner.txt"}));

    dir.track(dir.file("sub/inner.txt"));
    platform::deleteFile(dir.file("sub/inner.txt").c_str());
    platform::removeDirectory(sub.c_str());
}

// The record of a file and a folder: attribute bits, sizes, plausible times,
// read-only from the file's permissions, an empty or 8.3 alternate name.
TEST(Platform, FindRecordFields) {
    ScratchDir dir;
    dir.write("seven.bin", "1234567");
    dir.write("ro.txt", "r");
    ASSERT_TRUE(platform::setFileAttributes(dir.file("ro.txt").c_str(), 0x01));
    std::string sub = dir.file("folder");
    ASSERT_TRUE(platform::createDirectory(sub.c_str()));

    auto one = [&](const char* name) {
        auto v = findAll(dir.path() + name);
        EXPECT_EQ(v.size(), 1u) << name;
        return v.empty() ? platform::FindRecord() : v[0];
    };
    const uint64_t y2020 = 132223104000000000ull, y2100 = 157469184000000000ull;  // FILETIMEs of 1 January
    platform::FindRecord f = one("seven.bin");
    EXPECT_STREQ(f.name, "seven.bin");
    EXPECT_EQ(f.sizeLow, 7u);
    EXPECT_EQ(f.sizeHigh, 0u);
    EXPECT_EQ(f.attributes & (0x10 | 0x01), 0u);
    EXPECT_NE(f.attributes, 0u);
    for (uint64_t t : {f.creationTime, f.lastAccessTime, f.lastWriteTime}) {
        EXPECT_GT(t, y2020);
        EXPECT_LT(t, y2100);
    }
    EXPECT_LT(std::strlen(f.alternateName), sizeof f.alternateName);

    platform::FindRecord ro = one("ro.txt");
    EXPECT_EQ(ro.attributes & 0x01, 0x01u);

    platform::FindRecord d = one("folder");
    EXPECT_EQ(d.attributes & 0x10, 0x10u);
    EXPECT_EQ(d.sizeLow, 0u);
    EXPECT_EQ(d.sizeHigh, 0u);

    platform::setFileAttributes(dir.file("ro.txt").c_str(), 0x20);
    platform::removeDirectory(sub.c_str());
}

// ---- File times and short names -------------------------------------------

namespace {

bool sameFields(const platform::SystemTime& a, const platform::SystemTime& b) {
    return a.year == b.year && a.month == b.month && a.dayOfWeek == b.dayOfWeek && a.day == b.day &&
           a.hour == b.hour && a.minute == b.minute && a.second == b.second && a.milliseconds == b.milliseconds;
}

std::string fieldsText(const platform::SystemTime& t) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u (dow %u) %02u:%02u:%02u.%03u", t.year, t.month, t.day, t.dayOfWeek,
                  t.hour, t.minute, t.second, t.milliseconds);
    return buf;
}

bool isLeapYear(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned monthLength(unsigned year, unsigned month) {
    static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

// Calendar fields of FILETIMEs worked out with python's datetime (weekday
// 0 = Sunday): the same table holds for FileTimeToSystemTime under Wine and
// for our own calendar natively.
TEST(Platform, FileTimeToSystemTimeFields) {
    struct Case {
        uint64_t fileTime;
        platform::SystemTime want;
    };
    const Case cases[] = {
        {0x0000000000000000ull, {1601, 1, 1, 1, 0, 0, 0, 0}},         // first tick
        {0x000000C92A69BFFFull, {1601, 1, 1, 1, 23, 59, 59, 999}},    // last tick of the first day
        {0x000000C92A69C000ull, {1601, 1, 2, 2, 0, 0, 0, 0}},
        {0x00002E5CC65F4000ull, {1601, 3, 4, 1, 0, 0, 0, 0}},         // 1601 no leap year
        {0x006F2C3A748CE980ull, {1700, 2, 0, 28, 23, 59, 59, 0}},
        {0x006F2C3A75258000ull, {1700, 3, 1, 1, 0, 0, 0, 0}},         // 1700 not a leap year
        {0x014F35775E725000ull, {1899, 12, 5, 29, 18, 0, 0, 0}},
        {0x014F35A9A90CC000ull, {1899, 12, 6, 30, 0, 0, 0, 0}},       // day 0 of OLE dates
        {0x014F3613200A3C50ull, {1899, 12, 6, 30, 12, 34, 56, 789}},
        {0x014F6598C43F58F0ull, {1900, 2, 3, 28, 23, 59, 59, 999}},
        {0x014F6598C43F8000ull, {1900, 3, 4, 1, 0, 0, 0, 0}},         // 1900 not a leap year
        {0x019DB1DED53E8000ull, {1970, 1, 4, 1, 0, 0, 0, 0}},
        {0x01BF53EB256D3FFFull, {1999, 12, 5, 31, 23, 59, 59, 999}},
        {0x01BF544FBB1490E0ull, {2000, 1, 6, 1, 12, 0, 0, 750}},      // midday, 750 ms
        {0x01BF827B3583ED90ull, {2000, 2, 2, 29, 6, 7, 8, 9}},        // 2000 a leap year
        {0x01BF831116364000ull, {2000, 3, 3, 1, 0, 0, 0, 0}},
        {0x01C072BC9E340000ull, {2000, 12, 0, 31, 0, 0, 0, 0}},       // day 366 of a leap year
        {0x01DA6B6B66BA2980ull, {2024, 2, 4, 29, 23, 59, 59, 0}},
        {0x022F9FC03DC33FFFull, {2100, 2, 0, 28, 23, 59, 59, 999}},
        {0x022F9FC03DC34000ull, {2100, 3, 1, 1, 0, 0, 0, 0}},         // 2100 not a leap year
        {0x037FF5CDB46A4000ull, {2400, 2, 2, 29, 0, 0, 0, 0}},        // 2400 a leap year
        {0x24C85A5ED1C018F0ull, {9999, 12, 5, 31, 23, 59, 59, 999}},  // last millisecond of year 9999
        {0x24C85A5ED1C03FFFull, {9999, 12, 5, 31, 23, 59, 59, 999}},  // last tick of year 9999
        {0x24C85A5ED1C04000ull, {10000, 1, 6, 1, 0, 0, 0, 0}},
        {0x7FFFFFFFFFFFFFFFull, {30828, 9, 4, 14, 2, 48, 5, 477}},    // the last value converted
    };
    for (const Case& c : cases) {
        platform::SystemTime got = {1, 2, 3, 4, 5, 6, 7, 8};
        ASSERT_TRUE(platform::fileTimeToSystemTime(c.fileTime, &got)) << std::hex << c.fileTime;
        EXPECT_TRUE(sameFields(got, c.want))
            << std::hex << c.fileTime << ": " << fieldsText(got) << ", want " << fieldsText(c.want);
    }

    // A FILETIME is a signed count for the system: from 2^63 up it fails,
    // and the output is not taken as a date.
    for (uint64_t bad : {0x8000000000000000ull, 0x8000000000000001ull, 0xFFFFFFFFFFFFFFFFull}) {
        platform::SystemTime got = {};
        EXPECT_FALSE(platform::fileTimeToSystemTime(bad, &got)) << std::hex << bad;
    }
}

// Every day from 1601 to the last one the conversion takes follows the day
// before it: same month and the next day, or the first of the next month
// (by the leap-year rule), or 1 January; the day of week moves by one. The
// time of day, varied from day to day, is taken apart exactly.
TEST(Platform, FileTimeToSystemTimeEveryDay) {
    const uint64_t kDay = 864000000000ull;
    const uint64_t lastDay = 0x7FFFFFFFFFFFFFFFull / kDay;
    platform::SystemTime prev = {};
    ASSERT_TRUE(platform::fileTimeToSystemTime(0, &prev));
    int failures = 0;
    for (uint64_t d = 1; d <= lastDay && failures < 5; d++) {
        // A time of day that changes with every day (coprime step).
        uint64_t offset = (d * 7777777777ull) % kDay;
        if (d == lastDay) offset = 0x7FFFFFFFFFFFFFFFull % kDay;
        platform::SystemTime t = {};
        if (!platform::fileTimeToSystemTime(d * kDay + offset, &t)) {
            ADD_FAILURE() << "day " << d << " refused";
            failures++;
            continue;
        }
        platform::SystemTime next = prev;
        next.dayOfWeek = uint16_t((prev.dayOfWeek + 1) % 7);
        if (prev.day < monthLength(prev.year, prev.month)) {
            next.day++;
        } else if (prev.month < 12) {
            next.month++;
            next.day = 1;
        } else {
            next.year++;
            next.month = 1;
            next.day = 1;
        }
        next.hour = uint16_t(offset / 36000000000ull);
        next.minute = uint16_t(offset % 36000000000ull / 600000000ull);
        next.second = uint16_t(offset % 600000000ull / 10000000ull);
        next.milliseconds = uint16_t(offset % 10000000ull / 10000ull);
        if (!sameFields(t, next)) {
            ADD_FAILURE() << "day " << d << ": " << fieldsText(t) << ", want " << fieldsText(next);
            failures++;
        }
        prev = t;
    }
    EXPECT_EQ(prev.year, 30828);
}

// GetShortPathNameA: a missing file fails and leaves the output alone on
// both systems; an existing one gets its short form where the system keeps
// 8.3 names (Win32), and fails the same way on POSIX, which has none.
TEST(Platform, ShortPathName) {
    ScratchDir dir;
    dir.write("abc.txt", "x");
    dir.write("A long file name.text", "y");
    const bool hasShortNames = platform::pathSeparator() == '\\';

    char out[300];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(platform::shortPathName(dir.file("missing.txt").c_str(), out, sizeof out), 0u);
    EXPECT_EQ(out[0], '#');
    EXPECT_EQ(out[sizeof out - 1], '#');

    for (const char* name : {"abc.txt", "A long file name.text"}) {
        SCOPED_TRACE(name);
        std::string full = dir.file(name);
        std::memset(out, '#', sizeof out);
        uint32_t n = platform::shortPathName(full.c_str(), out, sizeof out);
        if (!hasShortNames) {
            EXPECT_EQ(n, 0u);
            EXPECT_EQ(out[0], '#');
            continue;
        }
        ASSERT_GT(n, 0u);
        ASSERT_LT(n, sizeof out);
        EXPECT_EQ(std::strlen(out), n);
        // The short form names the same file, and its last part fits 8.3.
        std::string shortPath(out, n);
        platform::FileInfo info;
        EXPECT_TRUE(platform::fileInfo(shortPath.c_str(), &info)) << shortPath;
        std::string last = shortPath.substr(shortPath.find_last_of("\\/") + 1);
        size_t dot = last.find('.');
        EXPECT_LE(dot == std::string::npos ? last.size() : dot, 8u) << last;
        EXPECT_LE(dot == std::string::npos ? 0 : last.size() - dot - 1, 3u) << last;
        EXPECT_EQ(last.find(' '), std::string::npos) << last;
        if (std::string(name) == "abc.txt") {
            EXPECT_TRUE(last == "abc.txt" || last == "ABC.TXT") << last;
        }

        // Too little room: the room needed (terminator counted), nothing
        // taken as a name.
        char small[4];
        EXPECT_EQ(platform::shortPathName(full.c_str(), small, sizeof small), n + 1);
    }
}
