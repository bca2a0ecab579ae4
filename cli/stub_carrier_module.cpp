// The Windows builds of orvanta: the stubs are resources of the tool's own
// module file, read through the PE model like the builder reads its own.
#include "cli/stub_carrier.h"

#include "sfxbuilder/extract_stub.h"
#include "support/log_base.h"
#include "support/platform.h"
#include "support/string_buffer.h"

bool extractCarriedStub(uint16_t id, StringBuffer& outPath, LogBase* log) {
    char path[1024];
    if (platform::modulePath(reinterpret_cast<const void*>(&extractCarriedStub), path, sizeof path) == 0) {
        log->logError("Failed to get the path of the program's own module");
        return false;
    }
    if (extractStub(path, id, outPath, log)) return true;
    if (!log->hadError()) {
        // The resource is missing: extractStub logs nothing for that case.
        log->logError("The stub is not carried by this program");
        log->logDataInt("resourceId", id);
        log->logData("filename", path);
    }
    return false;
}
