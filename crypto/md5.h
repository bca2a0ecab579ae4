// MD5 (RFC 1321). HmacMD5 holds the running state (initialise, update,
// finish); DigestMD5 computes whole digests. No keyed hash is computed
// anywhere here: the names are the ones the rest of the system uses.
#pragma once

#include <cstdint>

class DataBuffer;
class StringBuffer;

class HmacMD5 {
public:
    HmacMD5() { initialize(); }
    void initialize();
    void update(const void* data, uint32_t length);
    // Writes the 16-byte digest; the object must be initialised again
    // before further use.
    void finish(uint8_t digest[16]);

private:
    void compress(const uint8_t block[64]);

    uint32_t state_[4];
    uint64_t totalBytes_;
    uint8_t pending_[64];
    uint32_t pendingLength_;
};

class DigestMD5 {
public:
    static void digestBytes(const void* data, uint32_t length, uint8_t digest[16]);
    static void digestData(const DataBuffer& data, uint8_t digest[16]);
    static void digestString(const StringBuffer& text, uint8_t digest[16]);
};
