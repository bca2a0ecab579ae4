// Fuzzes the PE model: loading any bytes, then the lookups and changes a
// build makes, then the layout and the writer.
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "exeimage/exe_image.h"
#include "support/log_base.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    LogNull log;
    ExeImage* image = ExeImage::loadFromMemory(data, uint32_t(size), "fuzz-input", &log);
    if (!image) return 0;
    const uint8_t* found = nullptr;
    uint32_t n = 0;
    volatile uint8_t sink = 0;
    for (const char* name : {"VARNOCK", "zip", "encrypted"}) {
        if (image->findNamedResourceData(name, &found, &n, &log) && n) sink = sink ^ found[0] ^ found[n - 1];
    }
    for (ExeResource* leaf : {image->findFirstIconLeaf(), image->findFirstGroupIconLeaf()}) {
        const uint8_t* p = leaf ? leaf->dataPointer() : nullptr;
        if (p && leaf->dataSize) sink = sink ^ p[0] ^ p[leaf->dataSize - 1];
    }
    image->removeNamed("zip");
    image->addNamedData("appTitle", "fuzz", 5, &log);
    uint32_t rsize = 0;
    image->resourceLayoutSize(0x1000, &rsize, &log);
    image->writeToFile("/dev/null", nullptr, &log);
    delete image;
    return 0;
}
