// Inflate: raw deflate streams (RFC 1951).
//
// Structure (after libdeflate and zlib):
//   - the bit buffer (up to 64 bits, LSB first) is part of the state, so a
//     call may stop after any whole step and the next call continues;
//   - the slow path decodes one step at a time and pulls input bytes one by
//     one, only when the step needs more bits than it holds; a step that
//     cannot complete leaves the state untouched and returns NeedMore;
//   - the fast loop runs while enough input and output room remain that no
//     check inside one iteration can fail (the bounds are proven below);
//   - output goes straight to the caller's buffer; the last 32 KiB of output
//     is copied into the window at the end of each call, and matches reaching
//     back past this call's output read the window.
#include "zip/inflate.h"

#include <cstring>

#include "support/byte_reader.h"
#include "zip/deflate_tables.h"

namespace {

constexpr uint32_t kWindowSize = 32768;

// Decode table entry (uint32):
//   bits 0-4   code length in bits (for a subtable link: the root bits)
//   bits 8-12  extra bits to read after the code (for a link: subtable bits)
//   bits 13-15 kind
//   bits 16-31 literal value, length or distance base, or subtable offset
enum Kind : uint32_t { kLit = 0, kLen = 1, kEob = 2, kSub = 3, kBad = 4 };

inline uint32_t makeEntry(uint32_t kind, uint32_t payload, uint32_t extra, uint32_t len) {
    return (payload << 16) | (kind << 13) | (extra << 8) | len;
}
inline uint32_t entryLen(uint32_t e) { return e & 31; }
inline uint32_t entryExtra(uint32_t e) { return (e >> 8) & 31; }
inline uint32_t entryKind(uint32_t e) { return (e >> 13) & 7; }
inline uint32_t entryPayload(uint32_t e) { return e >> 16; }

using namespace deflate_format;

constexpr unsigned kLitRootBits = 10;
constexpr unsigned kDistRootBits = 8;
constexpr unsigned kClenBits = 7;
// Room for the root table plus every subtable: each code longer than the
// root bits lies in one subtable of at most 2^(15 - root) entries, and there
// are at most as many subtables as such codes.
constexpr size_t kLitTableSize = (1u << kLitRootBits) + 288 * (1u << (15 - kLitRootBits));
constexpr size_t kDistTableSize = (1u << kDistRootBits) + 32 * (1u << (15 - kDistRootBits));

enum class TableKind { CodeLengths, LitLen, Dist };

// Builds a two-level decode table for the canonical code given by lens.
// Returns false for an over-subscribed code, and for an incomplete code
// except the one case RFC 1951 permits in practice: a single code of one
// bit (unused slots then decode as kBad). A literal/length or distance code
// with no codes at all is accepted; every slot is kBad.
bool buildTable(const uint8_t* lens, unsigned n, unsigned rootBits, TableKind kind, uint32_t* table,
                size_t tableSize) {
    unsigned count[16] = {};
    for (unsigned i = 0; i < n; i++) count[lens[i]]++;
    count[0] = 0;
    unsigned maxLen = 0;
    for (unsigned l = 1; l <= 15; l++)
        if (count[l]) maxLen = l;
    int left = 1;
    for (unsigned l = 1; l <= 15; l++) {
        left <<= 1;
        left -= int(count[l]);
        if (left < 0) return false;  // over-subscribed
    }
    if (maxLen == 0 && kind == TableKind::CodeLengths) return false;
    if (left > 0 && maxLen > 0 && (kind == TableKind::CodeLengths || maxLen != 1)) return false;

    const uint32_t rootSize = 1u << rootBits;
    for (uint32_t i = 0; i < rootSize; i++) table[i] = makeEntry(kBad, 0, 0, rootBits);
    if (maxLen == 0) return true;

    // Symbols sorted by (length, value).
    unsigned offs[17];
    offs[1] = 0;
    for (unsigned l = 1; l < 16; l++) offs[l + 1] = offs[l] + count[l];
    uint16_t sorted[288];
    for (unsigned i = 0; i < n; i++)
        if (lens[i]) sorted[offs[lens[i]]++] = uint16_t(i);
    unsigned total = offs[16];

    auto symbolEntry = [&](unsigned sym, unsigned len) -> uint32_t {
        switch (kind) {
        case TableKind::CodeLengths: return makeEntry(kLit, sym, 0, len);
        case TableKind::LitLen:
            if (sym < 256) return makeEntry(kLit, sym, 0, len);
            if (sym == 256) return makeEntry(kEob, 0, 0, len);
            if (sym < 286) return makeEntry(kLen, kLenBase[sym - 257], kLenExtra[sym - 257], len);
            return makeEntry(kBad, 0, 0, len);
        case TableKind::Dist:
            if (sym < 30) return makeEntry(kLen, kDistBase[sym], kDistExtra[sym], len);
            return makeEntry(kBad, 0, 0, len);
        }
        return 0;
    };

    uint32_t code = 0;  // canonical code, MSB first
    unsigned prevLen = 0;
    size_t next = rootSize;     // next free slot for a subtable
    uint32_t curPrefix = ~0u;   // root index of the current subtable
    size_t curSub = 0;
    unsigned curSubBits = 0;
    unsigned remaining[16];
    for (unsigned l = 0; l < 16; l++) remaining[l] = count[l];
    for (unsigned k = 0; k < total; k++) {
        unsigned sym = sorted[k];
        unsigned len = lens[sym];
        if (k) code = (code + 1) << (len - prevLen);
        prevLen = len;
        // Bit-reverse: deflate sends Huffman codes MSB first into an LSB-first stream.
        uint32_t rev = 0;
        for (unsigned b = 0; b < len; b++) rev |= ((code >> b) & 1) << (len - 1 - b);
        if (len <= rootBits) {
            uint32_t e = symbolEntry(sym, len);
            for (uint32_t i = rev; i < rootSize; i += 1u << len) table[i] = e;
        } else {
            uint32_t prefix = rev & (rootSize - 1);
            if (prefix != curPrefix) {
                // New subtable: as many bits as the codes sharing this prefix need.
                unsigned cur = len - rootBits;
                int room = 1 << cur;
                while (cur + rootBits < maxLen) {
                    room -= int(remaining[cur + rootBits]);
                    if (room <= 0) break;
                    cur++;
                    room <<= 1;
                }
                if ((size_t(1) << cur) > tableSize - next) return false;  // cannot happen (size proven above)
                curPrefix = prefix;
                curSub = next;
                curSubBits = cur;
                next += size_t(1) << cur;
                for (size_t i = 0; i < (size_t(1) << cur); i++) table[curSub + i] = makeEntry(kBad, 0, 0, cur);
                table[prefix] = makeEntry(kSub, uint32_t(curSub), cur, rootBits);
            }
            uint32_t e = symbolEntry(sym, len - rootBits);
            uint32_t sub = rev >> rootBits;
            for (uint32_t i = sub; i < (1u << curSubBits); i += 1u << (len - rootBits)) table[curSub + i] = e;
        }
        remaining[len]--;
    }
    return true;
}

enum class Mode {
    Header,       // block header (3 bits)
    StoredLen,    // LEN and NLEN of a stored block
    StoredCopy,   // copying a stored block
    TableHeader,  // HLIT, HDIST, HCLEN
    ClenLens,     // code length code lengths
    CodeLens,     // literal/length and distance code lengths
    Symbol,       // decoding literal/length symbols
    Literal,      // a decoded literal waiting for output room
    Copy,         // a match being copied
    Done,
    Error,
};

}  // namespace

namespace inflate_detail {
struct InflateState {
    Mode mode = Mode::Header;
    bool finalBlock = false;
    uint64_t bitbuf = 0;
    unsigned bitcount = 0;
    const char* msg = nullptr;
    uint64_t totalOut = 0;

    // Stored block
    uint32_t storedLeft = 0;
    // Dynamic header
    unsigned hlit = 0, hdist = 0, hclen = 0, index = 0;
    uint8_t lens[288 + 32] = {};
    // Pending literal or match
    uint32_t literal = 0;
    uint32_t copyLen = 0, copyDist = 0;

    // Window: the last up to 32 KiB of output before this call (circular).
    uint8_t window[kWindowSize];
    uint32_t wnext = 0, whave = 0;

    uint32_t clenTable[1u << kClenBits];
    uint32_t litTable[kLitTableSize];
    uint32_t distTable[kDistTableSize];

    void clear() {
        mode = Mode::Header;
        finalBlock = false;
        bitbuf = 0;
        bitcount = 0;
        msg = nullptr;
        totalOut = 0;
        storedLeft = 0;
        wnext = whave = 0;
        copyLen = copyDist = 0;
    }
};
}  // namespace inflate_detail

struct Inflater::State : inflate_detail::InflateState {};

Inflater::Inflater() : s_(new State) {}
Inflater::~Inflater() { delete s_; }
void Inflater::reset() { s_->clear(); }
const char* Inflater::message() const { return s_->msg ? s_->msg : ""; }
uint64_t Inflater::totalOut() const { return s_->totalOut; }

namespace {

// The call-local view of the caller's buffers. Input is only ever read
// through pull() (one byte, after checking in < inEnd) and through the fast
// loop's 8-byte loads, which run only while 8 or more bytes remain.
struct Io {
    const uint8_t* in;
    const uint8_t* inEnd;
    uint8_t* outStart;
    uint8_t* out;
    uint8_t* outEnd;
};

inline uint64_t lowBits(uint64_t v, unsigned n) { return v & ((uint64_t(1) << n) - 1); }

void buildFixedTables(inflate_detail::InflateState& s);

// Copies a match of len bytes from dist back. Bytes before this call's
// output come from the window. The caller has checked that dist reaches no
// further back than the output so far and that len bytes of room remain.
inline void copyMatch(inflate_detail::InflateState& s, Io& io, uint32_t len, uint32_t dist) {
    size_t produced = size_t(io.out - io.outStart);
    if (dist > produced) {
        uint32_t back = uint32_t(dist - produced);  // bytes to take from the window, counted from its end
        uint32_t from = (s.wnext + kWindowSize - back) & (kWindowSize - 1);
        while (len && back) {
            uint32_t run = kWindowSize - from;
            if (run > back) run = back;
            if (run > len) run = len;
            std::memcpy(io.out, s.window + from, run);
            io.out += run;
            len -= run;
            back -= run;
            from = (from + run) & (kWindowSize - 1);
        }
    }
    const uint8_t* src = io.out - dist;
    uint8_t* dst = io.out;
    for (uint32_t i = 0; i < len; i++) dst[i] = src[i];
    io.out += len;
}

// Appends this call's output to the window.
void updateWindow(inflate_detail::InflateState& s, const uint8_t* start, size_t n) {
    if (n >= kWindowSize) {
        std::memcpy(s.window, start + n - kWindowSize, kWindowSize);
        s.wnext = 0;
        s.whave = kWindowSize;
        return;
    }
    uint32_t left = uint32_t(n);
    while (left) {
        uint32_t run = kWindowSize - s.wnext;
        if (run > left) run = left;
        std::memcpy(s.window + s.wnext, start, run);
        start += run;
        left -= run;
        s.wnext = (s.wnext + run) & (kWindowSize - 1);
    }
    s.whave = s.whave + uint32_t(n) > kWindowSize ? kWindowSize : s.whave + uint32_t(n);
}

// Pulls bytes until the buffer holds n bits (n <= 56). False when the input
// ran out first; the bytes pulled stay in the bit buffer.
inline bool need(inflate_detail::InflateState& s, Io& io, unsigned n) {
    while (s.bitcount < n) {
        if (io.in == io.inEnd) return false;
        s.bitbuf |= uint64_t(*io.in++) << s.bitcount;
        s.bitcount += 8;
    }
    return true;
}

inline void drop(inflate_detail::InflateState& s, unsigned n) {
    s.bitbuf >>= n;
    s.bitcount -= n;
}

// Looks up one Huffman code in a two-level table without consuming it.
// Returns false when more bits are needed (and pulls them while it can);
// on success *entry is the final entry and *bits the total code length.
inline bool lookup(inflate_detail::InflateState& s, Io& io, const uint32_t* table, unsigned rootBits, uint32_t* entry,
                   unsigned* bits) {
    for (;;) {
        uint32_t e = table[lowBits(s.bitbuf, rootBits)];
        unsigned total = entryLen(e);
        if (entryKind(e) == kSub) {
            uint32_t sub = entryPayload(e) + uint32_t(lowBits(s.bitbuf >> rootBits, entryExtra(e)));
            e = table[sub];
            total = rootBits + entryLen(e);
        }
        if (total <= s.bitcount) {
            *entry = e;
            *bits = total;
            return true;
        }
        if (io.in == io.inEnd) return false;
        s.bitbuf |= uint64_t(*io.in++) << s.bitcount;
        s.bitcount += 8;
    }
}

bool fail(inflate_detail::InflateState& s, const char* msg) {
    s.msg = msg;
    s.mode = Mode::Error;
    return false;
}

// The fast loop. Entered with bitcount < 8 (the slow path never holds a
// whole unused byte) and left the same way: whole bytes still in the bit
// buffer go back to the input.
//
// Bounds: each iteration first refills to at least 56 bits, reading 8 bytes
// at in, and consumes at most 7 of them; the loop runs only while at least
// kFastIn bytes remain, so the load stays inside the input. One iteration
// uses at most 15 + 5 + 15 + 13 = 48 bits, so no further refill is needed.
// It writes at most 258 bytes (a match) plus up to 7 bytes of overrun from
// the 8-byte copy, within kFastOut.
constexpr size_t kFastIn = 16;
constexpr size_t kFastOut = 258 + 16;

// Returns false on a stream error; sets s.mode to Header after an
// end-of-block code, otherwise leaves it at Symbol.
bool fastLoop(inflate_detail::InflateState& s, Io& io) {
    uint64_t bitbuf = s.bitbuf;
    unsigned bitcount = s.bitcount;
    const uint8_t* in = io.in;
    const uint8_t* const inStart = io.in;
    uint8_t* out = io.out;
    const uint32_t* lit = s.litTable;
    const uint32_t* dst = s.distTable;
    bool ok = true;
    while (size_t(io.inEnd - in) >= kFastIn && size_t(io.outEnd - out) >= kFastOut) {
        bitbuf |= loadLE64(in) << bitcount;
        in += (63 - bitcount) >> 3;
        bitcount |= 56;

        uint32_t e = lit[bitbuf & ((1u << kLitRootBits) - 1)];
        if (entryKind(e) == kLit) {
            bitbuf >>= entryLen(e);
            bitcount -= entryLen(e);
            *out++ = uint8_t(entryPayload(e));
            // A second literal fits in the same refill (at most 30 bits used).
            e = lit[bitbuf & ((1u << kLitRootBits) - 1)];
            if (entryKind(e) == kLit) {
                bitbuf >>= entryLen(e);
                bitcount -= entryLen(e);
                *out++ = uint8_t(entryPayload(e));
                continue;
            }
            // Anything else: decode it after a refill.
            continue;
        }
        if (entryKind(e) == kSub) {
            bitbuf >>= kLitRootBits;
            bitcount -= kLitRootBits;
            e = lit[entryPayload(e) + (bitbuf & ((1u << entryExtra(e)) - 1))];
            if (entryKind(e) == kLit) {
                bitbuf >>= entryLen(e);
                bitcount -= entryLen(e);
                *out++ = uint8_t(entryPayload(e));
                continue;
            }
        }
        if (entryKind(e) == kEob) {
            bitbuf >>= entryLen(e);
            bitcount -= entryLen(e);
            s.mode = Mode::Header;
            break;
        }
        if (entryKind(e) == kBad) {
            ok = fail(s, "invalid literal/length code");
            break;
        }
        // Length
        bitbuf >>= entryLen(e);
        bitcount -= entryLen(e);
        uint32_t len = entryPayload(e) + uint32_t(bitbuf & ((1u << entryExtra(e)) - 1));
        bitbuf >>= entryExtra(e);
        bitcount -= entryExtra(e);
        // Distance
        e = dst[bitbuf & ((1u << kDistRootBits) - 1)];
        if (entryKind(e) == kSub) {
            bitbuf >>= kDistRootBits;
            bitcount -= kDistRootBits;
            e = dst[entryPayload(e) + (bitbuf & ((1u << entryExtra(e)) - 1))];
        }
        if (entryKind(e) == kBad) {
            ok = fail(s, "invalid distance code");
            break;
        }
        bitbuf >>= entryLen(e);
        bitcount -= entryLen(e);
        uint32_t dist = entryPayload(e) + uint32_t(bitbuf & ((1u << entryExtra(e)) - 1));
        bitbuf >>= entryExtra(e);
        bitcount -= entryExtra(e);

        size_t produced = size_t(out - io.outStart);
        if (dist > produced) {
            if (dist - produced > s.whave) {
                ok = fail(s, "invalid distance too far back");
                break;
            }
            io.out = out;
            copyMatch(s, io, len, dist);
            out = io.out;
            continue;
        }
        const uint8_t* src = out - dist;
        uint8_t* end = out + len;
        if (dist >= 8) {
            // 8 bytes at a time; overlapping is fine since each load is at
            // least 8 bytes behind its store. May write up to 7 bytes past end.
            do {
                uint64_t w;
                std::memcpy(&w, src, 8);
                std::memcpy(out, &w, 8);
                src += 8;
                out += 8;
            } while (out < end);
        } else if (dist == 1) {
            std::memset(out, *src, len);
        } else {
            for (uint32_t i = 0; i < len; i++) out[i] = src[i];
        }
        out = end;
    }
    // Hand whole unused bytes back: they were all read by this loop, since
    // it started with fewer than 8 bits.
    size_t back = bitcount >> 3;
    if (back > size_t(in - inStart)) back = size_t(in - inStart);  // never before this call's input
    in -= back;
    bitcount -= unsigned(back) * 8;
    bitbuf = lowBits(bitbuf, bitcount);
    s.bitbuf = bitbuf;
    s.bitcount = bitcount;
    io.in = in;
    io.out = out;
    return ok;
}

void buildFixedTables(inflate_detail::InflateState& s) {
    uint8_t lens[288 + 32];
    unsigned i = 0;
    for (; i < 144; i++) lens[i] = 8;
    for (; i < 256; i++) lens[i] = 9;
    for (; i < 280; i++) lens[i] = 7;
    for (; i < 288; i++) lens[i] = 8;
    for (i = 0; i < 32; i++) lens[288 + i] = 5;
    buildTable(lens, 288, kLitRootBits, TableKind::LitLen, s.litTable, kLitTableSize);
    buildTable(lens + 288, 32, kDistRootBits, TableKind::Dist, s.distTable, kDistTableSize);
}

// Runs the state machine until it needs more input or room, finishes, or
// fails. Returns false on error.
bool step(inflate_detail::InflateState& s, Io& io) {
    for (;;) {
        switch (s.mode) {
        case Mode::Header: {
            if (s.finalBlock) {
                s.mode = Mode::Done;
                return true;
            }
            if (!need(s, io, 3)) return true;
            s.finalBlock = s.bitbuf & 1;
            unsigned type = unsigned(s.bitbuf >> 1) & 3;
            drop(s, 3);
            if (type == 0) {
                drop(s, s.bitcount & 7);
                s.mode = Mode::StoredLen;
            } else if (type == 1) {
                buildFixedTables(s);
                s.mode = Mode::Symbol;
            } else if (type == 2) {
                s.mode = Mode::TableHeader;
            } else {
                return fail(s, "invalid block type");
            }
            break;
        }
        case Mode::StoredLen: {
            if (!need(s, io, 32)) return true;
            uint32_t len = uint32_t(s.bitbuf & 0xFFFF);
            uint32_t nlen = uint32_t((s.bitbuf >> 16) & 0xFFFF);
            if (len != (~nlen & 0xFFFF)) return fail(s, "invalid stored block lengths");
            drop(s, 32);
            s.storedLeft = len;
            s.mode = Mode::StoredCopy;
            break;
        }
        case Mode::StoredCopy: {
            // Whole bytes still in the bit buffer come first.
            while (s.storedLeft && s.bitcount >= 8 && io.out < io.outEnd) {
                *io.out++ = uint8_t(s.bitbuf);
                drop(s, 8);
                s.storedLeft--;
            }
            if (s.storedLeft && s.bitcount < 8) {
                size_t n = s.storedLeft;
                if (n > size_t(io.inEnd - io.in)) n = size_t(io.inEnd - io.in);
                if (n > size_t(io.outEnd - io.out)) n = size_t(io.outEnd - io.out);
                if (n) std::memcpy(io.out, io.in, n);
                io.out += n;
                io.in += n;
                s.storedLeft -= uint32_t(n);
            }
            if (s.storedLeft) return true;
            s.mode = Mode::Header;
            break;
        }
        case Mode::TableHeader: {
            if (!need(s, io, 14)) return true;
            s.hlit = unsigned(s.bitbuf & 31) + 257;
            s.hdist = unsigned((s.bitbuf >> 5) & 31) + 1;
            s.hclen = unsigned((s.bitbuf >> 10) & 15) + 4;
            drop(s, 14);
            if (s.hlit > 286 || s.hdist > 30) return fail(s, "too many length or distance symbols");
            s.index = 0;
            std::memset(s.lens, 0, sizeof s.lens);
            s.mode = Mode::ClenLens;
            break;
        }
        case Mode::ClenLens: {
            while (s.index < s.hclen) {
                if (!need(s, io, 3)) return true;
                s.lens[kClenOrder[s.index++]] = uint8_t(s.bitbuf & 7);
                drop(s, 3);
            }
            if (!buildTable(s.lens, 19, kClenBits, TableKind::CodeLengths, s.clenTable, 1u << kClenBits))
                return fail(s, "invalid code lengths set");
            std::memset(s.lens, 0, sizeof s.lens);
            s.index = 0;
            s.mode = Mode::CodeLens;
            break;
        }
        case Mode::CodeLens: {
            unsigned total = s.hlit + s.hdist;
            while (s.index < total) {
                uint32_t e;
                unsigned bits;
                // The code-length table has a single level (7 bits).
                if (!lookup(s, io, s.clenTable, kClenBits, &e, &bits)) return true;
                unsigned sym = entryPayload(e);
                if (sym < 16) {
                    drop(s, bits);
                    s.lens[s.index++] = uint8_t(sym);
                    continue;
                }
                unsigned extra = sym == 16 ? 2 : sym == 17 ? 3 : 7;
                if (!need(s, io, bits + extra)) return true;
                unsigned rep = unsigned(lowBits(s.bitbuf >> bits, extra)) + (sym == 16 ? 3 : sym == 17 ? 3 : 11);
                if (sym == 16 && s.index == 0) return fail(s, "invalid bit length repeat");
                if (rep > total - s.index) return fail(s, "invalid bit length repeat");
                uint8_t v = sym == 16 ? s.lens[s.index - 1] : 0;
                drop(s, bits + extra);
                while (rep--) s.lens[s.index++] = v;
            }
            if (s.lens[256] == 0) return fail(s, "missing end-of-block code");
            if (!buildTable(s.lens, s.hlit, kLitRootBits, TableKind::LitLen, s.litTable, kLitTableSize))
                return fail(s, "invalid literal/lengths set");
            if (!buildTable(s.lens + s.hlit, s.hdist, kDistRootBits, TableKind::Dist, s.distTable, kDistTableSize))
                return fail(s, "invalid distances set");
            s.mode = Mode::Symbol;
            break;
        }
        case Mode::Symbol: {
            if (size_t(io.inEnd - io.in) >= kFastIn && size_t(io.outEnd - io.out) >= kFastOut) {
                if (!fastLoop(s, io)) return false;
                if (s.mode != Mode::Symbol) break;
            }
            uint32_t e;
            unsigned bits;
            if (!lookup(s, io, s.litTable, kLitRootBits, &e, &bits)) return true;
            switch (entryKind(e)) {
            case kLit:
                drop(s, bits);
                if (io.out == io.outEnd) {
                    s.literal = entryPayload(e);
                    s.mode = Mode::Literal;
                    return true;
                }
                *io.out++ = uint8_t(entryPayload(e));
                break;
            case kEob: drop(s, bits); s.mode = Mode::Header; break;
            case kBad: return fail(s, "invalid literal/length code");
            default: {
                // A length, then a distance: consumed together or not at all.
                unsigned lenExtra = entryExtra(e);
                if (!need(s, io, bits + lenExtra)) return true;
                uint32_t len = entryPayload(e) + uint32_t(lowBits(s.bitbuf >> bits, lenExtra));
                unsigned used = bits + lenExtra;
                // Distance code: look it up in the bits after the length.
                uint32_t d;
                unsigned dbits;
                for (;;) {
                    uint64_t rest = s.bitbuf >> used;
                    d = s.distTable[lowBits(rest, kDistRootBits)];
                    dbits = entryLen(d);
                    if (entryKind(d) == kSub) {
                        d = s.distTable[entryPayload(d) + uint32_t(lowBits(rest >> kDistRootBits, entryExtra(d)))];
                        dbits = kDistRootBits + entryLen(d);
                    }
                    if (used + dbits <= s.bitcount) break;
                    if (!need(s, io, s.bitcount + 1)) return true;
                }
                if (entryKind(d) == kBad) return fail(s, "invalid distance code");
                unsigned distExtra = entryExtra(d);
                if (!need(s, io, used + dbits + distExtra)) return true;
                uint32_t dist = entryPayload(d) + uint32_t(lowBits(s.bitbuf >> (used + dbits), distExtra));
                uint64_t history = uint64_t(io.out - io.outStart) + s.whave;
                if (dist > history) return fail(s, "invalid distance too far back");
                drop(s, used + dbits + distExtra);
                s.copyLen = len;
                s.copyDist = dist;
                s.mode = Mode::Copy;
                break;
            }
            }
            break;
        }
        case Mode::Literal:
            if (io.out == io.outEnd) return true;
            *io.out++ = uint8_t(s.literal);
            s.mode = Mode::Symbol;
            break;
        case Mode::Copy: {
            size_t room = size_t(io.outEnd - io.out);
            if (room == 0) return true;
            uint32_t n = s.copyLen;
            if (n > room) n = uint32_t(room);
            copyMatch(s, io, n, s.copyDist);
            s.copyLen -= n;
            if (s.copyLen) return true;
            s.mode = Mode::Symbol;
            break;
        }
        case Mode::Done: return true;
        case Mode::Error: return false;
        }
    }
}

}  // namespace

Inflater::Status Inflater::run(const uint8_t*& in, size_t& inAvail, uint8_t*& out, size_t& outAvail) {
    State& s = *s_;
    if (s.mode == Mode::Error) return Error;
    if (s.mode == Mode::Done) return Done;
    if (!in) inAvail = 0;
    if (!out) outAvail = 0;
    Io io{in, in + inAvail, out, out, out + outAvail};
    bool ok = step(s, io);
    size_t produced = size_t(io.out - io.outStart);
    // Copy matches that reach before this call's output read the window,
    // so it is updated only now, once.
    updateWindow(s, io.outStart, produced);
    s.totalOut += produced;
    inAvail -= size_t(io.in - in);
    in = io.in;
    outAvail -= produced;
    out = io.out;
    if (!ok) return Error;
    return s.mode == Mode::Done ? Done : NeedMore;
}
