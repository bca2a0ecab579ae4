#include "support/testing/scratch_dir.h"

#include <cstdio>
#include <string>

ScratchDir::ScratchDir() {
    char tmp[600];
    platform::tempDirectory(tmp, sizeof tmp);
    for (uint32_t k = 0;; k++) {
        std::string p = std::string(tmp) + "orv-test-" + std::to_string(platform::processId()) + "-" +
                        std::to_string(platform::tickCount()) + "-" + std::to_string(k);
        if (platform::createDirectory(p.c_str())) {
            path_ = p + "/";
            break;
        }
    }
}

ScratchDir::~ScratchDir() {
    for (auto& f : files_) platform::deleteFile(f.c_str());
    std::string dir = path_.substr(0, path_.size() - 1);
    platform::removeDirectory(dir.c_str());
}

void ScratchDir::write(const std::string& name, const std::string& bytes) {
    std::string p = file(name);
    platform::FileHandle h = platform::openFile(p.c_str(), platform::OpenMode::CreateAlways);
    if (h != platform::kInvalidFile) {
        uint32_t w = 0;
        platform::writeFile(h, bytes.data(), uint32_t(bytes.size()), &w);
        platform::closeFile(h);
    }
    track(p);
}

std::string readWholeFile(const std::string& path, bool* ok) {
    std::string out;
    platform::FileHandle h = platform::openFile(path.c_str(), platform::OpenMode::ReadExisting);
    if (ok) *ok = h != platform::kInvalidFile;
    if (h == platform::kInvalidFile) return out;
    char buf[65536];
    uint32_t got = 0;
    while (platform::readFile(h, buf, sizeof buf, &got) && got) out.append(buf, got);
    platform::closeFile(h);
    return out;
}

bool fileIsThere(const std::string& path) {
    platform::FileHandle h = platform::openFile(path.c_str(), platform::OpenMode::ReadExisting);
    if (h == platform::kInvalidFile) return false;
    platform::closeFile(h);
    return true;
}
