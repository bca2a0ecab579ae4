#include "support/testing/tree_listing.h"

#include <algorithm>

#include "support/platform.h"

namespace {

void collectTree(const std::string& folder, const std::string& prefix, std::vector<std::string>* out) {
    for (const ListedName& n : listNames(folder)) {
        if (n.isDirectory) {
            out->push_back(prefix + n.name + "/");
            collectTree(folder + "/" + n.name, prefix + n.name + "/", out);
        } else {
            out->push_back(prefix + n.name);
        }
    }
}

}  // namespace

std::vector<ListedName> listNames(const std::string& folder) {
    std::vector<ListedName> names;
    platform::listDirectory(
        folder.c_str(),
        [](void* context, const char* name, bool isDirectory) {
            static_cast<std::vector<ListedName>*>(context)->push_back({name, isDirectory});
            return true;
        },
        &names);
    std::sort(names.begin(), names.end(), [](const ListedName& a, const ListedName& b) { return a.name < b.name; });
    return names;
}

std::vector<std::string> listTree(const std::string& folder) {
    std::vector<std::string> out;
    collectTree(folder, "", &out);
    std::sort(out.begin(), out.end());
    return out;
}

void removeTree(const std::string& path) {
    platform::FileInfo info;
    if (!platform::fileInfo(path.c_str(), &info)) return;
    platform::setFileAttributes(path.c_str(), 0x20);  // read-only files and folders cannot be removed
    if (info.isDirectory) {
        for (const ListedName& n : listNames(path)) removeTree(path + "/" + n.name);
        platform::removeDirectory(path.c_str());
    } else {
        platform::deleteFile(path.c_str());
    }
}
