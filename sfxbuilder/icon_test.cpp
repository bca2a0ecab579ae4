// Icon replacement: the .ico reader on hand-built files and damaged
// variants of them, and the replacement of an executable's first icon and
// icon group, in memory and through a written and reloaded file.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "exeimage/exe_image.h"
#include "exeimage/test_pe_builder.h"
#include "sfxbuilder/icon_file.h"
#include "sfxbuilder/icon_resource.h"
#include "support/testing/recording_log.h"

using namespace testpe;
using Image = std::unique_ptr<ExeImage>;

namespace {

struct IcoImage {
    uint8_t width, height, colorCount;
    uint16_t planes, bitCount;
    Bytes data;
};

// Image bytes that differ per image (the content is not a bitmap; the
// replacement copies it without looking at it).
Bytes pixels(uint32_t n, uint8_t seed) {
    Bytes b(n);
    for (uint32_t i = 0; i < n; i++) b[i] = uint8_t(seed + i * 7);
    return b;
}

IcoImage square(uint8_t size, uint8_t seed) {
    return {size, size, 0, 1, 32, pixels(40 + uint32_t(size) * size / 4, seed)};
}

// ICONDIR, the entries, then the images in order.
Bytes makeIco(const std::vector<IcoImage>& images) {
    Bytes out(6 + 16 * images.size());
    put16(out, 0, 0);                        // reserved
    put16(out, 2, 1);                        // type: icon
    put16(out, 4, uint16_t(images.size()));  // count
    uint32_t offset = uint32_t(out.size());
    for (size_t i = 0; i < images.size(); i++) {
        uint32_t e = 6 + 16 * uint32_t(i);
        out[e + 0] = images[i].width;
        out[e + 1] = images[i].height;
        out[e + 2] = images[i].colorCount;
        out[e + 3] = 0;
        put16(out, e + 4, images[i].planes);
        put16(out, e + 6, images[i].bitCount);
        put32(out, e + 8, uint32_t(images[i].data.size()));
        put32(out, e + 12, offset);
        offset += uint32_t(images[i].data.size());
    }
    for (auto& im : images) out.insert(out.end(), im.data.begin(), im.data.end());
    return out;
}

// The group data expected for `count` entries that all describe `im`.
Bytes expectedGroup(const IcoImage& im, uint16_t count) {
    Bytes g(6 + 14 * size_t(count));
    put16(g, 2, 1);
    put16(g, 4, count);
    for (uint16_t k = 0; k < count; k++) {
        uint32_t e = 6 + 14 * uint32_t(k);
        g[e] = im.width, g[e + 1] = im.height, g[e + 2] = im.colorCount, g[e + 3] = 0;
        put16(g, e + 4, im.planes);
        put16(g, e + 6, im.bitCount);
        put32(g, e + 8, uint32_t(im.data.size()));
        put16(g, e + 12, 1);
    }
    return g;
}

Bytes leafBytes(const ExeResource* leaf) {
    if (!leaf || !leaf->dataPointer()) return {};
    return Bytes(leaf->dataPointer(), leaf->dataPointer() + leaf->dataSize);
}

// What a refused replacement must leave exactly as it was.
struct IconState {
    Bytes group, icon, secondIcon;
    ExeResource::DataKind groupKind, iconKind;
    bool operator==(const IconState& o) const {
        return group == o.group && icon == o.icon && secondIcon == o.secondIcon && groupKind == o.groupKind &&
               iconKind == o.iconKind;
    }
};
ExeResource* typeDir(ExeImage& img, uint16_t type) {
    for (int i = 0; img.resources() && i < img.resources()->idCount(); i++)
        if (img.resources()->idChild(i)->id == type) return img.resources()->idChild(i);
    return nullptr;
}
IconState stateOf(ExeImage& img) {
    ExeResource* icons = typeDir(img, 3);
    ExeResource* second = icons && icons->idCount() > 1 ? icons->idChild(1)->idChild(0) : nullptr;
    return {leafBytes(img.findFirstGroupIconLeaf()), leafBytes(img.findFirstIconLeaf()), leafBytes(second),
            img.findFirstGroupIconLeaf()->dataKind, img.findFirstIconLeaf()->dataKind};
}

// The sample stub: icons 1 (40 bytes) and 2 (24 bytes), group 101 (20 bytes).
struct Stub {
    explicit Stub(bool pe64 = false) : bytes(build(samplePlan(pe64)).bytes) {
        image.reset(ExeImage::loadFromMemory(bytes.data(), uint32_t(bytes.size()), "stub.exe", nullptr));
    }
    Bytes bytes;
    Image image;
};

std::unique_ptr<IconFile> icoFrom(const Bytes& b) {
    auto f = std::make_unique<IconFile>();
    f->loadFromMemory(b.data(), uint32_t(b.size()));
    return f;
}

const std::vector<IcoImage> kThree = {square(16, 1), square(32, 2), square(48, 3)};

}  // namespace

TEST(IconFile, ReadsTheDirectoryAndImagesInPlace) {
    Bytes ico = makeIco({{32, 24, 16, 1, 4, pixels(50, 9)}, {0, 0, 0, 1, 32, pixels(7, 4)}});
    IconFile f;
    f.loadFromMemory(ico.data(), uint32_t(ico.size()));
    ASSERT_EQ(f.imageCount(), 2);
    IconFile::ImageDescription d;
    ASSERT_TRUE(f.imageDescription(0, &d, nullptr));
    EXPECT_EQ(d.width, 32);
    EXPECT_EQ(d.height, 24);
    EXPECT_EQ(d.colorCount, 16);
    EXPECT_EQ(d.planes, 1);
    EXPECT_EQ(d.bitCount, 4);
    EXPECT_EQ(d.bytesInResource, 50u);
    EXPECT_EQ(d.imageOffset, 38u);
    ASSERT_TRUE(f.imageDescription(1, &d, nullptr));
    EXPECT_EQ(d.width, 0);  // 256 pixels
    EXPECT_EQ(d.imageOffset, 88u);
    DataBuffer out;
    out.append("stale", 5);
    ASSERT_TRUE(f.imageData(1, out, nullptr));
    EXPECT_EQ(Bytes(out.data(), out.data() + out.length()), pixels(7, 4));
    ASSERT_TRUE(f.imageData(0, out, nullptr));
    EXPECT_EQ(Bytes(out.data(), out.data() + out.length()), pixels(50, 9));
    EXPECT_TRUE(f.checkBounds(nullptr));
    // The reserved and type words are not examined.
    put16(ico, 0, 0x7777);
    put16(ico, 2, 2);
    f.loadFromMemory(ico.data(), uint32_t(ico.size()));
    EXPECT_TRUE(f.checkBounds(nullptr));
    EXPECT_EQ(f.imageCount(), 2);
}

// One case per failure, each with its own message; the caller's buffer is
// emptied on failure.
TEST(IconFile, EachFaultIsRefusedWithItsOwnMessage) {
    const Bytes good = makeIco({square(16, 1), square(32, 2)});
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        uint32_t index;
        std::string error;       // from imageData(index)
        std::string boundsError; // from checkBounds
    };
    const std::vector<Case> cases = {
        {"empty", [](Bytes& b) { b.clear(); }, 0, "Icon file is empty", "Icon file is empty"},
        {"short header", [](Bytes& b) { b.resize(5); }, 0, "Icon file is too short for its directory header",
         "Icon file is too short for its directory header"},
        {"count 0", [](Bytes& b) { put16(b, 4, 0); }, 0, "Icon image index is not below the image count",
         "Icon file holds no images"},
        {"index past count", [](Bytes&) {}, 2, "Icon image index is not below the image count", ""},
        {"entries past the end", [](Bytes& b) { put16(b, 4, 0xFFFF); }, 0, "",
         "Icon directory entry reaches past the end of the file"},
        {"entry cut short", [](Bytes& b) { b.resize(6 + 16 + 10); }, 1,
         "Icon directory entry reaches past the end of the file",
         "Icon directory entry reaches past the end of the file"},
        {"offset past the end", [](Bytes& b) { put32(b, 6 + 12, uint32_t(b.size()) + 1); }, 0,
         "Icon image offset lies past the end of the file", "Icon image offset lies past the end of the file"},
        {"size past the end", [](Bytes& b) { put32(b, 6 + 8, get32(b, 6 + 8) + uint32_t(b.size())); }, 0,
         "Icon image data reaches past the end of the file", "Icon image data reaches past the end of the file"},
        {"offset plus size wraps", [](Bytes& b) { put32(b, 6 + 12, 8), put32(b, 6 + 8, 0xFFFFFFFC); }, 0,
         "Icon image data reaches past the end of the file", "Icon image data reaches past the end of the file"},
        {"second image past the end", [](Bytes& b) { b.pop_back(); }, 1,
         "Icon image data reaches past the end of the file", "Icon image data reaches past the end of the file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b = good;
        c.damage(b);
        std::unique_ptr<IconFile> file = icoFrom(b);
        IconFile& f = *file;
        if (!c.error.empty()) {
            RecordingLog log;
            DataBuffer out;
            out.append("stale", 5);
            EXPECT_FALSE(f.imageData(c.index, out, &log));
            EXPECT_EQ(out.length(), 0u);
            ASSERT_FALSE(log.errors().empty());
            EXPECT_EQ(log.errors()[0], c.error);
        }
        RecordingLog bounds;
        EXPECT_EQ(f.checkBounds(&bounds), c.boundsError.empty());
        if (!c.boundsError.empty()) {
            ASSERT_EQ(bounds.errors().size(), 1u);
            EXPECT_EQ(bounds.errors()[0], c.boundsError);
        }
    }
}

TEST(IconFile, LoadingFromFiles) {
    TempDir tmp;
    Bytes ico = makeIco(kThree);
    IconFile f;
    ASSERT_TRUE(f.loadFromFile(tmp.write("three.ico", ico).c_str(), nullptr));
    EXPECT_EQ(Bytes(f.bytes().data(), f.bytes().data() + f.bytes().length()), ico);
    EXPECT_EQ(f.imageCount(), 3);
    // An empty file loads but holds no images; a later load replaces the
    // content; failures leave nothing behind.
    ASSERT_TRUE(f.loadFromFile(tmp.write("empty.ico", {}).c_str(), nullptr));
    EXPECT_EQ(f.imageCount(), 0);
    ASSERT_TRUE(f.loadFromFile(tmp.write("three.ico", ico).c_str(), nullptr));
    RecordingLog log;
    EXPECT_FALSE(f.loadFromFile(tmp.path("missing.ico").c_str(), &log));
    EXPECT_TRUE(log.hadError());
    EXPECT_EQ(f.imageCount(), 0);
    EXPECT_FALSE(f.loadFromFile("", nullptr));
    EXPECT_FALSE(f.loadFromFile(nullptr, nullptr));
}

TEST(IconReplace, OneImageGivesTwentyBytesOfGroupDataAndTheImageAsIcon1) {
    Stub stub;
    IcoImage im = square(32, 5);
    TempDir tmp;
    std::string path = tmp.write("one.ico", makeIco({im}));
    Bytes secondIcon = stateOf(*stub.image).secondIcon;
    ASSERT_TRUE(IconResource().replaceIcon(*stub.image, path.c_str()));
    ExeResource* group = stub.image->findFirstGroupIconLeaf();
    ExeResource* icon = stub.image->findFirstIconLeaf();
    Bytes want = {0, 0, 1, 0, 1, 0,                                 // header: reserved, type 1, count 1
                  32, 32, 0, 0, 1, 0, 32, 0, 0, 0, 0, 0, 1, 0};    // 32x32, planes 1, 32 bits, size, id 1
    put32(want, 14, uint32_t(im.data.size()));
    EXPECT_EQ(leafBytes(group), want);
    EXPECT_EQ(group->dataSize, 20u);
    EXPECT_EQ(leafBytes(icon), im.data);
    EXPECT_EQ(icon->dataKind, ExeResource::DataKind::Owned);
    // The leaves keep their ids; the other icon is untouched.
    EXPECT_EQ(group->id, 1033);
    EXPECT_EQ(icon->id, 1033);
    EXPECT_EQ(stateOf(*stub.image).secondIcon, secondIcon);
}

TEST(IconReplace, EveryGroupEntryDescribesTheFirstImage) {
    struct Case {
        std::vector<IcoImage> images;
    };
    const std::vector<Case> cases = {
        {kThree},
        {{square(48, 7), square(16, 8)}},
        {{{20, 30, 16, 1, 4, pixels(99, 3)}, square(32, 1), square(32, 2), square(16, 4)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.images[0].width));
        Stub stub;
        std::unique_ptr<IconFile> f = icoFrom(makeIco(c.images));
        ASSERT_TRUE(IconResource().replaceIcon(*stub.image, *f));
        uint16_t n = uint16_t(c.images.size());
        Bytes group = leafBytes(stub.image->findFirstGroupIconLeaf());
        EXPECT_EQ(group.size(), 6 + 14 * size_t(n));
        EXPECT_EQ(get16(group, 4), n);
        EXPECT_EQ(group, expectedGroup(c.images[0], n));
        EXPECT_EQ(leafBytes(stub.image->findFirstIconLeaf()), c.images[0].data);
    }
    // The three-image file: 48 bytes, count 3, the 16x16 image stored.
    Stub stub;
    ASSERT_TRUE(IconResource().replaceIcon(*stub.image, *icoFrom(makeIco(kThree))));
    Bytes group = leafBytes(stub.image->findFirstGroupIconLeaf());
    ASSERT_EQ(group.size(), 48u);
    for (uint32_t k = 0; k < 3; k++) {
        EXPECT_EQ(group[6 + 14 * k], 16);
        EXPECT_EQ(group[7 + 14 * k], 16);
        EXPECT_EQ(get16(group, 18 + 14 * k), 1);
    }
    EXPECT_EQ(leafBytes(stub.image->findFirstIconLeaf()), kThree[0].data);
    // The group's reserved byte is 0 whatever the file's entry holds.
    Bytes ico = makeIco({square(32, 1)});
    ico[6 + 3] = 0x5A;
    Stub other;
    ASSERT_TRUE(IconResource().replaceIcon(*other.image, *icoFrom(ico)));
    EXPECT_EQ(leafBytes(other.image->findFirstGroupIconLeaf()), expectedGroup(square(32, 1), 1));
}

TEST(IconReplace, AnEmptyFirstImageLeavesTheIconData) {
    Stub stub;
    IconState before = stateOf(*stub.image);
    IcoImage empty{32, 32, 0, 1, 32, {}};
    ASSERT_TRUE(IconResource().replaceIcon(*stub.image, *icoFrom(makeIco({empty, square(16, 1)}))));
    EXPECT_EQ(leafBytes(stub.image->findFirstGroupIconLeaf()), expectedGroup(empty, 2));
    EXPECT_EQ(leafBytes(stub.image->findFirstIconLeaf()), before.icon);
    EXPECT_EQ(stub.image->findFirstIconLeaf()->dataKind, ExeResource::DataKind::View);
}

// Files that cannot be used: false, and both leaves exactly as they were.
TEST(IconReplace, UnusableFilesLeaveTheStubIcon) {
    const Bytes good = makeIco(kThree);
    struct Case {
        std::string what;
        Bytes file;  // written to disk unless missing
        bool missing = false;
    };
    std::vector<Case> cases = {
        {"empty file", {}},
        {"count 0", makeIco({})},
        {"missing file", {}, true},
        {"header only", Bytes(good.begin(), good.begin() + 6)},
    };
    auto damaged = [&](const char* what, std::function<void(Bytes&)> f) {
        Bytes b = good;
        f(b);
        cases.push_back({what, b});
    };
    damaged("count beyond the entries", [](Bytes& b) { put16(b, 4, 200); });
    damaged("first offset past the end", [](Bytes& b) { put32(b, 6 + 12, uint32_t(b.size()) + 100); });
    damaged("first size past the end", [](Bytes& b) { put32(b, 6 + 8, uint32_t(b.size())); });
    damaged("last offset past the end", [](Bytes& b) { put32(b, 6 + 32 + 12, 0xFFFFFFFF); });
    damaged("last size past the end", [](Bytes& b) { put32(b, 6 + 32 + 8, get32(b, 6 + 32 + 8) + 1); });
    damaged("size wraps around", [](Bytes& b) { put32(b, 6 + 8, 0xFFFFFFFF); });
    TempDir tmp;
    for (size_t i = 0; i < cases.size(); i++) {
        SCOPED_TRACE(cases[i].what);
        Stub stub;
        IconState before = stateOf(*stub.image);
        std::string path = cases[i].missing ? tmp.path("none.ico")
                                            : tmp.write("case" + std::to_string(i) + ".ico", cases[i].file);
        EXPECT_FALSE(IconResource().replaceIcon(*stub.image, path.c_str()));
        EXPECT_TRUE(stateOf(*stub.image) == before);
    }
    Stub stub;
    IconState before = stateOf(*stub.image);
    EXPECT_FALSE(IconResource().replaceIcon(*stub.image, ""));
    EXPECT_FALSE(IconResource().replaceIcon(*stub.image, static_cast<const char*>(nullptr)));
    EXPECT_TRUE(stateOf(*stub.image) == before);
}

TEST(IconReplace, TruncationAtEveryLengthIsRefused) {
    const Bytes good = makeIco({square(16, 1), square(32, 2)});
    for (size_t n = 0; n < good.size(); n++) {
        SCOPED_TRACE(n);
        Stub stub;
        IconState before = stateOf(*stub.image);
        std::unique_ptr<IconFile> f = icoFrom(Bytes(good.begin(), good.begin() + long(n)));
        ASSERT_FALSE(IconResource().replaceIcon(*stub.image, *f));
        ASSERT_TRUE(stateOf(*stub.image) == before);
    }
    Stub stub;
    EXPECT_TRUE(IconResource().replaceIcon(*stub.image, *icoFrom(good)));
}

// Every byte flipped once: a clean refusal that changes nothing, or a
// replacement that is consistent with what the damaged file says.
TEST(IconReplace, FlippedBytesNeverReadOutsideTheFile) {
    const Bytes good = makeIco({square(16, 1), square(32, 2)});
    for (size_t i = 0; i < 6 + 32; i++) {
        SCOPED_TRACE(i);
        Bytes b = good;
        b[i] ^= 0xA5;
        Stub stub;
        IconState before = stateOf(*stub.image);
        std::unique_ptr<IconFile> file = icoFrom(b);
        const IconFile& f = *file;
        if (!IconResource().replaceIcon(*stub.image, f)) {
            ASSERT_TRUE(stateOf(*stub.image) == before);
            continue;
        }
        IconFile::ImageDescription d;
        ASSERT_TRUE(f.imageDescription(0, &d, nullptr));
        Bytes group = leafBytes(stub.image->findFirstGroupIconLeaf());
        ASSERT_EQ(group.size(), 6 + 14 * size_t(f.imageCount()));
        EXPECT_EQ(get32(group, 14), d.bytesInResource);
        if (d.bytesInResource) {
            EXPECT_EQ(leafBytes(stub.image->findFirstIconLeaf()),
                      Bytes(b.begin() + d.imageOffset, b.begin() + d.imageOffset + d.bytesInResource));
        }
    }
}

TEST(IconReplace, ImagesWithoutIconsOrGroups) {
    TempDir tmp;
    std::string path = tmp.write("one.ico", makeIco({square(32, 1)}));
    struct Case {
        const char* what;
        bool withResources;
        Res root;
    };
    Res zip = Dir(10, {Dir("zip", {Leaf(0, Text("PK"))})});
    const std::vector<Case> cases = {
        {"no resource section", false, Dir(0, {})},
        {"no icon group", true, Dir(0, {Dir(3, {Dir(1, {Leaf(1033, Bytes(40, 0x11))})}), zip})},
        {"no icon", true, Dir(0, {zip, Dir(14, {Dir(101, {Leaf(1033, Bytes(20, 0x33))})})})},
        {"icon type without entries", true,
         Dir(0, {Dir(3, {}), Dir(14, {Dir(101, {Leaf(1033, Bytes(20, 0x33))})})})},
        {"named icon group only", true,
         Dir(0, {Dir(3, {Dir(1, {Leaf(1033, Bytes(40, 0x11))})}),
                 Dir(14, {Dir("MAIN", {Leaf(1033, Bytes(20, 0x33))})})})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Plan plan = samplePlan();
        plan.withResources = c.withResources;
        plan.root = c.root;
        Bytes bytes = build(plan).bytes;
        Image image(ExeImage::loadFromMemory(bytes.data(), uint32_t(bytes.size()), "in.exe", nullptr));
        ASSERT_TRUE(image);
        Bytes iconBefore = leafBytes(image->findFirstIconLeaf());
        Bytes groupBefore = leafBytes(image->findFirstGroupIconLeaf());
        EXPECT_FALSE(IconResource().replaceIcon(*image, path.c_str()));
        EXPECT_EQ(leafBytes(image->findFirstIconLeaf()), iconBefore);
        EXPECT_EQ(leafBytes(image->findFirstGroupIconLeaf()), groupBefore);
    }
}

// Only the first language of the first numbered icon and group changes.
TEST(IconReplace, OnlyTheFirstLeavesChange) {
    Plan plan = samplePlan();
    plan.root = Dir(0, {Dir(3, {Dir("NAMED", {Leaf(1033, Bytes(8, 0x44))}),
                                Dir(1, {Leaf(1033, Bytes(40, 0x11)), Leaf(1031, Bytes(30, 0x12))}),
                                Dir(2, {Leaf(1033, Bytes(24, 0x22))})}),
                        Dir(14, {Dir(101, {Leaf(1033, Bytes(20, 0x33)), Leaf(1031, Bytes(20, 0x34))}),
                                 Dir(102, {Leaf(1033, Bytes(20, 0x35))})})});
    Bytes bytes = build(plan).bytes;
    Image image(ExeImage::loadFromMemory(bytes.data(), uint32_t(bytes.size()), "in.exe", nullptr));
    ASSERT_TRUE(image);
    IcoImage im = square(48, 6);
    ASSERT_TRUE(IconResource().replaceIcon(*image, *icoFrom(makeIco({im}))));
    ExeResource* icons = typeDir(*image, 3);
    ExeResource* groups = typeDir(*image, 14);
    EXPECT_EQ(leafBytes(icons->idChild(0)->idChild(0)), im.data);
    EXPECT_EQ(leafBytes(icons->idChild(0)->idChild(1)), Bytes(30, 0x12));
    EXPECT_EQ(leafBytes(icons->idChild(1)->idChild(0)), Bytes(24, 0x22));
    EXPECT_EQ(leafBytes(icons->namedChild(0)->idChild(0)), Bytes(8, 0x44));
    EXPECT_EQ(leafBytes(groups->idChild(0)->idChild(0)), expectedGroup(im, 1));
    EXPECT_EQ(leafBytes(groups->idChild(0)->idChild(1)), Bytes(20, 0x34));
    EXPECT_EQ(leafBytes(groups->idChild(1)->idChild(0)), Bytes(20, 0x35));
}

// After writing, a fresh load of the output finds the new bytes, the rest
// of the stub's resources as they were, and a resource section that grew
// for the larger icon.
TEST(IconReplace, WrittenAndReloaded) {
    for (bool pe64 : {false, true}) {
        SCOPED_TRACE(pe64 ? "PE32+" : "PE32");
        TempDir tmp;
        Stub stub(pe64);
        IconState before = stateOf(*stub.image);
        std::vector<IcoImage> images = {square(48, 9), square(32, 8), square(16, 7)};
        images[0].data = pixels(9000, 9);  // larger than the stub's whole resource section
        std::string ico = tmp.write("big.ico", makeIco(images));
        ASSERT_TRUE(stub.image->addNamedData("appTitle", "title", 6, nullptr));
        ASSERT_TRUE(IconResource().replaceIcon(*stub.image, ico.c_str()));
        std::string out = tmp.path("out.exe");
        RecordingLog log;
        ASSERT_TRUE(stub.image->writeToFile(out.c_str(), nullptr, &log)) << testing::PrintToString(log.lines);
        Image again(ExeImage::loadFromFile(out.c_str(), nullptr));
        ASSERT_TRUE(again);
        EXPECT_EQ(leafBytes(again->findFirstGroupIconLeaf()), expectedGroup(images[0], 3));
        EXPECT_EQ(leafBytes(again->findFirstIconLeaf()), images[0].data);
        EXPECT_EQ(stateOf(*again).secondIcon, before.secondIcon);
        const uint8_t* p = nullptr;
        uint32_t n = 0;
        ASSERT_TRUE(again->findNamedResourceData("zip", &p, &n, nullptr));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), n), std::string("PK-payload", 10));
        ASSERT_TRUE(again->findNamedResourceData("appTitle", &p, &n, nullptr));
        EXPECT_EQ(n, 6u);
        int rs = again->resourceSectionIndex();
        ASSERT_GE(rs, 0);
        EXPECT_GT(again->sections().get(rs)->virtualSize(), 9000u);
    }
}
