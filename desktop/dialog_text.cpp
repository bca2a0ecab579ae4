#include "desktop/dialog_text.h"

#include <vector>

std::string dialogFilter(const std::string& filter) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t bar; (bar = filter.find('|', start)) != std::string::npos; start = bar + 1)
        parts.push_back(filter.substr(start, bar - start));
    parts.push_back(filter.substr(start));
    if (parts.size() % 2) parts.push_back("*.*");
    std::string out;
    for (const std::string& p : parts) {
        out += p;
        out += '\0';
    }
    out += '\0';
    return out;
}

std::string dialogAnswer(const char* buffer, size_t size) {
    std::string out;
    size_t at = 0;
    while (at < size && buffer[at]) {
        size_t end = at;
        while (end < size && buffer[end]) end++;
        if (!out.empty() || at) out += '\0';
        out.append(buffer + at, end - at);
        at = end + 1;
    }
    return out;
}
