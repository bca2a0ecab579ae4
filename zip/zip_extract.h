// Extracting a whole archive into a folder, safely: nothing is ever
// written outside the target folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/platform.h"

class ZipReader;

class ZipProgress {
public:
    virtual ~ZipProgress();
    // After each entry: bytes of uncompressed size done so far, of total.
    virtual void progress(uint64_t done, uint64_t total) = 0;
};

// What happens to a file that already stands where an entry goes.
enum class ZipOverwrite {
    Replace,  // replace it (the self-extractor's rule)
    Skip,     // keep it; the entry counts as skipped
    Refuse,   // keep it; the entry fails, naming the file
    Ask,      // ask the question given in the options
};

class ZipOverwriteQuestion {
public:
    enum Answer { Yes, No, All, None };
    virtual ~ZipOverwriteQuestion();
    // path: where the file stands, for the user.
    virtual Answer ask(const std::string& path) = 0;
};

struct ZipExtractOptions {
    ZipOverwrite overwrite = ZipOverwrite::Replace;
    ZipOverwriteQuestion* question = nullptr;  // for Ask; without one, Ask refuses
    // A file never replaced whatever the rule (the archive being read).
    platform::FileId protect;
};

struct ZipExtractResult {
    struct Failure {
        std::string entry;   // the entry's name
        std::string reason;  // why it was refused or failed
    };
    uint32_t filesWritten = 0;
    uint32_t foldersMade = 0;
    uint32_t skipped = 0;          // existing files kept (Skip, or answered No)
    uint32_t refusedExisting = 0;  // failures because a file exists (Refuse)
    bool targetFailed = false;     // the target folder could not be made: nothing extracted
    std::vector<Failure> failures;
    std::vector<Failure> warnings;  // extracted, but worth saying (names that differ only in case)
    bool ok() const { return !targetFailed && failures.empty(); }
};

// The target folder and missing parents are created (unless empty or
// "."); entries are written with their relative paths, folders created as
// needed; the size total is the progress total and progress is reported
// after each entry; a failing entry is skipped and the rest extracted;
// files and folders get the entry's MS-DOS time (local time) as their
// three times; stored attributes are applied unless exactly 0x20, and a
// replaced file keeps its protection (it never becomes writable where it
// was not). Absolute paths, drive letters, "..", backslash tricks, device
// names and ":" are refused per entry, as is a path too long for the
// system (before anything is made for it). Below the target no link or
// junction is followed: an entry whose path leads through one fails.
// Each file is written under a short temporary name beside its place and
// renamed over it once verified. A second entry of the same path fails
// (the first is kept); entries whose paths differ only in case fail where
// names ignore case (Windows) and are reported as warnings elsewhere.
// password may be null.
// When the target folder cannot be made, targetFailed is set and the one
// failure names the folder (entry empty) and the reason.
ZipExtractResult extractAll(ZipReader& reader, const char* targetFolder, const char* password, ZipProgress* progress,
                            const ZipExtractOptions& options = ZipExtractOptions());

// The rules for entry names, on every platform ("\" separates as "/"
// does): the relative path that the name stands for, as "/"-separated
// UTF-8 components with "." and empty components dropped. False with
// *reason set when the name is absolute, has a drive letter, a ".." or a
// component of only dots and spaces, a ":" (alternate data stream), a
// control character, a Windows device name (CON, PRN, AUX, NUL, CONIN$,
// CONOUT$, COM1-9, LPT1-9, with or without an extension), or names nothing.
bool zipEntryPath(const std::string& name, std::string* relative, std::string* reason);
