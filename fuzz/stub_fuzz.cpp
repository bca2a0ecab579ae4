// Fuzzes the self-extractor's logic. The input fills the parameter
// resources of a valid stub image (which names exist, their lengths and
// their bytes; optionally a correct check resource and a payload encrypted
// from the input's "zip" bytes, so that fuzzed archives reach the unzip
// through the decrypting view), then the parameters are read and the
// archive is opened and unzipped into a scratch folder, which is emptied
// afterwards. The raw input is also parsed as a whole PE file.
//
// Input: two flag bytes (bits 0-8: which of the nine names exist; bit 9:
// "encrypted" is a correct check resource for the fixed password, its
// first byte choosing the key length; bit 10: "zip" is the encryption of
// its bytes), then per existing name a 16-bit little-endian length
// (clipped to what is left) and that many bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crypto/easy_crypt.h"
#include "exeimage/exe_image.h"
#include "exeimage/test_pe_builder.h"
#include "sfxstub/stub_core.h"
#include "sfxstub/stub_core_test_util.h"
#include "support/byte_reader.h"
#include "support/data_buffer.h"
#include "support/testing/scratch_dir.h"
#include "zip/zip_archive.h"

namespace {

const char kPassword[] = "fuzz";
const char* const kNames[] = {"zip",        "encrypted",   "unzipDir", "appTitle", "progressCaption",
                              "autoParams", "noInterface", "autorun",  "autotemp"};

// An archive whose entries would write more than this (or more entries
// than this) is only opened, not unzipped: the unzip itself is bounded by
// the declared sizes, but the disk is not the place to find out.
constexpr uint64_t kMaxUnzipBytes = 1 << 20;
constexpr size_t kMaxUnzipEntries = 64;

bool smallEnoughToUnzip(const testpe::Bytes& zip) {
    ZipReader reader;
    std::string error;
    if (!reader.openMemory(zip.data(), zip.size(), &error)) return true;  // fails the same way in the session
    if (reader.entryCount() > kMaxUnzipEntries) return false;
    uint64_t total = 0;
    for (size_t i = 0; i < reader.entryCount(); i++) {
        uint64_t n = reader.entry(i).uncompressedSize;
        if (n > kMaxUnzipBytes - total) return false;
        total += n;
    }
    return true;
}

void checkParameters(const StubParameters& p) {
    // Texts are terminated and never longer than the resources they came from.
    volatile size_t sink = 0;
    sink = sink + std::strlen(p.unzipDir.str()) + std::strlen(p.appTitle.str()) + std::strlen(p.autoParams.str()) +
           std::strlen(p.autorun.str()) + std::strlen(p.autotemp.str()) + std::strlen(p.progressCaption.str());
    if (p.encryptedWellFormed && !p.encrypted) std::abort();
    if (!p.hasZip && p.zipSize) std::abort();
    if (p.zipSize) {
        // The payload reads as exactly its size, at both ends.
        std::unique_ptr<ByteSource> zip = openZipPayload(p);
        uint8_t first = 0, last = 0;
        if (!zip || zip->size() != p.zipSize || !zip->read(0, &first, 1) || !zip->read(p.zipSize - 1, &last, 1) ||
            zip->read(p.zipSize, &last, 1))
            std::abort();
        sink = sink + first + last;
    }
    (void)chooseStubMode(p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchDir scratch;
    static const testpe::Plan basePlan = [] {
        testpe::Plan p = testpe::samplePlan(false);
        // Its RT_RCDATA "zip" goes: the input's resources replace it.
        std::vector<testpe::Res> kept;
        for (const testpe::Res& r : p.root.children)
            if (r.named || r.id != 10) kept.push_back(r);
        p.root.children = kept;
        return p;
    }();

    // The raw input as a whole PE file.
    {
        std::unique_ptr<ExeImage> image(ExeImage::loadFromMemory(data, uint32_t(size), "input.exe", nullptr));
        if (image) {
            StubParameters p;
            readStubParameters(*image, p);
            checkParameters(p);
        }
    }

    // The input as the resources of a valid stub.
    ByteView in(data, size);
    uint16_t flags = 0;
    if (!in.u16(0, &flags)) return 0;
    uint64_t at = 2;
    testpe::Res rcdata = testpe::Dir(10, {});
    testpe::Bytes zipPlain;
    for (int i = 0; i < 9; i++) {
        if (!(flags & (1u << i))) continue;
        uint16_t length = 0;
        if (!in.u16(at, &length)) length = 0;
        at = at + 2 < size ? at + 2 : size;
        uint64_t take = length < size - at ? length : size - at;
        testpe::Bytes bytes(data + at, data + at + take);
        at += take;
        if (i == 0) zipPlain = bytes;
        if (i == 1 && (flags & 0x200)) {
            static const uint32_t kBits[] = {128, 192, 256, 100};
            uint32_t keyBits = kBits[(bytes.empty() ? 2 : bytes[0]) % 4];
            uint8_t check[kPasswordCheckBlockSize];
            if (!EasyCrypt::makeCheckBlock(kPassword, check)) std::abort();
            bytes.assign(4 + sizeof check, 0);
            storeLE32(bytes.data(), keyBits);
            std::memcpy(bytes.data() + 4, check, sizeof check);
        }
        rcdata.children.push_back(testpe::Dir(kNames[i], {testpe::Leaf(1, bytes)}));
    }
    // The payload encrypted under the key length of the check resource.
    if ((flags & 0x201) == 0x201 && (flags & 0x400)) {
        for (testpe::Res& r : rcdata.children) {
            if (r.name != "zip") continue;
            uint32_t keyBits = 256;
            for (const testpe::Res& e : rcdata.children)
                if (e.name == "encrypted") keyBits = loadLE32(e.children[0].data.data());
            DataBuffer payload;
            if (!EasyCrypt::encryptBytes(kAlgorithmAes, int(keyBits), kPassword, zipPlain.data(),
                                         uint32_t(zipPlain.size()), payload))
                std::abort();
            r.children[0].data.assign(payload.data(), payload.data() + payload.length());
        }
    }

    testpe::Plan plan = basePlan;
    if (!rcdata.children.empty()) plan.root.children.push_back(rcdata);
    testpe::Bytes stub = testpe::build(plan).bytes;
    std::unique_ptr<ExeImage> image(ExeImage::loadFromMemory(stub.data(), uint32_t(stub.size()), "stub.exe", nullptr));
    if (!image) std::abort();  // the stub itself is always valid
    StubParameters params;
    readStubParameters(*image, params);
    checkParameters(params);
    if (!smallEnoughToUnzip(zipPlain)) return 0;

    // The session never starts a program or leaves the scratch folder:
    // the target is fixed and the interface records instead of acting.
    stubtest::RecordingUi ui;
    ui.passwords = {std::string(kPassword), std::string(kPassword)};
    StubSession session(params, ui);
    std::string target = scratch.file("out");
    UnzipOutcome outcome = session.runInteractive(target.c_str());
    if (outcome == UnzipOutcome::Unzipped && !session.failures().empty()) std::abort();
    if (outcome == UnzipOutcome::UnzipFailed && session.failures().empty()) std::abort();
    if (outcome != UnzipOutcome::Cancelled && outcome != UnzipOutcome::Unzipped && ui.messages.empty()) std::abort();
    for (uint32_t p : ui.unzipReports)
        if (p > 100) std::abort();
    for (uint32_t p : ui.decryptReports)
        if (p > 100) std::abort();
    volatile size_t sink = session.automaticTarget().size();
    (void)sink;
    stubtest::removeTree(target);
    return 0;
}
