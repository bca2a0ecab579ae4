#include "support/data_buffer.h"

#include <cstdlib>
#include <cstring>

#include "support/log_base.h"
#include "support/platform.h"
#include "support/string_buffer.h"

namespace {
constexpr uint32_t kMinAppendGrowth = 20000;
}  // namespace

DataBuffer::DataBuffer(uint32_t capacity) {
    if (capacity) {
        data_ = static_cast<uint8_t*>(std::calloc(capacity, 1));
        if (!data_) std::abort();
        capacity_ = capacity;
    }
}

DataBuffer::~DataBuffer() { release(); }

void DataBuffer::release() {
    std::free(data_);
    data_ = nullptr;
    length_ = capacity_ = 0;
}

void DataBuffer::reallocate(uint32_t newCapacity) {
    auto* p = static_cast<uint8_t*>(std::malloc(newCapacity ? newCapacity : 1));
    if (!p) std::abort();  // memory exhaustion is not handled
    if (length_) std::memcpy(p, data_, length_);
    std::free(data_);
    data_ = p;
    capacity_ = newCapacity;
}

void DataBuffer::append(const void* bytes, uint32_t n) {
    if (!bytes || !n) return;
    if (n > UINT32_MAX - length_) std::abort();
    if (length_ + n > capacity_) {
        uint32_t step = n > kMinAppendGrowth ? n : kMinAppendGrowth;
        uint32_t cap = length_ + (step > UINT32_MAX - length_ ? n : step);
        // bytes may point into our own array: keep it alive until copied
        uint8_t* old = data_;
        auto* p = static_cast<uint8_t*>(std::malloc(cap));
        if (!p) std::abort();
        if (length_) std::memcpy(p, old, length_);
        std::memcpy(p + length_, bytes, n);
        std::free(old);
        data_ = p;
        capacity_ = cap;
    } else {
        std::memmove(data_ + length_, bytes, n);
    }
    length_ += n;
}

void DataBuffer::appendExact(const void* bytes, uint32_t n) {
    if (!bytes || !n) return;
    if (n > UINT32_MAX - length_) std::abort();
    if (length_ + n > capacity_) {
        uint8_t* old = data_;
        auto* p = static_cast<uint8_t*>(std::malloc(length_ + n));
        if (!p) std::abort();
        if (length_) std::memcpy(p, old, length_);
        std::memcpy(p + length_, bytes, n);
        std::free(old);
        data_ = p;
        capacity_ = length_ + n;
    } else {
        std::memmove(data_ + length_, bytes, n);
    }
    length_ += n;
}

void DataBuffer::takeFrom(DataBuffer& other) {
    if (&other == this) return;
    release();
    data_ = other.data_;
    length_ = other.length_;
    capacity_ = other.capacity_;
    other.data_ = nullptr;
    other.length_ = other.capacity_ = 0;
}

void DataBuffer::pad() {
    uint8_t n = uint8_t(16 - (length_ % 16));
    uint8_t block[16];
    std::memset(block, n, sizeof block);
    append(block, n);
}

void DataBuffer::unpad() {
    if (length_ == 0) return;
    uint8_t v = data_[length_ - 1];
    if (v == 0 || v > 16) return;
    length_ = v >= length_ ? 0 : length_ - v;
}

bool DataBuffer::loadFile(const char* path, LogBase* logp) {
    LogBase& log = logOrNull(logp);
    release();
    if (!path || !*path) {
        log.logError("Cannot load binary data file, filename is NULL or empty");
        return false;
    }
    platform::FileHandle h = platform::openFile(path, platform::OpenMode::ReadExisting);
    if (h == platform::kInvalidFile) {
        logSystemError(log, platform::lastError());
        logPathAndCwd(log, path);
        return false;
    }
    uint64_t size = 0;
    if (!platform::fileSize(h, &size)) {
        logSystemError(log, platform::lastError());
        platform::closeFile(h);
        return false;
    }
    if (size == 0) {
        platform::closeFile(h);
        return true;
    }
    if (size > UINT32_MAX - 4) {
        // The buffer's length is 32-bit: refuse rather than load a prefix.
        log.logError("File is too large to load");
        log.logData("filename", path);
        platform::closeFile(h);
        return false;
    }
    reallocate(uint32_t(size) + 4);
    length_ = uint32_t(size);
    uint32_t got = 0;
    bool ok = true;
    if (!platform::readFile(h, data_, length_, &got)) {
        logSystemError(log, platform::lastError());
        logPathAndCwd(log, path);
        ok = false;
    } else if (got < length_) {
        log.logError("Failed to read the entire file");
        ok = false;
    }
    platform::closeFile(h);
    if (!ok) release();
    return ok;
}
