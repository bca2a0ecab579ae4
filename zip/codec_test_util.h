// Helpers shared by the codec tests: bit-stream building, whole-buffer and
// chunked inflate/deflate, reproducible sample data.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "zip/deflate.h"
#include "zip/inflate.h"

namespace codec_test {

using Bytes = std::vector<uint8_t>;

// Writes an LSB-first bit stream the way deflate packs it.
class BitWriter {
public:
    // value's low n bits, least significant first (header fields, extra bits)
    BitWriter& bits(uint32_t value, unsigned n) {
        for (unsigned i = 0; i < n; i++) put((value >> i) & 1);
        return *this;
    }
    // a Huffman code of n bits, most significant bit first
    BitWriter& code(uint32_t value, unsigned n) {
        for (unsigned i = n; i-- > 0;) put((value >> i) & 1);
        return *this;
    }
    BitWriter& align() {
        while (nbits_ % 8) put(0);
        return *this;
    }
    BitWriter& byte(uint8_t b) {
        align();
        bytes_.push_back(b);
        nbits_ += 8;
        return *this;
    }
    Bytes done() {
        align();
        return bytes_;
    }

private:
    void put(unsigned bit) {
        if (nbits_ % 8 == 0) bytes_.push_back(0);
        if (bit) bytes_.back() |= uint8_t(1u << (nbits_ % 8));
        nbits_++;
    }
    Bytes bytes_;
    size_t nbits_ = 0;
};

struct InflateResult {
    Inflater::Status status = Inflater::NeedMore;
    Bytes out;
    std::string message;
    size_t inputLeft = 0;  // unused input after Done
};

// Inflates in, feeding at most inChunk bytes and offering at most outChunk
// bytes of room per call; stops at Done, Error, or when a call with all
// input given and room offered makes no progress.
inline InflateResult inflateChunked(const Bytes& in, size_t inChunk, size_t outChunk, size_t outLimit = 1 << 26) {
    InflateResult r;
    Inflater inf;
    size_t pos = 0;
    Bytes buf(outChunk);
    for (;;) {
        size_t give = std::min(inChunk, in.size() - pos);
        const uint8_t* p = in.data() + pos;
        size_t avail = give;
        uint8_t* o = buf.data();
        size_t room = outChunk;
        r.status = inf.run(p, avail, o, room);
        size_t used = give - avail;
        pos += used;
        size_t made = outChunk - room;
        r.out.insert(r.out.end(), buf.begin(), buf.begin() + long(made));
        if (r.status == Inflater::Error) {
            r.message = inf.message();
            return r;
        }
        if (r.status == Inflater::Done) {
            r.inputLeft = in.size() - pos;
            return r;
        }
        if (used == 0 && made == 0 && pos == in.size()) return r;  // truncated
        if (r.out.size() > outLimit) return r;
    }
}

inline InflateResult inflateAll(const Bytes& in) { return inflateChunked(in, in.size() + 1, 1 << 20); }

class VectorSink : public DeflateSink {
public:
    bool write(const uint8_t* data, size_t length) override {
        out.insert(out.end(), data, data + length);
        return true;
    }
    Bytes out;
};

inline Bytes deflateChunked(const Bytes& in, int level, size_t chunk) {
    VectorSink sink;
    Deflater d(level, sink);
    for (size_t pos = 0; pos < in.size(); pos += chunk)
        d.write(in.data() + pos, std::min(chunk, in.size() - pos));
    d.finish();
    return sink.out;
}

inline Bytes deflateAll(const Bytes& in, int level) { return deflateChunked(in, level, in.size() + 1); }

// The sample behind the committed zlib vectors: 2000+ bytes of words,
// 600 pseudo-random bytes, 300 'z'.
inline Bytes sampleText() {
    static const char* const kWords[] = {"the",     "archive", "stream", "window", "deflate", "block",
                                         "symbol",  "length",  "distance", "huffman", "code", "table",
                                         "orvanta", "tollan",  "input",  "output"};
    Bytes out;
    uint32_t x = 12345;
    unsigned n = 0;
    while (out.size() < 2000) {
        x = x * 1103515245u + 12345u;
        std::string w = kWords[(x >> 16) % 16];
        out.insert(out.end(), w.begin(), w.end());
        n++;
        out.push_back(n % 11 == 0 ? '\n' : ' ');
    }
    for (int i = 0; i < 600; i++) {
        x = x * 1103515245u + 12345u;
        out.push_back(uint8_t(x >> 24));
    }
    out.insert(out.end(), 300, 'z');
    return out;
}

inline Bytes randomBytes(size_t n, uint32_t seed) {
    Bytes out(n);
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b = uint8_t(x >> 32);
    }
    return out;
}

}  // namespace codec_test
