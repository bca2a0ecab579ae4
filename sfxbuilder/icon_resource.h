// IconResource: gives an executable another icon by overwriting the data
// of its first icon (RT_ICON) and of its first icon group (RT_GROUP_ICON)
// with the first image of a .ico file. No icon resources are added or
// removed; the ids, names and languages of the two leaves stay, and every
// other icon and group is left as it is.
//
// The operation belongs with the other changes a build makes to an
// ExeImage, but lives here so that the PE model need not know the .ico
// format: callers write IconResource().replaceIcon(image, path).
#pragma once

#include <cstdint>

#include "support/data_buffer.h"

class ExeImage;
class IconFile;

class IconResource {
public:
    static constexpr uint32_t kGroupHeaderSize = 6;
    static constexpr uint32_t kGroupEntrySize = 14;
    // The icon id every group entry names: the stub's one RT_ICON.
    static constexpr uint16_t kIconId = 1;

    // Replaces the image's first icon and icon group with image 0 of the
    // .ico file at icoPath. The group gets one entry per image of the file,
    // each describing image 0 and naming icon id 1; the icon gets image 0's
    // bytes (an image of zero bytes leaves the icon's data as it was).
    // Returns false, and leaves the image unchanged, when the image has no
    // icon or icon group leaf, or the file is missing, empty, has no
    // images, or has an entry or image reaching past its end. Logs nothing.
    bool replaceIcon(ExeImage& image, const char* icoPath);
    // The same with an icon already loaded (tests, fuzzing).
    bool replaceIcon(ExeImage& image, const IconFile& icon);

    // The group data described above, built from the file's image 0.
    // False when the file has no usable image 0.
    static bool buildGroupData(const IconFile& icon, DataBuffer& out);
};
