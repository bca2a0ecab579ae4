#include "filesys/walk_settings.h"

#include <gtest/gtest.h>

using filesys::WalkSettings;

TEST(WalkSettings, InitialValues) {
    WalkSettings s;
    EXPECT_FALSE(s.rootPath().has_value());
    EXPECT_FALSE(s.nameMask().has_value());
    EXPECT_EQ(s.attributeMask(), 8183u);
    EXPECT_EQ(s.recurse(), 1);  // 1, not -1, until written
    EXPECT_TRUE(s.recurseOn());
    EXPECT_FALSE(s.excludedFolders().has_value());
    EXPECT_FALSE(s.excludedExt().has_value());
}

// One ":" is appended on every write of an exclusion list; null stays null,
// the empty string becomes ":"; the other texts are stored as given.
TEST(WalkSettings, StorageRules) {
    struct {
        filesys::OptionalText written;
        filesys::OptionalText stored;
    } const lists[] = {
        {std::string("tmp:bak"), std::string("tmp:bak:")},
        {std::string("tmp:"), std::string("tmp::")},
        {std::string(""), std::string(":")},
        {std::nullopt, std::nullopt},
        {std::string("a b;c,d"), std::string("a b;c,d:")},
    };
    for (const auto& c : lists) {
        WalkSettings s;
        s.setExcludedExt(c.written);
        s.setExcludedFolders(c.written);
        EXPECT_EQ(s.excludedExt(), c.stored);
        EXPECT_EQ(s.excludedFolders(), c.stored);
        // Reading and writing back what was read appends another colon.
        s.setExcludedExt(s.excludedExt());
        if (c.stored) {
            EXPECT_EQ(s.excludedExt(), *c.stored + ":");
        }
    }

    WalkSettings s;
    s.setRootPath(std::string("C:\\data"));
    s.setNameMask(std::string(""));
    EXPECT_EQ(s.rootPath(), std::string("C:\\data"));
    EXPECT_EQ(s.nameMask(), std::string(""));  // empty, not null
    s.setRootPath(std::nullopt);
    EXPECT_FALSE(s.rootPath().has_value());

    s.setAttributeMask(0xFFFFFFFFu);  // not validated
    EXPECT_EQ(s.attributeMask(), 0xFFFFFFFFu);

    for (int16_t v : {int16_t(-1), int16_t(0), int16_t(2), int16_t(-32768)}) {
        s.setRecurse(v);
        EXPECT_EQ(s.recurse(), v);
        EXPECT_EQ(s.recurseOn(), v != 0);
    }
}

// A copy is a snapshot: later writes to the original do not reach it.
TEST(WalkSettings, CopiesAreIndependent) {
    WalkSettings a;
    a.setNameMask(std::string("*.txt"));
    a.setExcludedExt(std::string("tmp"));
    WalkSettings b = a;
    a.setNameMask(std::string("*.doc"));
    a.setExcludedExt(std::string("bak"));
    a.setRecurse(0);
    EXPECT_EQ(b.nameMask(), std::string("*.txt"));
    EXPECT_EQ(b.excludedExt(), std::string("tmp:"));
    EXPECT_EQ(b.recurse(), 1);
}
