// The model on malformed input: every field that can point outside the
// file, loop or overflow is a logged failure, never a read outside the
// source bytes (natively these run under ASan, on exact-size copies).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "exeimage/exe_image.h"
#include "exeimage/test_pe_builder.h"
#include "support/testing/recording_log.h"

using namespace testpe;
using Lines = std::vector<std::string>;

namespace {

const std::string kFileLine = "data: filename = bad.exe";

// A copy of the bytes in a heap block of exactly their size, and the image
// loaded from it (declared after the copy, so destroyed before it). Every
// leaf's bytes are read once, so a pointer outside the copy shows at once.
struct Loaded {
    Loaded(const Bytes& b, size_t len, RecordingLog& log) : copy(new uint8_t[len ? len : 1]) {
        if (len) std::memcpy(copy.get(), b.data(), len);
        img.reset(ExeImage::loadFromMemory(copy.get(), uint32_t(len), "bad.exe", &log));
        std::function<void(const ExeResource*)> touch = [&](const ExeResource* n) {
            for (uint32_t i = 0; !n->isDirectory && i < n->dataSize; i++) sum += n->dataPointer()[i];
            for (int i = 0; i < n->namedCount(); i++) touch(n->namedChild(i));
            for (int i = 0; i < n->idCount(); i++) touch(n->idChild(i));
        };
        if (img && img->resources()) touch(img->resources());
    }
    std::unique_ptr<uint8_t[]> copy;
    std::unique_ptr<ExeImage> img;
    unsigned sum = 0;
};

}  // namespace

// Every prefix of a valid image fails cleanly (a message, then the file
// name) until all section data is present, and parses from then on.
TEST(ExeImageMalformed, TruncatedAtEveryLength) {
    for (bool pe64 : {false, true}) {
        Built built = build(samplePlan(pe64));
        const size_t dataEnd = built.bytes.size() - samplePlan().overlay.size();
        for (size_t len = 0; len <= built.bytes.size(); len++) {
            RecordingLog log;
            bool loaded = Loaded(built.bytes, len, log).img != nullptr;
            ASSERT_EQ(loaded, len >= dataEnd) << len;
            if (!loaded) {
                EXPECT_TRUE(log.lines.size() >= 2 && log.lines.back() == kFileLine) << len;
            }
        }
    }
}

// Each byte inverted once: a clean failure, or an image that can be
// edited and written, whose output is of a plausible size and loads again.
TEST(ExeImageMalformed, EveryByteFlippedOnce) {
    Plan plan = samplePlan();
    plan.overlay.clear();
    const Bytes original = build(plan).bytes;
    TempDir tmp;
    std::string out = tmp.path("out.exe");
    for (size_t i = 0; i < original.size(); i++) {
        Bytes b = original;
        b[i] ^= 0xFF;
        RecordingLog log;
        Loaded loadedImage(b, b.size(), log);
        ExeImage* img = loadedImage.img.get();
        if (!img) {
            EXPECT_TRUE(log.lines.size() >= 2 && log.lines.back() == kFileLine) << i;
            continue;
        }
        const bool hadTree = img->resources() != nullptr;
        img->removeNamed("VARNOCK");
        img->addNamedData("appTitle", "title", 5, nullptr);
        RecordingLog writeLog;
        if (!img->writeToFile(out.c_str(), nullptr, &writeLog)) {
            EXPECT_EQ(writeLog.lines.back(), "data: filename = " + out) << i;
            continue;
        }
        // A corrupt alignment once placed sections gigabytes into the file.
        ASSERT_LT(fileSizeOf(out), b.size() + 0x10000) << i;
        RecordingLog again;
        std::unique_ptr<ExeImage> back(ExeImage::loadFromFile(out.c_str(), &again));
        ASSERT_NE(back, nullptr) << i << testing::PrintToString(again.lines);
        EXPECT_EQ(back->resources() != nullptr, hadTree) << i;
        EXPECT_EQ(hadTree, back->findNamedResource("appTitle") != nullptr) << i;
    }
}

TEST(ExeImageMalformed, EachFaultHasItsMessage) {
    auto at32 = [](uint32_t Built::*base, uint32_t off, uint32_t v) {
        return [=](Built& b) { put32(b.bytes, b.*base + off, v); };
    };
    auto section32 = [](int i, uint32_t off, uint32_t v) { return [=](Built& b) { put32(b.bytes, b.sectionHeader(i) + off, v); }; };
    auto rsrc32 = [](uint32_t off, uint32_t v) { return [=](Built& b) { put32(b.bytes, b.rsrcFileOffset + off, v); }; };
    struct Case {
        std::string name;
        std::function<void(Built&)> patch;
        Lines expected;  // then "filename"
    } cases[] = {
        {"empty input", [](Built& b) { b.bytes.clear(); }, {"error: Failed to find DOS signature"}},
        {"not MZ", [](Built& b) { b.bytes[1] = 'X'; }, {"error: Failed to find DOS signature"}},
        {"DOS header cut", [](Built& b) { b.bytes.resize(40); }, {"error: DOS header is truncated"}},
        {"e_lfanew near 4 GiB", [](Built& b) { put32(b.bytes, 60, 0xFFFFFFF0u); }, {"error: Failed to find NT header"}},
        {"file header cut", [](Built& b) { put32(b.bytes, 60, uint32_t(b.bytes.size() - 10)); },
         {"error: NT file header is truncated"}},
        {"optional header beyond the file", [](Built& b) { put16(b.bytes, b.ntOffset + 20, 0xFFFF); },
         {"error: Optional header is truncated"}},
        {"optional header without its fields", [](Built& b) { put16(b.bytes, b.ntOffset + 20, 64); },
         {"error: Optional header is too small"}},
        {"unknown magic", at32(&Built::optionalOffset, 0, 0x107), {"error: Unsupported optional header magic"}},
        {"section table beyond the file", [](Built& b) { put16(b.bytes, b.ntOffset + 6, 0xFFFF); },
         {"error: Section table is truncated"}},
        {"section data beyond the file", [](Built& b) { put32(b.bytes, b.sectionHeader(1) + 20, uint32_t(b.bytes.size() - 4)); },
         {"error: Section raw data lies outside the file", "data: section_name = .data"}},
        {"section size wrapping past 4 GiB", section32(2, 16, 0xFFFFFF00u),
         {"error: Section raw data lies outside the file", "data: section_name = .rsrc"}},
        {"directory address past the raw data",
         [](Built& b) {
             put32(b.bytes, b.sectionHeader(2) + 8, 0x8000);
             put32(b.bytes, b.resourceDirectoryField(), b.rsrcRva + 0x4000);
         },
         {"error: Resource directory lies outside the resource section"}},
        {"more entries than the section holds", [](Built& b) { put16(b.bytes, b.rsrcFileOffset + 14, 0xFFFF); },
         {"error: Resource directory has more entries than its section can hold"}},
        {"entries running past the raw data",
         [](Built& b) {
             uint32_t last = b.directoryOffsets.back(), raw = get32(b.bytes, b.sectionHeader(2) + 16);
             put16(b.bytes, b.rsrcFileOffset + last + 14, uint16_t((raw - last - 16) / 8 + 1));
         },
         {"error: Resource directory lies outside the resource section"}},
        {"subdirectory pointing at the root", rsrc32(20, 0x80000000u), {"error: Resource directory is reached twice"}},
        {"two entries sharing a subdirectory", [](Built& b) { put32(b.bytes, b.rsrcFileOffset + 28, get32(b.bytes, b.rsrcFileOffset + 20)); },
         {"error: Resource directory is reached twice"}},
        {"subdirectory beyond the section", rsrc32(20, 0xFFFFFFF0u),
         {"error: Resource directory lies outside the resource section"}},
        {"name length beyond the section", [](Built& b) { put16(b.bytes, b.rsrcFileOffset + b.nameOffsets[0], 0xFFFF); },
         {"error: Resource name lies outside the resource section"}},
        {"data entry beyond the section",  // the language entry of VARNOCK/218, the sixth table
         [](Built& b) { put32(b.bytes, b.rsrcFileOffset + b.directoryOffsets[5] + 20, 0x7FFFFFF8u); },
         {"error: Resource data entry lies outside the resource section"}},
        {"data address in no section", [](Built& b) { put32(b.bytes, b.rsrcFileOffset + b.dataEntryOffsets[0], 0x10); },
         {"error: Resource data lies outside its section"}},
        {"data size beyond the raw data", [](Built& b) { put32(b.bytes, b.rsrcFileOffset + b.dataEntryOffsets[0] + 4, 0x7FFFFFFF); },
         {"error: Resource data lies outside its section"}},
        {"data in the uninitialised part of .data",
         [](Built& b) { put32(b.bytes, b.rsrcFileOffset + b.dataEntryOffsets[0], 0x2000 + 0x1000); },
         {"error: Resource data lies outside its section"}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        Built built = build(samplePlan());
        c.patch(built);
        RecordingLog log;
        EXPECT_EQ(Loaded(built.bytes, built.bytes.size(), log).img, nullptr);
        c.expected.push_back(kFileLine);
        EXPECT_EQ(log.lines, c.expected);
    }
}

TEST(ExeImageMalformed, NestingIsLimitedTo16Levels) {
    for (int depth : {16, 17}) {
        Plan plan = samplePlan();
        Res chain = Leaf(1, Text("deep"));
        for (int i = 0; i < depth; i++) chain = Dir(uint16_t(100 + i), {chain});
        plan.root.children.push_back(chain);
        Built built = build(plan);
        RecordingLog log;
        EXPECT_EQ(Loaded(built.bytes, built.bytes.size(), log).img != nullptr, depth == 16);
        if (depth == 17) {
            EXPECT_EQ(log.lines, (Lines{"error: Resource directory is nested too deeply", kFileLine}));
        }
    }
}
