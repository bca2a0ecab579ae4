// Win32 implementation of the platform layer: the product's.
#include "support/platform.h"

#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

}  // namespace platform
