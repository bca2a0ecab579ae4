// The activity log's XML rendering with hostile texts: messages and data
// values of any bytes (markup, CDATA markers, line breaks) between contexts
// opened and closed in any order. Names are what callers give: letters,
// digits and '_'. The rendering must stay a well-formed document, and the
// log must not crash on any sequence.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/activity_log.h"
#include "support/string_buffer.h"

namespace {

struct Input {
    const uint8_t* p;
    size_t n;
    uint8_t byte() { return n ? (n--, *p++) : 0; }
    // A text up to the next NUL (or the end).
    std::string text() {
        std::string s;
        while (n && *p) s.push_back(char(byte()));
        byte();
        return s;
    }
    std::string name() {
        static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_0123456789";
        std::string s(1, kAlphabet[byte() % 53]);  // not a digit first
        for (int len = byte() % 8; len > 0; len--) s.push_back(kAlphabet[byte() % 63]);
        return s;
    }
};

[[noreturn]] void malformed(const std::string& xml, size_t at, const char* why) {
    std::fprintf(stderr, "malformed at %zu (%s):\n%s\n", at, why, xml.c_str());
    std::abort();
}

// Tags balanced, CDATA sections closed, '&' only as an entity, no '<' in
// text, one root.
void checkWellFormed(const std::string& x) {
    std::vector<std::string> open;
    bool rootSeen = false;
    for (size_t i = 0; i < x.size();) {
        if (x.compare(i, 9, "<![CDATA[") == 0) {
            const size_t end = x.find("]]>", i + 9);
            if (end == std::string::npos) malformed(x, i, "CDATA not closed");
            if (open.empty()) malformed(x, i, "CDATA outside the root");
            i = end + 3;
        } else if (x[i] == '<') {
            const size_t end = x.find('>', i);
            if (end == std::string::npos) malformed(x, i, "tag not closed");
            std::string tag = x.substr(i + 1, end - i - 1);
            if (!tag.empty() && tag[0] == '/') {
                if (open.empty() || open.back() != tag.substr(1)) malformed(x, i, "end tag does not match");
                open.pop_back();
            } else {
                const std::string name = tag.substr(0, tag.find(' '));
                if (name.empty() || name.find_first_of("<&\"'") != std::string::npos) malformed(x, i, "bad tag");
                if (open.empty() && rootSeen) malformed(x, i, "second root");
                rootSeen = true;
                open.push_back(name);
            }
            i = end + 1;
        } else if (x[i] == '&') {
            size_t j = i + 1;
            while (j < x.size() && (std::isalnum(static_cast<unsigned char>(x[j])) || x[j] == '#')) j++;
            if (j == i + 1 || j >= x.size() || x[j] != ';') malformed(x, i, "bare &");
            i = j + 1;
        } else {
            if (x.compare(i, 3, "]]>") == 0) malformed(x, i, "]]> in text");
            i++;
        }
    }
    if (!open.empty()) malformed(x, x.size(), "elements left open");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    ActivityLog log;
    while (in.n) {
        switch (in.byte() % 5) {
            case 0: log.addMessage(LogEntry::Error, in.text().c_str()); break;
            case 1: log.addMessage(LogEntry::Info, in.text().c_str()); break;
            case 2: {
                const std::string name = in.name(), value = in.text();
                if (name != "__xml__") log.addData(name.c_str(), value.c_str());  // that one is a raw fragment
                break;
            }
            case 3: log.enterContext(in.name().c_str(), in.byte() & 1); break;
            case 4: log.leaveContext(); break;
        }
    }
    for (bool crlf : {false, true}) {
        StringBuffer out;
        log.renderXml(out, crlf, crlf);
        if (log.count()) checkWellFormed(std::string(out.str(), out.length()));
    }
    return 0;
}
