#include "support/content_coding.h"

#include "support/string_buffer.h"

void ContentCoding::encodeBase64(const void* data, uint32_t length, StringBuffer& out) const {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (!data || length == 0) return;
    uint64_t e = (5 * uint64_t(length) + 10) / 3;
    out.reserve(uint32_t(e + 2 * e / uint64_t(lineLength_) + 3));
    auto* p = static_cast<const uint8_t*>(data);
    char quad[4];
    uint32_t i = 0;
    for (; length - i >= 3; i += 3) {
        uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8) | p[i + 2];
        quad[0] = kAlphabet[v >> 18];
        quad[1] = kAlphabet[(v >> 12) & 63];
        quad[2] = kAlphabet[(v >> 6) & 63];
        quad[3] = kAlphabet[v & 63];
        out.appendBytes(quad, 4);
    }
    if (length - i == 1) {
        uint32_t v = uint32_t(p[i]) << 16;
        quad[0] = kAlphabet[v >> 18];
        quad[1] = kAlphabet[(v >> 12) & 63];
        quad[2] = quad[3] = '=';
        out.appendBytes(quad, 4);
    } else if (length - i == 2) {
        uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8);
        quad[0] = kAlphabet[v >> 18];
        quad[1] = kAlphabet[(v >> 12) & 63];
        quad[2] = kAlphabet[(v >> 6) & 63];
        quad[3] = '=';
        out.appendBytes(quad, 4);
    }
}
