// The PE image model: an executable opened from a file (PE32 or PE32+),
// its headers, section table and resource tree held in memory, named
// resources found, added and removed, and a new executable written with a
// rebuilt resource section while every other section, the DOS stub, the
// header padding and the overlay are copied from the source.
//
// A file is read by position, never mapped: loading reads the headers, the
// resource tree and its small leaves; a large resource's bytes stay in the
// file until someone asks for them (leafData, openLeaf), so a
// self-extractor of any size is opened in little memory and its payload
// streamed.
//
// Owns: ExeImage, ExeDosHeader, ExeNtHeader, ExeSectionTable, ExeSection,
// ExeResource, ProgressMonitor. Uses: support (buffers, log, platform,
// ByteView, ByteSource). Every read of the source is range-checked; a
// malformed file is a logged failure, never a read outside it.
#pragma once

#include <cstdint>

#include <memory>

#include "support/byte_reader.h"
#include "support/byte_source.h"
#include "support/data_buffer.h"
#include "support/ext_ptr_array.h"
#include "support/platform.h"
#include "support/string_buffer.h"
#include "support/varnock_object.h"

class LogBase;

// Receives the writer's progress. The two opaque values come back as they
// were handed to the monitor; setting *abort stops nothing yet (the writer
// has no cancellation), it is kept for sinks that expect it.
class ProgressSink {
public:
    virtual ~ProgressSink();
    virtual void progress(uint32_t value1, uint32_t value2, uint32_t percent, bool* abort) = 0;
};

// Turns byte counts into percentages for a sink. The percentage is 100
// when total is 0; otherwise done and total are scaled down by tens until
// total is at most 1,000,000, and the sink hears only about a percentage
// larger than the last one it heard (the first report is above 0).
class ProgressMonitor {
public:
    ProgressMonitor(uint32_t total, ProgressSink* sink, uint32_t value1 = 0, uint32_t value2 = 0);
    // Adds n to done (clamped to total) and reports when the percentage grew.
    void advance(uint64_t n);
    // Reports the rest up to total.
    void finish();
    uint32_t percent() const;
    uint32_t total() const { return total_; }
    uint32_t done() const { return done_; }

private:
    void report();
    uint32_t total_;
    uint32_t done_ = 0;
    uint32_t value1_, value2_;
    ProgressSink* sink_;
    uint32_t lastPercent_ = 0;
};

class ExeDosHeader {
public:
    uint8_t bytes[64] = {};
    uint32_t e_lfanew() const { return loadLE32(bytes + 60); }
};

// Signature, file header and the whole optional header as the file has it
// (4 + 20 + SizeOfOptionalHeader bytes: 224 optional bytes for PE32, 240
// for PE32+ with 16 directories). The accessors return 0 / false for
// fields the copy does not hold.
class ExeNtHeader {
public:
    static constexpr uint16_t kMagicPe32 = 0x10b;
    static constexpr uint16_t kMagicPe32Plus = 0x20b;
    // Optional-header bytes before the data directories.
    static constexpr uint32_t kFixedPe32 = 96;
    static constexpr uint32_t kFixedPe32Plus = 112;

    DataBuffer bytes;
    uint16_t numberOfSections() const;
    uint16_t sizeOfOptionalHeader() const;
    uint16_t magic() const;
    bool isPe32Plus() const;
    uint32_t sectionAlignment() const;
    uint32_t fileAlignment() const;
    uint32_t sizeOfImage() const;
    void setSizeOfImage(uint32_t v);
    uint32_t numberOfRvaAndSizes() const;
    // Data-directory entry i; false when the optional header has none
    // (beyond NumberOfRvaAndSizes or beyond SizeOfOptionalHeader).
    bool dataDirectory(uint32_t i, uint32_t* rva, uint32_t* size) const;

private:
    uint32_t u32At(uint32_t off) const;
};

class ExeSection : public VarnockObject {
public:
    uint8_t header[40] = {};
    // Where the section's contents lie in the source file. The relayout
    // moves PointerToRawData in the header; the writer still copies from
    // here.
    uint32_t sourcePointerToRawData = 0;
    uint32_t sourceSizeOfRawData = 0;

    // Name as text (at most 8 characters, stops at the first zero).
    void name(char out[9]) const;
    // The whole 8-byte name field equals n (zero-padded).
    bool nameIs(const char* n) const;
    // The name field begins with the given characters.
    bool nameStartsWith(const char* prefix) const;
    uint32_t virtualSize() const { return loadLE32(header + 8); }
    uint32_t virtualAddress() const { return loadLE32(header + 12); }
    uint32_t sizeOfRawData() const { return loadLE32(header + 16); }
    uint32_t pointerToRawData() const { return loadLE32(header + 20); }
    void setVirtualSize(uint32_t v) { storeLE32(header + 8, v); }
    void setVirtualAddress(uint32_t v) { storeLE32(header + 12, v); }
    void setSizeOfRawData(uint32_t v) { storeLE32(header + 16, v); }
    void setPointerToRawData(uint32_t v) { storeLE32(header + 20, v); }
    // VirtualSize, or SizeOfRawData when VirtualSize is 0.
    uint32_t extent() const { return virtualSize() ? virtualSize() : sizeOfRawData(); }
};

class ExeSectionTable {
public:
    ExeSectionTable() = default;
    ExeSectionTable(const ExeSectionTable&) = delete;
    ExeSectionTable& operator=(const ExeSectionTable&) = delete;
    ~ExeSectionTable() { sections.deleteAll(); }
    int count() const { return sections.count(); }
    ExeSection* get(int i) const { return sections.at<ExeSection>(i); }  // null outside
    ExtPtrArray sections;
};

class ExeResource : public VarnockObject {
public:
    enum class DataKind { View, Owned, File, Source };

    ExeResource();
    ~ExeResource() override;

    bool isDirectory = false;
    bool isNamed = false;
    StringBuffer name;
    uint16_t id = 0;

    // Directory header as read (zero for directories created here).
    uint32_t characteristics = 0;
    uint32_t timeDateStamp = 0;
    uint16_t majorVersion = 0;
    uint16_t minorVersion = 0;
    ExtPtrArray namedChildren;
    ExtPtrArray idChildren;

    // Leaf data: a pointer into the source bytes of an image loaded from
    // memory (not owned), an owned copy, a file whose whole content is
    // written, or bytes still in the source file of an image loaded from a
    // file (at sourceOffset; ExeImage::leafData reads them). A file-backed
    // leaf's dataSize is its file's size as measured by the last layout.
    DataKind dataKind = DataKind::View;
    const uint8_t* viewData = nullptr;
    uint64_t sourceOffset = 0;
    DataBuffer ownedData;
    StringBuffer dataFromFile;
    uint32_t dataSize = 0;
    uint32_t codePage = 0;
    uint32_t reserved = 0;

    // Layout, offsets from the start of the resource section.
    uint32_t directoryOffset = 0;
    uint32_t dataEntryOffset = 0;
    uint32_t nameOffset = 0;
    uint32_t dataOffset = 0;
    uint32_t padCount = 0;
    uint32_t nameUnits = 0;  // UTF-16 length of the name as written

    int namedCount() const { return namedChildren.count(); }
    int idCount() const { return idChildren.count(); }
    ExeResource* namedChild(int i) const { return namedChildren.at<ExeResource>(i); }
    ExeResource* idChild(int i) const { return idChildren.at<ExeResource>(i); }
    // Pointer to the leaf's bytes in memory (view or owned); null for a
    // leaf whose bytes are in a file, a directory, or an empty view leaf.
    const uint8_t* dataPointer() const;
    // Leaf operation: an owned copy of a non-empty buffer replaces the data
    // (a file path is dropped). An empty buffer, or a directory, is left as
    // it is.
    void replaceData(const DataBuffer& buffer);
};

class ExeImage {
public:
    ~ExeImage();
    ExeImage(const ExeImage&) = delete;
    ExeImage& operator=(const ExeImage&) = delete;

    // Opens the file and parses its headers and resource tree, reading by
    // position; the file stays open for the image's life. Returns a new
    // image the caller owns, or null after logging why.
    static ExeImage* loadFromFile(const char* path, LogBase* log);
    // The same parse over bytes that the caller keeps alive for the life of
    // the image (tests, fuzzing, a module already in memory). The name
    // stands in for the file name in messages.
    static ExeImage* loadFromMemory(const uint8_t* data, uint32_t size, const char* name, LogBase* log);

    // The data of the node findNamedResource settles on, read into memory
    // when it is still in the source file (leafData). Fails (outputs 0)
    // when no node has the name, or when the node found is a directory, a
    // leaf whose data comes from another file, or cannot be read.
    bool findNamedResourceData(const char* name, const uint8_t** data, uint32_t* size, LogBase* log);
    // The node the named search settles on (null when missing), for
    // callers that need more than the bytes.
    ExeResource* findNamedResource(const char* name);
    // A leaf's bytes in memory: those of the source file are read once and
    // kept (the leaf becomes owned). Null, after logging, for a directory, a
    // leaf of another file, or a failed read; null without a log for an
    // empty leaf.
    const uint8_t* leafData(ExeResource* leaf, LogBase* log);
    // A leaf's bytes as a source read by position, for data too large to
    // hold (a self-extractor's payload); null for a directory or a leaf of
    // another file. The image must outlive the source.
    std::unique_ptr<ByteSource> openLeaf(const ExeResource* leaf);
    // First language leaf of the first numbered resource of type 3 / 14.
    ExeResource* findFirstIconLeaf();
    ExeResource* findFirstGroupIconLeaf();
    bool addNamedData(const char* name, const void* bytes, uint32_t length, LogBase* log);
    bool addNamedFile(const char* name, const char* path, LogBase* log);
    void removeNamed(const char* name);
    // Lays out the resource tree, moves the sections after the second one
    // in the file (never in memory: a layout that would change a section's
    // address is refused), and writes the headers, the sections (the
    // resource section rebuilt, the others copied from the source) and the
    // overlay. Everything that can be checked is checked before the output
    // is created; a failure after that leaves a partial file.
    bool writeToFile(const char* path, ProgressSink* sink, LogBase* log);

    // Size of the resource section the current tree lays out to (computes
    // the layout with the given section address as the data base, and
    // measures file-backed leaves). False, after logging, when the tree
    // cannot be laid out or there is no tree.
    bool resourceLayoutSize(uint32_t sectionRva, uint32_t* size, LogBase* log);

    uint32_t fileSize() const { return fileSize_; }
    const ExeDosHeader& dosHeader() const { return dosHeader_; }
    const ExeNtHeader& ntHeaders() const { return ntHeaders_; }
    const ExeSectionTable& sections() const { return sections_; }
    ExeResource* resources() const { return resources_; }
    // Index of the section that holds the resource tree, -1 without a tree.
    int resourceSectionIndex() const { return resourceSection_; }
    uint64_t overlayOffset() const { return overlayOffset_; }
    uint32_t overlaySize() const { return overlaySize_; }

private:
    ExeImage() = default;
    bool parse(const char* name, LogBase& log);
    ExeResource* findTypeDirectory(uint16_t type) const;
    ExeResource* firstLeafOfType(uint16_t type) const;
    bool addNamed(const char* name, ExeResource* leaf);
    // Exactly n source bytes at off (range-checked against the source).
    bool readSource(uint64_t off, void* out, uint64_t n);

    platform::FileHandle fileHandle_ = platform::kInvalidFile;
    std::unique_ptr<ByteSource> source_;  // the file, or the bytes loadFromMemory was given
    const uint8_t* view_ = nullptr;       // those bytes (null for a file)
    uint32_t sourceSize_ = 0;             // size of the source, never changed
    uint32_t fileSize_ = 0;    // source size; the progress total after the relayout
    uint32_t ntHeadersOffset_ = 0;
    uint64_t overlayOffset_ = 0;
    uint32_t overlaySize_ = 0;
    ExeDosHeader dosHeader_;
    ExeNtHeader ntHeaders_;
    ExeSectionTable sections_;
    ExeResource* resources_ = nullptr;
    int resourceSection_ = -1;

    friend class ExeImageParser;
    friend class ExeImageWriter;
    friend class SourceWindow;
};
