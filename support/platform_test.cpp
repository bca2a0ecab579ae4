// The same tests run against the POSIX and the Win32 implementation.
#include "support/platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/testing/scratch_dir.h"

TEST(Platform, FilesMappingAndErrors) {
    ScratchDir dir;
    std::string p = dir.file("f.bin");
    dir.track(p);
    platform::FileHandle h = platform::openFile(p.c_str(), platform::OpenMode::CreateNew);
    ASSERT_NE(h, platform::kInvalidFile);
    uint32_t w = 0;
    ASSERT_TRUE(platform::writeFile(h, "0123456789", 10, &w));
    EXPECT_EQ(w, 10u);
    ASSERT_TRUE(platform::seekFile(h, 2));
    ASSERT_TRUE(platform::writeFile(h, "AB", 2, &w));
    uint64_t pos = 0;
    ASSERT_TRUE(platform::tellFile(h, &pos));
    EXPECT_EQ(pos, 4u);
    platform::closeFile(h);

    EXPECT_EQ(platform::openFile(p.c_str(), platform::OpenMode::CreateNew), platform::kInvalidFile);
    EXPECT_EQ(platform::lastError(), platform::errorFileExists());

    h = platform::openFile(p.c_str(), platform::OpenMode::ReadExisting);
    ASSERT_NE(h, platform::kInvalidFile);
    uint64_t size = 0;
    ASSERT_TRUE(platform::fileSize(h, &size));
    EXPECT_EQ(size, 10u);
    platform::Mapping m;
    ASSERT_TRUE(platform::createMapping(h, size, &m));
    ASSERT_TRUE(platform::mapView(&m));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.data), 10), "01AB456789");
    char buf[20];
    uint32_t got = 0;
    ASSERT_TRUE(platform::readFile(h, buf, sizeof buf, &got));
    EXPECT_EQ(got, 10u);
    ASSERT_TRUE(platform::readFile(h, buf, sizeof buf, &got));
    EXPECT_EQ(got, 0u);  // end of file
    platform::unmap(&m);
    platform::closeFile(h);

    dir.write("empty.bin", "");
    h = platform::openFile(dir.file("empty.bin").c_str(), platform::OpenMode::ReadExisting);
    ASSERT_NE(h, platform::kInvalidFile);
    EXPECT_FALSE(platform::createMapping(h, 0, &m));  // nothing to map
    platform::closeFile(h);

    EXPECT_EQ(platform::openFile(dir.file("missing").c_str(), platform::OpenMode::ReadExisting), platform::kInvalidFile);
    uint32_t code = platform::lastError();
    EXPECT_EQ(code, platform::errorFileNotFound());
    char text[512];
    EXPECT_GT(platform::errorText(code, text, sizeof text), 0u);
    EXPECT_EQ(platform::errorText(code, text, 2), 0u);  // too small: nothing, no overflow
    // A folder is not a file.
    std::string folder = dir.path().substr(0, dir.path().size() - 1);
    EXPECT_EQ(platform::openFile(folder.c_str(), platform::OpenMode::ReadExisting), platform::kInvalidFile);
}

TEST(Platform, AnsiWideConversion) {
    const char16_t wide[] = u"abc";
    EXPECT_EQ(platform::wideToAnsi(wide, 3, nullptr, 0), 3);
    EXPECT_EQ(platform::wideToAnsi(wide, -1, nullptr, 0), 4);  // with terminator
    char out[8] = {};
    EXPECT_EQ(platform::wideToAnsi(wide, 3, out, 2), 0);  // does not fit
    EXPECT_EQ(platform::wideToAnsi(wide, 3, out, 8), 3);
    EXPECT_STREQ(out, "abc");
    char16_t back[8] = {};
    EXPECT_EQ(platform::ansiToWide("xyz", 3, back, 8), 3);
    EXPECT_EQ(std::u16string(back), u"xyz");
    // Every BMP character survives a round trip when the code page has it;
    // one that it lacks becomes the default character, never a crash.
    const char16_t odd[] = {0x00E9, 0xD800, 'x', 0};
    int n = platform::wideToAnsi(odd, 3, nullptr, 0);
    EXPECT_GT(n, 0);
    std::string conv(size_t(n), '\0');
    EXPECT_EQ(platform::wideToAnsi(odd, 3, &conv[0], n), n);
    EXPECT_EQ(conv.back(), 'x');
}

TEST(Platform, TimeAndFolders) {
    platform::LocalTime t = platform::localTime();
    EXPECT_GE(t.year, 2020);
    EXPECT_GE(t.month, 1);
    EXPECT_LE(t.month, 12);
    char buf[600];
    uint32_t n = platform::tempDirectory(buf, sizeof buf);
    ASSERT_GT(n, 0u);
    EXPECT_TRUE(buf[n - 1] == '/' || buf[n - 1] == '\\');
    EXPECT_EQ(platform::tempDirectory(buf, 2), 0u);
    ASSERT_GT(platform::currentDirectory(buf, sizeof buf), 0u);
    ASSERT_GT(platform::modulePath(reinterpret_cast<const void*>(&platform::tickCount), buf, sizeof buf), 0u);
}
