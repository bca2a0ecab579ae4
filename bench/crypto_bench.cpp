// AES-256-CBC file encryption and decryption speed against a baseline
// command, and the modes the peak-memory measurement runs.
//
//   crypto_bench speed FILE MIB      writes FILE (MIB MiB), then times our
//                                    encryptFile/decryptFile and the same
//                                    work by `openssl enc`, best of three,
//                                    and prints the same-run ratios
//   crypto_bench encrypt IN OUT      one encryptFile (for /usr/bin/time -v)
//   crypto_bench baseline            does nothing (the program's own RSS)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/aes.h"
#include "crypto/easy_crypt.h"
#include "crypto/symmetric_algorithm.h"
#include "support/platform.h"

namespace {

const char kPassword[] = "benchmark password";

double seconds(const std::chrono::steady_clock::time_point& t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

bool writePattern(const std::string& path, uint32_t mib) {
    platform::FileHandle h = platform::openFile(path.c_str(), platform::OpenMode::CreateAlways);
    if (h == platform::kInvalidFile) return false;
    std::vector<uint8_t> chunk(1 << 20);
    uint32_t x = 12345;
    bool ok = true;
    for (uint32_t m = 0; m < mib && ok; ++m) {
        for (auto& b : chunk) {
            x = x * 1103515245u + 12345u;
            b = uint8_t(x >> 24);
        }
        uint32_t w = 0;
        ok = platform::writeFile(h, chunk.data(), uint32_t(chunk.size()), &w) && w == chunk.size();
    }
    platform::closeFile(h);
    return ok;
}

std::string hex(const uint8_t* p, size_t n) {
    std::string s;
    char b[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", p[i]);
        s += b;
    }
    return s;
}

template <class F>
double best(F f) {
    double b = 1e30;
    for (int i = 0; i < 3; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        if (!f()) {
            std::fprintf(stderr, "run failed\n");
            std::exit(1);
        }
        double t = seconds(t0);
        if (t < b) b = t;
    }
    return b;
}

int speed(const std::string& file, uint32_t mib) {
    if (!writePattern(file, mib)) {
        std::fprintf(stderr, "cannot write %s\n", file.c_str());
        return 1;
    }
    Rijndael2 r;
    r.setPassphrase(kPassword);
    std::string key = hex(r.keyMaterial().data(), 32);
    std::string enc = file + ".ours.enc", dec = file + ".ours.dec";
    std::string sslEnc = file + ".ssl.enc", sslDec = file + ".ssl.dec";
    std::string ssl = "openssl enc -aes-256-cbc -K " + key + " -iv 00000000000000000000000000000000";

    double oursEnc = best([&] { return EasyCrypt::encryptFile(1, 256, kPassword, file.c_str(), enc.c_str(), nullptr); });
    double theirsEnc = best([&] { return std::system((ssl + " -in " + file + " -out " + sslEnc).c_str()) == 0; });
    double oursDec = best([&] { return EasyCrypt::decryptFile(1, 256, kPassword, enc.c_str(), dec.c_str(), nullptr); });
    // openssl decrypts our ciphertext (same input), keeping the padding.
    double theirsDec = best([&] { return std::system((ssl + " -d -nopad -in " + enc + " -out " + sslDec).c_str()) == 0; });

    double mb = double(mib);
    std::printf("AES-256-CBC, %u MiB file, AES instructions: %s\n", mib, AesKey::hardwareAvailable() ? "yes" : "no");
    std::printf("  encrypt: ours %.3f s (%.0f MiB/s), openssl %.3f s (%.0f MiB/s), ratio %.2fx\n", oursEnc,
                mb / oursEnc, theirsEnc, mb / theirsEnc, theirsEnc / oursEnc);
    std::printf("  decrypt: ours %.3f s (%.0f MiB/s), openssl %.3f s (%.0f MiB/s), ratio %.2fx\n", oursDec,
                mb / oursDec, theirsDec, mb / theirsDec, theirsDec / oursDec);

    // The portable tables, in memory, for information.
    std::vector<uint8_t> buf(64 << 20, 0x5a);
    AesKey k;
    k.setKey(r.keyMaterial().data(), 32);
    k.setUseHardware(false);
    uint8_t iv[16] = {};
    auto t0 = std::chrono::steady_clock::now();
    k.cbcEncrypt(iv, buf.data(), buf.data(), buf.size());
    double portable = seconds(t0);
    std::printf("  portable tables (no AES instructions), in memory: %.0f MiB/s encrypt\n", 64 / portable);

    for (const std::string& p : {file, enc, dec, sslEnc, sslDec}) platform::deleteFile(p.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "speed") == 0) return speed(argv[2], uint32_t(std::atoi(argv[3])));
    if (argc == 4 && std::strcmp(argv[1], "encrypt") == 0)
        return EasyCrypt::encryptFile(1, 256, kPassword, argv[2], argv[3], nullptr) ? 0 : 1;
    if (argc == 2 && std::strcmp(argv[1], "baseline") == 0) return 0;
    std::fprintf(stderr, "usage: crypto_bench speed FILE MIB | encrypt IN OUT | baseline\n");
    return 2;
}
