#include "filesys/testing/memory_find.h"

#include <algorithm>
#include <cstring>

#include "filesys/path_split.h"
#include "support/wildcard.h"

namespace filesys {

namespace {

void splitLast(const std::string& path, std::string* folder, std::string* name) {
    size_t sep = path.find_last_of("\\/");
    *folder = sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
    *name = sep == std::string::npos ? path : path.substr(sep + 1);
}

}  // namespace

// The Win32 search's rules, as the POSIX search applies them.
bool MemoryFind::matches(const std::string& p, const std::string& n) { return wildcardMatches(p, n); }

std::string MemoryFind::key(const std::string& folderPath) {
    std::string k = lowerAscii(folderPath, [](unsigned char) { return false; });
    std::replace(k.begin(), k.end(), '/', '\\');
    return k;
}

void MemoryFind::ensureFolder(const std::string& folderPath) {
    std::string k = key(folderPath);
    if (folders_.count(k)) return;
    folders_[k];
    // Its parent lists it: "C:\data\sub\" is "sub" in "C:\data\".
    if (folderPath.size() < 2) return;
    std::string parent, name;
    splitLast(folderPath.substr(0, folderPath.size() - 1), &parent, &name);
    if (name.empty() || (name.size() == 2 && name[1] == ':')) return;  // a root such as "C:\"
    ensureFolder(parent);
    folders_[key(parent)].push_back({name, kAttributeDirectory, 0});
}

void MemoryFind::addFolder(const std::string& path, uint32_t attributes) {
    std::string folder, name;
    splitLast(path, &folder, &name);
    ensureFolder(folder);
    auto& list = folders_[key(folder)];
    if (folders_.count(key(path) + "\\")) {  // made already as a parent: set its attributes
        for (auto& e : list)
            if (key(e.name) == key(name)) e.attributes = attributes | kAttributeDirectory;
        return;
    }
    list.push_back({name, attributes | kAttributeDirectory, 0});
    folders_[key(path) + "\\"];
}

void MemoryFind::addFile(const std::string& path, uint32_t attributes, uint64_t size) {
    std::string folder, name;
    splitLast(path, &folder, &name);
    ensureFolder(folder);
    folders_[key(folder)].push_back({name, attributes, size});
}

bool MemoryFind::entryAt(const std::string& folder, size_t i, Entry* e) const {
    const auto& list = folders_.at(folder);
    if (dotEntries) {
        if (i < 2) {
            *e = {i == 0 ? "." : "..", kAttributeDirectory, 0};
            return true;
        }
        i -= 2;
    }
    if (i >= list.size()) return false;
    *e = list[i];
    return true;
}

bool MemoryFind::advance(Search& s, platform::FindRecord* out) {
    Entry e;
    while (entryAt(s.folder, s.position++, &e)) {
        if (!matches(s.mask, e.name)) continue;
        *out = platform::FindRecord();
        out->attributes = e.attributes;
        out->sizeHigh = uint32_t(e.size >> 32);
        out->sizeLow = uint32_t(e.size);
        out->lastWriteTime = 125911584000000000ull + s.position;  // 2000-01-01, then one tick per entry
        out->creationTime = out->lastAccessTime = out->lastWriteTime;
        std::strncpy(out->name, e.name.c_str(), sizeof out->name - 1);
        recordsRead++;
        recordsByPattern[s.pattern]++;
        return true;
    }
    return false;
}

platform::FindHandle MemoryFind::findFirst(const std::string& pattern, platform::FindRecord* out) {
    firstCalls++;
    firstsByPattern[pattern]++;
    if (pattern.size() > platform::kMaxFindPattern || failing_.count(pattern)) return platform::kInvalidFind;
    Search s;
    std::string folder;
    splitLast(pattern, &folder, &s.mask);
    s.folder = key(folder);
    s.pattern = pattern;
    s.position = 0;
    if (s.mask.empty() || !folders_.count(s.folder)) return platform::kInvalidFind;
    if (!advance(s, out)) return platform::kInvalidFind;
    platform::FindHandle h = nextHandle_++;
    open_[h] = s;
    return h;
}

bool MemoryFind::findNext(platform::FindHandle search, platform::FindRecord* out) {
    nextCalls++;
    auto it = open_.find(search);
    if (it == open_.end()) {
        misuse++;
        return false;
    }
    return advance(it->second, out);
}

void MemoryFind::findClose(platform::FindHandle search) {
    closeCalls++;
    if (!open_.erase(search)) misuse++;
}

void MemoryFind::clearCounts() {
    firstCalls = nextCalls = closeCalls = recordsRead = 0;
    firstsByPattern.clear();
    recordsByPattern.clear();
}

}  // namespace filesys
