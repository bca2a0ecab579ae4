#include "cli/zip_command.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/platform.h"
#include "zip/zip_archive.h"
#include "zip/zip_extract.h"

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

int usage(const char* problem) {
    if (problem) std::fprintf(stderr, "orvanta: %s\n", problem);
    std::fputs(kZipUsage, stderr);
    return 2;
}

// The command line split into option values and the other arguments.
struct Arguments {
    std::vector<std::string> paths;
    bool recursive = false;
    int level = 6;
    bool havePassword = false;
    std::string password;
    bool aes = false, zipCrypto = false;
    bool haveFolder = false;
    std::string folder;
};

// allowed: the option letters this verb takes ('r', 'l', 'p', 'd', 'e' for
// --aes/--zipcrypto). False with *problem set on a bad command line.
bool parseArguments(int argc, char** argv, const char* allowed, Arguments* a, std::string* problem) {
    bool optionsEnded = false;
    for (int i = 0; i < argc; i++) {
        std::string arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            a->paths.push_back(arg);
            continue;
        }
        auto takes = [&](char c) { return std::strchr(allowed, c) != nullptr; };
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                *problem = "option " + arg + " needs a value";
                return false;
            }
            *out = argv[++i];
            return true;
        };
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-r" && takes('r')) {
            a->recursive = true;
        } else if (arg == "-l" && takes('l')) {
            std::string v;
            if (!value(&v)) return false;
            if (v.size() != 1 || v[0] < '0' || v[0] > '9') {
                *problem = "the level must be a digit from 0 to 9, not \"" + v + "\"";
                return false;
            }
            a->level = v[0] - '0';
        } else if (arg == "-p" && takes('p')) {
            if (!value(&a->password)) return false;  // "" is a password too
            a->havePassword = true;
        } else if (arg == "-d" && takes('d')) {
            if (!value(&a->folder)) return false;
            a->haveFolder = true;
        } else if (arg == "--aes" && takes('e')) {
            a->aes = true;
        } else if (arg == "--zipcrypto" && takes('e')) {
            a->zipCrypto = true;
        } else {
            *problem = "unknown option " + arg;
            return false;
        }
    }
    if (a->aes && a->zipCrypto) {
        *problem = "--aes and --zipcrypto exclude each other";
        return false;
    }
    if ((a->aes || a->zipCrypto) && !a->havePassword) {
        *problem = "--aes and --zipcrypto need a password (-p)";
        return false;
    }
    return true;
}

// Text from the command line or the file system (system code page) as
// UTF-8, the encoding of entry names.
std::string toUtf8(const std::string& local) {
    if (local.empty()) return local;
    int n = platform::ansiToUtf8(local.data(), int(local.size()), nullptr, 0);
    if (n <= 0) return local;
    std::string out(size_t(n), '\0');
    return platform::ansiToUtf8(local.data(), int(local.size()), &out[0], n) == n ? out : local;
}

// An entry name for display: in the system code page when it has every
// character, else the UTF-8 bytes.
std::string forDisplay(const std::string& utf8) {
    int n = platform::utf8ToAnsi(utf8.data(), int(utf8.size()), nullptr, 0);
    if (n <= 0) return utf8;
    std::string out(size_t(n), '\0');
    return platform::utf8ToAnsi(utf8.data(), int(utf8.size()), &out[0], n) == n ? out : utf8;
}

bool isSeparator(char c) { return c == '/' || c == platform::pathSeparator(); }

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

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (isSeparator(folder.back())) return folder + name;
    return folder + platform::pathSeparator() + name;
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

// Terminal progress on standard error: one line, rewritten.
class ProgressLine {
public:
    ProgressLine() : enabled_(platform::isTerminal(stderr)) {}
    ~ProgressLine() { clear(); }
    void show(const std::string& text) {
        if (!enabled_) return;
        uint32_t now = platform::tickCount();
        if (shown_ && now - last_ < 100) return;  // at most ten a second
        last_ = now;
        std::string line = text.size() > 76 ? text.substr(0, 73) + "..." : text;
        std::fprintf(stderr, "\r%-78s\r", line.c_str());
        std::fflush(stderr);
        shown_ = true;
    }
    void clear() {
        if (!shown_) return;
        std::fprintf(stderr, "\r%78s\r", "");
        std::fflush(stderr);
        shown_ = false;
    }

private:
    bool enabled_;
    bool shown_ = false;
    uint32_t last_ = 0;
};

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

// ---- list --------------------------------------------------------------

// Counts an entry's bytes and throws them away: checking without writing.
class CountingSink : public ZipDataSink {
public:
    bool write(const uint8_t*, size_t length) override {
        count += length;
        return true;
    }
    uint64_t count = 0;
};

std::string methodName(const ZipEntry& e) {
    std::string m = e.method == 0 ? "Stored" : e.method == 8 ? "Deflate" : "Method " + std::to_string(e.method);
    if (e.encryption == ZipEntry::ZipCrypto) m += ", ZipCrypto";
    if (e.encryption == ZipEntry::Aes) m += ", AES-" + std::to_string(64 + 64 * e.aesStrength);
    return m;
}

std::string dosTimeText(uint16_t date, uint16_t time) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", 1980 + (date >> 9), (date >> 5) & 15, date & 31,
                  time >> 11, (time >> 5) & 63);
    return buf;
}

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

int runListCommand(int argc, char** argv) {
    Arguments a;
    std::string problem;
    if (!parseArguments(argc, argv, "p", &a, &problem)) return usage(problem.c_str());
    if (a.paths.size() != 1) return usage("list takes one archive");
    const std::string& path = a.paths[0];
    ZipReader reader;
    std::string error;
    if (!reader.openFile(path.c_str(), &error)) {
        std::fprintf(stderr, "orvanta list: %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    std::printf("%12s %12s  %-16s  %-16s  %s\n", "Length", "Size", "Date", "Method", "Name");
    uint64_t totalLength = 0, totalSize = 0;
    int failed = 0;
    ProgressLine progress;
    for (size_t i = 0; i < reader.entryCount(); i++) {
        const ZipEntry& e = reader.entry(i);
        std::string status;
        if (a.havePassword && !e.isDirectory()) {
            progress.show("checking " + forDisplay(e.name));
            CountingSink sink;
            if (reader.extract(i, sink, a.password.c_str(), &error)) {
                status = "  OK";
            } else {
                status = "  FAILED";
                failed++;
                progress.clear();
                std::fprintf(stderr, "orvanta list: %s: %s\n", path.c_str(), error.c_str());
            }
        }
        std::printf("%12llu %12llu  %-16s  %-16s  %s%s\n", (unsigned long long)e.uncompressedSize,
                    (unsigned long long)e.compressedSize, dosTimeText(e.dosDate, e.dosTime).c_str(),
                    methodName(e).c_str(), forDisplay(e.name).c_str(), status.c_str());
        totalLength += e.uncompressedSize;
        totalSize += e.compressedSize;
    }
    progress.clear();
    std::printf("%12llu %12llu  %zu entries\n", (unsigned long long)totalLength, (unsigned long long)totalSize,
                reader.entryCount());
    if (failed) {
        std::fprintf(stderr, "orvanta list: %s: %d of %zu entries failed the check\n", path.c_str(), failed,
                     reader.entryCount());
        return 1;
    }
    return 0;
}

namespace {

class TerminalProgress : public ZipProgress {
public:
    void progress(uint64_t done, uint64_t total) override {
        unsigned percent = total == 0 || done >= total ? 100 : unsigned(double(done) * 100 / double(total));
        line.show("unzipping " + std::to_string(percent) + "%");
    }
    ProgressLine line;
};

}  // namespace

int runUnzipCommand(int argc, char** argv) {
    Arguments a;
    std::string problem;
    if (!parseArguments(argc, argv, "dp", &a, &problem)) return usage(problem.c_str());
    if (a.paths.size() != 1) return usage("unzip takes one archive");
    const std::string& path = a.paths[0];
    ZipReader reader;
    std::string error;
    if (!reader.openFile(path.c_str(), &error)) {
        std::fprintf(stderr, "orvanta unzip: %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    ZipExtractResult r;
    {
        TerminalProgress progress;
        r = extractAll(reader, a.haveFolder ? a.folder.c_str() : "", a.havePassword ? a.password.c_str() : nullptr,
                       &progress);
    }
    for (const ZipExtractResult::Failure& f : r.failures) {
        if (f.entry.empty()) std::fprintf(stderr, "orvanta unzip: %s: %s\n", path.c_str(), f.reason.c_str());
        else std::fprintf(stderr, "orvanta unzip: %s: %s: %s\n", path.c_str(), forDisplay(f.entry).c_str(), f.reason.c_str());
    }
    std::printf("%s: %u files, %u folders extracted", path.c_str(), r.filesWritten, r.foldersMade);
    if (!r.failures.empty() && !r.targetFailed) std::printf(", %zu entries failed", r.failures.size());
    std::printf("\n");
    return r.ok() ? 0 : 1;
}
