// AES-256-CBC file encryption and decryption speed and WinZip AES key
// derivation speed against baselines, and the modes the peak-memory
// measurement runs.
//
//   crypto_bench speed FILE MIB      writes FILE (MIB MiB), then times our
//                                    encryptFile/decryptFile and the same
//                                    work by `openssl enc`, best of three,
//                                    and prints the same-run ratios
//   crypto_bench pbkdf2 DIR COUNT    times COUNT derivations of a WinZip
//                                    AES-256 key set (PBKDF2-HMAC-SHA1, 1000
//                                    iterations, 66 bytes) by ours and by
//                                    python3 hashlib.pbkdf2_hmac (OpenSSL's)
//                                    in one process, best of three, checks
//                                    the keys against `openssl kdf` and
//                                    prints the same-run ratio (DIR: where
//                                    the baseline's script and output go)
//   crypto_bench encrypt IN OUT      one encryptFile (for /usr/bin/time -v)
//   crypto_bench baseline            does nothing (the program's own RSS)
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/aes.h"
#include "crypto/easy_crypt.h"
#include "crypto/sha1.h"
#include "crypto/symmetric_algorithm.h"
#include "support/platform.h"
#include "ratio_line.h"

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
    std::string of = " of a " + std::to_string(mib) + " MiB file, vs openssl enc";
    ratioLine("encrypt", "MiB/s", true, mb / oursEnc, mb / theirsEnc, ("AES-256-CBC encryption" + of).c_str());
    ratioLine("decrypt", "MiB/s", true, mb / oursDec, mb / theirsDec, ("AES-256-CBC decryption" + of).c_str());

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

// WinZip AES-256: a 16-byte salt, two 32-byte keys and a 2-byte verifier.
const uint32_t kKdfSaltLength = 16;
const uint32_t kKdfKeyLength = 2 * 32 + 2;
// Prints the seconds of N derivations (its start not counted) and the last key.
const char kKdfBaseline[] =
    "import hashlib, sys, time\n"
    "n, password = int(sys.argv[1]), sys.argv[2].encode()\n"
    "t = time.perf_counter()\n"
    "for i in range(n):\n"
    "    key = hashlib.pbkdf2_hmac('sha1', password, i.to_bytes(4, 'big') + bytes(12), 1000, 66)\n"
    "print(time.perf_counter() - t, key.hex())\n";

// The salt of derivation i: i big-endian, then twelve zero bytes, as the
// baseline builds them.
void kdfSalt(uint32_t i, uint8_t salt[kKdfSaltLength]) {
    std::memset(salt, 0, kKdfSaltLength);
    for (int j = 0; j < 4; ++j) salt[j] = uint8_t(i >> (24 - 8 * j));
}

// Runs a command with its output into the file OUT and returns that output.
std::string commandOutput(const std::string& command, const std::string& out) {
    std::string text;
    if (std::system((command + " > " + out).c_str()) != 0) return text;
    if (FILE* f = std::fopen(out.c_str(), "rb")) {
        char buf[512];
        while (size_t n = std::fread(buf, 1, sizeof buf, f)) text.append(buf, n);
        std::fclose(f);
    }
    platform::deleteFile(out.c_str());
    return text;
}

// Seconds of COUNT derivations of ours, the last key in key.
double oursKdf(uint32_t count, uint8_t key[kKdfKeyLength]) {
    uint8_t salt[kKdfSaltLength];
    auto t0 = std::chrono::steady_clock::now();
    for (uint32_t i = 0; i < count; ++i) {
        kdfSalt(i, salt);
        if (!pbkdf2HmacSha1(kPassword, uint32_t(std::strlen(kPassword)), salt, kKdfSaltLength, 1000, key,
                            kKdfKeyLength))
            return -1;
    }
    return seconds(t0);
}

int kdf(const std::string& dir, uint32_t count) {
    if (count == 0) return 2;
    std::string script = dir + "/kdf_baseline.py", out = dir + "/kdf_baseline.out";
    if (FILE* f = std::fopen(script.c_str(), "w")) {
        std::fputs(kKdfBaseline, f);
        std::fclose(f);
    }
    // Best of three, the two taking turns so that a change of machine load
    // falls on both.
    double ours = 1e30, theirs = 1e30;
    uint8_t key[kKdfKeyLength];
    for (int run = 0; run < 3; ++run) {
        double t = oursKdf(count, key);
        std::string base = commandOutput("python3 " + script + " " + std::to_string(count) + " '" + kPassword + "'", out);
        double b = std::atof(base.c_str());
        size_t space = base.find(' ');
        std::string theirKey = space == std::string::npos ? "" : base.substr(space + 1, 2 * kKdfKeyLength);
        if (t <= 0 || b <= 0 || theirKey != hex(key, kKdfKeyLength)) {
            std::fprintf(stderr, "a run failed or the keys disagree: %s", base.c_str());
            return 1;
        }
        ours = std::min(ours, t);
        theirs = std::min(theirs, b);
    }
    platform::deleteFile(script.c_str());

    // The command-line tool, for the first salt: its process start costs
    // more than a derivation, so it checks the keys and is not timed.
    oursKdf(1, key);
    uint8_t salt[kKdfSaltLength];
    kdfSalt(0, salt);
    std::string cli = commandOutput("openssl kdf -keylen 66 -kdfopt digest:SHA1 -kdfopt 'pass:" + std::string(kPassword) +
                                    "' -kdfopt hexsalt:" + hex(salt, kKdfSaltLength) +
                                    " -kdfopt iter:1000 PBKDF2", out);
    std::string cliHex;
    for (char c : cli)
        if (std::isxdigit(static_cast<unsigned char>(c))) cliHex += char(std::tolower(static_cast<unsigned char>(c)));
    if (cliHex != hex(key, kKdfKeyLength)) {
        std::fprintf(stderr, "openssl kdf disagrees: %s", cli.c_str());
        return 1;
    }

    std::printf("PBKDF2-HMAC-SHA1, 1000 iterations, 66-byte keys (WinZip AES-256), %u derivations, best of three\n",
                count);
    std::printf("  ours %.3f s (%.0f derivations/s, %.3f ms each), OpenSSL via python3 hashlib %.3f s "
                "(%.0f derivations/s, %.3f ms each)\n",
                ours, count / ours, 1000 * ours / count, theirs, count / theirs, 1000 * theirs / count);
    std::printf("  ratio ours/baseline (derivations per second): %.2fx; keys agree with openssl kdf\n",
                theirs / ours);
    ratioLine("pbkdf2", "derivations/s", true, count / ours, count / theirs,
              "PBKDF2-HMAC-SHA1 (1000 iterations, 66-byte WinZip AES-256 keys), vs python3 hashlib (OpenSSL)");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "speed") == 0) return speed(argv[2], uint32_t(std::atoi(argv[3])));
    if (argc == 4 && std::strcmp(argv[1], "pbkdf2") == 0) return kdf(argv[2], uint32_t(std::atoi(argv[3])));
    if (argc == 4 && std::strcmp(argv[1], "encrypt") == 0)
        return EasyCrypt::encryptFile(1, 256, kPassword, argv[2], argv[3], nullptr) ? 0 : 1;
    if (argc == 2 && std::strcmp(argv[1], "baseline") == 0) return 0;
    std::fprintf(stderr, "usage: crypto_bench speed FILE MIB | pbkdf2 DIR COUNT | encrypt IN OUT | baseline\n");
    return 2;
}
