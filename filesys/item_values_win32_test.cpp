// The Windows side of the Item values, built into the Windows trees only:
// our OLE dates against the system's own conversion, and the short name
// of a file in the current folder through GetShortPathNameA.
#include "filesys/item_values.h"

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "support/testing/scratch_dir.h"

namespace {

// The system's date for the same fields (milliseconds left out: ours drops
// them).
bool systemOleDate(const platform::SystemTime& t, double* out) {
    SYSTEMTIME st = {};
    st.wYear = t.year;
    st.wMonth = t.month;
    st.wDay = t.day;
    st.wHour = t.hour;
    st.wMinute = t.minute;
    st.wSecond = t.second;
    return SystemTimeToVariantTime(&st, out) != 0;
}

// Within a few units in the last place: the system may add the hours,
// minutes and seconds one by one, we divide once.
bool nearlyEqual(double a, double b) {
    double scale = std::fmax(1.0, std::fmax(std::fabs(a), std::fabs(b)));
    return std::fabs(a - b) <= 4 * scale * 2.220446049250313e-16;
}

std::string text(const platform::SystemTime& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return buf;
}

class CurrentFolder {
public:
    CurrentFolder() { ok_ = GetCurrentDirectoryA(sizeof saved_, saved_) > 0; }
    ~CurrentFolder() {
        if (ok_) SetCurrentDirectoryA(saved_);
    }
    bool ok() const { return ok_; }

private:
    char saved_[MAX_PATH + 1];
    bool ok_;
};

}  // namespace

// Every hour (with changing minutes and seconds) from 1899-12-20 to
// 1900-01-10: negative dates carry their time of day away from zero, as
// the system's do.
TEST(ItemValuesWin32, OleDatesAroundDayZeroAgreeWithTheSystem) {
    const uint64_t kHour = 36000000000ull;
    const uint64_t start = 0x014F35A9A90CC000ull - 10 * 24 * kHour;  // 1899-12-20 00:00
    int compared = 0;
    for (uint64_t i = 0; i < 21 * 24; i++) {
        uint64_t ft = start + i * kHour + (i * 61 % 60) * 600000000ull + (i * 7 % 60) * 10000000ull;
        platform::SystemTime t;
        ASSERT_TRUE(platform::fileTimeToSystemTime(ft, &t));
        double ours = 0, system = 0;
        ASSERT_TRUE(filesys::oleDateFromSystemTime(t, &ours)) << text(t);
        ASSERT_TRUE(systemOleDate(t, &system)) << text(t);
        EXPECT_TRUE(nearlyEqual(ours, system)) << text(t) << ": ours " << ours << ", system " << system;
        compared++;
    }
    EXPECT_EQ(compared, 21 * 24);
}

// A spread of dates from 1601 to 9999, and the edges of the calendar.
TEST(ItemValuesWin32, OleDatesAcrossTheYearsAgreeWithTheSystem) {
    const platform::SystemTime fixed[] = {
        {1601, 1, 0, 1, 0, 0, 0, 0},     {1601, 1, 0, 1, 23, 59, 59, 0}, {1899, 12, 0, 29, 6, 0, 0, 0},
        {1899, 12, 0, 29, 23, 59, 59, 0}, {1899, 12, 0, 30, 0, 0, 1, 0},  {1900, 2, 0, 28, 12, 0, 0, 0},
        {1900, 3, 0, 1, 0, 0, 0, 0},     {2000, 1, 0, 1, 12, 0, 0, 0},   {2000, 2, 0, 29, 18, 30, 0, 0},
        {2100, 3, 0, 1, 0, 0, 0, 0},     {9999, 12, 0, 31, 23, 59, 59, 0},
    };
    for (const platform::SystemTime& t : fixed) {
        double ours = 0, system = 0;
        ASSERT_TRUE(filesys::oleDateFromSystemTime(t, &ours)) << text(t);
        ASSERT_TRUE(systemOleDate(t, &system)) << text(t);
        EXPECT_TRUE(nearlyEqual(ours, system)) << text(t) << ": ours " << ours << ", system " << system;
    }
    // 1601-01-01 to 9999-12-31 in steps of a little over 17 days, so that
    // days, months and times of day all vary.
    const uint64_t last = 0x24C85A5ED1C03FFFull;
    const uint64_t step = 17 * 864000000000ull + 12345678901ull;
    int failures = 0;
    for (uint64_t ft = 0; ft <= last && failures < 5; ft += step) {
        platform::SystemTime t;
        ASSERT_TRUE(platform::fileTimeToSystemTime(ft, &t));
        double ours = 0, system = 0;
        bool a = filesys::oleDateFromSystemTime(t, &ours), b = systemOleDate(t, &system);
        if (!a || !b || !nearlyEqual(ours, system)) {
            ADD_FAILURE() << text(t) << ": ours " << a << " " << ours << ", system " << b << " " << system;
            failures++;
        }
    }
}

// In the current folder the system has a short name for the bare name: an
// 8.3 name gives itself, a long one an 8.3 form that names the same file.
TEST(ItemValuesWin32, ShortNameOfAFileInTheCurrentFolder) {
    ScratchDir dir;
    dir.write("abc.txt", "x");
    dir.write("A long file name.text", "yy");
    CurrentFolder back;
    ASSERT_TRUE(back.ok());
    ASSERT_TRUE(SetCurrentDirectoryA(dir.path().c_str()));

    platform::FindRecord plain;
    std::strcpy(plain.name, "abc.txt");
    std::string got = filesys::itemShortName(&plain);
    EXPECT_EQ(CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, got.c_str(), -1, "abc.txt", -1), CSTR_EQUAL) << got;
    EXPECT_EQ(std::string(plain.alternateName), got);  // kept in the record

    platform::FindRecord longName;
    std::strcpy(longName.name, "A long file name.text");
    got = filesys::itemShortName(&longName);
    ASSERT_FALSE(got.empty());
    EXPECT_LE(got.size(), 12u);
    EXPECT_EQ(got.find(' '), std::string::npos) << got;
    WIN32_FILE_ATTRIBUTE_DATA a, b;
    ASSERT_TRUE(GetFileAttributesExA(got.c_str(), GetFileExInfoStandard, &a)) << got;
    ASSERT_TRUE(GetFileAttributesExA("A long file name.text", GetFileExInfoStandard, &b));
    EXPECT_EQ(a.nFileSizeLow, 2u);
    EXPECT_EQ(CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime), 0);
}
