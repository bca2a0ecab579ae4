#include "frontend/scratch_folders.h"

#include <vector>

#include "support/platform.h"
#include "support/replacing_output.h"

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

size_t lastSeparator(const std::string& path) {
    for (size_t i = path.size(); i > 0; i--)
        if (isSeparator(path[i - 1])) return i - 1;
    return std::string::npos;
}

std::vector<std::pair<std::string, bool>> namesIn(const std::string& folder) {
    std::vector<std::pair<std::string, bool>> names;
    platform::listDirectory(
        folder.c_str(),
        [](void* context, const char* name, bool isDirectory) {
            static_cast<std::vector<std::pair<std::string, bool>>*>(context)->emplace_back(name, isDirectory);
            return true;
        },
        &names);
    return names;
}

std::string join(const std::string& folder, const std::string& name) {
    return folder + platform::pathSeparator() + name;
}

// Removes a folder of ours with what is in it; a link inside is removed
// as itself, never followed.
void removeTree(const std::string& path) {
    if (platform::nodeKind(path.c_str()) != platform::NodeKind::Folder) {
        platform::setFileAttributes(path.c_str(), 0x20);
        platform::deleteFile(path.c_str());
        return;
    }
    for (const auto& n : namesIn(path)) removeTree(join(path, n.first));
    platform::removeDirectory(path.c_str());
}

}  // namespace

ScratchFolders::ScratchFolders(const std::string& parent) {
    std::string base = parent;
    if (base.empty()) {
        char tmp[1024];
        if (platform::tempDirectory(tmp, sizeof tmp)) base = tmp;
    }
    if (!base.empty() && !isSeparator(base.back())) base += platform::pathSeparator();
    for (int attempt = 0; attempt < 16 && root_.empty(); attempt++) {
        uint8_t r[6];
        if (!platform::randomBytes(r, sizeof r)) break;
        std::string name = base + "Orvanta-";
        for (uint8_t b : r) name += "0123456789abcdef"[b >> 4], name += "0123456789abcdef"[b & 15];
        // Made here, exclusively: a name that exists is someone else's.
        if (platform::createDirectory(name.c_str())) root_ = name;
    }
    if (root_.empty()) return;
    first_ = join(root_, "Orvantatemp");
    second_ = join(root_, "Orvantateam");
}

ScratchFolders::~ScratchFolders() {
    if (!root_.empty()) removeTree(root_);
}

bool ScratchFolders::ensure(const std::string& folder) {
    return !folder.empty() && (fileops::folderExists(folder) || platform::createDirectoryChain(folder.c_str()));
}

namespace fileops {

bool folderExists(const std::string& path) {
    platform::FileInfo info;
    return !path.empty() && platform::fileInfo(path.c_str(), &info) && info.isDirectory;
}

bool fileExists(const std::string& path) {
    platform::FileInfo info;
    return !path.empty() && platform::fileInfo(path.c_str(), &info) && !info.isDirectory;
}

void deleteFilesIn(const std::string& folder) {
    for (const auto& n : namesIn(folder)) {
        if (n.second) continue;
        const std::string path = join(folder, n.first);
        platform::setFileAttributes(path.c_str(), 0x20);
        platform::deleteFile(path.c_str());
    }
}

bool copyFileOver(const std::string& from, const std::string& to, std::string* error) {
    uint64_t size = 0;
    platform::FileInfo info;
    platform::FileHandle in = platform::openRegularFile(from.c_str(), &size);
    if (in == platform::kInvalidFile || !platform::fileInfo(from.c_str(), &info)) {
        *error = platform::errorMessage(platform::lastError());
        if (in != platform::kInvalidFile) platform::closeFile(in);
        return false;
    }
    ReplacingOutput out;  // abandoned unless committed
    bool ok = out.begin(to.c_str(), error);
    std::vector<char> buf(1 << 16);
    while (ok && size) {
        uint32_t want = size < buf.size() ? uint32_t(size) : uint32_t(buf.size()), got = 0, written = 0;
        if (!platform::readFile(in, buf.data(), want, &got) ||
            (got && !(platform::writeFile(out.file(), buf.data(), got, &written) && written == got))) {
            *error = platform::errorMessage(platform::lastError());
            ok = false;
        } else if (!got) {
            *error = "the file became shorter while it was copied";
            ok = false;
        }
        size -= got;
    }
    platform::closeFile(in);
    if (ok) platform::setHandleTimesFromDos(out.file(), info.dosDate, info.dosTime);
    return ok && out.commit(error);
}

std::string fileNameOf(const std::string& path) {
    const size_t cut = lastSeparator(path);
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string folderOf(const std::string& path) {
    const size_t cut = lastSeparator(path);
    return cut == std::string::npos ? path : path.substr(0, cut);
}

}  // namespace fileops
