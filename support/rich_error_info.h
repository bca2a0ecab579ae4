// RichErrorInfo: turns a failed call's error text into the COM error object
// of the calling thread (description, interface identifier, source), which
// the COM method then backs with E_FAIL.
#pragma once

#include <cstdint>

#include "support/string_buffer.h"

class RichErrorInfo {
public:
    RichErrorInfo();
    RichErrorInfo(const uint8_t guid[16], const char* source);
    RichErrorInfo(const RichErrorInfo&) = delete;
    RichErrorInfo& operator=(const RichErrorInfo&) = delete;
    void setGuid(const uint8_t guid[16]);
    void setSource(const char* source);
    const uint8_t* guid() const { return guid_; }
    const StringBuffer& source() const { return source_; }
    // Installs an error object with the description, the stored identifier
    // and the stored source. Does nothing when no object can be created.
    void report(const StringBuffer& description);

private:
    uint8_t guid_[16];
    StringBuffer source_;
};

// The builder's identity: its interface ITollan,
// {A028F891-0B06-4619-9908-7B493E67F631}, in GUID memory layout, and its
// source name.
extern const uint8_t kTollanInterfaceGuid[16];
extern const char kTollanErrorSource[];
// The builder's instance: RichErrorInfo info(kTollanInterfaceGuid, kTollanErrorSource);
