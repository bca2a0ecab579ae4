// EasyCrypt: one-shot encryption and decryption of buffers and files with
// the cipher chosen by number (1 AES, 2 Twofish, anything else Blowfish),
// a key length and a password. No state: every call builds its own cipher.
//
// Every ciphertext is the encryption of the data, then 1 to 16 bytes of
// padding to a multiple of 16 (n bytes of value n), then one whole block
// of sixteen bytes of value 16: L bytes give 16 * floor(L / 16) + 32 bytes,
// and 0 bytes give none.
//
// Buffers are handled whole in memory; files are processed in chunks with
// a fixed working set, and the result is byte for byte the same.
#pragma once

#include <cstdint>

class DataBuffer;
class LogBase;
class SymmetricAlgorithm2;

// The text whose first 30 characters make the password check block.
extern const char kPasswordCheckText[33];
constexpr uint32_t kPasswordCheckPlainLength = 30;
constexpr uint32_t kPasswordCheckBlockSize = 32;
constexpr uint32_t kAlgorithmAes = 1;
constexpr uint32_t kAlgorithmTwofish = 2;

class EasyCrypt {
public:
    static SymmetricAlgorithm2* createCipher(uint32_t algorithm);

    static bool encryptBytes(uint32_t algorithm, int keyBits, const char* password, const void* data,
                             uint32_t length, DataBuffer& out);
    // The reverse: removes both padding layers. False (out emptied) when
    // the length is not 0 or a multiple of 16 of at least 32, or either
    // padding layer is not exactly what encryptBytes writes.
    static bool decryptBytes(uint32_t algorithm, int keyBits, const char* password, const void* data,
                             uint32_t length, DataBuffer& out);

    // An empty input writes nothing and succeeds (an existing output file is
    // left as it is). A failure after the output was opened removes it.
    // When both paths name one file, the work is done whole in memory.
    static bool encryptFile(uint32_t algorithm, int keyBits, const char* password, const char* inPath,
                            const char* outPath, LogBase* log);
    // An empty input gives an empty output file. A failure (unreadable
    // input, invalid length or padding) removes the output.
    static bool decryptFile(uint32_t algorithm, int keyBits, const char* password, const char* inPath,
                            const char* outPath, LogBase* log);

    // The 32-byte check block for a password (always AES-256).
    static bool makeCheckBlock(const char* password, uint8_t out[kPasswordCheckBlockSize]);
    // True only when the block decrypts under the password to the check
    // text; a block of any other length is refused.
    static bool verifyCheckBlock(const char* password, const uint8_t* block, uint32_t length);

    // Chunk size of the file operations (a multiple of 16).
    static constexpr uint32_t kFileChunk = 1u << 20;
};
