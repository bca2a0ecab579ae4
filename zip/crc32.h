// CRC-32 (the zip and gzip polynomial, reflected 0xEDB88320).
#pragma once

#include <cstddef>
#include <cstdint>

// Continues a CRC: start with crc = 0 and feed the data in any pieces.
uint32_t crc32Update(uint32_t crc, const void* data, size_t length);
