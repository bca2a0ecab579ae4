// Fuzzes the .ico reader and icon replacement: any bytes as an icon file,
// every accessor over every entry, then the replacement on a small PE
// image built in memory, which must either change nothing or leave group
// and icon data consistent with the file's first image.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "exeimage/exe_image.h"
#include "sfxbuilder/icon_file.h"
#include "sfxbuilder/icon_resource.h"
#include "support/data_buffer.h"
#include "support/log_base.h"

namespace {

void put16(std::vector<uint8_t>& b, size_t o, uint16_t v) { storeLE16(b.data() + o, v); }
void put32(std::vector<uint8_t>& b, size_t o, uint32_t v) { storeLE32(b.data() + o, v); }

// A PE32 image with one section, ".rsrc", holding RT_ICON 1 (language
// 1033, 8 bytes) and RT_GROUP_ICON 1 (language 1033, 20 bytes).
std::vector<uint8_t> makeStub() {
    const uint32_t fileAlign = 0x200, sectAlign = 0x1000, rsrcRva = 0x1000, rsrcPos = 0x200;
    std::vector<uint8_t> b(0x400);
    b[0] = 'M', b[1] = 'Z';
    put32(b, 60, 0x40);
    b[0x40] = 'P', b[0x41] = 'E';
    uint32_t fh = 0x44, oh = fh + 20;
    put16(b, fh + 0, 0x14c);  // i386
    put16(b, fh + 2, 1);      // sections
    put16(b, fh + 16, 224);   // optional header size
    put16(b, fh + 18, 0x102);
    put16(b, oh + 0, 0x10b);
    put32(b, oh + 32, sectAlign);
    put32(b, oh + 36, fileAlign);
    put16(b, oh + 40, 4);
    put32(b, oh + 56, rsrcRva + sectAlign);  // SizeOfImage
    put32(b, oh + 60, rsrcPos);              // SizeOfHeaders
    put16(b, oh + 68, 2);                    // GUI
    put32(b, oh + 92, 16);                   // NumberOfRvaAndSizes
    // Resource directory entry (index 2).
    put32(b, oh + 96 + 16, rsrcRva);
    put32(b, oh + 96 + 20, 0x100);
    uint32_t sh = oh + 224;
    std::memcpy(&b[sh], ".rsrc", 5);
    put32(b, sh + 8, 0x100);
    put32(b, sh + 12, rsrcRva);
    put32(b, sh + 16, fileAlign);
    put32(b, sh + 20, rsrcPos);
    put32(b, sh + 36, 0x40000040);
    // Tree: root (2 id entries) -> type 3 / 14 -> id 1 -> language 1033.
    auto dir = [&](uint32_t at, uint16_t ids) { put16(b, rsrcPos + at + 14, ids); };
    auto entry = [&](uint32_t at, uint32_t id, uint32_t target) {
        put32(b, rsrcPos + at, id);
        put32(b, rsrcPos + at + 4, target);
    };
    dir(0x00, 2);
    entry(0x10, 3, 0x80000000u | 0x20);
    entry(0x18, 14, 0x80000000u | 0x38);
    dir(0x20, 1);
    entry(0x30, 1, 0x80000000u | 0x50);
    dir(0x38, 1);
    entry(0x48, 1, 0x80000000u | 0x68);
    dir(0x50, 1);
    entry(0x60, 1033, 0x80);
    dir(0x68, 1);
    entry(0x78, 1033, 0x90);
    put32(b, rsrcPos + 0x80, rsrcRva + 0xA0);  // icon data
    put32(b, rsrcPos + 0x84, 8);
    put32(b, rsrcPos + 0x90, rsrcRva + 0xB0);  // group data
    put32(b, rsrcPos + 0x94, 20);
    for (uint32_t i = 0; i < 8; i++) b[rsrcPos + 0xA0 + i] = 0x11;
    for (uint32_t i = 0; i < 20; i++) b[rsrcPos + 0xB0 + i] = 0x33;
    return b;
}

std::vector<uint8_t> bytesOf(const ExeResource* leaf) {
    const uint8_t* p = leaf ? leaf->dataPointer() : nullptr;
    return p ? std::vector<uint8_t>(p, p + leaf->dataSize) : std::vector<uint8_t>();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    IconFile icon;
    icon.loadFromMemory(data, uint32_t(size));
    LogNull log;
    volatile uint8_t sink = 0;
    DataBuffer image;
    uint16_t count = icon.imageCount();
    for (uint32_t i = 0; i < count && i < 64; i++) {
        IconFile::ImageDescription d;
        if (icon.imageDescription(i, &d, &log)) sink = sink ^ d.width;
        if (icon.imageData(i, image, &log) && image.length()) sink = sink ^ image.data()[image.length() - 1];
    }
    bool wellFormed = icon.checkBounds(&log);

    static const std::vector<uint8_t> stub = makeStub();
    ExeImage* exe = ExeImage::loadFromMemory(stub.data(), uint32_t(stub.size()), "stub", &log);
    if (!exe) std::abort();  // the stub is fixed: it must load
    std::vector<uint8_t> group0 = bytesOf(exe->findFirstGroupIconLeaf());
    std::vector<uint8_t> icon0 = bytesOf(exe->findFirstIconLeaf());
    bool replaced = IconResource().replaceIcon(*exe, icon);
    if (replaced != wellFormed) std::abort();
    std::vector<uint8_t> group1 = bytesOf(exe->findFirstGroupIconLeaf());
    std::vector<uint8_t> icon1 = bytesOf(exe->findFirstIconLeaf());
    if (!replaced) {
        if (group1 != group0 || icon1 != icon0) std::abort();  // a refusal changes nothing
    } else {
        IconFile::ImageDescription d;
        if (!icon.imageDescription(0, &d, &log)) std::abort();
        if (group1.size() != 6 + 14 * size_t(count)) std::abort();
        if (d.bytesInResource && (icon1.size() != d.bytesInResource ||
                                  std::memcmp(icon1.data(), data + d.imageOffset, d.bytesInResource) != 0))
            std::abort();
        if (!d.bytesInResource && icon1 != icon0) std::abort();
    }
    exe->writeToFile("/dev/null", nullptr, &log);
    delete exe;
    return 0;
}
