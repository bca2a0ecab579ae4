// zlib as an outside oracle (native builds only): our deflate streams must
// inflate in zlib to the input, and zlib's streams at every level and
// strategy must inflate here, whole and in pieces.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "zip/codec_test_util.h"

using namespace codec_test;

namespace {

Bytes zlibInflate(const Bytes& in, size_t expectSize, int* rc) {
    Bytes out(expectSize + 16);
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    *rc = inflate(&z, Z_FINISH);
    out.resize(z.total_out);
    if (z.avail_in != 0) *rc = -100;  // trailing garbage after our stream
    inflateEnd(&z);
    return out;
}

Bytes zlibDeflate(const Bytes& in, int level, int strategy, int memLevel) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, memLevel, strategy);
    Bytes out(deflateBound(&z, uLong(in.size())) + 64);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::vector<std::pair<std::string, Bytes>> corpus() {
    std::vector<std::pair<std::string, Bytes>> v;
    v.push_back({"empty", {}});
    v.push_back({"one byte", {'q'}});
    v.push_back({"run", Bytes(300000, 0)});
    v.push_back({"random", randomBytes(100000, 5)});
    Bytes text;
    uint32_t x = 1;
    while (text.size() < 300000) {
        x = x * 1103515245u + 12345u;
        Bytes t = sampleText();
        size_t off = (x >> 8) % 1500, len = 20 + (x >> 20) % 400;
        text.insert(text.end(), t.begin() + long(off), t.begin() + long(off + len));
        text.push_back(uint8_t(x >> 24));
    }
    v.push_back({"text", text});
    Bytes far = randomBytes(32768, 6);
    Bytes farRep = far;
    farRep.insert(farRep.end(), far.begin(), far.end());
    v.push_back({"repeat at 32768", farRep});
    return v;
}

TEST(DeflateZlibOracle, ZlibInflatesOurStreams) {
    for (const auto& [name, data] : corpus()) {
        for (int level = 0; level <= 9; level++) {
            SCOPED_TRACE(name + " level " + std::to_string(level));
            for (size_t chunk : {data.size() + 1, size_t(777)}) {
                Bytes z = deflateChunked(data, level, chunk);
                int rc;
                Bytes back = zlibInflate(z, data.size(), &rc);
                ASSERT_EQ(rc, Z_STREAM_END);
                ASSERT_EQ(back, data);
            }
        }
    }
}

TEST(DeflateZlibOracle, WeInflateZlibStreams) {
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    for (const auto& [name, data] : corpus()) {
        for (int level = 0; level <= 9; level++) {
            for (int strategy : strategies) {
                for (int memLevel : {1, 9}) {
                    SCOPED_TRACE(name + " level " + std::to_string(level) + " strategy " + std::to_string(strategy) +
                                 " memLevel " + std::to_string(memLevel));
                    Bytes z = zlibDeflate(data, level, strategy, memLevel);
                    InflateResult r = inflateAll(z);
                    ASSERT_EQ(r.status, Inflater::Done) << r.message;
                    ASSERT_EQ(r.out, data);
                }
            }
        }
        SCOPED_TRACE(name + " in pieces");
        Bytes z = zlibDeflate(data, 9, Z_DEFAULT_STRATEGY, 8);
        InflateResult r = inflateChunked(z, 3, 1000);
        ASSERT_EQ(r.status, Inflater::Done) << r.message;
        ASSERT_EQ(r.out, data);
    }
}

TEST(DeflateZlibOracle, Level6SizeIsCloseToZlib) {
    for (const auto& [name, data] : corpus()) {
        if (data.size() < 1000) continue;
        SCOPED_TRACE(name);
        size_t ours = deflateAll(data, 6).size();
        size_t theirs = zlibDeflate(data, 6, Z_DEFAULT_STRATEGY, 8).size();
        EXPECT_LE(ours, theirs + theirs / 20 + 64);
    }
}

}  // namespace
