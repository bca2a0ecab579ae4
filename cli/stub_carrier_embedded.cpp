// The native build of orvanta: the resource-only PE32 carrier module of the
// i686 tree, embedded at build time (ORVANTA_STUB_CARRIER_PATH names the
// copy that cli/collect_stubs.cmake keeps current; it is empty when the
// Windows trees were not built first).
#include <cstdint>

#include "cli/stub_carrier.h"
#include "sfxbuilder/extract_stub.h"
#include "support/log_base.h"
#include "support/string_buffer.h"

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

bool extractCarriedStub(uint16_t id, StringBuffer& outPath, LogBase* log) {
    const uint8_t* begin = orv_stub_carrier_begin;
    uint32_t size = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(orv_stub_carrier_end) -
                                          reinterpret_cast<uintptr_t>(begin));
    if (size == 0) {
        log->logError("This orvanta was built without its stubs: build the Windows trees first");
        return false;
    }
    if (extractStubFromMemory(begin, size, id, outPath, log)) return true;
    if (!log->hadError()) {
        log->logError("The stub is not carried by this program");
        log->logDataInt("resourceId", id);
    }
    return false;
}
