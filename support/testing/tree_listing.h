// Folder listing and removal for tests: what an extraction or a build left
// on disk, as sorted names, and clearing it away afterwards.
#pragma once

#include <string>
#include <vector>

struct ListedName {
    std::string name;
    bool isDirectory;
};

// The names directly in folder, sorted.
std::vector<ListedName> listNames(const std::string& folder);

// Every file and folder below folder, as "sub/" and "sub/name", sorted.
std::vector<std::string> listTree(const std::string& folder);

// Removes a file, or a folder with everything in it (read-only ones too).
void removeTree(const std::string& path);
