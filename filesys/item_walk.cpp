#include "filesys/item_walk.h"

#include <cstring>

namespace filesys {

namespace {

class SystemFind : public FindOps {
public:
    platform::FindHandle findFirst(const std::string& pattern, platform::FindRecord* out) override {
        return platform::findFirst(pattern.c_str(), out);
    }
    platform::FindHandle findFolders(const std::string& pattern, platform::FindRecord* out) override {
        return platform::findFirst(pattern.c_str(), out, platform::FindScope::Folders);
    }
    bool findNext(platform::FindHandle search, platform::FindRecord* out) override {
        return platform::findNext(search, out);
    }
    void findClose(platform::FindHandle search) override { platform::findClose(search); }
};

bool isFolder(const platform::FindRecord& r) { return (r.attributes & kAttributeDirectory) != 0; }

// True when key occurs in the colon-separated list at the start of an
// entry: at the very start or directly after a ":". Every occurrence
// counts, not only the first ("xtmp:tmp:" holds "tmp:").
bool startsAnEntry(const std::string& list, const std::string& key) {
    for (size_t pos = list.find(key); pos != std::string::npos; pos = list.find(key, pos + 1))
        if (pos == 0 || list[pos - 1] == ':') return true;
    return false;
}

}  // namespace

FindOps& systemFind() {
    static SystemFind find;
    return find;
}

// ---- FolderCursor ---------------------------------------------------------

FolderCursor::FolderCursor(FindOps& find, LeadByteTest isLead)
    : find_(find), isLead_(isLead), dir_(std::make_shared<const std::string>()) {}

FolderCursor::~FolderCursor() { closeSearch(); }

void FolderCursor::closeSearch() {
    if (search_ != platform::kInvalidFind) find_.findClose(search_);
    search_ = platform::kInvalidFind;
}

void FolderCursor::setup(std::string pattern, uint32_t attributeMask, bool recurse) {
    closeSearch();
    pattern_ = std::move(pattern);
    dir_ = std::make_shared<const std::string>(folderOf(pattern_, isLead_));
    attributeMask_ = attributeMask;
    recurse_ = recurse;
}

void FolderCursor::rewind() {
    closeSearch();
    subfolders_.clear();
    readPosition_ = 0;
    if (pattern_.empty() || !recurse_) return;
    platform::FindRecord r;
    platform::FindHandle h = find_.findFolders(*dir_ + "*", &r);
    if (h == platform::kInvalidFind) return;
    do {
        if (isFolder(r) && r.name[0] != '.') subfolders_.push_back(r);
    } while (find_.findNext(h, &r));
    find_.findClose(h);
}

bool FolderCursor::passesFilter(const platform::FindRecord& r) const {
    if (isFolder(r)) return false;  // folders come through the subfolder list only
    if (attributeMask_ == kAttributeMaskAll) return true;
    return (r.attributes & attributeMask_) == r.attributes;
}

bool FolderCursor::nextSubfolder(platform::FindRecord* out) {
    if (!recurse_ || readPosition_ >= subfolders_.size()) return false;
    *out = subfolders_[readPosition_++];
    return true;
}

bool FolderCursor::nextRecord(platform::FindRecord* out) {
    if (pattern_.empty()) return false;
    if (search_ == platform::kInvalidFind) {
        search_ = find_.findFirst(pattern_, out);
        if (search_ == platform::kInvalidFind) return nextSubfolder(out);
        if (passesFilter(*out)) return true;
    }
    while (find_.findNext(search_, out))
        if (passesFilter(*out)) return true;
    return nextSubfolder(out);
}

// ---- ItemWalk -------------------------------------------------------------

ItemWalk::ItemWalk(const WalkSettings& settings, FindOps& find, LeadByteTest isLead)
    : find_(find),
      isLead_(isLead),
      nameMask_(settings.nameMask().value_or(std::string())),
      attributeMask_(settings.attributeMask()),
      recurse_(settings.recurseOn()),
      excludedFolders_(lowerAscii(settings.excludedFolders().value_or(std::string()), isLead)),
      excludedExt_(lowerAscii(settings.excludedExt().value_or(std::string()), isLead)) {
    std::string root = settings.rootPath().value_or(std::string());
    rootFolder_ = root.substr(0, splitPath(root, isLead_).dirEnd);
    cursors_.push_back(std::make_unique<FolderCursor>(find_, isLead_));
    reset();
}

ItemWalk::~ItemWalk() {
    // The innermost folder first, as the walk leaves them.
    while (!cursors_.empty()) cursors_.pop_back();
}

void ItemWalk::reset() {
    while (cursors_.size() > 1) cursors_.pop_back();
    cursors_[0]->setup(rootFolder_ + nameMask_, attributeMask_, recurse_);
    cursors_[0]->rewind();
    ended_ = false;
}

bool ItemWalk::isExcluded(const platform::FindRecord& record) const {
    std::string name = lowerAscii(record.name, isLead_);
    if (!excludedExt_.empty()) {
        PathSplit s = splitPath(name, isLead_);
        if (s.extStart < s.size && startsAnEntry(excludedExt_, name.substr(s.extStart + 1) + ":")) return true;
    }
    if (isFolder(record) && !excludedFolders_.empty() && startsAnEntry(excludedFolders_, name + ":")) return true;
    return false;
}

bool ItemWalk::folderNameMatches(const std::string& dir, const char* name) {
    platform::FindRecord r;
    platform::FindHandle h = find_.findFolders(dir + nameMask_, &r);  // a folder's name
    if (h == platform::kInvalidFind) return false;
    bool found = false;
    do {
        if (equalsIgnoringAsciiCase(r.name, name, isLead_)) {
            found = true;
            break;
        }
    } while (find_.findNext(h, &r));
    find_.findClose(h);
    return found;
}

bool ItemWalk::next(WalkItem* out) {
    if (ended_) return false;
    platform::FindRecord record;
    while (true) {
        FolderCursor& cursor = *cursors_.back();
        if (!cursor.nextRecord(&record)) {
            if (cursors_.size() == 1) break;
            cursors_.pop_back();  // leave the folder: its search is closed
            continue;
        }
        DirString dir = cursor.dir();
        bool excluded = isExcluded(record);
        bool accepted = !excluded;
        if (isFolder(record) && record.name[0] != '.' && recurse_ && !excluded) {
            auto child = std::make_unique<FolderCursor>(find_, isLead_);
            child->setup(*dir + record.name + "\\" + nameMask_, attributeMask_, recurse_);
            child->rewind();
            cursors_.push_back(std::move(child));
            accepted = (attributeMask_ & kAttributeDirectory) && folderNameMatches(*dir, record.name);
        }
        if (accepted) {
            out->record = record;
            out->dir = std::move(dir);
            return true;
        }
    }
    // The end: the root's search is no longer needed, and the walk stays at
    // its end until reset.
    cursors_[0]->closeSearch();
    ended_ = true;
    return false;
}

uint32_t ItemWalk::skip(uint32_t count) {
    WalkItem scratch;
    uint32_t n = 0;
    while (n < count && next(&scratch)) n++;
    return n;
}

}  // namespace filesys
