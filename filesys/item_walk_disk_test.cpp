// The walk over real folders through the platform's search, natively and
// under Wine: the same tree gives the same items (the order within a
// folder is the file system's).
#include "filesys/item_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/testing/scratch_dir.h"
#include "support/testing/tree_listing.h"

using filesys::ItemWalk;
using filesys::WalkItem;
using filesys::WalkSettings;
using Paths = std::vector<std::string>;

namespace {

// A tree under a scratch folder:
//   a.txt  b.doc  ro.txt (read-only)
//   sub/c.txt  sub/deep/d.txt  sub/deep/e.doc
//   Temp/t.txt  other/Temp/u.txt  mytemp/m.txt  .dot/x.txt
class DiskTree : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* d : {"sub", "sub/deep", "Temp", "other", "other/Temp", "mytemp", ".dot"})
            ASSERT_TRUE(platform::createDirectory(dir.file(d).c_str())) << d;
        for (const char* f : {"a.txt", "b.doc", "ro.txt", "sub/c.txt", "sub/deep/d.txt", "sub/deep/e.doc", "Temp/t.txt",
                              "other/Temp/u.txt", "mytemp/m.txt", ".dot/x.txt"})
            dir.write(f, f);
        ASSERT_TRUE(platform::setFileAttributes(dir.file("ro.txt").c_str(), 0x01));
    }
    void TearDown() override {
        platform::setFileAttributes(dir.file("ro.txt").c_str(), 0x20);
        for (const char* d : {"sub", "Temp", "other", "mytemp", ".dot"}) removeTree(dir.file(d));
    }

    // Items as paths below the scratch folder with "\" separators, in walk
    // order; checks on the way that the Dir strings have no "/" and that
    // every folder item comes before the items inside it.
    Paths walk(WalkSettings s) {
        if (!s.rootPath()) s.setRootPath(dir.path());
        ItemWalk w(s);
        const std::string top = filesys::folderOf(dir.path());
        Paths out;
        WalkItem item;
        while (out.size() < 1000 && w.next(&item)) {
            EXPECT_EQ(item.dir->find('/'), std::string::npos) << *item.dir;
            std::string rel = *item.dir + item.record.name;
            if (rel.compare(0, top.size(), top) == 0) rel = rel.substr(top.size());
            if (item.record.attributes & filesys::kAttributeDirectory) {
                auto inside = [&](const std::string& p) { return p.compare(0, rel.size() + 1, rel + "\\") == 0; };
                EXPECT_EQ(std::count_if(out.begin(), out.end(), inside), 0) << rel;
            }
            out.push_back(rel);
        }
        return out;
    }

    static Paths sorted(Paths p) {
        std::sort(p.begin(), p.end());
        return p;
    }

    static WalkSettings with(const char* mask, bool recurse = true, uint32_t attributes = 0x1FF7) {
        WalkSettings s;
        if (mask) s.setNameMask(std::string(mask));
        s.setRecurse(recurse ? -1 : 0);
        s.setAttributeMask(attributes);
        return s;
    }

    ScratchDir dir;
};

}  // namespace

TEST_F(DiskTree, TextFilesWithAndWithoutRecursion) {
    EXPECT_EQ(sorted(walk(with("*.txt", false))), (Paths{"a.txt", "ro.txt"}));
    Paths all = walk(with("*.txt"));
    EXPECT_EQ(sorted(all), (Paths{"Temp\\t.txt", "a.txt", "mytemp\\m.txt", "other\\Temp\\u.txt", "ro.txt",
                                  "sub\\c.txt", "sub\\deep\\d.txt"}));
    // The top folder's files come before everything in its subfolders.
    auto nested = [](const std::string& p) { return p.find('\\') != std::string::npos; };
    auto firstNested = std::find_if(all.begin(), all.end(), nested);
    for (auto it = firstNested; it != all.end(); ++it) EXPECT_NE(it->find('\\'), std::string::npos) << *it;
}

TEST_F(DiskTree, FoldersAndFilters) {
    EXPECT_EQ(sorted(walk(with("*"))),
              (Paths{"Temp", "Temp\\t.txt", "a.txt", "b.doc", "mytemp", "mytemp\\m.txt", "other", "other\\Temp",
                     "other\\Temp\\u.txt", "ro.txt", "sub", "sub\\c.txt", "sub\\deep", "sub\\deep\\d.txt",
                     "sub\\deep\\e.doc"}));
    // Archive only: the read-only file and the folders drop out.
    EXPECT_EQ(sorted(walk(with("*", true, 32))),
              (Paths{"Temp\\t.txt", "a.txt", "b.doc", "mytemp\\m.txt", "other\\Temp\\u.txt", "sub\\c.txt",
                     "sub\\deep\\d.txt", "sub\\deep\\e.doc"}));
    EXPECT_EQ(sorted(walk(with("*", true, 16))), (Paths{"Temp", "mytemp", "other", "other\\Temp", "sub", "sub\\deep"}));

    WalkSettings s = with("*");
    s.setExcludedFolders(std::string("TEMP:deep"));
    s.setExcludedExt(std::string("DOC"));
    EXPECT_EQ(sorted(walk(s)), (Paths{"a.txt", "mytemp", "mytemp\\m.txt", "other", "ro.txt", "sub", "sub\\c.txt"}));
}

TEST_F(DiskTree, NothingToDeliver) {
    EXPECT_EQ(walk(with(nullptr)), Paths{});  // the initial, null name mask
    EXPECT_EQ(walk(with("*.none")), Paths{});
    WalkSettings missing = with("*");
    missing.setRootPath(dir.file("missing/"));
    EXPECT_EQ(walk(missing), Paths{});
}

// RootPath without a trailing separator starts in its parent; an empty one
// in the current folder, with relative Dir strings.
TEST_F(DiskTree, RootPathForms) {
    WalkSettings s = with("*.txt", false);
    s.setRootPath(dir.file("sub"));
    EXPECT_EQ(sorted(walk(s)), (Paths{"a.txt", "ro.txt"}));
    s.setRootPath(dir.file("sub/"));
    EXPECT_EQ(sorted(walk(s)), (Paths{"sub\\c.txt"}));

    char cwd[600];
    ASSERT_GT(platform::currentDirectory(cwd, sizeof cwd), 0u);
    ASSERT_TRUE(platform::setCurrentDirectory(dir.path().c_str()));
    WalkSettings rel = with("*.doc");
    rel.setRootPath(std::string());
    Paths got;
    {
        ItemWalk w(rel);
        WalkItem item;
        while (got.size() < 100 && w.next(&item)) got.push_back(*item.dir + "|" + item.record.name);
    }
    ASSERT_TRUE(platform::setCurrentDirectory(cwd));
    EXPECT_EQ(sorted(got), (Paths{"sub\\deep\\|e.doc", "|b.doc"}));
}
