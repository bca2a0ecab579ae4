// The native build: the resource-only PE32 carrier module of the i686 tree,
// embedded at build time (ORVANTA_STUB_CARRIER_PATH names the copy that
// sfxstub/collect_stubs.cmake keeps current; it is empty when the Windows
// trees were not built first).
#include <cstdint>

#include "exeimage/exe_image.h"
#include "sfxstub/stub_carrier.h"
#include "support/log_base.h"

__asm__(
    ".pushsection .rodata\n"
    ".balign 16\n"
    ".globl orv_stub_carrier_begin\n"
    ".hidden orv_stub_carrier_begin\n"
    "orv_stub_carrier_begin:\n"
    ".incbin \"" ORVANTA_STUB_CARRIER_PATH "\"\n"
    ".globl orv_stub_carrier_end\n"
    ".hidden orv_stub_carrier_end\n"
    "orv_stub_carrier_end:\n"
    ".popsection\n");

extern "C" const uint8_t orv_stub_carrier_begin[];
extern "C" const uint8_t orv_stub_carrier_end[];

ExeImage* loadStubCarrier(std::string* name, LogBase& log) {
    name->clear();
    const uint8_t* begin = orv_stub_carrier_begin;
    uint32_t size = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(orv_stub_carrier_end) -
                                          reinterpret_cast<uintptr_t>(begin));
    if (size == 0) {
        log.logError("This orvanta was built without its stubs: build the Windows trees first");
        return nullptr;
    }
    return ExeImage::loadFromMemory(begin, size, "module", &log);
}
