#include "com/registry_win32.h"

#include <utility>

static_assert(regstatus::kNotFound == ERROR_FILE_NOT_FOUND, "status codes are the Win32 ones");
static_assert(regstatus::kAccessDenied == ERROR_ACCESS_DENIED, "status codes are the Win32 ones");
static_assert(regstatus::kInvalidParameter == ERROR_INVALID_PARAMETER, "status codes are the Win32 ones");

Win32Registry::Win32Registry(HKEY root, std::string base) : root_(root), base_(std::move(base)) {}

std::string Win32Registry::full(const std::string& path) const {
    if (base_.empty()) return path;
    if (path.empty()) return base_;
    return base_ + "\\" + path;
}

uint32_t Win32Registry::createKey(const std::string& path) {
    if (path.empty()) return regstatus::kInvalidParameter;
    HKEY key = nullptr;
    LONG st = RegCreateKeyExA(root_, full(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                              &key, nullptr);
    if (st != ERROR_SUCCESS) return uint32_t(st);
    RegCloseKey(key);
    return regstatus::kOk;
}

uint32_t Win32Registry::setString(const std::string& path, const std::string& valueName, const std::string& text) {
    if (path.empty()) return regstatus::kInvalidParameter;
    // REG_SZ data counts its terminating zero, in a DWORD.
    if (text.size() >= 0xFFFFFFFFu) return regstatus::kInvalidParameter;
    HKEY key = nullptr;
    LONG st = RegOpenKeyExA(root_, full(path).c_str(), 0, KEY_SET_VALUE, &key);
    if (st != ERROR_SUCCESS) return uint32_t(st);
    st = RegSetValueExA(key, valueName.empty() ? nullptr : valueName.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(text.c_str()), DWORD(text.size() + 1));
    RegCloseKey(key);
    return uint32_t(st);
}

uint32_t Win32Registry::deleteTree(const std::string& path) {
    // Never with an empty path: that would empty the root (all of
    // HKEY_CLASSES_ROOT for the servers).
    if (path.empty()) return regstatus::kInvalidParameter;
    std::string name = full(path);
    // The contents first (RegDeleteTreeA on the key's own handle with no
    // subkey name), then the key itself.
    HKEY key = nullptr;
    LONG st = RegOpenKeyExA(root_, name.c_str(), 0, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE,
                            &key);
    if (st != ERROR_SUCCESS) return uint32_t(st);
    st = RegDeleteTreeA(key, nullptr);
    RegCloseKey(key);
    if (st != ERROR_SUCCESS) return uint32_t(st);
    return uint32_t(RegDeleteKeyA(root_, name.c_str()));
}

bool Win32Registry::keyExists(const std::string& path) {
    if (path.empty()) return false;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root_, full(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool loadScriptResource(HMODULE module, int id, std::string* text) {
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(id), "REGISTRY");
    if (!info) return false;
    DWORD size = SizeofResource(module, info);
    HGLOBAL handle = LoadResource(module, info);
    if (!handle) return false;
    const void* data = LockResource(handle);
    if (!data) return false;
    // Exactly SizeofResource bytes: the script has no terminating zero.
    text->assign(static_cast<const char*>(data), size);
    return true;
}
