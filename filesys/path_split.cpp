#include "filesys/path_split.h"

#include "support/platform.h"

namespace filesys {

namespace {

LeadByteTest orSystem(LeadByteTest isLead) { return isLead ? isLead : platform::isDbcsLeadByte; }

// Bytes taken by the character at i: two for a lead byte with a byte after
// it, else one.
size_t charLength(std::string_view s, size_t i, LeadByteTest isLead) {
    return isLead((unsigned char)s[i]) && i + 1 < s.size() ? 2 : 1;
}

}  // namespace

PathSplit splitPath(std::string_view path, LeadByteTest isLead) {
    isLead = orSystem(isLead);
    PathSplit r;
    r.size = path.size();
    if (!path.empty()) {
        size_t second = charLength(path, 0, isLead);
        if (second < path.size() && path[second] == ':' && charLength(path, second, isLead) == 1)
            r.driveEnd = second + 1;
    }
    r.dirEnd = r.driveEnd;
    for (size_t i = r.driveEnd; i < path.size();) {
        size_t len = charLength(path, i, isLead);
        if (len == 1 && (path[i] == '\\' || path[i] == '/')) r.dirEnd = i + 1;
        i += len;
    }
    r.extStart = path.size();
    for (size_t i = r.dirEnd; i < path.size();) {
        size_t len = charLength(path, i, isLead);
        if (len == 1 && path[i] == '.') r.extStart = i;
        i += len;
    }
    return r;
}

std::string drivePart(std::string_view path, LeadByteTest isLead) {
    PathSplit s = splitPath(path, isLead);
    return std::string(path.substr(0, s.driveEnd));
}

std::string directoryPart(std::string_view path, LeadByteTest isLead) {
    PathSplit s = splitPath(path, isLead);
    return std::string(path.substr(s.driveEnd, s.dirEnd - s.driveEnd));
}

std::string fileNamePart(std::string_view path, LeadByteTest isLead) {
    PathSplit s = splitPath(path, isLead);
    return std::string(path.substr(s.dirEnd, s.extStart - s.dirEnd));
}

std::string extensionPart(std::string_view path, LeadByteTest isLead) {
    PathSplit s = splitPath(path, isLead);
    return std::string(path.substr(s.extStart));
}

std::string folderOf(std::string_view path, LeadByteTest isLead) {
    isLead = orSystem(isLead);
    PathSplit s = splitPath(path, isLead);
    std::string out(path.substr(0, s.dirEnd));
    for (size_t i = s.driveEnd; i < s.dirEnd;) {
        size_t len = charLength(path, i, isLead);
        if (len == 1 && out[i] == '/') out[i] = '\\';
        i += len;
    }
    return out;
}

std::string lowerAscii(std::string_view text, LeadByteTest isLead) {
    isLead = orSystem(isLead);
    std::string out(text);
    for (size_t i = 0; i < out.size();) {
        size_t len = charLength(text, i, isLead);
        if (len == 1 && out[i] >= 'A' && out[i] <= 'Z') out[i] = char(out[i] + ('a' - 'A'));
        i += len;
    }
    return out;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b, LeadByteTest isLead) {
    return a.size() == b.size() && lowerAscii(a, isLead) == lowerAscii(b, isLead);
}

}  // namespace filesys
