// The format's readers on hand-built images: the presence rules of every
// parameter, the "encrypted" layout byte by byte (a corrupted field, every
// truncation), the entries as stored, and the stub in its carrier.
#include "sfxformat/sfx_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "exeimage/exe_image.h"
#include "exeimage/test_pe_builder.h"

using namespace testpe;

namespace {

struct Resource {
    std::string name;
    std::string bytes;
};

std::string z(const char* text) { return std::string(text) + '\0'; }  // text + zero byte

// A stub image whose RT_RCDATA type holds the resources as given, each
// with one language leaf (id 1).
class Image {
public:
    explicit Image(const std::vector<Resource>& resources) {
        std::vector<Res> entries;
        for (const Resource& r : resources) entries.push_back(Dir(r.name, {Leaf(1, Text(r.bytes))}));
        Plan plan = samplePlan(false);
        plan.root = Dir(0, {Dir(3, {Dir(1, {Leaf(1033, Bytes(40, 0x11))})}), Dir(10, entries)});
        load(plan);
    }
    explicit Image(const Plan& plan) { load(plan); }
    ExeImage& operator*() { return *image_; }

private:
    void load(const Plan& plan) {
        bytes_ = build(plan).bytes;
        image_.reset(ExeImage::loadFromMemory(bytes_.data(), uint32_t(bytes_.size()), "stub.exe", nullptr));
        EXPECT_TRUE(image_);
    }
    Bytes bytes_;
    std::unique_ptr<ExeImage> image_;
};

// 192 (0xC0), little-endian, then a check block of 0xA0, 0xA1, ...
std::string handBuiltCheck() {
    std::string bytes("\xC0\x00\x00\x00", 4);
    for (int i = 0; i < 32; i++) bytes += char(0xA0 + i);
    return bytes;
}

std::string describe(const StubParameters& p) {
    std::string s;
    s += "zip:" + (p.hasZip ? std::to_string(p.zipSize) : std::string("-"));
    s += " enc:" + (!p.encrypted ? std::string("-") : p.encryptedWellFormed ? std::to_string(p.keyBits) : "bad");
    s += " dir:" + std::string(p.unzipDir.str());
    s += " title:" + std::string(p.appTitle.str());
    s += " caption:" + std::string(p.progressCaption.str());
    s += " params:" + (p.hasAutoParams ? "[" + std::string(p.autoParams.str()) + "]" : std::string("-"));
    s += " silent:" + std::to_string(int(p.noInterface));
    s += " autorun:" + (p.hasAutorun ? "[" + std::string(p.autorun.str()) + "]" : std::string("-"));
    s += " autotemp:" + (p.hasAutotemp ? "[" + std::string(p.autotemp.str()) + "]" : std::string("-"));
    return s;
}

TEST(StubParametersTest, PresenceRulesOfEveryName) {
    const std::string zero(1, '\0');
    const std::string check = handBuiltCheck();
    struct {
        const char* what;
        std::vector<Resource> resources;
        const char* expected;
    } const cases[] = {
        {"nothing", {}, "zip:- enc:- dir: title: caption: params:- silent:0 autorun:- autotemp:-"},
        {"zip only", {{"zip", "PK-bytes"}},
         "zip:8 enc:- dir: title: caption: params:- silent:0 autorun:- autotemp:-"},
        {"texts as the builder writes them",
         {{"unzipDir", z("C:\\out")}, {"appTitle", z("My title")}, {"progressCaption", z("Unpacking")},
          {"autoParams", z("-x /y")}, {"noInterface", z("yes")}, {"autorun", z("setup.exe")},
          {"autotemp", z("run.cmd")}},
         "zip:- enc:- dir:C:\\out title:My title caption:Unpacking params:[-x /y] silent:1 autorun:[setup.exe] "
         "autotemp:[run.cmd]"},
        {"texts end at the first zero byte",
         {{"unzipDir", std::string("C:\\a\0junk", 9)}, {"appTitle", std::string("T\0\0", 3)},
          {"autorun", std::string("p.exe\0q.exe", 11)}},
         "zip:- enc:- dir:C:\\a title:T caption: params:- silent:0 autorun:[p.exe] autotemp:-"},
        {"texts without a zero byte end with the resource",
         {{"unzipDir", "D:\\x"}, {"progressCaption", "Wait"}, {"autoParams", "/s"}, {"autotemp", "t.exe"}},
         "zip:- enc:- dir:D:\\x title: caption:Wait params:[/s] silent:0 autorun:- autotemp:[t.exe]"},
        {"lone zero bytes",
         {{"unzipDir", zero}, {"appTitle", zero}, {"progressCaption", zero}, {"autoParams", zero},
          {"noInterface", zero}, {"autorun", zero}, {"autotemp", zero}},
         "zip:- enc:- dir: title: caption: params:[] silent:1 autorun:[] autotemp:[]"},
        {"empty resources",
         {{"zip", ""}, {"unzipDir", ""}, {"appTitle", ""}, {"autoParams", ""}, {"noInterface", ""},
          {"autorun", ""}, {"autotemp", ""}},
         "zip:0 enc:- dir: title: caption: params:[] silent:0 autorun:- autotemp:-"},
        {"encrypted, 36 bytes", {{"encrypted", check}},
         "zip:- enc:192 dir: title: caption: params:- silent:0 autorun:- autotemp:-"},
        {"encrypted, 35 bytes", {{"encrypted", check.substr(0, 35)}},
         "zip:- enc:bad dir: title: caption: params:- silent:0 autorun:- autotemp:-"},
        {"encrypted, 37 bytes", {{"encrypted", check + "c"}},
         "zip:- enc:bad dir: title: caption: params:- silent:0 autorun:- autotemp:-"},
        {"encrypted, empty", {{"encrypted", ""}},
         "zip:- enc:bad dir: title: caption: params:- silent:0 autorun:- autotemp:-"},
    };
    for (const auto& c : cases) {
        Image image(c.resources);
        StubParameters p;
        readStubParameters(*image, p);
        EXPECT_EQ(describe(p), c.expected) << c.what;
        if (!p.encryptedWellFormed) {
            EXPECT_EQ(p.keyBits, 0u) << c.what;
        }
    }
}

TEST(StubParametersTest, ZipBytesAndCheckBlockAreTheStoredOnes) {
    const std::string zip = "PK\x03\x04 not much of an archive", check = handBuiltCheck();
    Image image({{"zip", zip}, {"encrypted", check}});
    StubParameters p;
    readStubParameters(*image, p);
    ASSERT_TRUE(p.hasZip);
    ASSERT_EQ(p.zipSize, zip.size());
    std::unique_ptr<ByteSource> bytes = openZipPayload(p);
    std::string got(zip.size(), '\0');
    ASSERT_TRUE(bytes && bytes->read(0, &got[0], got.size()));
    EXPECT_EQ(got, zip);
    EXPECT_EQ(p.keyBits, 192u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.checkBlock), 32), check.substr(4));
}

// A name that leads to a directory instead of data reads as absent (the
// search unwraps up to three levels below the name: one more is needed).
TEST(StubParametersTest, DirectoryInPlaceOfDataIsAbsent) {
    Plan plan = samplePlan(false);
    plan.root = Dir(0, {Dir(10, {Dir("autoParams", {Dir(1, {Dir(2, {Dir(3, {Leaf(0, Text("nested"))})})})}),
                                 Dir("zip", {Leaf(0, Text("PK"))})})});
    Image image(plan);
    StubParameters p;
    p.hasAutoParams = true;  // stale values are replaced
    p.unzipDir.assign("stale");
    readStubParameters(*image, p);
    EXPECT_EQ(describe(p), "zip:2 enc:- dir: title: caption: params:- silent:0 autorun:- autotemp:-");
}

// The layout on a hand-built vector, the same with one field corrupted,
// and every length but the right one.
TEST(EncryptedResourceTest, LayoutCorruptionAndTruncation) {
    const std::string good = handBuiltCheck();
    std::string badKey = good;
    badKey[1] = '\x7F';  // 0x7FC0 bits
    struct {
        const char* what;
        std::string bytes;
        bool decodes;
        uint32_t keyBits;
        bool payloadKeyLength;
    } const cases[] = {
        {"hand-built", good, true, 192, true},
        {"key length corrupted", badKey, true, 0x7FC0, false},
        {"one byte more", good + '\0', false, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EncryptedResource r;
        r.keyBits = 77;
        EXPECT_EQ(decodeEncryptedResource(ByteView(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()),
                                          &r),
                  c.decodes);
        EXPECT_EQ(r.keyBits, c.keyBits);
        EXPECT_EQ(isPayloadKeyLength(r.keyBits), c.payloadKeyLength);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.checkBlock), 32),
                  c.decodes ? good.substr(4) : std::string(32, '\0'));
    }
    for (size_t n = 0; n < good.size(); n++) {
        EncryptedResource r;
        EXPECT_FALSE(decodeEncryptedResource(ByteView(reinterpret_cast<const uint8_t*>(good.data()), n), &r)) << n;
        EXPECT_EQ(r.keyBits, 0u) << n;
    }
    // Writing is the same layout.
    EncryptedResource r;
    r.keyBits = 192;
    std::memcpy(r.checkBlock, good.data() + 4, 32);
    uint8_t out[kEncryptedResourceSize];
    encodeEncryptedResource(r, out);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out), sizeof out), good);
}

// The named RT_RCDATA entries in stored order, each with its first leaf
// however deep; the ids and the other types are not parameters.
TEST(StoredParametersTest, NamedEntriesInStoredOrder) {
    Plan plan = samplePlan(false);
    plan.root = Dir(0, {Dir(3, {Dir("notme", {Leaf(1, Text("icon"))})}),
                        Dir(10, {Dir("zip", {Leaf(1, Text("PK.."))}), Dir("appTitle", {Dir(1, {Leaf(0, Text("T"))})}),
                                 Dir("empty", {}), Dir(7, {Leaf(1, Text("numbered"))})})});
    Image image(plan);
    std::vector<std::string> got;
    for (const StoredParameter& p : storedParameters(*image)) {
        got.push_back(p.name + ":" + std::to_string(p.size) + ":" +
                      (p.data ? std::string(reinterpret_cast<const char*>(p.data), p.size) : "-"));
    }
    EXPECT_EQ(got, (std::vector<std::string>{"zip:4:PK..", "appTitle:1:T", "empty:0:-"}));
    plan.root = Dir(0, {Dir(3, {Dir(1, {Leaf(1, Text("icon"))})})});
    EXPECT_TRUE(storedParameters(*Image(plan)).empty());
}

TEST(FindStubResource, WhichResource) {
    const Bytes a = Text("stub-A"), b = Text("stub-B");
    Res lowerCase = Dir(0, {Dir("varnock", {Dir(218, {Leaf(1033, a)})})});
    // "VARNOCK" as a resource name under RT_RCDATA is not the type.
    Res notAType = Dir(0, {Dir(10, {Dir("VARNOCK", {Leaf(1033, a)})})});
    struct Case {
        const char* name;
        Res root;
        bool withResources;
        uint16_t id;
        std::string found;  // "" : not found
    } cases[] = {
        {"218", Dir(0, {Dir("VARNOCK", {Dir(218, {Leaf(1033, a)}), Dir(219, {Leaf(1033, b)})})}), true, 218, "stub-A"},
        {"219", Dir(0, {Dir("VARNOCK", {Dir(218, {Leaf(1033, a)}), Dir(219, {Leaf(1033, b)})})}), true, 219, "stub-B"},
        {"0 is the first", Dir(0, {Dir("VARNOCK", {Dir(219, {Leaf(1033, b)}), Dir(218, {Leaf(1033, a)})})}), true, 0,
         "stub-B"},
        {"218 not first", Dir(0, {Dir("VARNOCK", {Dir(219, {Leaf(1033, b)}), Dir(218, {Leaf(1033, a)})})}), true, 218,
         "stub-A"},
        {"first language", Dir(0, {Dir("VARNOCK", {Dir(218, {Leaf(1031, b), Leaf(1033, a)})})}), true, 218, "stub-B"},
        {"after other types", Dir(0, {Dir("ABC", {Dir(218, {Leaf(1, b)})}), Dir("VARNOCK", {Dir(218, {Leaf(1, a)})}),
                                      Dir(3, {Dir(1, {Leaf(1, b)})})}),
         true, 218, "stub-A"},
        {"missing id", Dir(0, {Dir("VARNOCK", {Dir(219, {Leaf(1033, b)})})}), true, 218, ""},
        {"no such type", Dir(0, {Dir(3, {Dir(218, {Leaf(1033, a)})})}), true, 218, ""},
        {"case differs", lowerCase, true, 218, ""},
        {"not a type", notAType, true, 0, ""},
        {"empty data", Dir(0, {Dir("VARNOCK", {Dir(218, {Leaf(1033, {})})})}), true, 218, ""},
        {"no language", Dir(0, {Dir("VARNOCK", {Dir(218, {})})}), true, 218, ""},
        {"empty type", Dir(0, {Dir("VARNOCK", {})}), true, 0, ""},
        {"language is a directory", Dir(0, {Dir("VARNOCK", {Dir(218, {Dir(1033, {Leaf(1, a)})})})}), true, 218, ""},
        {"no resource tree", Dir(0, {}), false, 218, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Plan p = samplePlan(false);
        p.root = c.root;
        p.withResources = c.withResources;
        Image module(p);
        const uint8_t* data = reinterpret_cast<const uint8_t*>(1);
        uint32_t size = 77;
        bool found = findStubResource(*module, c.id, &data, &size);
        EXPECT_EQ(found, !c.found.empty());
        if (found) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size), c.found);
        } else {
            EXPECT_EQ(data, nullptr);
            EXPECT_EQ(size, 0u);
        }
    }
}

}  // namespace
