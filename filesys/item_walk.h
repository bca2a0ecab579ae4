// The lazy folder walk behind the Enumerator's Items: depth-first,
// pre-order, one search record read per item delivered, memory that grows
// with the depth of the tree and not with the number of files.
//
// A walk owns a chain of FolderCursors, the root one for its whole life and
// one per folder it is inside. Each cursor reads the files of its folder
// that match the name mask one at a time through an open search, and then
// hands out its subfolders from a list taken in one "*" search when the
// walk entered the folder. The walk enters every subfolder that is not
// excluded and delivers it as an item when the attribute mask has the
// folder bit and the folder's name matches the mask in its parent.
//
// The COM layer's ItemWalker owns one ItemWalk and calls next(), skip() and
// reset(); each Item copies the record and shares the Dir string.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "filesys/path_split.h"
#include "filesys/walk_settings.h"
#include "support/platform.h"

namespace filesys {

// The three search operations the walk needs. Production uses the
// platform's (systemFind()); tests put a tree in memory behind them.
class FindOps {
public:
    virtual ~FindOps() = default;
    // The first record of a wildcard search, or platform::kInvalidFind.
    virtual platform::FindHandle findFirst(const std::string& pattern, platform::FindRecord* out) = 0;
    // The same for a caller that keeps only folders; other records may
    // still come.
    virtual platform::FindHandle findFolders(const std::string& pattern, platform::FindRecord* out) {
        return findFirst(pattern, out);
    }
    virtual bool findNext(platform::FindHandle search, platform::FindRecord* out) = 0;
    virtual void findClose(platform::FindHandle search) = 0;
};

// FindFirstFileA, FindNextFileA and FindClose, or their POSIX substitute.
FindOps& systemFind();

// A folder as items report it: drive and directory with a trailing "\" (or
// empty for the current folder). Shared by a cursor and the items it
// yields.
using DirString = std::shared_ptr<const std::string>;

struct WalkItem {
    platform::FindRecord record;
    DirString dir;
};

class FolderCursor {
public:
    FolderCursor(FindOps& find, LeadByteTest isLead);
    ~FolderCursor();
    FolderCursor(const FolderCursor&) = delete;
    FolderCursor& operator=(const FolderCursor&) = delete;

    // The search pattern (folder followed by the name mask) and the filter;
    // closes an open search. The Dir string is the pattern's drive and
    // directory with "/" made "\".
    void setup(std::string pattern, uint32_t attributeMask, bool recurse);
    // Closes the open search and takes the subfolder list anew: every
    // folder of a "*" search whose name does not begin with ".", in search
    // order (none with recursion off or an empty pattern).
    void rewind();
    // The next file of the pattern search that passes the filter, else the
    // next subfolder; false when the folder has nothing more. A search that
    // fails to open stays closed, so the next call tries it again.
    bool nextRecord(platform::FindRecord* out);
    void closeSearch();

    const std::string& pattern() const { return pattern_; }
    const DirString& dir() const { return dir_; }
    size_t subfolderCount() const { return subfolders_.size(); }

private:
    bool passesFilter(const platform::FindRecord& record) const;
    bool nextSubfolder(platform::FindRecord* out);

    FindOps& find_;
    LeadByteTest isLead_;
    std::string pattern_;
    DirString dir_;
    uint32_t attributeMask_ = 0;
    bool recurse_ = false;
    platform::FindHandle search_ = platform::kInvalidFind;
    std::vector<platform::FindRecord> subfolders_;
    size_t readPosition_ = 0;
};

class ItemWalk {
public:
    // Copies the settings, lower-cases the exclusion lists (ASCII letters
    // only), takes the root folder from RootPath (drive and directory: a
    // last component without a trailing separator is dropped) and starts
    // at the beginning.
    explicit ItemWalk(const WalkSettings& settings, FindOps& find = systemFind(), LeadByteTest isLead = nullptr);
    ~ItemWalk();
    ItemWalk(const ItemWalk&) = delete;
    ItemWalk& operator=(const ItemWalk&) = delete;

    // Back to the start: every cursor but the root one is closed and freed,
    // the root one is set up and rewound.
    void reset();
    // The next item, or false at the end; after the end it stays false
    // (without touching the file system) until reset().
    bool next(WalkItem* out);
    // Walks over up to count items; returns how many there were.
    uint32_t skip(uint32_t count);

    const std::string& rootFolder() const { return rootFolder_; }
    // Folders the walk is inside, the root's included (1 at the start).
    size_t depth() const { return cursors_.size(); }

private:
    bool isExcluded(const platform::FindRecord& record) const;
    bool folderNameMatches(const std::string& dir, const char* name);

    FindOps& find_;
    LeadByteTest isLead_;
    std::string rootFolder_;
    std::string nameMask_;
    uint32_t attributeMask_;
    bool recurse_;
    std::string excludedFolders_;  // lower-cased; empty when null
    std::string excludedExt_;
    std::vector<std::unique_ptr<FolderCursor>> cursors_;  // [0] the root, back() the current folder
    bool ended_ = false;
};

}  // namespace filesys
