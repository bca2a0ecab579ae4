// The PE image model: header accessors, resource tree nodes, progress,
// and the tree operations (find, add, remove).
#include "exeimage/exe_image.h"

#include <cstring>

#include "support/log_base.h"

// ---- Progress --------------------------------------------------------------

ProgressSink::~ProgressSink() = default;

ProgressMonitor::ProgressMonitor(uint32_t total, ProgressSink* sink, uint32_t value1, uint32_t value2)
    : total_(total), value1_(value1), value2_(value2), sink_(sink) {}

uint32_t ProgressMonitor::percent() const {
    if (total_ == 0) return 100;
    uint32_t done = done_;
    uint32_t total = total_;
    while (total > 1000000) {
        done /= 10;
        total /= 10;
    }
    // total is at least 100000 here (or the original small total), done
    // at most total, so done * 100 fits easily.
    return uint32_t(uint64_t(done) * 100 / total);
}

void ProgressMonitor::advance(uint64_t n) {
    uint64_t room = uint64_t(total_) - done_;
    done_ += uint32_t(n < room ? n : room);
    report();
}

void ProgressMonitor::finish() {
    done_ = total_;
    report();
}

void ProgressMonitor::report() {
    uint32_t p = percent();
    if (p <= lastPercent_) return;
    lastPercent_ = p;
    if (sink_) {
        bool abort = false;
        sink_->progress(value1_, value2_, p, &abort);
    }
}

// ---- Headers ---------------------------------------------------------------

namespace {
constexpr uint32_t kOptionalOffset = 24;  // signature + file header
}

uint32_t ExeNtHeader::u32At(uint32_t off) const {
    uint32_t v = 0;
    ByteView(bytes.data(), bytes.length()).u32(off, &v);
    return v;
}

uint16_t ExeNtHeader::numberOfSections() const {
    uint16_t v = 0;
    ByteView(bytes.data(), bytes.length()).u16(6, &v);
    return v;
}

uint16_t ExeNtHeader::sizeOfOptionalHeader() const {
    uint16_t v = 0;
    ByteView(bytes.data(), bytes.length()).u16(20, &v);
    return v;
}

uint16_t ExeNtHeader::magic() const {
    uint16_t v = 0;
    ByteView(bytes.data(), bytes.length()).u16(kOptionalOffset, &v);
    return v;
}

bool ExeNtHeader::isPe32Plus() const { return magic() == kMagicPe32Plus; }

uint32_t ExeNtHeader::sectionAlignment() const { return u32At(kOptionalOffset + 32); }
uint32_t ExeNtHeader::fileAlignment() const { return u32At(kOptionalOffset + 36); }
uint32_t ExeNtHeader::sizeOfImage() const { return u32At(kOptionalOffset + 56); }

void ExeNtHeader::setSizeOfImage(uint32_t v) {
    if (bytes.length() >= kOptionalOffset + 60) storeLE32(bytes.data() + kOptionalOffset + 56, v);
}

uint32_t ExeNtHeader::numberOfRvaAndSizes() const {
    return u32At(kOptionalOffset + (isPe32Plus() ? kFixedPe32Plus : kFixedPe32) - 4);
}

bool ExeNtHeader::dataDirectory(uint32_t i, uint32_t* rva, uint32_t* size) const {
    *rva = 0;
    *size = 0;
    uint32_t fixed = isPe32Plus() ? kFixedPe32Plus : kFixedPe32;
    uint32_t optSize = sizeOfOptionalHeader();
    if (optSize < fixed || i >= numberOfRvaAndSizes() || i >= (optSize - fixed) / 8) return false;
    ByteView v(bytes.data(), bytes.length());
    uint32_t off = kOptionalOffset + fixed + 8 * i;
    return v.u32(off, rva) && v.u32(off + 4, size);
}

void ExeSection::name(char out[9]) const {
    std::memcpy(out, header, 8);
    out[8] = 0;
}

bool ExeSection::nameIs(const char* n) const {
    size_t len = std::strlen(n);
    if (len > 8 || std::memcmp(header, n, len) != 0) return false;
    for (size_t i = len; i < 8; i++)
        if (header[i] != 0) return false;
    return true;
}

bool ExeSection::nameStartsWith(const char* prefix) const {
    size_t len = std::strlen(prefix);
    return len <= 8 && std::memcmp(header, prefix, len) == 0;
}

// ---- Resource nodes --------------------------------------------------------

ExeResource::ExeResource() = default;

ExeResource::~ExeResource() {
    namedChildren.deleteAll();
    idChildren.deleteAll();
}

const uint8_t* ExeResource::dataPointer() const {
    if (isDirectory) return nullptr;
    switch (dataKind) {
        case DataKind::View: return viewData;
        case DataKind::Owned: return ownedData.data();
        case DataKind::File:
        case DataKind::Source: return nullptr;
    }
    return nullptr;
}

void ExeResource::replaceData(const DataBuffer& buffer) {
    if (isDirectory || buffer.isEmpty()) return;
    DataBuffer copy;
    copy.appendExact(buffer.data(), buffer.length());
    ownedData.takeFrom(copy);
    dataFromFile.clear();
    viewData = nullptr;
    dataKind = DataKind::Owned;
    dataSize = buffer.length();
}

// ---- Image -----------------------------------------------------------------

ExeImage::~ExeImage() {
    source_.reset();
    if (fileHandle_ != platform::kInvalidFile) platform::closeFile(fileHandle_);
    delete resources_;
}

namespace {

constexpr uint16_t kTypeIcon = 3;
constexpr uint16_t kTypeRcData = 10;
constexpr uint16_t kTypeGroupIcon = 14;
constexpr uint16_t kLanguageOfAddedData = 1;

bool nameMatches(const ExeResource* node, const char* name) {
    return node->isNamed && node->name.equals(name);
}

// One level of the named search: a matching named child with at least one
// id child gives its first id child, unwrapped once more if that one has id
// children itself; otherwise the id children are searched in order, and a
// result found there is unwrapped once if it has id children.
ExeResource* searchNamed(const ExeResource* dir, const char* name) {
    for (int i = 0; i < dir->namedCount(); i++) {
        ExeResource* child = dir->namedChild(i);
        if (!nameMatches(child, name) || child->idCount() == 0) continue;
        ExeResource* r = child->idChild(0);
        if (r->idCount() > 0) r = r->idChild(0);
        return r;
    }
    for (int i = 0; i < dir->idCount(); i++) {
        ExeResource* r = searchNamed(dir->idChild(i), name);
        if (!r) continue;
        if (r->idCount() > 0) r = r->idChild(0);
        return r;
    }
    return nullptr;
}

void removeNamedFrom(ExeResource* dir, const char* name) {
    for (int i = 0; i < dir->namedCount();) {
        if (nameMatches(dir->namedChild(i), name)) {
            delete dir->namedChildren.removeAt(i);
        } else {
            i++;
        }
    }
    for (int i = 0; i < dir->namedCount(); i++) removeNamedFrom(dir->namedChild(i), name);
    for (int i = 0; i < dir->idCount(); i++) removeNamedFrom(dir->idChild(i), name);
}

}  // namespace

ExeResource* ExeImage::findNamedResource(const char* name) {
    if (!resources_) return nullptr;
    return searchNamed(resources_, name ? name : "");
}

bool ExeImage::findNamedResourceData(const char* name, const uint8_t** data, uint32_t* size, LogBase* log) {
    LogBase& lg = logOrNull(log);
    *data = nullptr;
    *size = 0;
    ExeResource* r = findNamedResource(name);
    if (!r) {
        lg.logError("Failed to find named resource");
        lg.logData("resourceName", name ? name : "");
        return false;
    }
    if (r->isDirectory || r->dataKind == ExeResource::DataKind::File) {
        lg.logError("Named resource has no data in memory");
        lg.logData("resourceName", name ? name : "");
        return false;
    }
    const uint8_t* p = leafData(r, &lg);
    if (!p && r->dataSize) {
        lg.logData("resourceName", name ? name : "");
        return false;
    }
    *data = p;
    *size = r->dataSize;
    return true;
}

bool ExeImage::readSource(uint64_t off, void* out, uint64_t n) {
    if (!source_ || off > sourceSize_ || n > sourceSize_ - off) return false;
    return source_->read(off, out, size_t(n));
}

const uint8_t* ExeImage::leafData(ExeResource* leaf, LogBase* log) {
    if (!leaf || leaf->isDirectory || leaf->dataKind == ExeResource::DataKind::File) {
        logOrNull(log).logError("Resource has no data in memory");
        return nullptr;
    }
    if (leaf->dataKind == ExeResource::DataKind::Source && leaf->dataSize) {
        DataBuffer bytes(leaf->dataSize);
        uint8_t chunk[65536];
        for (uint32_t done = 0; done < leaf->dataSize;) {
            uint32_t n = leaf->dataSize - done < sizeof chunk ? leaf->dataSize - done : uint32_t(sizeof chunk);
            if (!readSource(leaf->sourceOffset + done, chunk, n)) {
                logOrNull(log).logError("Failed to read resource data");
                return nullptr;
            }
            bytes.append(chunk, n);
            done += n;
        }
        leaf->ownedData.takeFrom(bytes);
        leaf->dataKind = ExeResource::DataKind::Owned;
    }
    return leaf->dataPointer();
}

std::unique_ptr<ByteSource> ExeImage::openLeaf(const ExeResource* leaf) {
    if (!leaf || leaf->isDirectory || leaf->dataKind == ExeResource::DataKind::File) return nullptr;
    if (leaf->dataKind == ExeResource::DataKind::Source)
        return std::unique_ptr<ByteSource>(
            new FileByteSource(fileHandle_, leaf->sourceOffset, leaf->dataSize, false));
    return std::unique_ptr<ByteSource>(new MemoryByteSource(leaf->dataPointer(), leaf->dataSize));
}

ExeResource* ExeImage::findTypeDirectory(uint16_t type) const {
    if (!resources_) return nullptr;
    for (int i = 0; i < resources_->idCount(); i++) {
        ExeResource* t = resources_->idChild(i);
        if (t->isDirectory && !t->isNamed && t->id == type) return t;
    }
    return nullptr;
}

ExeResource* ExeImage::firstLeafOfType(uint16_t type) const {
    ExeResource* t = findTypeDirectory(type);
    if (!t) return nullptr;
    ExeResource* res = t->idChild(0);
    if (!res) return nullptr;
    ExeResource* leaf = res->idChild(0);
    return leaf && !leaf->isDirectory ? leaf : nullptr;
}

ExeResource* ExeImage::findFirstIconLeaf() { return firstLeafOfType(kTypeIcon); }
ExeResource* ExeImage::findFirstGroupIconLeaf() { return firstLeafOfType(kTypeGroupIcon); }

bool ExeImage::addNamed(const char* name, ExeResource* leaf) {
    ExeResource* type = findTypeDirectory(kTypeRcData);
    if (!type) {
        type = new ExeResource;
        type->isDirectory = true;
        type->id = kTypeRcData;
        resources_->idChildren.append(type);
    }
    leaf->id = kLanguageOfAddedData;
    auto* dir = new ExeResource;
    dir->isDirectory = true;
    dir->isNamed = true;
    dir->name.assign(name ? name : "");
    dir->idChildren.append(leaf);
    type->namedChildren.append(dir);
    return true;
}

bool ExeImage::addNamedData(const char* name, const void* bytes, uint32_t length, LogBase* log) {
    LogBase& lg = logOrNull(log);
    if (!resources_) {
        lg.logError("Resources pointer is NULL (3)");
        return false;
    }
    if (!bytes && length) {
        lg.logError("Resource data is NULL");
        lg.logData("resourceName", name ? name : "");
        return false;
    }
    auto* leaf = new ExeResource;
    leaf->dataKind = ExeResource::DataKind::Owned;
    leaf->ownedData.appendExact(bytes, length);
    leaf->dataSize = length;
    return addNamed(name, leaf);
}

bool ExeImage::addNamedFile(const char* name, const char* path, LogBase* log) {
    LogBase& lg = logOrNull(log);
    if (!resources_) {
        lg.logError("Resources pointer is NULL (1)");
        return false;
    }
    auto* leaf = new ExeResource;
    leaf->dataKind = ExeResource::DataKind::File;
    leaf->dataFromFile.assign(path ? path : "");
    return addNamed(name, leaf);
}

void ExeImage::removeNamed(const char* name) {
    if (resources_) removeNamedFrom(resources_, name ? name : "");
}
