#include "sfxbuilder/icon_file.h"

#include "support/byte_reader.h"
#include "support/log_base.h"

namespace {

constexpr uint32_t kCountOffset = 4;

}  // namespace

bool IconFile::loadFromFile(const char* path, LogBase* log) {
    bytes_.clear();
    return bytes_.loadFile(path, log);
}

void IconFile::loadFromMemory(const uint8_t* data, uint32_t size) {
    bytes_.clear();
    if (data && size) bytes_.appendExact(data, size);
}

uint16_t IconFile::imageCount() const {
    uint16_t count = 0;
    ByteView view(bytes_.data(), bytes_.length());
    if (!view.u16(kCountOffset, &count)) return 0;
    return count;
}

bool IconFile::directoryCount(LogBase& log, uint16_t* count) const {
    ByteView view(bytes_.data(), bytes_.length());
    if (view.size() == 0) {
        log.logError("Icon file is empty");
        return false;
    }
    if (!view.u16(kCountOffset, count)) {
        log.logError("Icon file is too short for its directory header");
        log.logDataInt("fileSize", bytes_.length());
        return false;
    }
    return true;
}

bool IconFile::imageDescription(uint32_t i, ImageDescription* out, LogBase* logp) const {
    LogBase& log = logOrNull(logp);
    ByteView view(bytes_.data(), bytes_.length());
    uint16_t count = 0;
    if (!directoryCount(log, &count)) return false;
    if (i >= count) {
        log.logError("Icon image index is not below the image count");
        log.logDataInt("index", i);
        log.logDataInt("imageCount", count);
        return false;
    }
    // i < 65536, so the offset cannot overflow.
    uint64_t off = kHeaderSize + uint64_t(kEntrySize) * i;
    ByteView entry = view.sub(off, kEntrySize);
    if (entry.size() != kEntrySize) {
        log.logError("Icon directory entry reaches past the end of the file");
        log.logDataInt("index", i);
        log.logDataInt("fileSize", bytes_.length());
        return false;
    }
    ImageDescription d;
    // The sub-view holds exactly 16 bytes, so these reads cannot fail.
    entry.u8(0, &d.width);
    entry.u8(1, &d.height);
    entry.u8(2, &d.colorCount);
    entry.u8(3, &d.reserved);
    entry.u16(4, &d.planes);
    entry.u16(6, &d.bitCount);
    entry.u32(8, &d.bytesInResource);
    entry.u32(12, &d.imageOffset);
    *out = d;
    return true;
}

bool IconFile::imageData(uint32_t i, DataBuffer& out, LogBase* logp) const {
    LogBase& log = logOrNull(logp);
    out.clear();
    ImageDescription d;
    if (!imageDescription(i, &d, &log)) return false;
    ByteView view(bytes_.data(), bytes_.length());
    if (d.imageOffset > view.size()) {
        log.logError("Icon image offset lies past the end of the file");
        log.logDataInt("index", i);
        log.logDataInt("imageOffset", d.imageOffset);
        log.logDataInt("fileSize", bytes_.length());
        return false;
    }
    const uint8_t* p = view.at(d.imageOffset, d.bytesInResource);
    if (!p) {
        log.logError("Icon image data reaches past the end of the file");
        log.logDataInt("index", i);
        log.logDataInt("imageOffset", d.imageOffset);
        log.logDataInt("bytesInResource", d.bytesInResource);
        log.logDataInt("fileSize", bytes_.length());
        return false;
    }
    if (d.bytesInResource) out.appendExact(p, d.bytesInResource);
    return true;
}

bool IconFile::checkBounds(LogBase* logp) const {
    LogBase& log = logOrNull(logp);
    ByteView view(bytes_.data(), bytes_.length());
    uint16_t count = 0;
    if (!directoryCount(log, &count)) return false;
    if (count == 0) {
        log.logError("Icon file holds no images");
        return false;
    }
    // The whole directory first, then the images it points at.
    ImageDescription d;
    for (uint32_t i = 0; i < count; i++) {
        if (!imageDescription(i, &d, &log)) return false;
    }
    for (uint32_t i = 0; i < count; i++) {
        imageDescription(i, &d, nullptr);
        if (d.imageOffset > view.size()) {
            log.logError("Icon image offset lies past the end of the file");
            log.logDataInt("index", i);
            log.logDataInt("imageOffset", d.imageOffset);
            return false;
        }
        if (!view.contains(d.imageOffset, d.bytesInResource)) {
            log.logError("Icon image data reaches past the end of the file");
            log.logDataInt("index", i);
            log.logDataInt("imageOffset", d.imageOffset);
            log.logDataInt("bytesInResource", d.bytesInResource);
            return false;
        }
    }
    return true;
}
