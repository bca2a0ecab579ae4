// ContentCoding: base64 encoding (standard alphabet, no line breaks).
#pragma once

#include <cstdint>

class StringBuffer;

class ContentCoding {
public:
    void encodeBase64(const void* data, uint32_t length, StringBuffer& out) const;
    int lineLength() const { return lineLength_; }

private:
    int lineLength_ = 72;  // only used to estimate the output size
};
