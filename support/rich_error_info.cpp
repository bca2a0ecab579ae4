#include "support/rich_error_info.h"

#include <cstring>

#include "support/platform.h"

const uint8_t kTollanInterfaceGuid[16] = {
    0x91, 0xF8, 0x28, 0xA0,  // Data1 A028F891, little-endian
    0x06, 0x0B,              // Data2 0B06
    0x19, 0x46,              // Data3 4619
    0x99, 0x08, 0x7B, 0x49, 0x3E, 0x67, 0xF6, 0x31,
};
const char kTollanErrorSource[] = "Tollan.Tollan";

RichErrorInfo::RichErrorInfo() : source_("") { std::memset(guid_, 0, sizeof guid_); }

RichErrorInfo::RichErrorInfo(const uint8_t guid[16], const char* source) : source_("") {
    setGuid(guid);
    setSource(source);
}

void RichErrorInfo::setGuid(const uint8_t guid[16]) {
    if (guid) std::memcpy(guid_, guid, sizeof guid_);
    else std::memset(guid_, 0, sizeof guid_);
}

void RichErrorInfo::setSource(const char* source) { source_.assign(source ? source : ""); }

void RichErrorInfo::report(const StringBuffer& description) {
    char16_t* desc = description.toBstr();
    char16_t* src = source_.toBstr();
    platform::installErrorInfo(desc, guid_, src);
    platform::freeBstr(desc);
    platform::freeBstr(src);
}

