// The file-system helper DLL's entry points: the class object of the
// Enumerator (the only class clients create), unloading, and
// self-registration from the registration script and the type library the
// DLL carries. The type library's registration stays on unregistration.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include "com/server.h"
#include "filesys/com/filesys_objects.h"

namespace {

constexpr int kRegistryScriptId = 102;

com_server::ClassFactory g_factory(EnumeratorObject::create);

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) com_server::attach(instance);
    else if (reason == DLL_PROCESS_DETACH) com_server::detach(reserved);
    return TRUE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return com_server::canUnloadNow(); }

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    return com_server::getClassObject(g_factory, CLSID_Enumerator, clsid, riid, out);
}

extern "C" HRESULT WINAPI DllRegisterServer() { return com_server::registerServer(kRegistryScriptId); }

extern "C" HRESULT WINAPI DllUnregisterServer() { return com_server::unregisterServer(kRegistryScriptId, false); }
