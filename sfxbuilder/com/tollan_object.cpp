#include "sfxbuilder/com/tollan_object.h"

#include "sfxbuilder/extract_stub.h"

namespace {

// OLEMISC_RECOMPOSEONRESIZE | CANTLINKINSIDE | INSIDEOUT |
// ACTIVATEWHENVISIBLE | INVISIBLEATRUNTIME | SETCLIENTSITEFIRST.
constexpr DWORD kMiscStatus = 132497;
const char kDrawnText[] = "ATL 3.0 : Tollan";

// A BSTR argument as ANSI text; a null BSTR is the empty string.
StringBuffer ansi(BSTR s) { return StringBuffer(reinterpret_cast<const char16_t*>(s ? s : L"")); }
std::string ansiText(BSTR s) { return ansi(s).str(); }

HRESULT getText(const std::string& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = reinterpret_cast<BSTR>(StringBuffer(text.c_str()).toBstr());
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT putText(std::string& text, BSTR value) {
    text = ansiText(value);
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

HRESULT TollanObject::build(BSTR zipFilename, const BSTR* program, const LONG* keyLength, BSTR password,
                            BSTR exeFilename) {
    SfxSettings settings = properties_;
    settings.runProgram = program != nullptr;
    if (program) settings.program = ansiText(*program);
    settings.encrypt = keyLength != nullptr;
    if (keyLength) {
        settings.keyBits = int(*keyLength);
        settings.password = ansiText(password);
    }
    const std::string zip = ansiText(zipFilename), exe = ansiText(exeFilename);

    log_.enterContext(settings.methodName(), true);
    bool built = false;
    char modulePath[1024];
    DWORD n = GetModuleFileNameA(com_server::module(), modulePath, sizeof modulePath);
    StringBuffer stubCopy;
    if (n > 0 && n < sizeof modulePath && extractStub(modulePath, kStubResourceId, stubCopy, &log_))
        built = buildFromStubCopy(stubCopy.str(), settings, zip.c_str(), exe.c_str(), &log_);
    log_.leaveContext();
    if (built) return S_OK;
    StringBuffer text;
    log_.getErrorText(text);
    errorInfo_.report(text);
    return E_FAIL;
}

STDMETHODIMP TollanObject::CreateExe(BSTR zipFilename, BSTR exeFilename) {
    return build(zipFilename, nullptr, nullptr, nullptr, exeFilename);
}

STDMETHODIMP TollanObject::CreateExe2(BSTR zipFilename, BSTR autoRunFilename, BSTR exeFilename) {
    return build(zipFilename, &autoRunFilename, nullptr, nullptr, exeFilename);
}

STDMETHODIMP TollanObject::CreateExe3(BSTR zipFilename, LONG encryptKeyLength, BSTR password, BSTR exeFilename) {
    return build(zipFilename, nullptr, &encryptKeyLength, password, exeFilename);
}

STDMETHODIMP TollanObject::CreateExe4(BSTR zipFilename, BSTR autoRunFilename, LONG keyLength, BSTR password,
                                      BSTR exeFilename) {
    return build(zipFilename, &autoRunFilename, &keyLength, password, exeFilename);
}

STDMETHODIMP TollanObject::SaveXmlLog(BSTR filename) {
    StringBuffer path = ansi(filename);
    log_.saveXml(false, path.str());  // whether or not the file could be written
    return S_OK;
}

// ---- Properties ------------------------------------------------------------

STDMETHODIMP TollanObject::get_UnzipToTemp(LONG* value) {
    if (!value) return E_POINTER;
    *value = properties_.runInPlace ? 0 : 1;
    return S_OK;
}

STDMETHODIMP TollanObject::put_UnzipToTemp(LONG value) {
    properties_.runInPlace = value == 0;
    return S_OK;
}

STDMETHODIMP TollanObject::get_ExeNoInterface(LONG* value) {
    if (!value) return E_POINTER;
    *value = properties_.silent ? 1 : 0;
    return S_OK;
}

STDMETHODIMP TollanObject::put_ExeNoInterface(LONG value) {
    properties_.silent = value != 0;
    return S_OK;
}

STDMETHODIMP TollanObject::get_AutoRunParams(BSTR* value) { return getText(properties_.params, value); }
STDMETHODIMP TollanObject::put_AutoRunParams(BSTR value) { return putText(properties_.params, value); }
STDMETHODIMP TollanObject::get_ExeTitle(BSTR* value) { return getText(properties_.title, value); }
STDMETHODIMP TollanObject::put_ExeTitle(BSTR value) { return putText(properties_.title, value); }
STDMETHODIMP TollanObject::get_ExeIconFile(BSTR* value) { return getText(properties_.iconFile, value); }
STDMETHODIMP TollanObject::put_ExeIconFile(BSTR value) { return putText(properties_.iconFile, value); }
STDMETHODIMP TollanObject::get_ExeUnzipCaption(BSTR* value) { return getText(properties_.caption, value); }
STDMETHODIMP TollanObject::put_ExeUnzipCaption(BSTR value) { return putText(properties_.caption, value); }
STDMETHODIMP TollanObject::get_ExeUnzipDir(BSTR* value) { return getText(properties_.unzipDir, value); }
STDMETHODIMP TollanObject::put_ExeUnzipDir(BSTR value) { return putText(properties_.unzipDir, value); }

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
