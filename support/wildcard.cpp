#include "support/wildcard.h"

#include <vector>

namespace {

unsigned char foldAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

// Bytes of the UTF-8 character at n[j] (a lone or broken byte counts as one).
size_t charLength(const std::string& n, size_t j) {
    size_t len = 1;
    if ((unsigned char)n[j] >= 0xC0)
        while (j + len < n.size() && ((unsigned char)n[j + len] & 0xC0) == 0x80 && len < 4) len++;
    return len;
}

}  // namespace

bool wildcardMatches(const std::string& p, const std::string& n) {
    const size_t m = p.size(), k = n.size();
    std::vector<char> ok((m + 1) * (k + 1), 0);
    auto at = [&](size_t i, size_t j) -> char& { return ok[i * (k + 1) + j]; };
    at(m, k) = 1;
    for (size_t i = m; i-- > 0;) {
        bool onlyWildcardsAfter = p.find_first_not_of("*?", i + 1) == std::string::npos;
        for (size_t j = k + 1; j-- > 0;) {
            char c = p[i];
            bool r;
            if (c == '*') {
                r = at(i + 1, j) || (j < k && at(i, j + 1));
            } else if (c == '?') {
                r = j < k && at(i + 1, j + charLength(n, j));
            } else {
                r = j < k && foldAscii((unsigned char)c) == foldAscii((unsigned char)n[j]) && at(i + 1, j + 1);
                if (c == '.' && j == k && onlyWildcardsAfter) r = true;
            }
            at(i, j) = r;
        }
    }
    return at(0, 0) != 0;
}
