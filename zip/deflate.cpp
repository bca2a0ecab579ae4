// Deflate: raw RFC 1951 streams, levels 0 to 9.
//
// Level 0 writes stored blocks. Levels 1 to 9 find matches with hash chains
// over a 64 KiB buffer that holds a 32 KiB history and the lookahead (slid
// down by 32 KiB as it fills); levels 1 to 3 take the first good match
// ("greedy"), levels 4 to 9 defer each match by one byte to see whether the
// next position matches longer ("lazy"). Symbols are collected per block;
// each block is sent as whichever of stored, fixed Huffman or dynamic
// Huffman is smallest. Memory is fixed per object (about 400 KiB).
#include "zip/deflate.h"

#include <algorithm>
#include <cstring>

#include "support/byte_reader.h"
#include "zip/deflate_tables.h"

DeflateSink::~DeflateSink() = default;

namespace {

constexpr uint32_t kWSize = 32768;
constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kMaxMatch = 258;
constexpr uint32_t kMinLookahead = kMaxMatch + kMinMatch + 1;
constexpr uint32_t kBufSize = 2 * kWSize;
// Matches reach back at most this far, so that a match found just before
// the buffer slides (and still pending in lazy matching) stays inside it.
constexpr uint32_t kMaxDist = kWSize - kMinLookahead;
constexpr uint32_t kBufPad = 16;  // reads of 8 bytes may run past the data
constexpr unsigned kHashBits = 15;
constexpr uint32_t kHashSize = 1u << kHashBits;
constexpr int32_t kNil = -1;
constexpr uint32_t kTooFar = 4096;   // a 3-byte match further back than this rarely pays
constexpr size_t kSymBufSize = 16384;  // symbols per block
constexpr size_t kOutBufSize = 65536;
constexpr size_t kStoredMax = 65535;

struct LevelConfig {
    uint16_t good, lazy, nice, chain;
    bool lazyMatching;
};
// good: shorten the chain search once a match this long is in hand;
// lazy: do not look for a better match past this length (greedy levels:
// insert the positions of matches no longer than this); nice: stop the
// search at this length; chain: positions examined per search.
constexpr LevelConfig kLevels[10] = {
    {0, 0, 0, 0, false},          {4, 4, 8, 4, false},         {4, 5, 16, 8, false},
    {4, 6, 32, 32, false},        {4, 4, 16, 16, true},        {8, 16, 32, 32, true},
    {8, 16, 128, 128, true},      {8, 32, 128, 256, true},     {32, 128, 258, 1024, true},
    {32, 258, 258, 4096, true},
};

using namespace deflate_format;

// Symbol lookup tables, built once.
struct CodeMaps {
    uint8_t lenCode[259];    // match length -> length symbol - 257
    uint8_t distCode[512];   // see distSymbol()
    constexpr CodeMaps() : lenCode(), distCode() {
        for (unsigned c = 0; c < 29; c++) {
            unsigned hi = c == 28 ? 258 : kLenBase[c] + (1u << kLenExtra[c]) - 1;
            for (unsigned l = kLenBase[c]; l <= hi && l <= 258; l++) lenCode[l] = uint8_t(c);
        }
        lenCode[258] = 28;
        for (unsigned c = 0; c < 30; c++) {
            unsigned lo = kDistBase[c] - 1, hi = lo + (1u << kDistExtra[c]);
            for (unsigned d = lo; d < hi; d++) {
                if (d < 256) distCode[d] = uint8_t(c);
                else if ((d >> 7) < 256) distCode[256 + (d >> 7)] = uint8_t(c);
            }
        }
    }
};
constexpr CodeMaps kMaps;

inline unsigned distSymbol(uint32_t dist) {
    uint32_t d = dist - 1;
    return d < 256 ? kMaps.distCode[d] : kMaps.distCode[256 + (d >> 7)];
}

inline uint32_t reverseBits(uint32_t code, unsigned len) {
    uint32_t r = 0;
    for (unsigned i = 0; i < len; i++) r |= ((code >> i) & 1) << (len - 1 - i);
    return r;
}

// Canonical codes (bit-reversed for the LSB-first stream) from lengths.
void makeCodes(const uint8_t* lens, unsigned n, uint16_t* codes) {
    unsigned count[16] = {};
    for (unsigned i = 0; i < n; i++) count[lens[i]]++;
    count[0] = 0;
    uint32_t next[16];
    uint32_t code = 0;
    for (unsigned l = 1; l < 16; l++) {
        code = (code + count[l - 1]) << 1;
        next[l] = code;
    }
    for (unsigned i = 0; i < n; i++)
        codes[i] = lens[i] ? uint16_t(reverseBits(next[lens[i]]++, lens[i])) : 0;
}

// Huffman code lengths for freq[0..n), limited to maxLen bits. Symbols
// with frequency 0 get length 0. At least two symbols always get a code,
// so every code sent is complete. When the optimal code is too deep, the
// frequencies are flattened and the code rebuilt; that stays a valid
// Huffman code of the flattened frequencies, hence complete.
void buildLengths(const uint32_t* freqIn, unsigned n, unsigned maxLen, uint8_t* lens) {
    uint32_t freq[288];
    std::memcpy(freq, freqIn, n * sizeof(uint32_t));
    unsigned used = 0;
    for (unsigned i = 0; i < n; i++) used += freq[i] != 0;
    for (unsigned i = 0; used < 2 && i < n; i++)
        if (!freq[i]) {
            freq[i] = 1;
            used++;
        }
    for (unsigned shift = 0;; shift++) {
        // Leaves sorted by frequency; internal nodes come out in rising
        // weight, so two queues replace a heap.
        struct Node { uint32_t weight; int32_t parent; };
        Node nodes[2 * 288];
        uint16_t leaves[288];
        unsigned nl = 0;
        for (unsigned i = 0; i < n; i++)
            if (freq[i]) {
                nodes[i].weight = shift ? ((freq[i] >> shift) | 1) : freq[i];
                nodes[i].parent = -1;
                leaves[nl++] = uint16_t(i);
            }
        std::stable_sort(leaves, leaves + nl, [&](uint16_t a, uint16_t b) { return nodes[a].weight < nodes[b].weight; });
        unsigned li = 0, ii = n, inext = n;  // internal nodes at [n, inext)
        auto pick = [&]() -> unsigned {
            if (li < nl && (ii == inext || nodes[leaves[li]].weight <= nodes[ii].weight)) return leaves[li++];
            return ii++;
        };
        for (unsigned k = 0; k + 1 < nl; k++) {
            unsigned a = pick(), b = pick();
            nodes[inext].weight = nodes[a].weight + nodes[b].weight;
            nodes[inext].parent = -1;
            nodes[a].parent = int32_t(inext);
            nodes[b].parent = int32_t(inext);
            inext++;
        }
        // Depths: parents have higher indices than children, so walk down.
        uint8_t depth[2 * 288];
        unsigned root = inext - 1;
        depth[root] = 0;
        for (unsigned k = root; k-- > n;) depth[k] = uint8_t(depth[nodes[k].parent] + 1);
        unsigned deepest = 0;
        for (unsigned i = 0; i < n; i++) {
            lens[i] = freq[i] ? depth[nodes[i].parent] + 1 : 0;
            if (lens[i] > deepest) deepest = lens[i];
        }
        if (deepest <= maxLen) return;
    }
}

}  // namespace

namespace deflate_detail {
struct DeflateState {
    int level;
    LevelConfig cfg;
    DeflateSink& sink;
    bool failed = false;
    bool finished = false;
    uint64_t totalIn = 0;
    uint64_t totalOut = 0;

    // Match finder
    uint8_t* win = nullptr;  // kBufSize + kBufPad
    int32_t* head = nullptr;
    int32_t* prev = nullptr;
    uint32_t strstart = 0;
    uint32_t lookahead = 0;
    int64_t blockStart = 0;   // where the current block's input begins (may be slid out)
    uint32_t matchLength = kMinMatch - 1;
    uint32_t matchStart = 0;
    uint32_t prevLength = kMinMatch - 1;
    uint32_t prevMatch = 0;
    bool matchAvailable = false;

    // Symbols of the current block
    uint16_t* symDist = nullptr;
    uint8_t* symLen = nullptr;
    size_t symCount = 0;
    uint32_t litFreq[286] = {};
    uint32_t distFreq[30] = {};

    // Output
    uint8_t* outBuf = nullptr;
    size_t outLen = 0;
    uint64_t bitbuf = 0;
    unsigned bitcount = 0;

    // Level 0
    size_t storedLen = 0;

    DeflateState(int lvl, DeflateSink& s) : level(lvl), cfg(kLevels[lvl]), sink(s) {}
};
}  // namespace deflate_detail

struct Deflater::State : deflate_detail::DeflateState {
    using DeflateState::DeflateState;
};

namespace {

using S = deflate_detail::DeflateState;

void flushOut(S& s) {
    if (s.outLen && !s.failed) {
        if (s.sink.write(s.outBuf, s.outLen)) s.totalOut += s.outLen;
        else s.failed = true;
    }
    s.outLen = 0;
}

inline void putBits(S& s, uint32_t value, unsigned n) {
    s.bitbuf |= uint64_t(value) << s.bitcount;
    s.bitcount += n;
    if (s.bitcount >= 32) {
        if (kOutBufSize - s.outLen < 4) flushOut(s);
        storeLE32(s.outBuf + s.outLen, uint32_t(s.bitbuf));
        s.outLen += 4;
        s.bitbuf >>= 32;
        s.bitcount -= 32;
    }
}

// Pads to a byte boundary and moves whole bytes to the output buffer.
void alignBits(S& s) {
    while (s.bitcount > 0) {
        if (s.outLen == kOutBufSize) flushOut(s);
        s.outBuf[s.outLen++] = uint8_t(s.bitbuf);
        s.bitbuf >>= 8;
        s.bitcount = s.bitcount > 8 ? s.bitcount - 8 : 0;
    }
    s.bitbuf = 0;
}

void putBytes(S& s, const uint8_t* p, size_t n) {
    while (n) {
        if (s.outLen == kOutBufSize) flushOut(s);
        size_t k = std::min(n, kOutBufSize - s.outLen);
        std::memcpy(s.outBuf + s.outLen, p, k);
        s.outLen += k;
        p += k;
        n -= k;
    }
}

void writeStored(S& s, const uint8_t* data, size_t len, bool last) {
    do {
        size_t k = std::min(len, kStoredMax);
        bool fin = last && k == len;
        putBits(s, fin ? 1 : 0, 3);
        alignBits(s);
        uint8_t hdr[4];
        storeLE16(hdr, uint16_t(k));
        storeLE16(hdr + 2, uint16_t(~k));
        putBytes(s, hdr, 4);
        putBytes(s, data, k);
        data += k;
        len -= k;
    } while (len);
}

// Run-length codes for the code lengths of both trees (RFC 1951 3.2.7).
struct ClenSym { uint8_t sym, extra; };
size_t rleLengths(const uint8_t* lens, unsigned n, ClenSym* out) {
    size_t k = 0;
    for (unsigned i = 0; i < n;) {
        uint8_t v = lens[i];
        unsigned run = 1;
        while (i + run < n && lens[i + run] == v) run++;
        i += run;
        if (v == 0) {
            while (run >= 11) {
                unsigned r = std::min(run, 138u);
                out[k++] = {18, uint8_t(r - 11)};
                run -= r;
            }
            if (run >= 3) {
                out[k++] = {17, uint8_t(run - 3)};
                run = 0;
            }
        } else {
            out[k++] = {v, 0};
            run--;
            while (run >= 3) {
                unsigned r = std::min(run, 6u);
                out[k++] = {16, uint8_t(r - 3)};
                run -= r;
            }
        }
        while (run--) out[k++] = {v, 0};
    }
    return k;
}

void fixedLengths(uint8_t* lit, uint8_t* dist) {
    unsigned i = 0;
    for (; i < 144; i++) lit[i] = 8;
    for (; i < 256; i++) lit[i] = 9;
    for (; i < 280; i++) lit[i] = 7;
    for (; i < 288; i++) lit[i] = 8;
    for (i = 0; i < 30; i++) dist[i] = 5;
}

void sendSymbols(S& s, const uint8_t* litLens, const uint16_t* litCodes, const uint8_t* distLens,
                 const uint16_t* distCodes) {
    for (size_t i = 0; i < s.symCount; i++) {
        uint32_t dist = s.symDist[i];
        if (dist == 0) {
            unsigned c = s.symLen[i];
            putBits(s, litCodes[c], litLens[c]);
            continue;
        }
        unsigned len = s.symLen[i] + kMinMatch;
        unsigned lc = kMaps.lenCode[len];
        putBits(s, litCodes[257 + lc], litLens[257 + lc]);
        if (kLenExtra[lc]) putBits(s, len - kLenBase[lc], kLenExtra[lc]);
        unsigned dc = distSymbol(dist);
        putBits(s, distCodes[dc], distLens[dc]);
        if (kDistExtra[dc]) putBits(s, dist - kDistBase[dc], kDistExtra[dc]);
    }
    putBits(s, litCodes[256], litLens[256]);
}

// Sends the collected symbols as one block, choosing the smallest type.
// raw/rawLen is the block's input when it is still in the buffer.
void flushBlock(S& s, const uint8_t* raw, size_t rawLen, bool last) {
    s.litFreq[256] = 1;
    uint64_t extraBits = 0;
    for (unsigned c = 0; c < 29; c++) extraBits += uint64_t(s.litFreq[257 + c]) * kLenExtra[c];
    for (unsigned c = 0; c < 30; c++) extraBits += uint64_t(s.distFreq[c]) * kDistExtra[c];

    // Dynamic
    uint8_t lens[286 + 30];
    buildLengths(s.litFreq, 286, 15, lens);
    buildLengths(s.distFreq, 30, 15, lens + 286);
    unsigned hlit = 286;
    while (hlit > 257 && lens[hlit - 1] == 0) hlit--;
    unsigned hdist = 30;
    while (hdist > 1 && lens[286 + hdist - 1] == 0) hdist--;
    uint8_t seq[286 + 30];
    std::memcpy(seq, lens, hlit);
    std::memcpy(seq + hlit, lens + 286, hdist);
    ClenSym rle[286 + 30];
    size_t nrle = rleLengths(seq, hlit + hdist, rle);
    uint32_t clFreq[19] = {};
    for (size_t i = 0; i < nrle; i++) clFreq[rle[i].sym]++;
    uint8_t clLens[19];
    buildLengths(clFreq, 19, 7, clLens);
    unsigned hclen = 19;
    while (hclen > 4 && clLens[kClenOrder[hclen - 1]] == 0) hclen--;
    uint64_t dynBits = 3 + 14 + 3 * hclen;
    for (size_t i = 0; i < nrle; i++) {
        dynBits += clLens[rle[i].sym];
        dynBits += rle[i].sym == 16 ? 2 : rle[i].sym == 17 ? 3 : rle[i].sym == 18 ? 7 : 0;
    }
    uint64_t fixBits = 3 + extraBits;
    uint8_t fixLit[288], fixDist[30];
    fixedLengths(fixLit, fixDist);
    for (unsigned i = 0; i < 286; i++) {
        dynBits += uint64_t(s.litFreq[i]) * lens[i];
        fixBits += uint64_t(s.litFreq[i]) * fixLit[i];
    }
    for (unsigned i = 0; i < 30; i++) {
        dynBits += uint64_t(s.distFreq[i]) * lens[286 + i];
        fixBits += uint64_t(s.distFreq[i]) * 5;
    }
    dynBits += extraBits;
    // Stored: per 65535-byte piece a 3-bit header, padding (at most 7
    // bits) and LEN/NLEN.
    uint64_t storedBits = ~uint64_t(0);
    if (raw) {
        uint64_t pieces = rawLen ? (rawLen + kStoredMax - 1) / kStoredMax : 1;
        storedBits = pieces * (3 + 7 + 32) + uint64_t(rawLen) * 8;
    }

    if (storedBits <= fixBits && storedBits <= dynBits) {
        writeStored(s, raw, rawLen, last);
    } else if (fixBits <= dynBits) {
        uint16_t litCodes[288], distCodes[30];
        makeCodes(fixLit, 288, litCodes);
        makeCodes(fixDist, 30, distCodes);
        putBits(s, (last ? 1 : 0) | (1 << 1), 3);
        sendSymbols(s, fixLit, litCodes, fixDist, distCodes);
    } else {
        uint16_t litCodes[286], distCodes[30], clCodes[19];
        makeCodes(lens, 286, litCodes);
        makeCodes(lens + 286, 30, distCodes);
        makeCodes(clLens, 19, clCodes);
        putBits(s, (last ? 1 : 0) | (2 << 1), 3);
        putBits(s, hlit - 257, 5);
        putBits(s, hdist - 1, 5);
        putBits(s, hclen - 4, 4);
        for (unsigned i = 0; i < hclen; i++) putBits(s, clLens[kClenOrder[i]], 3);
        for (size_t i = 0; i < nrle; i++) {
            putBits(s, clCodes[rle[i].sym], clLens[rle[i].sym]);
            if (rle[i].sym == 16) putBits(s, rle[i].extra, 2);
            else if (rle[i].sym == 17) putBits(s, rle[i].extra, 3);
            else if (rle[i].sym == 18) putBits(s, rle[i].extra, 7);
        }
        sendSymbols(s, lens, litCodes, lens + 286, distCodes);
    }
    s.symCount = 0;
    std::memset(s.litFreq, 0, sizeof s.litFreq);
    std::memset(s.distFreq, 0, sizeof s.distFreq);
}

void flushBlockHere(S& s, bool last) {
    const uint8_t* raw = s.blockStart >= 0 ? s.win + s.blockStart : nullptr;
    size_t rawLen = size_t(int64_t(s.strstart) - s.blockStart);
    flushBlock(s, raw, rawLen, last);
    s.blockStart = s.strstart;
}

inline bool emitLiteral(S& s, uint8_t c) {
    s.symDist[s.symCount] = 0;
    s.symLen[s.symCount] = c;
    s.symCount++;
    s.litFreq[c]++;
    return s.symCount == kSymBufSize - 1;
}

inline bool emitMatch(S& s, uint32_t dist, uint32_t len) {
    s.symDist[s.symCount] = uint16_t(dist);
    s.symLen[s.symCount] = uint8_t(len - kMinMatch);
    s.symCount++;
    s.litFreq[257 + kMaps.lenCode[len]]++;
    s.distFreq[distSymbol(dist)]++;
    return s.symCount == kSymBufSize - 1;
}

inline uint32_t hashAt(const uint8_t* p) {
    uint32_t v = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
    return (v * 0x9E3779B1u) >> (32 - kHashBits);
}

// Inserts the string at pos; returns the previous head of its chain.
inline int32_t insertString(S& s, uint32_t pos) {
    uint32_t h = hashAt(s.win + pos);
    int32_t old = s.head[h];
    s.prev[pos & (kWSize - 1)] = old;
    s.head[h] = int32_t(pos);
    return old;
}

// Longest match at strstart among the chain starting at cur, better than
// prevLength. Sets matchStart. Never longer than the lookahead.
uint32_t longestMatch(S& s, int32_t cur, uint32_t prevLength) {
    uint32_t chain = s.cfg.chain;
    uint32_t best = prevLength;
    uint32_t nice = std::min<uint32_t>(s.cfg.nice, s.lookahead);
    uint32_t limit = std::min(s.lookahead, kMaxMatch);
    if (prevLength >= s.cfg.good) chain >>= 2;
    const uint8_t* scan = s.win + s.strstart;
    const uint32_t start = s.strstart;
    while (cur >= 0 && start - uint32_t(cur) <= kMaxDist) {
        const uint8_t* m = s.win + cur;
        // Cheap rejection: the byte that would extend the best match, then
        // the first bytes.
        if (m[best] == scan[best] && m[0] == scan[0] && m[1] == scan[1]) {
            // Compare 8 bytes at a time; the buffer padding makes the
            // reads past the lookahead safe, and len is clamped after.
            uint32_t len = 0;
            for (;;) {
                uint64_t a = loadLE64(scan + len), b = loadLE64(m + len);
                uint64_t x = a ^ b;
                if (x) {
                    len += unsigned(__builtin_ctzll(x)) >> 3;
                    break;
                }
                len += 8;
                if (len >= limit) break;
            }
            if (len > limit) len = limit;
            if (len > best) {
                best = len;
                s.matchStart = uint32_t(cur);
                if (len >= nice) break;
            }
        }
        if (--chain == 0) break;
        int32_t next = s.prev[uint32_t(cur) & (kWSize - 1)];
        if (next >= cur) break;  // the link was overwritten by a newer position
        cur = next;
    }
    return best;
}

// Moves the upper 32 KiB down when the lookahead reaches the buffer's end.
void slide(S& s) {
    std::memmove(s.win, s.win + kWSize, kWSize);
    s.strstart -= kWSize;
    s.matchStart -= std::min(s.matchStart, kWSize);
    s.prevMatch -= std::min(s.prevMatch, kWSize);
    s.blockStart -= kWSize;
    for (uint32_t i = 0; i < kHashSize; i++) s.head[i] = s.head[i] >= int32_t(kWSize) ? s.head[i] - int32_t(kWSize) : kNil;
    for (uint32_t i = 0; i < kWSize; i++) s.prev[i] = s.prev[i] >= int32_t(kWSize) ? s.prev[i] - int32_t(kWSize) : kNil;
}

// Greedy matching (levels 1-3) over the lookahead; stops when fewer than
// kMinLookahead bytes remain unless flushing.
void compressGreedy(S& s, bool flush) {
    for (;;) {
        if (s.lookahead < kMinLookahead && (!flush || s.lookahead == 0)) return;
        int32_t hashHead = kNil;
        if (s.lookahead >= kMinMatch) hashHead = insertString(s, s.strstart);
        s.matchLength = 0;
        if (hashHead != kNil && s.strstart - uint32_t(hashHead) <= kMaxDist)
            s.matchLength = longestMatch(s, hashHead, kMinMatch - 1);
        bool full;
        if (s.matchLength >= kMinMatch) {
            full = emitMatch(s, s.strstart - s.matchStart, s.matchLength);
            s.lookahead -= s.matchLength;
            if (s.matchLength <= s.cfg.lazy && s.lookahead >= kMinMatch) {
                s.matchLength--;
                do {
                    s.strstart++;
                    insertString(s, s.strstart);
                } while (--s.matchLength != 0);
                s.strstart++;
            } else {
                s.strstart += s.matchLength;
                s.matchLength = 0;
            }
        } else {
            full = emitLiteral(s, s.win[s.strstart]);
            s.lookahead--;
            s.strstart++;
        }
        if (full) flushBlockHere(s, false);
    }
}

// Lazy matching (levels 4-9).
void compressLazy(S& s, bool flush) {
    for (;;) {
        if (s.lookahead < kMinLookahead && (!flush || s.lookahead == 0)) break;
        int32_t hashHead = kNil;
        if (s.lookahead >= kMinMatch) hashHead = insertString(s, s.strstart);
        s.prevLength = s.matchLength;
        s.prevMatch = s.matchStart;
        s.matchLength = kMinMatch - 1;
        if (hashHead != kNil && s.prevLength < s.cfg.lazy && s.strstart - uint32_t(hashHead) <= kMaxDist) {
            s.matchLength = longestMatch(s, hashHead, s.prevLength);
            if (s.matchLength == kMinMatch && s.strstart - s.matchStart > kTooFar) s.matchLength = kMinMatch - 1;
        }
        if (s.prevLength >= kMinMatch && s.matchLength <= s.prevLength) {
            uint32_t maxInsert = s.strstart + s.lookahead - kMinMatch;
            bool full = emitMatch(s, s.strstart - 1 - s.prevMatch, s.prevLength);
            // The match began at strstart - 1; strstart is already hashed.
            s.lookahead -= s.prevLength - 1;
            s.prevLength -= 2;
            do {
                if (++s.strstart <= maxInsert) insertString(s, s.strstart);
            } while (--s.prevLength != 0);
            s.matchAvailable = false;
            s.matchLength = kMinMatch - 1;
            s.strstart++;
            if (full) flushBlockHere(s, false);
        } else if (s.matchAvailable) {
            // The block ends before the byte now pending at strstart.
            if (emitLiteral(s, s.win[s.strstart - 1])) flushBlockHere(s, false);
            s.strstart++;
            s.lookahead--;
        } else {
            s.matchAvailable = true;
            s.strstart++;
            s.lookahead--;
        }
    }
    if (flush && s.matchAvailable) {
        if (emitLiteral(s, s.win[s.strstart - 1])) flushBlockHere(s, false);
        s.matchAvailable = false;
    }
}

void compress(S& s, bool flush) {
    if (s.cfg.lazyMatching) compressLazy(s, flush);
    else compressGreedy(s, flush);
}

}  // namespace

// A negative level means the default (6), as callers of zlib-style APIs
// expect; levels above 9 act as 9.
Deflater::Deflater(int level, DeflateSink& sink)
    : s_(new State(level < 0 ? 6 : level > 9 ? 9 : level, sink)) {
    State& s = *s_;
    s.outBuf = new uint8_t[kOutBufSize];
    if (s.level == 0) {
        s.win = new uint8_t[kStoredMax];
        return;
    }
    s.win = new uint8_t[kBufSize + kBufPad]();
    s.head = new int32_t[kHashSize];
    s.prev = new int32_t[kWSize];
    std::fill(s.head, s.head + kHashSize, kNil);
    std::fill(s.prev, s.prev + kWSize, kNil);
    s.symDist = new uint16_t[kSymBufSize];
    s.symLen = new uint8_t[kSymBufSize];
}

Deflater::~Deflater() {
    delete[] s_->outBuf;
    delete[] s_->win;
    delete[] s_->head;
    delete[] s_->prev;
    delete[] s_->symDist;
    delete[] s_->symLen;
    delete s_;
}

uint64_t Deflater::totalIn() const { return s_->totalIn; }
uint64_t Deflater::totalOut() const { return s_->totalOut + s_->outLen; }

bool Deflater::write(const uint8_t* data, size_t length) {
    State& s = *s_;
    if (s.failed || s.finished) return false;
    if (!length) return true;
    s.totalIn += length;
    if (s.level == 0) {
        while (length) {
            size_t k = std::min(length, kStoredMax - s.storedLen);
            std::memcpy(s.win + s.storedLen, data, k);
            s.storedLen += k;
            data += k;
            length -= k;
            if (s.storedLen == kStoredMax) {
                writeStored(s, s.win, s.storedLen, false);
                s.storedLen = 0;
                flushOut(s);
            }
        }
        return !s.failed;
    }
    while (length && !s.failed) {
        if (s.strstart >= kBufSize - kMinLookahead) slide(s);
        uint32_t end = s.strstart + s.lookahead;
        size_t k = std::min<size_t>(length, kBufSize - end);
        std::memcpy(s.win + end, data, k);
        s.lookahead += uint32_t(k);
        data += k;
        length -= k;
        compress(s, false);
    }
    if (s.outLen >= kOutBufSize / 2) flushOut(s);
    return !s.failed;
}

bool Deflater::finish() {
    State& s = *s_;
    if (s.failed) return false;
    if (s.finished) return true;
    s.finished = true;
    if (s.level == 0) {
        writeStored(s, s.win, s.storedLen, true);
        s.storedLen = 0;
    } else {
        compress(s, true);
        flushBlockHere(s, true);
    }
    alignBits(s);
    flushOut(s);
    return !s.failed;
}
