// The six settings of a folder walk as plain data: the Enumerator holds
// one set, every Items collection and every walk a copy. Text is ANSI; an
// absent value is the null string a client may write (different from the
// empty string: an empty exclusion list is stored as ":", a null one stays
// null).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace filesys {

constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeArchive = 0x20;
// qvfAll: every attribute bit of the enumeration. A mask of exactly this
// value lets every record through, even one with a bit outside it.
constexpr uint32_t kAttributeMaskAll = 0x1FF7;

using OptionalText = std::optional<std::string>;

class WalkSettings {
public:
    const OptionalText& rootPath() const { return rootPath_; }
    void setRootPath(OptionalText text) { rootPath_ = std::move(text); }

    const OptionalText& nameMask() const { return nameMask_; }
    void setNameMask(OptionalText text) { nameMask_ = std::move(text); }

    // Stored as given, not validated.
    uint32_t attributeMask() const { return attributeMask_; }
    void setAttributeMask(uint32_t mask) { attributeMask_ = mask; }

    // The 16-bit Boolean as written (1 until written, -1 for True); any
    // nonzero value means on.
    int16_t recurse() const { return recurse_; }
    void setRecurse(int16_t value) { recurse_ = value; }
    bool recurseOn() const { return recurse_ != 0; }

    // Colon-separated lists. Writing stores the text with one ":" appended,
    // which closes the last entry; null stays null.
    const OptionalText& excludedFolders() const { return excludedFolders_; }
    void setExcludedFolders(OptionalText text) { excludedFolders_ = withClosingColon(std::move(text)); }

    const OptionalText& excludedExt() const { return excludedExt_; }
    void setExcludedExt(OptionalText text) { excludedExt_ = withClosingColon(std::move(text)); }

private:
    static OptionalText withClosingColon(OptionalText text) {
        if (text) text->push_back(':');
        return text;
    }

    OptionalText rootPath_;
    OptionalText nameMask_;
    uint32_t attributeMask_ = kAttributeMaskAll;
    int16_t recurse_ = 1;
    OptionalText excludedFolders_;
    OptionalText excludedExt_;
};

}  // namespace filesys
