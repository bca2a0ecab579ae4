#include <cstdio>
#include <string>

#include "cli/archive_cli.h"
#include "cli/usage.h"
#include "cli/zip_command.h"
#include "support/platform.h"
#include "zip/zip_archive.h"
#include "zip/zip_extract.h"

using namespace cli;

namespace {

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

int runListCommand(int argc, char** argv) {
    Arguments a;
    std::string problem;
    if (!parseArguments(argc, argv, "p", &a, &problem)) return usageError("list", problem);
    if (a.paths.size() != 1) return usageError("list", "list takes one archive");
    const std::string& path = a.paths[0];
    ZipReader reader;
    std::string error;
    if (!obtainPassword(&a, false, "orvanta list") || !openArchive(reader, path, "orvanta list")) return 1;
    askForEntryPassword(reader, path, &a);
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
                std::fprintf(stderr, "orvanta list: %s: %s\n", printable(path).c_str(), printable(error).c_str());
            }
        }
        std::printf("%12llu %12llu  %-16s  %-16s  %s%s\n", (unsigned long long)e.uncompressedSize,
                    (unsigned long long)e.compressedSize, dosTimeText(e.dosDate, e.dosTime).c_str(),
                    methodName(e).c_str(), printable(forDisplay(e.name)).c_str(), status.c_str());
        totalLength += e.uncompressedSize;
        totalSize += e.compressedSize;
    }
    progress.clear();
    std::printf("%12llu %12llu  %zu entries\n", (unsigned long long)totalLength, (unsigned long long)totalSize,
                reader.entryCount());
    if (failed) {
        std::fprintf(stderr, "orvanta list: %s: %d of %zu entries failed the check\n", printable(path).c_str(), failed,
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
    if (!parseArguments(argc, argv, "dpon", &a, &problem)) return usageError("unzip", problem);
    if (a.paths.size() != 1) return usageError("unzip", "unzip takes one archive");
    const std::string& path = a.paths[0];
    ZipReader reader;
    if (!obtainPassword(&a, false, "orvanta unzip") || !openArchive(reader, path, "orvanta unzip")) return 1;
    askForEntryPassword(reader, path, &a);
    TerminalQuestion question;
    ZipExtractOptions options = extractOptions(a.overwrite, a.keepExisting, path, &question);
    ZipExtractResult r;
    {
        TerminalProgress progress;
        r = extractAll(reader, a.haveFolder ? a.folder.c_str() : "", a.havePassword ? a.password.c_str() : nullptr,
                       &progress, options);
    }
    const std::string shown = printable(path);
    for (const ZipExtractResult::Failure& f : r.failures) {
        if (f.entry.empty())
            std::fprintf(stderr, "orvanta unzip: %s: %s\n", shown.c_str(), printable(f.reason).c_str());
        else
            std::fprintf(stderr, "orvanta unzip: %s: %s: %s\n", shown.c_str(), printable(forDisplay(f.entry)).c_str(),
                         printable(f.reason).c_str());
    }
    reportExtraction("orvanta unzip", r);
    std::printf("%s: %u file%s, %u folder%s extracted", shown.c_str(), r.filesWritten, r.filesWritten == 1 ? "" : "s",
                r.foldersMade, r.foldersMade == 1 ? "" : "s");
    if (r.skipped) std::printf(", %u existing kept", r.skipped);
    if (!r.failures.empty() && !r.targetFailed)
        std::printf(", %zu %s failed", r.failures.size(), r.failures.size() == 1 ? "entry" : "entries");
    std::printf("\n");
    return r.ok() ? 0 : 1;
}
