// Makes the two resources of an encrypted self-extractor from a zip file,
// the way the builder does: the encrypted payload (AES, the given key
// length) and the 36-byte "encrypted" resource (key length as a
// little-endian u32, then the password's check block).
//   make_encrypted_payload KEYBITS PASSWORD IN.zip OUT.payload OUT.check
#include <cstdio>
#include <cstdlib>

#include "crypto/easy_crypt.h"
#include "support/stderr_log.h"

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fputs("usage: make_encrypted_payload KEYBITS PASSWORD IN.zip OUT.payload OUT.check\n", stderr);
        return 2;
    }
    int keyBits = std::atoi(argv[1]);
    const char* password = argv[2];
    StderrLog log;
    if (!EasyCrypt::encryptFile(kAlgorithmAes, keyBits, password, argv[3], argv[4], &log)) return 1;
    uint8_t check[4 + kPasswordCheckBlockSize];
    for (int i = 0; i < 4; ++i) check[i] = static_cast<uint8_t>(static_cast<uint32_t>(keyBits) >> (8 * i));
    if (!EasyCrypt::makeCheckBlock(password, check + 4)) {
        std::fputs("make_encrypted_payload: no check block\n", stderr);
        return 1;
    }
    FILE* f = std::fopen(argv[5], "wb");
    bool written = f && std::fwrite(check, 1, sizeof check, f) == sizeof check;
    if (f && std::fclose(f) != 0) written = false;
    if (!written) {
        std::fprintf(stderr, "make_encrypted_payload: cannot write %s\n", argv[5]);
        return 1;
    }
    return 0;
}
