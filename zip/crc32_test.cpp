#include "zip/crc32.h"

#include <gtest/gtest.h>

#include <string>

#include "zip/codec_test_util.h"

namespace {

// Bit-at-a-time reference, straight from the polynomial.
uint32_t crcBitwise(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; i++) {
        c ^= p[i];
        for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

using CrcFn = uint32_t (*)(uint32_t, const void*, size_t);
struct Path { const char* name; CrcFn fn; };
const Path kPaths[] = {
    {"default", crc32Update},
    {"table", crc32UpdateTable},
    {"folded", crc32UpdateFolded},
};

TEST(Crc32, KnownValues) {
    struct Case { std::string text; uint32_t crc; };
    const Case cases[] = {
        {"", 0x00000000u},
        {"a", 0xE8B7BE43u},
        {"123456789", 0xCBF43926u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
    };
    for (const auto& path : kPaths)
        for (const auto& c : cases) EXPECT_EQ(path.fn(0, c.text.data(), c.text.size()), c.crc) << path.name << " " << c.text;
}

// Every length through the table sizes, the lane set-up and the block tail,
// at several alignments, whole and continued in two pieces (each piece by
// either path, since both must leave the same running value).
TEST(Crc32, EveryLengthAlignmentAndSplitMatchesTheReference) {
    if (!crc32HasCarrylessMultiply()) std::printf("note: no carry-less multiply here; the folded path is the table path\n");
    codec_test::Bytes data = codec_test::randomBytes(640, 3);
    for (size_t off : {0, 1, 3, 8, 13}) {
        const uint8_t* p = data.data() + off;
        for (size_t len = 0; len <= 600; len++) {
            uint32_t ref = crcBitwise(p, len);
            for (const auto& path : kPaths) ASSERT_EQ(path.fn(0, p, len), ref) << path.name << " " << off << " " << len;
            for (size_t split : {size_t(1), size_t(17), len / 2, len - len / 3}) {
                if (split > len) continue;
                uint32_t c = crc32UpdateTable(0, p, split);
                ASSERT_EQ(crc32UpdateFolded(c, p + split, len - split), ref) << off << " " << len << " " << split;
                c = crc32UpdateFolded(0, p, split);
                ASSERT_EQ(crc32UpdateTable(c, p + split, len - split), ref) << off << " " << len << " " << split;
            }
        }
    }
}

TEST(Crc32, LargeBuffer) {
    codec_test::Bytes data = codec_test::randomBytes((3 << 20) + 37, 11);
    uint32_t ref = crcBitwise(data.data() + 1, data.size() - 1);
    for (const auto& path : kPaths) EXPECT_EQ(path.fn(0, data.data() + 1, data.size() - 1), ref) << path.name;
    uint32_t c = crc32UpdateFolded(0, data.data() + 1, 100003);
    EXPECT_EQ(crc32UpdateFolded(c, data.data() + 100004, data.size() - 100004), ref);
}

}  // namespace
