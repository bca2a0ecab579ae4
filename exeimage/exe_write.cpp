// Writing: the resource section layout, the section relayout, and the
// writer that emits the headers, the copied sections, the rebuilt resource
// section and the overlay.
//
// The layout (every offset and size) is computed completely before the
// output file is created; the writer then emits the streams and checks at
// every node that it stands at the offset the layout gave it, so a size
// mistake is a reported failure rather than a corrupt file.
#include <cstring>
#include <memory>

#include "exeimage/exe_image.h"
#include "support/log_base.h"

namespace {

constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint32_t kMaxDirectoryOffset = 0x7FFFFFFFu;  // entry offsets carry 31 bits
constexpr uint32_t kFileChunk = 262144;  // file-backed resources stream in 256 KiB reads
constexpr uint32_t kOutputBuffer = 65536;
constexpr uint8_t kSectionFill = 'X';
constexpr uint32_t kMaxFileAlignment = 0x10000;

uint64_t roundUp(uint64_t v, uint32_t a) { return (v + a - 1) / a * a; }
bool isPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Calls f for node and every node below it: each node before
// its children, named children before id children, each list in order.
template <class F>
bool walk(ExeResource* node, F& f) {
    if (!f(node)) return false;
    for (int i = 0; i < node->namedCount(); i++)
        if (!walk(node->namedChild(i), f)) return false;
    for (int i = 0; i < node->idCount(); i++)
        if (!walk(node->idChild(i), f)) return false;
    return true;
}

// An output file that gathers small pieces and reports every write to the
// progress monitor. Callers flush at the end of each step so that a failed
// write is reported under the step that made it.
class OutputFile {
public:
    OutputFile(platform::FileHandle h, ProgressMonitor& progress) : h_(h), progress_(progress) {}
    ~OutputFile() { close(); }

    bool put(const void* data, uint32_t n) {
        if (n == 0) return true;
        if (n >= kOutputBuffer) return flush() && rawWrite(data, n);
        if (n > kOutputBuffer - used_ && !flush()) return false;
        std::memcpy(buffer_ + used_, data, n);
        used_ += n;
        return true;
    }
    bool fill(uint8_t byte, uint32_t n) {
        uint8_t block[512];
        std::memset(block, byte, sizeof block);
        while (n) {
            uint32_t k = n < sizeof block ? n : uint32_t(sizeof block);
            if (!put(block, k)) return false;
            n -= k;
        }
        return true;
    }
    bool flush() {
        uint32_t n = used_;
        used_ = 0;
        return rawWrite(buffer_, n);
    }
    bool seek(uint64_t pos) { return flush() && platform::seekFile(h_, pos); }
    void close() {
        if (h_ != platform::kInvalidFile) platform::closeFile(h_);
        h_ = platform::kInvalidFile;
    }

private:
    bool rawWrite(const void* data, uint32_t n) {
        if (n == 0) return true;
        uint32_t written = 0;
        bool ok = platform::writeFile(h_, data, n, &written);
        progress_.advance(written);
        return ok && written == n;
    }

    platform::FileHandle h_;
    ProgressMonitor& progress_;
    uint8_t buffer_[kOutputBuffer];
    uint32_t used_ = 0;
};

}  // namespace

class ExeImageWriter {
public:
    ExeImageWriter(ExeImage& image, LogBase& log) : img_(image), log_(log) {}

    bool layout(uint32_t sectionRva, uint32_t* size);
    bool write(const char* path, ProgressSink* sink);

private:
    // Each failure is its message, any details, then the output file name
    // (omitted when only the layout is asked for).
    bool fail(const char* message) {
        log_.logError(message);
        return withFileName();
    }
    bool withFileName() {
        if (path_) log_.logData("filename", path_);
        return false;
    }
    bool failSection(const char* message, const ExeSection& s) {
        char n[9];
        s.name(n);
        log_.logError(message);
        log_.logData("section_name", n);
        return withFileName();
    }
    bool failResource(const char* message, const ExeResource& leaf) {
        log_.logError(message);
        log_.logData("resource_file", leaf.dataFromFile.str());
        return withFileName();
    }
    bool failName(const char* message, const ExeResource& node) {
        log_.logError(message);
        log_.logData("resourceName", node.name.str());
        return withFileName();
    }
    bool measureFile(ExeResource& leaf);
    bool writeResourceSection(OutputFile& out, uint32_t rawSize);
    bool copyFile(OutputFile& out, const ExeResource& leaf);
    bool copySource(OutputFile& out, uint64_t offset, uint64_t size);

    ExeImage& img_;
    LogBase& log_;
    const char* path_ = nullptr;
};

bool ExeImageWriter::measureFile(ExeResource& leaf) {
    platform::FileHandle h = platform::openFile(leaf.dataFromFile.str(), platform::OpenMode::ReadExisting);
    if (h == platform::kInvalidFile) return failResource("Failed to open resource file", leaf);
    uint64_t size = 0;
    bool ok = platform::fileSize(h, &size);
    platform::closeFile(h);
    if (!ok) return failResource("Failed to get resource file size", leaf);
    if (size > UINT32_MAX) return failResource("Resource file is too large", leaf);
    leaf.dataSize = uint32_t(size);
    return true;
}

bool ExeImageWriter::layout(uint32_t sectionRva, uint32_t* size) {
    *size = 0;
    ExeResource* root = img_.resources_;
    if (!root) return fail("Image has no resource tree");
    uint64_t off = 0;
    bool tooLarge = false;

    auto directories = [&](ExeResource* n) {
        if (!n->isDirectory) return true;
        if (off > kMaxDirectoryOffset) return !(tooLarge = true);
        // The table counts its entries in 16 bits.
        if (n->namedCount() > 0xFFFF || n->idCount() > 0xFFFF) return fail("Resource directory has too many entries");
        n->directoryOffset = uint32_t(off);
        off += 16 + 8 * (uint64_t(n->namedCount()) + uint64_t(n->idCount()));
        return true;
    };
    auto dataEntries = [&](ExeResource* n) {
        if (n->isDirectory) return true;
        if (off > kMaxDirectoryOffset) return !(tooLarge = true);
        n->dataEntryOffset = uint32_t(off);
        off += 16;
        return true;
    };
    auto names = [&](ExeResource* n) {
        if (!n->isNamed) return true;
        if (off > kMaxDirectoryOffset) return !(tooLarge = true);
        uint32_t len = n->name.length();
        int units = len ? platform::ansiToWide(n->name.str(), int(len), nullptr, 0) : 0;
        if (len && units <= 0) return failName("Failed to convert resource name", *n);
        if (units > 0xFFFF) return failName("Resource name is too long", *n);
        n->nameUnits = uint32_t(units);
        n->nameOffset = uint32_t(off);
        off += 2 + 2 * uint64_t(units);
        return true;
    };
    auto data = [&](ExeResource* n) {
        if (n->isDirectory) return true;
        if (n->dataKind == ExeResource::DataKind::File && !measureFile(*n)) return false;
        if (off + sectionRva > UINT32_MAX) return !(tooLarge = true);
        n->dataOffset = uint32_t(off);
        off += n->dataSize;
        n->padCount = off % 8 ? uint32_t(8 - off % 8) : 0;
        off += n->padCount;
        return true;
    };

    bool ok = walk(root, directories) && walk(root, dataEntries) && walk(root, names) && walk(root, data);
    if (tooLarge || (ok && off > UINT32_MAX)) return fail("Resource section is too large");
    if (!ok) return false;
    *size = uint32_t(off);
    return true;
}

bool ExeImage::resourceLayoutSize(uint32_t sectionRva, uint32_t* size, LogBase* log) {
    ExeImageWriter w(*this, logOrNull(log));
    return w.layout(sectionRva, size);
}

bool ExeImageWriter::copyFile(OutputFile& out, const ExeResource& leaf) {
    platform::FileHandle h = platform::openFile(leaf.dataFromFile.str(), platform::OpenMode::ReadExisting);
    if (h == platform::kInvalidFile) return failResource("Failed to open resource file", leaf);
    uint64_t size = 0;
    bool ok = platform::fileSize(h, &size);
    if (ok && size != leaf.dataSize) {
        platform::closeFile(h);
        return failResource("Resource file size changed", leaf);
    }
    uint8_t chunk[kFileChunk];
    uint32_t left = leaf.dataSize;
    while (ok && left) {
        uint32_t got = 0;
        if (!platform::readFile(h, chunk, left < kFileChunk ? left : kFileChunk, &got)) {
            platform::closeFile(h);
            return failResource("Failed to read resource file", leaf);
        }
        if (got == 0) {
            platform::closeFile(h);
            return failResource("Resource file size changed", leaf);
        }
        if (!out.put(chunk, got)) {
            platform::closeFile(h);
            return fail("Failed to write resource section");
        }
        left -= got;
    }
    platform::closeFile(h);
    if (!ok) return failResource("Failed to get resource file size", leaf);
    return true;
}

// Source bytes [offset, offset + size) to the output, in pieces.
bool ExeImageWriter::copySource(OutputFile& out, uint64_t offset, uint64_t size) {
    std::unique_ptr<uint8_t[]> chunk(new uint8_t[kFileChunk]);
    while (size) {
        uint32_t n = size < kFileChunk ? uint32_t(size) : kFileChunk;
        if (!img_.readSource(offset, chunk.get(), n) || !out.put(chunk.get(), n)) return false;
        offset += n;
        size -= n;
    }
    return true;
}

// Four streams, each in the walk order of its layout pass, then 'X' up to
// the section's raw size. Every node is checked against the offset the
// layout gave it.
bool ExeImageWriter::writeResourceSection(OutputFile& out, uint32_t rawSize) {
    ExeResource* root = img_.resources_;
    uint32_t sectionRva = img_.sections_.get(img_.resourceSection_)->virtualAddress();
    uint64_t at = 0;
    bool writeFailed = false;
    bool mismatch = false;
    auto put = [&](const void* p, uint32_t n) {
        if (!out.put(p, n)) return !(writeFailed = true);
        at += n;
        return true;
    };
    auto entryWord1 = [](const ExeResource* c) { return c->isNamed ? (kHighBit | c->nameOffset) : uint32_t(c->id); };
    auto entryWord2 = [](const ExeResource* c) {
        return c->isDirectory ? (kHighBit | c->directoryOffset) : c->dataEntryOffset;
    };

    auto directories = [&](ExeResource* n) {
        if (!n->isDirectory) return true;
        if (at != n->directoryOffset) return !(mismatch = true);
        uint8_t h[16];
        storeLE32(h, n->characteristics);
        storeLE32(h + 4, n->timeDateStamp);
        storeLE16(h + 8, n->majorVersion);
        storeLE16(h + 10, n->minorVersion);
        storeLE16(h + 12, uint16_t(n->namedCount()));
        storeLE16(h + 14, uint16_t(n->idCount()));
        if (!put(h, 16)) return false;
        for (int pass = 0; pass < 2; pass++) {
            const ExtPtrArray& list = pass == 0 ? n->namedChildren : n->idChildren;
            for (int i = 0; i < list.count(); i++) {
                const ExeResource* c = list.at<ExeResource>(i);
                uint8_t e[8];
                storeLE32(e, entryWord1(c));
                storeLE32(e + 4, entryWord2(c));
                if (!put(e, 8)) return false;
            }
        }
        return true;
    };
    auto dataEntries = [&](ExeResource* n) {
        if (n->isDirectory) return true;
        if (at != n->dataEntryOffset) return !(mismatch = true);
        uint8_t e[16];
        storeLE32(e, sectionRva + n->dataOffset);
        storeLE32(e + 4, n->dataSize);
        storeLE32(e + 8, n->codePage);
        storeLE32(e + 12, n->reserved);
        return put(e, 16);
    };
    auto names = [&](ExeResource* n) {
        if (!n->isNamed) return true;
        if (at != n->nameOffset) return !(mismatch = true);
        uint8_t count[2];
        storeLE16(count, uint16_t(n->nameUnits));
        if (!put(count, 2)) return false;
        if (n->nameUnits == 0) return true;
        std::unique_ptr<char16_t[]> wide(new char16_t[n->nameUnits]);
        int got = platform::ansiToWide(n->name.str(), int(n->name.length()), wide.get(), int(n->nameUnits));
        if (got != int(n->nameUnits)) return !(mismatch = true);
        std::unique_ptr<uint8_t[]> le(new uint8_t[2 * size_t(n->nameUnits)]);
        for (uint32_t i = 0; i < n->nameUnits; i++) storeLE16(le.get() + 2 * i, uint16_t(wide[i]));
        return put(le.get(), 2 * n->nameUnits);
    };
    bool fileFailed = false;
    auto data = [&](ExeResource* n) {
        if (n->isDirectory) return true;
        if (at != n->dataOffset) return !(mismatch = true);
        if (n->dataKind == ExeResource::DataKind::File) {
            if (!copyFile(out, *n)) return !(fileFailed = true);
            at += n->dataSize;
        } else if (n->dataKind == ExeResource::DataKind::Source) {
            if (!copySource(out, n->sourceOffset, n->dataSize)) return !(writeFailed = true);
            at += n->dataSize;
        } else if (n->dataSize) {
            const uint8_t* p = n->dataPointer();
            if (!p) return !(mismatch = true);
            if (!put(p, n->dataSize)) return false;
        }
        static const uint8_t zeros[8] = {};
        return put(zeros, n->padCount);
    };

    bool ok = walk(root, directories) && walk(root, dataEntries) && walk(root, names) && walk(root, data);
    if (fileFailed) return false;  // already reported
    if (mismatch || (ok && at > rawSize)) return fail("Resource section layout mismatch");
    if (!ok || !out.fill(kSectionFill, uint32_t(rawSize - at)) || !out.flush())
        return fail("Failed to write resource section");
    return true;
}

bool ExeImageWriter::write(const char* path, ProgressSink* sink) {
    path_ = path ? path : "";
    ExeSectionTable& table = img_.sections_;
    const int count = table.count();
    const uint32_t sa = img_.ntHeaders_.sectionAlignment();
    const uint32_t fa = img_.ntHeaders_.fileAlignment();
    const uint32_t lfanew = img_.dosHeader_.e_lfanew();
    const uint32_t optSize = img_.ntHeaders_.sizeOfOptionalHeader();
    const uint64_t headersEnd = uint64_t(lfanew) + 24 + optSize + 40 * uint64_t(count);

    // ---- Checks that need nothing written --------------------------------
    if (count < 2) return fail("Image has fewer than two sections");
    // The source is read while the output is written: replacing it in
    // place would pull the bytes from under the copy.
    if (img_.fileHandle_ != platform::kInvalidFile && platform::sameFile(img_.fileHandle_, path_))
        return fail("Output file is the source file");
    // The alignments decide where everything after section 1 goes; values
    // the loader would refuse could place sections gigabytes away.
    if (!isPowerOfTwo(fa) || fa > kMaxFileAlignment) return fail("Invalid file alignment");
    if (!isPowerOfTwo(sa) || sa < fa) return fail("Invalid section alignment");
    for (int i = 0; i < count; i++)
        if (table.get(i)->virtualAddress() % sa != 0) return failSection("Section address is not aligned", *table.get(i));
    if (lfanew < sizeof img_.dosHeader_.bytes) return fail("NT header overlaps DOS header");
    if (headersEnd > table.get(0)->pointerToRawData()) return fail("Headers overlap section data");

    // ---- Resource layout -------------------------------------------------
    const int r = img_.resources_ ? img_.resourceSection_ : -1;
    uint64_t rsrcVirtualSize = 0, rsrcRawSize = 0;
    if (r >= 0) {
        ExeSection* s = table.get(r);
        uint32_t dirRva = 0, dirSize = 0;
        img_.ntHeaders_.dataDirectory(2, &dirRva, &dirSize);
        // The rebuilt tree starts at the section's first byte and the data
        // directory keeps its address, so the two must already agree.
        if (!s->nameIs(".rsrc") || dirRva != s->virtualAddress())
            return fail("Resource directory is not at the start of the .rsrc section");
        uint32_t size = 0;
        if (!layout(s->virtualAddress(), &size)) return false;
        rsrcVirtualSize = roundUp(size, 8);
        rsrcRawSize = roundUp(rsrcVirtualSize, sa);
        if (rsrcRawSize > UINT32_MAX) return fail("Image size exceeds 32 bits");
    }

    // ---- Section relayout, planned before anything changes ----------------
    std::unique_ptr<uint32_t[]> vs(new uint32_t[size_t(count)]), rawSize(new uint32_t[size_t(count)]),
        ptr(new uint32_t[size_t(count)]);
    for (int i = 0; i < count; i++) {
        vs[i] = table.get(i)->virtualSize();
        rawSize[i] = table.get(i)->sizeOfRawData();
        ptr[i] = table.get(i)->pointerToRawData();
    }
    if (r >= 0) {
        vs[r] = uint32_t(rsrcVirtualSize);
        rawSize[r] = uint32_t(rsrcRawSize);
    }
    if (r == 0) {
        // Section 1 never moves; a resized first section must still end
        // before it, in memory and in the file.
        const ExeSection* s0 = table.get(0);
        const ExeSection* s1 = table.get(1);
        if (roundUp(uint64_t(s0->virtualAddress()) + vs[0], sa) > s1->virtualAddress() ||
            (ptr[1] != 0 && uint64_t(ptr[0]) + rawSize[0] > ptr[1]))
            return failSection("Relayout would move section", *s1);
    }
    // A section without bytes in the source (pointer 0) takes no room in
    // the file. One that still declares a raw size keeps pointer 0 and that
    // size, as the source had them: the size is only a header value, and
    // filling it would let a few header bytes ask for gigabytes of zeros.
    auto noFileData = [&](int i) { return table.get(i)->sourcePointerToRawData == 0 && i != r; };
    auto keepsPointerZero = [&](int i) { return noFileData(i) && rawSize[i] != 0; };
    // Section 0 always has file data (the headers end before it).
    uint64_t raw = noFileData(1) ? uint64_t(ptr[0]) + rawSize[0] : uint64_t(ptr[1]) + rawSize[1];
    raw = roundUp(raw, fa);
    uint64_t virt = roundUp(uint64_t(table.get(1)->virtualAddress()) + vs[1], sa);
    for (int i = 2; i < count; i++) {
        const ExeSection* s = table.get(i);
        if (raw > UINT32_MAX || virt > UINT32_MAX) return fail("Image size exceeds 32 bits");
        // Moving a section in memory would break every reference into it.
        if (virt != s->virtualAddress()) return failSection("Relayout would move section", *s);
        virt = roundUp(virt + vs[i], sa);
        if (keepsPointerZero(i)) continue;
        ptr[i] = uint32_t(raw);
        raw = roundUp(raw + rawSize[i], fa);
    }
    if (virt > UINT32_MAX) return fail("Image size exceeds 32 bits");

    for (int i = 0; i < count; i++) {
        ExeSection* s = table.get(i);
        s->setVirtualSize(vs[i]);
        s->setSizeOfRawData(rawSize[i]);
        s->setPointerToRawData(ptr[i]);
    }
    img_.ntHeaders_.setSizeOfImage(uint32_t(virt));
    img_.fileSize_ = uint32_t(virt);

    // ---- Output ----------------------------------------------------------
    ProgressMonitor progress(img_.fileSize_, sink);
    platform::FileHandle h = platform::openFile(path_, platform::OpenMode::CreateAlways);
    if (h == platform::kInvalidFile) return fail("Failed to create file");
    std::unique_ptr<OutputFile> out(new OutputFile(h, progress));
    const uint8_t* nt = img_.ntHeaders_.bytes.data();

    if (!out->put(img_.dosHeader_.bytes, 64) || !out->flush()) return fail("Failed to write DOS header");
    if (!copySource(*out, 64, lfanew - 64) || !out->flush()) return fail("Failed to write DOS stub");
    if (!out->put(nt, 4) || !out->flush()) return fail("Failed to write Signature");
    if (!out->put(nt + 4, 20) || !out->flush()) return fail("Failed to write file header");
    if (!out->put(nt + 24, optSize) || !out->flush()) return fail("Failed to write optional header");
    for (int i = 0; i < count; i++)
        if (!out->put(table.get(i)->header, 40) || !out->flush()) return fail("Failed to write section header");
    uint32_t ptr0 = table.get(0)->pointerToRawData();
    if (ptr0 > headersEnd) {
        uint32_t n = uint32_t(ptr0 - headersEnd);
        if (!copySource(*out, headersEnd, n) || !out->flush()) return fail("Failed to write header padding");
    }

    for (int i = 0; i < count; i++) {
        const ExeSection* s = table.get(i);
        if (i == r) {
            if (!out->seek(s->pointerToRawData())) return failSection("Failed to seek to section data", *s);
            if (!writeResourceSection(*out, s->sizeOfRawData())) return false;
        } else if (s->sourcePointerToRawData != 0) {
            if (!out->seek(s->pointerToRawData())) return failSection("Failed to seek to section data", *s);
            if (!copySource(*out, s->sourcePointerToRawData, s->sourceSizeOfRawData) || !out->flush())
                return failSection("Failed to write section data", *s);
        }
    }

    if (!copySource(*out, img_.overlayOffset_, img_.overlaySize_) || !out->flush()) return fail("Failed to write overlay");
    out->close();
    progress.finish();
    return true;
}

bool ExeImage::writeToFile(const char* path, ProgressSink* sink, LogBase* log) {
    ExeImageWriter w(*this, logOrNull(log));
    return w.write(path, sink);
}
