// The walk over folder trees in memory, where the search order is the order
// the test added the entries and every search call is counted.
#include "filesys/item_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "filesys/testing/memory_find.h"

using filesys::ItemWalk;
using filesys::MemoryFind;
using filesys::WalkItem;
using filesys::WalkSettings;
using Paths = std::vector<std::string>;

namespace {

bool noLeadBytes(unsigned char) { return false; }
bool cp932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

WalkSettings settings(const char* root, const char* mask, bool recurse = true, uint32_t attributes = 0x1FF7) {
    WalkSettings s;
    if (root) s.setRootPath(std::string(root));
    if (mask) s.setNameMask(std::string(mask));
    s.setRecurse(recurse ? -1 : 0);
    s.setAttributeMask(attributes);
    return s;
}

// Every item to the end as "Dir|name".
Paths walkAll(ItemWalk& walk, size_t bound = 10000) {
    Paths out;
    WalkItem item;
    while (out.size() < bound && walk.next(&item)) out.push_back(*item.dir + "|" + item.record.name);
    return out;
}

Paths walkAll(MemoryFind& find, const WalkSettings& s, filesys::LeadByteTest lead = noLeadBytes) {
    ItemWalk walk(s, find, lead);
    return walkAll(walk);
}

// C:\data with files before and after a subfolder, attributes that test
// the mask, a folder two levels down and a folder whose name begins with ".".
void buildDataTree(MemoryFind& f) {
    f.addFile("C:\\data\\a.txt", 0x20);
    f.addFolder("C:\\data\\sub");
    f.addFile("C:\\data\\b.txt", 0x21);    // archive and read-only
    f.addFile("C:\\data\\z.txt", 0x2000);  // a bit outside the enumeration
    f.addFile("C:\\data\\sub\\c.txt", 0x20);
    f.addFile("C:\\data\\sub\\notes.doc", 0x20);
    f.addFile("C:\\data\\sub\\deep\\d.txt", 0x20);
    f.addFile("C:\\data\\sub\\deep\\s1.txt", 0x20);
    f.addFile("C:\\data\\.hid\\h.txt", 0x20);
    f.addFile("C:\\data\\.hidden.txt", 0x22);
}

}  // namespace

// Exact sequences: a folder's matching files in search order, then its
// subfolders in "*" order, pre-order; folders only with recursion, the
// folder bit in the mask and a name that matches; the attribute filter.
TEST(ItemWalk, DeliveredSequences) {
    struct {
        const char* what;
        WalkSettings s;
        Paths expected;
    } const cases[] = {
        {"*.txt, no recursion", settings("C:\\data\\", "*.txt", false),
         {"C:\\data\\|a.txt", "C:\\data\\|b.txt", "C:\\data\\|z.txt", "C:\\data\\|.hidden.txt"}},
        {"*.txt, recursion", settings("C:\\data\\", "*.txt"),
         {"C:\\data\\|a.txt", "C:\\data\\|b.txt", "C:\\data\\|z.txt", "C:\\data\\|.hidden.txt",
          "C:\\data\\sub\\|c.txt", "C:\\data\\sub\\deep\\|d.txt", "C:\\data\\sub\\deep\\|s1.txt"}},
        {"*, recursion: folders before their contents", settings("C:\\data\\", "*"),
         {"C:\\data\\|a.txt", "C:\\data\\|b.txt", "C:\\data\\|z.txt", "C:\\data\\|.hidden.txt", "C:\\data\\|sub",
          "C:\\data\\sub\\|c.txt", "C:\\data\\sub\\|notes.doc", "C:\\data\\sub\\|deep", "C:\\data\\sub\\deep\\|d.txt",
          "C:\\data\\sub\\deep\\|s1.txt"}},
        {"*, no recursion: no folders", settings("C:\\data\\", "*", false),
         {"C:\\data\\|a.txt", "C:\\data\\|b.txt", "C:\\data\\|z.txt", "C:\\data\\|.hidden.txt"}},
        {"s*: a folder whose name matches, one entered whose name does not", settings("C:\\data\\", "s*"),
         {"C:\\data\\|sub", "C:\\data\\sub\\deep\\|s1.txt"}},
        {"mask 32: 0x20 passes, 0x21 and 0x2000 do not, no folders", settings("C:\\data\\", "*", true, 32),
         {"C:\\data\\|a.txt", "C:\\data\\sub\\|c.txt", "C:\\data\\sub\\|notes.doc", "C:\\data\\sub\\deep\\|d.txt",
          "C:\\data\\sub\\deep\\|s1.txt"}},
        {"mask 33: read-only archive passes", settings("C:\\data\\", "*.txt", false, 33),
         {"C:\\data\\|a.txt", "C:\\data\\|b.txt"}},
        {"mask 8182: 0x2000 and read-only skipped", settings("C:\\data\\", "*.txt", false, 8182),
         {"C:\\data\\|a.txt", "C:\\data\\|.hidden.txt"}},
        {"mask 0x3FF7 is not 'all': 0x2000 passes by the subset rule", settings("C:\\data\\", "*.txt", false, 0x3FF7),
         {"C:\\data\\|a.txt", "C:\\data\\|b.txt", "C:\\data\\|z.txt", "C:\\data\\|.hidden.txt"}},
        {"mask 16: folders only", settings("C:\\data\\", "*", true, 16), {"C:\\data\\|sub", "C:\\data\\sub\\|deep"}},
        {"mask 0: nothing", settings("C:\\data\\", "*", true, 0), {}},
        {"a literal name", settings("C:\\data\\", "C.TXT"), {"C:\\data\\sub\\|c.txt"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryFind f;
        buildDataTree(f);
        EXPECT_EQ(walkAll(f, c.s), c.expected);
        EXPECT_EQ(f.openSearches(), 0u);
        EXPECT_EQ(f.misuse, 0);
    }
}

// The root folder is the drive and directory of RootPath: a last component
// without a trailing separator is dropped; "/" becomes "\" in Dir strings.
TEST(ItemWalk, RootPathRule) {
    struct {
        const char* root;
        const char* rootFolder;
        Paths expected;
    } const cases[] = {
        {"C:\\data\\", "C:\\data\\", {"C:\\data\\|in-data.txt"}},
        {"C:\\data\\x", "C:\\data\\", {"C:\\data\\|in-data.txt"}},
        {"C:\\data\\*.doc", "C:\\data\\", {"C:\\data\\|in-data.txt"}},
        {"C:\\data", "C:\\", {"C:\\|in-root.txt"}},
        {"C:/data/", "C:/data/", {"C:\\data\\|in-data.txt"}},
        {"C:/data/sub/", "C:/data/sub/", {"C:\\data\\sub\\|in-sub.txt"}},
        {"C:\\nowhere\\", "C:\\nowhere\\", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.root);
        MemoryFind f;
        f.addFile("C:\\in-root.txt");
        f.addFile("C:\\data\\in-data.txt");
        f.addFile("C:\\data\\sub\\in-sub.txt");
        ItemWalk walk(settings(c.root, "*.txt", false), f, noLeadBytes);
        EXPECT_EQ(walk.rootFolder(), c.rootFolder);
        EXPECT_EQ(walkAll(walk), c.expected);
    }
    // A double-byte last character whose trail byte is 0x5C is a name, not
    // a separator: it is dropped as a whole.
    MemoryFind f;
    ItemWalk dbcs(settings("C:\\data\\\x95\x5C", "*"), f, cp932Lead);
    EXPECT_EQ(dbcs.rootFolder(), "C:\\data\\");
}

// An empty RootPath searches the current folder: Dir strings are relative
// (empty at the top).
TEST(ItemWalk, EmptyRootPathGivesRelativeDirs) {
    MemoryFind f;
    f.addFile("top.txt");
    f.addFile("rs\\s.txt");
    f.addFile("rs\\deeper\\t.txt");
    EXPECT_EQ(walkAll(f, settings(nullptr, "*.txt")), (Paths{"|top.txt", "rs\\|s.txt", "rs\\deeper\\|t.txt"}));
    EXPECT_EQ(walkAll(f, settings("", "*")),
              (Paths{"|top.txt", "|rs", "rs\\|s.txt", "rs\\|deeper", "rs\\deeper\\|t.txt"}));
    // No root and no mask: an empty pattern, so not even a search.
    f.clearCounts();
    EXPECT_EQ(walkAll(f, settings(nullptr, nullptr)), Paths{});
    EXPECT_EQ(f.firstCalls, 0);
}

// The initial NameMask (null): the pattern is the bare folder, which
// matches nothing, yet every folder is entered (its "*" search runs once).
// A failed pattern search is tried again on the cursor's next call.
TEST(ItemWalk, EmptyNameMaskEntersEveryFolder) {
    for (uint32_t mask : {0x1FF7u, 32u}) {
        SCOPED_TRACE(mask);
        MemoryFind f;
        buildDataTree(f);
        EXPECT_EQ(walkAll(f, settings("C:\\data\\", nullptr, true, mask)), Paths{});
        EXPECT_EQ(f.firstsByPattern["C:\\data\\*"], 1);
        EXPECT_EQ(f.firstsByPattern["C:\\data\\sub\\*"], 1);
        EXPECT_EQ(f.firstsByPattern["C:\\data\\sub\\deep\\*"], 1);
        EXPECT_EQ(f.firstsByPattern.count("C:\\data\\.hid\\*"), 0u);
        // The folder's own search: once at first, once more after each
        // subfolder it handed out; plus the folder-name test of each
        // subfolder when the mask has the folder bit.
        int nameTests = (mask & 0x10) ? 1 : 0;
        EXPECT_EQ(f.firstsByPattern["C:\\data\\"], 2 + nameTests);
        EXPECT_EQ(f.firstsByPattern["C:\\data\\sub\\"], 2 + nameTests);
        EXPECT_EQ(f.firstsByPattern["C:\\data\\sub\\deep\\"], 1);
        EXPECT_EQ(f.recordsRead, 8 + 5 + 4);  // only the three "*" searches found anything
        EXPECT_EQ(f.openSearches(), 0u);
    }
}

// Exclusion lists: names only (any depth), ASCII case ignored, entries
// separated by ":" only, the extension test applied to folders too.
TEST(ItemWalk, Exclusions) {
    auto build = [](MemoryFind& f) {
        f.addFile("C:\\x\\a.txt");
        f.addFile("C:\\x\\B.TxT");
        f.addFile("C:\\x\\a.txt2");
        f.addFile("C:\\x\\n.bak");
        f.addFile("C:\\x\\e.");
        f.addFile("C:\\x\\plain");
        f.addFile("C:\\x\\Temp\\t1.dat");
        f.addFile("C:\\x\\sub\\TEMP\\t2.dat");
        f.addFile("C:\\x\\sub\\s.dat");
        f.addFile("C:\\x\\mytemp\\m.dat");
        f.addFile("C:\\x\\old.tmp\\o.dat");
        f.addFile("C:\\x\\keep\\k.tmp");
    };
    const Paths all = {"C:\\x\\|a.txt", "C:\\x\\|B.TxT", "C:\\x\\|a.txt2", "C:\\x\\|n.bak", "C:\\x\\|e.",
                       "C:\\x\\|plain", "C:\\x\\|Temp", "C:\\x\\Temp\\|t1.dat", "C:\\x\\|sub",
                       "C:\\x\\sub\\|s.dat", "C:\\x\\sub\\|TEMP", "C:\\x\\sub\\TEMP\\|t2.dat", "C:\\x\\|mytemp",
                       "C:\\x\\mytemp\\|m.dat", "C:\\x\\|old.tmp", "C:\\x\\old.tmp\\|o.dat", "C:\\x\\|keep",
                       "C:\\x\\keep\\|k.tmp"};
    {
        MemoryFind f;
        build(f);
        ASSERT_EQ(walkAll(f, settings("C:\\x\\", "*")), all);
    }
    struct {
        const char* folders;  // null: not written
        const char* ext;
        Paths removed;
    } const cases[] = {
        {nullptr, "TXT", {"C:\\x\\|a.txt", "C:\\x\\|B.TxT"}},
        {nullptr, "tmp:bak", {"C:\\x\\|n.bak", "C:\\x\\|old.tmp", "C:\\x\\old.tmp\\|o.dat", "C:\\x\\keep\\|k.tmp"}},
        {nullptr, "bak:tmp", {"C:\\x\\|n.bak", "C:\\x\\|old.tmp", "C:\\x\\old.tmp\\|o.dat", "C:\\x\\keep\\|k.tmp"}},
        {nullptr, "xtmp:tmp", {"C:\\x\\|old.tmp", "C:\\x\\old.tmp\\|o.dat", "C:\\x\\keep\\|k.tmp"}},
        {nullptr, ".tmp", {}},                   // written with its dot: never matches
        {nullptr, "bak ", {}},                   // the space is part of the entry
        {nullptr, "txt;bak", {}},                // ";" separates nothing
        {nullptr, "tx", {}},                     // whole entries only
        {nullptr, "", {"C:\\x\\|e."}},           // stored ":" matches the empty extension of "e."
        {"temp", nullptr, {"C:\\x\\|Temp", "C:\\x\\Temp\\|t1.dat", "C:\\x\\sub\\|TEMP", "C:\\x\\sub\\TEMP\\|t2.dat"}},
        {"TEMP", nullptr, {"C:\\x\\|Temp", "C:\\x\\Temp\\|t1.dat", "C:\\x\\sub\\|TEMP", "C:\\x\\sub\\TEMP\\|t2.dat"}},
        {"sub", nullptr, {"C:\\x\\|sub", "C:\\x\\sub\\|TEMP", "C:\\x\\sub\\TEMP\\|t2.dat", "C:\\x\\sub\\|s.dat"}},
        {"keep:mytemp", nullptr, {"C:\\x\\|mytemp", "C:\\x\\mytemp\\|m.dat", "C:\\x\\|keep", "C:\\x\\keep\\|k.tmp"}},
        {"a.txt", nullptr, {}},                  // folder entries never exclude files
        {"x", nullptr, {}},                      // names, not paths
        {"", "", {"C:\\x\\|e."}},
        {"plain:temp", "txt", {"C:\\x\\|a.txt", "C:\\x\\|B.TxT", "C:\\x\\|Temp", "C:\\x\\Temp\\|t1.dat",
                               "C:\\x\\sub\\|TEMP", "C:\\x\\sub\\TEMP\\|t2.dat"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.folders ? c.folders : "(null)") + " / " + (c.ext ? c.ext : "(null)"));
        WalkSettings s = settings("C:\\x\\", "*");
        if (c.folders) s.setExcludedFolders(std::string(c.folders));
        if (c.ext) s.setExcludedExt(std::string(c.ext));
        Paths expected;
        for (const auto& p : all)
            if (std::find(c.removed.begin(), c.removed.end(), p) == c.removed.end()) expected.push_back(p);
        MemoryFind f;
        build(f);
        EXPECT_EQ(walkAll(f, s), expected);
        // An excluded folder is not even searched.
        for (const auto& p : c.removed)
            if (p.find('.') == std::string::npos || p == "C:\\x\\|old.tmp") {
                std::string folder = p.substr(0, p.find('|')) + p.substr(p.find('|') + 1) + "\\*";
                EXPECT_EQ(f.firstsByPattern.count(folder), 0u) << folder;
            }
    }
}

// Under a double-byte code page the lower-casing leaves trail bytes alone:
// 0x83 0x41 and 0x83 0x61 are different characters.
TEST(ItemWalk, ExclusionsUnderDoubleByteCodePage) {
    MemoryFind f;
    f.addFile("C:\\j\\\x83\x41\\f.dat");
    WalkSettings s = settings("C:\\j\\", "*");
    s.setExcludedFolders(std::string("\x83\x61"));
    EXPECT_EQ(walkAll(f, s, cp932Lead), (Paths{"C:\\j\\|\x83\x41", "C:\\j\\\x83\x41\\|f.dat"}));
    s.setExcludedFolders(std::string("\x83\x41"));
    EXPECT_EQ(walkAll(f, s, cp932Lead), Paths{});
}

// A search that fails (a missing folder, access denied) gives nothing for
// that folder, and the walk goes on.
TEST(ItemWalk, FailedSearchesAreSkipped) {
    {
        MemoryFind f;
        buildDataTree(f);
        f.failPattern("C:\\data\\sub\\*.txt");  // the files of sub
        EXPECT_EQ(walkAll(f, settings("C:\\data\\", "*.txt")),
                  (Paths{"C:\\data\\|a.txt", "C:\\data\\|b.txt", "C:\\data\\|z.txt", "C:\\data\\|.hidden.txt",
                         "C:\\data\\sub\\deep\\|d.txt", "C:\\data\\sub\\deep\\|s1.txt"}));
        EXPECT_EQ(f.openSearches(), 0u);
    }
    {
        MemoryFind f;
        buildDataTree(f);
        f.failPattern("C:\\data\\sub\\*");  // the subfolders of sub
        EXPECT_EQ(walkAll(f, settings("C:\\data\\", "*.txt")),
                  (Paths{"C:\\data\\|a.txt", "C:\\data\\|b.txt", "C:\\data\\|z.txt", "C:\\data\\|.hidden.txt",
                         "C:\\data\\sub\\|c.txt"}));
    }
    {
        MemoryFind f;
        buildDataTree(f);
        f.failPattern("C:\\data\\s*");  // the files of C:\data and the folder-name test of sub
        EXPECT_EQ(walkAll(f, settings("C:\\data\\", "s*")), Paths{"C:\\data\\sub\\deep\\|s1.txt"});
    }
    {
        MemoryFind f;
        buildDataTree(f);
        f.failPattern("C:\\data\\*");
        EXPECT_EQ(walkAll(f, settings("C:\\data\\", "*.doc")), Paths{});
    }
}

// Lazy: one record read per item delivered, and memory (open cursors) that
// follows the depth of the tree, not the number of files.
TEST(ItemWalk, LazyAndDepthBound) {
    MemoryFind f;
    for (int i = 0; i < 50; i++) f.addFile("C:\\big\\f" + std::to_string(100 + i) + ".txt");
    std::string chain = "C:\\big";
    for (int i = 0; i < 10; i++) {
        chain += "\\l" + std::to_string(i);
        f.addFolder(chain);
    }
    f.addFile(chain + "\\leaf.txt");
    ItemWalk walk(settings("C:\\big\\", "*.txt"), f, noLeadBytes);
    WalkItem item;
    for (int k = 1; k <= 50; k++) {
        ASSERT_TRUE(walk.next(&item));
        EXPECT_EQ(f.recordsByPattern["C:\\big\\*.txt"], k);
        EXPECT_EQ(walk.depth(), 1u);
        EXPECT_LE(f.openSearches(), 1u);
    }
    ASSERT_TRUE(walk.next(&item));
    EXPECT_STREQ(item.record.name, "leaf.txt");
    EXPECT_EQ(walk.depth(), 11u);
    EXPECT_EQ(f.openSearches(), 2u);  // the top's and the leaf folder's; the others found no file
    EXPECT_FALSE(walk.next(&item));
    EXPECT_EQ(walk.depth(), 1u);
    EXPECT_EQ(f.openSearches(), 0u);
}

// Reset in the middle closes every search below the root and starts over;
// the walk then gives exactly the sequence of a new one.
TEST(ItemWalk, ResetMidWalk) {
    MemoryFind f;
    buildDataTree(f);
    const WalkSettings s = settings("C:\\data\\", "*");
    const Paths full = walkAll(f, s);
    ItemWalk walk(s, f, noLeadBytes);
    EXPECT_EQ(walk.skip(7), 7u);  // inside C:\data\sub
    EXPECT_EQ(walk.depth(), 2u);
    walk.reset();
    EXPECT_EQ(walk.depth(), 1u);
    EXPECT_EQ(f.openSearches(), 0u);
    EXPECT_EQ(walkAll(walk), full);
    walk.reset();
    EXPECT_EQ(walkAll(walk), full);
    EXPECT_EQ(f.misuse, 0);
}

// After the end the walk stays at its end without searching, even when the
// folder has changed, until Reset; skip counts what was there.
TEST(ItemWalk, EndIsFinalUntilReset) {
    MemoryFind f;
    f.addFolder("C:\\e");
    ItemWalk walk(settings("C:\\e\\", "*.txt"), f, noLeadBytes);
    WalkItem item;
    EXPECT_FALSE(walk.next(&item));
    f.addFile("C:\\e\\late.txt");
    f.addFile("C:\\e\\later.txt");
    f.clearCounts();
    EXPECT_FALSE(walk.next(&item));
    EXPECT_EQ(walk.skip(5), 0u);
    EXPECT_EQ(f.firstCalls + f.nextCalls, 0);
    walk.reset();
    EXPECT_EQ(walk.skip(5), 2u);
    EXPECT_FALSE(walk.next(&item));
    walk.reset();
    EXPECT_EQ(walk.skip(1), 1u);
    ASSERT_TRUE(walk.next(&item));
    EXPECT_STREQ(item.record.name, "later.txt");
    EXPECT_EQ(walk.skip(0), 0u);
}

// Items of one folder share one Dir string, which outlives the walk; the
// record is a copy (attributes, size words, name).
TEST(ItemWalk, ItemsShareTheDirString) {
    MemoryFind f;
    f.addFile("C:\\s\\one.txt", 0x21, 0x1C0000000ull);  // 7 GiB: high word 1, low word 0xC0000000
    f.addFile("C:\\s\\two.txt");
    f.addFile("C:\\s\\in\\three.txt");
    std::vector<WalkItem> items;
    {
        ItemWalk walk(settings("C:\\s\\", "*.txt"), f, noLeadBytes);
        WalkItem item;
        while (walk.next(&item)) items.push_back(item);
    }
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].dir.get(), items[1].dir.get());
    EXPECT_NE(items[0].dir.get(), items[2].dir.get());
    EXPECT_EQ(*items[0].dir, "C:\\s\\");
    EXPECT_EQ(*items[2].dir, "C:\\s\\in\\");
    EXPECT_EQ(items[0].dir.use_count(), 2);  // the walk is gone; the two items hold it
    EXPECT_EQ(items[0].record.attributes, 0x21u);
    EXPECT_EQ(items[0].record.sizeHigh, 1u);
    EXPECT_EQ(items[0].record.sizeLow, 0xC0000000u);
    EXPECT_STREQ(items[2].record.name, "three.txt");
}

// Patterns past 259 characters fail like the ANSI search: the walk stops
// descending there and ends, even when the tree goes deeper.
TEST(ItemWalk, LongPathsEndTheDescent) {
    MemoryFind f;
    std::string chain = "C:\\t";
    for (int i = 0; i < 12; i++) {
        chain += "\\" + std::string(40, char('a' + i));
        f.addFolder(chain);
        f.addFile(chain + "\\f.txt");
    }
    // "C:\t\" then 41 characters a level: the folder of level 6 still comes
    // from the listing of level 5, but its own searches are too long.
    ItemWalk walk(settings("C:\\t\\", "*"), f, noLeadBytes);
    WalkItem item;
    Paths names;
    while (walk.next(&item)) names.push_back(item.record.name);
    ASSERT_EQ(names.size(), 13u);
    for (size_t i = 0; i < 13; i++) EXPECT_EQ(names[i], i % 2 ? "f.txt" : std::string(40, char('a' + i / 2))) << i;
    EXPECT_EQ(f.openSearches(), 0u);
    EXPECT_EQ(f.misuse, 0);
}

// "." and ".." come back from every folder search and are never items.
TEST(ItemWalk, DotEntriesNeverDelivered) {
    for (bool dots : {true, false}) {
        MemoryFind f;
        f.dotEntries = dots;
        buildDataTree(f);
        for (const char* mask : {"*", "*.*", ".*", "?", "??", ".", ".."}) {
            Paths got = walkAll(f, settings("C:\\data\\", mask));
            for (const auto& p : got) {
                std::string name = p.substr(p.find('|') + 1);
                EXPECT_NE(name, ".") << mask;
                EXPECT_NE(name, "..") << mask;
            }
        }
    }
}
