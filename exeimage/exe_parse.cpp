// Loading: opening the source, the header checks, the section table, the
// overlay, and the resource tree. Every read of the source goes through a
// range-checked window on it; each malformation has its own message,
// followed by the value "filename". Leaf data is located, not read.
#include <cstring>
#include <memory>
#include <vector>

#include "exeimage/exe_image.h"
#include "support/log_base.h"

namespace {

// Deeper than any real tree (type, name, language) by a wide margin, and
// shallow enough that the recursion cannot exhaust the stack.
constexpr uint32_t kMaxResourceDepth = 16;
// Names longer than this (after conversion to ANSI) are cut.
constexpr uint32_t kMaxNameChars = 499;
constexpr uint32_t kHighBit = 0x80000000u;
// A file's leaves up to this size are read with the tree, in all at most
// the budget (leaves may overlap, so the budget, not the file, bounds it).
constexpr uint32_t kLeafReadAtLoad = 1u << 20;
constexpr uint64_t kReadAtLoadBudget = 64u << 20;

}  // namespace

// A range of the image's source, read on demand: the same checks as
// ByteView, but the bytes at() returns stay valid only until the next
// call on the same window.
class SourceWindow {
public:
    SourceWindow() = default;
    SourceWindow(ExeImage& image, uint64_t base, uint64_t size) : img_(&image), base_(base), size_(size) {}

    uint64_t size() const { return size_; }
    bool contains(uint64_t off, uint64_t len) const { return off <= size_ && len <= size_ - off; }
    const uint8_t* at(uint64_t off, uint64_t len) {
        if (!img_ || !contains(off, len)) return nullptr;
        scratch_.resize(len ? size_t(len) : 1);
        return img_->readSource(base_ + off, scratch_.data(), len) ? scratch_.data() : nullptr;
    }
    bool u16(uint64_t off, uint16_t* v) {
        const uint8_t* p = at(off, 2);
        if (p) *v = loadLE16(p);
        return p != nullptr;
    }
    bool copy(uint64_t off, void* out, uint64_t len) {
        const uint8_t* p = at(off, len);
        if (p && len) std::memcpy(out, p, size_t(len));
        return p != nullptr;
    }
    // The window [off, off + len) of this one, empty when out of range.
    SourceWindow sub(uint64_t off, uint64_t len) const {
        return contains(off, len) ? SourceWindow(*img_, base_ + off, len) : SourceWindow();
    }
    uint64_t base() const { return base_; }

private:
    ExeImage* img_ = nullptr;
    uint64_t base_ = 0, size_ = 0;
    std::vector<uint8_t> scratch_;
};

class ExeImageParser {
public:
    ExeImageParser(ExeImage& image, const char* name, LogBase& log)
        : img_(image), name_(name ? name : ""), log_(log), file_(image, 0, image.sourceSize_) {}

    bool run() { return parseHeaders() && parseSections() && parseResources(); }

private:
    bool fail(const char* message) {
        log_.logError(message);
        log_.logData("filename", name_);
        return false;
    }
    bool failSection(const char* message, const ExeSection& s) {
        char n[9];
        s.name(n);
        log_.logError(message);
        log_.logData("section_name", n);
        log_.logData("filename", name_);
        return false;
    }

    bool parseHeaders();
    bool parseSections();
    bool parseResources();
    bool parseDirectory(uint32_t offset, uint32_t depth, ExeResource* dir);
    bool parseName(uint32_t offset, ExeResource* node);
    bool parseDataEntry(uint32_t offset, ExeResource* leaf);
    const ExeSection* sectionContaining(uint32_t rva, int* index) const;
    bool resolveData(uint32_t rva, uint32_t size, uint64_t* fileOffset) const;
    bool markVisited(uint32_t offset);

    ExeImage& img_;
    const char* name_;
    LogBase& log_;
    SourceWindow file_;
    uint64_t sectionTableOffset_ = 0;
    uint64_t sectionTableEnd_ = 0;

    SourceWindow rsrc_;          // from the resource directory to the end of its section's raw data
    DataBuffer visited_;         // one bit per offset in rsrc_ where a directory was read
    uint64_t entryBudget_ = 0;   // directory entries the section still has room for
    uint64_t readBudget_ = kReadAtLoadBudget;  // leaf bytes a file's load may still read
};

bool ExeImageParser::parseHeaders() {
    uint16_t mz = 0;
    if (!file_.u16(0, &mz) || mz != 0x5A4D) return fail("Failed to find DOS signature");
    if (!file_.copy(0, img_.dosHeader_.bytes, sizeof img_.dosHeader_.bytes))
        return fail("DOS header is truncated");

    uint64_t nt = img_.dosHeader_.e_lfanew();
    if (!file_.contains(nt, 4)) return fail("Failed to find NT header");
    uint16_t sectionCount = 0, optSize = 0;
    if (!file_.contains(nt + 4, 20) || !file_.u16(nt + 6, &sectionCount) || !file_.u16(nt + 20, &optSize))
        return fail("NT file header is truncated");
    if (!file_.contains(nt + 24, optSize)) return fail("Optional header is truncated");

    uint16_t magic = 0;
    if (optSize < 2 || !file_.u16(nt + 24, &magic)) return fail("Optional header is too small");
    uint32_t fixed = magic == ExeNtHeader::kMagicPe32       ? ExeNtHeader::kFixedPe32
                     : magic == ExeNtHeader::kMagicPe32Plus ? ExeNtHeader::kFixedPe32Plus
                                                            : 0;
    if (!fixed) return fail("Unsupported optional header magic");
    // SectionAlignment, FileAlignment, SizeOfImage and NumberOfRvaAndSizes
    // all lie in the fixed part.
    if (optSize < fixed) return fail("Optional header is too small");

    img_.ntHeadersOffset_ = uint32_t(nt);
    const uint8_t* headers = file_.at(nt, 24u + optSize);
    if (!headers) return fail("Optional header is truncated");
    img_.ntHeaders_.bytes.appendExact(headers, 24u + optSize);

    sectionTableOffset_ = nt + 24 + optSize;
    uint64_t tableSize = uint64_t(sectionCount) * 40;
    if (!file_.contains(sectionTableOffset_, tableSize)) return fail("Section table is truncated");
    sectionTableEnd_ = sectionTableOffset_ + tableSize;
    return true;
}

bool ExeImageParser::parseSections() {
    uint64_t rawEnd = sectionTableEnd_;
    for (uint32_t i = 0; i < img_.ntHeaders_.numberOfSections(); i++) {
        auto* s = new ExeSection;
        img_.sections_.sections.append(s);
        if (!file_.copy(sectionTableOffset_ + 40 * i, s->header, sizeof s->header))
            return fail("Section table is truncated");
        s->sourcePointerToRawData = s->pointerToRawData();
        s->sourceSizeOfRawData = s->sizeOfRawData();
        if (s->sourcePointerToRawData == 0) continue;  // no contents in the file (uninitialised data)
        if (!file_.contains(s->sourcePointerToRawData, s->sourceSizeOfRawData))
            return failSection("Section raw data lies outside the file", *s);
        uint64_t end = uint64_t(s->sourcePointerToRawData) + s->sourceSizeOfRawData;
        if (end > rawEnd) rawEnd = end;
    }
    // The overlay follows the furthest raw data of any section. For a file
    // whose last section is also last in the file this is the end of that
    // section; a trailing section without raw data does not make the whole
    // file count as overlay.
    img_.overlayOffset_ = rawEnd;
    img_.overlaySize_ = uint32_t(file_.size() - rawEnd);
    return true;
}

const ExeSection* ExeImageParser::sectionContaining(uint32_t rva, int* index) const {
    for (int i = 0; i < img_.sections_.count(); i++) {
        const ExeSection* s = img_.sections_.get(i);
        uint32_t va = s->virtualAddress();
        if (rva >= va && rva - va < s->extent()) {
            if (index) *index = i;
            return s;
        }
    }
    return nullptr;
}

// Where the leaf's bytes lie in the file: in the first section whose
// virtual range holds the RVA or, when none does, the first section named
// ".rsrc..."; the bytes must lie inside that section's raw data.
bool ExeImageParser::resolveData(uint32_t rva, uint32_t size, uint64_t* fileOffset) const {
    *fileOffset = 0;
    if (size == 0) return true;
    const ExeSection* s = sectionContaining(rva, nullptr);
    if (!s) {
        for (int i = 0; i < img_.sections_.count() && !s; i++)
            if (img_.sections_.get(i)->nameStartsWith(".rsrc")) s = img_.sections_.get(i);
        if (!s || rva < s->virtualAddress()) return false;
    }
    uint32_t off = rva - s->virtualAddress();
    uint32_t raw = s->sourceSizeOfRawData;
    if (s->sourcePointerToRawData == 0 || off > raw || size > raw - off) return false;
    *fileOffset = uint64_t(s->sourcePointerToRawData) + off;
    return file_.contains(*fileOffset, size);
}

bool ExeImageParser::parseResources() {
    uint32_t rva = 0, size = 0;
    if (!img_.ntHeaders_.dataDirectory(2, &rva, &size) || rva == 0) return true;
    int index = -1;
    const ExeSection* s = sectionContaining(rva, &index);
    if (!s) return true;  // an address in no section: the image has no tree

    uint32_t off = rva - s->virtualAddress();
    if (s->sourcePointerToRawData == 0 || off >= s->sourceSizeOfRawData)
        return fail("Resource directory lies outside the resource section");
    rsrc_ = file_.sub(uint64_t(s->sourcePointerToRawData) + off, s->sourceSizeOfRawData - off);
    // Every directory entry takes 8 bytes of the section, so a well-formed
    // tree never has more entries than this; overlapping tables that are
    // read again and again would.
    entryBudget_ = rsrc_.size() / 8;
    DataBuffer bits(uint32_t(rsrc_.size() / 8 + 1));
    visited_.takeFrom(bits);

    auto* root = new ExeResource;
    root->isDirectory = true;
    img_.resources_ = root;
    img_.resourceSection_ = index;
    return parseDirectory(0, 0, root);
}

bool ExeImageParser::markVisited(uint32_t offset) {
    if (offset >= rsrc_.size()) return true;  // the header read fails next
    uint8_t& byte = visited_.data()[offset / 8];
    uint8_t bit = uint8_t(1u << (offset % 8));
    if (byte & bit) return false;
    byte |= bit;
    return true;
}

bool ExeImageParser::parseDirectory(uint32_t offset, uint32_t depth, ExeResource* dir) {
    if (depth > kMaxResourceDepth) return fail("Resource directory is nested too deeply");
    if (!markVisited(offset)) return fail("Resource directory is reached twice");
    const uint8_t* h = rsrc_.at(offset, 16);
    if (!h) return fail("Resource directory lies outside the resource section");
    dir->characteristics = loadLE32(h);
    dir->timeDateStamp = loadLE32(h + 4);
    dir->majorVersion = loadLE16(h + 8);
    dir->minorVersion = loadLE16(h + 10);
    uint32_t namedCount = loadLE16(h + 12);
    uint32_t total = namedCount + loadLE16(h + 14);
    if (total > entryBudget_) return fail("Resource directory has more entries than its section can hold");
    entryBudget_ -= total;
    // Copied: reading the children below reuses the window.
    const uint8_t* table = rsrc_.at(uint64_t(offset) + 16, uint64_t(total) * 8);
    if (!table) return fail("Resource directory lies outside the resource section");
    const std::vector<uint8_t> copy(table, table + size_t(total) * 8);
    const uint8_t* entries = copy.data();

    for (uint32_t i = 0; i < total; i++) {
        uint32_t w1 = loadLE32(entries + 8 * i);
        uint32_t w2 = loadLE32(entries + 8 * i + 4);
        // Owned by the tree at once, so a failure below leaks nothing.
        auto* child = new ExeResource;
        (i < namedCount ? dir->namedChildren : dir->idChildren).append(child);
        if (w1 & kHighBit) {
            if (!parseName(w1 & ~kHighBit, child)) return false;
        } else {
            child->id = uint16_t(w1);
        }
        if (w2 & kHighBit) {
            child->isDirectory = true;
            if (!parseDirectory(w2 & ~kHighBit, depth + 1, child)) return false;
        } else if (!parseDataEntry(w2, child)) {
            return false;
        }
    }
    return true;
}

bool ExeImageParser::parseName(uint32_t offset, ExeResource* node) {
    node->isNamed = true;
    uint16_t count = 0;
    const uint8_t* chars = nullptr;
    if (!rsrc_.u16(offset, &count) || !(chars = rsrc_.at(uint64_t(offset) + 2, uint64_t(count) * 2)))
        return fail("Resource name lies outside the resource section");
    if (count == 0) return true;
    std::unique_ptr<char16_t[]> wide(new char16_t[count]);
    for (uint32_t i = 0; i < count; i++) wide[i] = char16_t(loadLE16(chars + 2 * i));
    int n = platform::wideToAnsi(wide.get(), count, nullptr, 0);
    if (n <= 0) return true;  // nothing representable: the name stays empty
    std::unique_ptr<char[]> ansi(new char[size_t(n)]);
    n = platform::wideToAnsi(wide.get(), count, ansi.get(), n);
    uint32_t len = 0;
    while (len < uint32_t(n) && len < kMaxNameChars && ansi[len] != 0) len++;
    node->name.appendBytes(ansi.get(), int(len));
    return true;
}

bool ExeImageParser::parseDataEntry(uint32_t offset, ExeResource* leaf) {
    const uint8_t* e = rsrc_.at(offset, 16);
    if (!e) return fail("Resource data entry lies outside the resource section");
    uint32_t rva = loadLE32(e);
    leaf->dataSize = loadLE32(e + 4);
    leaf->codePage = loadLE32(e + 8);
    leaf->reserved = loadLE32(e + 12);
    if (!resolveData(rva, leaf->dataSize, &leaf->sourceOffset)) return fail("Resource data lies outside its section");
    // An image in memory points at its bytes. A file's small leaves are
    // read now, up to a budget; larger ones stay where they are until they
    // are asked for.
    const bool inMemory = img_.view_ != nullptr || leaf->dataSize == 0;
    leaf->dataKind = inMemory ? ExeResource::DataKind::View : ExeResource::DataKind::Source;
    leaf->viewData = img_.view_ && leaf->dataSize ? img_.view_ + leaf->sourceOffset : nullptr;
    if (!inMemory && leaf->dataSize <= kLeafReadAtLoad && leaf->dataSize <= readBudget_) {
        readBudget_ -= leaf->dataSize;
        if (!img_.leafData(leaf, nullptr)) return fail("Failed to read resource data");
    }
    return true;
}

// ---- Loading ---------------------------------------------------------------

bool ExeImage::parse(const char* name, LogBase& log) {
    ExeImageParser parser(*this, name, log);
    return parser.run();
}

ExeImage* ExeImage::loadFromFile(const char* path, LogBase* log) {
    LogBase& lg = logOrNull(log);
    const char* shown = path ? path : "";
    std::unique_ptr<ExeImage> img(new ExeImage);
    auto fail = [&](const char* message) -> ExeImage* {
        lg.logError(message);
        lg.logData("filename", shown);
        return nullptr;  // img's destructor closes what is open
    };

    img->fileHandle_ = path ? platform::openFile(path, platform::OpenMode::ReadExisting) : platform::kInvalidFile;
    if (img->fileHandle_ == platform::kInvalidFile) return fail("Failed to open file");
    uint64_t size = 0;
    if (!platform::fileSize(img->fileHandle_, &size)) return fail("Failed to get file size");
    if (size > UINT32_MAX) return fail("File is too large");

    img->source_.reset(new FileByteSource(img->fileHandle_, 0, size, false));
    img->sourceSize_ = uint32_t(size);
    img->fileSize_ = uint32_t(size);
    if (!img->parse(shown, lg)) return nullptr;
    return img.release();
}

ExeImage* ExeImage::loadFromMemory(const uint8_t* data, uint32_t size, const char* name, LogBase* log) {
    LogBase& lg = logOrNull(log);
    std::unique_ptr<ExeImage> img(new ExeImage);
    img->view_ = data;
    img->sourceSize_ = data ? size : 0;
    img->fileSize_ = img->sourceSize_;
    img->source_.reset(new MemoryByteSource(data, img->sourceSize_));
    if (!img->parse(name ? name : "", lg)) return nullptr;
    return img.release();
}
