#include "cli/zip_command.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli/archive_cli.h"
#include "cli/usage.h"
#include "support/platform.h"
#include "zip/zip_archive.h"

namespace {

using namespace cli;

// The entry name for a path given on the command line, as zip tools make
// it: relative, '/' separators, without a drive, a leading "/" or "./", and
// with "." and ".." resolved (a ".." above the start is dropped), so that
// no archive we write names anything outside its extraction folder.
std::string entryNameFor(const std::string& path) {
    std::string p = path;
    if (platform::pathSeparator() == '\\' && p.size() >= 2 && p[1] == ':') p = p.substr(2);
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= p.size()) {
        size_t end = start;
        while (end < p.size() && !isSeparator(p[end])) end++;
        std::string part = p.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string name;
    for (const std::string& part : parts) {
        if (!name.empty()) name += '/';
        name += part;
    }
    return toUtf8(name);
}

// ---- zip ---------------------------------------------------------------

// Adds the paths of the command line, telling the terminal what it adds
// and standard error what it leaves out.
class Packer : public ZipWriter::Listener {
public:
    Packer(ZipWriter& writer, const ZipWriter::Options& options) : writer_(writer), options_(options) {}

    bool addPath(const std::string& path, bool recursive) {
        platform::FileInfo info;
        if (!platform::fileInfo(path.c_str(), &info))
            return fail(path + ": " + platform::errorMessage(platform::lastError()));
        std::string name = entryNameFor(path);
        if (!info.isDirectory) {
            if (name.empty()) return fail(path + ": names no file");
            return writer_.addFile(path.c_str(), name, options_, &error_, this);
        }
        if (!name.empty() && !writer_.addDirectoryEntry(path.c_str(), name + "/", &error_)) return false;
        if (!recursive) {
            progress_.clear();
            std::fprintf(stderr, "orvanta zip: %s/: folder stored without its contents (use -r)\n",
                         printable(forDisplay(name)).c_str());
            return true;
        }
        return writer_.addFolder(path.c_str(), name, true, options_, &error_, this);
    }

    void adding(const std::string& entryName) override {
        progress_.show("adding " + printable(forDisplay(entryName)));
        files_++;
    }
    void skipped(const std::string& diskPath, const std::string& reason) override {
        progress_.clear();
        std::fprintf(stderr, "orvanta zip: skipped %s: %s\n", printable(diskPath).c_str(), printable(reason).c_str());
    }

    int files() const { return files_; }
    const std::string& error() const { return error_; }

private:
    bool fail(const std::string& text) {
        error_ = text;
        return false;
    }

    ZipWriter& writer_;
    const ZipWriter::Options& options_;
    ProgressLine progress_;
    std::string error_;
    int files_ = 0;
};

// Every input must be there before the archive is begun, and none may be
// the file the archive would replace (under any name: a link, a hard link).
bool checkInputs(const std::string& archive, const std::vector<std::string>& paths) {
    platform::FileId target, id;
    const bool targetExists = platform::fileIdOf(archive.c_str(), &target);
    for (const std::string& p : paths) {
        platform::FileInfo info;
        if (!platform::fileInfo(p.c_str(), &info)) {
            std::fprintf(stderr, "orvanta zip: %s: %s\n", printable(p).c_str(),
                         platform::errorMessage(platform::lastError()).c_str());
            return false;
        }
        if (targetExists && platform::fileIdOf(p.c_str(), &id) && id == target) {
            std::fprintf(stderr, "orvanta zip: %s is the input %s: refusing to write the archive over it\n",
                         printable(archive).c_str(), printable(p).c_str());
            return false;
        }
    }
    // A file there that is no archive is more likely an input named first
    // by mistake than an archive to replace (an empty one holds nothing).
    platform::FileInfo existing;
    ZipReader reader;
    std::string why;
    if (targetExists && platform::fileInfo(archive.c_str(), &existing) && !existing.isDirectory && existing.size > 0 &&
        !reader.openFile(archive.c_str(), &why)) {
        std::fprintf(stderr, "orvanta zip: refusing to replace %s: %s\n", printable(archive).c_str(),
                     printable(why).c_str());
        return false;
    }
    return true;
}

}  // namespace

int runZipCommand(int argc, char** argv) {
    Arguments a;
    std::string problem;
    if (!parseArguments(argc, argv, "rlpEc", &a, &problem)) return usageError("zip", problem);
    if (a.paths.size() < 2) return usageError("zip", "zip needs the archive and at least one path");
    std::string archive = a.paths[0];
    std::vector<std::string> paths(a.paths.begin() + 1, a.paths.end());
    if (!checkInputs(archive, paths) || !obtainPassword(&a, true, "orvanta zip")) return 1;
    if (a.havePassword && !a.aes && !a.zipCrypto)
        std::fputs("orvanta zip: AES-256: opens with 7-Zip and similar; --zipcrypto for Info-ZIP unzip and Windows' "
                   "built-in zip folders, weak cipher\n",
                   stderr);
    ZipWriter::Options options;
    options.level = a.level;
    if (a.havePassword) {
        options.encryption = a.zipCrypto ? ZipWriter::ZipCrypto : ZipWriter::Aes256;
        options.password = a.password;
    }
    ZipWriter writer;
    std::string error;
    if (!writer.create(archive.c_str(), &error)) {
        std::fprintf(stderr, "orvanta zip: %s\n", printable(error).c_str());
        return 1;
    }
    Packer packer(writer, options);
    for (const std::string& p : paths) {
        if (!packer.addPath(p, a.recursive)) {
            // The archive that was there stays as it was.
            writer.abandon();
            std::fprintf(stderr, "orvanta zip: %s\n", printable(packer.error()).c_str());
            return 1;
        }
    }
    if (!writer.close(&error)) {
        std::fprintf(stderr, "orvanta zip: %s\n", printable(error).c_str());
        return 1;
    }
    std::printf("%s: %d file%s\n", printable(archive).c_str(), packer.files(), packer.files() == 1 ? "" : "s");
    return 0;
}
