#include "sfxstub/stub_carrier.h"

#include "exeimage/exe_image.h"
#include "sfxformat/sfx_format.h"
#include "support/log_base.h"

CarriedStub::CarriedStub() = default;
CarriedStub::~CarriedStub() = default;

bool CarriedStub::open(uint16_t id, LogBase* logp) {
    LogBase& log = logOrNull(logp);
    stub_.reset();  // it reads the carrier's bytes
    std::string name;
    carrier_.reset(loadStubCarrier(&name, log));
    if (!carrier_) return false;
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    if (!findStubResource(*carrier_, id, &data, &size)) {
        log.logError("The stub is not carried by this program");
        log.logDataInt("resourceId", id);
        if (!name.empty()) log.logData("filename", name.c_str());
        return false;
    }
    stub_.reset(ExeImage::loadFromMemory(data, size, "stub", &log));
    return stub_ != nullptr;
}
