// DataBuffer: a growable owned byte array, whole-file loading, and the
// 16-byte padding (scheme 0) that the ciphers use.
#pragma once

#include <cstdint>

class LogBase;

class DataBuffer {
public:
    DataBuffer() = default;
    explicit DataBuffer(uint32_t capacity);  // zero-filled, length 0
    DataBuffer(const DataBuffer&) = delete;
    DataBuffer& operator=(const DataBuffer&) = delete;
    ~DataBuffer();

    const uint8_t* data() const { return data_; }
    uint8_t* data() { return data_; }
    uint32_t length() const { return length_; }
    uint32_t capacity() const { return capacity_; }
    bool isEmpty() const { return length_ == 0; }

    bool loadFile(const char* path, LogBase* log);
    void append(const void* bytes, uint32_t n);
    void appendExact(const void* bytes, uint32_t n);
    void takeFrom(DataBuffer& other);
    void pad();
    void unpad();
    void clear() { length_ = 0; }
    // Shortens the content; a longer length is ignored.
    void truncate(uint32_t n) { if (n < length_) length_ = n; }

private:
    void release();
    void reallocate(uint32_t newCapacity);

    uint8_t* data_ = nullptr;
    uint32_t length_ = 0;
    uint32_t capacity_ = 0;
};
