// The zip reader and writer: hand-built archives (stored entries, data
// descriptors, ZIP64 records and fields, comments, data before the
// archive, name encodings), one-field corruptions with their exact
// errors, truncation at every length, every byte flipped, overlapping
// entries, size limits, and write-then-read round trips with and without
// encryption.
#include "zip/zip_archive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "support/byte_reader.h"
#include "support/platform.h"
#include "support/testing/scratch_dir.h"
#include "zip/crc32.h"

namespace {

// ---- Building archives by hand -------------------------------------------

struct EntryPlan {
    std::string name = "a.txt";  // raw name bytes
    std::string data = "hello";  // the bytes as stored (compressed if method 8)
    uint16_t method = 0;
    uint16_t flags = 0;
    int64_t crc = -1;            // -1: CRC of data
    int64_t size = -1;           // uncompressed size; -1: data.size()
    int descriptor = -1;         // -1 none; 0 sig+32, 1 sig+64, 2 32, 3 64 bits
    bool zip64 = false;          // sizes and offset in ZIP64 extra fields
    std::string centralExtra;    // appended to the central extra field
    uint16_t madeBy = 20;
    uint32_t external = 0x20;
};

void p16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void p32(std::vector<uint8_t>& b, uint32_t v) {
    p16(b, uint16_t(v));
    p16(b, uint16_t(v >> 16));
}
void p64(std::vector<uint8_t>& b, uint64_t v) {
    p32(b, uint32_t(v));
    p32(b, uint32_t(v >> 32));
}
void append(std::vector<uint8_t>& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

uint32_t crcOf(const std::string& s) { return crc32Update(0, s.data(), s.size()); }

const uint16_t kTime = (13 << 11) | (45 << 5) | 15;  // 13:45:30
const uint16_t kDate = (44 << 9) | (7 << 5) | 9;     // 2024-07-09

// Offsets relative to the archive start; prefix bytes come before it.
std::vector<uint8_t> build(const std::vector<EntryPlan>& plans, const std::string& comment = "",
                           const std::string& prefix = "", bool zip64End = false) {
    std::vector<uint8_t> b, cd;
    append(b, prefix);
    for (const EntryPlan& s : plans) {
        uint32_t crc = s.crc >= 0 ? uint32_t(s.crc) : crcOf(s.data);
        uint64_t size = s.size >= 0 ? uint64_t(s.size) : s.data.size();
        uint64_t offset = b.size() - prefix.size();
        bool dd = s.descriptor >= 0;
        std::string z64Local;
        if (s.zip64) {
            std::vector<uint8_t> f;
            p16(f, 1);
            p16(f, 16);
            p64(f, size);
            p64(f, s.data.size());
            z64Local.assign(f.begin(), f.end());
        }
        p32(b, 0x04034b50);
        p16(b, 20);
        p16(b, s.flags | (dd ? 8 : 0));
        p16(b, s.method);
        p16(b, kTime);
        p16(b, kDate);
        p32(b, dd ? 0 : crc);
        p32(b, dd ? 0 : s.zip64 ? 0xFFFFFFFFu : uint32_t(s.data.size()));
        p32(b, dd ? 0 : s.zip64 ? 0xFFFFFFFFu : uint32_t(size));
        p16(b, uint16_t(s.name.size()));
        p16(b, uint16_t(z64Local.size()));
        append(b, s.name);
        append(b, z64Local);
        append(b, s.data);
        if (dd) {
            if (s.descriptor < 2) p32(b, 0x08074b50);
            p32(b, crc);
            if (s.descriptor % 2) {
                p64(b, s.data.size());
                p64(b, size);
            } else {
                p32(b, uint32_t(s.data.size()));
                p32(b, uint32_t(size));
            }
        }
        std::string extra;
        if (s.zip64) {
            std::vector<uint8_t> f;
            p16(f, 1);
            p16(f, 24);
            p64(f, size);
            p64(f, s.data.size());
            p64(f, offset);
            extra.assign(f.begin(), f.end());
        }
        extra += s.centralExtra;
        p32(cd, 0x02014b50);
        p16(cd, s.madeBy);
        p16(cd, 20);
        p16(cd, s.flags | (dd ? 8 : 0));
        p16(cd, s.method);
        p16(cd, kTime);
        p16(cd, kDate);
        p32(cd, crc);
        p32(cd, s.zip64 ? 0xFFFFFFFFu : uint32_t(s.data.size()));
        p32(cd, s.zip64 ? 0xFFFFFFFFu : uint32_t(size));
        p16(cd, uint16_t(s.name.size()));
        p16(cd, uint16_t(extra.size()));
        p16(cd, 0);
        p16(cd, 0);
        p16(cd, 0);
        p32(cd, s.external);
        p32(cd, s.zip64 ? 0xFFFFFFFFu : uint32_t(offset));
        append(cd, s.name);
        append(cd, extra);
    }
    uint64_t cdOffset = b.size() - prefix.size();
    b.insert(b.end(), cd.begin(), cd.end());
    if (zip64End) {
        uint64_t end64 = b.size() - prefix.size();
        p32(b, 0x06064b50);
        p64(b, 44);
        p16(b, 45);
        p16(b, 45);
        p32(b, 0);
        p32(b, 0);
        p64(b, plans.size());
        p64(b, plans.size());
        p64(b, cd.size());
        p64(b, cdOffset);
        p32(b, 0x07064b50);
        p32(b, 0);
        p64(b, end64);
        p32(b, 1);
    }
    p32(b, 0x06054b50);
    p16(b, 0);
    p16(b, 0);
    p16(b, zip64End ? 0xFFFF : uint16_t(plans.size()));
    p16(b, zip64End ? 0xFFFF : uint16_t(plans.size()));
    p32(b, zip64End ? 0xFFFFFFFFu : uint32_t(cd.size()));
    p32(b, zip64End ? 0xFFFFFFFFu : uint32_t(cdOffset));
    p16(b, uint16_t(comment.size()));
    append(b, comment);
    return b;
}

struct StringSink : ZipDataSink {
    std::string data;
    size_t refuseAfter = SIZE_MAX;
    bool write(const uint8_t* p, size_t n) override {
        if (data.size() + n > refuseAfter) return false;
        data.append(reinterpret_cast<const char*>(p), n);
        return true;
    }
};

// Opens and extracts every entry; returns "" or the first error.
std::string readAll(const std::vector<uint8_t>& bytes, std::vector<std::string>* contents = nullptr,
                    const char* password = nullptr) {
    ZipReader r;
    std::string error;
    if (!r.openMemory(bytes.data(), bytes.size(), &error)) return "open: " + error;
    for (size_t i = 0; i < r.entryCount(); i++) {
        StringSink sink;
        if (!r.extract(i, sink, password, &error)) return error;
        if (contents) contents->push_back(sink.data);
    }
    return "";
}

std::string hex8(uint32_t v) {
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08x", v);
    return buf;
}

// A deflate stream of one stored block holding s (valid raw deflate).
std::string deflateStoredBlock(const std::string& s) {
    std::string out;
    out += char(1);
    out += char(s.size() & 0xFF);
    out += char(s.size() >> 8);
    out += char(~s.size() & 0xFF);
    out += char((~s.size() >> 8) & 0xFF);
    return out + s;
}

bool inflateLinked() {
    // The codec may be absent from some builds while it is being written;
    // deflate cases run when a stored-block stream inflates.
    EntryPlan s;
    s.method = 8;
    s.data = deflateStoredBlock("hello");
    s.size = 5;
    s.crc = crcOf("hello");
    std::vector<std::string> got;
    return readAll(build({s}), &got).empty() && got.size() == 1 && got[0] == "hello";
}

}  // namespace

TEST(ZipReaderTest, StoredEntriesWithTheirFields) {
    EntryPlan a, b;
    b.name = "dir/b.bin";
    b.data = std::string("\0\1\2\3", 4);
    b.external = 0x21;
    EntryPlan d;
    d.name = "dir/";
    d.data = "";
    d.external = 0x10;
    std::vector<uint8_t> bytes = build({a, d, b});
    ZipReader r;
    std::string error;
    ASSERT_TRUE(r.openMemory(bytes.data(), bytes.size(), &error)) << error;
    ASSERT_EQ(r.entryCount(), 3u);
    EXPECT_EQ(r.entry(0).name, "a.txt");
    EXPECT_EQ(r.entry(0).crc32, crcOf("hello"));
    EXPECT_EQ(r.entry(0).uncompressedSize, 5u);
    EXPECT_EQ(r.entry(0).dosTime, kTime);
    EXPECT_EQ(r.entry(0).dosDate, kDate);
    EXPECT_EQ(r.entry(0).localHeaderOffset, 0u);
    EXPECT_EQ(r.entry(0).encryption, ZipEntry::None);
    EXPECT_TRUE(r.entry(1).isDirectory());
    EXPECT_EQ(r.entry(1).dosAttributes(), 0x10u);
    EXPECT_EQ(r.entry(2).dosAttributes(), 0x21u);
    EXPECT_EQ(r.entry(2).localHeaderOffset, 30u + 5 + 5 + 30 + 4);
    std::vector<std::string> contents;
    EXPECT_EQ(readAll(bytes, &contents), "");
    EXPECT_EQ(contents, (std::vector<std::string>{"hello", "", b.data}));
}

// Writers without ZIP64 that store the entry count modulo 65536.
TEST(ZipReaderTest, EntriesBeyondTheRecordedCountAreRead) {
    EntryPlan a, b;
    b.name = "b.txt";
    std::vector<uint8_t> bytes = build({a, b});
    const size_t end = bytes.size() - 22;
    storeLE16(&bytes[end + 8], 1);
    storeLE16(&bytes[end + 10], 1);
    ZipReader r;
    std::string error;
    ASSERT_TRUE(r.openMemory(bytes.data(), bytes.size(), &error)) << error;
    ASSERT_EQ(r.entryCount(), 2u);
    EXPECT_EQ(r.entry(1).name, "b.txt");
}

TEST(ZipReaderTest, UnixModesGiveDosAttributes) {
    struct Case {
        uint32_t mode;
        uint32_t low;
        uint32_t expected;
    } cases[] = {{0100644, 0, 0x20}, {0100444, 0, 0x21}, {040755, 0, 0x10}, {0, 0x22, 0x22}, {0100644, 0x02, 0x22}};
    for (const Case& c : cases) {
        ZipEntry e;
        e.versionMadeBy = (3 << 8) | 30;
        e.externalAttributes = (c.mode << 16) | c.low;
        EXPECT_EQ(e.dosAttributes(), c.expected) << std::oct << c.mode;
    }
}

TEST(ZipReaderTest, CommentsAndDataBeforeTheArchive) {
    struct Case {
        std::string comment, prefix;
        bool zip64End;
    } cases[] = {
        {"", "", false},
        {"an archive comment", "", false},
        {std::string(65535, 'c'), "", false},
        {"", std::string(1000, 'S'), false},
        {"comment with PK\x05\x06 inside", std::string(77, 'x'), false},
        {"", std::string(300, 'S'), true},
        {"zip64 and comment", std::string(5, 'S'), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.comment.size() * 1000 + c.prefix.size());
        EntryPlan a, b;
        b.name = "b.txt";
        b.data = "second";
        std::vector<uint8_t> bytes = build({a, b}, c.comment, c.prefix, c.zip64End);
        ZipReader r;
        std::string error;
        ASSERT_TRUE(r.openMemory(bytes.data(), bytes.size(), &error)) << error;
        ASSERT_EQ(r.entryCount(), 2u);
        EXPECT_EQ(r.entry(0).localHeaderOffset, c.prefix.size());
        std::vector<std::string> contents;
        EXPECT_EQ(readAll(bytes, &contents), "");
        EXPECT_EQ(contents, (std::vector<std::string>{"hello", "second"}));
    }
}

TEST(ZipReaderTest, DataDescriptorForms) {
    for (int form = 0; form < 4; form++) {
        SCOPED_TRACE(form);
        EntryPlan a, b;
        a.descriptor = form;
        b.name = "b.txt";
        b.data = "after the descriptor";
        b.descriptor = form;
        std::vector<std::string> contents;
        EXPECT_EQ(readAll(build({a, b}), &contents), "");
        EXPECT_EQ(contents, (std::vector<std::string>{"hello", "after the descriptor"}));
    }
    // A descriptor that disagrees with the central directory.
    EntryPlan a;
    a.descriptor = 0;
    std::vector<uint8_t> bytes = build({a});
    bytes[30 + 5 + 5 + 4] ^= 1;  // its CRC
    EXPECT_EQ(readAll(bytes), "a.txt: data descriptor is missing or does not match the central directory");
}

TEST(ZipReaderTest, Zip64ExtraFieldsAndRecords) {
    EntryPlan a, b;
    a.zip64 = true;
    b.name = "b.txt";
    b.data = "zip64 entry";
    b.zip64 = true;
    for (bool end64 : {false, true}) {
        std::vector<uint8_t> bytes = build({a, b}, "", "SFX", end64);
        ZipReader r;
        std::string error;
        ASSERT_TRUE(r.openMemory(bytes.data(), bytes.size(), &error)) << error;
        EXPECT_EQ(r.entry(1).compressedSize, 11u);
        EXPECT_EQ(r.entry(1).uncompressedSize, 11u);
        EXPECT_EQ(r.entry(1).localHeaderOffset, 3u + 30 + 5 + 20 + 5);
        std::vector<std::string> contents;
        EXPECT_EQ(readAll(bytes, &contents), "");
        EXPECT_EQ(contents, (std::vector<std::string>{"hello", "zip64 entry"}));
    }
}

TEST(ZipReaderTest, NameEncodings) {
    auto unicodeExtra = [](const std::string& raw, const std::string& utf8, uint32_t delta) {
        std::vector<uint8_t> f;
        p16(f, 0x7075);
        p16(f, uint16_t(5 + utf8.size()));
        f.push_back(1);
        p32(f, crcOf(raw) + delta);
        append(f, utf8);
        return std::string(f.begin(), f.end());
    };
    struct Case {
        std::string raw;
        uint16_t flags;
        std::string extra;
        std::string expected;
    } cases[] = {
        {"plain.txt", 0, "", "plain.txt"},
        {"\x80\x81\xE1\xFB.txt", 0, "", "\xC3\x87\xC3\xBC\xC3\x9F\xE2\x88\x9A.txt"},  // CP437 Çüß√
        {"\xB0\xFF", 0, "", "\xE2\x96\x91\xC2\xA0"},                                     // CP437 ░ and nbsp
        {"\xC3\xA9t\xC3\xA9.txt", 0x0800, "", "\xC3\xA9t\xC3\xA9.txt"},                   // UTF-8 été
        {"bad\xC3(.txt", 0x0800, "", "bad\xEF\xBF\xBD(.txt"},                            // invalid UTF-8
        {"\x82t\x82.txt", 0, unicodeExtra("\x82t\x82.txt", "\xC3\xA9t\xC3\xA9.txt", 0), "\xC3\xA9t\xC3\xA9.txt"},
        // A Unicode path whose CRC does not match the raw name is stale.
        {"\x82.txt", 0, unicodeExtra("\x82.txt", "other.txt", 1), "\xC3\xA9.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EntryPlan s;
        s.name = c.raw;
        s.flags = c.flags;
        s.centralExtra = c.extra;
        std::vector<uint8_t> bytes = build({s});
        ZipReader r;
        std::string error;
        ASSERT_TRUE(r.openMemory(bytes.data(), bytes.size(), &error)) << error;
        EXPECT_EQ(r.entry(0).name, c.expected);
        StringSink sink;
        EXPECT_TRUE(r.extract(0, sink, nullptr, &error)) << error;
    }
}

// Layout of the one-entry archive below: local header at 0 (30 + "a.txt"
// + "hello" = 40 bytes), central entry at 40 (46 + 5), end record at 91.
TEST(ZipReaderTest, OneFieldCorruptions) {
    struct Patch {
        size_t at;
        int width;
        uint32_t value;
    };
    const std::string crcText = "a.txt: CRC mismatch (stored " + hex8(crcOf("hello")) + ", computed " +
                                hex8(crcOf("jello")) + ")";
    struct Case {
        const char* label;
        std::vector<Patch> patches;
        std::string error;
    } cases[] = {
        {"local signature", {{0, 1, 'Q'}}, "a.txt: local header signature is not valid"},
        {"local flags", {{6, 2, 1}}, "a.txt: local header flags do not match the central directory"},
        {"local method", {{8, 2, 8}}, "a.txt: local header compression method does not match the central directory"},
        {"local crc", {{14, 4, 1}}, "a.txt: local header sizes or CRC do not match the central directory"},
        {"local size", {{18, 4, 6}}, "a.txt: local header sizes or CRC do not match the central directory"},
        {"local name length", {{26, 2, 4}}, "a.txt: local header name does not match the central directory"},
        {"local extra length", {{28, 2, 0xFFFF}}, "a.txt: local header overlaps another entry or the central directory"},
        {"local name", {{30, 1, 'b'}}, "a.txt: local header name does not match the central directory"},
        {"data", {{35, 1, 'j'}}, crcText},
        {"central signature", {{40, 1, 'Q'}}, "open: central directory entry 1: signature is not valid"},
        {"central crc", {{56, 4, 7}}, "a.txt: local header sizes or CRC do not match the central directory"},
        {"central size maxed", {{60, 4, 0xFFFFFFFF}}, "open: central directory entry 1: ZIP64 extra field is missing"},
        {"central uncompressed size", {{64, 4, 4}}, "a.txt: local header sizes or CRC do not match the central directory"},
        {"central name length", {{68, 2, 0xFFFF}}, "open: central directory entry 1: name runs past the central directory"},
        {"central extra length", {{70, 2, 10}}, "open: central directory entry 1: extra field runs past the central directory"},
        {"central comment length", {{72, 2, 1}}, "open: central directory entry 1: comment runs past the central directory"},
        {"central disk", {{74, 2, 1}}, "open: central directory entry 1: entry starts on another disk"},
        {"central offset beyond", {{82, 4, 1000}}, "open: central directory entry 1: local header offset is beyond the archive"},
        {"central offset inside", {{82, 4, 1}}, "a.txt: local header signature is not valid"},
        {"central offset at directory", {{82, 4, 40}}, "a.txt: local header offset points into the central directory"},
        {"end signature", {{91, 1, 'Q'}}, "open: not a zip archive: end of central directory record not found"},
        {"end disk", {{95, 2, 1}}, "open: archives on several disks are not supported"},
        {"end directory disk", {{97, 2, 1}}, "open: archives on several disks are not supported"},
        {"end count", {{101, 2, 2}}, "open: archives on several disks are not supported"},
        {"end counts", {{99, 2, 2}, {101, 2, 2}}, "open: entry count does not fit the central directory size"},
        {"end size small", {{103, 4, 50}}, "open: central directory entry 1: signature is not valid"},
        {"end size large", {{103, 4, 200}}, "open: central directory size is larger than the archive"},
        {"end offset", {{107, 4, 41}}, "open: central directory offset is beyond the archive"},
        {"end offset low", {{107, 4, 30}}, "a.txt: local header signature is not valid"},
        {"end comment length", {{111, 2, 5}}, "open: not a zip archive: end of central directory record not found"},
    };
    const std::vector<uint8_t> good = build({EntryPlan()});
    ASSERT_EQ(good.size(), 113u);
    ASSERT_EQ(readAll(good), "");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> bytes = good;
        for (const Patch& p : c.patches) {
            for (int k = 0; k < p.width; k++) bytes[p.at + k] = uint8_t(p.value >> (8 * k));
        }
        EXPECT_EQ(readAll(bytes), c.error);
    }
}

// Layout with ZIP64 records: local header 0, central entry 40, end record
// 64 at 91, locator at 147, end record at 167.
TEST(ZipReaderTest, Zip64RecordCorruptions) {
    struct Case {
        const char* label;
        size_t at;
        int width;
        uint64_t value;
        std::string error;
    } cases[] = {
        {"record signature", 91, 1, 'Q', "open: ZIP64 end of central directory record not found"},
        {"record disk", 107, 4, 1, "open: archives on several disks are not supported"},
        {"record directory disk", 111, 4, 1, "open: archives on several disks are not supported"},
        {"record count", 123, 8, 2, "open: archives on several disks are not supported"},
        {"record directory size", 131, 8, 1000, "open: central directory size is larger than the archive"},
        {"record directory offset", 139, 8, 41, "open: central directory offset is beyond the archive"},
        {"record offset moved", 155, 8, 7, ""},  // found where the locator ends
        {"locator disk", 151, 4, 1, "open: archives on several disks are not supported"},
        {"locator disks", 163, 4, 2, "open: archives on several disks are not supported"},
        {"locator signature", 147, 1, 'Q', "open: ZIP64 end of central directory locator not found"},
    };
    const std::vector<uint8_t> good = build({EntryPlan()}, "", "", true);
    ASSERT_EQ(good.size(), 189u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> bytes = good;
        for (int k = 0; k < c.width; k++) bytes[c.at + k] = uint8_t(c.value >> (8 * k));
        EXPECT_EQ(readAll(bytes), c.error);
    }
    // Entry data that merely looks like a locator before a plain end record.
    EntryPlan s;
    s.data = std::string("PK\x06\x07", 4) + std::string(16, '\0');
    std::vector<uint8_t> plain = build({s});
    plain.erase(plain.end() - 22 - 51, plain.end() - 22);  // no central directory: the data ends at the record
    storeLE16(&plain[plain.size() - 22 + 8], 0);
    storeLE16(&plain[plain.size() - 22 + 10], 0);
    storeLE32(&plain[plain.size() - 22 + 12], 0);
    storeLE32(&plain[plain.size() - 22 + 16], uint32_t(plain.size() - 22));
    ZipReader r;
    std::string error;
    EXPECT_TRUE(r.openMemory(plain.data(), plain.size(), &error)) << error;
    EXPECT_EQ(r.entryCount(), 0u);
}

TEST(ZipReaderTest, UnsupportedMethodAndStrongEncryptionNameTheEntry) {
    EntryPlan s;
    s.name = "x.dat";
    s.method = 14;
    EXPECT_EQ(readAll(build({s})), "x.dat: unsupported compression method 14");
    s.method = 12;
    EXPECT_EQ(readAll(build({s})), "x.dat: unsupported compression method 12");
    s.method = 0;
    s.flags = 0x41;
    EXPECT_EQ(readAll(build({s})), "x.dat: strong encryption is not supported");
    s.flags = 0x01;
    s.method = 99;
    EXPECT_EQ(readAll(build({s})), "x.dat: AES entry without its extra field (0x9901)");
    // Other entries stay readable.
    EntryPlan bad, good;
    bad.name = "x.dat";
    bad.method = 14;
    good.name = "ok.txt";
    std::vector<uint8_t> bytes = build({bad, good});
    ZipReader r;
    std::string error;
    ASSERT_TRUE(r.openMemory(bytes.data(), bytes.size(), &error));
    StringSink sink;
    EXPECT_TRUE(r.extract(1, sink, nullptr, &error)) << error;
    EXPECT_EQ(sink.data, "hello");
}

TEST(ZipReaderTest, EncryptedEntryWithoutPassword) {
    EntryPlan s;
    s.flags = 1;
    s.data = std::string(12, 'x') + "hello";
    s.crc = crcOf("hello");
    s.size = 5;
    EXPECT_EQ(readAll(build({s})), "a.txt: a password is required");
}

TEST(ZipReaderTest, OverlappingEntriesAreRefused) {
    EntryPlan a, b;
    b.name = "b.txt";
    std::vector<uint8_t> bytes = build({a, b});
    // b's central entry points at a's local header: both share one offset.
    const size_t cdB = 80 + 46 + 5;
    std::vector<uint8_t> shared = bytes;
    storeLE32(&shared[cdB + 42], 0);
    ZipReader r;
    std::string error;
    ASSERT_TRUE(r.openMemory(shared.data(), shared.size(), &error)) << error;
    for (size_t i = 0; i < 2; i++) {
        StringSink sink;
        EXPECT_FALSE(r.extract(i, sink, nullptr, &error));
        EXPECT_EQ(error, r.entry(i).name + ": overlaps another entry (same local header offset)");
    }
    // a claims its data runs on into b's local header.
    std::vector<uint8_t> longer = bytes;
    storeLE32(&longer[18], 45);
    storeLE32(&longer[22], 45);
    storeLE32(&longer[80 + 20], 45);
    storeLE32(&longer[80 + 24], 45);
    EXPECT_EQ(readAll(longer), "a.txt: data overlaps another entry or the central directory");
    // b's data runs into the central directory.
    std::vector<uint8_t> intoCd = bytes;
    storeLE32(&intoCd[40 + 18], 6);
    storeLE32(&intoCd[40 + 22], 6);
    storeLE32(&intoCd[cdB + 20], 6);
    storeLE32(&intoCd[cdB + 24], 6);
    r.openMemory(intoCd.data(), intoCd.size(), &error);
    StringSink sink;
    EXPECT_FALSE(r.extract(1, sink, nullptr, &error));
    EXPECT_EQ(error, "b.txt: data overlaps another entry or the central directory");
}

TEST(ZipReaderTest, TruncationAtEveryLength) {
    EntryPlan a, b, c;
    b.name = "b/";
    b.data = "";
    c.name = "c.txt";
    c.data = "third entry";
    c.descriptor = 0;
    std::vector<uint8_t> bytes = build({a, b, c}, "comment");
    ASSERT_EQ(readAll(bytes), "");
    for (size_t len = 0; len < bytes.size(); len++) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + len);
        ZipReader r;
        std::string error;
        EXPECT_FALSE(r.openMemory(cut.data(), cut.size(), &error)) << len;
        EXPECT_FALSE(error.empty());
    }
}

TEST(ZipReaderTest, EveryByteFlippedFailsCleanlyOrReadsTheSameData) {
    EntryPlan a, b;
    b.name = "b.txt";
    b.data = "second entry";
    b.descriptor = 1;
    const std::vector<uint8_t> bytes = build({a, b}, "", "PRE", true);
    std::vector<std::string> original;
    ASSERT_EQ(readAll(bytes, &original), "");
    for (size_t i = 0; i < bytes.size(); i++) {
        std::vector<uint8_t> copy = bytes;
        copy[i] ^= 0xFF;
        ZipReader r;
        std::string error;
        if (!r.openMemory(copy.data(), copy.size(), &error)) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        for (size_t e = 0; e < r.entryCount(); e++) {
            StringSink sink;
            if (r.extract(e, sink, nullptr, &error)) {
                ASSERT_LT(e, original.size()) << i;
                EXPECT_EQ(sink.data, original[e]) << "byte " << i << " entry " << e;
            } else {
                EXPECT_FALSE(error.empty());
            }
        }
    }
}

TEST(ZipReaderTest, SinkRefusalAndEntryRange) {
    std::vector<uint8_t> bytes = build({EntryPlan()});
    ZipReader r;
    std::string error;
    ASSERT_TRUE(r.openMemory(bytes.data(), bytes.size(), &error));
    StringSink sink;
    sink.refuseAfter = 2;
    EXPECT_FALSE(r.extract(0, sink, nullptr, &error));
    EXPECT_EQ(error, "a.txt: writing the contents failed");
    EXPECT_FALSE(r.extract(1, sink, nullptr, &error));
    EXPECT_EQ(error, "no such entry");
}

TEST(ZipReaderTest, StoredSizeMismatchAndBadCrc) {
    EntryPlan s;
    s.size = 4;
    EXPECT_EQ(readAll(build({s})), "a.txt: stored size does not match the declared size");
    EntryPlan t;
    t.crc = 0x12345678;
    EXPECT_EQ(readAll(build({t})),
              "a.txt: CRC mismatch (stored 12345678, computed " + hex8(crcOf("hello")) + ")");
}

TEST(ZipReaderTest, DeflateOutputIsHeldToTheDeclaredSize) {
    if (!inflateLinked()) GTEST_SKIP() << "inflate not available in this build";
    const std::string text = "hello, deflate";
    struct Case {
        std::string data;
        int64_t size;
        std::string error;
    } cases[] = {
        {deflateStoredBlock(text), int64_t(text.size()), ""},
        {deflateStoredBlock(text), int64_t(text.size()) - 1, "a.txt: data is longer than its declared size"},
        {deflateStoredBlock(text), 0, "a.txt: data is longer than its declared size"},
        {deflateStoredBlock(text), int64_t(text.size()) + 1, "a.txt: data is shorter than its declared size"},
        {deflateStoredBlock(text).substr(0, 10), int64_t(text.size()), "a.txt: deflate data is truncated"},
        {deflateStoredBlock(text) + "junk", int64_t(text.size()), "a.txt: deflate stream ends before the entry's data"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        EntryPlan s;
        s.method = 8;
        s.data = c.data;
        s.size = c.size;
        s.crc = crcOf(text);
        EXPECT_EQ(readAll(build({s})), c.error);
    }
}

TEST(ZipReaderTest, FileAndMemoryGiveTheSameEntries) {
    ScratchDir dir;
    EntryPlan a, b;
    b.name = "b.txt";
    b.data = std::string(200000, 'q');
    std::vector<uint8_t> bytes = build({a, b}, "c", "prefix");
    dir.write("t.zip", std::string(bytes.begin(), bytes.end()));
    ZipReader r;
    std::string error;
    ASSERT_TRUE(r.openFile(dir.file("t.zip").c_str(), &error)) << error;
    ASSERT_EQ(r.entryCount(), 2u);
    StringSink sink;
    ASSERT_TRUE(r.extract(1, sink, nullptr, &error)) << error;
    EXPECT_EQ(sink.data, b.data);
    EXPECT_FALSE(r.openFile(dir.file("missing.zip").c_str(), &error));
    // The system's reason follows the path: missing and unreadable differ.
    EXPECT_EQ(error, "cannot open " + dir.file("missing.zip") + ": " +
                         platform::errorMessage(platform::errorFileNotFound()));
    EXPECT_EQ(r.entryCount(), 0u);
}

// ---- Writing -------------------------------------------------------------

namespace {

std::string sampleData(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    uint32_t x = seed;
    for (size_t i = 0; i < n; i++) {
        x = x * 1103515245u + 12345u;
        // Half text-like (compressible), half noise.
        s[i] = (i / 4096) % 2 ? char(x >> 24) : "abcdefgh "[(x >> 16) % 9];
    }
    return s;
}

}  // namespace

// Entries that deflate does not shrink (empty, tiny, random) are stored
// instead, whatever the encryption.
TEST(ZipWriterTest, RoundTripsEveryMethodAndEncryption) {
    const bool deflateOk = inflateLinked();
    ScratchDir dir;
    std::string noise(1 << 20, '\0');
    ASSERT_TRUE(platform::randomBytes(&noise[0], noise.size()));
    const std::vector<std::string> datas = {"", "tiny", sampleData(200000, 7), noise};
    const std::vector<bool> shrinks = {false, false, true, false};
    for (size_t k = 0; k < datas.size(); k++) dir.write("in" + std::to_string(k), datas[k]);
    struct Case {
        int level;
        ZipWriter::Encryption encryption;
        const char* password;
        uint64_t overhead;  // encryption header and trailer
    } cases[] = {{0, ZipWriter::None, "", 0},
                 {6, ZipWriter::None, "", 0},
                 {9, ZipWriter::None, "", 0},
                 {0, ZipWriter::ZipCrypto, "p\xC3\xA4ss", 12},
                 {6, ZipWriter::ZipCrypto, "p\xC3\xA4ss", 12},
                 {0, ZipWriter::Aes256, "p\xC3\xA4ss", 28},
                 {6, ZipWriter::Aes256, "p\xC3\xA4ss", 28},
                 // An empty password is a password.
                 {6, ZipWriter::ZipCrypto, "", 12},
                 {6, ZipWriter::Aes256, "", 28}};
    for (const Case& c : cases) {
        if (c.level && !deflateOk) continue;
        SCOPED_TRACE(std::to_string(c.level * 10 + int(c.encryption)) + " password \"" + c.password + "\"");
        std::string path = dir.file("out.zip");
        ZipWriter w;
        std::string error;
        ASSERT_TRUE(w.create(path.c_str(), &error)) << error;
        ZipWriter::Options options;
        options.level = c.level;
        options.encryption = c.encryption;
        options.password = c.password;
        for (size_t k = 0; k < datas.size(); k++)
            ASSERT_TRUE(w.addFile(dir.file("in" + std::to_string(k)).c_str(), "f" + std::to_string(k), options, &error))
                << error;
        ASSERT_TRUE(w.close(&error)) << error;
        dir.track(path);
        ZipReader r;
        ASSERT_TRUE(r.openFile(path.c_str(), &error)) << error;
        ASSERT_EQ(r.entryCount(), datas.size());
        for (size_t k = 0; k < datas.size(); k++) {
            const ZipEntry& e = r.entry(k);
            EXPECT_EQ(e.name, "f" + std::to_string(k));
            EXPECT_EQ(e.uncompressedSize, datas[k].size());
            EXPECT_EQ(e.method, c.level && shrinks[k] ? 8 : 0);
            if (!shrinks[k]) {
                EXPECT_EQ(e.compressedSize, datas[k].size() + c.overhead);
            } else if (c.level) {
                EXPECT_LT(e.compressedSize, datas[k].size() * 17 / 20);
            }
            EXPECT_EQ(e.flags & 1, c.encryption != ZipWriter::None ? 1 : 0);
            if (c.encryption == ZipWriter::Aes256) {
                EXPECT_EQ(e.encryption, ZipEntry::Aes);
                EXPECT_EQ(e.aesStrength, 3);
                EXPECT_EQ(e.aesVersion, datas[k].size() < 20 ? 2 : 1);
            }
            StringSink sink;
            EXPECT_TRUE(r.extract(k, sink, options.password.c_str(), &error)) << error;
            EXPECT_EQ(sink.data == datas[k], true) << e.name;
            if (c.encryption != ZipWriter::None) {
                StringSink wrong;
                EXPECT_FALSE(r.extract(k, wrong, "pass", &error));
                EXPECT_EQ(error.rfind(e.name + ": wrong password", 0), 0u) << error;
                StringSink none;
                EXPECT_FALSE(r.extract(k, none, nullptr, &error));
            }
        }
    }
}

TEST(ZipWriterTest, NamesTimesAttributesAndZip64) {
    ScratchDir dir;
    dir.write("src", "contents");
    platform::FileInfo info;
    ASSERT_TRUE(platform::fileInfo(dir.file("src").c_str(), &info));
    for (bool force : {false, true}) {
        SCOPED_TRACE(force);
        std::string path = dir.file("n.zip");
        ZipWriter w;
        std::string error;
        ASSERT_TRUE(w.create(path.c_str(), &error));
        ZipWriter::Options options;
        options.level = 0;
        options.forceZip64 = force;
        const std::string utf8 = "d\xC3\xADr/\xC3\xB1" "ame\xE2\x82\xAC.txt";
        ASSERT_TRUE(w.addDirectoryEntry(nullptr, "d\xC3\xADr", &error)) << error;
        ASSERT_TRUE(w.addFile(dir.file("src").c_str(), utf8, options, &error)) << error;
        ASSERT_TRUE(w.addFile(dir.file("src").c_str(), "plain.txt", options, &error)) << error;
        EXPECT_FALSE(w.addFile(dir.file("src").c_str(), "plain.txt", options, &error));
        EXPECT_EQ(error, "plain.txt: duplicate entry name");
        ASSERT_TRUE(w.close(&error)) << error;
        dir.track(path);
        std::string bytes = readWholeFile(path);
        EXPECT_EQ(bytes.find(std::string("PK\x06\x06", 4)) != std::string::npos, force);
        ZipReader r;
        ASSERT_TRUE(r.openFile(path.c_str(), &error)) << error;
        ASSERT_EQ(r.entryCount(), 3u);
        EXPECT_EQ(r.entry(0).name, "d\xC3\xADr/");
        EXPECT_TRUE(r.entry(0).isDirectory());
        EXPECT_EQ(r.entry(0).dosAttributes() & 0x10, 0x10u);
        EXPECT_EQ(r.entry(1).name, utf8);
        EXPECT_EQ(r.entry(1).flags & 0x0800, 0x0800);
        EXPECT_EQ(r.entry(2).flags & 0x0800, 0);
        EXPECT_EQ(r.entry(1).dosDate, info.dosDate);
        EXPECT_EQ(r.entry(1).dosTime, info.dosTime);
        EXPECT_EQ(r.entry(1).dosAttributes(), info.attributes);
        for (size_t i = 0; i < 3; i++) {
            StringSink sink;
            EXPECT_TRUE(r.extract(i, sink, nullptr, &error)) << error;
            EXPECT_EQ(sink.data, i ? "contents" : "");
        }
    }
}

// On Unix the entries say so (host 3) and carry the modes, the MS-DOS
// attributes still in the low byte; Windows has only the attributes.
TEST(ZipWriterTest, HostAndModesOfFilesAndFolders) {
    struct Case {
        const char* name;
        bool folder;
        unsigned mode;  // Unix permissions
        uint32_t dos;   // MS-DOS attributes, also as the reader derives them
    } cases[] = {{"plain.txt", false, 0644, 0x20},
                 {"tool.sh", false, 0755, 0x20},
                 {"locked.txt", false, 0444, 0x21},
                 {"dir", true, 0750, 0x10}};
    ScratchDir dir;
    std::string path = dir.file("m.zip"), error;
    ZipWriter w;
    ASSERT_TRUE(w.create(path.c_str(), &error)) << error;
    for (const Case& c : cases) {
        const std::string disk = dir.file(c.name);
        if (c.folder) {
            ASSERT_TRUE(platform::createDirectory(disk.c_str()));
        } else {
            dir.write(c.name, "some text");
        }
#ifndef _WIN32
        ASSERT_EQ(::chmod(disk.c_str(), c.mode), 0);
#endif
        if (c.dos & 0x01) {
            ASSERT_TRUE(platform::setFileAttributes(disk.c_str(), c.dos));
        }
        const bool added = c.folder ? w.addDirectoryEntry(disk.c_str(), c.name, &error)
                                    : w.addFile(disk.c_str(), c.name, ZipWriter::Options(), &error);
        ASSERT_TRUE(added) << error;
    }
    ASSERT_TRUE(w.close(&error)) << error;
    dir.track(path);
    ZipReader r;
    ASSERT_TRUE(r.openFile(path.c_str(), &error)) << error;
    ASSERT_EQ(r.entryCount(), std::size(cases));
    for (size_t i = 0; i < r.entryCount(); i++) {
        const Case& c = cases[i];
        const ZipEntry& e = r.entry(i);
        SCOPED_TRACE(e.name);
#ifdef _WIN32
        EXPECT_EQ(e.versionMadeBy >> 8, 0);
        EXPECT_EQ(e.externalAttributes, c.dos);
#else
        EXPECT_EQ(e.versionMadeBy >> 8, 3);
        EXPECT_EQ(e.externalAttributes, ((c.folder ? 0040000u : 0100000u) | c.mode) << 16 | c.dos);
#endif
        EXPECT_EQ(e.dosAttributes(), c.dos);
        const std::string disk = dir.file(c.name);
        if (c.folder) {
            platform::removeDirectory(disk.c_str());
        } else {
            platform::setFileAttributes(disk.c_str(), 0x20);  // Windows deletes no read-only file
            dir.track(disk);
        }
    }
}

// 65535 entries and more need the ZIP64 end records.
TEST(ZipWriterTest, ManyEntriesUseZip64Records) {
    ScratchDir dir;
    const uint32_t count = 65535;
    std::string path = dir.file("many.zip");
    ZipWriter w;
    std::string error;
    ASSERT_TRUE(w.create(path.c_str(), &error));
    for (uint32_t i = 0; i < count; i++)
        ASSERT_TRUE(w.addDirectoryEntry(nullptr, "d" + std::to_string(i), &error)) << error;
    ASSERT_TRUE(w.close(&error)) << error;
    dir.track(path);
    std::string bytes = readWholeFile(path);
    EXPECT_NE(bytes.find(std::string("PK\x06\x06", 4)), std::string::npos);
    ZipReader r;
    ASSERT_TRUE(r.openFile(path.c_str(), &error)) << error;
    ASSERT_EQ(r.entryCount(), count);
    EXPECT_EQ(r.entry(count - 1).name, "d" + std::to_string(count - 1) + "/");
    StringSink sink;
    EXPECT_TRUE(r.extract(count - 1, sink, nullptr, &error)) << error;
}

TEST(ZipWriterTest, FoldersWithAndWithoutSubfolders) {
    ScratchDir dir;
    std::string root = dir.path() + "tree";
    ASSERT_TRUE(platform::createDirectory(root.c_str()));
    ASSERT_TRUE(platform::createDirectory((root + "/sub").c_str()));
    dir.write("tree/one.txt", "1");
    dir.write("tree/two.txt", "22");
    dir.write("tree/sub/three.txt", "333");
    for (bool recursive : {false, true}) {
        std::string path = dir.file("f.zip");
        ZipWriter w;
        std::string error;
        ASSERT_TRUE(w.create(path.c_str(), &error));
        ASSERT_TRUE(w.addFolder(root.c_str(), "top", recursive, ZipWriter::Options(), &error)) << error;
        ASSERT_TRUE(w.close(&error)) << error;
        dir.track(path);
        ZipReader r;
        ASSERT_TRUE(r.openFile(path.c_str(), &error)) << error;
        std::vector<std::string> names;
        for (size_t i = 0; i < r.entryCount(); i++) names.push_back(r.entry(i).name);
        if (recursive)
            EXPECT_EQ(names, (std::vector<std::string>{"top/one.txt", "top/sub/", "top/sub/three.txt", "top/two.txt"}));
        else
            EXPECT_EQ(names, (std::vector<std::string>{"top/one.txt", "top/two.txt"}));
    }
    platform::removeDirectory((root + "/sub").c_str());
    platform::removeDirectory(root.c_str());
}

TEST(ZipWriterTest, Failures) {
    ScratchDir dir;
    dir.write("src", "x");
    std::string error;
    ZipWriter w;
    EXPECT_FALSE(w.addFile(dir.file("src").c_str(), "a", ZipWriter::Options(), &error));
    EXPECT_EQ(error, "no archive is being written");
    EXPECT_FALSE(w.create((dir.path() + "no/such/dir.zip").c_str(), &error));
    const std::string refused = dir.path() + "no/such/dir.zip: cannot create a temporary file beside it: ";
    EXPECT_TRUE(error.size() > refused.size() && error.compare(0, refused.size(), refused) == 0) << error;
    std::string path = dir.file("w.zip");
    ASSERT_TRUE(w.create(path.c_str(), &error));
    EXPECT_FALSE(w.addFile(dir.file("missing").c_str(), "m", ZipWriter::Options(), &error));
    EXPECT_EQ(error, dir.file("missing") + ": cannot read the file's information");
    EXPECT_FALSE(w.addFile(dir.file("src").c_str(), "", ZipWriter::Options(), &error));
    EXPECT_EQ(error, "empty entry name");
    // The archive is still good after refused additions.
    ASSERT_TRUE(w.addFile(dir.file("src").c_str(), "s", ZipWriter::Options(), &error)) << error;
    ASSERT_TRUE(w.close(&error)) << error;
    dir.track(path);
    ZipReader r;
    ASSERT_TRUE(r.openFile(path.c_str(), &error)) << error;
    EXPECT_EQ(r.entryCount(), 1u);
}
