// Path splitting on ANSI text: drive, directory, file name and extension,
// and the ASCII-only case rules of the folder walk. Every scan goes forward
// one character at a time, so the trail byte of a double-byte character
// (which may be 0x5C, the code of "\", or an ASCII letter) is never taken
// for a separator, a dot or a letter. The lead-byte test defaults to the
// system code page's and can be replaced (tests use a double-byte one).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace filesys {

using LeadByteTest = bool (*)(unsigned char);

// Byte offsets of the four parts of a path:
//   [0, driveEnd)          drive: the first two characters when the second is ":"
//   [driveEnd, dirEnd)     directory: up to and including the last "\" or "/"
//   [dirEnd, extStart)     file name
//   [extStart, size)       extension: from the last "." after the directory, dot included
struct PathSplit {
    size_t driveEnd = 0;
    size_t dirEnd = 0;
    size_t extStart = 0;
    size_t size = 0;
};

PathSplit splitPath(std::string_view path, LeadByteTest isLead = nullptr);

std::string drivePart(std::string_view path, LeadByteTest isLead = nullptr);
std::string directoryPart(std::string_view path, LeadByteTest isLead = nullptr);
std::string fileNamePart(std::string_view path, LeadByteTest isLead = nullptr);
std::string extensionPart(std::string_view path, LeadByteTest isLead = nullptr);

// Drive and directory of a path with every "/" of the directory turned
// into "\": the folder a search pattern looks in, as items report it.
std::string folderOf(std::string_view path, LeadByteTest isLead = nullptr);

// "A" to "Z" become "a" to "z"; nothing else changes (trail bytes neither).
std::string lowerAscii(std::string_view text, LeadByteTest isLead = nullptr);

// Equal when they differ only in the case of ASCII letters.
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b, LeadByteTest isLead = nullptr);

}  // namespace filesys
