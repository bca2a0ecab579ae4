// Test driver for the payload encryption oracle test: exposes EasyCrypt
// on the command line so that outside tools can check what it writes.
//   crypto_driver check PASSWORD OUT            32-byte check block
//   crypto_driver encrypt-file BITS PASSWORD IN OUT
//   crypto_driver encrypt-bytes BITS PASSWORD IN OUT   whole-buffer path
//   crypto_driver decrypt-file BITS PASSWORD IN OUT
//   crypto_driver verify PASSWORD IN           exit 0 when the block matches
// Exit status 0 on success, 1 on failure, 2 on usage errors.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crypto/easy_crypt.h"
#include "support/data_buffer.h"
#include "support/file_sys.h"
#include "support/log_base.h"
#include "support/stderr_log.h"
#include "support/string_buffer.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: crypto_driver check|encrypt-file|encrypt-bytes|decrypt-file|verify ...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    std::string cmd = argv[1];
    StderrLog log;
    if (cmd == "check" && argc == 4) {
        uint8_t block[kPasswordCheckBlockSize];
        if (!EasyCrypt::makeCheckBlock(argv[2], block)) return 1;
        return FileSys::writeFile(argv[3], block, sizeof block, &log) ? 0 : 1;
    }
    if (cmd == "verify" && argc == 4) {
        DataBuffer in;
        if (!in.loadFile(argv[3], &log)) return 1;
        return EasyCrypt::verifyCheckBlock(argv[2], in.data(), in.length()) ? 0 : 1;
    }
    if (argc != 6) return usage();
    int bits = std::atoi(argv[2]);
    const char* password = argv[3];
    if (cmd == "encrypt-file")
        return EasyCrypt::encryptFile(kAlgorithmAes, bits, password, argv[4], argv[5], &log) ? 0 : 1;
    if (cmd == "decrypt-file")
        return EasyCrypt::decryptFile(kAlgorithmAes, bits, password, argv[4], argv[5], &log) ? 0 : 1;
    if (cmd == "encrypt-bytes") {
        DataBuffer in, out;
        if (!in.loadFile(argv[4], &log)) return 1;
        if (!EasyCrypt::encryptBytes(kAlgorithmAes, bits, password, in.data(), in.length(), out)) return 1;
        return FileSys::writeFile(argv[5], out.data(), out.length(), &log) ? 0 : 1;
    }
    return usage();
}
