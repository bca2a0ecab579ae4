// The reader over a caller's byte source: the same archive through a
// source that counts and checks every read, one that refuses a range, and
// the ownership of the source.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/testing/scratch_dir.h"
#include "zip/zip_archive.h"

namespace {

struct StringSink : ZipDataSink {
    std::string data;
    bool write(const uint8_t* p, size_t n) override {
        data.append(reinterpret_cast<const char*>(p), n);
        return true;
    }
};

// Serves an archive held in a string, refuses every read that touches
// [refuseFrom, refuseTo), and records what it was asked for.
class CheckingSource : public ZipSource {
public:
    CheckingSource(const std::string& bytes, bool* destroyed = nullptr) : bytes_(bytes), destroyed_(destroyed) {}
    ~CheckingSource() override {
        if (destroyed_) *destroyed_ = true;
    }
    uint64_t size() const override { return bytes_.size(); }
    bool read(uint64_t pos, void* buf, size_t n) override {
        reads++;
        if (pos > bytes_.size() || n > bytes_.size() - pos) {
            outOfRange++;
            return false;
        }
        if (pos < refuseTo && pos + n > refuseFrom) return false;
        std::copy(bytes_.begin() + long(pos), bytes_.begin() + long(pos + n), static_cast<char*>(buf));
        return true;
    }

    uint64_t refuseFrom = 0, refuseTo = 0;
    int reads = 0, outOfRange = 0;

private:
    std::string bytes_;
    bool* destroyed_;
};

struct Archive {
    std::string bytes;
    std::vector<std::string> contents;
};

// Three stored entries with recognisable contents; more than the 64 KiB
// that the open reads at the end, so that the first two entries lie
// outside that read.
Archive makeArchive() {
    Archive a;
    ScratchDir dir;
    a.contents = {"first entry contents", std::string(100000, 'b') + "second", "third!"};
    ZipWriter w;
    std::string error;
    std::string path = dir.file("a.zip");
    EXPECT_TRUE(w.create(path.c_str(), &error)) << error;
    ZipWriter::Options options;
    options.level = 0;
    for (size_t k = 0; k < a.contents.size(); k++) {
        dir.write("in" + std::to_string(k), a.contents[k]);
        EXPECT_TRUE(w.addFile(dir.file("in" + std::to_string(k)).c_str(), "e" + std::to_string(k), options, &error))
            << error;
    }
    EXPECT_TRUE(w.close(&error)) << error;
    dir.track(path);
    a.bytes = readWholeFile(path);
    return a;
}

TEST(ZipSourceTest, ReaderOverASourceReadsOnlyInsideIt) {
    Archive a = makeArchive();
    ASSERT_FALSE(a.bytes.empty());
    auto* source = new CheckingSource(a.bytes);
    ZipReader r;
    std::string error;
    ASSERT_TRUE(r.openSource(std::unique_ptr<ZipSource>(source), &error)) << error;
    ASSERT_EQ(r.entryCount(), a.contents.size());
    for (size_t k = 0; k < a.contents.size(); k++) {
        EXPECT_EQ(r.entry(k).name, "e" + std::to_string(k));
        StringSink sink;
        EXPECT_TRUE(r.extract(k, sink, nullptr, &error)) << error;
        EXPECT_EQ(sink.data, a.contents[k]);
    }
    EXPECT_GT(source->reads, 3);
    EXPECT_EQ(source->outOfRange, 0);
}

// A range that cannot be read fails exactly what needs it: the entry
// whose header or data lies there, or the open when it lies in the end of
// the archive (the directory and the end record).
TEST(ZipSourceTest, UnreadableRangesFailWhatNeedsThem) {
    Archive a = makeArchive();
    const uint64_t second = a.bytes.find(a.contents[1]);
    const uint64_t central = a.bytes.find("PK\x01\x02");
    ASSERT_NE(second, std::string::npos);
    ASSERT_NE(central, std::string::npos);
    ASSERT_GT(central, 70000u);
    struct {
        uint64_t from, to;
        const char* openError;  // null: the open succeeds
        int failingEntry;       // -1: none
        const char* entryError;
    } const cases[] = {
        {second + 100, second + 101, nullptr, 1, "e1: cannot read the data"},
        {3, 4, nullptr, 0, "e0: cannot read the local header"},
        {central + 10, central + 11, "cannot read the end of the archive", -1, ""},
        {a.bytes.size() - 1, a.bytes.size(), "cannot read the end of the archive", -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        auto* source = new CheckingSource(a.bytes);
        source->refuseFrom = c.from;
        source->refuseTo = c.to;
        ZipReader r;
        std::string error;
        bool opened = r.openSource(std::unique_ptr<ZipSource>(source), &error);
        if (c.openError) {
            EXPECT_FALSE(opened);
            EXPECT_EQ(error, c.openError);
            EXPECT_EQ(r.entryCount(), 0u);
            continue;
        }
        ASSERT_TRUE(opened) << error;
        for (size_t k = 0; k < a.contents.size(); k++) {
            StringSink sink;
            error.clear();
            bool ok = r.extract(k, sink, nullptr, &error);
            if (int(k) == c.failingEntry) {
                EXPECT_FALSE(ok);
                EXPECT_EQ(error, c.entryError);
            } else {
                EXPECT_TRUE(ok) << error;
                EXPECT_EQ(sink.data, a.contents[k]);
            }
        }
        EXPECT_EQ(source->outOfRange, 0);
    }
}

TEST(ZipSourceTest, TheReaderOwnsItsSource) {
    Archive a = makeArchive();
    bool destroyed = false;
    {
        ZipReader r;
        std::string error;
        ASSERT_TRUE(r.openSource(std::unique_ptr<ZipSource>(new CheckingSource(a.bytes, &destroyed)), &error));
        EXPECT_FALSE(destroyed);
        r.close();
        EXPECT_TRUE(destroyed);
    }
    // A source that holds no archive is released with the failed open.
    destroyed = false;
    ZipReader r;
    std::string error;
    EXPECT_FALSE(r.openSource(std::unique_ptr<ZipSource>(new CheckingSource("not a zip", &destroyed)), &error));
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(error.empty());
    // No source at all.
    error.clear();
    EXPECT_FALSE(r.openSource(nullptr, &error));
    EXPECT_EQ(error, "no source to read the archive from");
    EXPECT_EQ(r.entryCount(), 0u);
}

}  // namespace
