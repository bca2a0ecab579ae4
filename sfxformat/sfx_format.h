// The self-extractor's format, declared once: the builder writes it into a
// copy of the stub, the stub reads it back, `orvanta sfx inspect` shows it
// and the tests check it against it.
//
// The stub program travels inside a carrier module (the builder DLL, the
// tool) as a resource of the named type "VARNOCK". A build adds the
// settings and the archive to its copy of the stub as named RT_RCDATA
// resources (type 10), each with one language leaf (id 1), in the order
// below. A text value is its ANSI bytes and one zero byte; an empty setting
// writes nothing at all, so a reader knows a setting is absent by the
// absence of its name.
//
// Owns: the resource names and their order, the "encrypted" layout, the
// stub's resource type and ids, the reader of the parameter resources
// (StubParameters) and of the entries as stored. Uses: exeimage (the
// resource tree), crypto (the size of the check block), support.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crypto/easy_crypt.h"
#include "sfxformat/stub_ids.h"
#include "support/byte_reader.h"
#include "support/byte_source.h"
#include "support/string_buffer.h"

class ExeImage;
class ExeResource;

// ---- The stubs in their carrier ---------------------------------------------

#define SFX_FORMAT_TEXT_(x) #x
#define SFX_FORMAT_TEXT(x) SFX_FORMAT_TEXT_(x)
constexpr char kStubResourceType[] = SFX_FORMAT_TEXT(SFX_STUB_TYPE);  // "VARNOCK"
constexpr uint16_t kStubResourceId = SFX_STUB32_ID;                    // the PE32 stub
constexpr uint16_t kStub64ResourceId = SFX_STUB64_ID;                  // the x86_64 stub (the tool only)

// The first language of resource `id` of the named type "VARNOCK" among the
// root's named entries; with id 0, the first resource of the type. False
// (nothing logged) when it is missing, empty or cannot be read.
bool findStubResource(ExeImage& module, uint16_t id, const uint8_t** data, uint32_t* size);

// ---- How large a payload can be ----------------------------------------------

// The system's loader maps a self-extractor's whole image, payload
// included, in one piece from the stub's fixed base address before the
// stub runs, so a 32-bit self-extractor carries only what fits below the
// first thing the 32-bit process has mapped above that base. The tightest
// 32-bit loader we run (Wine through an i386 emulator, whose libraries sit
// at 1 GiB) starts one with a 1000 MiB payload and not one with 1024 MiB;
// larger payloads go into 64-bit self-extractors, which are bounded by the
// 32-bit sizes of the file format.
constexpr uint64_t kMaxPe32PayloadSize = 1000ull << 20;
constexpr uint64_t kMaxPe32PlusPayloadSize = 0xFF000000ull;
inline uint64_t maxPayloadSize(bool pe32Plus) { return pe32Plus ? kMaxPe32PlusPayloadSize : kMaxPe32PayloadSize; }

// ---- Parameter resources --------------------------------------------------------

namespace SfxResource {
constexpr char kZip[] = "zip";                          // the archive, or the encrypted payload
constexpr char kEncrypted[] = "encrypted";              // key length and check block (below)
constexpr char kAppTitle[] = "appTitle";                // title of the stub's windows
constexpr char kProgressCaption[] = "progressCaption";  // text above the unzip progress
constexpr char kUnzipDir[] = "unzipDir";                // folder to unzip into without asking
constexpr char kAutoParams[] = "autoParams";            // the program's parameters
constexpr char kNoInterface[] = "noInterface";          // silent: kNoInterfaceValue
constexpr char kAutorun[] = "autorun";                  // program run after an unzip through the dialog
constexpr char kAutotemp[] = "autotemp";                // program run after an automatic unzip
// What "noInterface" holds: "yes" and its zero byte.
constexpr uint8_t kNoInterfaceValue[4] = {'y', 'e', 's', 0};
}  // namespace SfxResource

// The parameters in the order a build adds them: "encrypted" first, "zip"
// last, and the program to run ("autotemp" or "autorun", written even when
// its text is empty) before the settings when the payload is plain, after
// them when it is encrypted.
enum class SfxParameter { Encrypted, Program, AppTitle, ProgressCaption, UnzipDir, AutoParams, NoInterface, Zip };
const std::vector<SfxParameter>& sfxWriteOrder(bool encrypted);
// The resource name of a parameter; the program's says where it runs from.
const char* sfxParameterName(SfxParameter parameter, bool programFromTemp);

// ---- The "encrypted" resource -----------------------------------------------------

// The payload's key length in bits (u32, little-endian), then the password
// check block.
constexpr uint32_t kEncryptedResourceSize = 4 + kPasswordCheckBlockSize;
struct EncryptedResource {
    uint32_t keyBits = 0;
    uint8_t checkBlock[kPasswordCheckBlockSize] = {};
};
void encodeEncryptedResource(const EncryptedResource& in, uint8_t out[kEncryptedResourceSize]);
// False, with *out cleared, unless bytes are exactly the layout's size.
bool decodeEncryptedResource(ByteView bytes, EncryptedResource* out);
// The key lengths a payload can have: 128, 192 or 256.
bool isPayloadKeyLength(uint32_t bits);

// ---- Reading them back -----------------------------------------------------------

// What the builder stored, read with the presence rules of each name. Texts
// end at their first zero byte or at the end of the resource.
struct StubParameters {
    bool hasZip = false;                // "zip" exists
    uint32_t zipSize = 0;
    ExeImage* image = nullptr;          // where the "zip" bytes are read from
    const ExeResource* zipLeaf = nullptr;

    bool encrypted = false;             // "encrypted" exists
    bool encryptedWellFormed = false;   // ... and has exactly the layout's size
    uint32_t keyBits = 0;               // its key length (when well formed)
    uint8_t checkBlock[kPasswordCheckBlockSize] = {};  // its check block (when well formed)

    StringBuffer unzipDir;              // present when not empty
    StringBuffer appTitle;              // present when not empty
    StringBuffer progressCaption;       // present when not empty
    bool hasAutoParams = false;         // "autoParams" exists
    StringBuffer autoParams;
    bool noInterface = false;           // "noInterface" has at least one byte
    bool hasAutorun = false;            // "autorun" has at least one byte
    StringBuffer autorun;
    bool hasAutotemp = false;           // "autotemp" has at least one byte
    StringBuffer autotemp;
};

// Reads every parameter from an opened image (the stub's own file). The
// payload is not read: openZipPayload reads it by position, so the image
// must outlive the parameters. Never fails: absent or malformed resources
// read as absent.
void readStubParameters(ExeImage& image, StubParameters& out);
// The "zip" resource's bytes as a source read by position (from the file
// of an image loaded from one); null without "zip".
std::unique_ptr<ByteSource> openZipPayload(const StubParameters& p);

// The text a parameter holds as the stub reads it, or null for the names
// that hold no text.
const StringBuffer* parameterText(const StubParameters& p, const std::string& name);

// One named entry of the RT_RCDATA type as stored, with its first leaf
// (the first language, however deep; null when there is none); data is
// null when the leaf's bytes are not in memory (ExeImage::leafData reads
// them).
struct StoredParameter {
    std::string name;
    uint32_t size = 0;
    const uint8_t* data = nullptr;
    ExeResource* leaf = nullptr;
};
// The named entries in stored order; none without an RT_RCDATA type.
std::vector<StoredParameter> storedParameters(ExeImage& image);
