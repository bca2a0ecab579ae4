// Hex helpers for the crypto tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline std::vector<uint8_t> fromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        if (hex[i] == ' ') { --i; continue; }
        out.push_back(uint8_t(nibble(hex[i]) * 16 + nibble(hex[i + 1])));
    }
    return out;
}

inline std::string toHex(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}
inline std::string toHex(const std::vector<uint8_t>& v) { return toHex(v.data(), v.size()); }
