// Fuzzes the folder walk over a tree in memory. The input gives the
// settings and the tree:
//   byte 0: flags (1 recursion, 2 null name mask, 4 "." and ".." entries,
//           8 excluded folders written, 16 excluded extensions written,
//           32 null root path)
//   bytes 1-2: attribute mask (0xFFFF means 0x1FF7, every bit)
//   then lines: root path, name mask, excluded folders, excluded
//   extensions, and entries: "F<attr byte>path" a file, "D path" a folder,
//   "X pattern" a search that fails.
// Properties checked (a failure aborts):
//   - the walk ends within a bound of steps and stays ended;
//   - no item is named "." or "..";
//   - a folder item only with recursion and the folder bit in the mask, a
//     file item only when it passes the attribute filter;
//   - a reset walk gives the same sequence again;
//   - every search the walk opened is closed, none is used after closing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filesys/item_walk.h"
#include "filesys/testing/memory_find.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

constexpr size_t kMaxEntries = 2000;
constexpr size_t kMaxSteps = 200000;
constexpr size_t kMaxLine = 300;

bool noLeadBytes(unsigned char) { return false; }

std::vector<std::string> walkAll(filesys::ItemWalk& walk, const filesys::WalkSettings& s) {
    std::vector<std::string> seen;
    filesys::WalkItem item;
    while (walk.next(&item)) {
        check(seen.size() < kMaxSteps);
        const char* name = item.record.name;
        check(std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0);
        check(item.dir != nullptr);
        uint32_t a = item.record.attributes;
        if (a & filesys::kAttributeDirectory) {
            check(s.recurseOn() && (s.attributeMask() & filesys::kAttributeDirectory));
        } else {
            check(s.attributeMask() == filesys::kAttributeMaskAll || (a & s.attributeMask()) == a);
        }
        seen.push_back(*item.dir + "|" + name);
    }
    check(!walk.next(&item));
    return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    uint8_t flags = data[0];
    uint32_t mask = uint32_t(data[1]) | (uint32_t(data[2]) << 8);
    if (mask == 0xFFFF) mask = filesys::kAttributeMaskAll;
    std::string text(reinterpret_cast<const char*>(data + 3), size - 3);
    std::vector<std::string> lines;
    for (size_t pos = 0; pos <= text.size() && lines.size() < kMaxEntries + 4;) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(pos, std::min<size_t>(end - pos, kMaxLine)));
        pos = end + 1;
    }
    while (lines.size() < 4) lines.emplace_back();

    filesys::WalkSettings s;
    if (!(flags & 32)) s.setRootPath(lines[0]);
    if (!(flags & 2)) s.setNameMask(lines[1]);
    if (flags & 8) s.setExcludedFolders(lines[2]);
    if (flags & 16) s.setExcludedExt(lines[3]);
    s.setRecurse(flags & 1 ? -1 : 0);
    s.setAttributeMask(mask);

    filesys::MemoryFind find;
    find.dotEntries = (flags & 4) != 0;
    for (size_t i = 4; i < lines.size(); i++) {
        const std::string& l = lines[i];
        if (l.size() < 3) continue;
        std::string path = l.substr(2);
        // No file system holds an entry of its own named "." or "..", nor a
        // name with a zero byte.
        if (path.find('\0') != std::string::npos) continue;
        size_t sep = path.find_last_of("\\/");
        std::string last = sep == std::string::npos ? path : path.substr(sep + 1);
        if (last == "." || last == "..") continue;
        if (l[0] == 'F') find.addFile(path, uint8_t(l[1]) & ~filesys::kAttributeDirectory, uint8_t(l[1]) * 1000u);
        else if (l[0] == 'D') find.addFolder(path);
        else if (l[0] == 'X') find.failPattern(path);
    }

    {
        filesys::ItemWalk walk(s, find, noLeadBytes);
        std::vector<std::string> first = walkAll(walk, s);
        walk.reset();
        check(walkAll(walk, s) == first);
        // Reset in the middle, then the whole walk again.
        walk.reset();
        walk.skip(uint32_t(first.size() / 2));
        walk.reset();
        check(walkAll(walk, s) == first);
    }
    check(find.openSearches() == 0);
    check(find.misuse == 0);
    return 0;
}
