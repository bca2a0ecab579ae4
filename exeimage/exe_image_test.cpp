// The PE image model on well-formed images: loading, finding, adding and
// removing resources, the resource layout, the relayout and the writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <tuple>

#include "exeimage/exe_image.h"
#include "exeimage/test_pe_builder.h"
#include "support/testing/recording_log.h"

using namespace testpe;
using Lines = std::vector<std::string>;
using Image = std::unique_ptr<ExeImage>;

namespace {

std::string str(const uint8_t* p, uint32_t n) { return std::string(reinterpret_cast<const char*>(p), n); }
uint32_t roundUp(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

// The model's tree in the builder's dump form (a Res copied from the model).
Res toRes(const ExeResource* n) {
    Res r = n->isDirectory ? Res{} : Leaf(n->id, Bytes(n->dataPointer(), n->dataPointer() + n->dataSize), n->codePage);
    r.named = n->isNamed, r.name = n->name.str(), r.id = n->id, r.timeDateStamp = n->timeDateStamp;
    for (int i = 0; i < n->namedCount(); i++) r.children.push_back(toRes(n->namedChild(i)));
    for (int i = 0; i < n->idCount(); i++) r.children.push_back(toRes(n->idChild(i)));
    return r;
}
std::string dumpOf(const ExeImage& img) { return img.resources() ? dump(toRes(img.resources())) : ""; }

Image load(const Bytes& b, LogBase* log = nullptr) {
    return Image(ExeImage::loadFromMemory(b.data(), uint32_t(b.size()), "in.exe", log));
}
Image loadFile(const std::string& p, LogBase* log = nullptr) { return Image(ExeImage::loadFromFile(p.c_str(), log)); }

// Writes the image and loads the result again (null, with the log printed, on failure).
Image writeAndReload(ExeImage& img, TempDir& tmp, Bytes* written = nullptr) {
    static int counter = 0;
    std::string out = tmp.path("out" + std::to_string(++counter) + ".exe");
    RecordingLog log;
    EXPECT_TRUE(img.writeToFile(out.c_str(), nullptr, &log)) << testing::PrintToString(log.lines);
    if (written) readWholeFile(out, written);
    return loadFile(out);
}

std::string dataOf(ExeImage& img, const char* name) {
    const uint8_t* p = nullptr;
    uint32_t n = 0;
    return img.findNamedResourceData(name, &p, &n, nullptr) ? str(p, n) : "<missing>";
}

struct SectionHeader {
    uint32_t vs, va, raw, ptr;
};
SectionHeader sectionAt(const Bytes& b, int i) {
    uint32_t h = get32(b, 60) + 24 + get16(b, get32(b, 60) + 20) + 40 * uint32_t(i);
    return {get32(b, h + 8), get32(b, h + 12), get32(b, h + 16), get32(b, h + 20)};
}

// (offset, size) of every blob in a written resource section, in entry order,
// and the offsets of the name strings.
void walk(const Bytes& b, SectionHeader s, uint32_t dir, std::vector<std::pair<uint32_t, uint32_t>>& blobs,
          std::vector<uint32_t>& names) {
    for (uint32_t i = 0, n = get16(b, s.ptr + dir + 12) + get16(b, s.ptr + dir + 14); i < n; i++) {
        uint32_t w1 = get32(b, s.ptr + dir + 16 + 8 * i), w2 = get32(b, s.ptr + dir + 20 + 8 * i);
        if (w1 >> 31) names.push_back(w1 & 0x7FFFFFFF);
        if (w2 >> 31) walk(b, s, w2 & 0x7FFFFFFF, blobs, names);
        else blobs.push_back({get32(b, s.ptr + w2) - s.va, get32(b, s.ptr + w2 + 4)});
    }
}

struct Sink : ProgressSink {
    std::vector<uint32_t> percents;
    void progress(uint32_t v1, uint32_t v2, uint32_t percent, bool*) override {
        EXPECT_EQ(v1 * 2, v2);
        percents.push_back(percent);
    }
};

}  // namespace

TEST(ExeImageLoad, FailuresLogTheirMessageThenTheFileName) {
    TempDir tmp;
    Bytes zm = build(samplePlan()).bytes, farNt = zm;
    zm[0] = 'Z';
    put32(farNt, 60, uint32_t(farNt.size() - 2));
    const std::pair<std::string, std::string> cases[] = {
        {tmp.path("missing.exe"), "Failed to open file"},
        {tmp.write("empty.exe", {}), "Failed to find DOS signature"},
        {tmp.write("zm.exe", zm), "Failed to find DOS signature"},
        {tmp.write("far.exe", farNt), "Failed to find NT header"},
    };
    for (auto& c : cases) {
        RecordingLog log;
        EXPECT_EQ(loadFile(c.first, &log), nullptr);
        EXPECT_EQ(log.lines, (Lines{"error: " + c.second, "data: filename = " + c.first}));
    }
}

// Layout variants that must parse to the builder's tree.
TEST(ExeImageLoad, TreeVariants) {
    struct Case {
        std::string name;
        std::function<void(Plan&)> plan;
        std::function<void(Built&)> patch;
    } cases[] = {
        {"PE32", [](Plan&) {}, [](Built&) {}},
        {"PE32+", [](Plan& s) { s.pe64 = true; }, [](Built&) {}},
        // a data entry offset with bit 27 set: a resource section past 128 MiB
        {"31-bit offsets", [](Plan& s) { s.resourceGap = 0x08000000; },
         [](Built& b) { ASSERT_TRUE(b.dataEntryOffsets[0] & 0x08000000u); }},
        // data past VirtualSize but inside the raw data: the ".rsrc" fallback
        {"data past VirtualSize", [](Plan&) {}, [](Built& b) { put32(b.bytes, b.sectionHeader(2) + 8, 0x20); }},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        Plan plan = samplePlan();
        c.plan(plan);
        Built built = build(plan);
        c.patch(built);
        RecordingLog log;
        Image img = load(built.bytes, &log);
        ASSERT_NE(img, nullptr) << testing::PrintToString(log.lines);
        EXPECT_TRUE(log.lines.empty());
        EXPECT_EQ(dumpOf(*img), dump(plan.root));
        EXPECT_EQ(img->ntHeaders().bytes.length(), plan.pe64 ? 264u : 248u);
        EXPECT_EQ(img->overlaySize(), plan.overlay.size());
    }
}

TEST(ExeImageFind, NamedSearchAndIconLeaves) {
    Plan plan = samplePlan();
    plan.root.children.push_back(Dir("MULTI", {Dir(5, {Leaf(7, Text("first")), Leaf(8, Text("other-lang"))}),
                                               Dir(6, {Leaf(7, Text("other-res"))})}));
    // Below a numbered type the search unwraps twice under the name and once
    // more on the way up: three levels reach a leaf, four do not.
    plan.root.children.push_back(Dir(20, {Dir("three", {Dir(1, {Dir(2, {Leaf(3, Text("deep"))})})}),
                                          Dir("four", {Dir(1, {Dir(2, {Dir(3, {Leaf(4, Text("x"))})})})})}));
    plan.root.children.push_back(Dir(std::string(600, 'n'), {Dir(1, {Leaf(0, Text("long"))})}));
    plan.root.children[1].children.insert(plan.root.children[1].children.begin(), Dir("NAMED", {Leaf(1, Text("?"))}));
    Bytes bytes = build(plan).bytes;
    Image img = load(bytes);
    ASSERT_NE(img, nullptr);
    const struct {
        std::string name;
        bool found;
        std::string result;  // the data, or the message
    } cases[] = {
        {"VARNOCK", true, "stub-bytes"}, {"MULTI", true, "first"}, {"zip", true, "PK-payload"}, {"three", true, "deep"},
        {std::string(499, 'n'), true, "long"},  // names are cut to 499 characters
        {"Zip", false, "Failed to find named resource"}, {"missing", false, "Failed to find named resource"},
        {"four", false, "Named resource has no data in memory"}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingLog log;
        const uint8_t* p = reinterpret_cast<const uint8_t*>(&log);
        uint32_t n = 99;
        ASSERT_EQ(img->findNamedResourceData(c.name.c_str(), &p, &n, &log), c.found);
        if (c.found) {
            EXPECT_EQ(str(p, n), c.result);
        } else {
            EXPECT_EQ(log.lines, (Lines{"error: " + c.result, "data: resourceName = " + c.name}));
            EXPECT_TRUE(p == nullptr && n == 0);
        }
    }
    // The first icon is the first numbered one (the named icon does not count).
    ASSERT_NE(img->findFirstIconLeaf(), nullptr);
    EXPECT_EQ(img->findFirstIconLeaf()->dataSize, 40u);
    EXPECT_EQ(img->findFirstGroupIconLeaf()->dataSize, 20u);
}

TEST(ExeImageEdit, AddedNamesAppendToANewLastRcDataTypeWithLanguage1) {
    Plan plan = samplePlan();
    plan.root.children.erase(plan.root.children.begin() + 2);  // no type 10
    Bytes bytes = build(plan).bytes;
    Image img = load(bytes);
    ASSERT_NE(img, nullptr);
    const Lines names = {"appTitle", "zeta", "alpha", "zeta"};
    for (auto& n : names) ASSERT_TRUE(img->addNamedData(n.c_str(), n.data(), uint32_t(n.size()), nullptr));
    TempDir tmp;
    Image back = writeAndReload(*img, tmp);
    ASSERT_NE(back, nullptr);
    ExeResource* root = back->resources();
    ASSERT_EQ(root->idCount(), 3);
    EXPECT_EQ(root->idChild(0)->id * 100 + root->idChild(1)->id, 314);
    ExeResource* type = root->idChild(2);
    EXPECT_EQ(type->id, 10);
    ASSERT_EQ(type->namedCount(), 4);
    for (int i = 0; i < 4; i++) {
        ExeResource* dir = type->namedChild(i);
        EXPECT_EQ(dir->name.str(), names[size_t(i)]);
        ASSERT_EQ(dir->idCount() + dir->namedCount(), 1);
        EXPECT_EQ(dir->idChild(0)->id, 1);
        EXPECT_EQ(str(dir->idChild(0)->dataPointer(), dir->idChild(0)->dataSize), names[size_t(i)]);
    }
}

TEST(ExeImageEdit, RemoveReplaceAndFileBackedData) {
    Plan plan = samplePlan();
    plan.root.children.insert(plan.root.children.begin(), Dir("dup", {Dir(1, {Leaf(0, Text("type"))})}));
    plan.root.children[3].children = {Dir("dup", {Leaf(1, Text("1"))}), Dir("dup", {Leaf(1, Text("2"))}),
                                      Dir("keep", {Leaf(1, Text("3"))}), Dir("dup", {Leaf(1, Text("4"))})};
    Bytes bytes = build(plan).bytes;
    Image img = load(bytes);
    ASSERT_NE(img, nullptr);
    img->removeNamed("dup");  // adjacent entries and a named type alike
    img->removeNamed("Keep");
    ExeResource* icon = img->findFirstIconLeaf();
    const uint8_t* before = icon->dataPointer();
    icon->replaceData(DataBuffer());  // empty: no change
    EXPECT_EQ(icon->dataPointer(), before);
    DataBuffer fresh;
    fresh.append("NEWICON", 7);
    icon->replaceData(fresh);
    fresh.clear();

    TempDir tmp;
    Bytes big(10000);
    for (size_t i = 0; i < big.size(); i++) big[i] = uint8_t(i * 31 + 7);
    const Bytes payloads[] = {{}, Text("small"), big};  // empty, one chunk, several chunks
    for (size_t i = 0; i < 3; i++) {
        std::string name = "file" + std::to_string(i);
        ASSERT_TRUE(img->addNamedFile(name.c_str(), tmp.write(name, payloads[i]).c_str(), nullptr));
    }
    ASSERT_TRUE(img->addNamedData("after", "tail", 4, nullptr));
    Bytes out;
    Image back = writeAndReload(*img, tmp, &out);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->resources()->namedCount(), 1);
    EXPECT_EQ(dataOf(*back, "dup"), "<missing>");
    EXPECT_EQ(dataOf(*back, "keep"), "3");
    EXPECT_EQ(str(back->findFirstIconLeaf()->dataPointer(), 7), "NEWICON");
    for (size_t i = 0; i < 3; i++) EXPECT_EQ(dataOf(*back, ("file" + std::to_string(i)).c_str()), str(payloads[i].data(), uint32_t(payloads[i].size())));
    EXPECT_EQ(dataOf(*back, "after"), "tail");
    // The empty file takes no bytes: its blob and the next start together.
    std::vector<std::pair<uint32_t, uint32_t>> blobs;
    std::vector<uint32_t> names;
    walk(out, sectionAt(out, 2), 0, blobs, names);
    // Entry order: VARNOCK, two icons, then type 10: keep, file0 (empty), file1...
    ASSERT_EQ(blobs.size(), 9u);
    EXPECT_EQ(blobs[4].second, 0u);
    EXPECT_EQ(blobs[5].first, blobs[4].first);
}

TEST(ExeImageEdit, ImageWithoutResourceTree) {
    Plan plan = samplePlan();
    plan.withResources = false;
    plan.sections.push_back({".rsrc", Text("not a resource directory")});
    Bytes bytes = build(plan).bytes;
    Image img = load(bytes);
    ASSERT_NE(img, nullptr);
    RecordingLog log;
    EXPECT_FALSE(img->addNamedData("appTitle", "x", 1, &log));
    EXPECT_FALSE(img->addNamedFile("zip", "zip.bin", &log));
    img->removeNamed("appTitle");
    EXPECT_EQ(log.lines, (Lines{"error: Resources pointer is NULL (3)", "error: Resources pointer is NULL (1)"}));
    TempDir tmp;
    Bytes out;
    ASSERT_NE(writeAndReload(*img, tmp, &out), nullptr);
    EXPECT_EQ(out, bytes);  // ".rsrc" copied like any other section
}

// Unchanged round trip: sections stay where they were, the resource section
// is sized from the layout and filled with 'X' to the section alignment.
TEST(ExeImageWrite, RoundTripWithoutChanges) {
    for (bool pe64 : {false, true}) {
        Plan plan = samplePlan(pe64);
        Built built = build(plan);
        const Bytes& in = built.bytes;
        Image img = load(in);
        ASSERT_NE(img, nullptr);
        uint32_t size = 0;
        ASSERT_TRUE(img->resourceLayoutSize(built.rsrcRva, &size, nullptr));
        TempDir tmp;
        Bytes out;
        Image back = writeAndReload(*img, tmp, &out);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(dumpOf(*back), dump(plan.root));

        SectionHeader rsrc = sectionAt(out, 2);
        EXPECT_EQ(rsrc.vs, roundUp(size, 8));
        EXPECT_EQ(rsrc.raw, roundUp(rsrc.vs, 0x1000));
        EXPECT_EQ(std::count(out.begin() + rsrc.ptr + size, out.begin() + rsrc.ptr + rsrc.raw, 'X'), rsrc.raw - size);
        // Everything before the resource section is as it was but SizeOfImage
        // and the resource section's two sizes; the overlay follows it.
        Bytes expected(in.begin(), in.begin() + rsrc.ptr);
        put32(expected, built.optionalOffset + 56, rsrc.va + rsrc.raw);
        put32(expected, built.sectionHeader(2) + 8, rsrc.vs);
        put32(expected, built.sectionHeader(2) + 16, rsrc.raw);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + rsrc.ptr), expected);
        EXPECT_EQ(Bytes(out.begin() + rsrc.ptr + rsrc.raw, out.end()), plan.overlay);
    }
}

// Names take 2 + 2n bytes, unaligned, so the first blob may start on any
// even offset; every later blob starts on a multiple of 8, after zeros.
TEST(ExeImageWrite, NameAreaAndDataAlignment) {
    Bytes bytes = build(samplePlan()).bytes;
    Image img = load(bytes);
    ASSERT_NE(img, nullptr);
    ASSERT_TRUE(img->addNamedData("appTitle", "Title!", 6, nullptr));
    ASSERT_TRUE(img->addNamedData("abc", "0123456789", 10, nullptr));
    TempDir tmp;
    Bytes out;
    ASSERT_NE(writeAndReload(*img, tmp, &out), nullptr);
    SectionHeader s = sectionAt(out, 2);
    std::vector<std::pair<uint32_t, uint32_t>> blobs;
    std::vector<uint32_t> names;
    walk(out, s, 0, blobs, names);
    std::sort(blobs.begin(), blobs.end());
    ASSERT_EQ(names.size(), 4u);
    uint32_t end = names[0];
    for (uint32_t n : names) {
        EXPECT_EQ(n, end);  // packed back to back
        end = n + 2 + 2 * get16(out, s.ptr + n);
    }
    EXPECT_EQ(end - names[0], 2u * 4 + 2 * (7 + 3 + 8 + 3));  // VARNOCK, zip, appTitle, abc
    EXPECT_EQ(blobs[0].first, end);
    EXPECT_NE(end % 8, 0u);  // no alignment after the names
    for (size_t i = 1; i < blobs.size(); i++) {
        EXPECT_EQ(blobs[i].first, roundUp(blobs[i - 1].first + blobs[i - 1].second, 8));
        for (uint32_t k = blobs[i - 1].first + blobs[i - 1].second; k < blobs[i].first; k++) EXPECT_EQ(out[s.ptr + k], 0);
    }
}

// Layouts where the literal rules would corrupt the output.
TEST(ExeImageWrite, SectionLayoutsThatStillWrite) {
    struct Case {
        std::string name;
        std::function<void(Plan&)> plan;
        uint32_t added;  // bytes of an added resource
        uint32_t declaredRaw = 0;  // a raw size set on section 1 after the build
    } cases[] = {
        // a trailing section without raw data does not make the file overlay
        {"trailing .bss", [](Plan& s) { s.sections.push_back({".bss", {}, 0x3000, true}), s.resourceIndex = 2; }, 8},
        // a resource section at index 1 is resized like one further down
        {"resources second", [](Plan& s) { s.sections.pop_back(); }, 0x3000},
        // a resource section followed by another may change within its pages
        {"followed by .reloc", [](Plan& s) { s.sections.push_back({".reloc", Text("relocs")}), s.resourceIndex = 2; }, 8},
        // sections after one without file data go after section 0's data,
        // not over the headers
        {".bss second", [](Plan& s) { s.sections.insert(s.sections.begin() + 1, {".bss", {}, 0x3000, true}); }, 8},
        // a raw size declared without file data is a header value, not
        // gigabytes of zeros to write
        {".bss second declaring raw bytes",
         [](Plan& s) { s.sections.insert(s.sections.begin() + 1, {".bss", {}, 0x3000, true}); }, 8, 0x7FFF0000},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        Plan plan = samplePlan();
        c.plan(plan);
        Built built = build(plan);
        if (c.declaredRaw) put32(built.bytes, built.sectionHeader(1) + 16, c.declaredRaw);
        Image img = load(built.bytes);
        ASSERT_NE(img, nullptr);
        EXPECT_EQ(img->overlaySize(), plan.overlay.size());
        Bytes payload(c.added, 0x5A);
        ASSERT_TRUE(img->addNamedData("big", payload.data(), c.added, nullptr));
        TempDir tmp;
        Bytes out;
        Image back = writeAndReload(*img, tmp, &out);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(dataOf(*back, "big"), str(payload.data(), c.added));
        EXPECT_EQ(back->overlaySize(), plan.overlay.size());
        EXPECT_EQ(Bytes(out.end() - long(plan.overlay.size()), out.end()), plan.overlay);
        EXPECT_LT(out.size(), built.bytes.size() + 0x10000);
        for (int i = 0; i < back->sections().count(); i++) {
            SectionHeader was = sectionAt(built.bytes, i), now = sectionAt(out, i);
            EXPECT_EQ(now.va, was.va);
            if (was.ptr == 0) {
                EXPECT_EQ(now.raw, was.raw);
                EXPECT_TRUE(was.raw == 0 || now.ptr == 0);
            } else if (!back->sections().get(i)->nameIs(".rsrc")) {
                EXPECT_EQ(Bytes(out.begin() + now.ptr, out.begin() + now.ptr + now.raw),
                          Bytes(built.bytes.begin() + was.ptr, built.bytes.begin() + was.ptr + was.raw));
            }
        }
        const ExeSection* last = back->sections().get(back->sections().count() - 1);
        EXPECT_EQ(back->ntHeaders().sizeOfImage(), roundUp(last->virtualAddress() + last->virtualSize(), 0x1000));
    }
}

TEST(ExeImageWrite, RefusalsLeaveNoOutputAndTheModelUnchanged) {
    auto optional32 = [](uint32_t off, uint32_t v) { return [=](Built& b) { put32(b.bytes, b.optionalOffset + off, v); }; };
    struct Case {
        std::string name;
        std::function<void(Plan&)> plan;
        std::function<void(Built&)> patch;
        std::function<void(ExeImage&)> change;
        Lines expected;  // then "filename"
    } cases[] = {
        {"growing resource section followed by another",
         [](Plan& s) { s.sections.push_back({".reloc", Text("relocs")}), s.resourceIndex = 2; }, nullptr,
         [](ExeImage& i) { i.addNamedData("big", Bytes(0x1800).data(), 0x1800, nullptr); },
         {"error: Relayout would move section", "data: section_name = .reloc"}},
        {"fewer than two sections", [](Plan& s) { s.sections.clear(); }, nullptr, nullptr,
         {"error: Image has fewer than two sections"}},
        {"headers reach into section 0", nullptr, [](Built& b) { put32(b.bytes, b.sectionHeader(0) + 20, b.headersEnd - 8); },
         nullptr, {"error: Headers overlap section data"}},
        {"file alignment 0", nullptr, optional32(36, 0), nullptr, {"error: Invalid file alignment"}},
        {"file alignment 2 GiB", nullptr, optional32(36, 0x80000000u), nullptr, {"error: Invalid file alignment"}},
        {"file alignment 0x300", nullptr, optional32(36, 0x300), nullptr, {"error: Invalid file alignment"}},
        {"section alignment below file alignment", nullptr, optional32(32, 0x100), nullptr,
         {"error: Invalid section alignment"}},
        {"section address off the alignment", nullptr, optional32(32, 0x80000000u), nullptr,
         {"error: Section address is not aligned", "data: section_name = .text"}},
        {"tree in a section not named .rsrc", [](Plan& s) { s.resourceSectionName = "RSRC"; }, nullptr, nullptr,
         {"error: Resource directory is not at the start of the .rsrc section"}},
        {"tree not at the start of .rsrc", nullptr,
         [](Built& b) {
             put32(b.bytes, b.resourceDirectoryField(), b.rsrcRva + 0x10);
             std::fill_n(b.bytes.begin() + b.rsrcFileOffset + 0x10, 16, 0);  // an empty table there
         },
         nullptr, {"error: Resource directory is not at the start of the .rsrc section"}},
        {"name longer than a counted string holds", nullptr, nullptr,
         [](ExeImage& i) { i.addNamedData(std::string(70000, 'n').c_str(), "x", 1, nullptr); },
         {"error: Resource name is too long", "data: resourceName = " + std::string(70000, 'n')}},
        {"resource file missing", nullptr, nullptr, [](ExeImage& i) { i.addNamedFile("zip2", "no-such-dir/gone.zip", nullptr); },
         {"error: Failed to open resource file", "data: resource_file = no-such-dir/gone.zip"}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        Plan plan = samplePlan();
        if (c.plan) c.plan(plan);
        Built built = build(plan);
        if (c.patch) c.patch(built);
        Image img = load(built.bytes);
        ASSERT_NE(img, nullptr);
        if (c.change) c.change(*img);
        std::vector<Bytes> headers;
        for (int i = 0; i < img->sections().count(); i++) headers.emplace_back(img->sections().get(i)->header, img->sections().get(i)->header + 40);
        uint32_t imageSize = img->ntHeaders().sizeOfImage();

        TempDir tmp;
        std::string out = tmp.path("out.exe");
        RecordingLog log;
        EXPECT_FALSE(img->writeToFile(out.c_str(), nullptr, &log));
        c.expected.push_back("data: filename = " + out);
        EXPECT_EQ(log.lines, c.expected);
        EXPECT_EQ(fileSizeOf(out), UINT64_MAX);
        for (int i = 0; i < img->sections().count(); i++) EXPECT_EQ(Bytes(img->sections().get(i)->header, img->sections().get(i)->header + 40), headers[size_t(i)]);
        EXPECT_EQ(img->ntHeaders().sizeOfImage(), imageSize);
    }
}

// Failures met while writing: the output cannot be created or written,
// or sizes past 32 bits (sparse files, never read).
TEST(ExeImageWrite, FailuresWhileWriting) {
    TempDir tmp;
    std::vector<std::tuple<std::string, Lines, Lines>> cases = {  // output, files to add, messages
        {tmp.path("no-such-dir") + "/out.exe", {}, {"error: Failed to create file"}}};
    auto sparse = [&](const std::string& name, uint64_t size) {
        std::string p = tmp.path(name);
        platform::FileHandle h = platform::openFile(p.c_str(), platform::OpenMode::CreateAlways);
        uint32_t written = 0;
        EXPECT_TRUE(platform::seekFile(h, size - 1) && platform::writeFile(h, "", 1, &written));
        platform::closeFile(h);
        return p;
    };
    const std::string huge = sparse("huge", 0x100000010ull), big = sparse("big", 0xC0000000ull);
    cases.push_back({"/dev/full", {}, {"error: Failed to write DOS header"}});
    cases.push_back({tmp.path("a.exe"), {huge}, {"error: Resource file is too large", "data: resource_file = " + huge}});
    cases.push_back({tmp.path("b.exe"), {big, big}, {"error: Resource section is too large"}});
    for (auto& [out, files, expected] : cases) {
        Bytes bytes = build(samplePlan()).bytes;
        Image img = load(bytes);
        for (auto& f : files) ASSERT_TRUE(img->addNamedFile(f.c_str(), f.c_str(), nullptr));
        RecordingLog log;
        EXPECT_FALSE(img->writeToFile(out.c_str(), nullptr, &log));
        expected.push_back("data: filename = " + out);
        EXPECT_EQ(log.lines, expected);
    }
}

// Writing over the file the image was loaded from would pull the source
// bytes from under the copy; it is refused and the source stays intact.
TEST(ExeImageWrite, RefusesToOverwriteItsSource) {
    TempDir tmp;
    Bytes bytes = build(samplePlan()).bytes;
    std::string src = tmp.write("src.exe", bytes);
    Image img = loadFile(src);
    ASSERT_NE(img, nullptr);
    img->addNamedData("appTitle", "t", 2, nullptr);
    RecordingLog log;
    EXPECT_FALSE(img->writeToFile(src.c_str(), nullptr, &log));
    EXPECT_EQ(log.lines, (Lines{"error: Output file is the source file", "data: filename = " + src}));
    img.reset();
    Bytes after;
    ASSERT_TRUE(readWholeFile(src, &after));
    EXPECT_EQ(after, bytes);
}

TEST(ProgressMonitor, ReportsOnlyGrowingPercentages) {
    struct Case {
        uint32_t total;
        std::vector<uint64_t> steps;
        bool finish;
        std::vector<uint32_t> reports;
    } cases[] = {
        {3000000, {1500000}, false, {50}},    // totals above 1,000,000 are scaled
        {3000000, {1500000}, true, {50, 100}},
        {200, {1, 1, 1}, false, {1}},          // no report without growth
        {10, {3, 3, 10, 5}, true, {30, 60, 100}},  // done is clamped to total
        {1000009, {10000}, false, {1}},        // 1000 / 100000 after scaling
        {0, {5, 5}, true, {100}},              // a zero total is complete
    };
    for (auto& c : cases) {
        Sink sink;
        ProgressMonitor m(c.total, &sink, 11, 22);
        for (uint64_t s : c.steps) m.advance(s);
        if (c.finish) m.finish();
        EXPECT_EQ(sink.percents, c.reports) << c.total;
    }
    Plan plan = samplePlan();
    plan.overlay = Bytes(300000, 0x4F);
    Bytes bytes = build(plan).bytes;
    Image img = load(bytes);
    TempDir tmp;
    Sink sink;
    ASSERT_TRUE(img->writeToFile(tmp.path("out.exe").c_str(), &sink, nullptr));
    ASSERT_FALSE(sink.percents.empty());
    EXPECT_EQ(sink.percents.back(), 100u);
    EXPECT_TRUE(std::is_sorted(sink.percents.begin(), sink.percents.end()));
    EXPECT_EQ(img->fileSize(), img->ntHeaders().sizeOfImage());  // the total is the relaid image size
}
