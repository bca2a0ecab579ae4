// Fuzzes the PE model: loading any bytes, then the lookups and changes a
// build makes, then the layout and the writer. The same bytes are also
// loaded from a file, which is read by position with its large leaves left
// in the file: both loads must agree, and both writers write the same
// executable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <string>

#include "exeimage/exe_image.h"
#include "support/log_base.h"
#include "support/platform.h"
#include "support/testing/scratch_dir.h"

namespace {

// Runs a build's lookups and changes on an image and writes it to out;
// the written bytes ("<large>" beyond a megabyte: a hostile section
// alignment rounds the resource section up to gigabytes), or "<failed>".
std::string exercise(ExeImage& image, const std::string& out) {
    LogNull log;
    const uint8_t* found = nullptr;
    uint32_t n = 0;
    volatile uint8_t sink = 0;
    for (const char* name : {"VARNOCK", "zip", "encrypted"}) {
        if (image.findNamedResourceData(name, &found, &n, &log) && n) sink = sink ^ found[0] ^ found[n - 1];
    }
    for (ExeResource* leaf : {image.findFirstIconLeaf(), image.findFirstGroupIconLeaf()}) {
        const uint8_t* p = leaf ? image.leafData(leaf, &log) : nullptr;
        if (p && leaf->dataSize) sink = sink ^ p[0] ^ p[leaf->dataSize - 1];
    }
    image.removeNamed("zip");
    image.addNamedData("appTitle", "fuzz", 5, &log);
    uint32_t rsize = 0;
    image.resourceLayoutSize(0x1000, &rsize, &log);
    if (!image.writeToFile(out.c_str(), nullptr, &log)) return "<failed>";
    platform::FileHandle h = platform::openFile(out.c_str(), platform::OpenMode::ReadExisting);
    uint64_t written = 0;
    bool measured = platform::fileSize(h, &written);
    platform::closeFile(h);
    return measured && written <= (1u << 20) ? readWholeFile(out) : "<large>";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchDir scratch;
    static const std::string input = scratch.file("input.exe"), fromMemory = scratch.file("memory.exe"),
                             fromFile = scratch.file("file.exe");
    if (size > 0xFFFFFFFFu) return 0;
    LogNull log;
    std::unique_ptr<ExeImage> image(ExeImage::loadFromMemory(data, uint32_t(size), "fuzz-input", &log));
    scratch.write("input.exe", std::string(reinterpret_cast<const char*>(data), size));
    std::unique_ptr<ExeImage> loaded(ExeImage::loadFromFile(input.c_str(), &log));
    if (!image != !loaded) std::abort();
    if (!image) return 0;
    // Outputs that would be large go nowhere.
    const bool small = image->ntHeaders().sizeOfImage() <= (1u << 20);
    if (!small) {
        exercise(*image, "/dev/null");
        exercise(*loaded, "/dev/null");
        return 0;
    }
    if (exercise(*image, fromMemory) != exercise(*loaded, fromFile)) std::abort();
    return 0;
}
