#include "zip/inflate.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "zip/codec_test_util.h"
#include "zip/crc32.h"

using namespace codec_test;

namespace {

#include "zip/inflate_test_vectors.inc"

// Fixed Huffman literal/length code of sym (RFC 1951 3.2.6), MSB first.
void fixedSym(BitWriter& w, unsigned sym) {
    if (sym < 144) w.code(0x30 + sym, 8);
    else if (sym < 256) w.code(0x190 + sym - 144, 9);
    else if (sym < 280) w.code(sym - 256, 7);
    else w.code(0xC0 + sym - 280, 8);
}

// Dynamic block header with HCLEN = 19 and the given code-length code
// lengths (indexed by symbol), then the code-length symbols as
// (symbol, extra value) pairs, coded with canonical codes for clens.
struct ClenItem { unsigned sym, extra; };
void dynamicHeader(BitWriter& w, bool final, unsigned hlit, unsigned hdist, const unsigned (&clens)[19],
                   std::initializer_list<ClenItem> items) {
    static const unsigned kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    w.bits(final ? 1 : 0, 1).bits(2, 2).bits(hlit - 257, 5).bits(hdist - 1, 5).bits(19 - 4, 4);
    for (unsigned i = 0; i < 19; i++) w.bits(clens[kOrder[i]], 3);
    // canonical codes
    unsigned count[8] = {}, next[8] = {}, codes[19] = {};
    for (unsigned i = 0; i < 19; i++) count[clens[i]]++;
    count[0] = 0;
    unsigned c = 0;
    for (unsigned l = 1; l < 8; l++) next[l] = c = (c + count[l - 1]) << 1;
    for (unsigned i = 0; i < 19; i++)
        if (clens[i]) codes[i] = next[clens[i]]++;
    for (auto it : items) {
        w.code(codes[it.sym], clens[it.sym]);
        if (it.sym == 16) w.bits(it.extra, 2);
        if (it.sym == 17) w.bits(it.extra, 3);
        if (it.sym == 18) w.bits(it.extra, 7);
    }
}

Bytes withPadding(Bytes b) {
    b.insert(b.end(), 16, 0);
    return b;
}

struct ErrorCase {
    const char* name;
    Bytes stream;
    const char* message;
};

std::vector<ErrorCase> errorCases() {
    std::vector<ErrorCase> v;
    {
        BitWriter w;
        w.bits(1, 1).bits(3, 2);
        v.push_back({"block type 3", w.done(), "invalid block type"});
    }
    {
        BitWriter w;
        w.bits(1, 1).bits(0, 2).byte(0x05).byte(0x00).byte(0xFA).byte(0xF0);
        v.push_back({"NLEN not the complement", w.done(), "invalid stored block lengths"});
    }
    {
        BitWriter w;
        w.bits(1, 1).bits(2, 2).bits(30, 5).bits(0, 5).bits(0, 4);
        v.push_back({"HLIT 287", w.done(), "too many length or distance symbols"});
    }
    {
        BitWriter w;
        w.bits(1, 1).bits(2, 2).bits(0, 5).bits(30, 5).bits(0, 4);
        v.push_back({"HDIST 31", w.done(), "too many length or distance symbols"});
    }
    {
        BitWriter w;  // four code-length codes of one bit: over-subscribed
        w.bits(1, 1).bits(2, 2).bits(0, 5).bits(0, 5).bits(0, 4).bits(1, 3).bits(1, 3).bits(1, 3).bits(1, 3);
        v.push_back({"code-length code over-subscribed", w.done(), "invalid code lengths set"});
    }
    {
        BitWriter w;  // one code-length code of two bits: incomplete
        w.bits(1, 1).bits(2, 2).bits(0, 5).bits(0, 5).bits(0, 4).bits(0, 3).bits(0, 3).bits(0, 3).bits(2, 3);
        v.push_back({"code-length code incomplete", w.done(), "invalid code lengths set"});
    }
    {
        BitWriter w;  // repeat-previous as the very first length
        unsigned cl[19] = {};
        cl[0] = 1;
        cl[16] = 1;
        dynamicHeader(w, true, 257, 1, cl, {{16, 0}});
        v.push_back({"repeat with no previous length", w.done(), "invalid bit length repeat"});
    }
    {
        BitWriter w;  // 138 + 127 zeros: more than 257 + 1 lengths
        unsigned cl[19] = {};
        cl[0] = 1;
        cl[18] = 1;
        dynamicHeader(w, true, 257, 1, cl, {{18, 127}, {18, 116}});
        v.push_back({"repeat past the end", w.done(), "invalid bit length repeat"});
    }
    {
        BitWriter w;  // all 258 lengths zero: no end-of-block code
        unsigned cl[19] = {};
        cl[0] = 1;
        cl[18] = 1;
        dynamicHeader(w, true, 257, 1, cl, {{18, 127}, {18, 109}});
        v.push_back({"no end-of-block code", w.done(), "missing end-of-block code"});
    }
    {
        BitWriter w;  // 257 literal/length codes of 8 bits: over-subscribed
        unsigned cl[19] = {};
        cl[0] = 1;
        cl[8] = 1;
        std::initializer_list<ClenItem> none = {};
        dynamicHeader(w, true, 257, 1, cl, none);
        for (int i = 0; i < 258; i++) w.code(1, 1);
        v.push_back({"literal/length code over-subscribed", w.done(), "invalid literal/lengths set"});
    }
    {
        BitWriter w;  // literal/length code {0, 256} complete; three distance codes of one bit
        unsigned cl[19] = {};
        cl[0] = 2;
        cl[1] = 2;
        cl[17] = 2;
        cl[18] = 2;
        dynamicHeader(w, true, 257, 3, cl, {{1, 0}, {18, 127}, {18, 106}, {1, 0}, {1, 0}, {1, 0}, {1, 0}});
        v.push_back({"distance code over-subscribed", w.done(), "invalid distances set"});
    }
    {
        BitWriter w;  // literal/length code with a single two-bit code: incomplete
        unsigned cl[19] = {};
        cl[0] = 2;
        cl[2] = 2;
        cl[17] = 2;
        cl[18] = 2;
        dynamicHeader(w, true, 257, 1, cl, {{18, 127}, {18, 107}, {2, 0}, {0, 0}});
        v.push_back({"literal/length code incomplete", w.done(), "invalid literal/lengths set"});
    }
    {
        BitWriter w;  // fixed code: symbol 286 does not exist
        w.bits(1, 1).bits(1, 2);
        fixedSym(w, 286);
        v.push_back({"literal/length symbol 286", w.done(), "invalid literal/length code"});
    }
    {
        BitWriter w;  // fixed code: distance symbol 30 does not exist
        w.bits(1, 1).bits(1, 2);
        fixedSym(w, 'a');
        fixedSym(w, 257);
        w.code(30, 5);
        v.push_back({"distance symbol 30", w.done(), "invalid distance code"});
    }
    {
        BitWriter w;  // one byte of history, distance 2
        w.bits(1, 1).bits(1, 2);
        fixedSym(w, 'a');
        fixedSym(w, 257);
        w.code(1, 5);
        v.push_back({"distance beyond the output", w.done(), "invalid distance too far back"});
    }
    {
        BitWriter w;  // a stored block, then a match reaching before it
        w.bits(0, 1).bits(0, 2).byte(2).byte(0).byte(0xFD).byte(0xFF).byte('x').byte('y');
        w.bits(1, 1).bits(1, 2);
        fixedSym(w, 257);
        w.code(2, 5);  // distance 3
        v.push_back({"distance beyond earlier blocks", w.done(), "invalid distance too far back"});
    }
    return v;
}

TEST(Inflate, EachErrorClassHasItsMessage) {
    for (const auto& c : errorCases()) {
        SCOPED_TRACE(c.name);
        Bytes padded = withPadding(c.stream);
        InflateResult whole = inflateAll(padded);
        EXPECT_EQ(whole.status, Inflater::Error);
        EXPECT_EQ(whole.message, c.message);
        // One byte at a time: the same error.
        InflateResult bytewise = inflateChunked(padded, 1, 1);
        EXPECT_EQ(bytewise.status, Inflater::Error);
        EXPECT_EQ(bytewise.message, c.message);
    }
}

TEST(Inflate, ErrorIsSticky) {
    Inflater inf;
    uint8_t bad[] = {0x07, 0, 0};
    const uint8_t* p = bad;
    size_t n = sizeof bad;
    uint8_t out[16];
    uint8_t* o = out;
    size_t room = sizeof out;
    EXPECT_EQ(inf.run(p, n, o, room), Inflater::Error);
    EXPECT_EQ(inf.run(p, n, o, room), Inflater::Error);
    EXPECT_STREQ(inf.message(), "invalid block type");
    inf.reset();
    uint8_t good[] = {0x03, 0x00};  // empty fixed block
    p = good;
    n = sizeof good;
    EXPECT_EQ(inf.run(p, n, o, room), Inflater::Done);
    EXPECT_EQ(inf.totalOut(), 0u);
}

TEST(Inflate, HandBuiltValidStreams) {
    struct Case {
        const char* name;
        Bytes stream;
        std::string expect;
    };
    std::vector<Case> cases;
    {
        BitWriter w;
        w.bits(0, 1).bits(0, 2).byte(3).byte(0).byte(0xFC).byte(0xFF).byte('a').byte('b').byte('c');
        w.bits(0, 1).bits(0, 2).byte(0).byte(0).byte(0xFF).byte(0xFF);  // empty stored block
        w.bits(1, 1).bits(0, 2).byte(1).byte(0).byte(0xFE).byte(0xFF).byte('d');
        cases.push_back({"stored blocks", w.done(), "abcd"});
    }
    {
        BitWriter w;  // "ab" then a length-258 match at distance 2, then a length-3 at distance 1
        w.bits(1, 1).bits(1, 2);
        fixedSym(w, 'a');
        fixedSym(w, 'b');
        fixedSym(w, 285);
        w.code(1, 5);
        fixedSym(w, 257);
        w.code(0, 5);
        fixedSym(w, 256);
        std::string e = "ab";
        for (int i = 0; i < 129; i++) e += "ab";
        e += "bbb";
        cases.push_back({"fixed block with matches", w.done(), e});
    }
    {
        BitWriter w;
        unsigned cl[19] = {};
        cl[0] = 2;
        cl[1] = 2;
        cl[17] = 2;
        cl[18] = 2;
        // 113 zeros ('q' = 113), length 1 for 'q', 142 zeros, length 1 for 256, distance length 0
        dynamicHeader(w, true, 257, 1, cl, {{18, 113 - 11}, {1, 0}, {18, 138 - 11}, {17, 4 - 3}, {1, 0}, {0, 0}});
        w.code(0, 1).code(0, 1).code(0, 1).code(1, 1);
        cases.push_back({"dynamic block, no distance codes", w.done(), "qqq"});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InflateResult r = inflateAll(c.stream);
        EXPECT_EQ(r.status, Inflater::Done) << r.message;
        EXPECT_EQ(std::string(r.out.begin(), r.out.end()), c.expect);
        InflateResult b = inflateChunked(c.stream, 1, 1);
        EXPECT_EQ(b.status, Inflater::Done);
        EXPECT_EQ(b.out, r.out);
    }
}

TEST(Inflate, StreamsMadeByZlib) {
    struct Case {
        const char* name;
        const uint8_t* data;
        size_t size;
    };
    const Case cases[] = {{"level 1", kLevel1, sizeof kLevel1},        {"level 6", kLevel6, sizeof kLevel6},
                          {"level 9", kLevel9, sizeof kLevel9},        {"fixed", kFixed, sizeof kFixed},
                          {"huffman only", kHuffmanOnly, sizeof kHuffmanOnly}, {"rle", kRle, sizeof kRle}};
    Bytes expect = sampleText();
    ASSERT_EQ(expect.size(), 2905u);
    ASSERT_EQ(crc32Update(0, expect.data(), expect.size()), 0x4d392e71u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes in(c.data, c.data + c.size);
        for (size_t chunk : {size_t(1), size_t(7), size_t(300), in.size()}) {
            SCOPED_TRACE(chunk);
            InflateResult r = inflateChunked(in, chunk, chunk);
            EXPECT_EQ(r.status, Inflater::Done) << r.message;
            EXPECT_EQ(r.out, expect);
            EXPECT_EQ(r.inputLeft, 0u);
        }
    }
}

TEST(Inflate, TruncatedStreamsAskForMoreAtEveryLength) {
    Bytes full(kLevel6, kLevel6 + sizeof kLevel6);
    Bytes expect = sampleText();
    for (size_t len = 0; len < full.size(); len++) {
        Bytes cut(full.begin(), full.begin() + long(len));
        InflateResult r = inflateChunked(cut, cut.size() + 1, 4096);
        ASSERT_EQ(r.status, Inflater::NeedMore) << len;
        ASSERT_LE(r.out.size(), expect.size());
        ASSERT_TRUE(std::equal(r.out.begin(), r.out.end(), expect.begin())) << len;
    }
}

TEST(Inflate, UnusedInputIsLeftAfterDone) {
    Bytes in(kLevel9, kLevel9 + sizeof kLevel9);
    const char tail[] = "PK\x03\x04 next entry";
    in.insert(in.end(), tail, tail + sizeof tail);
    InflateResult r = inflateAll(in);
    EXPECT_EQ(r.status, Inflater::Done);
    EXPECT_EQ(r.inputLeft, sizeof tail);
    InflateResult b = inflateChunked(in, 1, 1);
    EXPECT_EQ(b.status, Inflater::Done);
    EXPECT_EQ(b.inputLeft, sizeof tail);
}

TEST(Inflate, ExactOutputRoomReachesDone) {
    Bytes in(kLevel6, kLevel6 + sizeof kLevel6);
    Inflater inf;
    Bytes out(2905);
    const uint8_t* p = in.data();
    size_t n = in.size();
    uint8_t* o = out.data();
    size_t room = out.size();
    EXPECT_EQ(inf.run(p, n, o, room), Inflater::Done);
    EXPECT_EQ(room, 0u);
    EXPECT_EQ(out, sampleText());
    EXPECT_EQ(inf.totalOut(), 2905u);
}

TEST(Inflate, MatchesAcrossCallsUseTheWindow) {
    // 32768 distinct-ish bytes, then a 258-byte match at distance 32768,
    // inflated with small output pieces so the match comes from the window.
    Bytes lit = randomBytes(32768, 7);
    BitWriter w;
    w.bits(0, 1).bits(0, 2).byte(0x00).byte(0x80).byte(0xFF).byte(0x7F);
    for (uint8_t b : lit) w.byte(b);
    w.bits(1, 1).bits(1, 2);
    fixedSym(w, 285);
    w.code(29, 5).bits(32768 - 24577, 13);
    fixedSym(w, 256);
    Bytes stream = w.done();
    Bytes expect = lit;
    expect.insert(expect.end(), lit.begin(), lit.begin() + 258);
    for (size_t chunk : {size_t(1), size_t(100), size_t(40000)}) {
        InflateResult r = inflateChunked(stream, chunk, chunk);
        EXPECT_EQ(r.status, Inflater::Done) << chunk << " " << r.message;
        EXPECT_EQ(r.out, expect) << chunk;
    }
}

TEST(Inflate, CorruptedBytesFailCleanlyWithAKnownMessage) {
    const std::set<std::string> known = {
        "invalid block type", "invalid stored block lengths", "too many length or distance symbols",
        "invalid code lengths set", "invalid bit length repeat", "missing end-of-block code",
        "invalid literal/lengths set", "invalid distances set", "invalid literal/length code",
        "invalid distance code", "invalid distance too far back"};
    std::map<std::string, int> seen;
    for (const auto& vec : {Bytes(kLevel6, kLevel6 + sizeof kLevel6), Bytes(kFixed, kFixed + sizeof kFixed)}) {
        for (size_t i = 0; i < vec.size(); i++) {
            for (uint8_t flip : {uint8_t(0xFF), uint8_t(0x01), uint8_t(0x80)}) {
                Bytes bad = vec;
                bad[i] ^= flip;
                InflateResult r = inflateChunked(bad, bad.size() + 1, 4096, 1 << 20);
                if (r.status == Inflater::Error) {
                    ASSERT_TRUE(known.count(r.message)) << i << ": " << r.message;
                    seen[r.message]++;
                }
            }
        }
    }
    // Damage in a real stream shows up as errors, not only as wrong output.
    EXPECT_GE(seen.size(), 4u);
}

}  // namespace
