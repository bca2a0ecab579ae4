#include "zip/deflate.h"

#include <gtest/gtest.h>

#include <string>

#include "zip/codec_test_util.h"

using namespace codec_test;

namespace {

struct Sample {
    const char* name;
    Bytes data;
};

std::vector<Sample> samples() {
    std::vector<Sample> v;
    v.push_back({"empty", {}});
    v.push_back({"one byte", {'x'}});
    v.push_back({"two bytes", {0, 0xFF}});
    v.push_back({"run of 100000", Bytes(100000, 'a')});
    v.push_back({"random 70000", randomBytes(70000, 1)});
    Bytes text;
    while (text.size() < 200000) {
        Bytes t = sampleText();
        text.insert(text.end(), t.begin(), t.begin() + 2000);
    }
    v.push_back({"text 200000", text});
    // A random 32 KiB block repeated: every match is at the far edge of the
    // window or beyond it.
    Bytes far = randomBytes(32768, 2);
    Bytes farRep = far;
    farRep.insert(farRep.end(), far.begin(), far.end());
    farRep.insert(farRep.end(), far.begin(), far.begin() + 1000);
    v.push_back({"repeat at 32768", farRep});
    Bytes nearFar = randomBytes(32000, 4);
    Bytes nearRep = nearFar;
    nearRep.insert(nearRep.end(), nearFar.begin(), nearFar.end());
    v.push_back({"repeat at 32000", nearRep});
    // Mixed: incompressible stretches between compressible ones.
    Bytes mixed;
    for (int i = 0; i < 6; i++) {
        Bytes r = randomBytes(20000, 10 + uint32_t(i));
        mixed.insert(mixed.end(), r.begin(), r.end());
        mixed.insert(mixed.end(), text.begin(), text.begin() + 20000);
    }
    v.push_back({"mixed 240000", mixed});
    Bytes periodic;
    for (int i = 0; i < 50000; i++) periodic.push_back(uint8_t("abcdefg"[i % 7] + (i % 1000 == 0)));
    v.push_back({"periodic", periodic});
    return v;
}

TEST(Deflate, RoundTripsEveryLevel) {
    for (const auto& s : samples()) {
        for (int level = 0; level <= 9; level++) {
            SCOPED_TRACE(std::string(s.name) + " level " + std::to_string(level));
            Bytes z = deflateAll(s.data, level);
            InflateResult r = inflateAll(z);
            ASSERT_EQ(r.status, Inflater::Done) << r.message;
            ASSERT_EQ(r.out, s.data);
            EXPECT_EQ(r.inputLeft, 0u);
        }
    }
}

TEST(Deflate, CompressesWhatIsCompressibleAndBoundsTheRest) {
    auto all = samples();
    for (const auto& s : all) {
        SCOPED_TRACE(s.name);
        Bytes stored = deflateAll(s.data, 0);
        // Stored: 5 bytes per 65535-byte block (at least one block).
        size_t blocks = s.data.empty() ? 1 : (s.data.size() + 65534) / 65535;
        EXPECT_EQ(stored.size(), s.data.size() + 5 * blocks);
        for (int level = 1; level <= 9; level++) {
            Bytes z = deflateAll(s.data, level);
            // Never much worse than storing.
            EXPECT_LE(z.size(), s.data.size() + 5 * (s.data.size() / 16000 + 1)) << level;
        }
    }
    const Bytes& run = all[3].data;
    EXPECT_LT(deflateAll(run, 1).size(), 1000u);
    EXPECT_LT(deflateAll(run, 9).size(), 300u);
    const Bytes& text = all[5].data;
    size_t l1 = deflateAll(text, 1).size(), l6 = deflateAll(text, 6).size(), l9 = deflateAll(text, 9).size();
    EXPECT_LT(l6, text.size() / 10);  // 2000 bytes repeated
    EXPECT_LE(l9, l6);
    EXPECT_LE(l6, l1);
    const Bytes& far = all[6].data;
    // The far repeat (32768) is out of reach, so random data stays ~stored size.
    EXPECT_GT(deflateAll(far, 9).size(), 32768u * 2);
    const Bytes& nearRep = all[7].data;
    EXPECT_LT(deflateAll(nearRep, 6).size(), 33000u);
}

TEST(Deflate, ChunkedWritesGiveTheSameStream) {
    auto all = samples();
    for (size_t i : {size_t(4), size_t(5), size_t(8)}) {
        const auto& s = all[i];
        for (int level : {0, 1, 4, 6, 9}) {
            SCOPED_TRACE(std::string(s.name) + " level " + std::to_string(level));
            Bytes whole = deflateAll(s.data, level);
            EXPECT_EQ(deflateChunked(s.data, level, 1), whole);
            EXPECT_EQ(deflateChunked(s.data, level, 4097), whole);
        }
    }
}

TEST(Deflate, ChunkedInflateOfOurStreamsEqualsOneShot) {
    auto all = samples();
    for (size_t i : {size_t(3), size_t(5), size_t(6), size_t(8)}) {
        const auto& s = all[i];
        Bytes z = deflateAll(s.data, 6);
        for (auto pieces : {std::pair<size_t, size_t>{1, 1}, {1, 70000}, {70000, 1}, {13, 259}, {4096, 300}}) {
            SCOPED_TRACE(std::string(s.name) + " " + std::to_string(pieces.first) + "/" + std::to_string(pieces.second));
            InflateResult r = inflateChunked(z, pieces.first, pieces.second);
            ASSERT_EQ(r.status, Inflater::Done) << r.message;
            ASSERT_EQ(r.out, s.data);
        }
    }
}

class RefusingSink : public DeflateSink {
public:
    explicit RefusingSink(size_t allow) : allow_(allow) {}
    bool write(const uint8_t*, size_t length) override {
        calls++;
        if (length > allow_) return false;
        allow_ -= length;
        return true;
    }
    int calls = 0;

private:
    size_t allow_;
};

TEST(Deflate, SinkRefusalStopsTheStream) {
    Bytes data = randomBytes(300000, 9);
    for (int level : {0, 6}) {
        RefusingSink sink(1000);
        Deflater d(level, sink);
        bool ok = true;
        for (size_t pos = 0; pos < data.size() && ok; pos += 10000) ok = d.write(data.data() + pos, 10000);
        EXPECT_FALSE(ok && d.finish()) << level;
        int calls = sink.calls;
        EXPECT_FALSE(d.write(data.data(), 100));
        EXPECT_FALSE(d.finish());
        EXPECT_EQ(sink.calls, calls);
    }
}

TEST(Deflate, CountsInputAndOutput) {
    Bytes data = sampleText();
    VectorSink sink;
    Deflater d(6, sink);
    d.write(data.data(), 1000);
    d.write(data.data() + 1000, data.size() - 1000);
    EXPECT_EQ(d.totalIn(), data.size());
    EXPECT_TRUE(d.finish());
    EXPECT_EQ(d.totalOut(), sink.out.size());
    EXPECT_TRUE(d.finish());  // a second finish adds nothing
    EXPECT_EQ(d.totalOut(), sink.out.size());
}

// The type of the first block (BTYPE, bits 1-2 of the first byte).
unsigned firstBlockType(const Bytes& z) { return (z.at(0) >> 1) & 3; }

TEST(Deflate, ChoosesTheSmallestBlockType) {
    struct Case {
        const char* name;
        Bytes data;
        int level;
        unsigned type;
    };
    Bytes text;
    while (text.size() < 50000) {
        Bytes t = sampleText();
        text.insert(text.end(), t.begin(), t.begin() + 2000);
    }
    std::string hello = "hello, hello";
    const Case cases[] = {
        {"level 0", text, 0, 0},
        {"random data", randomBytes(5000, 8), 6, 0},
        {"a short text", Bytes(hello.begin(), hello.end()), 6, 1},
        {"empty", {}, 6, 1},
        {"a long text", text, 6, 2},
        {"a long text, level 1", text, 1, 2},
    };
    for (const auto& c : cases) {
        Bytes z = deflateAll(c.data, c.level);
        EXPECT_EQ(firstBlockType(z), c.type) << c.name;
    }
    // An empty stream is the 2-byte empty fixed block.
    EXPECT_EQ(deflateAll({}, 6), (Bytes{0x03, 0x00}));
}

TEST(Deflate, LevelsOutsideTheRangeAreClamped) {
    Bytes text = sampleText();
    EXPECT_EQ(deflateAll(text, -1), deflateAll(text, 6));
    EXPECT_EQ(deflateAll(text, 42), deflateAll(text, 9));
}

}  // namespace
