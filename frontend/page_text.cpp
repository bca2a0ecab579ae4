#include "frontend/page_text.h"

#include <cctype>
#include <cstring>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

char lower(char c) {
    return char(std::tolower(static_cast<unsigned char>(c)));
}

// Whether html holds `word` (lower case) at pos, ignoring case.
bool startsWith(const std::string& html, size_t pos, const char* word) {
    const size_t n = std::strlen(word);
    if (pos > html.size() || n > html.size() - pos) return false;
    for (size_t i = 0; i < n; ++i)
        if (lower(html[pos + i]) != word[i]) return false;
    return true;
}

// The position after the '>' that ends the tag opened at pos, quoted
// attribute values skipped; npos when the tag never ends.
size_t tagEnd(const std::string& html, size_t pos) {
    char quote = 0;
    for (size_t i = pos + 1; i < html.size(); ++i) {
        const char c = html[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return std::string::npos;
}

// The position after the closing tag of `name` at or after pos; npos when
// there is none.
size_t afterClosing(const std::string& html, size_t pos, const std::string& name) {
    for (size_t i = html.find('<', pos); i != std::string::npos; i = html.find('<', i + 1)) {
        if (i + 1 < html.size() && html[i + 1] == '/' && startsWith(html, i + 2, name.c_str())) {
            const size_t after = i + 2 + name.size();
            if (after < html.size() && std::isalnum(static_cast<unsigned char>(html[after]))) continue;
            return tagEnd(html, i);
        }
    }
    return std::string::npos;
}

// The character a numeric entity's value stands for: printable ASCII as
// itself, layout characters as a blank, anything else as '?'.
char numericChar(unsigned long value) {
    if (value == '\t' || value == '\n' || value == '\r') return ' ';
    return value >= 32 && value < 127 ? char(value) : '?';
}

// Decodes the entity at pos ('&'); returns the characters it stands for
// and sets `next` after it, or returns "&" with `next` after the '&' when
// it is none we know.
std::string entity(const std::string& html, size_t pos, size_t& next) {
    next = pos + 1;
    if (pos + 1 < html.size() && html[pos + 1] == '#') {
        const bool hex = pos + 2 < html.size() && lower(html[pos + 2]) == 'x';
        size_t i = pos + (hex ? 3 : 2);
        const size_t first = i;
        unsigned long value = 0;
        for (; i < html.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(html[i]);
            if (!(hex ? std::isxdigit(c) : std::isdigit(c))) break;
            const unsigned long digit = std::isdigit(c) ? c - '0' : unsigned(lower(char(c)) - 'a' + 10);
            // Past every character there is: stay there without overflowing.
            if (value <= 0x10FFFF) value = value * (hex ? 16 : 10) + digit;
        }
        if (i == first || i >= html.size() || html[i] != ';') return "&";
        next = i + 1;
        return std::string(1, numericChar(value));
    }
    static const struct {
        const char* name;
        const char* text;
    } named[] = {{"amp;", "&"}, {"lt;", "<"}, {"gt;", ">"}, {"quot;", "\""}, {"apos;", "'"}, {"nbsp;", " "}};
    for (const auto& e : named) {
        if (startsWith(html, pos + 1, e.name)) {
            next = pos + 1 + std::strlen(e.name);
            return e.text;
        }
    }
    return "&";
}

// Tags whose end breaks the line.
bool isBlock(const std::string& name) {
    const bool heading = name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6';
    return heading || name == "p" || name == "li" || name == "div";
}

// Collapses blanks, trims lines and keeps at most one empty line in a row.
std::string tidy(const std::string& raw) {
    std::string out;
    size_t emptyRun = 0;
    bool any = false;
    size_t start = 0;
    while (start <= raw.size()) {
        size_t end = raw.find('\n', start);
        if (end == std::string::npos) end = raw.size();
        std::string line;
        for (size_t i = start; i < end; ++i) {
            if (!isBlank(raw[i])) line += raw[i];
            else if (!line.empty() && line.back() != ' ') line += ' ';
        }
        if (!line.empty() && line.back() == ' ') line.pop_back();
        if (line.empty()) {
            ++emptyRun;
        } else {
            if (any) out += emptyRun ? "\r\n\r\n" : "\r\n";
            out += line;
            any = true;
            emptyRun = 0;
        }
        start = end + 1;
    }
    return out;
}

}  // namespace

std::string pageText(const std::string& html) {
    // Text with '\n' where a line breaks; tidy() does the blanks.
    std::string raw;
    bool lineEmpty = true;  // nothing but blanks since the last break
    auto put = [&](const std::string& text) {
        raw += text;
        for (char ch : text) lineEmpty = lineEmpty && isBlank(ch);
    };
    auto newLine = [&] {
        raw += '\n';
        lineEmpty = true;
    };
    // A block starts on a line of its own.
    auto freshLine = [&] {
        if (!lineEmpty) newLine();
    };
    size_t i = 0;
    while (i < html.size()) {
        const char c = html[i];
        if (c == '&') {
            size_t next = i + 1;
            put(entity(html, i, next));
            i = next;
            continue;
        }
        const char after = i + 1 < html.size() ? html[i + 1] : 0;
        const bool tag = c == '<' && (std::isalpha(static_cast<unsigned char>(after)) || after == '/' || after == '!');
        if (!tag) {
            put(std::string(1, isBlank(c) ? ' ' : c));
            ++i;
            continue;
        }
        if (startsWith(html, i, "<!--")) {
            const size_t close = html.find("-->", i + 4);
            i = close == std::string::npos ? html.size() : close + 3;
            continue;
        }
        const size_t end = tagEnd(html, i);
        if (end == std::string::npos) break;  // a tag that never ends hides the rest
        const bool closing = after == '/';
        size_t n = i + (closing ? 2 : 1);
        std::string name;
        while (n < end && std::isalnum(static_cast<unsigned char>(html[n]))) name += lower(html[n++]);
        i = end;
        if (!closing && (name == "head" || name == "script" || name == "style")) {
            const size_t past = afterClosing(html, i, name);
            i = past == std::string::npos ? html.size() : past;
        } else if (name == "br") {
            newLine();
        } else if (name == "li" && !closing) {
            freshLine();
            put("- ");
        } else if (name == "ul" || name == "ol" || (!closing && isBlock(name))) {
            freshLine();
        } else if (isBlock(name)) {
            newLine();
        }
    }
    return tidy(raw);
}
