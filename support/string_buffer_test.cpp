#include "support/string_buffer.h"

#include <gtest/gtest.h>

#include <string>

#include "support/ext_ptr_array.h"
#include "support/platform.h"

TEST(StringBuffer, GrowthFollowsHalfTheCapacity) {
    StringBuffer s;
    EXPECT_EQ(s.capacity(), 200);
    EXPECT_EQ(s.growthIncrement(), 200);
    std::string text(200, 'a');
    s.append(text.c_str());  // 200 + 1 > 200: one reallocation
    EXPECT_EQ(s.capacity(), 401);
    EXPECT_EQ(s.growthIncrement(), 200);
    EXPECT_EQ(s.length(), 200u);
    s.append(std::string(201, 'b').c_str());  // 200 + 201 + 1 > 401
    EXPECT_EQ(s.capacity(), 200 + 201 + 200 + 1);
    EXPECT_EQ(s.growthIncrement(), 301);
    EXPECT_EQ(std::string(s.str()), text + std::string(201, 'b'));
}

TEST(StringBuffer, GrowthIncrementStopsAt500000) {
    StringBuffer s;
    std::string chunk(300000, 'x');
    for (int i = 0; i < 8; i++) s.append(chunk.c_str());
    EXPECT_EQ(s.length(), 2400000u);
    EXPECT_LE(s.growthIncrement(), 500000);
    EXPECT_EQ(s.growthIncrement(), 500000);
    // At the cap, the next reallocation adds exactly the capped increment.
    uint32_t room = uint32_t(s.capacity()) - s.length() - 1;
    s.append(std::string(room + 1, 'y').c_str());
    EXPECT_EQ(uint32_t(s.capacity()), 2400000u + room + 1 + 500000u + 1u);
    EXPECT_EQ(s.growthIncrement(), 500000);
}

TEST(StringBuffer, AppendBytesUsesCapacityWithoutTheExtraOne) {
    StringBuffer s;
    std::string text(250, 'z');
    s.appendBytes(text.data(), 250);
    EXPECT_EQ(s.capacity(), 250 + 200);
    EXPECT_EQ(s.growthIncrement(), 225);
    s.appendBytes(nullptr, 5);
    s.appendBytes("abc", 0);
    s.appendBytes("abc", -1);
    EXPECT_EQ(s.length(), 250u);
}

TEST(StringBuffer, PrependAndReserveKeepTheIncrement) {
    StringBuffer s("tail");
    EXPECT_EQ(s.capacity(), 5);
    s.prepend("head-");
    EXPECT_STREQ(s.str(), "head-tail");
    EXPECT_EQ(s.capacity(), 4 + 5 + 200 + 1);
    EXPECT_EQ(s.growthIncrement(), 200);
    StringBuffer r("ab");
    r.reserve(1000);
    EXPECT_EQ(r.capacity(), 2 + 1000 + 200 + 1);
    EXPECT_EQ(r.growthIncrement(), 200);
    int32_t cap = r.capacity();
    r.reserve(10);  // room already there
    EXPECT_EQ(r.capacity(), cap);
}

TEST(StringBuffer, ConstructorsFromAbsentText) {
    StringBuffer a(static_cast<const char*>(nullptr));
    StringBuffer w(static_cast<const char16_t*>(nullptr));
    for (StringBuffer* s : {&a, &w}) {
        EXPECT_EQ(s->capacity(), 4);
        EXPECT_EQ(s->length(), 0u);
        EXPECT_STREQ(s->str(), "");
    }
    StringBuffer wide(u"wide text");
    EXPECT_STREQ(wide.str(), "wide text");
    EXPECT_EQ(wide.capacity(), 10);
}

TEST(StringBuffer, TrimRemovesOnlyWhitespaceAtTheEnds) {
    struct Case { const char* in; const char* out; } cases[] = {
        {"   ", ""}, {" \t\r\n", ""}, {"  a b  ", "a b"}, {"\r\nline\r\n", "line"}, {"x", "x"}, {"", ""},
    };
    for (auto& c : cases) {
        StringBuffer s(c.in);
        int32_t cap = s.capacity();
        s.trim();
        EXPECT_STREQ(s.str(), c.out) << c.in;
        EXPECT_EQ(s.length(), std::string(c.out).size());
        EXPECT_EQ(s.capacity(), cap);
    }
}

TEST(StringBuffer, ReplaceAllDoesNotRescanInsertedText) {
    StringBuffer s("a & b & c");
    EXPECT_EQ(s.replaceAll("&", "&amp;"), 2);
    EXPECT_STREQ(s.str(), "a &amp; b &amp; c");
    EXPECT_EQ(s.replaceAll("", "x"), 0);
    EXPECT_EQ(s.replaceAll(nullptr, "x"), 0);
    EXPECT_EQ(s.replaceAll("missing", "x"), 0);
    EXPECT_STREQ(s.str(), "a &amp; b &amp; c");
    StringBuffer t("aaa");
    EXPECT_EQ(t.replaceAll("a", "aa"), 3);
    EXPECT_STREQ(t.str(), "aaaaaa");
    StringBuffer u("xyxy");
    EXPECT_EQ(u.replaceAll("xy", ""), 2);
    EXPECT_STREQ(u.str(), "");
}

TEST(StringBuffer, EscapingOrder) {
    StringBuffer s("<a href=\"x&y\">");
    s.escapeXml();
    EXPECT_STREQ(s.str(), "&lt;a href=\"x&amp;y\"&gt;");
    StringBuffer t("\"&\"");
    t.escapeXmlAttr();
    EXPECT_STREQ(t.str(), "&quot;&amp;&quot;");
}

TEST(StringBuffer, SplitKeepsEmptyPieces) {
    struct Case { const char* in; std::vector<std::string> pieces; } cases[] = {
        {"one\r\ntwo", {"one", "", "two"}},
        {"", {}},
        {"\n", {"", ""}},
        {"single", {"single"}},
        {"a\rb\r", {"a", "b", ""}},
    };
    for (auto& c : cases) {
        StringBuffer s(c.in);
        ExtPtrArray out;
        s.split("\r\n", out);
        ASSERT_EQ(out.count(), int(c.pieces.size())) << c.in;
        for (int i = 0; i < out.count(); i++) EXPECT_STREQ(out.at<StringBuffer>(i)->str(), c.pieces[i].c_str());
        out.deleteAll();
    }
}

TEST(StringBuffer, SmallOperations) {
    StringBuffer s;
    EXPECT_EQ(s.lastChar(), 0);
    s.appendInt(-2147483647 - 1);
    EXPECT_STREQ(s.str(), "-2147483648");
    s.appendChar('!');
    EXPECT_EQ(s.lastChar(), '!');
    s.removeLast(3);
    EXPECT_STREQ(s.str(), "-21474836");
    s.removeLast(100);
    EXPECT_STREQ(s.str(), "");
    EXPECT_TRUE(s.equals(nullptr));
    EXPECT_TRUE(s.equals(""));
    s.append("abc");
    EXPECT_TRUE(s.equals("abc"));
    EXPECT_FALSE(s.equals("abcd"));
    EXPECT_FALSE(s.equals(nullptr));
    s.assign(s.str() + 1);  // a text inside this buffer
    EXPECT_STREQ(s.str(), "bc");
    s.append(s.str());  // appending itself
    EXPECT_STREQ(s.str(), "bcbc");
    s.appendBuffer(s);
    EXPECT_STREQ(s.str(), "bcbcbcbc");
    s.clear();
    EXPECT_EQ(s.length(), 0u);
    EXPECT_GE(s.capacity(), 200);
}

TEST(StringBuffer, ShrinkToFitOnlyWhenWorthIt) {
    StringBuffer s;
    s.append("abc");
    s.shrinkToFit();
    EXPECT_EQ(s.capacity(), 4);
    StringBuffer t("abcd");  // capacity 5, length 4: not more than length + 4
    t.shrinkToFit();
    EXPECT_EQ(t.capacity(), 5);
}

TEST(StringBuffer, BstrRoundTrip) {
    StringBuffer empty;
    char16_t* b = empty.toBstr();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(platform::bstrLength(b), 0u);
    platform::freeBstr(b);

    StringBuffer s("Hello, world");
    b = s.toBstr();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(platform::bstrLength(b), 12u);
    EXPECT_EQ(std::u16string(b), u"Hello, world");
    StringBuffer back;
    back.appendWide(b);
    EXPECT_STREQ(back.str(), "Hello, world");
    platform::freeBstr(b);
}

TEST(StringBuffer, AppendSystemErrorTrims) {
    StringBuffer s("  prefix ");
    s.appendSystemError(platform::errorFileNotFound());
    EXPECT_GT(s.length(), std::string("  prefix ").size() - 3);
    EXPECT_NE(s.str()[0], ' ');
    EXPECT_NE(s.lastChar(), '\n');
    EXPECT_NE(s.lastChar(), ' ');
    StringBuffer none("x");
    none.appendSystemError(0xFFFFFFF0u);  // no text for this code: unchanged
    EXPECT_STREQ(none.str(), "x");
}
