#include "cli/zip_command.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/archive_cli.h"
#include "support/platform.h"
#include "zip/zip_archive.h"

const char kZipUsage[] =
    "usage: orvanta zip OUT.zip PATH... [-r] [-l LEVEL] [-p PASSWORD] [--aes|--zipcrypto]\n"
    "           pack files (and with -r folders with their contents) into a new archive;\n"
    "           LEVEL 0 (store) to 9, default 6; -p encrypts every file, with AES-256\n"
    "           unless --zipcrypto asks for the traditional (weak) cipher\n"
    "       orvanta list ZIP [-p PASSWORD]\n"
    "           list the entries; with -p also check every entry's contents\n"
    "       orvanta unzip ZIP [-d DIR] [-p PASSWORD]\n"
    "           extract every entry into DIR (default: the current folder)\n"
    "       options may stand before or after the paths; \"--\" ends the options\n";

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

// The absolute, lexically normalised form of a path, to recognise the
// archive being written among the inputs.
std::string normalisedPath(const std::string& path) {
    std::string full = path;
    bool absolute = !path.empty() && isSeparator(path[0]);
    if (platform::pathSeparator() == '\\' && path.size() >= 2 && path[1] == ':') absolute = true;
    if (!absolute) {
        char cwd[4096];
        if (platform::currentDirectory(cwd, sizeof cwd)) full = joinPath(cwd, path);
    }
    std::string out;
    std::vector<size_t> marks;
    size_t start = 0;
    while (start <= full.size()) {
        size_t end = start;
        while (end < full.size() && !isSeparator(full[end])) end++;
        std::string part = full.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!marks.empty()) {
                out.resize(marks.back());
                marks.pop_back();
            }
            continue;
        }
        marks.push_back(out.size());
        out += '/';
        for (char c : part) out += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    }
    return out;
}

// ---- zip ---------------------------------------------------------------

class Packer {
public:
    Packer(ZipWriter& writer, const ZipWriter::Options& options, const std::string& archive)
        : writer_(writer), options_(options), archive_(normalisedPath(archive)) {}

    bool addPath(const std::string& path, bool recursive) {
        platform::FileInfo info;
        if (!platform::fileInfo(path.c_str(), &info)) return fail(path + ": no such file or folder");
        std::string name = entryNameFor(path);
        if (!info.isDirectory) {
            if (name.empty()) return fail(path + ": names no file");
            return addFile(path, name);
        }
        if (!name.empty() && !addFolderEntry(path, name)) return false;
        if (!recursive) return true;
        return addContents(path, name, 0);
    }

    int files() const { return files_; }
    const std::string& error() const { return error_; }

private:
    bool fail(const std::string& text) {
        error_ = text;
        return false;
    }

    bool addFile(const std::string& disk, const std::string& name) {
        if (normalisedPath(disk) == archive_) return true;  // never the archive into itself
        progress_.show("adding " + forDisplay(name));
        std::string error;
        if (!writer_.addFile(disk.c_str(), name, options_, &error)) return fail(error);
        files_++;
        return true;
    }

    bool addFolderEntry(const std::string& disk, const std::string& name) {
        std::string error;
        if (!writer_.addDirectoryEntry(disk.c_str(), name + "/", &error)) return fail(error);
        return true;
    }

    bool addContents(const std::string& folder, const std::string& prefix, int depth) {
        if (depth > 256) return fail(folder + ": folders nested too deeply");
        struct Item {
            std::string name;
            bool isDirectory;
        };
        std::vector<Item> items;
        auto collect = [](void* context, const char* name, bool isDirectory) {
            static_cast<std::vector<Item>*>(context)->push_back(Item{name, isDirectory});
            return true;
        };
        if (!platform::listDirectory(folder.c_str(), collect, &items)) return fail(folder + ": cannot list the folder");
        // A stable order, so that the same tree gives the same archive.
        std::vector<size_t> order(items.size());
        for (size_t i = 0; i < order.size(); i++) order[i] = i;
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return items[a].name < items[b].name; });
        for (size_t k : order) {
            const Item& item = items[k];
            std::string disk = joinPath(folder, item.name);
            std::string name = (prefix.empty() ? "" : prefix + "/") + toUtf8(item.name);
            if (item.isDirectory) {
                if (!addFolderEntry(disk, name) || !addContents(disk, name, depth + 1)) return false;
            } else if (!addFile(disk, name)) {
                return false;
            }
        }
        return true;
    }

    ZipWriter& writer_;
    const ZipWriter::Options& options_;
    std::string archive_;
    ProgressLine progress_;
    std::string error_;
    int files_ = 0;
};

}  // namespace

int runZipCommand(int argc, char** argv) {
    Arguments a;
    std::string problem;
    if (!parseArguments(argc, argv, "rlpe", &a, &problem)) return usage(problem.c_str());
    if (a.paths.size() < 2) return usage("zip needs the archive and at least one path");
    std::string archive = a.paths[0];
    std::vector<std::string> paths(a.paths.begin() + 1, a.paths.end());
    // Every input must be there before the archive is begun.
    for (const std::string& p : paths) {
        platform::FileInfo info;
        if (!platform::fileInfo(p.c_str(), &info)) {
            std::fprintf(stderr, "orvanta zip: %s: no such file or folder\n", p.c_str());
            return 1;
        }
    }
    ZipWriter::Options options;
    options.level = a.level;
    if (a.havePassword) {
        options.encryption = a.zipCrypto ? ZipWriter::ZipCrypto : ZipWriter::Aes256;
        options.password = a.password;
    }
    ZipWriter writer;
    std::string error;
    if (!writer.create(archive.c_str(), &error)) {
        std::fprintf(stderr, "orvanta zip: %s: %s\n", archive.c_str(), error.c_str());
        return 1;
    }
    Packer packer(writer, options, archive);
    bool ok = true;
    for (const std::string& p : paths) {
        if (!packer.addPath(p, a.recursive)) {
            ok = false;
            break;
        }
    }
    if (!ok) {
        std::fprintf(stderr, "orvanta zip: %s\n", packer.error().c_str());
        writer.close(&error);
        platform::deleteFile(archive.c_str());  // no half archive stays behind
        return 1;
    }
    if (!writer.close(&error)) {
        std::fprintf(stderr, "orvanta zip: %s: %s\n", archive.c_str(), error.c_str());
        return 1;
    }
    std::printf("%s: %d files\n", archive.c_str(), packer.files());
    return 0;
}

