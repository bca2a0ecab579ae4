// Test-only builder of PE32 / PE32+ images in memory: headers, sections, a
// resource tree in a ".rsrc" section and an overlay. Its resource layout
// differs from the model's writer (tables breadth-first, then names, data
// entries, and data on 4-byte boundaries), so a round trip is a real
// re-layout. Also a scratch folder and file helpers for the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/testing/scratch_dir.h"

namespace testpe {

using Bytes = std::vector<uint8_t>;

struct Res {
    bool named = false;
    std::string name;
    uint16_t id = 0;
    bool leaf = false;
    Bytes data;
    uint32_t codePage = 0;
    uint32_t timeDateStamp = 0;
    std::vector<Res> children;  // written named first, then ids, each in order
};
Res Dir(uint16_t id, std::vector<Res> children);
Res Dir(const std::string& name, std::vector<Res> children);
Res Leaf(uint16_t language, Bytes data, uint32_t codePage = 0);
Bytes Text(const std::string& s);
// One line per node ("name x dir", "id 3 cp 0 = 6869"), the same form the
// tests print the model's tree in.
std::string dump(const Res& root);

struct Section {
    std::string name;
    Bytes data;
    uint32_t virtualSize = 0;  // 0: the data's size
    bool noRawData = false;
};

struct Plan {
    bool pe64 = false;
    uint32_t fileAlignment = 0x200, sectionAlignment = 0x1000;
    std::vector<Section> sections;
    bool withResources = true;
    Res root;
    int resourceIndex = -1;  // where the resource section goes; -1: last
    std::string resourceSectionName = ".rsrc";
    uint32_t resourceGap = 0;  // spare bytes before the data entries
    Bytes overlay;
};

struct Built {
    Bytes bytes;
    uint32_t ntOffset = 0x80, optionalOffset = 0, headersEnd = 0;
    uint32_t rsrcFileOffset = 0, rsrcRva = 0, rsrcSize = 0;
    std::vector<uint32_t> directoryOffsets, nameOffsets, dataEntryOffsets;  // in the resource section
    uint32_t sectionHeader(int i) const { return optionalOffset + optionalSize + 40 * uint32_t(i); }
    uint32_t resourceDirectoryField() const { return optionalOffset + optionalSize - 16 * 8 + 16; }
    uint32_t optionalSize = 0;
};

Built build(const Plan& plan);
// .text, .data (0x2000 bytes in memory), .rsrc with a "VARNOCK" named type
// (id 218), icons 1 and 2, group icon 101 and RT_RCDATA "zip", and an overlay.
Plan samplePlan(bool pe64 = false);

uint16_t get16(const Bytes& b, uint32_t off);
uint32_t get32(const Bytes& b, uint32_t off);
void put16(Bytes& b, uint32_t off, uint16_t v);
void put32(Bytes& b, uint32_t off, uint32_t v);

// A scratch folder whose files are removed with it.
class TempDir {
public:
    std::string path(const std::string& name);  // removed with the folder
    std::string write(const std::string& name, const Bytes& bytes);

private:
    ScratchDir dir_;
};
bool readWholeFile(const std::string& path, Bytes* out);
uint64_t fileSizeOf(const std::string& path);  // UINT64_MAX when missing

}  // namespace testpe
