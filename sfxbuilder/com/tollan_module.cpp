// The builder DLL's entry points: the class object of Tollan, unloading
// (with the control's window class), self-registration from the
// registration script and the type library the DLL carries.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include "com/server.h"
#include "sfxbuilder/com/tollan_object.h"

namespace {

constexpr int kRegistryScriptId = 102;

com_server::ClassFactory g_factory(TollanObject::create);

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) com_server::attach(instance);
    else if (reason == DLL_PROCESS_DETACH) com_server::detach(reserved);
    return TRUE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    HRESULT hr = com_server::canUnloadNow();
    // No object, so no control window either.
    if (hr == S_OK) ControlBase::unregisterWindowClass();
    return hr;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    return com_server::getClassObject(g_factory, CLSID_Tollan, clsid, riid, out);
}

extern "C" HRESULT WINAPI DllRegisterServer() { return com_server::registerServer(kRegistryScriptId); }

extern "C" HRESULT WINAPI DllUnregisterServer() { return com_server::unregisterServer(kRegistryScriptId, true); }
