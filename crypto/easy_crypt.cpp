#include "crypto/easy_crypt.h"

#include <cstring>
#include <memory>

#include "crypto/symmetric_algorithm.h"
#include "support/byte_reader.h"
#include "support/data_buffer.h"
#include "support/file_sys.h"
#include "support/log_base.h"
#include "support/platform.h"
#include "support/string_buffer.h"

const char kPasswordCheckText[33] = "73920481562FCDBEA04718259364BDEF";

namespace {

std::unique_ptr<SymmetricAlgorithm2> makeCipher(uint32_t algorithm, int keyBits, const char* password) {
    std::unique_ptr<SymmetricAlgorithm2> cipher(EasyCrypt::createCipher(algorithm));
    cipher->setKeyLength(keyBits);
    cipher->useCbc();
    cipher->setPassphrase(password);
    return cipher;
}

// Checks the last 32 bytes of a decrypted stream: a whole block of sixteen
// 16s, before it 1 to 16 bytes of value n. Returns the count of padding
// bytes (17 to 32) to drop, or 0 when the padding is not valid.
uint32_t doublePaddingLength(const uint8_t* last32) {
    for (int i = 16; i < 32; ++i)
        if (last32[i] != 16) return 0;
    uint8_t n = last32[15];
    if (n == 0 || n > 16) return 0;
    for (int i = 16 - n; i < 16; ++i)
        if (last32[i] != n) return 0;
    return 16u + n;
}

// Reads exactly n bytes (short reads are continued).
bool readExactly(platform::FileHandle h, uint8_t* buf, uint32_t n, LogBase& log, const char* path) {
    while (n) {
        uint32_t got = 0;
        if (!platform::readFile(h, buf, n, &got)) {
            logSystemError(log, platform::lastError());
            logPathAndCwd(log, path);
            return false;
        }
        if (got == 0) {
            log.logError("Failed to read the entire file");
            log.logData("filename", path);
            return false;
        }
        buf += got;
        n -= got;
    }
    return true;
}

bool writeAll(platform::FileHandle h, const uint8_t* buf, uint32_t n, LogBase& log, const char* path) {
    uint32_t written = 0;
    if (n && (!platform::writeFile(h, buf, n, &written) || written != n)) {
        logSystemError(log, platform::lastError());
        log.logError("Failed to write the entire file");
        log.logData("filename", path);
        return false;
    }
    return true;
}

// The input side of the file operations: open, size, and the messages of
// the whole-file loader for its failures.
platform::FileHandle openInput(const char* path, uint64_t* size, LogBase& log) {
    if (!path || !*path) {
        log.logError("Cannot load binary data file, filename is NULL or empty");
        return platform::kInvalidFile;
    }
    platform::FileHandle h = platform::openFile(path, platform::OpenMode::ReadExisting);
    if (h == platform::kInvalidFile) {
        logSystemError(log, platform::lastError());
        logPathAndCwd(log, path);
        return h;
    }
    if (!platform::fileSize(h, size)) {
        logSystemError(log, platform::lastError());
        logPathAndCwd(log, path);
        platform::closeFile(h);
        return platform::kInvalidFile;
    }
    return h;
}

platform::FileHandle openOutput(const char* path, LogBase& log) {
    if (!path || !*path) {
        log.logError("No output filename");
        return platform::kInvalidFile;
    }
    platform::FileHandle h = platform::openFile(path, platform::OpenMode::CreateAlways);
    if (h == platform::kInvalidFile) {
        logSystemError(log, platform::lastError());
        log.logError("Failed to open the output file");
        logPathAndCwd(log, path);
    }
    return h;
}

// One chunk (no more than the file needs) and 32 bytes for the padding
// or the held-back tail.
uint32_t bufferSize(uint64_t fileSize) {
    return (fileSize < EasyCrypt::kFileChunk ? uint32_t(fileSize) : EasyCrypt::kFileChunk) + 32;
}

// Closes both files; on failure the output is removed.
bool finish(platform::FileHandle in, platform::FileHandle out, const char* outPath, bool ok) {
    platform::closeFile(in);
    if (out != platform::kInvalidFile) {
        platform::closeFile(out);
        if (!ok) platform::deleteFile(outPath);
    }
    return ok;
}

// Input and output name the same file: streaming would truncate the input
// before reading it, so this case is done whole in memory, as one load and
// one write.
bool inPlace(bool encrypt, uint32_t algorithm, int keyBits, const char* password, const char* path,
             LogBase& log) {
    DataBuffer data;
    if (!data.loadFile(path, &log)) return false;
    if (data.isEmpty()) return true;
    DataBuffer result;
    bool ok = encrypt ? EasyCrypt::encryptBytes(algorithm, keyBits, password, data.data(), data.length(), result)
                      : EasyCrypt::decryptBytes(algorithm, keyBits, password, data.data(), data.length(), result);
    if (!ok) {
        if (!encrypt) log.logError("Decrypted data has invalid padding (wrong password or damaged data)");
        log.logData("filename", path);
        return false;
    }
    return FileSys::writeFile(path, result.data(), result.length(), &log);
}

}  // namespace

SymmetricAlgorithm2* EasyCrypt::createCipher(uint32_t algorithm) {
    if (algorithm == kAlgorithmAes) return new Rijndael2();
    if (algorithm == kAlgorithmTwofish) return new TwoFish();
    return new BlowFish();
}

bool EasyCrypt::encryptBytes(uint32_t algorithm, int keyBits, const char* password, const void* data,
                             uint32_t length, DataBuffer& out) {
    if (length == 0) {
        out.clear();
        return true;
    }
    if (!password || !data) return false;
    // The padded copy and the ciphertext lengths must fit in 32 bits.
    if (length > UINT32_MAX - 48) return false;
    std::unique_ptr<SymmetricAlgorithm2> cipher = makeCipher(algorithm, keyBits, password);
    DataBuffer work(length + 32);
    work.append(data, length);
    work.pad();
    std::unique_ptr<DataBuffer> result(cipher->encryptBuffer(work));
    if (!result || result->isEmpty()) return false;
    out.takeFrom(*result);
    return true;
}

bool EasyCrypt::decryptBytes(uint32_t algorithm, int keyBits, const char* password, const void* data,
                             uint32_t length, DataBuffer& out) {
    out.clear();
    if (length == 0) return true;
    if (!password || !data) return false;
    if (length % 16 != 0 || length < 32) return false;
    std::unique_ptr<SymmetricAlgorithm2> cipher = makeCipher(algorithm, keyBits, password);
    DataBuffer work(length);
    work.append(data, length);
    if (!cipher->beginStream(false) || !cipher->streamBlocks(work.data(), length)) return false;
    uint32_t drop = doublePaddingLength(work.data() + (length - 32));
    if (drop == 0) return false;
    work.truncate(length - drop);
    out.takeFrom(work);
    return true;
}

bool EasyCrypt::encryptFile(uint32_t algorithm, int keyBits, const char* password, const char* inPath,
                            const char* outPath, LogBase* logp) {
    LogBase& log = logOrNull(logp);
    uint64_t size = 0;
    platform::FileHandle in = openInput(inPath, &size, log);
    if (in == platform::kInvalidFile) return false;
    if (size == 0) return finish(in, platform::kInvalidFile, outPath, true);
    if (!password) return finish(in, platform::kInvalidFile, outPath, false);
    if (outPath && platform::sameFile(in, outPath)) {
        platform::closeFile(in);
        return inPlace(true, algorithm, keyBits, password, inPath, log);
    }
    std::unique_ptr<SymmetricAlgorithm2> cipher = makeCipher(algorithm, keyBits, password);
    if (!cipher->beginStream(true)) return finish(in, platform::kInvalidFile, outPath, false);
    platform::FileHandle out = openOutput(outPath, log);
    if (out == platform::kInvalidFile) return finish(in, out, outPath, false);

    // Room for one chunk and the two padding layers.
    std::unique_ptr<uint8_t[]> buf(new uint8_t[bufferSize(size)]);
    uint64_t remaining = size;
    while (remaining) {
        uint32_t n = remaining < kFileChunk ? uint32_t(remaining) : kFileChunk;
        if (!readExactly(in, buf.get(), n, log, inPath)) return finish(in, out, outPath, false);
        remaining -= n;
        if (remaining == 0) {
            // The tail: first layer to a multiple of 16, then sixteen 16s.
            uint32_t pad = 16 - n % 16;
            std::memset(buf.get() + n, int(pad), pad);
            n += pad;
            std::memset(buf.get() + n, 16, 16);
            n += 16;
        }
        if (!cipher->streamBlocks(buf.get(), n) || !writeAll(out, buf.get(), n, log, outPath))
            return finish(in, out, outPath, false);
    }
    return finish(in, out, outPath, true);
}

bool EasyCrypt::decryptFile(uint32_t algorithm, int keyBits, const char* password, const char* inPath,
                            const char* outPath, LogBase* logp) {
    LogBase& log = logOrNull(logp);
    uint64_t size = 0;
    platform::FileHandle in = openInput(inPath, &size, log);
    if (in == platform::kInvalidFile) return false;
    if (size != 0 && (size % 16 != 0 || size < 32)) {
        log.logError("Encrypted data has an invalid length");
        log.logData("filename", inPath);
        return finish(in, platform::kInvalidFile, outPath, false);
    }
    if (!password) return finish(in, platform::kInvalidFile, outPath, false);
    if (outPath && platform::sameFile(in, outPath)) {
        platform::closeFile(in);
        return inPlace(false, algorithm, keyBits, password, inPath, log);
    }
    std::unique_ptr<SymmetricAlgorithm2> cipher = makeCipher(algorithm, keyBits, password);
    if (!cipher->beginStream(false)) return finish(in, platform::kInvalidFile, outPath, false);
    platform::FileHandle out = openOutput(outPath, log);
    if (out == platform::kInvalidFile) return finish(in, out, outPath, false);
    if (size == 0) return finish(in, out, outPath, true);

    // buf[0, held) is decrypted data not yet written: the last 32 bytes so
    // far, which may turn out to be the padding.
    std::unique_ptr<uint8_t[]> buf(new uint8_t[bufferSize(size)]);
    uint32_t held = 0;
    uint64_t remaining = size;
    while (remaining) {
        uint32_t n = remaining < kFileChunk ? uint32_t(remaining) : kFileChunk;
        uint8_t* chunk = buf.get() + held;
        if (!readExactly(in, chunk, n, log, inPath) || !cipher->streamBlocks(chunk, n))
            return finish(in, out, outPath, false);
        remaining -= n;
        uint32_t total = held + n;  // at least 32: size >= 32 and n >= 16
        if (total < 32) {
            held = total;
            continue;
        }
        if (!writeAll(out, buf.get(), total - 32, log, outPath)) return finish(in, out, outPath, false);
        std::memmove(buf.get(), buf.get() + (total - 32), 32);
        held = 32;
    }
    uint32_t drop = doublePaddingLength(buf.get());
    if (drop == 0) {
        log.logError("Decrypted data has invalid padding (wrong password or damaged data)");
        log.logData("filename", inPath);
        return finish(in, out, outPath, false);
    }
    if (!writeAll(out, buf.get(), 32 - drop, log, outPath)) return finish(in, out, outPath, false);
    return finish(in, out, outPath, true);
}

bool EasyCrypt::makeCheckBlock(const char* password, uint8_t out[kPasswordCheckBlockSize]) {
    DataBuffer cipherText;
    if (!encryptBytes(kAlgorithmAes, 256, password, kPasswordCheckText, kPasswordCheckPlainLength, cipherText))
        return false;
    if (cipherText.length() < kPasswordCheckBlockSize) return false;
    std::memcpy(out, cipherText.data(), kPasswordCheckBlockSize);
    return true;
}

bool EasyCrypt::verifyCheckBlock(const char* password, const uint8_t* block, uint32_t length) {
    ByteView view(block, length);
    if (!password || view.size() != kPasswordCheckBlockSize) return false;
    std::unique_ptr<SymmetricAlgorithm2> cipher = makeCipher(kAlgorithmAes, 256, password);
    DataBuffer input;
    input.appendExact(view.data(), kPasswordCheckBlockSize);
    std::unique_ptr<DataBuffer> plain(cipher->decryptBuffer(input));
    return plain && plain->length() == kPasswordCheckPlainLength &&
           std::memcmp(plain->data(), kPasswordCheckText, kPasswordCheckPlainLength) == 0;
}
