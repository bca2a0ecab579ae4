#include "support/content_coding.h"

#include <gtest/gtest.h>

#include "support/string_buffer.h"

TEST(ContentCoding, Base64TestVectors) {
    // The test vectors of the base64 standard, plus binary bytes.
    struct Case { std::string in, out; } cases[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
        {std::string("\x00\xff\xfe\x80", 4), "AP/+gA=="},
        {[] { std::string s; for (int i = 0; i < 19; i++) s += "\xfb\xef\xbe"; return s; }(), std::string(76, '+')},  // no line breaks, ever
    };
    ContentCoding cc;
    for (auto& c : cases) {
        StringBuffer out("prefix:");
        cc.encodeBase64(c.in.data(), uint32_t(c.in.size()), out);
        EXPECT_EQ(std::string(out.str()), "prefix:" + c.out) << c.in;
    }
}

TEST(ContentCoding, ReservesTheEstimateUpFront) {
    ContentCoding cc;
    StringBuffer out;
    std::string in(3000, 'a');
    cc.encodeBase64(in.data(), 3000, out);
    EXPECT_EQ(out.length(), 4000u);
    uint32_t e = (5 * 3000 + 10) / 3;
    EXPECT_EQ(out.capacity(), int32_t(e + 2 * e / 72 + 3 + 200 + 1));  // one reservation, no regrowth
}
