// The builder DLL's entry points: the class object of Tollan, the count of
// live objects and locks, self-registration from the registration script
// and the type library the DLL carries, and the type information that
// IDispatch and IProvideClassInfo serve.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <string>

#include "com/registry_script.h"
#include "com/registry_win32.h"
#include "sfxbuilder/com/tollan_object.h"

namespace {

constexpr int kRegistryScriptId = 102;

HMODULE g_module = nullptr;
LONG g_count = 0;  // live objects, server locks and held class objects

CRITICAL_SECTION g_typeLock;
ITypeLib* g_typeLib = nullptr;
ITypeInfo* g_interfaceInfo = nullptr;
ITypeInfo* g_classInfo = nullptr;

// The module's full path, wide and ANSI.
bool modulePaths(std::wstring* wide, std::string* narrow) {
    wchar_t w[1024];
    DWORD n = GetModuleFileNameW(g_module, w, 1024);
    if (n == 0 || n >= 1024) return false;
    if (wide) wide->assign(w, n);
    if (narrow) {
        char a[1024];
        DWORD m = GetModuleFileNameA(g_module, a, sizeof a);
        if (m == 0 || m >= sizeof a) return false;
        narrow->assign(a, m);
    }
    return true;
}

// The type library the DLL carries (TYPELIB 1); when it cannot be loaded
// from there, a file of the DLL's name with the extension ".tlb" beside it.
HRESULT loadOwnTypeLib(ITypeLib** out) {
    std::wstring path;
    if (!modulePaths(&path, nullptr)) return HRESULT_FROM_WIN32(GetLastError());
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, out);
    if (SUCCEEDED(hr)) return hr;
    size_t dot = path.find_last_of(L".\\/");
    if (dot != std::wstring::npos && path[dot] == L'.') path.erase(dot);
    path += L".tlb";
    HRESULT fromFile = LoadTypeLibEx(path.c_str(), REGKIND_NONE, out);
    return SUCCEEDED(fromFile) ? fromFile : hr;
}

// The class object. Clients holding it keep the module loaded.
class TollanFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        tollan_module::lock();
        return 2;
    }
    STDMETHODIMP_(ULONG) Release() override {
        tollan_module::unlock();
        return 1;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        return TollanObject::create(outer, riid, out);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) tollan_module::lock();
        else tollan_module::unlock();
        return S_OK;
    }
};

TollanFactory g_factory;

}  // namespace

namespace tollan_module {

HMODULE handle() { return g_module; }
void lock() { InterlockedIncrement(&g_count); }
void unlock() { InterlockedDecrement(&g_count); }
LONG count() { return InterlockedCompareExchange(&g_count, 0, 0); }

HRESULT typeInfo(bool coclass, ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    EnterCriticalSection(&g_typeLock);
    HRESULT hr = S_OK;
    if (!g_typeLib) hr = loadOwnTypeLib(&g_typeLib);
    if (SUCCEEDED(hr) && !g_interfaceInfo) hr = g_typeLib->GetTypeInfoOfGuid(IID_ITollan, &g_interfaceInfo);
    if (SUCCEEDED(hr) && !g_classInfo) hr = g_typeLib->GetTypeInfoOfGuid(CLSID_Tollan, &g_classInfo);
    if (SUCCEEDED(hr)) {
        *out = coclass ? g_classInfo : g_interfaceInfo;
        (*out)->AddRef();
    }
    LeaveCriticalSection(&g_typeLock);
    return hr;
}

void releaseTypeInfo() {
    EnterCriticalSection(&g_typeLock);
    if (g_classInfo) g_classInfo->Release();
    if (g_interfaceInfo) g_interfaceInfo->Release();
    if (g_typeLib) g_typeLib->Release();
    g_classInfo = nullptr;
    g_interfaceInfo = nullptr;
    g_typeLib = nullptr;
    LeaveCriticalSection(&g_typeLock);
}

}  // namespace tollan_module

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        InitializeCriticalSection(&g_typeLock);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        // At process exit (reserved non-null) other DLLs may be gone
        // already: the type information is released only on FreeLibrary.
        if (!reserved) tollan_module::releaseTypeInfo();
        DeleteCriticalSection(&g_typeLock);
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    if (tollan_module::count() != 0) return S_FALSE;
    // No object, so no control window either.
    ControlBase::unregisterWindowClass();
    return S_OK;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_Tollan)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, out);
}

extern "C" HRESULT WINAPI DllRegisterServer() {
    std::wstring widePath;
    std::string path;
    if (!modulePaths(&widePath, &path)) return HRESULT_FROM_WIN32(GetLastError());
    std::string text;
    if (!loadScriptResource(g_module, kRegistryScriptId, &text)) return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
    RegistryScript script;
    if (!script.parse(text.data(), text.size(), nullptr)) return E_UNEXPECTED;
    Win32Registry registry(HKEY_CLASSES_ROOT, std::string());
    uint32_t status = applyRegister(script, registry, path.c_str());
    if (status != 0) return HRESULT_FROM_WIN32(status);

    ITypeLib* lib = nullptr;
    HRESULT hr = loadOwnTypeLib(&lib);
    if (FAILED(hr)) return hr;
    // The help folder is the DLL's folder.
    std::wstring folder = widePath.substr(0, widePath.find_last_of(L"\\/") + 1);
    wchar_t* libPath = const_cast<wchar_t*>(widePath.c_str());
    hr = RegisterTypeLib(lib, libPath, folder.empty() ? nullptr : const_cast<wchar_t*>(folder.c_str()));
    lib->Release();
    return hr;
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    std::string text;
    if (loadScriptResource(g_module, kRegistryScriptId, &text)) {
        RegistryScript script;
        if (script.parse(text.data(), text.size(), nullptr)) {
            Win32Registry registry(HKEY_CLASSES_ROOT, std::string());
            applyUnregister(script, registry);
        }
    }
    ITypeLib* lib = nullptr;
    if (SUCCEEDED(loadOwnTypeLib(&lib))) {
        TLIBATTR* attr = nullptr;
        if (SUCCEEDED(lib->GetLibAttr(&attr))) {
            UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
            lib->ReleaseTLibAttr(attr);
        }
        lib->Release();
    }
    return S_OK;
}
