// Fuzzes deflate by round trip.
//
// Input: [level][write piece][data...]
// Properties checked (a failure aborts):
//   - deflating the data at the level (0-9), written in pieces, and
//     inflating the result gives the data back, with no input left over;
//   - the stream does not depend on how the input was split;
//   - the output is never much larger than storing the data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "zip/deflate.h"
#include "zip/inflate.h"

namespace {

class Sink : public DeflateSink {
public:
    bool write(const uint8_t* data, size_t length) override {
        out.insert(out.end(), data, data + length);
        return true;
    }
    std::vector<uint8_t> out;
};

std::vector<uint8_t> deflate(int level, const uint8_t* data, size_t size, size_t piece) {
    Sink sink;
    Deflater d(level, sink);
    for (size_t pos = 0; pos < size; pos += piece)
        if (!d.write(data + pos, size - pos < piece ? size - pos : piece)) abort();
    if (!d.finish()) abort();
    if (d.totalIn() != size || d.totalOut() != sink.out.size()) abort();
    return sink.out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    int level = data[0] % 10;
    size_t piece = 1 + data[1] * 37;
    data += 2;
    size -= 2;
    std::vector<uint8_t> z = deflate(level, data, size, size + 1);
    if (deflate(level, data, size, piece) != z) abort();
    if (z.size() > size + 5 * (size / 16000 + 2)) abort();

    Inflater inf;
    std::vector<uint8_t> out(size + 1);
    const uint8_t* p = z.data();
    size_t avail = z.size();
    uint8_t* o = out.data();
    size_t room = out.size();
    if (inf.run(p, avail, o, room) != Inflater::Done) abort();
    if (avail != 0 || room != 1) abort();
    for (size_t i = 0; i < size; i++)
        if (out[i] != data[i]) abort();
    return 0;
}
