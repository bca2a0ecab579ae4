// The zip format: reading an archive (from a file or a memory block),
// streaming one entry's verified contents out, and writing a new archive.
// Names inside the library are UTF-8 (entries without the UTF-8 flag are
// read as CP437 and converted); callers convert to the platform's paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/byte_source.h"
#include "support/platform.h"

// Where a reader's bytes come from: a file, a memory block, or a view
// that makes them on demand (the self-extractor's decrypting view of its
// payload). The reader asks only for ranges inside size(), but a source
// must refuse any other range itself.
using ZipSource = ByteSource;

// Receives an entry's contents in pieces.
class ZipDataSink {
public:
    virtual ~ZipDataSink();
    virtual bool write(const uint8_t* data, size_t length) = 0;  // false stops the extraction
};

struct ZipEntry {
    enum Encryption { None, ZipCrypto, Aes };

    std::string name;             // UTF-8, as stored (slashes as stored)
    uint16_t versionMadeBy = 0;
    uint16_t flags = 0;           // general-purpose bit flags
    uint16_t method = 0;          // 0 stored, 8 deflate (after the AES wrapper)
    uint32_t crc32 = 0;
    uint64_t compressedSize = 0;  // bytes of (encrypted) data in the archive
    uint64_t uncompressedSize = 0;
    uint64_t localHeaderOffset = 0;
    uint16_t dosTime = 0, dosDate = 0;
    uint32_t externalAttributes = 0;
    Encryption encryption = None;
    int aesStrength = 0;          // 1, 2, 3 for 128, 192, 256 bits
    int aesVersion = 0;           // 1 (AE-1) or 2 (AE-2)
    bool isDirectory() const { return !name.empty() && (name.back() == '/' || name.back() == '\\'); }
    // MS-DOS attributes (low byte of the external attributes when made on
    // MS-DOS/Windows, or derived from Unix modes).
    uint32_t dosAttributes() const;
};

class ZipReader {
public:
    ZipReader();
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // Finds the end of the central directory (archive comments and data
    // before the archive, such as a self-extractor stub, are allowed),
    // ZIP64 records, and reads every central entry. False with *error set.
    bool openFile(const char* path, std::string* error);
    // The memory stays owned by the caller for the reader's life.
    bool openMemory(const uint8_t* data, uint64_t size, std::string* error);
    // Any byte source; the reader owns it from here on (also on failure).
    bool openSource(std::unique_ptr<ZipSource> source, std::string* error);
    void close();

    size_t entryCount() const;
    const ZipEntry& entry(size_t i) const;

    // Streams entry i's contents (decrypted, inflated, CRC or
    // authentication code checked) into the sink. The local header is
    // cross-checked against the central one. password may be null (no
    // password given); an empty string is a password. On failure *error
    // names the entry and the reason (e.g. "bad.bin: wrong password",
    // "x.dat: unsupported compression method 14"). Entries that overlap
    // others or produce more than their declared size are refused.
    bool extract(size_t i, ZipDataSink& sink, const char* password, std::string* error);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Writes a new archive under a temporary name beside its final one and
// puts it in place only when close() succeeds: until then, and after any
// failure or when the writer is destroyed unfinished, a file of that name
// stays as it was and no temporary is left.
class ZipWriter {
public:
    enum Encryption { None, ZipCrypto, Aes256 };
    struct Options {
        int level = 6;  // 0 stores; data that deflate does not shrink is stored too
        Encryption encryption = None;
        std::string password;
        bool forceZip64 = false;  // ZIP64 fields even where the sizes do not need them (tests, interop)
    };
    // Told about the files as they are added; without one, a file that
    // would be skipped fails the call instead.
    class Listener {
    public:
        virtual ~Listener();
        // Before a file's contents are read (it is open and regular).
        virtual void adding(const std::string& entryName) { (void)entryName; }
        // An item left out, and why: not a regular file (a pipe, a device,
        // a socket), a symbolic link that leads nowhere, a folder link back
        // to a folder the walk is inside.
        virtual void skipped(const std::string& diskPath, const std::string& reason) {
            (void)diskPath, (void)reason;
        }
    };
    // Deepest folder nesting addFolder follows.
    static constexpr int kMaxFolderDepth = 256;

    ZipWriter();
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Begins the archive that close() will put at path (not a folder, not
    // a read-only file).
    bool create(const char* path, std::string* error);
    // One regular file from disk under the given entry name (UTF-8, '/'
    // separators), with its time and attributes (and its Unix mode, the
    // entry then marked as made on Unix, where the system has modes).
    // Exactly the size measured when it was opened is read: a file that
    // shrinks meanwhile fails, one that grows is cut there. The archive
    // itself (the file being written or the one it replaces) is never
    // added.
    bool addFile(const char* diskPath, const std::string& entryName, const Options& options, std::string* error,
                 Listener* listener = nullptr);
    // A folder entry ("name/").
    bool addDirectoryEntry(const char* diskPath, const std::string& entryName, std::string* error);
    // The contents of a folder under prefix (entries "prefix/..."), with or
    // without subfolders, in name order. Folder links are followed unless
    // they lead back to a folder on the way down; the archive itself is
    // left out silently.
    bool addFolder(const char* diskFolder, const std::string& prefix, bool recursive, const Options& options,
                   std::string* error, Listener* listener = nullptr);
    // Is id the archive being written, or the file it will replace? For
    // callers that walk folders of their own.
    bool isOutput(const platform::FileId& id) const;
    // Writes the central directory (ZIP64 records when an entry, the count
    // or an offset needs them) and renames the archive into place.
    bool close(std::string* error);
    // Gives the archive up: the temporary is removed, the old file kept.
    void abandon();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
