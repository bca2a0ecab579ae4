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
// When the target folder cannot be made, targetFailed is set and the one
// failure names the folder (entry empty) and the reason.
ZipExtractResult extractAll(ZipReader& reader, const char* targetFolder, const char* password, ZipProgress* progress);

// The rules for entry names, on every platform ("\" separates as "/"
// does): the relative path that the name stands for, as "/"-separated
// UTF-8 components with "." and empty components dropped. False with
// *reason set when the name is absolute, has a drive letter, a ".." or a
// component of only dots and spaces, a ":" (alternate data stream), a
// control character, a Windows device name (CON, PRN, AUX, NUL, CONIN$,
// CONOUT$, COM1-9, LPT1-9, with or without an extension), or names nothing.
bool zipEntryPath(const std::string& name, std::string* relative, std::string* reason);
