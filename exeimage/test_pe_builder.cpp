#include "exeimage/test_pe_builder.h"

#include <map>

#include "support/platform.h"

namespace testpe {

Res Dir(uint16_t id, std::vector<Res> children) {
    Res r;
    r.id = id;
    r.children = std::move(children);
    return r;
}
Res Dir(const std::string& name, std::vector<Res> children) {
    Res r = Dir(0, std::move(children));
    r.named = true;
    r.name = name;
    return r;
}
Res Leaf(uint16_t language, Bytes data, uint32_t codePage) {
    Res r;
    r.id = language;
    r.leaf = true;
    r.data = std::move(data);
    r.codePage = codePage;
    return r;
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

uint16_t get16(const Bytes& b, uint32_t off) { return uint16_t(b.at(off) | (b.at(off + 1) << 8)); }
uint32_t get32(const Bytes& b, uint32_t off) { return get16(b, off) | (uint32_t(get16(b, off + 2)) << 16); }
void put16(Bytes& b, uint32_t off, uint16_t v) { b.at(off) = uint8_t(v), b.at(off + 1) = uint8_t(v >> 8); }
void put32(Bytes& b, uint32_t off, uint32_t v) { put16(b, off, uint16_t(v)), put16(b, off + 2, uint16_t(v >> 16)); }

namespace {

uint32_t alignUp(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

std::vector<const Res*> ordered(const Res& d) {
    std::vector<const Res*> out;
    for (int pass = 0; pass < 2; pass++)
        for (auto& c : d.children)
            if (c.named == (pass == 0)) out.push_back(&c);
    return out;
}

void dumpNode(const Res& r, int depth, bool root, std::string& out) {
    static const char digits[] = "0123456789abcdef";
    out += std::string(size_t(depth) * 2, ' ') + (r.named ? "name " + r.name : "id " + std::to_string(root ? 0 : r.id));
    if (r.leaf) {
        out += " cp " + std::to_string(r.codePage) + " = ";
        for (uint8_t c : r.data) out += {digits[c >> 4], digits[c & 15]};
        out += "\n";
        return;
    }
    out += " dir " + std::to_string(r.timeDateStamp) + "\n";
    for (const Res* c : ordered(r)) dumpNode(*c, depth + 1, false, out);
}

// Tables breadth-first, then names, data entries and data.
Bytes serialize(const Res& root, uint32_t rva, uint32_t gap, Built& out) {
    std::vector<const Res*> dirs{&root}, leaves, named;
    for (size_t i = 0; i < dirs.size(); i++)
        for (const Res* c : ordered(*dirs[i])) {
            (c->leaf ? leaves : dirs).push_back(c);
            if (c->named) named.push_back(c);
        }
    std::map<const Res*, uint32_t> off, name, data;
    uint32_t at = 0;
    for (const Res* d : dirs) off[d] = at, at += 16 + 8 * uint32_t(d->children.size());
    for (const Res* n : named) name[n] = at, at += 2 + 2 * uint32_t(n->name.size());
    at = alignUp(at, 4) + gap;
    for (const Res* l : leaves) off[l] = at, at += 16;
    for (const Res* l : leaves) at = alignUp(at, 4), data[l] = at, at += uint32_t(l->data.size());

    Bytes b(at, 0);
    out.directoryOffsets.clear(), out.nameOffsets.clear(), out.dataEntryOffsets.clear();
    for (const Res* d : dirs) {
        uint32_t o = off[d];
        out.directoryOffsets.push_back(o);
        put32(b, o + 4, d->timeDateStamp);
        uint16_t namedCount = 0;
        for (auto& c : d->children) namedCount += c.named;
        put16(b, o + 12, namedCount);
        put16(b, o + 14, uint16_t(d->children.size() - namedCount));
        for (const Res* c : ordered(*d)) {
            o += 8;
            put32(b, o + 8, c->named ? 0x80000000u | name[c] : c->id);
            put32(b, o + 12, c->leaf ? off[c] : 0x80000000u | off[c]);
        }
    }
    for (const Res* n : named) {
        out.nameOffsets.push_back(name[n]);
        put16(b, name[n], uint16_t(n->name.size()));
        for (size_t k = 0; k < n->name.size(); k++) put16(b, name[n] + 2 + 2 * uint32_t(k), uint8_t(n->name[k]));
    }
    for (const Res* l : leaves) {
        out.dataEntryOffsets.push_back(off[l]);
        put32(b, off[l], rva + data[l]);
        put32(b, off[l] + 4, uint32_t(l->data.size()));
        put32(b, off[l] + 8, l->codePage);
        std::copy(l->data.begin(), l->data.end(), b.begin() + data[l]);
    }
    return b;
}

}  // namespace

std::string dump(const Res& root) {
    std::string s;
    dumpNode(root, 0, true, s);
    return s;
}

Built build(const Plan& plan) {
    Built out;
    std::vector<Section> sections = plan.sections;
    int r = plan.resourceIndex < 0 ? int(sections.size()) : plan.resourceIndex;
    if (plan.withResources)
        sections.insert(sections.begin() + r, {plan.resourceSectionName, serialize(plan.root, 0, plan.resourceGap, out)});
    out.optionalOffset = out.ntOffset + 24;
    out.optionalSize = plan.pe64 ? 240 : 224;
    out.headersEnd = out.sectionHeader(int(sections.size()));
    const uint32_t sizeOfHeaders = alignUp(out.headersEnd, plan.fileAlignment);

    std::vector<uint32_t> va, vs, ptr, raw;
    uint32_t virt = plan.sectionAlignment, file = sizeOfHeaders;
    for (auto& s : sections) {
        va.push_back(virt);
        vs.push_back(s.virtualSize ? s.virtualSize : uint32_t(s.data.size()));
        ptr.push_back(s.noRawData ? 0 : file);
        raw.push_back(s.noRawData ? 0 : alignUp(uint32_t(s.data.size()), plan.fileAlignment));
        file += raw.back();
        virt = alignUp(virt + vs.back(), plan.sectionAlignment);
    }
    if (plan.withResources) {
        out.rsrcRva = va[size_t(r)];
        out.rsrcFileOffset = ptr[size_t(r)];
        sections[size_t(r)].data = serialize(plan.root, out.rsrcRva, plan.resourceGap, out);
        out.rsrcSize = uint32_t(sections[size_t(r)].data.size());
    }

    Bytes& b = out.bytes;
    b.assign(file, 0);
    b[0] = 'M', b[1] = 'Z';
    put32(b, 60, out.ntOffset);
    for (uint32_t i = 64; i < out.ntOffset; i++) b[i] = uint8_t(i * 7);  // a recognisable DOS stub
    b[out.ntOffset] = 'P', b[out.ntOffset + 1] = 'E';
    put16(b, out.ntOffset + 4, plan.pe64 ? 0x8664 : 0x14c);
    put16(b, out.ntOffset + 6, uint16_t(sections.size()));
    put16(b, out.ntOffset + 20, uint16_t(out.optionalSize));
    put16(b, out.ntOffset + 22, 0x0102);
    const uint32_t o = out.optionalOffset;
    put16(b, o, plan.pe64 ? 0x20b : 0x10b);
    put32(b, o + 32, plan.sectionAlignment);
    put32(b, o + 36, plan.fileAlignment);
    put32(b, o + 56, virt);
    put32(b, o + 60, sizeOfHeaders);
    put32(b, o + 64, 0x12345678);  // checksum: kept as it is
    put32(b, o + (plan.pe64 ? 108 : 92), 16);
    if (plan.withResources) put32(b, out.resourceDirectoryField(), out.rsrcRva), put32(b, out.resourceDirectoryField() + 4, out.rsrcSize);
    for (size_t i = 0; i < sections.size(); i++) {
        uint32_t h = out.sectionHeader(int(i));
        std::copy(sections[i].name.begin(), sections[i].name.begin() + long(std::min<size_t>(8, sections[i].name.size())), b.begin() + h);
        put32(b, h + 8, vs[i]), put32(b, h + 12, va[i]), put32(b, h + 16, raw[i]), put32(b, h + 20, ptr[i]);
        if (!sections[i].noRawData) std::copy(sections[i].data.begin(), sections[i].data.end(), b.begin() + ptr[i]);
    }
    for (uint32_t i = out.headersEnd; i < sizeOfHeaders; i++) b[i] = uint8_t(0xA0 + i % 16);  // header padding
    b.insert(b.end(), plan.overlay.begin(), plan.overlay.end());
    return out;
}

Plan samplePlan(bool pe64) {
    Plan s;
    s.pe64 = pe64;
    Bytes code(0x300);
    for (size_t i = 0; i < code.size(); i++) code[i] = uint8_t(i * 13 + 1);
    s.sections = {{".text", code}, {".data", Text("initialised data"), 0x2000}};
    s.root = Dir(0, {Dir("VARNOCK", {Dir(218, {Leaf(1033, Text("stub-bytes"))})}),
                     Dir(3, {Dir(1, {Leaf(1033, Bytes(40, 0x11))}), Dir(2, {Leaf(1033, Bytes(24, 0x22))})}),
                     Dir(10, {Dir("zip", {Leaf(0, Text("PK-payload"), 1252)})}),
                     Dir(14, {Dir(101, {Leaf(1033, Bytes(20, 0x33))})})});
    s.root.timeDateStamp = 0x11223344;
    s.overlay = Text("overlay-tail-bytes");
    return s;
}

std::string TempDir::path(const std::string& name) {
    std::string p = dir_.file(name);
    dir_.track(p);
    return p;
}

std::string TempDir::write(const std::string& name, const Bytes& bytes) {
    dir_.write(name, std::string(bytes.begin(), bytes.end()));
    return dir_.file(name);
}

bool readWholeFile(const std::string& path, Bytes* out) {
    bool ok = false;
    std::string bytes = ::readWholeFile(path, &ok);
    out->assign(bytes.begin(), bytes.end());
    return ok;
}

uint64_t fileSizeOf(const std::string& path) {
    platform::FileHandle h = platform::openFile(path.c_str(), platform::OpenMode::ReadExisting);
    uint64_t size = UINT64_MAX;
    if (h == platform::kInvalidFile) return size;
    if (!platform::fileSize(h, &size)) size = UINT64_MAX;
    platform::closeFile(h);
    return size;
}

}  // namespace testpe
