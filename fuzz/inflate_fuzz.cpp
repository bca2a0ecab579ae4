// Fuzzes inflate with arbitrary streams.
//
// Input: [in piece][out piece][stream...]
// Properties checked (a failure aborts):
//   - no read or write outside the buffers (ASan);
//   - inflating in small pieces (sizes from the first two bytes) gives the
//     same status, message and output as one call over the whole input;
//   - an Error carries a non-empty message; Done leaves unused input alone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zip/inflate.h"

namespace {

constexpr size_t kOutLimit = 1 << 20;

struct Result {
    Inflater::Status status = Inflater::NeedMore;
    std::vector<uint8_t> out;
    std::string message;
    size_t left = 0;
};

Result run(const uint8_t* data, size_t size, size_t inPiece, size_t outPiece) {
    Result r;
    Inflater inf;
    std::vector<uint8_t> buf(outPiece);
    size_t pos = 0;
    while (r.out.size() < kOutLimit) {
        size_t give = size - pos < inPiece ? size - pos : inPiece;
        const uint8_t* p = data + pos;
        size_t avail = give;
        uint8_t* o = buf.data();
        size_t room = outPiece;
        r.status = inf.run(p, avail, o, room);
        if (p != data + pos + (give - avail)) abort();
        if (o != buf.data() + (outPiece - room)) abort();
        pos += give - avail;
        size_t made = outPiece - room;
        r.out.insert(r.out.end(), buf.begin(), buf.begin() + long(made));
        if (inf.totalOut() != r.out.size()) abort();
        if (r.status == Inflater::Error) {
            r.message = inf.message();
            if (r.message.empty()) abort();
            return r;
        }
        if (r.status == Inflater::Done) {
            r.left = size - pos;
            return r;
        }
        if (give - avail == 0 && made == 0 && pos == size) return r;
    }
    r.out.resize(kOutLimit);
    r.status = Inflater::NeedMore;  // stopped early: compare prefixes only
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t inPiece = 1 + data[0] % 64;
    size_t outPiece = 1 + data[1] * 3;
    data += 2;
    size_t n = size - 2;
    Result whole = run(data, n, n + 1, kOutLimit + 1);
    Result pieces = run(data, n, inPiece, outPiece);
    size_t common = whole.out.size() < pieces.out.size() ? whole.out.size() : pieces.out.size();
    if (common && std::memcmp(whole.out.data(), pieces.out.data(), common) != 0) abort();
    if (whole.out.size() < kOutLimit && pieces.out.size() < kOutLimit) {
        if (whole.status != pieces.status) abort();
        if (whole.message != pieces.message) abort();
        if (whole.out.size() != pieces.out.size()) abort();
        if (whole.status == Inflater::Done && whole.left != pieces.left) abort();
    }
    return 0;
}
