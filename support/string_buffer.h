// StringBuffer: growable, zero-terminated ANSI text (system code page).
// Every text inside the builder and the stub is one. Growth follows fixed
// rules (a 200-byte start, an increment that follows half the capacity up
// to 500000) so that appends stay amortised without per-character copies.
#pragma once

#include <cstdint>

#include "support/varnock_object.h"

class ExtPtrArray;

class StringBuffer : public VarnockObject {
public:
    StringBuffer();
    explicit StringBuffer(const char* text);
    explicit StringBuffer(const char16_t* wide);
    ~StringBuffer() override;

    const char* str() const { return data_; }
    uint32_t length() const { return length_; }
    int32_t capacity() const { return capacity_; }
    int32_t growthIncrement() const { return growth_; }
    bool isEmpty() const { return length_ == 0; }

    void append(const char* text);
    void appendBytes(const void* bytes, int n);
    void appendChar(char c);
    void appendBuffer(const StringBuffer& other);
    void appendInt(int32_t value);
    void appendWide(const char16_t* wide);
    void prepend(const char* text);
    void reserve(uint32_t n);
    void assign(const char* text);
    void clear();
    void trim();
    void shrinkToFit();
    int replaceAll(const char* pattern, const char* replacement);
    void escapeXml();
    void escapeXmlAttr();
    char lastChar() const;
    void removeLast(uint32_t n);
    // The system's message text for the calling thread's last error, or for
    // the given code; then the whole buffer is trimmed.
    void appendSystemError();
    void appendSystemError(uint32_t code);
    bool equals(const char* text) const;
    char16_t* toBstr() const;
    // Splits at any of the delimiter characters into new StringBuffers
    // appended to out (the caller owns them).
    void split(const char* delimiters, ExtPtrArray& out) const;

private:
    void growTo(int32_t newCapacity);
    void adaptGrowth();
    void appendRaw(const char* text, uint32_t n);

    char* data_;
    int32_t capacity_;
    uint32_t length_;
    int32_t growth_;
};
