#!/usr/bin/env python3
"""Adds help strings to enumeration members of a type library that widl wrote.

widl refuses the helpstring attribute on enumeration members, so a server's
IDL leaves them out and lists them in a text file instead, one member a line:

    Enum.member<TAB>help string

(blank lines and lines starting with '#' are skipped). This build step reads
widl's MSFT-format library, adds each help string to the string table, gives
the member's variable record its help context and help string fields, and
lays the whole file out again:

    tlb_helpstrings.py WIDL_TLB HELP_TXT OUT_TLB

The MSFT layout as widl writes it: a header, the typeinfo offset array and a
segment directory, then the segments back to back (typeinfos, guid hash,
guids, references, import infos, import files, name hash, names, strings,
type descriptions, array descriptions, custom data, custom data guids), then
one member block per typeinfo that has members: its record length, the
function records and the variable records, then the member ids, name
offsets and record offsets. Segment offsets and each typeinfo's member
block offset are absolute file positions; every other reference is relative
to its segment, so appending strings and growing records moves only those.

The file is parsed into that model and written out again from it, offsets
computed first and checked while writing. Before changing anything the
unchanged model must reproduce the input byte for byte; anything else is a
layout this tool does not know, and it stops. Same input, same bytes out.
Any failure exits with status 1 and a message, and writes nothing.
"""
import os
import struct
import sys

MSFT_MAGIC = 0x5446534D
MSFT_VERSION = 0x00010002
HEADER_INTS = 21
SEGMENT_COUNT = 15
SEG_TYPEINFO, SEG_NAME, SEG_STRING = 0, 7, 8
SEGMENT_NAMES = ("typeinfo", "import info", "import files", "references", "guid hash", "guids", "name hash",
                 "names", "strings", "type descriptions", "array descriptions", "custom data",
                 "custom data guids", "reserved 0e", "reserved 0f")
TYPEINFO_SIZE = 0x64
TYPEINFO_MEMOFFSET, TYPEINFO_CELEMENT, TYPEINFO_NAME = 0x04, 0x18, 0x34
HELPDLL_FLAG = 0x100
TKIND_ENUM = 0
NAME_INTRO = 12
PAD = b"\x57"
# A variable record: Info (size | index << 16), DataType, Flags, VarKind and
# vardescsize, OffsValue, then the optional HelpContext and HelpString.
VAR_MIN_SIZE, VAR_HELPCONTEXT, VAR_HELPSTRING, VAR_WITH_HELP = 0x14, 0x14, 0x18, 0x1C
FUNC_MIN_SIZE = 0x18
MAX_STRING = 0x7FFF  # the length is a signed 16-bit count


class TlbError(Exception):
    pass


class Reader:
    """Bounds-checked reads of little-endian values from a byte string."""

    def __init__(self, data, what):
        self.data, self.what = data, what

    def bytes(self, off, length, field):
        size = len(self.data)
        if off < 0 or length < 0 or off > size or length > size - off:
            raise TlbError("%s: %s at 0x%x (%d bytes) lies outside the %d bytes" % (self.what, field, off, length, size))
        return self.data[off:off + length]

    def i32(self, off, field):
        return struct.unpack("<i", self.bytes(off, 4, field))[0]

    def u16(self, off, field):
        return struct.unpack("<H", self.bytes(off, 2, field))[0]


class MemberBlock:
    """One typeinfo's members: records (functions first), ids and names."""

    def __init__(self, records, ids, names):
        self.records, self.ids, self.names = records, ids, names

    def size(self):
        return 4 + sum(len(r) for r in self.records) + 12 * len(self.records)


class TypeLib:
    def __init__(self):
        self.header = []         # the header's ints
        self.helpdll = None      # bytes of the help DLL field, when the flag is set
        self.typeinfo_offsets = b""
        self.segdir = []         # [offset, length, res08, res0c] a segment
        self.order = []          # present segments in file order
        self.segments = {}       # index -> bytearray
        self.blocks = []         # MemberBlock or None, a typeinfo


def parse(data):
    r = Reader(data, "type library")
    lib = TypeLib()
    lib.header = list(struct.unpack("<%di" % HEADER_INTS, r.bytes(0, 4 * HEADER_INTS, "header")))
    if lib.header[0] != MSFT_MAGIC:
        raise TlbError("not an MSFT type library (signature 0x%08x)" % (lib.header[0] & 0xFFFFFFFF))
    if lib.header[1] != MSFT_VERSION:
        raise TlbError("unknown MSFT format version 0x%08x" % (lib.header[1] & 0xFFFFFFFF))
    count = lib.header[8]
    if count < 0 or count > len(data) // TYPEINFO_SIZE:
        raise TlbError("typeinfo count %d does not fit the file" % count)
    pos = 4 * HEADER_INTS
    if lib.header[5] & HELPDLL_FLAG:
        lib.helpdll = r.bytes(pos, 4, "help DLL string offset")
        pos += 4
    lib.typeinfo_offsets = r.bytes(pos, 4 * count, "typeinfo offsets")
    pos += 4 * count
    for i in range(SEGMENT_COUNT):
        lib.segdir.append(list(struct.unpack("<4i", r.bytes(pos, 16, "segment directory entry %d" % i))))
        pos += 16

    present = []
    for i, (off, length, _, _) in enumerate(lib.segdir):
        if off == -1:
            if length != 0:
                raise TlbError("segment '%s' is absent but has length %d" % (SEGMENT_NAMES[i], length))
            continue
        lib.segments[i] = bytearray(r.bytes(off, length, "segment '%s'" % SEGMENT_NAMES[i]))
        present.append((off, i))
    for off, i in sorted(present):
        if off != pos:
            raise TlbError("segment '%s' starts at 0x%x, expected 0x%x right after the one before" %
                           (SEGMENT_NAMES[i], off, pos))
        lib.order.append(i)
        pos += lib.segdir[i][1]
    for needed in (SEG_TYPEINFO, SEG_NAME):
        if needed not in lib.segments:
            raise TlbError("the library has no '%s' segment" % SEGMENT_NAMES[needed])
    if len(lib.segments[SEG_TYPEINFO]) != count * TYPEINFO_SIZE:
        raise TlbError("typeinfo segment holds %d bytes for %d typeinfos" % (len(lib.segments[SEG_TYPEINFO]), count))
    lib.segments.setdefault(SEG_STRING, bytearray())

    for t in range(count):
        funcs, variables = element_counts(lib, t)
        memoffset = typeinfo_field(lib, t, TYPEINFO_MEMOFFSET)
        if memoffset != pos:
            raise TlbError("typeinfo %d: member block at 0x%x, expected 0x%x" % (t, memoffset, pos))
        if funcs + variables == 0:
            lib.blocks.append(None)
            continue
        block = parse_block(r, pos, funcs, variables, t)
        lib.blocks.append(block)
        pos += block.size()
    if pos != len(data):
        raise TlbError("%d bytes after the last member block" % (len(data) - pos))
    return lib


def parse_block(r, pos, funcs, variables, t):
    what = "typeinfo %d" % t
    n = funcs + variables
    infolen = r.i32(pos, what + ": record length")
    r.bytes(pos + 4, infolen, what + ": records")
    tail = pos + 4 + infolen
    arrays = struct.unpack("<%di" % (3 * n), r.bytes(tail, 12 * n, what + ": member arrays"))
    ids, names, offsets = list(arrays[:n]), list(arrays[n:2 * n]), arrays[2 * n:]
    records, at = [], 0
    for k in range(n):
        minimum = FUNC_MIN_SIZE if k < funcs else VAR_MIN_SIZE
        if offsets[k] != at:
            raise TlbError("%s: member %d's record at %d, expected %d after the one before" % (what, k, offsets[k], at))
        if infolen - at < minimum:
            raise TlbError("%s: member %d's record runs past the records" % (what, k))
        size = r.i32(pos + 4 + at, what + ": record size") & 0xFFFF
        if size < minimum or size % 4 or size > infolen - at:
            raise TlbError("%s: member %d's record has a size of %d" % (what, k, size))
        records.append(bytearray(r.bytes(pos + 4 + at, size, what + ": record")))
        at += size
    if at != infolen:
        raise TlbError("%s: records take %d of %d bytes" % (what, at, infolen))
    return MemberBlock(records, ids, names)


def typeinfo_field(lib, t, field):
    return struct.unpack_from("<i", lib.segments[SEG_TYPEINFO], t * TYPEINFO_SIZE + field)[0]


def element_counts(lib, t):
    c = typeinfo_field(lib, t, TYPEINFO_CELEMENT)
    return c & 0xFFFF, (c >> 16) & 0xFFFF


def layout(lib):
    """Phase 1: every segment's offset and every typeinfo's member block
    offset, and the file size."""
    pos = 4 * HEADER_INTS + (4 if lib.helpdll is not None else 0) + len(lib.typeinfo_offsets) + 16 * SEGMENT_COUNT
    segment_offsets = {}
    for i in lib.order:
        segment_offsets[i] = pos
        pos += len(lib.segments[i])
    block_offsets = []
    for block in lib.blocks:
        block_offsets.append(pos)
        pos += block.size() if block else 0
    return segment_offsets, block_offsets, pos


def serialize(lib):
    """Phase 2: writes what layout() placed, checking each position."""
    segment_offsets, block_offsets, size = layout(lib)
    typeinfos = lib.segments[SEG_TYPEINFO]
    for t, off in enumerate(block_offsets):
        struct.pack_into("<i", typeinfos, t * TYPEINFO_SIZE + TYPEINFO_MEMOFFSET, off)
    out = bytearray(struct.pack("<%di" % HEADER_INTS, *lib.header))
    if lib.helpdll is not None:
        out += lib.helpdll
    out += lib.typeinfo_offsets
    for i, (_, _, res08, res0c) in enumerate(lib.segdir):
        if i in segment_offsets:
            out += struct.pack("<4i", segment_offsets[i], len(lib.segments[i]), res08, res0c)
        else:
            out += struct.pack("<4i", -1, 0, res08, res0c)
    for i in lib.order:
        assert len(out) == segment_offsets[i], "segment %d placed at 0x%x, written at 0x%x" % (i, segment_offsets[i], len(out))
        out += lib.segments[i]
    for block, off in zip(lib.blocks, block_offsets):
        if not block:
            continue
        assert len(out) == off, "member block placed at 0x%x, written at 0x%x" % (off, len(out))
        out += struct.pack("<i", sum(len(rec) for rec in block.records))
        for rec in block.records:
            out += rec
        out += struct.pack("<%di" % len(block.ids), *block.ids)
        out += struct.pack("<%di" % len(block.names), *block.names)
        at = 0
        for rec in block.records:
            out += struct.pack("<i", at)
            at += len(rec)
    assert len(out) == size, "file size %d placed, %d written" % (size, len(out))
    return bytes(out)


def name_at(lib, off):
    r = Reader(bytes(lib.segments[SEG_NAME]), "name table")
    length = r.i32(off + 8, "name length at %d" % off) & 0xFF
    return r.bytes(off + NAME_INTRO, length, "name at %d" % off).decode("latin-1")


def strings_of(lib):
    """Offsets of the strings already in the string table, by text."""
    table = bytes(lib.segments[SEG_STRING])
    r = Reader(table, "string table")
    found, off = {}, 0
    while off < len(table):
        length = r.u16(off, "string length at %d" % off)
        text = r.bytes(off + 2, length, "string at %d" % off)
        found.setdefault(text, off)
        off += encoded_size(length)
    if off != len(table):
        raise TlbError("the last string runs past the string table")
    return found


def encoded_size(length):
    # Two length bytes and the text, padded to four bytes and to at least eight.
    return max(8, (length + 2 + 3) & ~3)


def add_string(lib, known, text):
    if text in known:
        return known[text]
    table = lib.segments[SEG_STRING]
    off = len(table)
    size = encoded_size(len(text))
    table += struct.pack("<H", len(text)) + text + PAD * (size - 2 - len(text))
    known[text] = off
    return off


def read_help_file(path):
    """[(enum, member, text, line)] from the help text file."""
    entries, seen = [], set()
    with open(path, "rb") as f:
        lines = f.read().split(b"\n")
    for number, raw in enumerate(lines, 1):
        line = raw.rstrip(b"\r")
        where = "%s:%d" % (path, number)
        if not line.strip() or line.startswith(b"#"):
            continue
        fields = line.split(b"\t")
        if len(fields) != 2 or fields[0].count(b".") != 1:
            raise TlbError("%s: expected 'Enum.member<TAB>help string'" % where)
        enum, member = fields[0].split(b".")
        text = fields[1]
        if not enum or not member or not text:
            raise TlbError("%s: the enumeration, the member and the help string must not be empty" % where)
        if any(b < 0x20 or b > 0x7E for b in line.replace(b"\t", b" ")):
            raise TlbError("%s: only printable ASCII is allowed (the library's strings are ANSI)" % where)
        if len(text) > MAX_STRING:
            raise TlbError("%s: the help string is longer than %d bytes" % (where, MAX_STRING))
        key = (enum.lower(), member.lower())
        if key in seen:
            raise TlbError("%s: %s.%s is listed twice" % (where, enum.decode(), member.decode()))
        seen.add(key)
        entries.append((enum.decode(), member.decode(), text, where))
    if not entries:
        raise TlbError("%s: no help strings listed" % path)
    return entries


def find_enum(lib, name):
    """The typeinfo index of the enumeration; names in a type library are
    compared without regard to case."""
    for t in range(len(lib.blocks)):
        if name_at(lib, typeinfo_field(lib, t, TYPEINFO_NAME)).lower() == name.lower():
            kind = typeinfo_field(lib, t, 0) & 0xF
            if kind != TKIND_ENUM:
                raise TlbError("%s is not an enumeration (type kind %d)" % (name, kind))
            return t
    raise TlbError("the library has no enumeration named %s" % name)


def add_member_help(lib, entries):
    known = strings_of(lib)
    for enum, member, text, where in entries:
        t = find_enum(lib, enum)
        block = lib.blocks[t]
        funcs, variables = element_counts(lib, t)
        names = [name_at(lib, off).lower() for off in block.names[funcs:]] if block else []
        if member.lower() not in names:
            raise TlbError("%s: %s has no member named %s" % (where, enum, member))
        record = block.records[funcs + names.index(member.lower())]
        if len(record) >= VAR_WITH_HELP and struct.unpack_from("<i", record, VAR_HELPSTRING)[0] != -1:
            raise TlbError("%s: %s.%s has a help string already" % (where, enum, member))
        if len(record) < VAR_WITH_HELP:
            if len(record) == VAR_MIN_SIZE:
                record += struct.pack("<i", 0)  # no help context
            record += struct.pack("<i", -1)
            info = struct.unpack_from("<i", record, 0)[0]
            struct.pack_into("<i", record, 0, (info & ~0xFFFF) | VAR_WITH_HELP)
        struct.pack_into("<i", record, VAR_HELPSTRING, add_string(lib, known, text))


def main(argv):
    if len(argv) != 4:
        sys.stderr.write("usage: %s WIDL_TLB HELP_TXT OUT_TLB\n" % os.path.basename(argv[0]))
        return 2
    source, help_file, target = argv[1:]
    try:
        entries = read_help_file(help_file)
        with open(source, "rb") as f:
            data = f.read()
        lib = parse(data)
        if serialize(lib) != data:
            raise TlbError("the library's layout is not the one this tool knows how to rewrite")
        add_member_help(lib, entries)
        result = serialize(lib)
        parse(result)  # the rewritten file must read back under the same rules
    except (TlbError, OSError) as e:
        sys.stderr.write("%s: %s: %s\n" % (os.path.basename(argv[0]), source, e))
        return 1
    temp = target + ".tmp"
    try:
        with open(temp, "wb") as f:
            f.write(result)
        os.replace(temp, target)
    except OSError as e:
        if os.path.exists(temp):
            os.unlink(temp)
        sys.stderr.write("%s: %s: %s\n" % (os.path.basename(argv[0]), target, e))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
