// A folder tree in memory behind the walk's search operations, for tests
// and the fuzzer: entries come back in the order they were added (the
// "file system's order"), "." and ".." first in every folder when asked
// for, and every call is counted so tests can see how lazy a walk is and
// that it closes every search it opens.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "filesys/item_walk.h"

namespace filesys {

class MemoryFind : public FindOps {
public:
    // Full paths with "\" or "/" ("C:\data\sub\a.txt"); missing parents are
    // made as folders. Names compare without ASCII case, as on Windows.
    void addFile(const std::string& path, uint32_t attributes = kAttributeArchive, uint64_t size = 0);
    void addFolder(const std::string& path, uint32_t attributes = kAttributeDirectory);
    // A pattern whose search fails as if access were denied.
    void failPattern(const std::string& pattern) { failing_.insert(pattern); }
    bool dotEntries = true;

    platform::FindHandle findFirst(const std::string& pattern, platform::FindRecord* out) override;
    bool findNext(platform::FindHandle search, platform::FindRecord* out) override;
    void findClose(platform::FindHandle search) override;

    // Counters since construction or clearCounts().
    int firstCalls = 0;        // every findFirst, failed or not
    int nextCalls = 0;
    int closeCalls = 0;
    int recordsRead = 0;       // records handed out by findFirst and findNext
    std::map<std::string, int> firstsByPattern;
    std::map<std::string, int> recordsByPattern;
    int misuse = 0;            // next or close on a search that is not open
    void clearCounts();
    size_t openSearches() const { return open_.size(); }
    static bool matches(const std::string& mask, const std::string& name);

private:
    struct Entry {
        std::string name;
        uint32_t attributes;
        uint64_t size;
    };
    struct Search {
        std::string folder;  // key of folders_
        std::string mask;
        std::string pattern;
        size_t position;     // into the folder's listing, "." and ".." included
    };
    static std::string key(const std::string& folderPath);
    void ensureFolder(const std::string& folderPath);
    bool entryAt(const std::string& folder, size_t i, Entry* e) const;
    bool advance(Search& s, platform::FindRecord* out);

    std::map<std::string, std::vector<Entry>> folders_;  // "c:\data\" -> entries in order
    std::set<std::string> failing_;
    std::map<platform::FindHandle, Search> open_;
    platform::FindHandle nextHandle_ = 100;
};

}  // namespace filesys
