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
#include "com/server.h"
#include "sfxbuilder/com/tollan.h"  // generated from tollan.idl
#include "sfxbuilder/sfx_settings.h"
#include "support/logger.h"
#include "support/rich_error_info.h"
#include "support/string_buffer.h"

class TollanObject final : public com_server::Dispatch<ITollan>,
                           public ISupportErrorInfo,
                           public IProvideClassInfo2,
                           public ControlBase,
                           public com_server::Aggregated<TollanObject> {
public:

    // IUnknown, delegating to the outer object when aggregated.
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

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
    friend class com_server::Aggregated<TollanObject>;
    explicit TollanObject(IUnknown* outer);
    ~TollanObject();

    HRESULT queryOwnInterface(REFIID riid, void** out);
    // One build method: the properties as they are now with the method's
    // own arguments, then log context, stub copy, build, error information.
    HRESULT build(BSTR zipFilename, const BSTR* program, const LONG* keyLength, BSTR password, BSTR exeFilename);

    // The properties: UnzipToTemp is !runInPlace, ExeNoInterface is
    // silent; a build adds the program and the password of its method.
    SfxSettings properties_;
    Logger log_;
    RichErrorInfo errorInfo_;
};
