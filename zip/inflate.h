// Inflate (raw deflate streams, RFC 1951), streaming: any amount of input
// and output room per call; the 32 KiB window lives in the object.
#pragma once

#include <cstddef>
#include <cstdint>

class Inflater {
public:
    enum Status {
        NeedMore,  // give more input (in is empty) or more output room (out is full)
        Done,      // the final block has ended; unused input stays in in/inAvail
        Error,     // the stream is corrupt; message() says how
    };

    Inflater();
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    void reset();
    // Consumes from in (advancing it and lowering inAvail) and produces into
    // out (advancing it and lowering outAvail).
    Status run(const uint8_t*& in, size_t& inAvail, uint8_t*& out, size_t& outAvail);
    // After Error: a fixed message, e.g. "invalid block type".
    const char* message() const;
    uint64_t totalOut() const;

private:
    struct State;
    State* s_;
};
