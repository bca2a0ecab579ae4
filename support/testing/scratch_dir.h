// Scratch folders for tests: a fresh folder under the system temporary
// folder, removed with its files when the test ends.
#pragma once

#include <string>
#include <vector>

#include "support/platform.h"

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::string& path() const { return path_; }  // ends in a separator
    std::string file(const std::string& name) const { return path_ + name; }
    // Writes a file (and remembers it for removal).
    void write(const std::string& name, const std::string& bytes);
    // Remembers a file that the code under test created.
    void track(const std::string& fullPath) { files_.push_back(fullPath); }

private:
    std::string path_;
    std::vector<std::string> files_;
};

std::string readWholeFile(const std::string& path, bool* ok = nullptr);
bool fileIsThere(const std::string& path);
