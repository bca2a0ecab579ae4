// ByteView: the one way to read untrusted bytes (PE files, icons, archives,
// ciphertext). Every access is range-checked in subtraction form, so no
// offset arithmetic can overflow, and a failed check returns false or null
// instead of reading outside the span.
#pragma once

#include <cstdint>
#include <cstring>

inline uint16_t loadLE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t loadLE32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t loadLE64(const uint8_t* p) { return loadLE32(p) | (uint64_t(loadLE32(p + 4)) << 32); }
inline void storeLE16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void storeLE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}
inline void storeLE64(uint8_t* p, uint64_t v) { storeLE32(p, uint32_t(v)); storeLE32(p + 4, uint32_t(v >> 32)); }

class ByteView {
public:
    ByteView() = default;
    ByteView(const uint8_t* data, uint64_t size) : data_(data), size_(data ? size : 0) {}

    const uint8_t* data() const { return data_; }
    uint64_t size() const { return size_; }

    bool contains(uint64_t off, uint64_t len) const { return off <= size_ && len <= size_ - off; }
    // Pointer to len bytes at off, or null when they are not all inside.
    const uint8_t* at(uint64_t off, uint64_t len) const { return contains(off, len) ? data_ + off : nullptr; }
    // The sub-span [off, off + len), or an empty view when out of range.
    ByteView sub(uint64_t off, uint64_t len) const {
        return contains(off, len) ? ByteView(data_ + off, len) : ByteView();
    }

    bool u8(uint64_t off, uint8_t* v) const {
        const uint8_t* p = at(off, 1);
        if (!p) return false;
        *v = *p;
        return true;
    }
    bool u16(uint64_t off, uint16_t* v) const {
        const uint8_t* p = at(off, 2);
        if (!p) return false;
        *v = loadLE16(p);
        return true;
    }
    bool u32(uint64_t off, uint32_t* v) const {
        const uint8_t* p = at(off, 4);
        if (!p) return false;
        *v = loadLE32(p);
        return true;
    }
    bool u64(uint64_t off, uint64_t* v) const {
        const uint8_t* p = at(off, 8);
        if (!p) return false;
        *v = loadLE64(p);
        return true;
    }
    bool copy(uint64_t off, void* out, uint64_t len) const {
        const uint8_t* p = at(off, len);
        if (!p) return false;
        if (len) std::memcpy(out, p, size_t(len));
        return true;
    }

private:
    const uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
};

// A cursor over a ByteView for sequential formats.
class ByteReader {
public:
    explicit ByteReader(ByteView view) : view_(view) {}
    uint64_t offset() const { return off_; }
    uint64_t remaining() const { return view_.size() - off_; }
    bool seek(uint64_t off) {
        if (off > view_.size()) return false;
        off_ = off;
        return true;
    }
    bool skip(uint64_t n) {
        if (n > remaining()) return false;
        off_ += n;
        return true;
    }
    bool readU8(uint8_t* v) { return view_.u8(off_, v) && skip(1); }
    bool readU16(uint16_t* v) { return view_.u16(off_, v) && skip(2); }
    bool readU32(uint32_t* v) { return view_.u32(off_, v) && skip(4); }
    bool readU64(uint64_t* v) { return view_.u64(off_, v) && skip(8); }
    bool readBytes(uint64_t n, const uint8_t** p) {
        const uint8_t* q = view_.at(off_, n);
        if (!q) return false;
        *p = q;
        off_ += n;
        return true;
    }

private:
    ByteView view_;
    uint64_t off_ = 0;
};
