// CRC-32 (the zip and gzip polynomial, reflected 0xEDB88320).
//
// Two implementations behind crc32Update: folding with the processor's
// carry-less multiply (PCLMULQDQ) when cpuid reports it, checked once at
// run time (32-bit x86 builds too), and a table-driven one for short
// inputs and every other processor. Both give the same result.
#pragma once

#include <cstddef>
#include <cstdint>

// Continues a CRC: start with crc = 0 and feed the data in any pieces.
uint32_t crc32Update(uint32_t crc, const void* data, size_t length);

// The two paths on their own, so tests and the benchmark can compare them
// on a processor that has the instructions. crc32UpdateTable never uses
// them; crc32UpdateFolded uses them whenever crc32HasCarrylessMultiply()
// is true and is the table path otherwise.
bool crc32HasCarrylessMultiply();
uint32_t crc32UpdateTable(uint32_t crc, const void* data, size_t length);
uint32_t crc32UpdateFolded(uint32_t crc, const void* data, size_t length);
