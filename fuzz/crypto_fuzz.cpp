// Fuzzes payload decryption: arbitrary ciphertext under arbitrary
// passwords, and damaged versions of real ciphertext.
//
// Input: [mode][key byte][password length][password][rest]
//   mode bit 0: rest is ciphertext as is; otherwise rest is plaintext that
//               is encrypted under kRight and then damaged: truncated to a
//               length taken from the key byte, and one byte flipped.
// Properties checked (a failure aborts):
//   - the check block accepts kRight and refuses every other password, and
//     only the exact block passes for kRight;
//   - a wrong password never decrypts real ciphertext "successfully";
//   - whenever decryption succeeds, encrypting its output under the same
//     password gives the ciphertext back (the layout is deterministic);
//   - the chunked file reader agrees with the whole-buffer reader.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crypto/easy_crypt.h"
#include "support/data_buffer.h"
#include "support/file_sys.h"
#include "support/log_base.h"
#include "support/platform.h"

namespace {

const char kRight[] = "correct horse";

bool same(const DataBuffer& a, const uint8_t* b, uint32_t n) {
    return a.length() == n && (n == 0 || std::memcmp(a.data(), b, n) == 0);
}

std::string gPaths[2];

void removeScratch() {
    for (const std::string& p : gPaths)
        if (!p.empty()) platform::deleteFile(p.c_str());
}

// Two scratch files per process, removed at exit.
const std::string& scratchPath(int which) {
    if (gPaths[0].empty()) {
        char dir[800];
        if (platform::tempDirectory(dir, sizeof dir) == 0) std::abort();
        std::string base = std::string(dir) + "crypto_fuzz_" + std::to_string(platform::processId());
        gPaths[0] = base + "_in";
        gPaths[1] = base + "_out";
        std::atexit(removeScratch);
    }
    return gPaths[which];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > 65536) return 0;
    uint8_t mode = data[0], keyByte = data[1];
    uint32_t pwLength = data[2] % 24;
    if (size - 3 < pwLength) return 0;
    std::string password(reinterpret_cast<const char*>(data + 3), pwLength);
    password = password.c_str();  // a terminated byte string, as the stub has it
    const uint8_t* rest = data + 3 + pwLength;
    uint32_t restLength = uint32_t(size - 3 - pwLength);
    int bits = keyByte % 3 == 0 ? 128 : keyByte % 3 == 1 ? 192 : 256;
    bool right = password == kRight;

    // The check block decides the password.
    static uint8_t check[32];
    static bool haveCheck = EasyCrypt::makeCheckBlock(kRight, check);
    if (!haveCheck) std::abort();
    if (EasyCrypt::verifyCheckBlock(password.c_str(), check, 32) != right) std::abort();
    bool exact = restLength == 32 && std::memcmp(rest, check, 32) == 0;
    if (EasyCrypt::verifyCheckBlock(kRight, rest, restLength) != exact) std::abort();

    DataBuffer cipher;
    if (mode & 1) {
        cipher.append(rest, restLength);
    } else {
        if (!EasyCrypt::encryptBytes(kAlgorithmAes, bits, kRight, rest, restLength, cipher)) std::abort();
        if (!cipher.isEmpty()) {
            uint32_t keep = cipher.length() - (keyByte >> 2) % 40;
            if (keep > cipher.length()) keep = 0;
            cipher.truncate(keep);
            if (mode & 2 && cipher.length()) cipher.data()[(mode >> 2) % cipher.length()] ^= uint8_t(1 + (mode >> 5));
        }
        // Real ciphertext under a wrong password never decrypts.
        DataBuffer wrong;
        if (!right && !cipher.isEmpty() &&
            EasyCrypt::decryptBytes(kAlgorithmAes, bits, password.c_str(), cipher.data(), cipher.length(), wrong))
            std::abort();
    }

    DataBuffer plain;
    bool ok = EasyCrypt::decryptBytes(kAlgorithmAes, bits, password.c_str(), cipher.data(), cipher.length(), plain);
    if (ok) {
        DataBuffer again;
        if (!EasyCrypt::encryptBytes(kAlgorithmAes, bits, password.c_str(), plain.data(), plain.length(), again) ||
            !same(again, cipher.data(), cipher.length()))
            std::abort();
    } else if (plain.length() != 0) {
        std::abort();
    }

    // The file reader: same verdict, same bytes.
    LogNull log;
    const std::string& in = scratchPath(0);
    const std::string& out = scratchPath(1);
    if (!FileSys::writeFile(in.c_str(), cipher.data(), cipher.length(), &log)) std::abort();
    platform::deleteFile(out.c_str());
    bool fileOk = EasyCrypt::decryptFile(kAlgorithmAes, bits, password.c_str(), in.c_str(), out.c_str(), &log);
    if (fileOk != ok) std::abort();
    if (ok) {
        DataBuffer fromFile;
        if (!fromFile.loadFile(out.c_str(), &log) || !same(fromFile, plain.data(), plain.length())) std::abort();
        platform::deleteFile(out.c_str());
    }
    return 0;
}
