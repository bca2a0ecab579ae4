// Extracting a whole archive into a folder, safely: nothing is ever
// written outside the target folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ZipReader;

class ZipProgress {
public:
    virtual ~ZipProgress();
    // After each entry: bytes of uncompressed size done so far, of total.
    virtual void progress(uint64_t done, uint64_t total) = 0;
};

struct ZipExtractResult {
    struct Failure {
        std::string entry;   // the entry's name
        std::string reason;  // why it was refused or failed
    };
    uint32_t filesWritten = 0;
    uint32_t foldersMade = 0;
    bool targetFailed = false;     // the target folder could not be made: nothing extracted
    std::vector<Failure> failures;
    bool ok() const { return !targetFailed && failures.empty(); }
};

// The target folder and missing parents are created (unless empty or
// "."); entries are written with their relative paths, folders created as
// needed; the size total is the progress total and progress is reported
// after each entry; a failing entry is skipped and the rest extracted;
// files and folders get the entry's MS-DOS time (local time) as their
// three times; stored attributes are applied unless exactly 0x20; the
// current folder is restored. Absolute paths, drive letters, "..",
// backslash tricks, device names and ":" are refused per entry.
// password may be null.
ZipExtractResult extractAll(ZipReader& reader, const char* targetFolder, const char* password, ZipProgress* progress);
