// The desktop program's zip engine: the one object through which the
// program reads archives, writes archives and writes self-extractors.
//
// Owns: ZipEngine, ZipEngineError, EntryCollection and the meaning of the
// engine's settings. Uses: zip (reader, writer, safe extraction),
// sfxbuilder (the build pipeline, through its settings value), sfxstub's
// carrier (the stub the program carries: a Windows program that writes
// self-extractors carries the stubs with orv_carry_stubs) and support
// (the platform layer, the activity log). Used by the desktop program's
// window logic (frontend/) and nothing below it.
//
// Every operation succeeds or throws ZipEngineError; a caller reads no
// status value. Texts (paths, passwords, entry names) are in the system
// code page, as the windows have them.
//
// Calling orders (an operation whose prerequisite is missing throws with
// kind() OutOfOrder and changes nothing):
//   open:   setPassword, openZip, getEntries; later unzipToFolder, saveLog
//   zip:    newArchive, addFolderContents..., setPasswordProtection,
//           setPassword, setOutputName, writeArchive
//   sfx:    setRunFromTemporaryFolder, setUnzipFolder, setRunProgram,
//           setIconFile, setProgramToRun, newArchive, addFolderContents...,
//           setEncryption, setKeyLength, setPassword, writeSelfExtractor
// Settings may come in any order before the operation that uses them;
// getEntries needs an openZip (a failed one gives an empty collection),
// unzipToFolder a successful openZip, addFolderContents a newArchive, and
// the two writes a newArchive. saveLog may be called at any time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "sfxformat/sfx_format.h"  // the carried stubs' ids

class Logger;

class ZipEngineError : public std::runtime_error {
public:
    enum Kind {
        OutOfOrder,  // the operation's prerequisite was not called (or failed)
        Failed,      // the operation was attempted and failed; what() says why
    };
    ZipEngineError(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

struct ZipEngineEntry {
    std::string fileName;  // path inside the archive as stored ('/' separators); '?' for
                           // characters the system code page lacks
    uint64_t size = 0;     // uncompressed
    bool isFolder = false;
    bool encrypted = false;
};

// The entries of an opened archive, walked once with hasMore/next.
class EntryCollection {
public:
    explicit EntryCollection(std::vector<ZipEngineEntry> entries = {}) : entries_(std::move(entries)) {}
    bool hasMore() const { return pos_ < entries_.size(); }
    // Throws OutOfOrder when no entry is left.
    const ZipEngineEntry& next();
    size_t count() const { return entries_.size(); }

private:
    std::vector<ZipEngineEntry> entries_;
    size_t pos_ = 0;
};

class ZipEngine {
public:
    // stubId: which carried stub writeSelfExtractor builds on,
    // kStubResourceId (the PE32 stub, the product's) or kStub64ResourceId.
    explicit ZipEngine(uint16_t stubId = kStubResourceId);
    ~ZipEngine();
    ZipEngine(const ZipEngine&) = delete;
    ZipEngine& operator=(const ZipEngine&) = delete;

    // ---- Progress --------------------------------------------------------
    // Called during unzipToFolder with the percentage done (0 to 100, never
    // decreasing, 100 once everything is extracted): when it rises, and
    // with the same value when 50 ms have passed since the last call and
    // another piece of the archive (at most 64 KiB) has been read.
    void setUnzipPercentDone(std::function<void(int percent)> callback);
    // Called while any long operation works (every file written, every
    // piece of archive read), so that a window can answer the system.
    void setBusyCallback(std::function<void()> callback);

    // ---- Reading ---------------------------------------------------------
    // The password for the following open, unzip or write. An empty text is
    // no password.
    void setPassword(const std::string& password);
    // Opens an archive. Fails when the archive cannot be read, when an entry
    // is encrypted and no password is set, and when the password does not
    // open the smallest encrypted file (tried as far as its first piece of
    // contents; a full check is the unzip's).
    void openZip(const std::string& path);
    // The path of the last openZip, whether it worked or not.
    const std::string& archivePath() const { return archivePath_; }
    bool isOpen() const;
    // A fresh walk over the entries in archive order; empty after a failed
    // openZip; OutOfOrder before any.
    EntryCollection getEntries() const;
    // Extracts every entry under folder (created with missing parents).
    // Existing files there are replaced; the archive itself never is. Fails
    // naming the entries that could not be extracted (the others are).
    void unzipToFolder(const std::string& folder);
    // Writes the engine's activity log as XML (the log of every operation
    // of this object so far).
    void saveLog(const std::string& path);

    // ---- Writing an archive ---------------------------------------------
    // Starts an empty archive (forgetting files added before). name is the
    // output name until setOutputName gives another; it may be empty.
    void newArchive(const std::string& name);
    // Adds what pathOrPattern names: a folder's contents ("C:\data"), the
    // files matching a wildcard in a folder ("C:\data\*.txt"; "*" and "*.*"
    // take everything), or one file. With recurse, subfolders are walked
    // too, the pattern applying to file names at every level, and entries
    // keep their paths below the folder. The folder must exist; its files
    // are read when the archive is written.
    void addFolderContents(const std::string& pathOrPattern, bool recurse);
    // On: every file is encrypted with AES-256 under the password (which
    // must then not be empty). Off: no encryption; the password is unused.
    void setPasswordProtection(bool on);
    void setOutputName(const std::string& path);
    // Writes the archive under a temporary name beside the output and
    // renames it into place once complete: a file of the output's name is
    // replaced only by a complete archive and kept as it was on failure.
    void writeArchive();

    // ---- Writing a self-extractor ----------------------------------------
    // The first switch: the program named by setProgramToRun is started
    // from a new temporary folder that the self-extractor unpacks into by
    // itself (or from the unzip folder when one is set), with no question;
    // off, the user is asked for a folder and the program is started there.
    // It needs the second switch.
    void setRunFromTemporaryFolder(bool on);
    // The text setting: the folder the self-extractor unpacks into without
    // asking; empty, it asks (or uses a temporary folder, see above).
    void setUnzipFolder(const std::string& folder);
    // The second switch: start a program of the archive after extraction.
    // On needs a program; a program needs it on.
    void setRunProgram(bool on);
    // An .ico file for the executable; empty, or a file that is no usable
    // icon, keeps the stub's own icon.
    void setIconFile(const std::string& path);
    // The program to start, as a path inside the archive; a full path on
    // disk (with a drive or a leading separator) stands for its file name,
    // as the desktop program packs files flat. It must be in the archive.
    void setProgramToRun(const std::string& name);
    // On: the whole archive inside the executable is encrypted with AES
    // under the password (which must then not be empty) with setKeyLength's
    // key length (128, 192 or 256; 256 until set); the self-extractor asks
    // for the password. Entries are not encrypted inside the archive.
    void setEncryption(bool on);
    void setKeyLength(int bits);
    // Packs the added files into an archive and writes the self-extractor
    // carrying it to path, under a temporary name renamed into place.
    // Refuses settings it would never act on: the first switch without the
    // second, the second without a program or a program without it,
    // encryption without a password, another key length.
    void writeSelfExtractor(const std::string& path);

private:
    struct Source {                         // one addFolderContents call
        std::string folder, pattern, file;  // file: one file instead of a folder
        bool recurse = false;
    };
    struct Reader;
    // Logs the message and the file, then throws them with the detail.
    [[noreturn]] void fail(const std::string& message, const std::string& file, const std::string& detail = "");
    void needArchive(const char* operation);
    // The added files as an archive at path (replaced only when complete).
    void writeZipTo(const std::string& path, bool encrypt);

    uint16_t stubId_;
    std::function<void(int)> percentDone_;
    std::function<void()> busy_;
    std::string password_;

    std::unique_ptr<Reader> reader_;
    bool opened_ = false;  // openZip was called
    std::string archivePath_;

    bool archiveStarted_ = false;
    std::vector<Source> sources_;
    std::string outputName_;
    bool protect_ = false;

    bool runFromTemp_ = false, runProgram_ = false, encrypt_ = false;
    std::string unzipFolder_, iconFile_, program_;
    int keyBits_ = 256;

    std::unique_ptr<Logger> log_;
};
