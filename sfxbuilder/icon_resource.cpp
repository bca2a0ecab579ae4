#include "sfxbuilder/icon_resource.h"

#include "exeimage/exe_image.h"
#include "sfxbuilder/icon_file.h"
#include "support/byte_reader.h"

bool IconResource::buildGroupData(const IconFile& icon, DataBuffer& out) {
    out.clear();
    IconFile::ImageDescription first;
    if (!icon.imageDescription(0, &first, nullptr)) return false;
    uint16_t count = icon.imageCount();
    // GRPICONDIR: reserved 0, type 1 (icon), entry count.
    uint8_t header[kGroupHeaderSize];
    storeLE16(header + 0, 0);
    storeLE16(header + 2, 1);
    storeLE16(header + 4, count);
    out.append(header, sizeof header);
    // Every GRPICONDIRENTRY describes image 0 and names the one icon the
    // stub carries.
    uint8_t entry[kGroupEntrySize];
    entry[0] = first.width;
    entry[1] = first.height;
    entry[2] = first.colorCount;
    entry[3] = 0;
    storeLE16(entry + 4, first.planes);
    storeLE16(entry + 6, first.bitCount);
    storeLE32(entry + 8, first.bytesInResource);
    storeLE16(entry + 12, kIconId);
    for (uint32_t k = 0; k < count; k++) out.append(entry, sizeof entry);
    return true;
}

bool IconResource::replaceIcon(ExeImage& image, const IconFile& icon) {
    if (!image.resources()) return false;
    ExeResource* groupLeaf = image.findFirstGroupIconLeaf();
    if (!groupLeaf) return false;
    ExeResource* iconLeaf = image.findFirstIconLeaf();
    if (!iconLeaf) return false;
    // Everything is read and checked before either leaf changes, so a
    // refused file leaves the image as it was.
    if (!icon.checkBounds(nullptr)) return false;
    DataBuffer group;
    if (!buildGroupData(icon, group)) return false;
    DataBuffer pixels;
    if (!icon.imageData(0, pixels, nullptr)) return false;
    groupLeaf->replaceData(group);
    iconLeaf->replaceData(pixels);  // an empty image leaves the icon's data
    return true;
}

bool IconResource::replaceIcon(ExeImage& image, const char* icoPath) {
    if (!image.resources() || !image.findFirstGroupIconLeaf() || !image.findFirstIconLeaf()) return false;
    IconFile icon;
    if (!icon.loadFromFile(icoPath, nullptr)) return false;
    return replaceIcon(image, icon);
}
