#include "filesys/path_split.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using filesys::LeadByteTest;

bool noLeadBytes(unsigned char) { return false; }
// The lead bytes of code page 932: a trail byte may be 0x5C ("\") or an
// ASCII letter.
bool cp932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

struct SplitCase {
    const char* path;
    LeadByteTest lead;
    const char* drive;
    const char* dir;
    const char* name;
    const char* ext;
};

}  // namespace

TEST(PathSplit, FourParts) {
    const SplitCase cases[] = {
        {"C:\\data\\sub\\Report.Final.doc", noLeadBytes, "C:", "\\data\\sub\\", "Report.Final", ".doc"},
        {"C:\\data", noLeadBytes, "C:", "\\", "data", ""},
        {"C:\\data\\", noLeadBytes, "C:", "\\data\\", "", ""},
        {"C:data.txt", noLeadBytes, "C:", "", "data", ".txt"},
        {"C:", noLeadBytes, "C:", "", "", ""},
        {"\\\\server\\share\\x.y", noLeadBytes, "", "\\\\server\\share\\", "x", ".y"},
        {"dir/sub/file", noLeadBytes, "", "dir/sub/", "file", ""},
        {"mixed\\a/b\\c.d", noLeadBytes, "", "mixed\\a/b\\", "c", ".d"},
        {"a.b\\c", noLeadBytes, "", "a.b\\", "c", ""},  // a dot before the directory's end is no extension
        {".profile", noLeadBytes, "", "", "", ".profile"},
        {"name.", noLeadBytes, "", "", "name", "."},
        {"", noLeadBytes, "", "", "", ""},
        {":", noLeadBytes, "", "", ":", ""},
        {"*.txt", noLeadBytes, "", "", "*", ".txt"},
        // 0x95 0x5C is one character: its trail byte is no separator.
        {"C:\\dir\\\x95\x5Cname.txt", cp932Lead, "C:", "\\dir\\", "\x95\x5Cname", ".txt"},
        {"C:\\dir\\\x95\x5Cname.txt", noLeadBytes, "C:", "\\dir\\\x95\\", "name", ".txt"},
        // A trail byte is never a dot either.
        {"a\x81.b", cp932Lead, "", "", "a\x81.b", ""},
        {"a\x81.b", noLeadBytes, "", "", "a\x81", ".b"},
        // A lead byte as the last byte stands alone.
        {"x\\abc\x81", cp932Lead, "", "x\\", "abc\x81", ""},
        // A double-byte first character: its trail byte is not the drive's colon.
        {"\x95:x", cp932Lead, "", "", "\x95:x", ""},
        {"\x95:x", noLeadBytes, "\x95:", "", "x", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(filesys::drivePart(c.path, c.lead), c.drive);
        EXPECT_EQ(filesys::directoryPart(c.path, c.lead), c.dir);
        EXPECT_EQ(filesys::fileNamePart(c.path, c.lead), c.name);
        EXPECT_EQ(filesys::extensionPart(c.path, c.lead), c.ext);
        filesys::PathSplit s = filesys::splitPath(c.path, c.lead);
        EXPECT_LE(s.driveEnd, s.dirEnd);
        EXPECT_LE(s.dirEnd, s.extStart);
        EXPECT_LE(s.extStart, s.size);
    }
    // The system's code page by default: ASCII paths split the same way.
    EXPECT_EQ(filesys::directoryPart("C:\\a\\b.c"), "\\a\\");
    EXPECT_EQ(filesys::extensionPart("C:\\a\\b.c"), ".c");
}

TEST(PathSplit, FolderOfAPattern) {
    struct {
        const char* pattern;
        LeadByteTest lead;
        const char* folder;
    } const cases[] = {
        {"C:/data/sub/*.txt", noLeadBytes, "C:\\data\\sub\\"},
        {"C:\\data\\x", noLeadBytes, "C:\\data\\"},
        {"C:\\data\\", noLeadBytes, "C:\\data\\"},
        {"*.txt", noLeadBytes, ""},
        {"", noLeadBytes, ""},
        {"C:*", noLeadBytes, "C:"},
        {"//server/share/*", noLeadBytes, "\\\\server\\share\\"},
        {"C:/\x95\x5C/x", cp932Lead, "C:\\\x95\x5C\\"},
        {"C:/\x95\x5C", cp932Lead, "C:\\"},
    };
    for (const auto& c : cases) EXPECT_EQ(filesys::folderOf(c.pattern, c.lead), c.folder) << c.pattern;
}

TEST(PathSplit, AsciiCaseOnly) {
    EXPECT_EQ(filesys::lowerAscii("ABC.TxT", noLeadBytes), "abc.txt");
    EXPECT_EQ(filesys::lowerAscii("\xC4Z@[", noLeadBytes), "\xC4z@[");  // only A to Z
    // 0x83 0x41 is one character in code page 932; its trail byte is no "A".
    EXPECT_EQ(filesys::lowerAscii("X\x83\x41Y", cp932Lead), "x\x83\x41y");
    EXPECT_EQ(filesys::lowerAscii("X\x83\x41Y", noLeadBytes), "x\x83\x61y");

    EXPECT_TRUE(filesys::equalsIgnoringAsciiCase("Temp", "tEMP", noLeadBytes));
    EXPECT_FALSE(filesys::equalsIgnoringAsciiCase("Temp", "Temp2", noLeadBytes));
    EXPECT_FALSE(filesys::equalsIgnoringAsciiCase("\x83\x41", "\x83\x61", cp932Lead));
    EXPECT_TRUE(filesys::equalsIgnoringAsciiCase("\x83\x41", "\x83\x61", noLeadBytes));
}
