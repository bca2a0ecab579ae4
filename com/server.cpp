#include "com/server.h"

#include <olectl.h>

#include <string>

#include "com/registry_script.h"
#include "com/registry_win32.h"

namespace com_server {
namespace {

HMODULE g_module = nullptr;
LONG g_count = 0;  // live objects, server locks and held class objects

// The type library and the type information handed out so far, one entry
// per interface or class asked for.
CRITICAL_SECTION g_typeLock;
ITypeLib* g_typeLib = nullptr;
struct CachedInfo {
    GUID guid;
    ITypeInfo* info;
};
constexpr int kMaxCached = 8;
CachedInfo g_cached[kMaxCached];
int g_cachedCount = 0;

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

void releaseTypeInfo() {
    EnterCriticalSection(&g_typeLock);
    for (int i = 0; i < g_cachedCount; ++i) g_cached[i].info->Release();
    g_cachedCount = 0;
    if (g_typeLib) g_typeLib->Release();
    g_typeLib = nullptr;
    LeaveCriticalSection(&g_typeLock);
}

bool loadScript(int scriptId, RegistryScript* script) {
    std::string text;
    return loadScriptResource(g_module, scriptId, &text) && script->parse(text.data(), text.size(), nullptr);
}

}  // namespace

void attach(HINSTANCE module) {
    g_module = module;
    InitializeCriticalSection(&g_typeLock);
    DisableThreadLibraryCalls(module);
}

void detach(LPVOID reserved) {
    if (!reserved) releaseTypeInfo();
    DeleteCriticalSection(&g_typeLock);
}

HMODULE module() { return g_module; }
void lock() { InterlockedIncrement(&g_count); }
void unlock() { InterlockedDecrement(&g_count); }
LONG count() { return InterlockedCompareExchange(&g_count, 0, 0); }
HRESULT canUnloadNow() { return count() == 0 ? S_OK : S_FALSE; }

HRESULT typeInfo(REFGUID guid, ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    EnterCriticalSection(&g_typeLock);
    HRESULT hr = S_OK;
    for (int i = 0; i < g_cachedCount; ++i) {
        if (IsEqualGUID(g_cached[i].guid, guid)) *out = g_cached[i].info;
    }
    if (!*out) {
        if (!g_typeLib) hr = loadOwnTypeLib(&g_typeLib);
        if (SUCCEEDED(hr)) hr = g_typeLib->GetTypeInfoOfGuid(guid, out);
        if (SUCCEEDED(hr)) {
            if (g_cachedCount < kMaxCached) {
                g_cached[g_cachedCount++] = CachedInfo{guid, *out};
            } else {
                hr = E_UNEXPECTED;  // more types than any of our libraries has
                (*out)->Release();
                *out = nullptr;
            }
        }
    }
    if (*out) (*out)->AddRef();
    LeaveCriticalSection(&g_typeLock);
    return hr;
}

HRESULT registerServer(int scriptId) {
    std::wstring widePath;
    std::string path;
    if (!modulePaths(&widePath, &path)) return HRESULT_FROM_WIN32(GetLastError());
    std::string text;
    if (!loadScriptResource(g_module, scriptId, &text)) return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
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

HRESULT unregisterServer(int scriptId, bool removeTypeLib) {
    RegistryScript script;
    if (loadScript(scriptId, &script)) {
        Win32Registry registry(HKEY_CLASSES_ROOT, std::string());
        applyUnregister(script, registry);
    }
    ITypeLib* lib = nullptr;
    if (removeTypeLib && SUCCEEDED(loadOwnTypeLib(&lib))) {
        TLIBATTR* attr = nullptr;
        if (SUCCEEDED(lib->GetLibAttr(&attr))) {
            UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
            lib->ReleaseTLibAttr(attr);
        }
        lib->Release();
    }
    return S_OK;
}

HRESULT getTypeInfo(REFIID iid, UINT index, ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return typeInfo(iid, out);
}

HRESULT getIDsOfNames(REFIID iid, REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids) return E_POINTER;
    ITypeInfo* info = nullptr;
    HRESULT hr = typeInfo(iid, &info);
    if (FAILED(hr)) return hr;
    hr = DispGetIDsOfNames(info, names, count, ids);
    info->Release();
    return hr;
}

HRESULT invoke(REFIID iid, void* object, DISPID id, REFIID riid, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* excep, UINT* argErr) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = nullptr;
    HRESULT hr = typeInfo(iid, &info);
    if (FAILED(hr)) return hr;
    if (excep) ZeroMemory(excep, sizeof *excep);
    hr = DispInvoke(object, info, id, flags, params, result, excep, argErr);
    info->Release();
    if (FAILED(hr) && HRESULT_FACILITY(hr) != FACILITY_DISPATCH && excep) {
        IErrorInfo* error = nullptr;
        if (GetErrorInfo(0, &error) == S_OK && error) {
            error->GetSource(&excep->bstrSource);
            error->GetDescription(&excep->bstrDescription);
            error->GetHelpFile(&excep->bstrHelpFile);
            error->GetHelpContext(&excep->dwHelpContext);
            // Put it back for callers that ask the thread as well.
            SetErrorInfo(0, error);
            error->Release();
        }
        excep->scode = hr;
        return DISP_E_EXCEPTION;
    }
    return hr;
}

// ---- The class object --------------------------------------------------------

STDMETHODIMP ClassFactory::QueryInterface(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) ClassFactory::AddRef() {
    lock();
    return 2;
}

STDMETHODIMP_(ULONG) ClassFactory::Release() {
    unlock();
    return 1;
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** out) {
    return create_(outer, riid, out);
}

STDMETHODIMP ClassFactory::LockServer(BOOL doLock) {
    if (doLock) lock();
    else unlock();
    return S_OK;
}

HRESULT getClassObject(ClassFactory& factory, REFCLSID served, REFCLSID clsid, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, served)) return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(riid, out);
}

}  // namespace com_server
