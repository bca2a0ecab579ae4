// Win32 implementation of the platform layer: the product's.
#include "support/platform.h"

#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <io.h>

namespace platform {

static HANDLE H(FileHandle h) { return reinterpret_cast<HANDLE>(h); }

FileHandle openFile(const char* path, OpenMode mode) {
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return kInvalidFile;
    }
    DWORD access = 0, share = 0, disposition = 0;
    switch (mode) {
        case OpenMode::ReadExisting: access = GENERIC_READ; share = FILE_SHARE_READ; disposition = OPEN_EXISTING; break;
        case OpenMode::CreateAlways: access = GENERIC_WRITE; disposition = CREATE_ALWAYS; break;
        case OpenMode::CreateNew: access = GENERIC_WRITE; disposition = CREATE_NEW; break;
        case OpenMode::WriteExisting: access = GENERIC_READ | GENERIC_WRITE; disposition = OPEN_EXISTING; break;
    }
    HANDLE h = CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return kInvalidFile;
    return reinterpret_cast<FileHandle>(h);
}

bool readFile(FileHandle h, void* buf, uint32_t n, uint32_t* got) {
    DWORD r = 0;
    BOOL ok = ReadFile(H(h), buf, n, &r, nullptr);
    *got = r;
    return ok != FALSE;
}

bool writeFile(FileHandle h, const void* buf, uint32_t n, uint32_t* written) {
    DWORD w = 0;
    BOOL ok = WriteFile(H(h), buf, n, &w, nullptr);
    *written = w;
    return ok != FALSE;
}

bool seekFile(FileHandle h, uint64_t pos) {
    LARGE_INTEGER li;
    li.QuadPart = LONGLONG(pos);
    return SetFilePointerEx(H(h), li, nullptr, FILE_BEGIN) != FALSE;
}

bool truncateFile(FileHandle h, uint64_t size) {
    return seekFile(h, size) && SetEndOfFile(H(h)) != FALSE;
}

bool tellFile(FileHandle h, uint64_t* pos) {
    LARGE_INTEGER zero, cur;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(H(h), zero, &cur, FILE_CURRENT)) return false;
    *pos = uint64_t(cur.QuadPart);
    return true;
}

bool fileSize(FileHandle h, uint64_t* size) {
    LARGE_INTEGER li;
    if (!GetFileSizeEx(H(h), &li)) return false;
    *size = uint64_t(li.QuadPart);
    return true;
}

void closeFile(FileHandle h) {
    if (h != kInvalidFile) CloseHandle(H(h));
}

bool sameFile(FileHandle h, const char* path) {
    if (!path) return false;
    DWORD saved = GetLastError();
    FileId a, b;
    bool same = fileIdOfHandle(h, &a) && fileIdOf(path, &b) && a == b;
    SetLastError(saved);
    return same;
}

bool deleteFile(const char* path) { return path && DeleteFileA(path) != FALSE; }
bool createDirectory(const char* path) { return path && CreateDirectoryA(path, nullptr) != FALSE; }
bool removeDirectory(const char* path) { return path && RemoveDirectoryA(path) != FALSE; }

uint32_t tempDirectory(char* buf, uint32_t size) {
    DWORD n = GetTempPathA(size, buf);
    return (n == 0 || n >= size) ? 0 : n;
}

uint32_t createUniqueTempFile(const char* directory, const char* prefix, char* buf, uint32_t size) {
    if (!directory || !*directory || !buf) return 0;
    char name[MAX_PATH + 1];
    if (GetTempFileNameA(directory, prefix ? prefix : "", 0, name) == 0) return 0;
    size_t n = std::strlen(name);
    if (n + 1 > size) {
        DeleteFileA(name);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buf, name, n + 1);
    return uint32_t(n);
}

uint32_t currentDirectory(char* buf, uint32_t size) {
    DWORD n = GetCurrentDirectoryA(size, buf);
    return (n == 0 || n >= size) ? 0 : n;
}

uint32_t modulePath(const void* addressInModule, char* buf, uint32_t size) {
    HMODULE mod = nullptr;
    if (addressInModule &&
        !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(addressInModule), &mod))
        return 0;
    DWORD n = GetModuleFileNameA(mod, buf, size);
    return (n == 0 || n >= size) ? 0 : n;
}

bool setCurrentDirectory(const char* path) { return path && SetCurrentDirectoryA(path) != FALSE; }

uint32_t lastError() { return GetLastError(); }
void setLastError(uint32_t code) { SetLastError(code); }

uint32_t errorText(uint32_t code, char* buf, uint32_t size) {
    if (size == 0) return 0;
    char* text = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                             reinterpret_cast<LPSTR>(&text), 0, nullptr);
    uint32_t result = 0;
    if (n && text) {
        if (n + 1 <= size) {
            std::memcpy(buf, text, n + 1);
            result = n;
        }
    }
    if (text) LocalFree(text);
    return result;
}

uint32_t errorFileExists() { return ERROR_FILE_EXISTS; }
uint32_t errorFileNotFound() { return ERROR_FILE_NOT_FOUND; }

int ansiToWide(const char* in, int inLen, char16_t* out, int outCap) {
    if (!in) return 0;
    return MultiByteToWideChar(CP_ACP, 0, in, inLen, reinterpret_cast<wchar_t*>(out), outCap);
}

int wideToAnsi(const char16_t* in, int inLen, char* out, int outCap) {
    if (!in) return 0;
    return WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(in), inLen, out, outCap, nullptr, nullptr);
}

int ansiToUtf8(const char* in, int inLen, char* out, int outCap) {
    if (!in || outCap < 0) return 0;
    int wideLen = MultiByteToWideChar(CP_ACP, 0, in, inLen, nullptr, 0);
    if (wideLen <= 0) return 0;
    auto* wide = static_cast<wchar_t*>(std::malloc(size_t(wideLen) * sizeof(wchar_t)));
    if (!wide) return 0;
    int n = 0;
    if (MultiByteToWideChar(CP_ACP, 0, in, inLen, wide, wideLen) == wideLen)
        n = WideCharToMultiByte(CP_UTF8, 0, wide, wideLen, out, outCap, nullptr, nullptr);
    std::free(wide);
    return n;
}

char16_t* allocBstr(const char16_t* text, uint32_t len) {
    return reinterpret_cast<char16_t*>(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text), len));
}

void freeBstr(char16_t* bstr) { SysFreeString(reinterpret_cast<BSTR>(bstr)); }

uint32_t bstrLength(const char16_t* bstr) {
    return SysStringLen(reinterpret_cast<BSTR>(const_cast<char16_t*>(bstr)));
}

bool installErrorInfo(const char16_t* description, const uint8_t guid[16], const char16_t* source) {
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create)) || !create) return false;
    BSTR desc = SysAllocString(reinterpret_cast<const OLECHAR*>(description ? description : u""));
    BSTR src = SysAllocString(reinterpret_cast<const OLECHAR*>(source ? source : u""));
    GUID id = {};
    if (guid) std::memcpy(&id, guid, 16);
    create->SetDescription(desc);
    create->SetGUID(id);
    create->SetSource(src);
    IErrorInfo* info = nullptr;
    bool ok = SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))) && info;
    if (ok) {
        ok = SUCCEEDED(SetErrorInfo(0, info));
        info->Release();
    }
    create->Release();
    SysFreeString(desc);
    SysFreeString(src);
    return ok;
}

bool takeErrorInfo(char16_t** description, uint8_t guid[16], char16_t** source) {
    if (description) *description = nullptr;
    if (source) *source = nullptr;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info) return false;
    BSTR desc = nullptr, src = nullptr;
    GUID id = {};
    info->GetDescription(&desc);
    info->GetGUID(&id);
    info->GetSource(&src);
    info->Release();
    if (description) *description = reinterpret_cast<char16_t*>(desc);
    else SysFreeString(desc);
    if (source) *source = reinterpret_cast<char16_t*>(src);
    else SysFreeString(src);
    if (guid) std::memcpy(guid, &id, 16);
    return true;
}

LocalTime localTime() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return LocalTime{st.wYear, st.wMonth, st.wDayOfWeek, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

uint32_t tickCount() { return GetTickCount(); }
uint32_t processId() { return GetCurrentProcessId(); }

void setStdoutBinary() { _setmode(_fileno(stdout), _O_BINARY); }

bool randomBytes(void* buf, size_t n) {
    // RtlGenRandom is exported by advapi32 as SystemFunction036.
    typedef BOOLEAN(WINAPI * GenRandom)(PVOID, ULONG);
    static GenRandom gen = reinterpret_cast<GenRandom>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("advapi32.dll"), "SystemFunction036")));
    if (!gen) return false;
    uint8_t* p = static_cast<uint8_t*>(buf);
    while (n) {
        ULONG piece = n > 0x10000000u ? 0x10000000u : ULONG(n);
        if (!gen(p, piece)) return false;
        p += piece;
        n -= piece;
    }
    return true;
}

bool fileInfo(const char* path, FileInfo* info) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!path || !GetFileAttributesExA(path, GetFileExInfoStandard, &d)) return false;
    info->isDirectory = (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info->size = info->isDirectory ? 0 : (uint64_t(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
    info->attributes = d.dwFileAttributes & 0x37;  // read-only, hidden, system, folder, archive
    info->unixMode = 0;
    FILETIME local;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&d.ftLastWriteTime, &local) || !FileTimeToDosDateTime(&local, &date, &time)) {
        date = (1 << 5) | 1;  // before 1980 or unconvertible: 1980-01-01
        time = 0;
    }
    info->dosDate = date;
    info->dosTime = time;
    return true;
}

bool listDirectory(const char* path, bool (*fn)(void* context, const char* name, bool isDirectory), void* context) {
    if (!path) return false;
    std::string pattern = path;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) {
        // An empty drive root has no "." entry: it is empty, not missing.
        DWORD err = GetLastError();
        DWORD attrs = GetFileAttributesA(path);
        return err == ERROR_FILE_NOT_FOUND && attrs != INVALID_FILE_ATTRIBUTES &&
               (attrs & FILE_ATTRIBUTE_DIRECTORY);
    }
    bool ok = true;
    do {
        if (!std::strcmp(fd.cFileName, ".") || !std::strcmp(fd.cFileName, "..")) continue;
        if (!fn(context, fd.cFileName, (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
            ok = false;
            break;
        }
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return ok;
}

// ---- Extraction: folder chains, times, attributes, names ----------------

char pathSeparator() { return '\\'; }

static bool isFolderW(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

static std::wstring ansiPathToWide(const char* path) {
    int n = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring w(size_t(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path, -1, &w[0], n);
    w.resize(size_t(n - 1));
    return w;
}

bool createDirectoryChain(const char* path) {
    // In UTF-16, so that a double-byte character's trail byte is never
    // mistaken for a separator.
    std::wstring p = path ? ansiPathToWide(path) : std::wstring();
    if (p.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    auto sep = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    while (p.size() > 1 && sep(p.back()) && p[p.size() - 2] != L':') p.pop_back();
    if (isFolderW(p)) return true;
    // The root is never made: "X:", "X:\", "\\server\share\", "\".
    size_t start = 0;
    if (p.size() >= 2 && p[1] == L':') {
        start = 2;
    } else if (p.size() >= 2 && sep(p[0]) && sep(p[1])) {
        size_t i = 2;
        for (int part = 0; part < 2; part++) {
            while (i < p.size() && !sep(p[i])) i++;
            if (part == 0 && i < p.size()) i++;
        }
        start = i;
    }
    for (size_t i = start + 1; i <= p.size(); i++) {
        if (i < p.size() && !sep(p[i])) continue;
        if (sep(p[i - 1])) continue;  // the root's separator, or "a\\b"
        std::wstring level = p.substr(0, i);
        if (CreateDirectoryW(level.c_str(), nullptr)) continue;
        DWORD err = GetLastError();
        if (isFolderW(level)) continue;
        SetLastError(err == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : err);
        return false;
    }
    return true;
}

// An MS-DOS local date and time as a UTC FILETIME, converted with the
// current bias as the system's own tools do. False (ERROR_INVALID_PARAMETER)
// when it names no real moment.
static bool dosToUtc(uint16_t dosDate, uint16_t dosTime, FILETIME* utc) {
    static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int year = 1980 + (dosDate >> 9), month = (dosDate >> 5) & 15, day = dosDate & 31;
    int hour = dosTime >> 11, minute = (dosTime >> 5) & 63, second = (dosTime & 31) * 2;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || (month == 2 && day == 29 && !leap) ||
        hour > 23 || minute > 59 || second > 59) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    FILETIME local;
    return DosDateTimeToFileTime(dosDate, dosTime, &local) && LocalFileTimeToFileTime(&local, utc);
}

bool setHandleTimesFromDos(FileHandle h, uint16_t dosDate, uint16_t dosTime) {
    FILETIME utc;
    return dosToUtc(dosDate, dosTime, &utc) && SetFileTime(H(h), &utc, &utc, &utc);
}

// Closes a handle without changing the last error.
static void closeKeepingError(HANDLE h) {
    DWORD err = GetLastError();
    CloseHandle(h);
    SetLastError(err);
}

bool setFileTimesFromDos(const char* path, uint16_t dosDate, uint16_t dosTime) {
    FILETIME utc;
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!dosToUtc(dosDate, dosTime, &utc)) return false;
    HANDLE h = CreateFileA(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);  // the flag opens folders too
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = SetFileTime(h, &utc, &utc, &utc) != FALSE;
    closeKeepingError(h);
    return ok;
}

bool setFileAttributes(const char* path, uint32_t dosAttributes) {
    DWORD a = dosAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_ARCHIVE);
    return path && SetFileAttributesA(path, a ? a : FILE_ATTRIBUTE_NORMAL) != FALSE;
}

bool renameReplacing(const char* from, const char* to) {
    return from && to && MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

int utf8ToAnsi(const char* in, int inLen, char* out, int outCap) {
    if (!in || outCap < 0) return 0;
    int wideLen = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in, inLen, nullptr, 0);
    if (wideLen <= 0) return 0;
    std::wstring wide(size_t(wideLen), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in, inLen, &wide[0], wideLen) != wideLen) return 0;
    // No best-fit look-alikes (a full-width solidus must not become "/")
    // and no default character. A UTF-8 system code page has every
    // character and takes neither flag.
    bool utf8Page = GetACP() == CP_UTF8;
    BOOL usedDefault = FALSE;
    DWORD flags = utf8Page ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL* used = utf8Page ? nullptr : &usedDefault;
    int n = WideCharToMultiByte(CP_ACP, flags, wide.data(), wideLen, nullptr, 0, nullptr, used);
    if (n <= 0 || usedDefault) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    std::string ansi(size_t(n), '\0');
    if (WideCharToMultiByte(CP_ACP, flags, wide.data(), wideLen, &ansi[0], n, nullptr, used) != n || usedDefault)
        return 0;
    // Reading the result back must give the same characters.
    int backLen = MultiByteToWideChar(CP_ACP, 0, ansi.data(), n, nullptr, 0);
    std::wstring back(size_t(backLen > 0 ? backLen : 0), L'\0');
    if (backLen != wideLen || MultiByteToWideChar(CP_ACP, 0, ansi.data(), n, &back[0], backLen) != backLen ||
        back != wide) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (outCap == 0) return n;
    if (n > outCap) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(out, ansi.data(), size_t(n));
    return n;
}

bool isTerminal(std::FILE* stream) { return stream && _isatty(_fileno(stream)) != 0; }

bool setInputEcho(bool on) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(in, &mode)) return false;
    mode = on ? (mode | ENABLE_ECHO_INPUT) : (mode & ~DWORD(ENABLE_ECHO_INPUT));
    return SetConsoleMode(in, mode) != FALSE;
}

// ---- Directory search and double-byte text ---------------------------------

bool isDbcsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != FALSE; }

static uint64_t fileTime(const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

static void copyRecord(const WIN32_FIND_DATAA& d, FindRecord* out) {
    *out = FindRecord();
    out->attributes = d.dwFileAttributes;
    out->creationTime = fileTime(d.ftCreationTime);
    out->lastAccessTime = fileTime(d.ftLastAccessTime);
    out->lastWriteTime = fileTime(d.ftLastWriteTime);
    out->sizeHigh = d.nFileSizeHigh;
    out->sizeLow = d.nFileSizeLow;
    static_assert(sizeof out->name == sizeof d.cFileName, "name field");
    static_assert(sizeof out->alternateName == sizeof d.cAlternateFileName, "alternate name field");
    std::memcpy(out->name, d.cFileName, sizeof out->name);
    std::memcpy(out->alternateName, d.cAlternateFileName, sizeof out->alternateName);
    out->name[sizeof out->name - 1] = 0;
    out->alternateName[sizeof out->alternateName - 1] = 0;
}

FindHandle findFirst(const char* pattern, FindRecord* out, FindScope) {
    if (!pattern || !out) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return kInvalidFind;
    }
    if (std::strlen(pattern) > kMaxFindPattern) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return kInvalidFind;
    }
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA(pattern, &d);
    if (h == INVALID_HANDLE_VALUE) return kInvalidFind;
    copyRecord(d, out);
    return reinterpret_cast<FindHandle>(h);
}

bool findNext(FindHandle h, FindRecord* out) {
    if (h == kInvalidFind || !h || !out) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    WIN32_FIND_DATAA d;
    if (!FindNextFileA(H(h), &d)) return false;
    copyRecord(d, out);
    return true;
}

void findClose(FindHandle h) {
    if (h != kInvalidFind && h) FindClose(H(h));
}

// ---- File times and short names -------------------------------------------

bool fileTimeToSystemTime(uint64_t fileTime, SystemTime* out) {
    if (!out) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    FILETIME ft;
    ft.dwLowDateTime = DWORD(fileTime);
    ft.dwHighDateTime = DWORD(fileTime >> 32);
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&ft, &st)) return false;
    *out = SystemTime{st.wYear, st.wMonth, st.wDayOfWeek, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
    return true;
}

uint32_t shortPathName(const char* path, char* out, uint32_t room) {
    if (!path || (!out && room)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return GetShortPathNameA(path, out, room);
}

// ---- File identity and regular files ------------------------------------------

// Every sharing mode: looking at a file must not stand in anyone's way.
static const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

static bool idOfHandle(HANDLE h, FileId* id, DWORD* attributes) {
    *id = FileId();
    BY_HANDLE_FILE_INFORMATION d;
    if (!GetFileInformationByHandle(h, &d)) return false;
    id->device = d.dwVolumeSerialNumber;
    id->index = (uint64_t(d.nFileIndexHigh) << 32) | d.nFileIndexLow;
    id->valid = true;
    if (attributes) *attributes = d.dwFileAttributes;
    return true;
}

bool fileIdOfHandle(FileHandle h, FileId* id) { return idOfHandle(H(h), id, nullptr); }

bool fileIdOf(const char* path, FileId* id) {
    *id = FileId();
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // No access asked for: folders and files in use open as well.
    HANDLE h = CreateFileA(path, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = idOfHandle(h, id, nullptr);
    closeKeepingError(h);
    return ok;
}

// No open of a name gives this code, so it can only mean our refusal.
uint32_t errorNotRegularFile() { return ERROR_BAD_FILE_TYPE; }

FileHandle openRegularFile(const char* path, uint64_t* size) {
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return kInvalidFile;
    }
    // Backup semantics so that a folder opens and is refused as such
    // rather than failing with "access denied".
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return kInvalidFile;
    BY_HANDLE_FILE_INFORMATION d;
    LARGE_INTEGER li;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &d) ||
        (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !GetFileSizeEx(h, &li)) {
        CloseHandle(h);
        SetLastError(errorNotRegularFile());
        return kInvalidFile;
    }
    *size = uint64_t(li.QuadPart);
    return reinterpret_cast<FileHandle>(h);
}

static NodeKind kindOfAttributes(DWORD a) {
    if (a == INVALID_FILE_ATTRIBUTES) return NodeKind::Missing;
    if (a & FILE_ATTRIBUTE_REPARSE_POINT) return NodeKind::Link;
    if (a & FILE_ATTRIBUTE_DIRECTORY) return NodeKind::Folder;
    if (a & FILE_ATTRIBUTE_DEVICE) return NodeKind::Other;
    return NodeKind::File;
}

NodeKind nodeKind(const char* path) { return path ? kindOfAttributes(GetFileAttributesA(path)) : NodeKind::Missing; }

// ---- Temporary files removed on interrupt --------------------------------------

namespace {

// The console runs its control handler on a thread of its own, so a lock
// (not a signal-safe flag) guards the name.
SRWLOCK g_temporaryLock = SRWLOCK_INIT;
std::wstring* g_temporary = nullptr;

void setTemporary(const std::wstring* path) {
    AcquireSRWLockExclusive(&g_temporaryLock);
    if (path) {
        if (!g_temporary) g_temporary = new std::wstring;
        *g_temporary = *path;
    } else if (g_temporary) {
        g_temporary->clear();
    }
    ReleaseSRWLockExclusive(&g_temporaryLock);
}

BOOL WINAPI onConsoleEvent(DWORD) {
    AcquireSRWLockExclusive(&g_temporaryLock);
    // The file is ours and open with delete sharing: it goes when the
    // process ends and its handle closes.
    if (g_temporary && !g_temporary->empty()) DeleteFileW(g_temporary->c_str());
    ReleaseSRWLockExclusive(&g_temporaryLock);
    return FALSE;  // the default handler ends the process
}

// From this length on a path takes the "\\?\" form; CreateDirectoryW
// already stops 12 short of MAX_PATH.
const size_t kLongFrom = MAX_PATH - 12;

// The "\\?\" form of a long full path; a short one as it is.
std::wstring longForm(const std::wstring& p) {
    if (p.size() < kLongFrom || p.compare(0, 4, L"\\\\?\\") == 0) return p;
    if (p.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + p.substr(2);
    return L"\\\\?\\" + p;
}

// A full wide path for a name in the system code page.
std::wstring fullPathW(const std::wstring& path) {
    DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return std::wstring();
    std::wstring full(size_t(n), L'\0');
    DWORD got = GetFullPathNameW(path.c_str(), n, &full[0], nullptr);
    if (got == 0 || got >= n) return std::wstring();
    full.resize(got);
    return full;
}

}  // namespace

void removeTemporaryOnInterrupt() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

void noteTemporary(const char* path) {
    std::wstring full = path ? longForm(fullPathW(ansiPathToWide(path))) : std::wstring();
    setTemporary(full.empty() ? nullptr : &full);
}

// ---- Writing below a folder without following links ----------------------------

// Codes that name our refusals; no open of a name returns them.
uint32_t errorLinkInPath() { return ERROR_CANT_ACCESS_FILE; }
uint32_t errorNameTooLong() { return ERROR_FILENAME_EXCED_RANGE; }

namespace {

// The longest component and path of the wide-character API.
const size_t kMaxComponent = 255;
const size_t kMaxLongPath = 32767;
bool isMissingError(DWORD err) { return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND; }

// Opens a name as itself (a reparse point is not followed) with the given
// access; folders open too. Fills *attributes from the open handle.
HANDLE openAsItself(const std::wstring& path, DWORD access, FileId* id, DWORD* attributes) {
    HANDLE h = CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return h;
    FileId ignored;
    if (!idOfHandle(h, id ? id : &ignored, attributes)) {
        closeKeepingError(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

bool setBasicAttributes(HANDLE h, DWORD attributes) {
    FILE_BASIC_INFO bi = {};  // zero times stay as they are
    bi.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(h, FileBasicInfo, &bi, sizeof bi) != FALSE;
}

const DWORD kDosSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_ARCHIVE;
// What SetFileAttributesW takes.
const DWORD kSettable = kDosSettable | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
                        FILE_ATTRIBUTE_TEMPORARY;
const DWORD kProtection = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

}  // namespace

// Decimal digits; std::to_wstring would bring a wide printf into the stub.
std::wstring decimal(uint32_t n) {
    wchar_t digits[11];
    wchar_t* p = digits + 11;
    do {
        *--p = wchar_t(L'0' + n % 10);
        n /= 10;
    } while (n);
    return std::wstring(p, digits + 11);
}

// A new file for writing; delete sharing lets the interrupt handler remove
// it while open.
HANDLE createNew(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Takes the name of a file left by an interrupted run: a new file made
// beside it is moved over it. A rename replaces the name itself, where
// opening or deleting it would reach the target of a link that does not
// show as one (Wine shows the host's links to files as plain files, and
// deletes a link's target).
HANDLE replaceLeftover(const std::wstring& full) {
    std::wstring folder = full.substr(0, full.find_last_of(L'\\') + 1);
    for (unsigned k = 0; k < 100; k++) {
        std::wstring beside = longForm(folder + L"~orv" + decimal(GetCurrentProcessId()) + L"." + decimal(k));
        HANDLE h = createNew(beside);
        if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;
        if (h == INVALID_HANDLE_VALUE || MoveFileExW(beside.c_str(), full.c_str(), MOVEFILE_REPLACE_EXISTING)) return h;
        DWORD err = GetLastError();
        CloseHandle(h);
        DeleteFileW(beside.c_str());
        SetLastError(err);
        return INVALID_HANDLE_VALUE;
    }
    return INVALID_HANDLE_VALUE;
}

struct OutputTree::Impl {
    std::string rootAnsi;  // as the caller gave it, for messages
    std::wstring root;     // full path
    std::wstring noted;    // the full path of the temporary noted for interrupts

    // rel in UTF-16, split at "/" (and "\", which would separate here too);
    // empty and "." components dropped, ".." refused.
    static bool components(const char* rel, std::vector<std::wstring>* parts) {
        parts->clear();
        if (!rel) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        std::wstring wide;
        if (*rel) {
            int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, rel, -1, nullptr, 0);
            if (n <= 0) {
                SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                return false;
            }
            wide.assign(size_t(n), L'\0');
            MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, rel, -1, &wide[0], n);
            wide.resize(size_t(n - 1));
        }
        std::wstring part;
        for (size_t i = 0; i <= wide.size(); i++) {
            if (i < wide.size() && wide[i] != L'/' && wide[i] != L'\\') {
                part += wide[i];
                continue;
            }
            if (part == L"..") {
                SetLastError(ERROR_INVALID_NAME);
                return false;
            }
            if (!part.empty() && part != L".") parts->push_back(part);
            part.clear();
        }
        return true;
    }

    // The plain full path of the first count components.
    std::wstring joined(const std::vector<std::wstring>& parts, size_t count) const {
        std::wstring p = root;
        for (size_t i = 0; i < count; i++) {
            if (p.empty() || p.back() != L'\\') p += L'\\';
            p += parts[i];
        }
        return p;
    }

    // The path to hand to the system: long ones in the "\\?\" form.
    std::wstring path(const std::vector<std::wstring>& parts, size_t count) const {
        return longForm(joined(parts, count));
    }

    // The level of the first count components must be a real folder, not
    // a reparse point.
    bool checkLevel(const std::vector<std::wstring>& parts, size_t count) const {
        DWORD a = GetFileAttributesW(path(parts, count).c_str());
        if (a == INVALID_FILE_ATTRIBUTES) {
            if (GetLastError() == ERROR_FILE_NOT_FOUND) SetLastError(ERROR_PATH_NOT_FOUND);
            return false;
        }
        if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
            SetLastError(errorLinkInPath());
            return false;
        }
        if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
            SetLastError(ERROR_DIRECTORY);
            return false;
        }
        return true;
    }
    // Checks the first count levels below the root.
    bool checkFolders(const std::vector<std::wstring>& parts, size_t count) const {
        for (size_t i = 1; i <= count; i++)
            if (!checkLevel(parts, i)) return false;
        return true;
    }

    // rel's components with every folder above the last one checked; at
    // least one component.
    bool parentChecked(const char* rel, std::vector<std::wstring>* parts) const {
        if (!components(rel, parts)) return false;
        if (parts->empty()) {
            SetLastError(ERROR_INVALID_NAME);
            return false;
        }
        return checkFolders(*parts, parts->size() - 1);
    }

    // Opens the folder rel names (the root when rel is empty) for changing
    // its attributes and times, never through a link.
    HANDLE openFolder(const char* rel) const {
        std::vector<std::wstring> parts;
        if (!components(rel, &parts) || !checkFolders(parts, parts.size())) return INVALID_HANDLE_VALUE;
        DWORD a = 0;
        HANDLE h = openAsItself(path(parts, parts.size()), FILE_WRITE_ATTRIBUTES, nullptr, &a);
        if (h != INVALID_HANDLE_VALUE && (a & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) !=
                                             FILE_ATTRIBUTE_DIRECTORY) {
            // Changed since the check.
            CloseHandle(h);
            SetLastError((a & FILE_ATTRIBUTE_REPARSE_POINT) ? errorLinkInPath() : ERROR_DIRECTORY);
            return INVALID_HANDLE_VALUE;
        }
        return h;
    }

    void forget(const std::wstring& full) {
        if (noted.empty() || noted != full) return;
        setTemporary(nullptr);
        noted.clear();
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
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    std::wstring full = fullPathW(ansiPathToWide(root));
    if (full.empty()) return false;
    // Trailing separators go, except the one of a drive's root ("C:\").
    while (full.size() > 1 && full.back() == L'\\' && full[full.size() - 2] != L':') full.pop_back();
    DWORD a = GetFileAttributesW(longForm(full).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return false;
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    impl_->root = full;
    impl_->rootAnsi = root;
    return true;
}

void OutputTree::close() {
    impl_->forget(impl_->noted);
    impl_->root.clear();
    impl_->rootAnsi.clear();
}

std::string OutputTree::displayPath(const char* rel) const {
    std::string p = impl_->rootAnsi;
    if (!p.empty() && p.back() != '\\' && p.back() != '/') p += '\\';
    std::string r = rel ? rel : "";
    for (char& c : r)
        if (c == '/') c = '\\';
    // UTF-8 to the code page, each character it lacks as its default one.
    int n = MultiByteToWideChar(CP_UTF8, 0, r.data(), int(r.size()), nullptr, 0);
    if (n <= 0) return p + r;
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, r.data(), int(r.size()), &wide[0], n);
    int m = WideCharToMultiByte(CP_ACP, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
    std::string ansi(size_t(m > 0 ? m : 0), '\0');
    if (m > 0) WideCharToMultiByte(CP_ACP, 0, wide.data(), n, &ansi[0], m, nullptr, nullptr);
    return p + ansi;
}

bool OutputTree::fits(const char* rel) const {
    std::vector<std::wstring> parts;
    if (!Impl::components(rel, &parts)) return false;
    for (const std::wstring& part : parts) {
        if (part.size() > kMaxComponent) {
            SetLastError(errorNameTooLong());
            return false;
        }
    }
    if (impl_->path(parts, parts.size()).size() > kMaxLongPath) {
        SetLastError(errorNameTooLong());
        return false;
    }
    return true;
}

bool OutputTree::examine(const char* rel, NodeInfo* info) {
    *info = NodeInfo();
    std::vector<std::wstring> parts;
    if (!impl_->parentChecked(rel, &parts)) return isMissingError(GetLastError());  // a missing folder: nothing there
    std::wstring full = impl_->path(parts, parts.size());
    DWORD a = GetFileAttributesW(full.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return isMissingError(GetLastError());
    info->kind = kindOfAttributes(a);
    info->permissions = a;
    HANDLE h = openAsItself(full, 0, &info->id, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return info->kind != NodeKind::File && info->kind != NodeKind::Folder;  // a link or device may not open
    CloseHandle(h);
    return true;
}

bool OutputTree::makeFolders(const char* rel) {
    std::vector<std::wstring> parts;
    if (!Impl::components(rel, &parts)) return false;
    for (size_t i = 1; i <= parts.size(); i++) {
        std::wstring level = impl_->path(parts, i);
        if (CreateDirectoryW(level.c_str(), nullptr)) continue;
        DWORD err = GetLastError();
        if (err != ERROR_ALREADY_EXISTS) return false;
        if (!impl_->checkLevel(parts, i)) return false;  // what exists must be a real folder
    }
    return true;
}

FileHandle OutputTree::createFile(const char* rel, bool reuse) {
    std::vector<std::wstring> parts;
    if (!impl_->parentChecked(rel, &parts)) return kInvalidFile;
    std::wstring full = impl_->path(parts, parts.size());
    HANDLE h = createNew(full);
    if (h == INVALID_HANDLE_VALUE && reuse && GetLastError() == ERROR_FILE_EXISTS) {
        if (kindOfAttributes(GetFileAttributesW(full.c_str())) == NodeKind::File)
            h = replaceLeftover(full);
        else
            SetLastError(errorFileExists());  // a folder, link or device of that name is not ours to take
    }
    if (h == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_ALREADY_EXISTS) SetLastError(errorFileExists());
        return kInvalidFile;
    }
    // What was opened must be a file on disk, not a device that a reserved
    // name ("NUL", "COM1") stands for.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        SetLastError(ERROR_INVALID_NAME);
        return kInvalidFile;
    }
    setTemporary(&full);
    impl_->noted = full;
    return reinterpret_cast<FileHandle>(h);
}

bool OutputTree::rename(const char* from, const char* to, bool replace) {
    std::vector<std::wstring> fromParts, toParts;
    if (!impl_->parentChecked(from, &fromParts) || !impl_->parentChecked(to, &toParts)) return false;
    std::wstring source = impl_->path(fromParts, fromParts.size());
    std::wstring target = impl_->path(toParts, toParts.size());
    DWORD restore = INVALID_FILE_ATTRIBUTES;
    if (replace) {
        DWORD a = GetFileAttributesW(target.c_str());
        if (a != INVALID_FILE_ATTRIBUTES && kindOfAttributes(a) == NodeKind::Folder) {
            SetLastError(ERROR_DIRECTORY);
            return false;
        }
        // A read-only file cannot be replaced. A link's attributes are
        // left alone: setting them would change its target.
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) && kindOfAttributes(a) == NodeKind::File) {
            restore = a & kSettable;
            DWORD lifted = restore & ~DWORD(FILE_ATTRIBUTE_READONLY);
            if (!SetFileAttributesW(target.c_str(), lifted ? lifted : FILE_ATTRIBUTE_NORMAL)) return false;
        }
    }
    if (!MoveFileExW(source.c_str(), target.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
        DWORD err = GetLastError();
        if (restore != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(target.c_str(), restore);
        SetLastError(err == ERROR_ALREADY_EXISTS ? errorFileExists() : err);
        return false;
    }
    impl_->forget(source);
    return true;
}

bool OutputTree::remove(const char* rel) {
    std::vector<std::wstring> parts;
    if (!impl_->parentChecked(rel, &parts)) return false;
    std::wstring full = impl_->path(parts, parts.size());
    // A link to a folder is itself a folder entry: removing it leaves the
    // target alone.
    DWORD a = GetFileAttributesW(full.c_str());
    bool folderLink = a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT) &&
                      (a & FILE_ATTRIBUTE_DIRECTORY);
    if (!(folderLink ? RemoveDirectoryW(full.c_str()) : DeleteFileW(full.c_str()))) return false;
    impl_->forget(full);
    return true;
}

bool OutputTree::setFolderTimes(const char* rel, uint16_t dosDate, uint16_t dosTime) {
    FILETIME utc;
    if (!dosToUtc(dosDate, dosTime, &utc)) return false;
    HANDLE h = impl_->openFolder(rel);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = SetFileTime(h, &utc, &utc, &utc) != FALSE;
    closeKeepingError(h);
    return ok;
}

bool OutputTree::setFolderAttributes(const char* rel, uint32_t dosAttributes) {
    HANDLE h = impl_->openFolder(rel);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = dosAttributes == 0 || setBasicAttributes(h, (dosAttributes & kDosSettable) | FILE_ATTRIBUTE_DIRECTORY);
    closeKeepingError(h);
    return ok;
}

bool setHandleAttributes(FileHandle h, uint32_t dosAttributes, const NodeInfo* keep) {
    return setBasicAttributes(H(h), (dosAttributes & kDosSettable) | (keep ? keep->permissions & kProtection : 0));
}

}  // namespace platform
