#include "support/byte_source.h"

ByteSource::~ByteSource() = default;

FileByteSource* FileByteSource::open(const char* path) {
    platform::FileHandle h = path ? platform::openFile(path, platform::OpenMode::ReadExisting) : platform::kInvalidFile;
    if (h == platform::kInvalidFile) return nullptr;
    uint64_t size = 0;
    if (!platform::fileSize(h, &size)) {
        platform::closeFile(h);
        return nullptr;
    }
    return new FileByteSource(h, 0, size, true);
}

FileByteSource::~FileByteSource() {
    if (owned_ && h_ != platform::kInvalidFile) platform::closeFile(h_);
}

bool FileByteSource::read(uint64_t pos, void* buf, size_t n) {
    if (pos > size_ || n > size_ - pos) return false;
    if (n == 0) return true;
    if (!platform::seekFile(h_, offset_ + pos)) return false;
    uint8_t* p = static_cast<uint8_t*>(buf);
    while (n) {
        uint32_t piece = n > 0x100000 ? 0x100000 : uint32_t(n), got = 0;
        if (!platform::readFile(h_, p, piece, &got) || got == 0) return false;
        p += got;
        n -= got;
    }
    return true;
}
