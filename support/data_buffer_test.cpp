#include "support/data_buffer.h"

#include <gtest/gtest.h>

#include <string>

#include "support/testing/recording_log.h"
#include "support/testing/scratch_dir.h"

TEST(DataBuffer, AppendGrowsByAtLeast20000) {
    DataBuffer b;
    EXPECT_EQ(b.data(), nullptr);
    b.append("abc", 3);
    EXPECT_EQ(b.capacity(), 20000u);
    std::string big(30000, 'q');
    b.append(big.data(), uint32_t(big.size()));
    EXPECT_EQ(b.capacity(), 3u + 30000u);
    EXPECT_EQ(b.length(), 30003u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data()), 3), "abc");
    b.appendExact("xy", 2);
    EXPECT_EQ(b.capacity(), 30005u);
    b.append(b.data(), 3);  // from its own array, while reallocating
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data()) + 30005, 3), "abc");
}

TEST(DataBuffer, CapacityConstructorZeroFills) {
    DataBuffer b(64);
    EXPECT_EQ(b.length(), 0u);
    EXPECT_EQ(b.capacity(), 64u);
    for (uint32_t i = 0; i < 64; i++) EXPECT_EQ(b.data()[i], 0);
}

TEST(DataBuffer, TakeFromMovesWithoutCopy) {
    DataBuffer a, b;
    b.append("payload", 7);
    const uint8_t* array = b.data();
    a.append("old", 3);
    a.takeFrom(b);
    EXPECT_EQ(a.data(), array);
    EXPECT_EQ(a.length(), 7u);
    EXPECT_EQ(b.data(), nullptr);
    EXPECT_EQ(b.length(), 0u);
    EXPECT_EQ(b.capacity(), 0u);
}

TEST(DataBuffer, PaddingScheme0) {
    for (uint32_t len : {0u, 1u, 15u, 16u, 17u, 31u, 32u}) {
        DataBuffer b;
        std::string bytes(len, '\x07');
        b.append(bytes.data(), len);
        b.pad();
        uint32_t n = 16 - len % 16;
        ASSERT_EQ(b.length(), len + n) << len;
        for (uint32_t i = len; i < b.length(); i++) EXPECT_EQ(b.data()[i], n);
        b.unpad();
        EXPECT_EQ(b.length(), len);
    }
}

TEST(DataBuffer, UnpadLeavesImpossibleValuesAlone) {
    struct Case { std::string bytes; uint32_t after; } cases[] = {
        {std::string("abc\x11", 4), 4},       // 17: unchanged
        {std::string("abc\x00", 4), 4},       // 0: unchanged
        {std::string("ab\x05", 3), 0},        // value >= length: empty
        {std::string("abcdef\x03", 7), 4},    // other pad bytes are not inspected
        {std::string(), 0},
    };
    for (auto& c : cases) {
        DataBuffer b;
        b.append(c.bytes.data(), uint32_t(c.bytes.size()));
        b.unpad();
        EXPECT_EQ(b.length(), c.after);
    }
}

TEST(DataBuffer, LoadFile) {
    ScratchDir dir;
    dir.write("empty.bin", "");
    dir.write("data.bin", std::string("\x00\x01zip\xff", 6));
    DataBuffer b;
    RecordingLog log;
    ASSERT_TRUE(b.loadFile(dir.file("empty.bin").c_str(), &log));
    EXPECT_EQ(b.length(), 0u);
    ASSERT_TRUE(b.loadFile(dir.file("data.bin").c_str(), &log));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data()), b.length()), std::string("\x00\x01zip\xff", 6));
    EXPECT_EQ(b.capacity(), 10u);
    EXPECT_TRUE(log.lines.empty());

    std::string missing = dir.file("missing.bin");
    EXPECT_FALSE(b.loadFile(missing.c_str(), &log));
    EXPECT_EQ(b.length(), 0u);
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[0].rfind("error: ", 0), 0u);
    EXPECT_GT(log.lines[0].size(), 8u);  // the system's text, not empty
    EXPECT_EQ(log.lines[1], "data: filename = " + missing);
    EXPECT_EQ(log.lines[2].rfind("data: current_dir = ", 0), 0u);
    EXPECT_GT(log.lines[2].size(), std::string("data: current_dir = ").size());

    RecordingLog log2;
    EXPECT_FALSE(b.loadFile("", &log2));
    EXPECT_FALSE(b.loadFile(nullptr, &log2));
    EXPECT_EQ(log2.errors(), (std::vector<std::string>{"Cannot load binary data file, filename is NULL or empty",
                                                       "Cannot load binary data file, filename is NULL or empty"}));
    EXPECT_FALSE(b.loadFile(nullptr, nullptr));  // no log: nothing reported, no crash
}
