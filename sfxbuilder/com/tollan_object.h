// The builder's COM object: the class Tollan with its dual interface
// ITollan (the four build methods, SaveXmlLog, seven properties),
// IDispatch served from the type library the DLL carries, rich error
// information, class information, and the ActiveX control interfaces of
// ControlBase. Objects may be aggregated. Windows only.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include "com/control/control_base.h"
#include "sfxbuilder/com/tollan.h"  // generated from tollan.idl
#include "support/logger.h"
#include "support/rich_error_info.h"
#include "support/string_buffer.h"

struct BuildRequest;

class TollanObject final : public ITollan,
                           public ISupportErrorInfo,
                           public IProvideClassInfo2,
                           public ControlBase {
public:
    // The class factory's CreateInstance: outer is the aggregating object
    // or null. E_OUTOFMEMORY when the object cannot be made.
    static HRESULT create(IUnknown* outer, REFIID riid, void** out);

    // IUnknown, delegating to the outer object when aggregated.
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) override;

    // ITollan
    STDMETHODIMP CreateExe(BSTR zipFilename, BSTR exeFilename) override;
    STDMETHODIMP CreateExe2(BSTR zipFilename, BSTR autoRunFilename, BSTR exeFilename) override;
    STDMETHODIMP CreateExe3(BSTR zipFilename, LONG encryptKeyLength, BSTR password, BSTR exeFilename) override;
    STDMETHODIMP CreateExe4(BSTR zipFilename, BSTR autoRunFilename, LONG keyLength, BSTR password,
                            BSTR exeFilename) override;
    STDMETHODIMP SaveXmlLog(BSTR filename) override;
    STDMETHODIMP get_UnzipToTemp(LONG* value) override;
    STDMETHODIMP put_UnzipToTemp(LONG value) override;
    STDMETHODIMP get_AutoRunParams(BSTR* value) override;
    STDMETHODIMP put_AutoRunParams(BSTR value) override;
    STDMETHODIMP get_ExeTitle(BSTR* value) override;
    STDMETHODIMP put_ExeTitle(BSTR value) override;
    STDMETHODIMP get_ExeIconFile(BSTR* value) override;
    STDMETHODIMP put_ExeIconFile(BSTR value) override;
    STDMETHODIMP get_ExeUnzipCaption(BSTR* value) override;
    STDMETHODIMP put_ExeUnzipCaption(BSTR value) override;
    STDMETHODIMP get_ExeUnzipDir(BSTR* value) override;
    STDMETHODIMP put_ExeUnzipDir(BSTR value) override;
    STDMETHODIMP get_ExeNoInterface(LONG* value) override;
    STDMETHODIMP put_ExeNoInterface(LONG value) override;

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

    // IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

private:
    explicit TollanObject(IUnknown* outer);
    ~TollanObject();

    // The object's own IUnknown, which an aggregating object holds.
    struct Inner : IUnknown {
        TollanObject* self;
        STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;
    };

    HRESULT innerQueryInterface(REFIID riid, void** out);
    // One build method: log context, stub copy, build, error information.
    HRESULT build(const char* method, BuildRequest& request);

    Inner inner_;
    IUnknown* outer_;  // the aggregating object, or &inner_
    LONG refs_ = 1;

    bool unzipToTemp_ = true;
    bool noInterface_ = false;
    StringBuffer autoRunParams_;
    StringBuffer exeTitle_;
    StringBuffer exeIconFile_;
    StringBuffer exeUnzipCaption_;
    StringBuffer exeUnzipDir_;
    Logger log_;
    RichErrorInfo errorInfo_;
};

// The module: its handle, the count of live objects and locks that
// DllCanUnloadNow reads, and the type information of the embedded type
// library (loaded once, released at unload).
namespace tollan_module {
HMODULE handle();
void lock();
void unlock();
LONG count();
// The ITollan (or, with coclass = true, the Tollan class) type
// information; S_OK with an AddRef'd pointer, or the load error.
HRESULT typeInfo(bool coclass, ITypeInfo** out);
void releaseTypeInfo();
}  // namespace tollan_module
