// Reading zip archives: the end-of-central-directory search, ZIP64
// records, the central directory, and streaming one entry's verified
// contents out (local header cross-check, decryption, inflate, CRC-32 or
// authentication code, declared-size limit).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "support/byte_reader.h"
#include "support/platform.h"
#include "zip/crc32.h"
#include "zip/inflate.h"
#include "zip/zip_archive.h"
#include "zip/zip_crypto.h"

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
    bool parseCentral(ByteView cdView, uint64_t count, uint64_t prefix, std::string* error);
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
    // A refused allocation is an answer here, not an exception: the stub
    // is built without exceptions.
    std::unique_ptr<uint8_t[]> cd(new (std::nothrow) uint8_t[size_t(cdSize) ? size_t(cdSize) : 1]);
    if (!cd) return fail(error, "central directory is too large");
    if (cdSize && !source->read(cdStart, cd.get(), size_t(cdSize)))
        return fail(error, "cannot read the central directory");
    return parseCentral(ByteView(cd.get(), size_t(cdSize)), count, prefix, error);
}

bool ZipReader::Impl::parseCentral(ByteView cdView, uint64_t count, uint64_t prefix,
                                   std::string* error) {
    ByteReader r(cdView);
    entries.reserve(size_t(count));
    extras.reserve(size_t(count));
    uint64_t size = source->size();
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
    bool sinkFailed = false;  // otherwise a refused put was too long

    bool put(const uint8_t* p, size_t n) {
        if (n > declared - written) return false;
        written += n;
        crc = crc32Update(crc, p, n);
        if (n && !sink.write(p, n)) {
            sinkFailed = true;
            return false;
        }
        return true;
    }
};

// The local header as the file has it.
struct LocalHeader {
    uint16_t flags = 0, method = 0, nameLen = 0, extraLen = 0;
    uint32_t crc = 0, comp32 = 0, uncomp32 = 0;
    std::vector<uint8_t> var;  // the name, then the extra field
};

// One entry's contents, in the order of its steps: the entry opened and
// its local header cross-checked against the central directory, what this
// reader supports, the decryptor for its cipher, then its bytes read,
// decrypted, inflated and written through Output, and the checks at the
// end. A step that fails puts "name: why" in *error and returns false.
class EntryExtraction {
public:
    EntryExtraction(ZipSource& source, uint64_t centralStart, const ZipEntry& e, const EntryExtra& x,
                    std::string* error)
        : source_(source), centralStart_(centralStart), e_(e), x_(x), error_(error) {}

    bool run(ZipDataSink& sink, const char* password) {
        if (!openEntry() || !checkSupported(password) || !chooseDecryptor(password)) return false;
        if (e_.method == 0 && left_ != e_.uncompressedSize) return bad("stored size does not match the declared size");
        Output out{sink, e_.uncompressedSize};
        return write(out) && verify(out);
    }

private:
    bool bad(const std::string& why) {
        if (error_) *error_ = e_.name + ": " + why;
        return false;
    }
    // Under the traditional cipher a wrong password that passed the check
    // byte shows up as damaged data.
    bool dataBad(const std::string& why) { return zipCrypto_ ? bad("wrong password (" + why + ")") : bad(why); }
    bool outputFailure(const Output& out) {
        if (out.sinkFailed) return bad("writing the contents failed");
        return dataBad("data is longer than its declared size");
    }

    bool openEntry();
    bool readLocalHeader(LocalHeader* h);
    bool localSizesMatch(const LocalHeader& h);
    bool descriptorMatches(uint64_t dataEnd);
    bool checkSupported(const char* password);
    bool chooseDecryptor(const char* password);
    bool write(Output& out);
    bool inflate(const uint8_t* p, size_t avail, Output& out);
    bool finishInflate(Output& out);
    bool verify(const Output& out);

    ZipSource& source_;
    const uint64_t centralStart_;
    const ZipEntry& e_;
    const EntryExtra& x_;
    std::string* error_;
    bool descriptor_ = false;     // sizes and CRC follow the data
    uint64_t dataStart_ = 0;
    uint64_t pos_ = 0, left_ = 0;  // the data still to read (without the authentication code)
    std::unique_ptr<ZipCryptoCipher> zipCrypto_;
    std::unique_ptr<WinZipAesCipher> aes_;
    std::unique_ptr<Inflater> inflater_;
    bool streamDone_ = false;
    std::vector<uint8_t> in_, inflated_;
};

// The local header, then the room of the data and its descriptor: all must
// end before the next entry (or the central directory) begins.
bool EntryExtraction::openEntry() {
    LocalHeader h;
    if (!readLocalHeader(&h)) return false;
    descriptor_ = (e_.flags & 0x0008) != 0;
    if (!descriptor_ && !localSizesMatch(h)) return false;
    dataStart_ = e_.localHeaderOffset + kLocalSize + h.var.size();
    if (e_.compressedSize > x_.limit - dataStart_) return bad("data overlaps another entry or the central directory");
    return !descriptor_ || descriptorMatches(dataStart_ + e_.compressedSize);
}

// The local header must lie in the entry's room and repeat the central
// directory's name, method and flags.
bool EntryExtraction::readLocalHeader(LocalHeader* h) {
    if (x_.sharedOffset) return bad("overlaps another entry (same local header offset)");
    const uint64_t lho = e_.localHeaderOffset;
    if (lho >= centralStart_) return bad("local header offset points into the central directory");
    if (kLocalSize > x_.limit - lho) return bad("local header overlaps another entry or the central directory");
    uint8_t lh[kLocalSize];
    if (!source_.read(lho, lh, sizeof lh)) return bad("cannot read the local header");
    ByteView lv(lh, sizeof lh);
    uint32_t sig = 0;
    lv.u32(0, &sig);
    lv.u16(6, &h->flags);
    lv.u16(8, &h->method);
    lv.u32(14, &h->crc);
    lv.u32(18, &h->comp32);
    lv.u32(22, &h->uncomp32);
    lv.u16(26, &h->nameLen);
    lv.u16(28, &h->extraLen);
    if (sig != kLocalSig) return bad("local header signature is not valid");
    const uint64_t varLen = uint64_t(h->nameLen) + h->extraLen;
    if (varLen > x_.limit - lho - kLocalSize) return bad("local header overlaps another entry or the central directory");
    h->var.resize(static_cast<size_t>(varLen));
    if (varLen && !source_.read(lho + kLocalSize, h->var.data(), h->var.size()))
        return bad("cannot read the local header");
    if (h->nameLen != x_.rawName.size() ||
        (h->nameLen && std::memcmp(h->var.data(), x_.rawName.data(), h->nameLen) != 0))
        return bad("local header name does not match the central directory");
    if (h->method != x_.rawMethod) return bad("local header compression method does not match the central directory");
    const uint16_t kCheckedFlags = 0x0001 | 0x0008 | 0x0040 | 0x0800;
    if ((h->flags & kCheckedFlags) != (e_.flags & kCheckedFlags))
        return bad("local header flags do not match the central directory");
    return true;
}

// Without a data descriptor the local header repeats the sizes and the
// CRC; a size at its maximum is in the header's own ZIP64 field.
bool EntryExtraction::localSizesMatch(const LocalHeader& h) {
    uint64_t comp = h.comp32, uncomp = h.uncomp32;
    if (h.comp32 == 0xFFFFFFFFu || h.uncomp32 == 0xFFFFFFFFu) {
        ByteView ev(h.var.data() + h.nameLen, h.extraLen);
        for (uint64_t pos = 0; h.extraLen - pos >= 4;) {
            uint16_t id = 0, len = 0;
            ev.u16(pos, &id);
            ev.u16(pos + 2, &len);
            ByteView field = ev.sub(pos + 4, len);
            if (field.size() != len) break;
            if (id == 0x0001) {
                uint64_t at = 0;
                if (h.uncomp32 == 0xFFFFFFFFu && field.u64(at, &uncomp)) at += 8;
                if (h.comp32 == 0xFFFFFFFFu) field.u64(at, &comp);
                break;
            }
            pos += 4 + uint64_t(len);
        }
    }
    if (h.crc != e_.crc32 || comp != e_.compressedSize || uncomp != e_.uncompressedSize)
        return bad("local header sizes or CRC do not match the central directory");
    return true;
}

// The descriptor after the data: signature optional, sizes of 32 or 64
// bits. One of the forms must repeat the central values.
bool EntryExtraction::descriptorMatches(uint64_t dataEnd) {
    uint8_t d[24] = {};
    uint64_t room = std::min<uint64_t>(x_.limit - dataEnd, sizeof d);
    if (room && !source_.read(dataEnd, d, size_t(room))) return bad("cannot read the data descriptor");
    ByteView dv(d, room);
    for (int form = 0; form < 4; form++) {
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
        if (dcrc == e_.crc32 && dcomp == e_.compressedSize && duncomp == e_.uncompressedSize) return true;
    }
    return bad("data descriptor is missing or does not match the central directory");
}

// Stored or deflated, no strong encryption, AES only with a valid field
// of a known version and strength, and a password for an encrypted entry.
bool EntryExtraction::checkSupported(const char* password) {
    if (e_.flags & 0x0040) return bad("strong encryption is not supported");
    if (x_.rawMethod == 99 && x_.aesFieldMissing) return bad("AES entry without its extra field (0x9901)");
    if (x_.rawMethod == 99 && x_.aesFieldBad) return bad("AES extra field (0x9901) is not valid");
    if (x_.rawMethod == 99 && !(e_.flags & 0x0001)) return bad("AES entry is not marked as encrypted");
    if (e_.method != 0 && e_.method != 8) return bad("unsupported compression method " + std::to_string(e_.method));
    if (e_.encryption == ZipEntry::Aes) {
        if (e_.aesVersion != 1 && e_.aesVersion != 2)
            return bad("unsupported AES version " + std::to_string(e_.aesVersion));
        if (e_.aesStrength < 1 || e_.aesStrength > 3)
            return bad("unsupported AES key strength " + std::to_string(e_.aesStrength));
    }
    if (e_.encryption != ZipEntry::None && !password) return bad("a password is required");
    return true;
}

// The cipher of an encrypted entry, keyed with the password and checked
// against the entry's header; pos_ and left_ then cover the data to
// decrypt (the authentication code of AES stays after it).
bool EntryExtraction::chooseDecryptor(const char* password) {
    pos_ = dataStart_;
    left_ = e_.compressedSize;
    if (e_.encryption == ZipEntry::ZipCrypto) {
        if (left_ < ZipCryptoCipher::kHeaderSize) return bad("encrypted data is shorter than its header");
        uint8_t header[ZipCryptoCipher::kHeaderSize];
        if (!source_.read(pos_, header, sizeof header)) return bad("cannot read the data");
        zipCrypto_.reset(new ZipCryptoCipher(password, std::strlen(password)));
        zipCrypto_->decrypt(header, sizeof header);
        // The last header byte repeats the CRC's high byte, or the time's
        // high byte when the CRC follows in a data descriptor.
        uint8_t check = descriptor_ ? uint8_t(e_.dosTime >> 8) : uint8_t(e_.crc32 >> 24);
        if (header[11] != check) return bad("wrong password");
        pos_ += sizeof header;
        left_ -= sizeof header;
    } else if (e_.encryption == ZipEntry::Aes) {
        uint32_t saltLen = WinZipAesCipher::saltLength(e_.aesStrength);
        uint64_t overhead = saltLen + WinZipAesCipher::kVerifierSize + WinZipAesCipher::kMacSize;
        if (left_ < overhead) return bad("encrypted data is shorter than its salt and authentication code");
        uint8_t head[16 + 2];
        if (!source_.read(pos_, head, saltLen + 2)) return bad("cannot read the data");
        aes_.reset(new WinZipAesCipher());
        uint8_t verifier[2];
        if (!aes_->init(password, std::strlen(password), head, e_.aesStrength, verifier))
            return bad("cannot derive the AES key");
        if (verifier[0] != head[saltLen] || verifier[1] != head[saltLen + 1]) return bad("wrong password");
        pos_ += saltLen + 2;
        left_ -= overhead;
    }
    return true;
}

// The data in chunks: read, decrypted, inflated (or stored), written.
bool EntryExtraction::write(Output& out) {
    in_.resize(kChunk);
    if (e_.method == 8) {
        inflater_.reset(new Inflater());
        inflated_.resize(kChunk);
    }
    streamDone_ = e_.method == 0;
    while (left_) {
        size_t n = left_ < kChunk ? size_t(left_) : kChunk;
        if (!source_.read(pos_, in_.data(), n)) return bad("cannot read the data");
        pos_ += n;
        left_ -= n;
        if (zipCrypto_) zipCrypto_->decrypt(in_.data(), n);
        if (aes_) aes_->decrypt(in_.data(), n);
        if (!inflater_) {
            if (!out.put(in_.data(), n)) return outputFailure(out);
        } else if (!inflate(in_.data(), n, out)) {
            return false;
        }
    }
    return finishInflate(out);
}

// One chunk through the inflater. Nothing may follow the end of the
// deflate stream.
bool EntryExtraction::inflate(const uint8_t* p, size_t avail, Output& out) {
    while (true) {
        if (streamDone_) {
            if (avail) return dataBad("deflate stream ends before the entry's data");
            return true;
        }
        uint8_t* o = inflated_.data();
        size_t room = inflated_.size();
        Inflater::Status st = inflater_->run(p, avail, o, room);
        if (!out.put(inflated_.data(), inflated_.size() - room)) return outputFailure(out);
        if (st == Inflater::Error) return dataBad(std::string("deflate data is corrupt: ") + inflater_->message());
        if (st == Inflater::Done) {
            streamDone_ = true;
            continue;
        }
        if (!avail && room) return true;  // needs more input
        if (avail && room) return bad("deflate stream stalled");
    }
}

// Flushes what the inflater still holds; then it must be done.
bool EntryExtraction::finishInflate(Output& out) {
    if (streamDone_) return true;
    while (true) {
        const uint8_t* p = in_.data();
        size_t avail = 0;
        uint8_t* o = inflated_.data();
        size_t room = inflated_.size();
        Inflater::Status st = inflater_->run(p, avail, o, room);
        if (!out.put(inflated_.data(), inflated_.size() - room)) return outputFailure(out);
        if (st == Inflater::Error) return dataBad(std::string("deflate data is corrupt: ") + inflater_->message());
        if (st == Inflater::Done) return true;
        if (room) return dataBad("deflate data is truncated");
    }
}

// The authentication code (AES), the size written and the CRC-32 (which
// AES version 2 leaves out).
bool EntryExtraction::verify(const Output& out) {
    if (aes_) {
        uint8_t stored[WinZipAesCipher::kMacSize], computed[WinZipAesCipher::kMacSize];
        if (!source_.read(pos_, stored, sizeof stored)) return bad("cannot read the authentication code");
        aes_->finishMac(computed);
        if (std::memcmp(stored, computed, sizeof stored) != 0)
            return bad("authentication code does not match (wrong password or corrupt data)");
    }
    if (out.written != e_.uncompressedSize) return dataBad("data is shorter than its declared size");
    bool checkCrc = !(e_.encryption == ZipEntry::Aes && e_.aesVersion == 2);
    if (checkCrc && out.crc != e_.crc32) {
        if (zipCrypto_) return bad("wrong password (CRC mismatch)");
        return bad("CRC mismatch (stored " + hex32(e_.crc32) + ", computed " + hex32(out.crc) + ")");
    }
    return true;
}

}  // namespace

bool ZipReader::Impl::extract(size_t i, ZipDataSink& sink, const char* password, std::string* error) {
    return EntryExtraction(*source, centralStart, entries[i], extras[i], error).run(sink, password);
}

ZipReader::ZipReader() = default;
ZipReader::~ZipReader() = default;

bool ZipReader::openFile(const char* path, std::string* error) {
    close();
    std::unique_ptr<ZipSource> file(FileByteSource::open(path));
    if (!file) {
        if (error)
            *error = std::string("cannot open ") + (path ? path : "(no path)") + ": " +
                     platform::errorMessage(platform::lastError());
        return false;
    }
    return openSource(std::move(file), error);
}

bool ZipReader::openMemory(const uint8_t* data, uint64_t size, std::string* error) {
    return openSource(std::unique_ptr<ZipSource>(new MemoryByteSource(data, size)), error);
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
