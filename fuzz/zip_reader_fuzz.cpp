// Fuzzes the zip reader: any bytes as an archive held in memory, every
// entry listed and extracted into a counting sink with no password, an
// empty one and a wrong one. A successful extraction must have produced
// exactly the declared size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "zip/zip_archive.h"

namespace {

struct CountingSink : ZipDataSink {
    uint64_t total = 0;
    bool write(const uint8_t*, size_t length) override {
        total += length;
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ZipReader reader;
    std::string error;
    if (!reader.openMemory(data, size, &error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    volatile size_t names = 0;
    for (size_t i = 0; i < reader.entryCount() && i < 256; i++) {
        const ZipEntry& e = reader.entry(i);
        names = names + e.name.size() + e.dosAttributes();
        for (const char* password : {static_cast<const char*>(nullptr), "", "wrong"}) {
            CountingSink sink;
            if (reader.extract(i, sink, password, &error)) {
                if (sink.total != e.uncompressedSize) std::abort();
            } else if (error.empty()) {
                std::abort();
            }
            if (e.encryption == ZipEntry::None) break;  // the password plays no part
        }
    }
    return 0;
}
