#include "support/replacing_output.h"

#include <cstdio>

namespace {

bool isSeparator(char c) {
    return c == '/' || c == platform::pathSeparator() || (platform::pathSeparator() == '\\' && c == ':');
}

// The folder part of a path, separator kept ("" for a bare name).
std::string folderPart(const std::string& path) {
    size_t i = path.size();
    while (i > 0 && !isSeparator(path[i - 1])) i--;
    return path.substr(0, i);
}

// The folder as a path of its own, for opening it ("." for the current one).
std::string folderToOpen(const std::string& folderPart) {
    std::string f = folderPart;
    if (f.size() > 1 && f.back() != ':' && isSeparator(f.back()) && f[f.size() - 2] != ':') f.pop_back();
    return f.empty() ? "." : f;
}

// The permissions of the file at target, for the new file that replaces
// it. False when there is no plain file there (nothing to keep).
bool permissionsToKeep(const std::string& target, platform::NodeInfo* info) {
    std::string folder = folderPart(target);
    std::string name = target.substr(folder.size());
    int n = platform::ansiToUtf8(name.data(), int(name.size()), nullptr, 0);
    if (n <= 0) return false;
    std::string utf8(size_t(n), '\0');
    if (platform::ansiToUtf8(name.data(), int(name.size()), &utf8[0], n) != n) return false;
    platform::OutputTree tree;
    return tree.open(folderToOpen(folder).c_str()) && tree.examine(utf8.c_str(), info) &&
           info->kind == platform::NodeKind::File;
}

}  // namespace

ReplacingOutput::~ReplacingOutput() { abandon(); }

bool ReplacingOutput::begin(const char* target, std::string* error) {
    abandon();
    target_ = target ? target : "";
    auto fail = [&](const std::string& why) {
        if (error) *error = target_ + ": " + why;
        return false;
    };
    if (target_.empty()) return fail("no file name");
    platform::FileInfo info;
    bool exists = platform::fileInfo(target_.c_str(), &info);
    if (exists && info.isDirectory) return fail("is a folder");
    // A device, pipe or socket would be replaced by the rename, not written.
    if (exists && platform::nodeKind(target_.c_str()) == platform::NodeKind::Other)
        return fail("is not a regular file");
    if (exists && (info.attributes & 0x01)) return fail("is read-only");
    replacedId_ = platform::FileId();
    if (exists) platform::fileIdOf(target_.c_str(), &replacedId_);

    // A new name of our own in the same folder, so that the final rename
    // never crosses file systems; created exclusively, never an existing file.
    const std::string folder = folderPart(target_);
    std::string name;
    for (int attempt = 0; attempt < 16 && file_ == platform::kInvalidFile; attempt++) {
        uint8_t random[4];
        if (!platform::randomBytes(random, sizeof random)) return fail("no random source for a temporary name");
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "orv%02x%02x%02x%02x.tmp", random[0], random[1], random[2], random[3]);
        name = folder + suffix;
        file_ = platform::openFile(name.c_str(), platform::OpenMode::CreateNew);
        if (file_ == platform::kInvalidFile && platform::lastError() != platform::errorFileExists()) break;
    }
    if (file_ == platform::kInvalidFile)
        return fail("cannot create a temporary file beside it: " + platform::errorMessage(platform::lastError()));
    temporary_ = name;
    platform::noteTemporary(temporary_.c_str());
    platform::fileIdOfHandle(file_, &id_);
    platform::NodeInfo keep;
    if (exists && permissionsToKeep(target_, &keep)) platform::setHandleAttributes(file_, 0, &keep);
    return true;
}

void ReplacingOutput::closeFile() {
    if (file_ != platform::kInvalidFile) platform::closeFile(file_);
    file_ = platform::kInvalidFile;
}

bool ReplacingOutput::commit(std::string* error) {
    if (!active()) {
        if (error) *error = target_ + ": no file is being written";
        return false;
    }
    closeFile();
    if (!platform::renameReplacing(temporary_.c_str(), target_.c_str())) {
        uint32_t code = platform::lastError();
        abandon();
        if (error) *error = target_ + ": cannot put the new file in place: " + platform::errorMessage(code);
        return false;
    }
    forget();
    return true;
}

void ReplacingOutput::abandon() {
    closeFile();
    if (active()) platform::deleteFile(temporary_.c_str());
    forget();
}

void ReplacingOutput::forget() {
    if (active()) platform::noteTemporary(nullptr);
    temporary_.clear();
    id_ = platform::FileId();
}
