#include "sfxbuilder/com/tollan_object.h"

#include "sfxbuilder/extract_stub.h"
#include "sfxbuilder/tollan_impl.h"

namespace {

// OLEMISC_RECOMPOSEONRESIZE | CANTLINKINSIDE | INSIDEOUT |
// ACTIVATEWHENVISIBLE | INVISIBLEATRUNTIME | SETCLIENTSITEFIRST.
constexpr DWORD kMiscStatus = 132497;
const char kDrawnText[] = "ATL 3.0 : Tollan";

// A BSTR argument as ANSI text; a null BSTR is the empty string.
StringBuffer ansi(BSTR s) { return StringBuffer(reinterpret_cast<const char16_t*>(s ? s : L"")); }

HRESULT getText(const StringBuffer& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = reinterpret_cast<BSTR>(text.toBstr());
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT putText(StringBuffer& text, BSTR value) {
    StringBuffer converted = ansi(value);
    text.assign(converted.str());
    return S_OK;
}

}  // namespace

TollanObject::TollanObject(IUnknown* outer)
    : Dispatch(IID_ITollan),
      ControlBase(CLSID_Tollan, kMiscStatus, kDrawnText),
      Aggregated(outer),
      errorInfo_(kTollanInterfaceGuid, kTollanErrorSource) {
    com_server::lock();
}

TollanObject::~TollanObject() { com_server::unlock(); }

// ---- IUnknown, delegating to the outer object when aggregated ---------------

HRESULT TollanObject::queryOwnInterface(REFIID riid, void** out) {
    if (IsEqualIID(riid, IID_ITollan) || IsEqualIID(riid, IID_IDispatch)) {
        *out = static_cast<ITollan*>(this);
    } else if (SUCCEEDED(queryControlInterface(riid, out))) {
        return S_OK;  // AddRef'd by the control part
    } else if (IsEqualIID(riid, IID_IProvideClassInfo) || IsEqualIID(riid, IID_IProvideClassInfo2)) {
        *out = static_cast<IProvideClassInfo2*>(this);
    } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
        *out = static_cast<ISupportErrorInfo*>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP TollanObject::QueryInterface(REFIID riid, void** out) { return outer()->QueryInterface(riid, out); }
STDMETHODIMP_(ULONG) TollanObject::AddRef() { return outer()->AddRef(); }
STDMETHODIMP_(ULONG) TollanObject::Release() { return outer()->Release(); }

// ---- The build methods -----------------------------------------------------

HRESULT TollanObject::build(const char* method, BuildRequest& request) {
    log_.enterContext(method, true);
    bool built = false;
    char modulePath[1024];
    DWORD n = GetModuleFileNameA(com_server::module(), modulePath, sizeof modulePath);
    StringBuffer stubCopy;
    if (n > 0 && n < sizeof modulePath && extractStub(modulePath, kStubResourceId, stubCopy, &log_)) {
        // The worker lives for this call only and gets the settings as they
        // are now.
        TollanImpl worker;
        worker.autoParams.assign(autoRunParams_.str());
        worker.progressCaption.assign(exeUnzipCaption_.str());
        worker.unzipDir.assign(exeUnzipDir_.str());
        worker.appTitle.assign(exeTitle_.str());
        worker.iconFile.assign(exeIconFile_.str());
        worker.noInterface = noInterface_;
        built = buildFromStubCopy(stubCopy.str(), worker, request, &log_);
    }
    log_.leaveContext();
    if (built) return S_OK;
    StringBuffer text;
    log_.getErrorText(text);
    errorInfo_.report(text);
    return E_FAIL;
}

STDMETHODIMP TollanObject::CreateExe(BSTR zipFilename, BSTR exeFilename) {
    StringBuffer zip = ansi(zipFilename), exe = ansi(exeFilename);
    BuildRequest request;
    request.variant = BuildRequest::Plain;
    request.zipPath = zip.str();
    request.outPath = exe.str();
    return build("CreateExe", request);
}

STDMETHODIMP TollanObject::CreateExe2(BSTR zipFilename, BSTR autoRunFilename, BSTR exeFilename) {
    StringBuffer zip = ansi(zipFilename), program = ansi(autoRunFilename), exe = ansi(exeFilename);
    BuildRequest request;
    request.variant = BuildRequest::WithProgram;
    request.zipPath = zip.str();
    request.program = program.str();
    request.runFromTemp = unzipToTemp_;
    request.outPath = exe.str();
    return build("CreateExe2", request);
}

STDMETHODIMP TollanObject::CreateExe3(BSTR zipFilename, LONG encryptKeyLength, BSTR password, BSTR exeFilename) {
    StringBuffer zip = ansi(zipFilename), pw = ansi(password), exe = ansi(exeFilename);
    BuildRequest request;
    request.variant = BuildRequest::Encrypted;
    request.zipPath = zip.str();
    request.keyBits = int(encryptKeyLength);
    request.password = pw.str();
    request.outPath = exe.str();
    return build("CreateExe3", request);
}

STDMETHODIMP TollanObject::CreateExe4(BSTR zipFilename, BSTR autoRunFilename, LONG keyLength, BSTR password,
                                      BSTR exeFilename) {
    StringBuffer zip = ansi(zipFilename), program = ansi(autoRunFilename), pw = ansi(password),
                 exe = ansi(exeFilename);
    BuildRequest request;
    request.variant = BuildRequest::EncryptedWithProgram;
    request.zipPath = zip.str();
    request.program = program.str();
    request.runFromTemp = unzipToTemp_;
    request.keyBits = int(keyLength);
    request.password = pw.str();
    request.outPath = exe.str();
    return build("CreateExe4", request);
}

STDMETHODIMP TollanObject::SaveXmlLog(BSTR filename) {
    StringBuffer path = ansi(filename);
    log_.saveXml(false, path.str());  // whether or not the file could be written
    return S_OK;
}

// ---- Properties ------------------------------------------------------------

STDMETHODIMP TollanObject::get_UnzipToTemp(LONG* value) {
    if (!value) return E_POINTER;
    *value = unzipToTemp_ ? 1 : 0;
    return S_OK;
}

STDMETHODIMP TollanObject::put_UnzipToTemp(LONG value) {
    unzipToTemp_ = value != 0;
    return S_OK;
}

STDMETHODIMP TollanObject::get_ExeNoInterface(LONG* value) {
    if (!value) return E_POINTER;
    *value = noInterface_ ? 1 : 0;
    return S_OK;
}

STDMETHODIMP TollanObject::put_ExeNoInterface(LONG value) {
    noInterface_ = value != 0;
    return S_OK;
}

STDMETHODIMP TollanObject::get_AutoRunParams(BSTR* value) { return getText(autoRunParams_, value); }
STDMETHODIMP TollanObject::put_AutoRunParams(BSTR value) { return putText(autoRunParams_, value); }
STDMETHODIMP TollanObject::get_ExeTitle(BSTR* value) { return getText(exeTitle_, value); }
STDMETHODIMP TollanObject::put_ExeTitle(BSTR value) { return putText(exeTitle_, value); }
STDMETHODIMP TollanObject::get_ExeIconFile(BSTR* value) { return getText(exeIconFile_, value); }
STDMETHODIMP TollanObject::put_ExeIconFile(BSTR value) { return putText(exeIconFile_, value); }
STDMETHODIMP TollanObject::get_ExeUnzipCaption(BSTR* value) { return getText(exeUnzipCaption_, value); }
STDMETHODIMP TollanObject::put_ExeUnzipCaption(BSTR value) { return putText(exeUnzipCaption_, value); }
STDMETHODIMP TollanObject::get_ExeUnzipDir(BSTR* value) { return getText(exeUnzipDir_, value); }
STDMETHODIMP TollanObject::put_ExeUnzipDir(BSTR value) { return putText(exeUnzipDir_, value); }

// ---- ISupportErrorInfo, IProvideClassInfo2 ----------------------------------

STDMETHODIMP TollanObject::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualIID(riid, IID_ITollan) ? S_OK : S_FALSE;
}

STDMETHODIMP TollanObject::GetClassInfo(ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    return com_server::typeInfo(CLSID_Tollan, info);
}

STDMETHODIMP TollanObject::GetGUID(DWORD kind, GUID* guid) {
    if (!guid) return E_POINTER;
    *guid = GUID_NULL;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    return S_OK;  // the class fires no events: no source interface
}
