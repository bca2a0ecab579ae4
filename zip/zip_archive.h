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

// Where a reader's bytes come from: a file, a memory block, or a view
// that makes them on demand (the self-extractor's decrypting view of its
// payload). The reader asks only for ranges inside size(), but a source
// must refuse any other range itself.
class ZipSource {
public:
    virtual ~ZipSource();
    virtual uint64_t size() const = 0;
    // Exactly n bytes at pos into buf; false when they cannot all be read.
    virtual bool read(uint64_t pos, void* buf, size_t n) = 0;
};

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

class ZipWriter {
public:
    enum Encryption { None, ZipCrypto, Aes256 };
    struct Options {
        int level = 6;  // 0 stores
        Encryption encryption = None;
        std::string password;
        bool forceZip64 = false;  // ZIP64 fields even where the sizes do not need them (tests, interop)
    };

    ZipWriter();
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    bool create(const char* path, std::string* error);
    // One file from disk under the given entry name (UTF-8, '/' separators),
    // streamed, with its time and attributes.
    bool addFile(const char* diskPath, const std::string& entryName, const Options& options, std::string* error);
    // A folder entry ("name/").
    bool addDirectoryEntry(const char* diskPath, const std::string& entryName, std::string* error);
    // The contents of a folder under prefix (entries "prefix/..."), with or
    // without subfolders.
    bool addFolder(const char* diskFolder, const std::string& prefix, bool recursive, const Options& options,
                   std::string* error);
    // Writes the central directory (ZIP64 records when an entry, the count
    // or an offset needs them) and closes the file.
    bool close(std::string* error);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
