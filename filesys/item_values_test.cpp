// The values of an Item: text parts of its path, attributes and sizes,
// dates as OLE Automation dates, and the short name with a fake system and
// a real one. The same program runs natively and under wine64.
#include "filesys/item_values.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "filesys/walk_settings.h"
#include "support/testing/scratch_dir.h"

using filesys::ItemTime;
using filesys::WalkItem;

namespace {

WalkItem makeItem(const char* dir, const char* name, const char* alternate = "") {
    WalkItem item;
    std::strncpy(item.record.name, name, sizeof item.record.name - 1);
    std::strncpy(item.record.alternateName, alternate, sizeof item.record.alternateName - 1);
    item.dir = std::make_shared<const std::string>(dir);
    return item;
}

bool noLeadBytes(unsigned char) { return false; }
// Code page 932: a trail byte may be 0x5C, the code of "\".
bool cp932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Back to the folder the test started in, whatever happens.
class CurrentFolder {
public:
    CurrentFolder() { ok_ = platform::currentDirectory(saved_, sizeof saved_) > 0; }
    ~CurrentFolder() {
        if (ok_) platform::setCurrentDirectory(saved_);
    }
    bool ok() const { return ok_; }

private:
    char saved_[600];
    bool ok_;
};

}  // namespace

// Name, Ext, Path, Drive and Dir of items in different kinds of folder.
TEST(ItemValues, PathParts) {
    struct Case {
        const char* dir;
        const char* name;
        filesys::LeadByteTest lead;
        const char *path, *drive, *folder, *ext;
    };
    const Case cases[] = {
        {"C:\\data\\sub\\", "Report.Final.doc", noLeadBytes, "C:\\data\\sub\\Report.Final.doc", "C:", "\\data\\sub\\",
         ".doc"},
        // A folder item: no trailing "\" after its name.
        {"C:\\data\\", "sub", noLeadBytes, "C:\\data\\sub", "C:", "\\data\\", ""},
        {"C:\\", "boot.ini", noLeadBytes, "C:\\boot.ini", "C:", "\\", ".ini"},
        // The walk in the current folder: relative, no drive, no directory.
        {"", "notes.txt", noLeadBytes, "notes.txt", "", "", ".txt"},
        {"sub\\deeper\\", "README", noLeadBytes, "sub\\deeper\\README", "", "sub\\deeper\\", ""},
        // UNC: no drive; the directory is the whole Dir string.
        {"\\\\server\\share\\docs\\", "a.b", noLeadBytes, "\\\\server\\share\\docs\\a.b", "",
         "\\\\server\\share\\docs\\", ".b"},
        // A RootPath of a bare drive: the drive's current folder.
        {"D:", "x.txt", noLeadBytes, "D:x.txt", "D:", "", ".txt"},
        {"C:\\", ".profile", noLeadBytes, "C:\\.profile", "C:", "\\", ".profile"},
        {"C:\\", "archive.tar.gz", noLeadBytes, "C:\\archive.tar.gz", "C:", "\\", ".gz"},
        {"C:\\", "trailing.", noLeadBytes, "C:\\trailing.", "C:", "\\", "."},
        // Double-byte names: a trail byte 0x5C is no separator.
        {"C:\\\x95\x5C\\", "a.b\x95\x5C", cp932Lead, "C:\\\x95\x5C\\a.b\x95\x5C", "C:", "\\\x95\x5C\\", ".b\x95\x5C"},
        {"C:\\\x95\x5C\\", "a.b\x95\x5C", noLeadBytes, "C:\\\x95\x5C\\a.b\x95\x5C", "C:", "\\\x95\x5C\\", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.dir) + "|" + c.name);
        WalkItem item = makeItem(c.dir, c.name);
        EXPECT_EQ(filesys::itemName(item), c.name);
        EXPECT_EQ(filesys::itemPath(item), c.path);
        EXPECT_EQ(filesys::itemDrive(item, c.lead), c.drive);
        EXPECT_EQ(filesys::itemDir(item, c.lead), c.folder);
        EXPECT_EQ(filesys::itemExt(item, c.lead), c.ext);
    }
}

// A record without a Dir string or without a terminator in its name field
// gives what it has, and never reads past the field.
TEST(ItemValues, FaultyRecords) {
    WalkItem noDir;
    std::strcpy(noDir.record.name, "x.y");
    EXPECT_EQ(filesys::itemPath(noDir), "x.y");
    EXPECT_EQ(filesys::itemDrive(noDir), "");
    EXPECT_EQ(filesys::itemDir(noDir), "");

    WalkItem full = makeItem("C:\\", "");
    std::memset(full.record.name, 'n', sizeof full.record.name);
    EXPECT_EQ(filesys::itemName(full), std::string(sizeof full.record.name, 'n'));
    EXPECT_EQ(filesys::itemPath(full), "C:\\" + std::string(sizeof full.record.name, 'n'));
}

// The attribute word unmasked; the size words bit for bit as signed
// numbers.
TEST(ItemValues, AttributesAndSizes) {
    struct Case {
        uint32_t attributes, sizeHigh, sizeLow;
        int32_t high, low;
    };
    const Case cases[] = {
        {0x20, 0, 0, 0, 0},
        {0x10, 0, 0, 0, 0},  // a folder: both size words 0
        {0x20, 0, 0x7FFFFFFFu, 0, 2147483647},
        {0x20, 0, 0x80000000u, 0, -2147483647 - 1},  // 2 GiB: the first negative size
        {0x21, 0, 0xC0000000u, 0, -1073741824},      // 3 GiB
        {0x20, 1, 0, 1, 0},                          // 4 GiB
        {0x20, 0x80000000u, 1, -2147483647 - 1, 1},
        {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, -1, -1},
        {0x10 | 0x400, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        WalkItem item = makeItem("C:\\", "f");
        item.record.attributes = c.attributes;
        item.record.sizeHigh = c.sizeHigh;
        item.record.sizeLow = c.sizeLow;
        EXPECT_EQ(filesys::itemAttributes(item), c.attributes);
        EXPECT_EQ(filesys::itemFileSizeHigh(item), c.high) << c.sizeHigh;
        EXPECT_EQ(filesys::itemFileSize(item), c.low) << c.sizeLow;
    }
}

// Calendar fields as OLE dates, values worked out with python's datetime:
// days since 1899-12-30, the time of day added, or subtracted before that
// day. Milliseconds and the day of week do not count.
TEST(ItemValues, OleDateFromFields) {
    struct Case {
        platform::SystemTime t;
        double want;
    };
    const Case cases[] = {
        {{1899, 12, 0, 30, 0, 0, 0, 0}, 0.0},  // day 0
        {{1899, 12, 0, 30, 6, 0, 0, 0}, 0.25},
        {{1899, 12, 0, 30, 23, 59, 59, 0}, 0.999988425925926},  // last second of day 0
        {{1899, 12, 0, 29, 0, 0, 0, 0}, -1.0},
        {{1899, 12, 0, 29, 6, 0, 0, 0}, -1.25},  // the fraction counts away from zero
        {{1899, 12, 0, 29, 18, 0, 0, 0}, -1.75},
        {{1899, 12, 0, 29, 23, 59, 59, 0}, -1.999988425925926},
        {{1899, 12, 0, 28, 12, 0, 0, 0}, -2.5},
        {{1899, 12, 0, 31, 18, 0, 0, 0}, 1.75},
        {{1899, 1, 0, 1, 8, 15, 30, 0}, -363.3440972222222},
        {{1800, 6, 0, 15, 8, 15, 30, 0}, -36357.34409722222},
        {{1601, 1, 0, 1, 0, 0, 0, 0}, -109205.0},  // the first FILETIME day
        {{1601, 1, 0, 1, 12, 34, 56, 0}, -109205.52425925925},
        {{1, 1, 0, 1, 0, 0, 0, 0}, -693593.0},  // year 1
        {{1900, 1, 0, 1, 0, 0, 0, 0}, 2.0},
        {{1900, 2, 0, 28, 12, 0, 0, 0}, 60.5},
        {{1900, 3, 0, 1, 0, 0, 0, 0}, 61.0},  // no 29 February 1900
        {{1970, 1, 0, 1, 0, 0, 0, 0}, 25569.0},
        {{2000, 1, 0, 1, 12, 0, 0, 0}, 36526.5},  // midday
        {{2000, 1, 6, 1, 12, 0, 0, 750}, 36526.5},  // milliseconds dropped
        {{2000, 1, 3, 1, 12, 0, 0, 999}, 36526.5},  // a wrong day of week is not looked at
        {{2000, 2, 0, 29, 23, 59, 59, 0}, 36585.99998842592},
        {{2000, 3, 0, 1, 0, 0, 0, 0}, 36586.0},
        {{2024, 7, 0, 4, 9, 30, 15, 0}, 45477.396006944444},
        {{9999, 12, 0, 31, 23, 59, 59, 0}, 2958465.999988426},  // last second of year 9999
    };
    for (const Case& c : cases) {
        double got = 12345.0;
        ASSERT_TRUE(filesys::oleDateFromSystemTime(c.t, &got)) << c.t.year << "-" << c.t.month << "-" << c.t.day;
        EXPECT_DOUBLE_EQ(got, c.want) << c.t.year << "-" << c.t.month << "-" << c.t.day << " " << c.t.hour << ":"
                                      << c.t.minute << ":" << c.t.second;
    }
}

// Fields that are no date fail and leave the result alone.
TEST(ItemValues, OleDateRejectsImpossibleFields) {
    const platform::SystemTime bad[] = {
        {10000, 1, 0, 1, 0, 0, 0, 0},   // year above 9999
        {65535, 1, 0, 1, 0, 0, 0, 0},
        {2000, 0, 0, 1, 0, 0, 0, 0},    // month 0
        {2000, 13, 0, 1, 0, 0, 0, 0},   // month 13
        {2000, 1, 0, 0, 0, 0, 0, 0},    // day 0
        {2000, 1, 0, 32, 0, 0, 0, 0},
        {2000, 4, 0, 31, 0, 0, 0, 0},   // April has 30 days
        {1900, 2, 0, 29, 0, 0, 0, 0},   // 1900 is no leap year
        {2100, 2, 0, 29, 0, 0, 0, 0},
        {2023, 2, 0, 29, 0, 0, 0, 0},
        {2000, 2, 0, 30, 0, 0, 0, 0},
        {2000, 1, 0, 1, 24, 0, 0, 0},   // hour 24
        {2000, 1, 0, 1, 0, 60, 0, 0},   // minute 60
        {2000, 1, 0, 1, 0, 0, 60, 0},   // second 60 (no leap seconds)
    };
    for (const platform::SystemTime& t : bad) {
        double got = 12345.0;
        EXPECT_FALSE(filesys::oleDateFromSystemTime(t, &got))
            << t.year << "-" << t.month << "-" << t.day << " " << t.hour << ":" << t.minute << ":" << t.second;
        EXPECT_EQ(got, 12345.0);
    }
    // The last valid values of each field.
    const platform::SystemTime good[] = {
        {2000, 2, 0, 29, 0, 0, 0, 0}, {2400, 2, 0, 29, 0, 0, 0, 0}, {2023, 12, 0, 31, 23, 59, 59, 999},
        {2023, 4, 0, 30, 0, 0, 0, 0}, {9999, 1, 0, 1, 0, 0, 0, 0},
    };
    for (const platform::SystemTime& t : good) {
        double got = 0;
        EXPECT_TRUE(filesys::oleDateFromSystemTime(t, &got)) << t.year << "-" << t.month << "-" << t.day;
    }
}

// From the record's FILETIME (UTC, never made local) to the OLE date; a
// value the system refuses or a year past 9999 fails cleanly.
TEST(ItemValues, OleDateFromFileTime) {
    struct Case {
        uint64_t fileTime;
        bool ok;
        double want;
    };
    const Case cases[] = {
        {0x01BF544FBB1490E0ull, true, 36526.5},            // 2000-01-01 12:00:00.750
        {0x0000000000000000ull, true, -109205.0},          // 1601-01-01 00:00
        {0x000000C92A69BFFFull, true, -109205.99998842593},  // 1601-01-01 23:59:59.9999999
        {0x014F35775E725000ull, true, -1.75},              // 1899-12-29 18:00
        {0x014F35A9A90CC000ull, true, 0.0},                // 1899-12-30 00:00
        {0x014F3613200A3C50ull, true, 0.5242592592592593},  // 1899-12-30 12:34:56.789
        {0x014F6598C43F8000ull, true, 61.0},               // 1900-03-01
        {0x24C85A5ED1C03FFFull, true, 2958465.999988426},  // the last tick of 9999
        {0x24C85A5ED1C04000ull, false, 0},                 // 10000-01-01: past what a date holds
        {0x7FFFFFFFFFFFFFFFull, false, 0},                 // the largest the system converts
        {0x8000000000000000ull, false, 0},                 // refused by the system
        {0xFFFFFFFFFFFFFFFFull, false, 0},
    };
    for (const Case& c : cases) {
        double got = 12345.0;
        EXPECT_EQ(filesys::oleDateFromFileTime(c.fileTime, &got), c.ok) << std::hex << c.fileTime;
        EXPECT_DOUBLE_EQ(got, c.ok ? c.want : 12345.0) << std::hex << c.fileTime;
    }
}

// Each date property reads its own time of the record; a bad one fails
// alone.
TEST(ItemValues, ItemDatesReadTheirOwnTimes) {
    WalkItem item = makeItem("C:\\", "f.txt");
    item.record.creationTime = 0x014F35A9A90CC000ull;    // 1899-12-30
    item.record.lastAccessTime = 0x8000000000000000ull;  // refused
    item.record.lastWriteTime = 0x01BF544FBB1490E0ull;   // 2000-01-01 12:00:00.750
    double created = -1, accessed = -1, modified = -1;
    EXPECT_TRUE(filesys::itemDate(item, ItemTime::Created, &created));
    EXPECT_EQ(created, 0.0);
    EXPECT_FALSE(filesys::itemDate(item, ItemTime::LastAccessed, &accessed));
    EXPECT_EQ(accessed, -1.0);
    EXPECT_TRUE(filesys::itemDate(item, ItemTime::LastModified, &modified));
    EXPECT_EQ(modified, 36526.5);
}

// The short-name rule over a fake system: what it is asked, what the record
// keeps, and when it asks again.
TEST(ItemValues, ShortNameRule) {
    struct Answer {
        uint32_t result;     // what the fake returns
        const char* writes;  // what it writes into the output first (up to room bytes, no terminator added)
    };
    struct Case {
        const char* label;
        const char* alternate;  // the record's field as the walk left it
        std::vector<Answer> answers;
        std::vector<std::string> reads;  // ShortName of successive reads
        int calls;                       // questions asked over all reads
    };
    const Case cases[] = {
        {"supplied by the file system", "REPORT~1.DOC", {}, {"REPORT~1.DOC", "REPORT~1.DOC"}, 0},
        {"asked once, then kept", "", {{7, "ABC.TXT"}}, {"ABC.TXT", "ABC.TXT"}, 1},
        {"the longest 8.3 name", "", {{12, "ABCDEFGH.TXT"}}, {"ABCDEFGH.TXT", "ABCDEFGH.TXT"}, 1},
        {"13 characters still fit", "", {{13, "ABCDEFGHI.TXT"}}, {"ABCDEFGHI.TXT"}, 1},
        {"failure leaves it empty and asks again", "", {{0, ""}, {0, ""}, {5, "X.TXT"}}, {"", "", "X.TXT", "X.TXT"}, 3},
        {"failure after writing leaves it empty", "", {{0, "GARBAGE"}, {3, "A.B"}}, {"", "A.B"}, 2},
        {"too little room: nothing kept", "", {{20, "ABCDEFGHIJKLMN"}}, {""}, 1},
        {"room needed equal to the room", "", {{14, "ABCDEFGHIJKLMN"}}, {""}, 1},
        {"a length that disagrees with the text", "", {{9, "AB"}}, {""}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        WalkItem item = makeItem("C:\\elsewhere\\", "abc.txt", c.alternate);
        int calls = 0;
        filesys::ShortPathQuery fake = [&](const char* path, char* out, uint32_t room) -> uint32_t {
            EXPECT_STREQ(path, "abc.txt");  // the bare name, not the item's path
            EXPECT_EQ(room, 14u);
            if (size_t(calls) >= c.answers.size()) {
                ADD_FAILURE() << "asked more often than expected";
                return 0;
            }
            const Answer& a = c.answers[size_t(calls++)];
            std::memcpy(out, a.writes, std::min<size_t>(std::strlen(a.writes) + 1, room));
            return a.result;
        };
        for (const std::string& want : c.reads) {
            EXPECT_EQ(filesys::itemShortName(&item.record, fake), want);
            EXPECT_EQ(std::string(item.record.alternateName), want);  // what the record keeps
        }
        EXPECT_EQ(calls, c.calls);
        // The bytes after the kept name are untouched zeros: nothing of a
        // refused answer is left behind.
        size_t len = std::strlen(item.record.alternateName);
        for (size_t i = len; i < sizeof item.record.alternateName; i++)
            EXPECT_EQ(item.record.alternateName[i], 0) << i;
    }
}

// With the real system: an 8.3 name found in another folder has no short
// name when no file of that name lies in the current folder (the question
// goes with the bare name), and asking again does no harm.
TEST(ItemValues, ShortNameOfAFileElsewhere) {
    ScratchDir elsewhere, current;
    const char* name = "QV8X3N.TXT";
    elsewhere.write(name, "x");
    CurrentFolder back;
    ASSERT_TRUE(back.ok());
    ASSERT_TRUE(platform::setCurrentDirectory(current.path().c_str()));
    ASSERT_FALSE(fileIsThere(current.file(name)));

    WalkItem item = makeItem("", name);
    item.dir = std::make_shared<const std::string>(filesys::folderOf(elsewhere.path()));
    EXPECT_EQ(filesys::itemShortName(&item.record), "");
    EXPECT_EQ(filesys::itemShortName(&item.record), "");
    EXPECT_EQ(item.record.alternateName[0], 0);
    // A name the file system supplied needs no question at all.
    std::strcpy(item.record.alternateName, "QV8X3N~1.TXT");
    EXPECT_EQ(filesys::itemShortName(&item.record), "QV8X3N~1.TXT");
}

// Items of a real walk: the parts put together give the path, a folder's
// path has no trailing "\", and a walk in the current folder gives relative
// paths with neither drive nor directory.
TEST(ItemValues, ItemsOfARealWalk) {
    ScratchDir dir;
    dir.write("Report.Final.doc", "12345");
    ASSERT_TRUE(platform::createDirectory(dir.file("folder").c_str()));

    auto walkAll = [](const filesys::WalkSettings& s) {
        std::vector<WalkItem> items;
        filesys::ItemWalk w(s);
        WalkItem item;
        while (items.size() < 100 && w.next(&item)) items.push_back(item);
        return items;
    };
    filesys::WalkSettings s;
    s.setRootPath(dir.path());
    s.setNameMask(std::string("*"));
    s.setRecurse(0);
    std::vector<WalkItem> items = walkAll(s);
    bool sawFile = false;
    for (const WalkItem& item : items) {
        std::string name = filesys::itemName(item);
        SCOPED_TRACE(name);
        EXPECT_EQ(filesys::itemPath(item), filesys::itemDrive(item) + filesys::itemDir(item) + name);
        EXPECT_EQ(filesys::itemDrive(item) + filesys::itemDir(item), filesys::folderOf(dir.path()));
        EXPECT_FALSE(filesys::itemDir(item).empty());
        EXPECT_EQ(filesys::itemDir(item).back(), '\\');
        double modified = 0;
        EXPECT_TRUE(filesys::itemDate(item, ItemTime::LastModified, &modified));
        EXPECT_GT(modified, 43831.0);  // after 2020-01-01
        EXPECT_LT(modified, 73051.0);  // before 2100-01-01
        if (name == "Report.Final.doc") {
            sawFile = true;
            EXPECT_EQ(filesys::itemExt(item), ".doc");
            EXPECT_EQ(filesys::itemFileSize(item), 5);
            EXPECT_EQ(filesys::itemFileSizeHigh(item), 0);
        }
    }
    EXPECT_TRUE(sawFile);

    // A folder is an item only with recursion on.
    s.setRecurse(1);
    s.setAttributeMask(filesys::kAttributeDirectory);
    items = walkAll(s);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(filesys::itemName(items[0]), "folder");
    EXPECT_NE(filesys::itemAttributes(items[0]) & filesys::kAttributeDirectory, 0u);
    EXPECT_EQ(filesys::itemPath(items[0]), filesys::folderOf(dir.path()) + "folder");
    EXPECT_EQ(filesys::itemFileSize(items[0]), 0);
    EXPECT_EQ(filesys::itemFileSizeHigh(items[0]), 0);

    {
        CurrentFolder back;
        ASSERT_TRUE(back.ok());
        ASSERT_TRUE(platform::setCurrentDirectory(dir.path().c_str()));
        filesys::WalkSettings rel;
        rel.setRootPath(std::string());
        rel.setNameMask(std::string("*.doc"));
        rel.setRecurse(0);
        items = walkAll(rel);
    }
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(filesys::itemPath(items[0]), "Report.Final.doc");
    EXPECT_EQ(filesys::itemDrive(items[0]), "");
    EXPECT_EQ(filesys::itemDir(items[0]), "");
    platform::removeDirectory(dir.file("folder").c_str());
}

// A file of 3 GiB (sparse: one byte written at its end) reads as a negative
// FileSize with FileSizeHigh 0.
TEST(ItemValues, ThreeGibFileReadsNegative) {
    ScratchDir dir;
    std::string big = dir.file("big.bin");
    dir.track(big);
    platform::FileHandle h = platform::openFile(big.c_str(), platform::OpenMode::CreateNew);
    ASSERT_NE(h, platform::kInvalidFile);
    const uint64_t size = 3ull << 30;
    uint32_t written = 0;
    bool ok = platform::seekFile(h, size - 1) && platform::writeFile(h, "z", 1, &written) && written == 1;
    platform::closeFile(h);
    ASSERT_TRUE(ok);

    filesys::WalkSettings s;
    s.setRootPath(dir.path());
    s.setNameMask(std::string("big.bin"));
    filesys::ItemWalk w(s);
    WalkItem item;
    ASSERT_TRUE(w.next(&item));
    EXPECT_EQ(filesys::itemFileSizeHigh(item), 0);
    EXPECT_EQ(filesys::itemFileSize(item), -1073741824);
    EXPECT_FALSE(w.next(&item));
}
