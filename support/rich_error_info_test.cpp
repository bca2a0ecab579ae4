// RichErrorInfo installs the thread's COM error object (a real one on
// Windows, read back with GetErrorInfo; remembered values on POSIX).
#include "support/rich_error_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/platform.h"

namespace {

struct Taken {
    bool present = false;
    std::u16string description, source;
    uint8_t guid[16] = {};
};

Taken take() {
    Taken t;
    char16_t* d = nullptr;
    char16_t* s = nullptr;
    t.present = platform::takeErrorInfo(&d, t.guid, &s);
    if (d) t.description.assign(d, platform::bstrLength(d));
    if (s) t.source.assign(s, platform::bstrLength(s));
    platform::freeBstr(d);
    platform::freeBstr(s);
    return t;
}

}  // namespace

TEST(RichErrorInfo, TollanIdentity) {
    const uint8_t expected[16] = {0x91, 0xF8, 0x28, 0xA0, 0x06, 0x0B, 0x19, 0x46,
                                  0x99, 0x08, 0x7B, 0x49, 0x3E, 0x67, 0xF6, 0x31};
    EXPECT_EQ(std::memcmp(kTollanInterfaceGuid, expected, 16), 0);
    EXPECT_STREQ(kTollanErrorSource, "Tollan.Tollan");
}

TEST(RichErrorInfo, ReportInstallsErrorObject) {
    take();  // nothing left over from elsewhere
    RichErrorInfo info(kTollanInterfaceGuid, kTollanErrorSource);
    info.report(StringBuffer("(CreateExe3)\nThe zip file is missing"));
    Taken t = take();
    ASSERT_TRUE(t.present);
    EXPECT_EQ(t.description, u"(CreateExe3)\nThe zip file is missing");
    EXPECT_EQ(t.source, u"Tollan.Tollan");
    EXPECT_EQ(std::memcmp(t.guid, kTollanInterfaceGuid, 16), 0);
    // Taking it uninstalls it.
    EXPECT_FALSE(take().present);
}

TEST(RichErrorInfo, ReportConvertsAnsiAndAcceptsEmptyText) {
    char ansi[16] = {};
    ASSERT_GT(platform::wideToAnsi(u"Gr\u00FC\u00DFe", -1, ansi, sizeof ansi), 0);
    RichErrorInfo info;
    info.setSource("Other.Source");
    uint8_t guid[16];
    for (int i = 0; i < 16; i++) guid[i] = uint8_t(i * 17);
    info.setGuid(guid);
    info.report(StringBuffer(ansi));
    Taken t = take();
    ASSERT_TRUE(t.present);
    EXPECT_EQ(t.description, u"Gr\u00FC\u00DFe");
    EXPECT_EQ(t.source, u"Other.Source");
    EXPECT_EQ(std::memcmp(t.guid, guid, 16), 0);

    RichErrorInfo blank;
    blank.report(StringBuffer(""));
    t = take();
    ASSERT_TRUE(t.present);
    EXPECT_EQ(t.description, u"");
    EXPECT_EQ(t.source, u"");
    const uint8_t zero[16] = {};
    EXPECT_EQ(std::memcmp(t.guid, zero, 16), 0);
}
