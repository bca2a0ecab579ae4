#include "sfxformat/sfx_format.h"

#include <cstring>

#include "exeimage/exe_image.h"

// ---- The stubs in their carrier ---------------------------------------------

bool findStubResource(ExeImage& module, uint16_t id, const uint8_t** data, uint32_t* size) {
    *data = nullptr;
    *size = 0;
    const ExeResource* root = module.resources();
    if (!root) return false;
    // Only the root's named entries are types; a "VARNOCK" name further
    // down is some other resource.
    const ExeResource* type = nullptr;
    for (int i = 0; i < root->namedCount() && !type; i++) {
        const ExeResource* t = root->namedChild(i);
        if (t->isDirectory && t->name.equals(kStubResourceType)) type = t;
    }
    if (!type) return false;
    const ExeResource* resource = nullptr;
    for (int i = 0; i < type->idCount() && !resource; i++) {
        const ExeResource* r = type->idChild(i);
        if (r->isDirectory && (id == 0 || r->id == id)) resource = r;
    }
    if (!resource || resource->idCount() == 0) return false;
    ExeResource* leaf = resource->idChild(0);
    // Read into memory (a stub is small); an empty stub is no stub.
    const uint8_t* p = leaf->isDirectory ? nullptr : module.leafData(leaf, nullptr);
    if (!p || leaf->dataSize == 0) return false;
    *data = p;
    *size = leaf->dataSize;
    return true;
}

// ---- Parameter resources --------------------------------------------------------

const std::vector<SfxParameter>& sfxWriteOrder(bool encrypted) {
    using P = SfxParameter;
    static const std::vector<SfxParameter> plain = {P::Program,    P::AppTitle,    P::ProgressCaption, P::UnzipDir,
                                                    P::AutoParams, P::NoInterface, P::Zip};
    static const std::vector<SfxParameter> withEncryption = {P::Encrypted,  P::AppTitle,    P::ProgressCaption,
                                                             P::UnzipDir,   P::AutoParams,  P::NoInterface,
                                                             P::Program,    P::Zip};
    return encrypted ? withEncryption : plain;
}

const char* sfxParameterName(SfxParameter parameter, bool programFromTemp) {
    switch (parameter) {
        case SfxParameter::Encrypted: return SfxResource::kEncrypted;
        case SfxParameter::Program: return programFromTemp ? SfxResource::kAutotemp : SfxResource::kAutorun;
        case SfxParameter::AppTitle: return SfxResource::kAppTitle;
        case SfxParameter::ProgressCaption: return SfxResource::kProgressCaption;
        case SfxParameter::UnzipDir: return SfxResource::kUnzipDir;
        case SfxParameter::AutoParams: return SfxResource::kAutoParams;
        case SfxParameter::NoInterface: return SfxResource::kNoInterface;
        case SfxParameter::Zip: return SfxResource::kZip;
    }
    return "";
}

// ---- The "encrypted" resource -----------------------------------------------------

void encodeEncryptedResource(const EncryptedResource& in, uint8_t out[kEncryptedResourceSize]) {
    storeLE32(out, in.keyBits);
    std::memcpy(out + 4, in.checkBlock, sizeof in.checkBlock);
}

bool decodeEncryptedResource(ByteView bytes, EncryptedResource* out) {
    *out = EncryptedResource();
    if (bytes.size() != kEncryptedResourceSize) return false;
    return bytes.u32(0, &out->keyBits) && bytes.copy(4, out->checkBlock, sizeof out->checkBlock);
}

bool isPayloadKeyLength(uint32_t bits) { return bits == 128 || bits == 192 || bits == 256; }

// ---- Reading them back -----------------------------------------------------------

namespace {

// The bytes of a named resource. False when the name is missing or leads
// to no leaf with bytes in memory (a directory): such a resource reads as
// absent.
bool resourceBytes(ExeImage& image, const char* name, ByteView* out) {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    if (!image.findNamedResourceData(name, &data, &size, nullptr)) return false;
    if (!data && size) return false;
    *out = ByteView(data, size);
    return true;
}

// A text value: the bytes up to the first zero byte, or all of them when
// there is none.
void readText(const ByteView& bytes, StringBuffer& out) {
    out.clear();
    if (bytes.size() == 0) return;
    const void* zero = std::memchr(bytes.data(), 0, size_t(bytes.size()));
    uint64_t length = zero ? uint64_t(static_cast<const uint8_t*>(zero) - bytes.data()) : bytes.size();
    for (uint64_t at = 0; at < length;) {
        uint64_t piece = length - at < (1u << 30) ? length - at : (1u << 30);
        out.appendBytes(bytes.at(at, piece), int(piece));
        at += piece;
    }
}

// Present when it exists and its text is not empty.
void readTextIfNotEmpty(ExeImage& image, const char* name, StringBuffer& out) {
    ByteView bytes;
    out.clear();
    if (resourceBytes(image, name, &bytes)) readText(bytes, out);
}

}  // namespace

void readStubParameters(ExeImage& image, StubParameters& out) {
    ByteView bytes;

    // The payload stays where it is; only where it lies is noted.
    const ExeResource* zip = image.findNamedResource(SfxResource::kZip);
    out.hasZip = zip && !zip->isDirectory && zip->dataKind != ExeResource::DataKind::File;
    out.zipSize = out.hasZip ? zip->dataSize : 0;
    out.image = &image;
    out.zipLeaf = out.hasZip ? zip : nullptr;

    out.encrypted = resourceBytes(image, SfxResource::kEncrypted, &bytes);
    EncryptedResource check;
    out.encryptedWellFormed = out.encrypted && decodeEncryptedResource(bytes, &check);
    out.keyBits = check.keyBits;
    std::memcpy(out.checkBlock, check.checkBlock, sizeof out.checkBlock);

    readTextIfNotEmpty(image, SfxResource::kUnzipDir, out.unzipDir);
    readTextIfNotEmpty(image, SfxResource::kAppTitle, out.appTitle);
    readTextIfNotEmpty(image, SfxResource::kProgressCaption, out.progressCaption);

    out.hasAutoParams = resourceBytes(image, SfxResource::kAutoParams, &bytes);
    readText(out.hasAutoParams ? bytes : ByteView(), out.autoParams);

    out.noInterface = resourceBytes(image, SfxResource::kNoInterface, &bytes) && bytes.size() >= 1;

    out.hasAutorun = resourceBytes(image, SfxResource::kAutorun, &bytes) && bytes.size() >= 1;
    readText(out.hasAutorun ? bytes : ByteView(), out.autorun);

    out.hasAutotemp = resourceBytes(image, SfxResource::kAutotemp, &bytes) && bytes.size() >= 1;
    readText(out.hasAutotemp ? bytes : ByteView(), out.autotemp);
}

std::unique_ptr<ByteSource> openZipPayload(const StubParameters& p) {
    return p.hasZip && p.image ? p.image->openLeaf(p.zipLeaf) : nullptr;
}

const StringBuffer* parameterText(const StubParameters& p, const std::string& name) {
    if (name == SfxResource::kAppTitle) return &p.appTitle;
    if (name == SfxResource::kProgressCaption) return &p.progressCaption;
    if (name == SfxResource::kUnzipDir) return &p.unzipDir;
    if (name == SfxResource::kAutoParams) return &p.autoParams;
    if (name == SfxResource::kAutorun) return &p.autorun;
    if (name == SfxResource::kAutotemp) return &p.autotemp;
    return nullptr;
}

std::vector<StoredParameter> storedParameters(ExeImage& image) {
    constexpr uint16_t kRtRcdata = 10;
    std::vector<StoredParameter> out;
    ExeResource* root = image.resources();
    if (!root) return out;
    ExeResource* type = nullptr;
    for (int i = 0; i < root->idCount(); i++) {
        ExeResource* t = root->idChild(i);
        if (t && t->id == kRtRcdata) type = t;
    }
    if (!type || !type->isDirectory) return out;
    for (int i = 0; i < type->namedCount(); i++) {
        ExeResource* entry = type->namedChild(i);
        if (!entry) continue;
        StoredParameter r;
        r.name = entry->name.str() ? entry->name.str() : "";
        ExeResource* leaf = entry;
        while (leaf && leaf->isDirectory) {
            leaf = leaf->idCount() > 0 ? leaf->idChild(0) : (leaf->namedCount() > 0 ? leaf->namedChild(0) : nullptr);
        }
        if (leaf) {
            r.size = leaf->dataSize;
            r.data = leaf->dataPointer();
            r.leaf = leaf;
        }
        out.push_back(r);
    }
    return out;
}
