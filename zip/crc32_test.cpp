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

TEST(Crc32, KnownValues) {
    struct Case { std::string text; uint32_t crc; };
    const Case cases[] = {
        {"", 0x00000000u},
        {"a", 0xE8B7BE43u},
        {"123456789", 0xCBF43926u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
    };
    for (const auto& c : cases) EXPECT_EQ(crc32Update(0, c.text.data(), c.text.size()), c.crc) << c.text;
}

TEST(Crc32, AnyLengthAlignmentAndSplitMatchesTheReference) {
    codec_test::Bytes data = codec_test::randomBytes(1000, 3);
    for (size_t off = 0; off < 9; off++) {
        for (size_t len : {size_t(0), size_t(1), size_t(7), size_t(8), size_t(9), size_t(15), size_t(16), size_t(17),
                           size_t(100), size_t(991)}) {
            uint32_t ref = crcBitwise(data.data() + off, len);
            ASSERT_EQ(crc32Update(0, data.data() + off, len), ref) << off << " " << len;
            for (size_t split : {size_t(0), size_t(1), size_t(3), len / 2, len}) {
                if (split > len) continue;
                uint32_t c = crc32Update(0, data.data() + off, split);
                c = crc32Update(c, data.data() + off + split, len - split);
                ASSERT_EQ(c, ref) << off << " " << len << " " << split;
            }
        }
    }
}

}  // namespace
