// Deflate (RFC 1951 raw streams), levels 0 to 9: stored blocks at level 0
// and for incompressible data, fixed or dynamic Huffman blocks, lazy
// matching from level 4 up. Streaming into a sink.
#pragma once

#include <cstddef>
#include <cstdint>

class DeflateSink {
public:
    virtual ~DeflateSink();
    virtual bool write(const uint8_t* data, size_t length) = 0;  // false stops the stream
};

class Deflater {
public:
    explicit Deflater(int level, DeflateSink& sink);
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // Compresses the bytes (any amount per call). False when the sink refused.
    bool write(const uint8_t* data, size_t length);
    // Ends the stream with a final block. False when the sink refused.
    bool finish();
    uint64_t totalIn() const;
    uint64_t totalOut() const;

private:
    struct State;
    State* s_;
};
