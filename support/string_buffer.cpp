#include "support/string_buffer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/ext_ptr_array.h"
#include "support/platform.h"

namespace {
constexpr int32_t kInitialCapacity = 200;
constexpr int32_t kInitialGrowth = 200;
constexpr int32_t kMaxGrowth = 500000;

char* allocChars(int32_t capacity) {
    auto* p = static_cast<char*>(std::malloc(size_t(capacity)));
    if (!p) std::abort();  // memory exhaustion is not handled
    return p;
}

bool isTrimmed(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace

StringBuffer::StringBuffer()
    : data_(allocChars(kInitialCapacity)), capacity_(kInitialCapacity), length_(0), growth_(kInitialGrowth) {
    data_[0] = 0;
}

StringBuffer::StringBuffer(const char* text) : growth_(kInitialGrowth) {
    if (!text) {
        capacity_ = 4;
        data_ = allocChars(capacity_);
        data_[0] = 0;
        length_ = 0;
        return;
    }
    length_ = uint32_t(std::strlen(text));
    capacity_ = int32_t(length_ + 1);
    data_ = allocChars(capacity_);
    std::memcpy(data_, text, length_ + 1);
}

StringBuffer::StringBuffer(const char16_t* wide) : growth_(kInitialGrowth) {
    int needed = wide ? platform::wideToAnsi(wide, -1, nullptr, 0) : 0;
    if (needed <= 0) {
        capacity_ = 4;
        data_ = allocChars(capacity_);
        data_[0] = 0;
        length_ = 0;
        return;
    }
    // needed counts the terminator.
    capacity_ = needed;
    data_ = allocChars(capacity_);
    int n = platform::wideToAnsi(wide, -1, data_, needed);
    data_[n > 0 ? n - 1 : 0] = 0;
    length_ = uint32_t(std::strlen(data_));
}

StringBuffer::~StringBuffer() { std::free(data_); }

void StringBuffer::growTo(int32_t newCapacity) {
    char* p = allocChars(newCapacity);
    std::memcpy(p, data_, length_ + 1);
    std::free(data_);
    data_ = p;
    capacity_ = newCapacity;
}

void StringBuffer::adaptGrowth() {
    if (growth_ < capacity_ && growth_ < kMaxGrowth) {
        int32_t half = capacity_ / 2;
        growth_ = half < kMaxGrowth ? half : kMaxGrowth;
    }
}

void StringBuffer::appendRaw(const char* text, uint32_t n) {
    if (uint64_t(length_) + n + 1 > uint64_t(capacity_)) {
        growTo(int32_t(length_ + n + uint32_t(growth_) + 1));
        adaptGrowth();
    }
    std::memmove(data_ + length_, text, n);
    length_ += n;
    data_[length_] = 0;
}

void StringBuffer::append(const char* text) {
    if (!text || !*text) return;
    uint32_t n = uint32_t(std::strlen(text));
    if (text >= data_ && text < data_ + capacity_) {
        // Appending part of ourselves: copy first, the array may move.
        StringBuffer copy(text);
        appendRaw(copy.data_, n);
        return;
    }
    appendRaw(text, n);
}

void StringBuffer::appendBytes(const void* bytes, int n) {
    if (!bytes || n <= 0) return;
    auto* src = static_cast<const char*>(bytes);
    if (uint64_t(length_) + uint32_t(n) + 1 > uint64_t(capacity_)) {
        // Copy into the new array before the old one is freed: the bytes
        // may lie inside it.
        int32_t newCapacity = int32_t(length_ + uint32_t(n) + uint32_t(growth_));
        char* p = allocChars(newCapacity);
        std::memcpy(p, data_, length_);
        std::memcpy(p + length_, src, size_t(n));
        std::free(data_);
        data_ = p;
        capacity_ = newCapacity;
        adaptGrowth();
    } else {
        std::memmove(data_ + length_, src, size_t(n));
    }
    length_ += uint32_t(n);
    data_[length_] = 0;
}

void StringBuffer::appendChar(char c) { appendRaw(&c, 1); }

void StringBuffer::appendBuffer(const StringBuffer& other) {
    if (&other == this) {
        StringBuffer copy(data_);
        append(copy.data_);
        return;
    }
    append(other.data_);
}

void StringBuffer::appendInt(int32_t value) {
    // Written out here: a printf would bring a whole formatter into the stub.
    char tmp[16];
    char* p = tmp + sizeof tmp;
    *--p = 0;
    uint32_t magnitude = value < 0 ? 0u - uint32_t(value) : uint32_t(value);
    do {
        *--p = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0) *--p = '-';
    append(p);
}

void StringBuffer::appendWide(const char16_t* wide) {
    if (!wide) return;
    StringBuffer converted(wide);
    append(converted.data_);
}

void StringBuffer::prepend(const char* text) {
    if (!text || !*text) return;
    StringBuffer copy(text);  // the text may lie inside this buffer
    uint32_t n = copy.length_;
    if (uint64_t(length_) + n + 1 > uint64_t(capacity_)) growTo(int32_t(length_ + n + uint32_t(growth_) + 1));
    std::memmove(data_ + n, data_, length_ + 1);
    std::memcpy(data_, copy.data_, n);
    length_ += n;
}

void StringBuffer::reserve(uint32_t n) {
    if (uint64_t(length_) + n + 1 > uint64_t(capacity_)) growTo(int32_t(length_ + n + uint32_t(growth_) + 1));
}

void StringBuffer::assign(const char* text) {
    if (text == data_) return;
    StringBuffer copy(text);
    clear();
    append(copy.data_);
}

void StringBuffer::clear() {
    length_ = 0;
    data_[0] = 0;
}

void StringBuffer::trim() {
    uint32_t start = 0;
    while (start < length_ && isTrimmed(data_[start])) start++;
    if (start) {
        std::memmove(data_, data_ + start, length_ - start + 1);
        length_ -= start;
    }
    while (length_ && isTrimmed(data_[length_ - 1])) data_[--length_] = 0;
    length_ = uint32_t(std::strlen(data_));
}

void StringBuffer::shrinkToFit() {
    if (uint64_t(capacity_) > uint64_t(length_) + 4) {
        char* p = allocChars(int32_t(length_ + 1));
        std::memcpy(p, data_, length_ + 1);
        std::free(data_);
        data_ = p;
        capacity_ = int32_t(length_ + 1);
    }
}

int StringBuffer::replaceAll(const char* pattern, const char* replacement) {
    if (!pattern || !*pattern || !std::strstr(data_, pattern)) return 0;
    if (!replacement) replacement = "";
    size_t plen = std::strlen(pattern);
    StringBuffer out;
    // The rebuilt text starts in an array of the current growth increment.
    std::free(out.data_);
    out.capacity_ = growth_ > 0 ? growth_ : 1;
    out.data_ = allocChars(out.capacity_);
    out.data_[0] = 0;
    out.growth_ = growth_;
    int count = 0;
    const char* p = data_;
    for (const char* hit; (hit = std::strstr(p, pattern)) != nullptr; p = hit + plen) {
        out.appendBytes(p, int(hit - p));
        out.append(replacement);
        count++;
    }
    out.append(p);
    std::free(data_);
    data_ = out.data_;
    capacity_ = out.capacity_;
    length_ = out.length_;
    growth_ = out.growth_;
    out.data_ = allocChars(4);
    out.data_[0] = 0;
    out.length_ = 0;
    return count;
}

void StringBuffer::escapeXml() {
    replaceAll("&", "&amp;");
    replaceAll("<", "&lt;");
    replaceAll(">", "&gt;");
}

void StringBuffer::escapeXmlAttr() {
    escapeXml();
    replaceAll("\"", "&quot;");
}

char StringBuffer::lastChar() const { return length_ ? data_[length_ - 1] : 0; }

void StringBuffer::removeLast(uint32_t n) {
    length_ = n >= length_ ? 0 : length_ - n;
    data_[length_] = 0;
}

void StringBuffer::appendSystemError() { appendSystemError(platform::lastError()); }

void StringBuffer::appendSystemError(uint32_t code) {
    char text[1024];
    if (platform::errorText(code, text, sizeof text) == 0) return;
    append(text);
    trim();
}

bool StringBuffer::equals(const char* text) const {
    if (!text) return length_ == 0;
    return std::strcmp(data_, text) == 0;
}

char16_t* StringBuffer::toBstr() const {
    if (length_ == 0) return platform::allocBstr(u"", 0);
    int n = platform::ansiToWide(data_, int(length_), nullptr, 0);
    if (n <= 0) return platform::allocBstr(u"", 0);
    char16_t* b = platform::allocBstr(nullptr, uint32_t(n));
    if (!b) return nullptr;
    platform::ansiToWide(data_, int(length_), b, n);
    return b;
}

void StringBuffer::split(const char* delimiters, ExtPtrArray& out) const {
    if (length_ == 0) return;
    if (!delimiters) delimiters = "";
    auto* piece = new StringBuffer();
    for (uint32_t i = 0; i < length_; i++) {
        char c = data_[i];
        if (std::strchr(delimiters, c)) {
            piece->shrinkToFit();
            out.append(piece);
            piece = new StringBuffer();
        } else {
            piece->appendChar(c);
        }
    }
    out.append(piece);
}
