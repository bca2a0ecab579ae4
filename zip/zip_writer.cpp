// Writing zip archives: local headers patched after each entry's data is
// streamed (no data descriptors), optional entry encryption, ZIP64 fields
// and records where sizes, offsets or the count need them. Data that
// deflate does not shrink is written again, stored, over its deflated
// copy. Entries made from files of a system with Unix modes say so (host
// 3) and carry the mode beside the MS-DOS attributes.
#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "support/byte_reader.h"
#include "support/platform.h"
#include "support/replacing_output.h"
#include "zip/crc32.h"
#include "zip/deflate.h"
#include "zip/zip_archive.h"
#include "zip/zip_crypto.h"

namespace {

constexpr uint32_t kLocalSig = 0x04034b50;
constexpr uint32_t kCentralSig = 0x02014b50;
constexpr uint32_t kEndSig = 0x06054b50;
constexpr uint32_t kEnd64Sig = 0x06064b50;
constexpr uint32_t kLocatorSig = 0x07064b50;
constexpr size_t kChunk = 64 * 1024;
constexpr uint32_t kMax32 = 0xFFFFFFFFu;
// Entries at least this large get ZIP64 fields in their local header up
// front: deflate may grow incompressible data slightly, and the
// encryption adds a header and a trailer.
constexpr uint64_t kZip64Threshold = 0xFF000000u;
// Made by: version 6.3, on MS-DOS/Windows (host 0) or Unix (host 3, the
// mode in the high half of the external attributes).
constexpr uint16_t kVersionMadeBy = 63;
constexpr uint16_t kMadeByUnix = (3 << 8) | kVersionMadeBy;

struct CentralRecord {
    std::string name;
    uint16_t madeBy = kVersionMadeBy;
    uint16_t needed = 20, flags = 0, method = 0, time = 0, date = 0;
    uint32_t crc = 0, attributes = 0;
    uint64_t comp = 0, uncomp = 0, offset = 0;
    bool forceZip64 = false;
    std::vector<uint8_t> aesField;  // 0x9901, complete with id and length

    // The time and attributes of a file or folder on disk.
    void describe(const platform::FileInfo& info, bool folder) {
        time = info.dosTime;
        date = info.dosDate;
        attributes = info.attributes | (folder ? 0x10 : 0);
        if (info.unixMode) {
            madeBy = kMadeByUnix;
            const uint32_t type = folder ? 0040000 : info.unixMode & 0170000;
            attributes |= (type | (info.unixMode & 07777)) << 16;
        }
    }
};

void put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
    put16(b, uint16_t(v));
    put16(b, uint16_t(v >> 16));
}
void put64(std::vector<uint8_t>& b, uint64_t v) {
    put32(b, uint32_t(v));
    put32(b, uint32_t(v >> 32));
}

// Method, version needed and AES field of a file entry whose data is
// stored (0) or deflated (8); the encryption flag is already set.
void setMethod(CentralRecord& r, uint16_t method, int aesVersion, bool zip64) {
    r.method = method;
    r.needed = method == 8 || (r.flags & 0x0001) ? 20 : 10;
    r.aesField.clear();
    if (aesVersion) {
        r.method = 99;
        r.needed = 51;
        put16(r.aesField, 0x9901);
        put16(r.aesField, 7);
        put16(r.aesField, uint16_t(aesVersion));
        r.aesField.push_back('A');
        r.aesField.push_back('E');
        r.aesField.push_back(3);
        put16(r.aesField, method);
    }
    if (zip64) r.needed = std::max<uint16_t>(r.needed, 45);
}

// A file being added: read in chunks up to the size measured when it was
// opened (what a growing file adds later is not read), from the start
// again when an entry's data has to be written twice.
struct Input {
    platform::FileHandle handle;
    uint64_t size, left;
    std::vector<uint8_t> chunk = std::vector<uint8_t>(kChunk);
    bool read(uint32_t* got) {
        *got = 0;
        const uint32_t want = uint32_t(std::min<uint64_t>(chunk.size(), left));
        if (want && !platform::readFile(handle, chunk.data(), want, got)) return false;
        left -= *got;
        return true;
    }
    bool restart() {
        left = size;
        return platform::seekFile(handle, 0);
    }
};

std::string changedWhileRead(const std::string& disk) { return disk + ": changed while it was read"; }
std::string readFailed(const std::string& disk) {
    return disk + ": cannot read: " + platform::errorMessage(platform::lastError());
}

bool isAscii(const std::string& s) {
    for (char c : s)
        if (uint8_t(c) >= 0x80) return false;
    return true;
}

// A name from the file system (system code page) as an entry name.
std::string utf8Of(const std::string& local) {
    int n = platform::ansiToUtf8(local.data(), int(local.size()), nullptr, 0);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n <= 0 || platform::ansiToUtf8(local.data(), int(local.size()), &out[0], n) != n) return local;
    return out;
}

}  // namespace

struct ZipWriter::Impl : DeflateSink {
    ReplacingOutput output;
    platform::FileHandle file = platform::kInvalidFile;  // output's temporary
    std::string path;                                   // where the archive goes
    uint64_t pos = 0;
    std::vector<uint8_t> buffer;
    bool broken = false;  // an entry failed half-way: the archive cannot be finished
    std::vector<CentralRecord> central;
    std::set<std::string> names;
    // The current entry's encryption (for the deflate sink).
    ZipCryptoCipher* zipCrypto = nullptr;
    WinZipAesCipher* aes = nullptr;
    bool ioFailed = false;
    uint32_t writeError = 0;  // the system's code for the first failed write

    bool flush() {
        size_t done = 0;
        while (done < buffer.size()) {
            uint32_t piece = uint32_t(std::min<size_t>(buffer.size() - done, 0x100000)), written = 0;
            if (!platform::writeFile(file, buffer.data() + done, piece, &written) || written != piece) {
                noteWriteFailure();
                return false;
            }
            done += piece;
        }
        buffer.clear();
        return true;
    }
    bool put(const uint8_t* p, size_t n) {
        if (ioFailed) return false;
        buffer.insert(buffer.end(), p, p + n);
        pos += n;
        return buffer.size() < kChunk || flush();
    }
    bool put(const std::vector<uint8_t>& b) { return put(b.data(), b.size()); }
    // Drops everything written from offset at on; the file ends there.
    bool rewind(uint64_t at) {
        const uint64_t onDisk = pos - buffer.size();
        if (at >= onDisk) {
            buffer.resize(size_t(at - onDisk));
            pos = at;
            return true;
        }
        buffer.clear();
        pos = at;
        if (platform::truncateFile(file, at)) return true;
        noteWriteFailure();
        return false;
    }
    // Encrypts (when the entry is encrypted) and writes.
    bool write(const uint8_t* data, size_t length) override {
        if (!zipCrypto && !aes) return put(data, length);
        uint8_t tmp[4096];
        while (length) {
            size_t n = std::min(length, sizeof tmp);
            std::memcpy(tmp, data, n);
            if (zipCrypto) zipCrypto->encrypt(tmp, n);
            if (aes) aes->encrypt(tmp, n);
            if (!put(tmp, n)) return false;
            data += n;
            length -= n;
        }
        return true;
    }
    // Rewrites bytes already written (the local header) at an earlier offset.
    bool patch(uint64_t at, const std::vector<uint8_t>& b) {
        if (!flush()) return false;
        uint32_t written = 0;
        bool ok = platform::seekFile(file, at) &&
                  platform::writeFile(file, b.data(), uint32_t(b.size()), &written) && written == b.size() &&
                  platform::seekFile(file, pos);
        if (!ok) noteWriteFailure();
        return ok;
    }
    void noteWriteFailure() {
        if (!ioFailed) writeError = platform::lastError();
        ioFailed = true;
    }
    // "ARCHIVE: write failed: REASON" for the first failed write.
    bool writeFailed(std::string* error) {
        return fail(error, path + ": write failed" + (writeError ? ": " + platform::errorMessage(writeError) : ""));
    }
    bool fail(std::string* error, const std::string& text) {
        if (error) *error = text;
        return false;
    }
    bool checkName(const std::string& entryName, std::string* error) {
        if (entryName.empty()) return fail(error, "empty entry name");
        if (entryName.size() > 0xFFFF) return fail(error, entryName.substr(0, 64) + "...: entry name is too long");
        if (!names.insert(entryName).second) return fail(error, entryName + ": duplicate entry name");
        return true;
    }
    bool usable(std::string* error) {
        if (file == platform::kInvalidFile) return fail(error, "no archive is being written");
        if (broken || ioFailed) return fail(error, "the archive is unusable after an earlier write failure");
        return true;
    }

    std::vector<uint8_t> localHeader(const CentralRecord& r, bool zip64) const {
        std::vector<uint8_t> b;
        put32(b, kLocalSig);
        put16(b, r.needed);
        put16(b, r.flags);
        put16(b, r.method);
        put16(b, r.time);
        put16(b, r.date);
        put32(b, r.crc);
        put32(b, zip64 ? kMax32 : uint32_t(r.comp));
        put32(b, zip64 ? kMax32 : uint32_t(r.uncomp));
        put16(b, uint16_t(r.name.size()));
        put16(b, uint16_t((zip64 ? 20 : 0) + r.aesField.size()));
        b.insert(b.end(), r.name.begin(), r.name.end());
        if (zip64) {
            put16(b, 0x0001);
            put16(b, 16);
            put64(b, r.uncomp);
            put64(b, r.comp);
        }
        b.insert(b.end(), r.aesField.begin(), r.aesField.end());
        return b;
    }

    // Leaves an item out: tells the listener why (nothing for the archive
    // itself, reason empty), or fails without one.
    bool skip(const std::string& diskPath, const std::string& reason, Listener* listener, std::string* error) {
        if (!listener) return fail(error, diskPath + ": " + (reason.empty() ? "is the archive being written" : reason));
        if (!reason.empty()) listener->skipped(diskPath, reason);
        return true;
    }

    bool addFile(const char* diskPath, const std::string& entryName, const Options& options, std::string* error,
                 Listener* listener);
    struct EntryData {
        uint32_t crc = 0;      // of the bytes read
        uint64_t payload = 0;  // bytes of (compressed) data, without encryption header and MAC
    };
    // Writes an entry's data from the start of input: the encryption header
    // (ZipCrypto's check byte from r.crc), the data deflated at level or
    // stored (level 0), the AES authentication code.
    bool writeData(Input& input, int level, const Options& options, const CentralRecord& r, const std::string& disk,
                   EntryData* data, std::string* error);
    bool addDirectory(const char* diskPath, const std::string& entryName, std::string* error);
    // above: the folders the walk is inside, this one last.
    bool addFolder(const std::string& folder, const std::string& prefix, bool recursive, const Options& options,
                   std::string* error, Listener* listener, std::vector<platform::FileId>& above);
    bool finish(std::string* error);
};

bool ZipWriter::Impl::addFile(const char* diskPath, const std::string& entryName, const Options& options,
                              std::string* error, Listener* listener) {
    if (!usable(error)) return false;
    const std::string disk = diskPath ? diskPath : "(no path)";
    platform::FileInfo info;
    if (!diskPath || !platform::fileInfo(diskPath, &info))
        return fail(error, disk + ": cannot read the file's information");
    if (info.isDirectory) return fail(error, disk + ": is a folder");
    // The archive itself, by name first: Windows would not even let it be
    // opened while it is being written.
    platform::FileId id;
    if (platform::fileIdOf(diskPath, &id) && output.isOutput(id)) return skip(disk, "", listener, error);
    // Only regular files: a pipe or a device would never end (or block),
    // and their size says nothing about what they give.
    uint64_t size = 0;
    platform::FileHandle in = platform::openRegularFile(diskPath, &size);
    if (in == platform::kInvalidFile) {
        const uint32_t code = platform::lastError();
        if (code == platform::errorNotRegularFile()) return skip(disk, "not a regular file", listener, error);
        return fail(error, disk + ": cannot open: " + platform::errorMessage(code));
    }
    struct Closer {
        platform::FileHandle h;
        ~Closer() { platform::closeFile(h); }
    } closer{in};
    if (platform::fileIdOfHandle(in, &id) && output.isOutput(id)) return skip(disk, "", listener, error);
    if (listener) listener->adding(entryName);

    Input input{in, size, size};
    CentralRecord r;
    r.name = entryName;
    r.describe(info, false);
    r.offset = pos;
    r.uncomp = size;
    r.forceZip64 = options.forceZip64;
    if (!isAscii(entryName)) r.flags |= 0x0800;
    // Nothing to compress in an empty file.
    const int level = size ? std::max(0, std::min(9, options.level)) : 0;

    // The traditional cipher's check byte is the CRC's high byte: a first
    // pass computes the CRC.
    if (options.encryption == ZipCrypto) {
        uint32_t got = 0;
        while (input.read(&got) && got) r.crc = crc32Update(r.crc, input.chunk.data(), got);
        if (input.left || !input.restart()) return fail(error, changedWhileRead(disk));
        r.flags |= 0x0001;
    }
    // AE-2 (no CRC stored) for tiny files, whose CRC would give the
    // contents away; AE-1 otherwise.
    const int aesVersion = options.encryption != Aes256 ? 0 : size < 20 ? 2 : 1;
    if (aesVersion) r.flags |= 0x0001;
    const bool zip64 = options.forceZip64 || size >= kZip64Threshold;
    setMethod(r, level ? 8 : 0, aesVersion, zip64);

    if (!checkName(entryName, error)) return false;
    if (!put(localHeader(r, zip64))) return writeFailed(error);
    broken = true;  // until this entry is complete
    const uint64_t dataStart = pos;
    EntryData data;
    if (!writeData(input, level, options, r, disk, &data, error)) return false;
    if (level && data.payload >= size) {
        // Deflate did not shrink it: stored instead, over the deflated copy
        // (the encryption starts afresh). The local header keeps its size.
        const uint32_t firstCrc = data.crc;
        if (!rewind(dataStart)) return writeFailed(error);
        if (!input.restart()) return fail(error, readFailed(disk));
        setMethod(r, 0, aesVersion, zip64);
        if (!writeData(input, 0, options, r, disk, &data, error)) return false;
        if (data.crc != firstCrc) return fail(error, changedWhileRead(disk));
    }
    r.crc = aesVersion == 2 ? 0 : data.crc;
    r.comp = pos - dataStart;
    if (!zip64 && (r.comp >= kMax32 || r.uncomp >= kMax32))
        return fail(error, entryName + ": entry grew beyond the ZIP64 threshold");
    if (!patch(r.offset, localHeader(r, zip64))) return writeFailed(error);
    central.push_back(std::move(r));
    broken = false;
    return true;
}

bool ZipWriter::Impl::writeData(Input& input, int level, const Options& options, const CentralRecord& r,
                                const std::string& disk, EntryData* data, std::string* error) {
    std::unique_ptr<ZipCryptoCipher> zc;
    std::unique_ptr<WinZipAesCipher> wa;
    if (options.encryption == ZipCrypto) {
        uint8_t header[ZipCryptoCipher::kHeaderSize];
        if (!platform::randomBytes(header, sizeof header)) return fail(error, "no random source");
        // Readers check the last byte (the CRC's high byte); very old ones
        // also check the one before it.
        header[10] = uint8_t(r.crc >> 16);
        header[11] = uint8_t(r.crc >> 24);
        zc.reset(new ZipCryptoCipher(options.password.data(), options.password.size()));
        zc->encrypt(header, sizeof header);
        if (!put(header, sizeof header)) return writeFailed(error);
    } else if (options.encryption == Aes256) {
        uint8_t salt[16], verifier[2];
        if (!platform::randomBytes(salt, sizeof salt)) return fail(error, "no random source");
        wa.reset(new WinZipAesCipher());
        if (!wa->init(options.password.data(), options.password.size(), salt, 3, verifier))
            return fail(error, r.name + ": cannot derive the AES key");
        put(salt, sizeof salt);
        if (!put(verifier, sizeof verifier)) return writeFailed(error);
    }
    const uint64_t start = pos;
    zipCrypto = zc.get();
    aes = wa.get();
    struct Reset {
        Impl* w;
        ~Reset() { w->zipCrypto = nullptr, w->aes = nullptr; }
    } reset{this};

    std::unique_ptr<Deflater> deflater;
    if (level) deflater.reset(new Deflater(level, *this));
    uint32_t crc = 0, got = 0;
    bool readOk = true;
    while ((readOk = input.read(&got)) && got) {
        crc = crc32Update(crc, input.chunk.data(), got);
        bool ok = deflater ? deflater->write(input.chunk.data(), got) : write(input.chunk.data(), got);
        if (!ok) return writeFailed(error);
    }
    if (!readOk) return fail(error, readFailed(disk));
    if (deflater && !deflater->finish()) return writeFailed(error);
    if (input.left || (zc && crc != r.crc)) return fail(error, changedWhileRead(disk));
    data->crc = crc;
    data->payload = pos - start;
    if (wa) {
        uint8_t mac[WinZipAesCipher::kMacSize];
        wa->finishMac(mac);
        if (!put(mac, sizeof mac)) return writeFailed(error);
    }
    return true;
}

bool ZipWriter::Impl::addDirectory(const char* diskPath, const std::string& entryName, std::string* error) {
    if (!usable(error)) return false;
    CentralRecord r;
    r.name = entryName;
    if (r.name.empty() || r.name.back() != '/') r.name += '/';
    platform::FileInfo info;
    if (diskPath && platform::fileInfo(diskPath, &info)) {
        r.describe(info, true);
    } else if (diskPath) {
        return fail(error, std::string(diskPath) + ": cannot read the folder's information");
    } else {
        r.attributes = 0x10;
        r.date = (1 << 5) | 1;
    }
    if (!checkName(r.name, error)) return false;
    if (!isAscii(r.name)) r.flags |= 0x0800;
    r.offset = pos;
    r.needed = 20;
    if (!put(localHeader(r, false))) return writeFailed(error);
    central.push_back(std::move(r));
    return true;
}

bool ZipWriter::Impl::addFolder(const std::string& folder, const std::string& prefix, bool recursive,
                                const Options& options, std::string* error, Listener* listener,
                                std::vector<platform::FileId>& above) {
    if (above.size() > size_t(kMaxFolderDepth)) return fail(error, folder + ": folders nested too deeply");
    std::vector<std::string> names;
    auto collect = [](void* context, const char* name, bool) {
        static_cast<std::vector<std::string>*>(context)->push_back(name);
        return true;
    };
    if (!platform::listDirectory(folder.c_str(), collect, &names))
        return fail(error, folder + ": cannot list the folder: " + platform::errorMessage(platform::lastError()));
    // A stable order, so that the same tree gives the same archive.
    std::sort(names.begin(), names.end());
    std::string base = folder;
    if (!base.empty() && base.back() != '/' && base.back() != platform::pathSeparator())
        base += platform::pathSeparator();
    for (const std::string& name : names) {
        const std::string disk = base + name;
        const std::string entry = (prefix.empty() ? "" : prefix + "/") + utf8Of(name);
        platform::FileInfo info;
        if (!platform::fileInfo(disk.c_str(), &info)) {
            const std::string why = platform::errorMessage(platform::lastError());
            if (platform::nodeKind(disk.c_str()) != platform::NodeKind::Link)
                return fail(error, disk + ": cannot read the file's information: " + why);
            if (!skip(disk, "broken symbolic link: " + why, listener, error)) return false;
            continue;
        }
        if (!info.isDirectory) {
            if (!addFile(disk.c_str(), entry, options, error, listener)) return false;
            continue;
        }
        if (!recursive) continue;
        platform::FileId id;
        platform::fileIdOf(disk.c_str(), &id);
        if (std::find(above.begin(), above.end(), id) != above.end()) {
            if (!skip(disk, "link cycle: leads back to a folder above it", listener, error)) return false;
            continue;
        }
        if (!addDirectory(disk.c_str(), entry, error)) return false;
        above.push_back(id);
        const bool ok = addFolder(disk, entry, true, options, error, listener, above);
        above.pop_back();
        if (!ok) return false;
    }
    return true;
}

bool ZipWriter::Impl::finish(std::string* error) {
    if (!usable(error)) return false;
    // Layout first: the central directory's size follows from the records.
    const uint64_t cdOffset = pos;
    std::vector<uint8_t> cd;
    bool anyForced = false;
    uint16_t madeBy = kVersionMadeBy;  // the end record's: Unix when any entry is
    for (const CentralRecord& r : central) {
        if (r.madeBy == kMadeByUnix) madeBy = kMadeByUnix;
        bool bigU = r.uncomp >= kMax32 || r.forceZip64, bigC = r.comp >= kMax32 || r.forceZip64,
             bigO = r.offset >= kMax32 || r.forceZip64;
        anyForced = anyForced || r.forceZip64;
        uint16_t z64Len = uint16_t(8 * (int(bigU) + int(bigC) + int(bigO)));
        std::vector<uint8_t> b;
        put32(b, kCentralSig);
        put16(b, r.madeBy);
        put16(b, z64Len ? std::max<uint16_t>(r.needed, 45) : r.needed);
        put16(b, r.flags);
        put16(b, r.method);
        put16(b, r.time);
        put16(b, r.date);
        put32(b, r.crc);
        put32(b, bigC ? kMax32 : uint32_t(r.comp));
        put32(b, bigU ? kMax32 : uint32_t(r.uncomp));
        put16(b, uint16_t(r.name.size()));
        put16(b, uint16_t((z64Len ? 4 + z64Len : 0) + r.aesField.size()));
        put16(b, 0);  // comment
        put16(b, 0);  // disk
        put16(b, 0);  // internal attributes
        put32(b, r.attributes);
        put32(b, bigO ? kMax32 : uint32_t(r.offset));
        b.insert(b.end(), r.name.begin(), r.name.end());
        if (z64Len) {
            put16(b, 0x0001);
            put16(b, z64Len);
            if (bigU) put64(b, r.uncomp);
            if (bigC) put64(b, r.comp);
            if (bigO) put64(b, r.offset);
        }
        b.insert(b.end(), r.aesField.begin(), r.aesField.end());
        cd.insert(cd.end(), b.begin(), b.end());
    }
    const uint64_t cdSize = cd.size(), count = central.size();
    const bool zip64 = anyForced || count >= 0xFFFF || cdOffset >= kMax32 || cdSize >= kMax32;
    std::vector<uint8_t> tail;
    if (zip64) {
        const uint64_t end64Offset = cdOffset + cdSize;
        put32(tail, kEnd64Sig);
        put64(tail, 44);
        put16(tail, madeBy);
        put16(tail, 45);
        put32(tail, 0);
        put32(tail, 0);
        put64(tail, count);
        put64(tail, count);
        put64(tail, cdSize);
        put64(tail, cdOffset);
        put32(tail, kLocatorSig);
        put32(tail, 0);
        put64(tail, end64Offset);
        put32(tail, 1);
    }
    put32(tail, kEndSig);
    put16(tail, 0);
    put16(tail, 0);
    put16(tail, zip64 ? 0xFFFF : uint16_t(count));
    put16(tail, zip64 ? 0xFFFF : uint16_t(count));
    put32(tail, zip64 ? kMax32 : uint32_t(cdSize));
    put32(tail, zip64 ? kMax32 : uint32_t(cdOffset));
    put16(tail, 0);
    if (!put(cd) || !put(tail) || !flush()) return writeFailed(error);
    return true;
}

ZipWriter::Listener::~Listener() = default;

ZipWriter::ZipWriter() = default;

// Never finished: the output's destructor removes the temporary.
ZipWriter::~ZipWriter() = default;

bool ZipWriter::create(const char* path, std::string* error) {
    if (impl_ && impl_->output.active()) {
        if (error) *error = "an archive is already being written";
        return false;
    }
    impl_.reset(new Impl());
    impl_->path = path ? path : "";
    std::string why;
    if (!impl_->output.begin(path, &why)) {
        if (error) *error = why;
        return false;
    }
    impl_->file = impl_->output.file();
    return true;
}

bool ZipWriter::addFile(const char* diskPath, const std::string& entryName, const Options& options,
                        std::string* error, Listener* listener) {
    if (!impl_) {
        if (error) *error = "no archive is being written";
        return false;
    }
    return impl_->addFile(diskPath, entryName, options, error, listener);
}

bool ZipWriter::addDirectoryEntry(const char* diskPath, const std::string& entryName, std::string* error) {
    if (!impl_) {
        if (error) *error = "no archive is being written";
        return false;
    }
    return impl_->addDirectory(diskPath, entryName, error);
}

bool ZipWriter::addFolder(const char* diskFolder, const std::string& prefix, bool recursive, const Options& options,
                          std::string* error, Listener* listener) {
    if (!impl_) {
        if (error) *error = "no archive is being written";
        return false;
    }
    if (!impl_->usable(error)) return false;
    if (!diskFolder) return impl_->fail(error, "no folder given");
    std::string p = prefix;
    while (!p.empty() && p.back() == '/') p.pop_back();
    std::vector<platform::FileId> above(1);
    platform::fileIdOf(diskFolder, &above[0]);
    return impl_->addFolder(diskFolder, p, recursive, options, error, listener, above);
}

bool ZipWriter::isOutput(const platform::FileId& id) const { return impl_ && impl_->output.isOutput(id); }

bool ZipWriter::close(std::string* error) {
    if (!impl_ || impl_->file == platform::kInvalidFile) {
        if (error) *error = "no archive is being written";
        return false;
    }
    bool ok = impl_->finish(error) && impl_->output.commit(error);
    impl_->file = platform::kInvalidFile;
    if (!ok) impl_->output.abandon();
    return ok;
}

void ZipWriter::abandon() {
    if (!impl_) return;
    impl_->output.abandon();
    impl_->file = platform::kInvalidFile;
}
