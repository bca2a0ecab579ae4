// Feeding a 64-byte-block hash (MD5, SHA-1): whole blocks go straight to
// the compression function, a partial block waits in the pending buffer.
#pragma once

#include <cstdint>
#include <cstring>

template <class Compress>
void feedHashBlocks(uint8_t (&pending)[64], uint32_t& pendingLength, const void* data, uint32_t length,
                    Compress compress) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    if (pendingLength) {
        uint32_t take = 64 - pendingLength;
        if (take > length) take = length;
        std::memcpy(pending + pendingLength, p, take);
        pendingLength += take;
        p += take;
        length -= take;
        if (pendingLength < 64) return;
        compress(pending);
        pendingLength = 0;
    }
    while (length >= 64) {
        compress(p);
        p += 64;
        length -= 64;
    }
    if (length) {
        std::memcpy(pending, p, length);
        pendingLength = length;
    }
}
