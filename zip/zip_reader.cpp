// Reading zip archives: the end-of-central-directory search, ZIP64
// records, the central directory, and streaming one entry's verified
// contents out (local header cross-check, decryption, inflate, CRC-32 or
// authentication code, declared-size limit).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "support/byte_reader.h"
#include "support/platform.h"
#include "zip/crc32.h"
#include "zip/inflate.h"
#include "zip/zip_archive.h"
#include "zip/zip_crypto.h"

ZipSource::~ZipSource() = default;
ZipDataSink::~ZipDataSink() = default;

uint32_t ZipEntry::dosAttributes() const {
    uint32_t attrs = externalAttributes & 0xFF;
    if ((versionMadeBy >> 8) == 3) {  // Unix: the mode is in the high half
        uint32_t mode = externalAttributes >> 16;
        if (mode) {
            if ((mode & 0170000) == 0040000) attrs |= 0x10;
            else if (!(attrs & 0x10)) attrs |= 0x20;
            if (!(mode & 0200)) attrs |= 0x01;
        }
    }
    return attrs;
}

namespace {

constexpr uint32_t kLocalSig = 0x04034b50;
constexpr uint32_t kCentralSig = 0x02014b50;
constexpr uint32_t kEndSig = 0x06054b50;
constexpr uint32_t kEnd64Sig = 0x06064b50;
constexpr uint32_t kLocatorSig = 0x07064b50;
constexpr uint32_t kDescriptorSig = 0x08074b50;
constexpr uint32_t kEndSize = 22, kEnd64Size = 56, kLocatorSize = 20, kCentralSize = 46, kLocalSize = 30;
constexpr size_t kChunk = 64 * 1024;

// ---- Where the bytes come from ----------------------------------------

class MemorySource : public ZipSource {
public:
    MemorySource(const uint8_t* data, uint64_t size) : view_(data, size) {}
    uint64_t size() const override { return view_.size(); }
    bool read(uint64_t pos, void* buf, size_t n) override { return view_.copy(pos, buf, n); }

private:
    ByteView view_;
};

class FileSource : public ZipSource {
public:
    ~FileSource() override {
        if (h_ != platform::kInvalidFile) platform::closeFile(h_);
    }
    bool open(const char* path) {
        h_ = platform::openFile(path, platform::OpenMode::ReadExisting);
        return h_ != platform::kInvalidFile && platform::fileSize(h_, &size_);
    }
    uint64_t size() const override { return size_; }
    bool read(uint64_t pos, void* buf, size_t n) override {
        if (pos > size_ || n > size_ - pos || !platform::seekFile(h_, pos)) return false;
        uint8_t* p = static_cast<uint8_t*>(buf);
        while (n) {
            uint32_t piece = n > 0x100000 ? 0x100000 : uint32_t(n), got = 0;
            if (!platform::readFile(h_, p, piece, &got) || got == 0) return false;
            p += got;
            n -= got;
        }
        return true;
    }

private:
    platform::FileHandle h_ = platform::kInvalidFile;
    uint64_t size_ = 0;
};

// ---- Names -------------------------------------------------------------

const uint16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::string cp437ToUtf8(const uint8_t* p, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; i++) appendUtf8(out, p[i] < 0x80 ? p[i] : kCp437High[p[i] - 0x80]);
    return out;
}

// Valid UTF-8 passes unchanged; each invalid sequence becomes U+FFFD.
std::string cleanUtf8(const uint8_t* p, size_t n) {
    std::string out;
    size_t i = 0;
    while (i < n) {
        uint8_t c = p[i];
        uint32_t need = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 99;
        uint32_t cp = need == 0 ? c : need == 1 ? (c & 0x1F) : need == 2 ? (c & 0x0F) : (c & 0x07);
        bool ok = need != 99 && need <= n - i - 1;
        for (uint32_t k = 1; ok && k <= need; k++) {
            if ((p[i + k] & 0xC0) != 0x80) ok = false;
            else cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        static const uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
        if (ok && (cp < kMin[need] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
        if (ok) {
            out.append(reinterpret_cast<const char*>(p + i), need + 1);
            i += need + 1;
        } else {
            appendUtf8(out, 0xFFFD);
            i++;
        }
    }
    return out;
}

std::string hex32(uint32_t v) {
    char buf[16];
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < 8; i++) buf[i] = digits[(v >> (28 - 4 * i)) & 0xF];
    return std::string(buf, 8);
}

// What the reader keeps besides the public entry.
struct EntryExtra {
    std::string rawName;
    uint16_t rawMethod = 0;       // 99 for AES
    bool aesFieldMissing = false;  // method 99 without extra field 0x9901
    bool aesFieldBad = false;
    uint64_t limit = 0;           // where the next entry (or the central directory) begins
    bool sharedOffset = false;    // another entry starts at the same offset
};

}  // namespace

struct ZipReader::Impl {
    std::unique_ptr<ZipSource> source;
    std::vector<ZipEntry> entries;
    std::vector<EntryExtra> extras;
    uint64_t centralStart = 0;

    bool open(std::string* error);
    bool fail(std::string* error, const std::string& text) {
        if (error) *error = text;
        return false;
    }
    bool parseCentral(const std::vector<uint8_t>& cd, uint64_t count, uint64_t prefix, std::string* error);
    bool extract(size_t i, ZipDataSink& sink, const char* password, std::string* error);
};

bool ZipReader::Impl::open(std::string* error) {
    uint64_t size = source->size();
    if (size < kEndSize) return fail(error, "not a zip archive: too short for the end of central directory record");
    // The record is the last 22 bytes plus a comment of up to 65535 bytes.
    uint64_t tailLen = std::min<uint64_t>(size, kEndSize + 0xFFFF);
    uint64_t tailPos = size - tailLen;
    std::vector<uint8_t> tail(static_cast<size_t>(tailLen));
    if (!source->read(tailPos, tail.data(), tail.size())) return fail(error, "cannot read the end of the archive");
    ByteView tv(tail.data(), tail.size());
    // Prefer a record whose comment ends exactly at the end of the file;
    // otherwise take the last record that fits (trailing bytes after it).
    uint64_t endPos = UINT64_MAX, fallback = UINT64_MAX;
    for (uint64_t off = tailLen - kEndSize + 1; off-- > 0;) {
        uint32_t sig = 0;
        uint16_t commentLen = 0;
        if (!tv.u32(off, &sig) || sig != kEndSig || !tv.u16(off + 20, &commentLen)) continue;
        if (commentLen == tailLen - off - kEndSize) {
            endPos = off;
            break;
        }
        if (commentLen < tailLen - off - kEndSize && fallback == UINT64_MAX) fallback = off;
    }
    if (endPos == UINT64_MAX) endPos = fallback;
    if (endPos == UINT64_MAX) return fail(error, "not a zip archive: end of central directory record not found");
    uint16_t disk = 0, cdDisk = 0, diskEntries16 = 0, entries16 = 0;
    uint32_t cdSize32 = 0, cdOffset32 = 0;
    tv.u16(endPos + 4, &disk);
    tv.u16(endPos + 6, &cdDisk);
    tv.u16(endPos + 8, &diskEntries16);
    tv.u16(endPos + 10, &entries16);
    tv.u32(endPos + 12, &cdSize32);
    tv.u32(endPos + 16, &cdOffset32);
    uint64_t endAbs = tailPos + endPos;
    uint64_t count = entries16, cdSize = cdSize32, cdOffset = cdOffset32, cdEnd = endAbs;

    // A ZIP64 locator sits right before the record.
    bool zip64 = false;
    uint8_t loc[kLocatorSize], rec[kEnd64Size];
    if (endAbs >= kLocatorSize && source->read(endAbs - kLocatorSize, loc, sizeof loc) &&
        loadLE32(loc) == kLocatorSig) {
        ByteView lv(loc, sizeof loc);
        uint32_t locDisk = 0, disks = 0;
        uint64_t end64Offset = 0;
        lv.u32(4, &locDisk);
        lv.u64(8, &end64Offset);
        lv.u32(16, &disks);
        uint64_t locPos = endAbs - kLocatorSize;
        // The record normally ends where the locator begins; its stated
        // offset is relative to the archive start.
        uint64_t end64Pos = UINT64_MAX;
        if (end64Offset <= locPos && kEnd64Size <= locPos - end64Offset &&
            source->read(end64Offset, rec, sizeof rec) && loadLE32(rec) == kEnd64Sig)
            end64Pos = end64Offset;
        else if (locPos >= kEnd64Size && source->read(locPos - kEnd64Size, rec, sizeof rec) &&
                 loadLE32(rec) == kEnd64Sig)
            end64Pos = locPos - kEnd64Size;
        const bool needed = entries16 == 0xFFFF || cdSize32 == 0xFFFFFFFFu || cdOffset32 == 0xFFFFFFFFu;
        if (end64Pos == UINT64_MAX && needed) return fail(error, "ZIP64 end of central directory record not found");
        // Without the record and without maximal values, the locator's
        // signature was only data that happened to look like one.
        zip64 = end64Pos != UINT64_MAX;
        if (zip64) {
            if (locDisk != 0 || disks > 1) return fail(error, "archives on several disks are not supported");
            ByteView rv(rec, sizeof rec);
            uint32_t disk64 = 0, cdDisk64 = 0;
            uint64_t diskEntries64 = 0;
            rv.u32(16, &disk64);
            rv.u32(20, &cdDisk64);
            rv.u64(24, &diskEntries64);
            rv.u64(32, &count);
            rv.u64(40, &cdSize);
            rv.u64(48, &cdOffset);
            if (disk64 != 0 || cdDisk64 != 0 || diskEntries64 != count)
                return fail(error, "archives on several disks are not supported");
            cdEnd = end64Pos;
        }
    }
    if (!zip64) {
        if (cdSize32 == 0xFFFFFFFFu || cdOffset32 == 0xFFFFFFFFu)
            return fail(error, "ZIP64 end of central directory locator not found");
        if (disk != 0 || cdDisk != 0 || diskEntries16 != entries16)
            return fail(error, "archives on several disks are not supported");
    }
    if (cdSize > cdEnd) return fail(error, "central directory size is larger than the archive");
    uint64_t cdStart = cdEnd - cdSize;
    if (cdOffset > cdStart) return fail(error, "central directory offset is beyond the archive");
    // Bytes before the archive (a self-extractor stub) shift every offset.
    uint64_t prefix = cdStart - cdOffset;
    if (count > cdSize / kCentralSize) return fail(error, "entry count does not fit the central directory size");
    centralStart = cdStart;
    if (cdSize > SIZE_MAX / 2) return fail(error, "central directory is too large");
    std::vector<uint8_t> cd;
    try {
        cd.resize(size_t(cdSize));
    } catch (const std::bad_alloc&) {
        return fail(error, "central directory is too large");
    }
    if (cdSize && !source->read(cdStart, cd.data(), cd.size()))
        return fail(error, "cannot read the central directory");
    return parseCentral(cd, count, prefix, error);
}

bool ZipReader::Impl::parseCentral(const std::vector<uint8_t>& cd, uint64_t count, uint64_t prefix,
                                   std::string* error) {
    ByteReader r(ByteView(cd.data(), cd.size()));
    entries.reserve(size_t(count));
    extras.reserve(size_t(count));
    uint64_t size = source->size();
    const ByteView cdView(cd.data(), cd.size());
    for (uint64_t n = 0;; n++) {
        if (n >= count) {
            // Old writers store the count modulo 65536: further central
            // entries that fill the directory are read too.
            uint32_t next = 0;
            if (r.remaining() < kCentralSize || !cdView.u32(r.offset(), &next) || next != kCentralSig) break;
        }
        std::string where = "central directory entry " + std::to_string(n + 1);
        uint32_t sig = 0, crc = 0, comp32 = 0, uncomp32 = 0, ext = 0, offset32 = 0;
        uint16_t madeBy = 0, needed = 0, flags = 0, method = 0, time = 0, date = 0, nameLen = 0, extraLen = 0,
                 commentLen = 0, diskStart = 0, internal = 0;
        if (!r.readU32(&sig)) return fail(error, where + ": truncated");
        if (sig != kCentralSig) return fail(error, where + ": signature is not valid");
        if (!(r.readU16(&madeBy) && r.readU16(&needed) && r.readU16(&flags) && r.readU16(&method) &&
              r.readU16(&time) && r.readU16(&date) && r.readU32(&crc) && r.readU32(&comp32) &&
              r.readU32(&uncomp32) && r.readU16(&nameLen) && r.readU16(&extraLen) && r.readU16(&commentLen) &&
              r.readU16(&diskStart) && r.readU16(&internal) && r.readU32(&ext) && r.readU32(&offset32)))
            return fail(error, where + ": truncated");
        const uint8_t *name = nullptr, *extra = nullptr, *comment = nullptr;
        if (!r.readBytes(nameLen, &name)) return fail(error, where + ": name runs past the central directory");
        if (!r.readBytes(extraLen, &extra))
            return fail(error, where + ": extra field runs past the central directory");
        if (!r.readBytes(commentLen, &comment))
            return fail(error, where + ": comment runs past the central directory");
        ZipEntry e;
        EntryExtra x;
        x.rawName.assign(reinterpret_cast<const char*>(name), nameLen);
        x.rawMethod = method;
        e.versionMadeBy = madeBy;
        e.flags = flags;
        e.method = method;
        e.crc32 = crc;
        e.compressedSize = comp32;
        e.uncompressedSize = uncomp32;
        e.dosTime = time;
        e.dosDate = date;
        e.externalAttributes = ext;
        uint64_t offset = offset32;
        bool unicodeName = false, haveAes = false, haveZip64 = false;
        ByteView ev(extra, extraLen);
        uint64_t pos = 0;
        while (extraLen - pos >= 4) {
            uint16_t id = 0, len = 0;
            ev.u16(pos, &id);
            ev.u16(pos + 2, &len);
            ByteView field = ev.sub(pos + 4, len);
            if (field.size() != len) return fail(error, where + ": extra field runs past its end");
            if (id == 0x0001) {
                // ZIP64: only the fields that are at their maximum, in order.
                haveZip64 = true;
                uint64_t at = 0;
                auto take = [&](uint64_t* v) {
                    if (!field.u64(at, v)) return false;
                    at += 8;
                    return true;
                };
                if (uncomp32 == 0xFFFFFFFFu && !take(&e.uncompressedSize))
                    return fail(error, where + ": ZIP64 extra field is too short");
                if (comp32 == 0xFFFFFFFFu && !take(&e.compressedSize))
                    return fail(error, where + ": ZIP64 extra field is too short");
                if (offset32 == 0xFFFFFFFFu && !take(&offset))
                    return fail(error, where + ": ZIP64 extra field is too short");
            } else if (id == 0x7075 && !unicodeName && !(flags & 0x0800)) {
                // Info-ZIP Unicode path: version 1, CRC-32 of the raw name, UTF-8 name.
                uint8_t version = 0;
                uint32_t nameCrc = 0;
                if (field.u8(0, &version) && version == 1 && field.u32(1, &nameCrc) &&
                    nameCrc == crc32Update(0, name, nameLen)) {
                    e.name = cleanUtf8(field.data() + 5, size_t(len - 5));
                    unicodeName = true;
                }
            } else if (id == 0x9901) {
                // WinZip AES: version, "AE", strength, real method.
                uint16_t version = 0, realMethod = 0;
                uint8_t strength = 0;
                haveAes = true;
                if (len < 7 || !field.u16(0, &version) || field.data()[2] != 'A' || field.data()[3] != 'E' ||
                    !field.u8(4, &strength) || !field.u16(5, &realMethod)) {
                    x.aesFieldBad = true;
                } else {
                    e.aesVersion = version;
                    e.aesStrength = strength;
                    if (method == 99) e.method = realMethod;
                }
            }
            pos += 4 + uint64_t(len);
        }
        // A few trailing bytes (alignment padding) are tolerated.
        if (!haveZip64 && (uncomp32 == 0xFFFFFFFFu || comp32 == 0xFFFFFFFFu || offset32 == 0xFFFFFFFFu))
            return fail(error, where + ": ZIP64 extra field is missing");
        if (!unicodeName) {
            // Without the flag a name is CP437, except where a Unix host
            // (3; 19 for macOS) wrote its own file names, which are UTF-8
            // there: a name that is valid UTF-8 from such a host is taken
            // as UTF-8, as the Unix unzip tools take it.
            const uint8_t host = uint8_t(madeBy >> 8);
            std::string utf8 = cleanUtf8(name, nameLen);
            bool unixUtf8 = (host == 3 || host == 19) && utf8.size() == nameLen &&
                            std::memcmp(utf8.data(), name, nameLen) == 0;
            e.name = (flags & 0x0800) || unixUtf8 ? utf8 : cp437ToUtf8(name, nameLen);
        }
        if (flags & 0x0001) e.encryption = method == 99 ? ZipEntry::Aes : ZipEntry::ZipCrypto;
        if (method == 99 && !haveAes) x.aesFieldMissing = true;
        if (diskStart != 0 && diskStart != 0xFFFF) return fail(error, where + ": entry starts on another disk");
        if (offset > size || prefix > size - offset)
            return fail(error, where + ": local header offset is beyond the archive");
        e.localHeaderOffset = offset + prefix;
        entries.push_back(std::move(e));
        extras.push_back(std::move(x));
    }
    // Each entry's data must end before the next entry (by offset) or the
    // central directory begins; entries sharing an offset are refused.
    std::vector<size_t> order(entries.size());
    for (size_t i = 0; i < order.size(); i++) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return entries[a].localHeaderOffset < entries[b].localHeaderOffset;
    });
    for (size_t k = 0; k < order.size(); k++) {
        uint64_t here = entries[order[k]].localHeaderOffset;
        size_t next = k + 1;
        while (next < order.size() && entries[order[next]].localHeaderOffset == here) {
            extras[order[k]].sharedOffset = extras[order[next]].sharedOffset = true;
            next++;
        }
        extras[order[k]].limit = next < order.size() ? entries[order[next]].localHeaderOffset : centralStart;
        if (extras[order[k]].limit > centralStart) extras[order[k]].limit = centralStart;
    }
    return true;
}

namespace {

// The output side of one extraction: counts, checks the declared size,
// computes the CRC and hands the bytes on.
struct Output {
    ZipDataSink& sink;
    uint64_t declared;
    uint64_t written = 0;
    uint32_t crc = 0;
    bool tooLong = false, sinkFailed = false;

    bool put(const uint8_t* p, size_t n) {
        if (n > declared - written) {
            tooLong = true;
            return false;
        }
        written += n;
        crc = crc32Update(crc, p, n);
        if (n && !sink.write(p, n)) {
            sinkFailed = true;
            return false;
        }
        return true;
    }
};

}  // namespace

bool ZipReader::Impl::extract(size_t i, ZipDataSink& sink, const char* password, std::string* error) {
    const ZipEntry& e = entries[i];
    const EntryExtra& x = extras[i];
    const std::string name = e.name + ": ";
    auto bad = [&](const std::string& why) { return fail(error, name + why); };

    if (x.sharedOffset) return bad("overlaps another entry (same local header offset)");
    uint64_t lho = e.localHeaderOffset;
    if (lho >= centralStart) return bad("local header offset points into the central directory");
    if (kLocalSize > x.limit - lho) return bad("local header overlaps another entry or the central directory");
    uint8_t lh[kLocalSize];
    if (!source->read(lho, lh, sizeof lh)) return bad("cannot read the local header");
    ByteView lv(lh, sizeof lh);
    uint32_t sig = 0, crc = 0, comp32 = 0, uncomp32 = 0;
    uint16_t flags = 0, method = 0, nameLen = 0, extraLen = 0;
    lv.u32(0, &sig);
    lv.u16(6, &flags);
    lv.u16(8, &method);
    lv.u32(14, &crc);
    lv.u32(18, &comp32);
    lv.u32(22, &uncomp32);
    lv.u16(26, &nameLen);
    lv.u16(28, &extraLen);
    if (sig != kLocalSig) return bad("local header signature is not valid");
    uint64_t varLen = uint64_t(nameLen) + extraLen;
    if (varLen > x.limit - lho - kLocalSize)
        return bad("local header overlaps another entry or the central directory");
    std::vector<uint8_t> var(static_cast<size_t>(varLen));
    if (varLen && !source->read(lho + kLocalSize, var.data(), var.size()))
        return bad("cannot read the local header");
    if (nameLen != x.rawName.size() || (nameLen && std::memcmp(var.data(), x.rawName.data(), nameLen) != 0))
        return bad("local header name does not match the central directory");
    if (method != x.rawMethod) return bad("local header compression method does not match the central directory");
    const uint16_t kCheckedFlags = 0x0001 | 0x0008 | 0x0040 | 0x0800;
    if ((flags & kCheckedFlags) != (e.flags & kCheckedFlags))
        return bad("local header flags do not match the central directory");
    const bool descriptor = (e.flags & 0x0008) != 0;
    if (!descriptor) {
        uint64_t comp = comp32, uncomp = uncomp32;
        if (comp32 == 0xFFFFFFFFu || uncomp32 == 0xFFFFFFFFu) {
            ByteView ev(var.data() + nameLen, extraLen);
            for (uint64_t pos = 0; extraLen - pos >= 4;) {
                uint16_t id = 0, len = 0;
                ev.u16(pos, &id);
                ev.u16(pos + 2, &len);
                ByteView field = ev.sub(pos + 4, len);
                if (field.size() != len) break;
                if (id == 0x0001) {
                    uint64_t at = 0;
                    if (uncomp32 == 0xFFFFFFFFu && field.u64(at, &uncomp)) at += 8;
                    if (comp32 == 0xFFFFFFFFu) field.u64(at, &comp);
                    break;
                }
                pos += 4 + uint64_t(len);
            }
        }
        if (crc != e.crc32 || comp != e.compressedSize || uncomp != e.uncompressedSize)
            return bad("local header sizes or CRC do not match the central directory");
    }
    uint64_t dataStart = lho + kLocalSize + varLen;
    if (e.compressedSize > x.limit - dataStart)
        return bad("data overlaps another entry or the central directory");
    uint64_t dataEnd = dataStart + e.compressedSize;
    if (descriptor) {
        // Signature optional; sizes 32 or 64 bits. One of the forms must
        // repeat the central values.
        uint8_t d[24] = {};
        uint64_t room = std::min<uint64_t>(x.limit - dataEnd, sizeof d);
        if (room && !source->read(dataEnd, d, size_t(room))) return bad("cannot read the data descriptor");
        ByteView dv(d, room);
        bool matched = false;
        for (int form = 0; form < 4 && !matched; form++) {
            bool withSig = form < 2, wide = form % 2 == 1;
            uint64_t at = withSig ? 4 : 0;
            uint32_t s = 0, dcrc = 0;
            uint64_t dcomp = 0, duncomp = 0;
            if (withSig && (!dv.u32(0, &s) || s != kDescriptorSig)) continue;
            if (!dv.u32(at, &dcrc)) continue;
            if (wide) {
                if (!dv.u64(at + 4, &dcomp) || !dv.u64(at + 12, &duncomp)) continue;
            } else {
                uint32_t c = 0, u = 0;
                if (!dv.u32(at + 4, &c) || !dv.u32(at + 8, &u)) continue;
                dcomp = c;
                duncomp = u;
            }
            matched = dcrc == e.crc32 && dcomp == e.compressedSize && duncomp == e.uncompressedSize;
        }
        if (!matched) return bad("data descriptor is missing or does not match the central directory");
    }
    if (e.flags & 0x0040) return bad("strong encryption is not supported");
    if (x.rawMethod == 99 && x.aesFieldMissing) return bad("AES entry without its extra field (0x9901)");
    if (x.rawMethod == 99 && x.aesFieldBad) return bad("AES extra field (0x9901) is not valid");
    if (x.rawMethod == 99 && !(e.flags & 0x0001)) return bad("AES entry is not marked as encrypted");
    if (e.method != 0 && e.method != 8) return bad("unsupported compression method " + std::to_string(e.method));
    if (e.encryption == ZipEntry::Aes) {
        if (e.aesVersion != 1 && e.aesVersion != 2)
            return bad("unsupported AES version " + std::to_string(e.aesVersion));
        if (e.aesStrength < 1 || e.aesStrength > 3)
            return bad("unsupported AES key strength " + std::to_string(e.aesStrength));
    }
    if (e.encryption != ZipEntry::None && !password) return bad("a password is required");

    uint64_t pos = dataStart, left = e.compressedSize;
    std::unique_ptr<ZipCryptoCipher> zipCrypto;
    std::unique_ptr<WinZipAesCipher> aes;
    if (e.encryption == ZipEntry::ZipCrypto) {
        if (left < ZipCryptoCipher::kHeaderSize) return bad("encrypted data is shorter than its header");
        uint8_t header[ZipCryptoCipher::kHeaderSize];
        if (!source->read(pos, header, sizeof header)) return bad("cannot read the data");
        zipCrypto.reset(new ZipCryptoCipher(password, std::strlen(password)));
        zipCrypto->decrypt(header, sizeof header);
        // The last header byte repeats the CRC's high byte, or the time's
        // high byte when the CRC follows in a data descriptor.
        uint8_t check = descriptor ? uint8_t(e.dosTime >> 8) : uint8_t(e.crc32 >> 24);
        if (header[11] != check) return bad("wrong password");
        pos += sizeof header;
        left -= sizeof header;
    } else if (e.encryption == ZipEntry::Aes) {
        uint32_t saltLen = WinZipAesCipher::saltLength(e.aesStrength);
        uint64_t overhead = saltLen + WinZipAesCipher::kVerifierSize + WinZipAesCipher::kMacSize;
        if (left < overhead) return bad("encrypted data is shorter than its salt and authentication code");
        uint8_t head[16 + 2];
        if (!source->read(pos, head, saltLen + 2)) return bad("cannot read the data");
        aes.reset(new WinZipAesCipher());
        uint8_t verifier[2];
        if (!aes->init(password, std::strlen(password), head, e.aesStrength, verifier))
            return bad("cannot derive the AES key");
        if (verifier[0] != head[saltLen] || verifier[1] != head[saltLen + 1]) return bad("wrong password");
        pos += saltLen + 2;
        left -= overhead;
    }
    if (e.method == 0 && left != e.uncompressedSize) return bad("stored size does not match the declared size");

    Output out{sink, e.uncompressedSize};
    std::vector<uint8_t> in(kChunk), inflated;
    std::unique_ptr<Inflater> inflater;
    if (e.method == 8) {
        inflater.reset(new Inflater());
        inflated.resize(kChunk);
    }
    bool streamDone = e.method == 0;
    // Under the traditional cipher a wrong password that passed the check
    // byte shows up as damaged data.
    auto dataBad = [&](const std::string& why) { return zipCrypto ? bad("wrong password (" + why + ")") : bad(why); };
    auto outputFailure = [&]() {
        if (out.sinkFailed) return bad("writing the contents failed");
        return dataBad("data is longer than its declared size");
    };
    while (left) {
        size_t n = left < kChunk ? size_t(left) : kChunk;
        if (!source->read(pos, in.data(), n)) return bad("cannot read the data");
        pos += n;
        left -= n;
        if (zipCrypto) zipCrypto->decrypt(in.data(), n);
        if (aes) aes->decrypt(in.data(), n);
        if (!inflater) {
            if (!out.put(in.data(), n)) return outputFailure();
            continue;
        }
        const uint8_t* p = in.data();
        size_t avail = n;
        while (true) {
            if (streamDone) {
                if (avail) return dataBad("deflate stream ends before the entry's data");
                break;
            }
            uint8_t* o = inflated.data();
            size_t room = inflated.size();
            Inflater::Status st = inflater->run(p, avail, o, room);
            if (!out.put(inflated.data(), inflated.size() - room)) return outputFailure();
            if (st == Inflater::Error) return dataBad(std::string("deflate data is corrupt: ") + inflater->message());
            if (st == Inflater::Done) {
                streamDone = true;
                continue;
            }
            if (!avail && room) break;  // needs more input
            if (avail && room) return bad("deflate stream stalled");
        }
    }
    if (!streamDone) {
        // Flush what the inflater still holds; then it must be done.
        while (true) {
            const uint8_t* p = in.data();
            size_t avail = 0;
            uint8_t* o = inflated.data();
            size_t room = inflated.size();
            Inflater::Status st = inflater->run(p, avail, o, room);
            if (!out.put(inflated.data(), inflated.size() - room)) return outputFailure();
            if (st == Inflater::Error) return dataBad(std::string("deflate data is corrupt: ") + inflater->message());
            if (st == Inflater::Done) break;
            if (room) return dataBad("deflate data is truncated");
        }
    }
    if (aes) {
        uint8_t stored[WinZipAesCipher::kMacSize], computed[WinZipAesCipher::kMacSize];
        if (!source->read(pos, stored, sizeof stored)) return bad("cannot read the authentication code");
        aes->finishMac(computed);
        if (std::memcmp(stored, computed, sizeof stored) != 0)
            return bad("authentication code does not match (wrong password or corrupt data)");
    }
    if (out.written != e.uncompressedSize) return dataBad("data is shorter than its declared size");
    bool checkCrc = !(e.encryption == ZipEntry::Aes && e.aesVersion == 2);
    if (checkCrc && out.crc != e.crc32) {
        if (zipCrypto) return bad("wrong password (CRC mismatch)");
        return bad("CRC mismatch (stored " + hex32(e.crc32) + ", computed " + hex32(out.crc) + ")");
    }
    return true;
}

ZipReader::ZipReader() = default;
ZipReader::~ZipReader() = default;

bool ZipReader::openFile(const char* path, std::string* error) {
    close();
    std::unique_ptr<FileSource> file(new FileSource());
    if (!path || !file->open(path)) {
        if (error)
            *error = std::string("cannot open ") + (path ? path : "(no path)") + ": " +
                     platform::errorMessage(platform::lastError());
        return false;
    }
    impl_.reset(new Impl());
    impl_->source = std::move(file);
    if (!impl_->open(error)) {
        impl_.reset();
        return false;
    }
    return true;
}

bool ZipReader::openMemory(const uint8_t* data, uint64_t size, std::string* error) {
    return openSource(std::unique_ptr<ZipSource>(new MemorySource(data, size)), error);
}

bool ZipReader::openSource(std::unique_ptr<ZipSource> source, std::string* error) {
    close();
    if (!source) {
        if (error) *error = "no source to read the archive from";
        return false;
    }
    impl_.reset(new Impl());
    impl_->source = std::move(source);
    if (!impl_->open(error)) {
        impl_.reset();
        return false;
    }
    return true;
}

void ZipReader::close() { impl_.reset(); }

size_t ZipReader::entryCount() const { return impl_ ? impl_->entries.size() : 0; }

const ZipEntry& ZipReader::entry(size_t i) const { return impl_->entries.at(i); }

bool ZipReader::extract(size_t i, ZipDataSink& sink, const char* password, std::string* error) {
    if (!impl_ || i >= impl_->entries.size()) {
        if (error) *error = "no such entry";
        return false;
    }
    return impl_->extract(i, sink, password, error);
}
