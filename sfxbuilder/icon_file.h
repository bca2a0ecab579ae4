// IconFile: a Windows .ico file held whole in one buffer, read in place.
//
// Layout (little-endian): a 6-byte ICONDIR (reserved u16, type u16, count
// u16), then count 16-byte ICONDIRENTRY records (width u8, height u8,
// color count u8, reserved u8, planes u16, bit count u16, bytes in resource
// u32, image offset u32), then the image data the entries point at. The
// file is untrusted: every read goes through ByteView, and an entry or an
// image that reaches past the end of the buffer is refused, never read.
#pragma once

#include <cstdint>

#include "support/data_buffer.h"

class LogBase;

class IconFile {
public:
    static constexpr uint32_t kHeaderSize = 6;
    static constexpr uint32_t kEntrySize = 16;

    // One ICONDIRENTRY as the file has it.
    struct ImageDescription {
        uint8_t width = 0;
        uint8_t height = 0;
        uint8_t colorCount = 0;
        uint8_t reserved = 0;
        uint16_t planes = 0;
        uint16_t bitCount = 0;
        uint32_t bytesInResource = 0;
        uint32_t imageOffset = 0;
    };

    IconFile() = default;
    IconFile(const IconFile&) = delete;
    IconFile& operator=(const IconFile&) = delete;

    // Loads the whole file in one read (any earlier content is dropped).
    // False, after logging why, when the path is empty, the file is missing
    // or it cannot be read whole. An empty file loads (and has no images).
    bool loadFromFile(const char* path, LogBase* log);
    // The same from bytes in memory (copied).
    void loadFromMemory(const uint8_t* data, uint32_t size);

    // ICONDIR idCount; 0 when the buffer is too short to hold it.
    uint16_t imageCount() const;
    // ICONDIRENTRY i (0-based). False, after logging why, when the buffer
    // is empty, i is not below the image count, or the entry's 16 bytes are
    // not all inside the buffer.
    bool imageDescription(uint32_t i, ImageDescription* out, LogBase* log) const;
    // The bytes-in-resource bytes at the image offset of entry i, copied
    // into out (emptied first). Fails like imageDescription, and when the
    // image's bytes are not all inside the buffer.
    bool imageData(uint32_t i, DataBuffer& out, LogBase* log) const;
    // Every entry and every image lies inside the buffer, and there is at
    // least one image. False, after logging the first fault found, otherwise.
    bool checkBounds(LogBase* log) const;

    const DataBuffer& bytes() const { return bytes_; }

private:
    // The ICONDIR image count; false (logged) for an empty or short file.
    bool directoryCount(LogBase& log, uint16_t* count) const;
    DataBuffer bytes_;
};
