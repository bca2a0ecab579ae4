// ByteSource: bytes read by position, from memory or from an open file,
// so that a reader can walk an archive or an executable of any size
// without holding or mapping all of it. The zip reader reads archives
// through it, the PE model reads large resources through it, and the
// self-extractor reads its payload through it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/byte_reader.h"
#include "support/platform.h"

class ByteSource {
public:
    virtual ~ByteSource();
    virtual uint64_t size() const = 0;
    // Exactly n bytes at pos into buf; false when they cannot all be read
    // (a range outside size() is refused, never read).
    virtual bool read(uint64_t pos, void* buf, size_t n) = 0;
};

// Bytes the caller keeps alive for the source's life.
class MemoryByteSource : public ByteSource {
public:
    MemoryByteSource(const uint8_t* data, uint64_t size) : view_(data, size) {}
    uint64_t size() const override { return view_.size(); }
    bool read(uint64_t pos, void* buf, size_t n) override { return view_.copy(pos, buf, n); }

private:
    ByteView view_;
};

// A range of an open file. The file is read through its own position, so a
// handle shared by two sources is read by one at a time.
class FileByteSource : public ByteSource {
public:
    // The range [offset, offset + size) of h, which stays open for the
    // source's life and is closed by it only when owned.
    FileByteSource(platform::FileHandle h, uint64_t offset, uint64_t size, bool owned)
        : h_(h), offset_(offset), size_(size), owned_(owned) {}
    // The whole file at path; null when it cannot be opened or measured
    // (platform::lastError() says why).
    static FileByteSource* open(const char* path);
    ~FileByteSource() override;
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;

    uint64_t size() const override { return size_; }
    bool read(uint64_t pos, void* buf, size_t n) override;

private:
    platform::FileHandle h_;
    uint64_t offset_, size_;
    bool owned_;
};
