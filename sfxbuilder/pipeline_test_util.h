// Helpers shared by the build pipeline's tests (the worker and the build
// from a carrier module): zip-like payload bytes, the payload decrypted
// back, and what a folder holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "crypto/easy_crypt.h"
#include "support/data_buffer.h"
#include "support/testing/tree_listing.h"

namespace pipelinetest {

// n bytes that start like a zip file, the rest pseudo-random from seed.
inline std::string zipLike(size_t n, uint32_t seed = 12345) {
    std::string s = "PK\x03\x04";
    uint32_t x = seed;
    while (s.size() < n) {
        x = x * 1103515245u + 12345u;
        s += char(x >> 24);
    }
    s.resize(n);
    return s;
}

// A payload decrypted with the given key length and password, or
// "<not decryptable>".
inline std::string decrypt(const std::string& payload, int bits, const char* password) {
    DataBuffer plain;
    if (!EasyCrypt::decryptBytes(kAlgorithmAes, bits, password, payload.data(), uint32_t(payload.size()), plain))
        return "<not decryptable>";
    return std::string(reinterpret_cast<const char*>(plain.data()), plain.length());
}

// The names directly in folder, sorted.
inline std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const ListedName& n : listNames(folder)) names.push_back(n.name);
    return names;
}

}  // namespace pipelinetest
