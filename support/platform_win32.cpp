// Win32 implementation of the platform layer: the product's.
#include "support/platform.h"

#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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
    HANDLE other = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    bool same = false;
    if (other != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION a, b;
        same = GetFileInformationByHandle(H(h), &a) && GetFileInformationByHandle(other, &b) &&
               a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
               a.nFileIndexLow == b.nFileIndexLow;
        CloseHandle(other);
    }
    SetLastError(saved);
    return same;
}

bool deleteFile(const char* path) { return path && DeleteFileA(path) != FALSE; }
bool createDirectory(const char* path) { return path && CreateDirectoryA(path, nullptr) != FALSE; }
bool removeDirectory(const char* path) { return path && RemoveDirectoryA(path) != FALSE; }

bool createMapping(FileHandle h, uint64_t size, Mapping* m) {
    *m = Mapping();
    if (size > uint64_t(SIZE_MAX)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    HANDLE s = CreateFileMappingA(H(h), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!s) return false;
    m->mappingHandle = reinterpret_cast<intptr_t>(s);
    m->size = size;
    return true;
}

bool mapView(Mapping* m) {
    void* p = MapViewOfFile(reinterpret_cast<HANDLE>(m->mappingHandle), FILE_MAP_READ, 0, 0, 0);
    if (!p) return false;
    m->data = static_cast<const uint8_t*>(p);
    return true;
}

void unmap(Mapping* m) {
    if (m->data) UnmapViewOfFile(m->data);
    if (m->mappingHandle) CloseHandle(reinterpret_cast<HANDLE>(m->mappingHandle));
    *m = Mapping();
}

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

bool setFileTimesFromDos(const char* path, uint16_t dosDate, uint16_t dosTime) {
    static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int year = 1980 + (dosDate >> 9), month = (dosDate >> 5) & 15, day = dosDate & 31;
    int hour = dosTime >> 11, minute = (dosTime >> 5) & 63, second = (dosTime & 31) * 2;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (!path || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || (month == 2 && day == 29 && !leap) ||
        hour > 23 || minute > 59 || second > 59) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    FILETIME local, utc;
    if (!DosDateTimeToFileTime(dosDate, dosTime, &local) || !LocalFileTimeToFileTime(&local, &utc)) return false;
    HANDLE h = CreateFileA(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);  // the flag opens folders too
    if (h == INVALID_HANDLE_VALUE) return false;
    BOOL ok = SetFileTime(h, &utc, &utc, &utc);
    DWORD err = GetLastError();
    CloseHandle(h);
    SetLastError(err);
    return ok != FALSE;
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

FindHandle findFirst(const char* pattern, FindRecord* out) {
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

}  // namespace platform
