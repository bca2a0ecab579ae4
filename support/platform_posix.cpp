// POSIX implementation of the platform layer (native builds and the Linux
// tool). The "ANSI code page" here is UTF-8; error codes are errno values.
#include "support/platform.h"
#include "support/wildcard.h"

#include <cerrno>
#include <csignal>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

FileHandle openFile(const char* path, OpenMode mode) {
    if (!path) {
        errno = EINVAL;
        return kInvalidFile;
    }
    int flags = O_CLOEXEC;
    switch (mode) {
        case OpenMode::ReadExisting: flags |= O_RDONLY; break;
        case OpenMode::CreateAlways: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
        case OpenMode::CreateNew: flags |= O_WRONLY | O_CREAT | O_EXCL; break;
        case OpenMode::WriteExisting: flags |= O_RDWR; break;
    }
    int fd = ::open(path, flags, 0644);
    if (fd < 0) return kInvalidFile;
    if (mode == OpenMode::ReadExisting || mode == OpenMode::WriteExisting) {
        // Win32 refuses to open a folder as a file; do the same.
        struct stat st;
        if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd);
            errno = EISDIR;
            return kInvalidFile;
        }
    }
    return fd;
}

bool readFile(FileHandle h, void* buf, uint32_t n, uint32_t* got) {
    *got = 0;
    auto* p = static_cast<char*>(buf);
    while (*got < n) {
        ssize_t r = ::read(int(h), p + *got, n - *got);
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (r == 0) break;
        *got += uint32_t(r);
    }
    return true;
}

bool writeFile(FileHandle h, const void* buf, uint32_t n, uint32_t* written) {
    *written = 0;
    auto* p = static_cast<const char*>(buf);
    while (*written < n) {
        ssize_t r = ::write(int(h), p + *written, n - *written);
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (r == 0) break;
        *written += uint32_t(r);
    }
    return true;
}

bool seekFile(FileHandle h, uint64_t pos) {
    if (pos > uint64_t(INT64_MAX)) {
        errno = EINVAL;
        return false;
    }
    return ::lseek(int(h), off_t(pos), SEEK_SET) >= 0;
}

bool truncateFile(FileHandle h, uint64_t size) {
    if (size > uint64_t(INT64_MAX)) {
        errno = EINVAL;
        return false;
    }
    return ::ftruncate(int(h), off_t(size)) == 0 && ::lseek(int(h), off_t(size), SEEK_SET) >= 0;
}

bool tellFile(FileHandle h, uint64_t* pos) {
    off_t r = ::lseek(int(h), 0, SEEK_CUR);
    if (r < 0) return false;
    *pos = uint64_t(r);
    return true;
}

bool fileSize(FileHandle h, uint64_t* size) {
    struct stat st;
    if (fstat(int(h), &st) != 0) return false;
    *size = uint64_t(st.st_size);
    return true;
}

void closeFile(FileHandle h) {
    if (h != kInvalidFile) ::close(int(h));
}

bool sameFile(FileHandle h, const char* path) {
    struct stat a, b;
    int saved = errno;
    bool same = path && fstat(int(h), &a) == 0 && ::stat(path, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    errno = saved;
    return same;
}

bool deleteFile(const char* path) { return path && ::unlink(path) == 0; }
bool createDirectory(const char* path) { return path && ::mkdir(path, 0755) == 0; }
bool removeDirectory(const char* path) { return path && ::rmdir(path) == 0; }

static uint32_t copyOut(const char* s, char* buf, uint32_t size) {
    size_t n = std::strlen(s);
    if (n + 1 > size) return 0;
    std::memcpy(buf, s, n + 1);
    return uint32_t(n);
}

uint32_t tempDirectory(char* buf, uint32_t size) {
    const char* t = std::getenv("TMPDIR");
    char tmp[4096];
    std::snprintf(tmp, sizeof tmp, "%s", (t && *t) ? t : "/tmp");
    size_t n = std::strlen(tmp);
    if (n == 0 || tmp[n - 1] != '/') {
        if (n + 1 >= sizeof tmp) return 0;
        tmp[n] = '/';
        tmp[n + 1] = 0;
    }
    return copyOut(tmp, buf, size);
}

uint32_t createUniqueTempFile(const char* directory, const char* prefix, char* buf, uint32_t size) {
    if (!directory || !*directory || !buf) return 0;
    std::string path = directory;
    if (path.back() != '/') path += '/';
    if (prefix) path.append(prefix, strnlen(prefix, 3));
    path += "XXXXXX";
    std::vector<char> name(path.begin(), path.end());
    name.push_back(0);
    int fd = ::mkstemp(name.data());  // O_CREAT | O_EXCL
    if (fd < 0) return 0;
    ::close(fd);
    uint32_t n = copyOut(name.data(), buf, size);
    if (n == 0) ::unlink(name.data());
    return n;
}

uint32_t currentDirectory(char* buf, uint32_t size) {
    if (!::getcwd(buf, size)) return 0;
    return uint32_t(std::strlen(buf));
}

uint32_t modulePath(const void* addressInModule, char* buf, uint32_t size) {
    Dl_info info;
    if (addressInModule && dladdr(addressInModule, &info) && info.dli_fname) {
        char real[PATH_MAX];
        if (realpath(info.dli_fname, real)) return copyOut(real, buf, size);
    }
    ssize_t n = ::readlink("/proc/self/exe", buf, size ? size - 1 : 0);
    if (n <= 0) return 0;
    buf[n] = 0;
    return uint32_t(n);
}

bool setCurrentDirectory(const char* path) { return path && ::chdir(path) == 0; }

uint32_t lastError() { return uint32_t(errno); }
void setLastError(uint32_t code) { errno = int(code); }

uint32_t errorText(uint32_t code, char* buf, uint32_t size) {
    if (code == 0 || size == 0 || code > INT_MAX) return 0;
    const char* text = std::strerror(int(code));
    // Like the system message table, have no text for codes it does not know.
    char unknown[40];
    std::snprintf(unknown, sizeof unknown, "Unknown error %d", int(code));
    if (!text || std::strcmp(text, unknown) == 0) return 0;
    return copyOut(text, buf, size);
}

uint32_t errorFileExists() { return EEXIST; }
uint32_t errorFileNotFound() { return ENOENT; }

// ---- UTF-8 as the ANSI code page ----------------------------------------

// Decodes one UTF-8 sequence; invalid input yields U+FFFD and consumes one
// byte, as MultiByteToWideChar does with default flags.
static uint32_t decodeUtf8(const unsigned char* s, int len, int* used) {
    unsigned c = s[0];
    int need;
    uint32_t cp;
    if (c < 0x80) { *used = 1; return c; }
    if (c >= 0xC2 && c <= 0xDF) { need = 1; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { need = 2; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { need = 3; cp = c & 0x07; }
    else { *used = 1; return 0xFFFD; }
    if (need >= len) { *used = 1; return 0xFFFD; }
    for (int i = 1; i <= need; i++) {
        if ((s[i] & 0xC0) != 0x80) { *used = 1; return 0xFFFD; }
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    if ((need == 2 && cp < 0x800) || (need == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
        *used = 1;
        return 0xFFFD;
    }
    *used = need + 1;
    return cp;
}

int ansiToWide(const char* in, int inLen, char16_t* out, int outCap) {
    if (!in || outCap < 0) return 0;
    if (inLen < 0) inLen = int(std::strlen(in)) + 1;
    auto* s = reinterpret_cast<const unsigned char*>(in);
    int n = 0;
    for (int i = 0; i < inLen;) {
        int used;
        uint32_t cp = decodeUtf8(s + i, inLen - i, &used);
        i += used;
        int units = cp >= 0x10000 ? 2 : 1;
        if (outCap) {
            if (n + units > outCap) return 0;
            if (units == 2) {
                cp -= 0x10000;
                out[n] = char16_t(0xD800 | (cp >> 10));
                out[n + 1] = char16_t(0xDC00 | (cp & 0x3FF));
            } else {
                out[n] = char16_t(cp);
            }
        }
        n += units;
    }
    return n;
}

int wideToAnsi(const char16_t* in, int inLen, char* out, int outCap) {
    if (!in || outCap < 0) return 0;
    if (inLen < 0) {
        inLen = 0;
        while (in[inLen]) inLen++;
        inLen++;
    }
    int n = 0;
    for (int i = 0; i < inLen; i++) {
        uint32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < inLen && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            i++;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = '?';  // a lone surrogate has no UTF-8 form: the default character
        }
        char buf[4];
        int k;
        if (cp < 0x80) { buf[0] = char(cp); k = 1; }
        else if (cp < 0x800) { buf[0] = char(0xC0 | (cp >> 6)); buf[1] = char(0x80 | (cp & 0x3F)); k = 2; }
        else if (cp < 0x10000) {
            buf[0] = char(0xE0 | (cp >> 12)); buf[1] = char(0x80 | ((cp >> 6) & 0x3F));
            buf[2] = char(0x80 | (cp & 0x3F)); k = 3;
        } else {
            buf[0] = char(0xF0 | (cp >> 18)); buf[1] = char(0x80 | ((cp >> 12) & 0x3F));
            buf[2] = char(0x80 | ((cp >> 6) & 0x3F)); buf[3] = char(0x80 | (cp & 0x3F)); k = 4;
        }
        if (outCap) {
            if (n + k > outCap) return 0;
            std::memcpy(out + n, buf, size_t(k));
        }
        n += k;
    }
    return n;
}

int ansiToUtf8(const char* in, int inLen, char* out, int outCap) {
    // Decoding and encoding again replaces invalid sequences by U+FFFD.
    if (!in || outCap < 0) return 0;
    int wideLen = ansiToWide(in, inLen, nullptr, 0);
    if (wideLen <= 0) return 0;
    auto* wide = static_cast<char16_t*>(std::malloc(size_t(wideLen) * sizeof(char16_t)));
    if (!wide) return 0;
    int n = 0;
    if (ansiToWide(in, inLen, wide, wideLen) == wideLen) n = wideToAnsi(wide, wideLen, out, outCap);
    std::free(wide);
    return n;
}

// A BSTR: 32-bit byte count, then the UTF-16 text and a zero unit; the
// pointer handed out points at the text.
char16_t* allocBstr(const char16_t* text, uint32_t len) {
    if (len > (UINT32_MAX - 8) / 2) return nullptr;
    auto* block = static_cast<uint8_t*>(std::malloc(4 + size_t(len) * 2 + 2));
    if (!block) return nullptr;
    uint32_t bytes = len * 2;
    std::memcpy(block, &bytes, 4);
    auto* s = reinterpret_cast<char16_t*>(block + 4);
    if (text) std::memcpy(s, text, size_t(len) * 2);
    else std::memset(s, 0, size_t(len) * 2);
    s[len] = 0;
    return s;
}

void freeBstr(char16_t* bstr) {
    if (bstr) std::free(reinterpret_cast<uint8_t*>(bstr) - 4);
}

uint32_t bstrLength(const char16_t* bstr) {
    if (!bstr) return 0;
    uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<const uint8_t*>(bstr) - 4, 4);
    return bytes / 2;
}

// ---- COM error information ---------------------------------------------

// There is no COM here: the last installed values are kept per thread so
// that callers can be tested.
namespace {
struct StoredErrorInfo {
    bool present = false;
    char16_t* description = nullptr;
    char16_t* source = nullptr;
    uint8_t guid[16] = {};
    ~StoredErrorInfo() {
        freeBstr(description);
        freeBstr(source);
    }
};
thread_local StoredErrorInfo tStoredErrorInfo;

char16_t* copyToBstr(const char16_t* text) {
    uint32_t n = 0;
    if (text) while (text[n]) n++;
    return allocBstr(text ? text : u"", n);
}
}  // namespace

bool installErrorInfo(const char16_t* description, const uint8_t guid[16], const char16_t* source) {
    StoredErrorInfo& s = tStoredErrorInfo;
    freeBstr(s.description);
    freeBstr(s.source);
    s.description = copyToBstr(description);
    s.source = copyToBstr(source);
    if (guid) std::memcpy(s.guid, guid, 16);
    else std::memset(s.guid, 0, 16);
    s.present = s.description && s.source;
    return s.present;
}

bool takeErrorInfo(char16_t** description, uint8_t guid[16], char16_t** source) {
    StoredErrorInfo& s = tStoredErrorInfo;
    if (description) *description = nullptr;
    if (source) *source = nullptr;
    if (!s.present) return false;
    if (description) *description = s.description;
    else freeBstr(s.description);
    if (source) *source = s.source;
    else freeBstr(s.source);
    if (guid) std::memcpy(guid, s.guid, 16);
    s.description = nullptr;
    s.source = nullptr;
    s.present = false;
    return true;
}

LocalTime localTime() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm t;
    time_t secs = tv.tv_sec;
    localtime_r(&secs, &t);
    LocalTime r;
    r.year = uint16_t(t.tm_year + 1900);
    r.month = uint16_t(t.tm_mon + 1);
    r.dayOfWeek = uint16_t(t.tm_wday);
    r.day = uint16_t(t.tm_mday);
    r.hour = uint16_t(t.tm_hour);
    r.minute = uint16_t(t.tm_min);
    r.second = uint16_t(t.tm_sec);
    r.milliseconds = uint16_t(tv.tv_usec / 1000);
    return r;
}

uint32_t tickCount() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint32_t(uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000);
}

uint32_t processId() { return uint32_t(::getpid()); }

void setStdoutBinary() {}

bool randomBytes(void* buf, size_t n) {
    uint8_t* p = static_cast<uint8_t*>(buf);
    while (n) {
        ssize_t got = ::getrandom(p, n, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        p += got;
        n -= size_t(got);
    }
    if (!n) return true;
    int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    while (n) {
        ssize_t got = ::read(fd, p, n);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        p += got;
        n -= size_t(got);
    }
    ::close(fd);
    return n == 0;
}

bool fileInfo(const char* path, FileInfo* info) {
    struct stat st;
    if (!path || ::stat(path, &st) != 0) return false;
    info->isDirectory = S_ISDIR(st.st_mode);
    info->size = info->isDirectory ? 0 : uint64_t(st.st_size);
    info->attributes = info->isDirectory ? 0x10 : 0x20;
    info->unixMode = uint32_t(st.st_mode) & 0177777;
    if (!(st.st_mode & S_IWUSR)) info->attributes |= 0x01;
    struct tm t;
    time_t secs = st.st_mtime;
    localtime_r(&secs, &t);
    if (t.tm_year < 80) {  // MS-DOS dates start in 1980
        info->dosDate = (1 << 5) | 1;
        info->dosTime = 0;
    } else if (t.tm_year > 207) {
        info->dosDate = uint16_t((127 << 9) | (12 << 5) | 31);
        info->dosTime = uint16_t((23 << 11) | (59 << 5) | 29);
    } else {
        info->dosDate = uint16_t(((t.tm_year - 80) << 9) | ((t.tm_mon + 1) << 5) | t.tm_mday);
        info->dosTime = uint16_t((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec / 2));
    }
    return true;
}

bool listDirectory(const char* path, bool (*fn)(void* context, const char* name, bool isDirectory), void* context) {
    DIR* d = path ? ::opendir(path) : nullptr;
    if (!d) return false;
    bool ok = true;
    std::string base = path;
    if (!base.empty() && base.back() != '/') base += '/';
    while (struct dirent* e = ::readdir(d)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        struct stat st;
        bool isDir = ::stat((base + e->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        if (!fn(context, e->d_name, isDir)) {
            ok = false;
            break;
        }
    }
    ::closedir(d);
    return ok;
}

// ---- Extraction: folder chains, times, attributes, names ----------------

char pathSeparator() { return '/'; }

static bool isFolder(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool createDirectoryChain(const char* path) {
    if (!path || !*path) {
        errno = ENOENT;
        return false;
    }
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (isFolder(p.c_str())) return true;
    // Each level from the top down; a level that exists must be a folder.
    for (size_t i = 1; i <= p.size(); i++) {
        if (i < p.size() && p[i] != '/') continue;
        if (p[i - 1] == '/') continue;  // "a//b"
        std::string level = p.substr(0, i);
        if (::mkdir(level.c_str(), 0755) == 0) continue;
        int err = errno;
        if (isFolder(level.c_str())) continue;
        errno = err == EEXIST ? ENOTDIR : err;
        return false;
    }
    return true;
}

// Splits an MS-DOS date and time; false when it names no real moment.
static bool dosFields(uint16_t date, uint16_t time, int f[6]) {
    static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    f[0] = 1980 + (date >> 9);
    f[1] = (date >> 5) & 15;
    f[2] = date & 31;
    f[3] = time >> 11;
    f[4] = (time >> 5) & 63;
    f[5] = (time & 31) * 2;
    if (f[1] < 1 || f[1] > 12 || f[2] < 1 || f[2] > kDays[f[1] - 1] || f[3] > 23 || f[4] > 59 || f[5] > 59) return false;
    bool leap = (f[0] % 4 == 0 && f[0] % 100 != 0) || f[0] % 400 == 0;
    return !(f[1] == 2 && f[2] == 29 && !leap);
}

// Seconds since the epoch of an MS-DOS local date and time; false when it
// names no real moment.
static bool dosToEpoch(uint16_t dosDate, uint16_t dosTime, time_t* out) {
    int f[6];
    if (!dosFields(dosDate, dosTime, f)) {
        errno = EINVAL;
        return false;
    }
    struct tm t = {};
    t.tm_year = f[0] - 1900;
    t.tm_mon = f[1] - 1;
    t.tm_mday = f[2];
    t.tm_hour = f[3];
    t.tm_min = f[4];
    t.tm_sec = f[5];
    t.tm_isdst = -1;  // the rule of that date
    *out = ::mktime(&t);
    if (*out == time_t(-1)) {
        errno = EINVAL;
        return false;
    }
    return true;
}

bool setFileTimesFromDos(const char* path, uint16_t dosDate, uint16_t dosTime) {
    time_t secs;
    if (!path) {
        errno = EINVAL;
        return false;
    }
    if (!dosToEpoch(dosDate, dosTime, &secs)) return false;
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = secs;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    return ::utimensat(AT_FDCWD, path, times, 0) == 0;
}

bool setFileAttributes(const char* path, uint32_t dosAttributes) {
    struct stat st;
    if (!path || ::stat(path, &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    if (dosAttributes & 0x01) mode &= mode_t(~0222);
    else mode |= S_IWUSR;
    return ::chmod(path, mode) == 0;
}

bool renameReplacing(const char* from, const char* to) { return from && to && ::rename(from, to) == 0; }

int utf8ToAnsi(const char* in, int inLen, char* out, int outCap) {
    if (!in || outCap < 0) return 0;
    if (inLen < 0) inLen = int(std::strlen(in)) + 1;
    auto* s = reinterpret_cast<const unsigned char*>(in);
    for (int i = 0; i < inLen;) {
        int used;
        uint32_t cp = decodeUtf8(s + i, inLen - i, &used);
        if (cp == 0xFFFD && used == 1) {  // an invalid sequence (a real U+FFFD takes three bytes)
            errno = EILSEQ;
            return 0;
        }
        i += used;
    }
    if (outCap == 0) return inLen;
    if (inLen > outCap) {
        errno = ENOBUFS;
        return 0;
    }
    std::memcpy(out, in, size_t(inLen));
    return inLen;
}

bool isTerminal(std::FILE* stream) { return stream && ::isatty(::fileno(stream)) == 1; }

bool setInputEcho(bool on) {
    struct termios t;
    if (::tcgetattr(STDIN_FILENO, &t) != 0) return false;
    if (on) t.c_lflag |= ECHO;
    else t.c_lflag &= tcflag_t(~ECHO);
    return ::tcsetattr(STDIN_FILENO, TCSANOW, &t) == 0;  // typed-ahead input is kept
}

// ---- Directory search and double-byte text ---------------------------------

bool isDbcsLeadByte(unsigned char) { return false; }

namespace {

struct FindState {
    DIR* dir = nullptr;
    std::string mask;
    int dots = 0;        // 0: "." next, 1: ".." next, 2: the folder's own entries
    bool foldersOnly = false;
};


uint64_t fileTime(const struct statx_timestamp& t) {
    const int64_t kEpochDiff = 11644473600;  // seconds from 1601-01-01 to 1970-01-01
    if (t.tv_sec < -kEpochDiff) return 0;
    return uint64_t(t.tv_sec + kEpochDiff) * 10000000u + t.tv_nsec / 100;
}

// Fills a record for the entry name of the open folder; false when the
// entry cannot be examined. The entry is looked up relative to the folder,
// not by its whole path.
bool fillRecord(DIR* dir, const char* name, FindRecord* out) {
    size_t nameLen = std::strlen(name);
    if (nameLen >= sizeof out->name) return false;
    int folderFd = ::dirfd(dir);
    struct statx sx;
    unsigned want = STATX_BASIC_STATS | STATX_BTIME;
    if (::statx(folderFd, name, AT_SYMLINK_NOFOLLOW, want, &sx) != 0) return false;
    uint32_t attr = 0;
    bool link = S_ISLNK(sx.stx_mode);
    mode_t kind = sx.stx_mode;
    if (link) {
        attr |= 0x400;
        struct statx target;
        if (::statx(folderFd, name, 0, STATX_TYPE | STATX_MODE, &target) == 0) kind = target.stx_mode;
        else kind = S_IFREG | (sx.stx_mode & 07777);  // a dangling link shows as a file
    }
    bool folder = S_ISDIR(kind);
    if (folder) attr |= 0x10;
    else if (S_ISREG(kind) || link) attr |= 0x20;
    if (!(kind & S_IWUSR)) attr |= 0x01;
    if (name[0] == '.' && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) attr |= 0x02;
    if (!attr) attr = 0x80;
    *out = FindRecord();
    out->attributes = attr;
    out->lastWriteTime = fileTime(sx.stx_mtime);
    out->lastAccessTime = fileTime(sx.stx_atime);
    out->creationTime = (sx.stx_mask & STATX_BTIME) ? fileTime(sx.stx_btime) : out->lastWriteTime;
    uint64_t size = (folder || link) ? 0 : uint64_t(sx.stx_size);
    out->sizeHigh = uint32_t(size >> 32);
    out->sizeLow = uint32_t(size);
    std::memcpy(out->name, name, nameLen + 1);
    return true;
}

bool isRootFolder(const std::string& folder) {
    struct stat a, b;
    return ::stat(folder.empty() ? "." : folder.c_str(), &a) == 0 && ::stat("/", &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

bool findMatch(FindState* s, FindRecord* out) {
    while (s->dots < 2) {
        const char* name = s->dots++ == 0 ? "." : "..";
        if (wildcardMatches(s->mask, name) && fillRecord(s->dir, name, out)) return true;
    }
    while (struct dirent* e = ::readdir(s->dir)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        if (s->foldersOnly && e->d_type != DT_UNKNOWN && e->d_type != DT_DIR && e->d_type != DT_LNK) continue;
        if (!wildcardMatches(s->mask, e->d_name)) continue;
        if (fillRecord(s->dir, e->d_name, out)) return true;  // one that vanished is passed over
    }
    return false;
}

}  // namespace

FindHandle findFirst(const char* pattern, FindRecord* out, FindScope scope) {
    if (!pattern || !out) {
        errno = EINVAL;
        return kInvalidFind;
    }
    size_t len = std::strlen(pattern);
    if (len > kMaxFindPattern) {
        errno = ENAMETOOLONG;
        return kInvalidFind;
    }
    std::string p(pattern, len);
    size_t sep = p.find_last_of("\\/");
    std::string folder = sep == std::string::npos ? std::string() : p.substr(0, sep + 1);
    std::string mask = sep == std::string::npos ? p : p.substr(sep + 1);
    if (mask.empty()) {
        errno = ENOENT;
        return kInvalidFind;
    }
    for (char& c : folder)
        if (c == '\\') c = '/';
    auto* s = new FindState;
    s->mask = mask;
    s->foldersOnly = scope == FindScope::Folders;
    s->dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!s->dir) {
        int err = errno;
        delete s;
        errno = err;
        return kInvalidFind;
    }
    if (isRootFolder(folder)) s->dots = 2;
    if (!findMatch(s, out)) {
        ::closedir(s->dir);
        delete s;
        errno = ENOENT;
        return kInvalidFind;
    }
    return reinterpret_cast<FindHandle>(s);
}

bool findNext(FindHandle h, FindRecord* out) {
    if (h == kInvalidFind || !h || !out) {
        errno = EINVAL;
        return false;
    }
    if (findMatch(reinterpret_cast<FindState*>(h), out)) return true;
    errno = ENOENT;
    return false;
}

void findClose(FindHandle h) {
    if (h == kInvalidFind || !h) return;
    auto* s = reinterpret_cast<FindState*>(h);
    ::closedir(s->dir);
    delete s;
}

// ---- File times and short names -------------------------------------------

bool fileTimeToSystemTime(uint64_t fileTime, SystemTime* out) {
    // FileTimeToSystemTime takes the value as a signed 64-bit count and
    // refuses negative ones; so do we.
    if (!out || fileTime >= 0x8000000000000000ull) {
        errno = EINVAL;
        return false;
    }
    const uint64_t kTicksPerDay = 864000000000ull;  // 100 ns units
    uint64_t days = fileTime / kTicksPerDay;         // since 1601-01-01, a Monday
    uint64_t ticks = fileTime % kTicksPerDay;

    // Civil date from a day count, proleptic Gregorian, with years that
    // begin on 1 March so that the leap day is the last day of a year and
    // a 400-year era repeats exactly (146097 days). Day 0 is 0000-03-01;
    // 1601-01-01 is its day 584694. All values stay unsigned: the count is
    // below 2^63 / kTicksPerDay (about 10.7 million days).
    uint64_t z = days + 584694;
    uint64_t era = z / 146097;
    uint64_t dayOfEra = z - era * 146097;                                                    // [0, 146096]
    uint64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;  // [0, 399]
    uint64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);    // [0, 365]
    uint64_t monthFromMarch = (5 * dayOfYear + 2) / 153;                                      // [0, 11]
    uint64_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;                            // [1, 31]
    uint64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;           // [1, 12]
    uint64_t year = era * 400 + yearOfEra + (month <= 2 ? 1 : 0);

    SystemTime t;
    t.year = uint16_t(year);  // at most 30828
    t.month = uint16_t(month);
    t.dayOfWeek = uint16_t((days + 1) % 7);  // 0 Sunday
    t.day = uint16_t(day);
    t.hour = uint16_t(ticks / 36000000000ull);
    t.minute = uint16_t(ticks / 600000000ull % 60);
    t.second = uint16_t(ticks / 10000000ull % 60);
    t.milliseconds = uint16_t(ticks / 10000ull % 1000);
    *out = t;
    return true;
}

uint32_t shortPathName(const char* path, char* out, uint32_t room) {
    // No 8.3 names on these file systems: nothing to ask, nothing written.
    errno = path && (out || !room) ? ENOTSUP : EINVAL;
    return 0;
}

}  // namespace platform

// ---- File identity and regular files ------------------------------------------

namespace platform {

static FileId idFromStat(const struct stat& st) {
    FileId id;
    id.device = uint64_t(st.st_dev);
    id.index = uint64_t(st.st_ino);
    id.valid = true;
    return id;
}

bool fileIdOf(const char* path, FileId* id) {
    struct stat st;
    *id = FileId();
    if (!path || ::stat(path, &st) != 0) return false;
    *id = idFromStat(st);
    return true;
}

bool fileIdOfHandle(FileHandle h, FileId* id) {
    struct stat st;
    *id = FileId();
    if (::fstat(int(h), &st) != 0) return false;
    *id = idFromStat(st);
    return true;
}

uint32_t errorNotRegularFile() { return ENODEV; }

FileHandle openRegularFile(const char* path, uint64_t* size) {
    if (!path) {
        errno = EINVAL;
        return kInvalidFile;
    }
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return kInvalidFile;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        int err = errno;
        bool examined = err == 0 || S_ISDIR(st.st_mode) || !S_ISREG(st.st_mode);
        ::close(fd);
        errno = examined ? int(errorNotRegularFile()) : err;
        return kInvalidFile;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    *size = uint64_t(st.st_size);
    return fd;
}

static NodeKind kindOf(mode_t mode) {
    if (S_ISLNK(mode)) return NodeKind::Link;
    if (S_ISREG(mode)) return NodeKind::File;
    if (S_ISDIR(mode)) return NodeKind::Folder;
    return NodeKind::Other;
}

NodeKind nodeKind(const char* path) {
    struct stat st;
    if (!path || ::lstat(path, &st) != 0) return NodeKind::Missing;
    return kindOf(st.st_mode);
}

// ---- Temporary files removed on interrupt --------------------------------------

namespace {

// What the signal handler removes: a name relative to a folder descriptor
// (AT_FDCWD for a plain path). Written only outside the handler, with the
// flag cleared while the fields change.
volatile sig_atomic_t g_haveTemporary = 0;
int g_temporaryFolder = AT_FDCWD;
char g_temporaryName[PATH_MAX];

void setTemporary(int folder, const char* name) {
    g_haveTemporary = 0;
    if (g_temporaryFolder != AT_FDCWD) ::close(g_temporaryFolder);
    g_temporaryFolder = AT_FDCWD;
    if (!name || std::strlen(name) >= sizeof g_temporaryName) return;
    g_temporaryFolder = folder == AT_FDCWD ? AT_FDCWD : ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (g_temporaryFolder < 0 && g_temporaryFolder != AT_FDCWD) {
        g_temporaryFolder = AT_FDCWD;
        return;
    }
    std::strcpy(g_temporaryName, name);
    g_haveTemporary = 1;
}

void onInterrupt(int sig) {
    if (g_haveTemporary) ::unlinkat(g_temporaryFolder, g_temporaryName, 0);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

}  // namespace

void removeTemporaryOnInterrupt() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction sa = {};
        sa.sa_handler = onInterrupt;
        sigemptyset(&sa.sa_mask);
        ::sigaction(sig, &sa, nullptr);
    }
}

void noteTemporary(const char* path) { setTemporary(AT_FDCWD, path); }

// ---- Writing below a folder without following links ----------------------------

uint32_t errorLinkInPath() { return ELOOP; }
uint32_t errorNameTooLong() { return ENAMETOOLONG; }

struct OutputTree::Impl {
    int root = -1;
    std::string rootPath;
    // The temporary noted for interrupts, to clear it once renamed.
    std::string noted;

    // Splits rel into its components.
    static std::vector<std::string> components(const char* rel) {
        std::vector<std::string> parts;
        std::string part;
        for (const char* p = rel; ; p++) {
            if (*p == '/' || *p == 0) {
                if (!part.empty() && part != ".") parts.push_back(part);
                part.clear();
                if (!*p) break;
            } else {
                part += *p;
            }
        }
        return parts;
    }

    // Opens the folder of the given components below the root, one level
    // at a time, never through a link. Returns a descriptor (the caller
    // closes it unless it is the root) or -1.
    int openFolder(const std::vector<std::string>& parts, size_t count, bool create) const {
        int fd = root;
        for (size_t i = 0; i < count; i++) {
            if (create && ::mkdirat(fd, parts[i].c_str(), 0777) != 0 && errno != EEXIST) {
                int err = errno;
                if (fd != root) ::close(fd);
                errno = err;
                return -1;
            }
            int next = ::openat(fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            int err = errno;
            if (next < 0) {
                struct stat st;
                if (::fstatat(fd, parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
                    err = S_ISLNK(st.st_mode) ? ELOOP : S_ISDIR(st.st_mode) ? err : ENOTDIR;
            }
            if (fd != root) ::close(fd);
            if (next < 0) {
                errno = err;
                return -1;
            }
            fd = next;
        }
        return fd;
    }

    // The parent folder of rel, opened, and the last component.
    int openParent(const char* rel, std::string* last) const {
        std::vector<std::string> parts = components(rel);
        if (parts.empty()) {
            errno = EINVAL;
            return -1;
        }
        *last = parts.back();
        return openFolder(parts, parts.size() - 1, false);
    }
    void done(int fd) const {
        if (fd >= 0 && fd != root) ::close(fd);
    }
};

OutputTree::OutputTree() : impl_(new Impl) {}
OutputTree::~OutputTree() {
    close();
    delete impl_;
}

bool OutputTree::open(const char* root) {
    close();
    if (!root || !*root) {
        errno = ENOENT;
        return false;
    }
    impl_->root = ::open(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (impl_->root < 0) return false;
    impl_->rootPath = root;
    return true;
}

void OutputTree::close() {
    if (!impl_->noted.empty()) setTemporary(AT_FDCWD, nullptr);
    impl_->noted.clear();
    if (impl_->root >= 0) ::close(impl_->root);
    impl_->root = -1;
}

std::string OutputTree::displayPath(const char* rel) const {
    std::string p = impl_->rootPath;
    if (!p.empty() && p.back() != '/') p += '/';
    return p + rel;
}

bool OutputTree::fits(const char* rel) const {
    for (const std::string& part : Impl::components(rel)) {
        if (part.size() > NAME_MAX) {
            errno = ENAMETOOLONG;
            return false;
        }
    }
    if (impl_->rootPath.size() + 1 + std::strlen(rel) >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

bool OutputTree::examine(const char* rel, NodeInfo* info) {
    *info = NodeInfo();
    std::string last;
    int parent = impl_->openParent(rel, &last);
    if (parent < 0) {
        if (errno == ENOENT) return true;  // a missing folder: nothing there
        return false;
    }
    struct stat st;
    bool ok = ::fstatat(parent, last.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    int err = errno;
    impl_->done(parent);
    if (!ok) {
        errno = err;
        return err == ENOENT;
    }
    info->kind = kindOf(st.st_mode);
    info->id = idFromStat(st);
    info->permissions = uint32_t(st.st_mode & 07777);
    return true;
}

bool OutputTree::makeFolders(const char* rel) {
    std::vector<std::string> parts = Impl::components(rel);
    int fd = impl_->openFolder(parts, parts.size(), true);
    if (fd < 0) return false;
    impl_->done(fd);
    return true;
}

FileHandle OutputTree::createFile(const char* rel, bool reuse) {
    std::string last;
    int parent = impl_->openParent(rel, &last);
    if (parent < 0) return kInvalidFile;
    int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (reuse ? O_TRUNC : O_EXCL);
    int fd = ::openat(parent, last.c_str(), flags, 0666);
    int err = errno;
    if (fd >= 0) {
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            fd = -1;
            err = EEXIST;  // a FIFO or device of that name is not ours to take
        } else {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            setTemporary(parent, last.c_str());
            impl_->noted = rel;
        }
    }
    impl_->done(parent);
    errno = err;
    return fd < 0 ? kInvalidFile : fd;
}

bool OutputTree::rename(const char* from, const char* to, bool replace) {
    std::string fromLast, toLast;
    int fromParent = impl_->openParent(from, &fromLast);
    if (fromParent < 0) return false;
    int toParent = impl_->openParent(to, &toLast);
    if (toParent < 0) {
        int err = errno;
        impl_->done(fromParent);
        errno = err;
        return false;
    }
    bool ok;
    if (replace) {
        struct stat st;
        if (::fstatat(toParent, toLast.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            ok = false;
        } else {
            ok = ::renameat(fromParent, fromLast.c_str(), toParent, toLast.c_str()) == 0;
        }
    } else {
        // Without replacing: the kernel's no-replace rename; where the file
        // system lacks it, a hard link (which fails when the name exists),
        // then the temporary name goes.
        ok = ::renameat2(fromParent, fromLast.c_str(), toParent, toLast.c_str(), RENAME_NOREPLACE) == 0;
        if (!ok && (errno == EINVAL || errno == ENOSYS))
            ok = ::linkat(fromParent, fromLast.c_str(), toParent, toLast.c_str(), 0) == 0 &&
                 ::unlinkat(fromParent, fromLast.c_str(), 0) == 0;
    }
    int err = errno;
    if (ok && impl_->noted == from) {
        setTemporary(AT_FDCWD, nullptr);
        impl_->noted.clear();
    }
    impl_->done(fromParent);
    impl_->done(toParent);
    errno = err;
    return ok;
}

bool OutputTree::remove(const char* rel) {
    std::string last;
    int parent = impl_->openParent(rel, &last);
    if (parent < 0) return false;
    bool ok = ::unlinkat(parent, last.c_str(), 0) == 0;
    int err = errno;
    if (ok && impl_->noted == rel) {
        setTemporary(AT_FDCWD, nullptr);
        impl_->noted.clear();
    }
    impl_->done(parent);
    errno = err;
    return ok;
}

bool setHandleTimesFromDos(FileHandle h, uint16_t dosDate, uint16_t dosTime) {
    time_t secs;
    if (!dosToEpoch(dosDate, dosTime, &secs)) return false;
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = secs;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    return ::futimens(int(h), times) == 0;
}

bool setHandleAttributes(FileHandle h, uint32_t dosAttributes, const NodeInfo* keep) {
    struct stat st;
    if (::fstat(int(h), &st) != 0) return false;
    mode_t mode = keep ? mode_t(keep->permissions & 0777) : mode_t(st.st_mode & 0777);
    if (dosAttributes & 0x01) mode &= mode_t(~0222);
    if (mode == (st.st_mode & 07777)) return true;
    return ::fchmod(int(h), mode) == 0;
}

bool OutputTree::setFolderTimes(const char* rel, uint16_t dosDate, uint16_t dosTime) {
    std::vector<std::string> parts = Impl::components(rel);
    int fd = impl_->openFolder(parts, parts.size(), false);
    if (fd < 0) return false;
    bool ok = setHandleTimesFromDos(fd, dosDate, dosTime);
    int err = errno;
    impl_->done(fd);
    errno = err;
    return ok;
}

bool OutputTree::setFolderAttributes(const char* rel, uint32_t dosAttributes) {
    std::vector<std::string> parts = Impl::components(rel);
    int fd = impl_->openFolder(parts, parts.size(), false);
    if (fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0;
    if (ok) {
        mode_t mode = st.st_mode & 07777;
        if (dosAttributes & 0x01) mode &= mode_t(~0222);
        else mode |= S_IWUSR;
        ok = mode == (st.st_mode & 07777) || ::fchmod(fd, mode) == 0;
    }
    int err = errno;
    impl_->done(fd);
    errno = err;
    return ok;
}

}  // namespace platform
