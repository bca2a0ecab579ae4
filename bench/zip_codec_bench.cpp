// Codec benchmark: our inflate and deflate against zlib on the same files
// in the same run.
//   zip_codec_bench FILE...
// For each file and in total: inflate throughput of zlib's level-6 stream
// (ours / zlib), deflate level 6 output size (ours / zlib) and deflate
// speed (ours / zlib). Every stream is checked by inflating it back. Then
// CRC-32 throughput against zlib and, when it was found at configure time,
// libdeflate.
#include <zlib.h>
#ifdef ORV_BENCH_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zip/crc32.h"
#include "zip/deflate.h"
#include "zip/inflate.h"
#include "ratio_line.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes readFile(const char* path) {
    Bytes b;
    FILE* f = std::fopen(path, "rb");
    if (!f) {
        std::fprintf(stderr, "cannot open %s\n", path);
        std::exit(2);
    }
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
    std::fclose(f);
    return b;
}

// Best time of a few rounds, each repeating fn for at least minSeconds.
template <class F>
double secondsPerRun(F fn, double minSeconds = 0.25) {
    double best = 1e30;
    for (int round = 0; round < 3; round++) {
        int runs = 0;
        auto t0 = Clock::now();
        double el;
        do {
            fn();
            runs++;
            el = std::chrono::duration<double>(Clock::now() - t0).count();
        } while (el < minSeconds);
        best = std::min(best, el / runs);
    }
    return best;
}

Bytes zlibDeflate(const Bytes& in, int level) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, uLong(in.size())));
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

size_t zlibInflate(const Bytes& in, Bytes& out) {
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    if (inflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
    size_t n = z.total_out;
    inflateEnd(&z);
    return n;
}

size_t ourInflate(const Bytes& in, Bytes& out) {
    Inflater inf;
    const uint8_t* p = in.data();
    size_t avail = in.size();
    uint8_t* o = out.data();
    size_t room = out.size();
    if (inf.run(p, avail, o, room) != Inflater::Done) std::abort();
    return out.size() - room;
}

class VectorSink : public DeflateSink {
public:
    bool write(const uint8_t* data, size_t length) override {
        out.insert(out.end(), data, data + length);
        return true;
    }
    Bytes out;
};

Bytes ourDeflate(const Bytes& in, int level) {
    VectorSink sink;
    sink.out.reserve(in.size() / 2 + 1024);
    Deflater d(level, sink);
    d.write(in.data(), in.size());
    d.finish();
    return sink.out;
}

struct Totals {
    double bytes = 0, infOurs = 0, infZlib = 0, defOurs = 0, defZlib = 0;
    double sizeOurs = 0, sizeZlib = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: zip_codec_bench FILE...\n");
        return 2;
    }
    Totals t;
    std::printf("%-22s %10s | %9s %9s %6s | %9s %9s %7s | %8s %8s %6s\n", "file", "bytes", "inf MB/s", "zlib", "ratio",
                "def6 size", "zlib", "size", "def MB/s", "zlib", "ratio");
    for (int i = 1; i < argc; i++) {
        Bytes data = readFile(argv[i]);
        double mb = double(data.size()) / 1e6;
        Bytes z6 = zlibDeflate(data, 6);
        Bytes mine = ourDeflate(data, 6);
        Bytes out(data.size() + 1);
        // Correctness first: both streams inflate to the data in both inflaters.
        if (ourInflate(z6, out) != data.size() || std::memcmp(out.data(), data.data(), data.size())) std::abort();
        if (zlibInflate(mine, out) != data.size() || std::memcmp(out.data(), data.data(), data.size())) std::abort();
        if (ourInflate(mine, out) != data.size() || std::memcmp(out.data(), data.data(), data.size())) std::abort();

        double infOurs = secondsPerRun([&] { ourInflate(z6, out); });
        double infZlib = secondsPerRun([&] { zlibInflate(z6, out); });
        double defOurs = secondsPerRun([&] { ourDeflate(data, 6); });
        double defZlib = secondsPerRun([&] { zlibDeflate(data, 6); });
        const char* name = std::strrchr(argv[i], '/') ? std::strrchr(argv[i], '/') + 1 : argv[i];
        std::printf("%-22s %10zu | %9.1f %9.1f %5.2fx | %9zu %9zu %+6.2f%% | %8.1f %8.1f %5.2fx\n", name, data.size(),
                    mb / infOurs, mb / infZlib, infZlib / infOurs, mine.size(), z6.size(),
                    100.0 * (double(mine.size()) / double(z6.size()) - 1), mb / defOurs, mb / defZlib, defZlib / defOurs);
        t.bytes += double(data.size());
        t.infOurs += infOurs;
        t.infZlib += infZlib;
        t.defOurs += defOurs;
        t.defZlib += defZlib;
        t.sizeOurs += double(mine.size());
        t.sizeZlib += double(z6.size());
    }
    double mb = t.bytes / 1e6;
    std::printf("%-22s %10.0f | %9.1f %9.1f %5.2fx | %9.0f %9.0f %+6.2f%% | %8.1f %8.1f %5.2fx\n", "TOTAL", t.bytes,
                mb / t.infOurs, mb / t.infZlib, t.infZlib / t.infOurs, t.sizeOurs, t.sizeZlib,
                100.0 * (t.sizeOurs / t.sizeZlib - 1), mb / t.defOurs, mb / t.defZlib, t.defZlib / t.defOurs);
    std::printf("Inflate speed, ours / zlib: %.2fx (goal: at least 0.8x)\n", t.infZlib / t.infOurs);
    std::printf("Deflate level 6 size, ours / zlib: %.4f (goal: within 2%%, at most 1.02)\n", t.sizeOurs / t.sizeZlib);
    std::printf("Deflate level 6 speed, ours / zlib: %.2fx (goal: at least 0.7x)\n", t.defZlib / t.defOurs);
    ratioLine("inflate", "MB/s", true, mb / t.infOurs, mb / t.infZlib,
              "inflate of zlib's level-6 streams of the corpus (text, source, binary, gzipped), vs zlib");
    ratioLine("deflate", "MB/s", true, mb / t.defOurs, mb / t.defZlib, "deflate level 6 of the corpus, vs zlib");
    ratioLine("deflate-size", "bytes", false, t.sizeOurs, t.sizeZlib, "deflate level 6 output size, vs zlib");

    // CRC-32 throughput on the whole corpus (what the zip reader adds on top
    // of inflate), in one call and in 1 KiB calls, for both of our paths and
    // the baselines.
    Bytes all;
    for (int i = 1; i < argc; i++) {
        Bytes d = readFile(argv[i]);
        all.insert(all.end(), d.begin(), d.end());
    }
    struct Crc { const char* name; uint32_t (*fn)(uint32_t, const uint8_t*, size_t); };
    const Crc crcs[] = {
        {"ours", [](uint32_t c, const uint8_t* p, size_t n) { return crc32Update(c, p, n); }},
        {"ours, table path", [](uint32_t c, const uint8_t* p, size_t n) { return crc32UpdateTable(c, p, n); }},
        {"zlib", [](uint32_t c, const uint8_t* p, size_t n) { return uint32_t(crc32(c, p, uInt(n))); }},
#ifdef ORV_BENCH_LIBDEFLATE
        {"libdeflate", [](uint32_t c, const uint8_t* p, size_t n) { return libdeflate_crc32(c, p, n); }},
#endif
    };
    const uint32_t expected = uint32_t(crc32(0, all.data(), uInt(all.size())));
    double gb = double(all.size()) / 1e9;
    const size_t zlibRow = 2;
    double whole[4] = {}, pieces[4] = {};
    volatile uint32_t sink = 0;
    size_t count = sizeof crcs / sizeof crcs[0];
    for (size_t i = 0; i < count; i++) {
        auto fn = crcs[i].fn;
        if (fn(0, all.data(), all.size()) != expected) std::abort();
        whole[i] = secondsPerRun([&] { sink = fn(0, all.data(), all.size()); });
        pieces[i] = secondsPerRun([&] {
            uint32_t c = 0;
            for (size_t at = 0; at < all.size(); at += 1024) c = fn(c, all.data() + at, std::min<size_t>(1024, all.size() - at));
            sink = c;
        });
    }
    std::printf("\nCRC-32 on %zu bytes       one call (GB/s, vs zlib)    1 KiB calls (GB/s, vs zlib)\n", all.size());
    for (size_t i = 0; i < count; i++)
        std::printf("  %-22s %8.2f %6.2fx              %8.2f %6.2fx\n", crcs[i].name, gb / whole[i], whole[zlibRow] / whole[i],
                    gb / pieces[i], pieces[zlibRow] / pieces[i]);
    std::printf("CRC-32 speed, ours / zlib: %.2fx (goal: at least 2x)\n", whole[zlibRow] / whole[0]);
    if (count > zlibRow + 1) std::printf("CRC-32 speed, ours / libdeflate: %.2fx\n", whole[zlibRow + 1] / whole[0]);
    ratioLine("crc32", "GB/s", true, gb / whole[0], gb / whole[zlibRow], "CRC-32 of the corpus in one call, vs zlib");
    if (count > zlibRow + 1)
        ratioLine("crc32-libdeflate", "GB/s", true, gb / whole[0], gb / whole[zlibRow + 1],
                  "CRC-32 of the corpus in one call, vs libdeflate");
    (void)sink;
    return 0;
}
