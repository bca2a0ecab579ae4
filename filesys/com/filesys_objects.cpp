#include "filesys/com/filesys_objects.h"

#include <shellapi.h>

#include <olectl.h>

#include <new>

#include "filesys/item_values.h"
#include "support/string_buffer.h"

namespace {

constexpr UINT kItemsFailureText = 1001;

// A BSTR setting as ANSI text; a null BSTR stays null.
filesys::OptionalText fromBstr(BSTR value) {
    if (!value) return std::nullopt;
    StringBuffer converted(reinterpret_cast<const char16_t*>(value));
    return std::string(converted.str());
}

HRESULT toBstr(const std::string& text, BSTR* out) {
    *out = reinterpret_cast<BSTR>(StringBuffer(text.c_str()).toBstr());
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT getSetting(const filesys::OptionalText& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return text ? toBstr(*text, out) : S_OK;
}

// Leaves an error object on the thread: the description, the ProgID
// registered for the class as the source (none for an unregistered class),
// no interface and no help file.
void setErrorObject(REFCLSID clsid, const wchar_t* description) {
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create))) return;
    LPOLESTR progId = nullptr;
    if (SUCCEEDED(ProgIDFromCLSID(clsid, &progId))) {
        create->SetSource(progId);
        CoTaskMemFree(progId);
    }
    create->SetGUID(GUID_NULL);
    create->SetDescription(const_cast<wchar_t*>(description));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
}

// A failed Items read: the text from the string table.
void reportItemsFailure() {
    wchar_t text[256];
    if (LoadStringW(com_server::module(), kItemsFailureText, text, 256) <= 0) lstrcpyW(text, L"Unknown Error");
    setErrorObject(CLSID_Enumerator, text);
}

// A failed shell request of an item: the system's text for the code.
// Returns the code, or DISP_E_EXCEPTION for 0.
HRESULT reportItemFailure(REFCLSID clsid, HRESULT code) {
    char text[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(code), 0, text, 511,
                   nullptr);
    BSTR description = reinterpret_cast<BSTR>(StringBuffer(text).toBstr());
    setErrorObject(clsid, description ? description : L"");
    SysFreeString(description);
    return code != 0 ? code : DISP_E_EXCEPTION;
}

HRESULT fromLastError(DWORD error) { return error ? HRESULT(0x80070000u | (error & 0xFFFF)) : 0; }

// QueryInterface of an object with one dual interface.
template <class Object, class Dual>
HRESULT queryDual(Object* self, const IID& own, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, own)) {
        *out = static_cast<Dual*>(self);
    } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
        *out = static_cast<ISupportErrorInfo*>(self);
    } else {
        return E_NOINTERFACE;
    }
    self->AddRef();
    return S_OK;
}

}  // namespace

// ---- Enumerator ---------------------------------------------------------------

EnumeratorObject::EnumeratorObject(IUnknown* outer) : Dispatch(IID_IEnumerator), Aggregated(outer) {
    com_server::lock();
}

EnumeratorObject::~EnumeratorObject() { com_server::unlock(); }

HRESULT EnumeratorObject::queryOwnInterface(REFIID riid, void** out) {
    if (IsEqualIID(riid, IID_IEnumerator) || IsEqualIID(riid, IID_IDispatch)) {
        *out = static_cast<IEnumerator*>(this);
    } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
        *out = static_cast<ISupportErrorInfo*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP EnumeratorObject::QueryInterface(REFIID riid, void** out) { return outer()->QueryInterface(riid, out); }
STDMETHODIMP_(ULONG) EnumeratorObject::AddRef() { return outer()->AddRef(); }
STDMETHODIMP_(ULONG) EnumeratorObject::Release() { return outer()->Release(); }

STDMETHODIMP EnumeratorObject::put_RootPath(BSTR value) {
    settings_.setRootPath(fromBstr(value));
    return S_OK;
}
STDMETHODIMP EnumeratorObject::get_RootPath(BSTR* value) { return getSetting(settings_.rootPath(), value); }

STDMETHODIMP EnumeratorObject::put_NameMask(BSTR value) {
    settings_.setNameMask(fromBstr(value));
    return S_OK;
}
STDMETHODIMP EnumeratorObject::get_NameMask(BSTR* value) { return getSetting(settings_.nameMask(), value); }

STDMETHODIMP EnumeratorObject::put_AttributeMask(FileAttributes value) {
    settings_.setAttributeMask(uint32_t(value));
    return S_OK;
}
STDMETHODIMP EnumeratorObject::get_AttributeMask(FileAttributes* value) {
    if (!value) return E_POINTER;
    *value = FileAttributes(settings_.attributeMask());
    return S_OK;
}

STDMETHODIMP EnumeratorObject::put_Recurse(VARIANT_BOOL value) {
    settings_.setRecurse(value);
    return S_OK;
}
STDMETHODIMP EnumeratorObject::get_Recurse(VARIANT_BOOL* value) {
    if (!value) return E_POINTER;
    *value = settings_.recurse();
    return S_OK;
}

STDMETHODIMP EnumeratorObject::put_ExcludedFolders(BSTR value) {
    settings_.setExcludedFolders(fromBstr(value));
    return S_OK;
}
STDMETHODIMP EnumeratorObject::get_ExcludedFolders(BSTR* value) {
    return getSetting(settings_.excludedFolders(), value);
}

STDMETHODIMP EnumeratorObject::put_ExcludedExt(BSTR value) {
    settings_.setExcludedExt(fromBstr(value));
    return S_OK;
}
STDMETHODIMP EnumeratorObject::get_ExcludedExt(BSTR* value) { return getSetting(settings_.excludedExt(), value); }

STDMETHODIMP EnumeratorObject::get_Items(IItems** value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    ItemsObject* items = ItemsObject::create(settings_);
    if (!items) {
        reportItemsFailure();
        return E_OUTOFMEMORY;
    }
    *value = items;  // the creation reference goes to the caller
    return S_OK;
}

STDMETHODIMP EnumeratorObject::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualIID(riid, IID_IEnumerator) ? S_OK : S_FALSE;
}

// ---- Items ---------------------------------------------------------------------

ItemsObject::ItemsObject(const filesys::WalkSettings& settings) : Dispatch(IID_IItems), settings_(settings) {
    com_server::lock();
}
ItemsObject::~ItemsObject() { com_server::unlock(); }

ItemsObject* ItemsObject::create(const filesys::WalkSettings& settings) {
    return new (std::nothrow) ItemsObject(settings);
}

STDMETHODIMP ItemsObject::QueryInterface(REFIID riid, void** out) {
    return queryDual<ItemsObject, IItems>(this, IID_IItems, riid, out);
}
STDMETHODIMP_(ULONG) ItemsObject::AddRef() { return ++refs_; }
STDMETHODIMP_(ULONG) ItemsObject::Release() {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

STDMETHODIMP ItemsObject::get__NewEnum(IUnknown** value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    ItemWalkerObject* walker = ItemWalkerObject::create(settings_);
    if (!walker) return E_OUTOFMEMORY;
    *value = walker;
    return S_OK;
}

STDMETHODIMP ItemsObject::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualIID(riid, IID_IItems) ? S_OK : S_FALSE;
}

// ---- ItemWalker ----------------------------------------------------------------

ItemWalkerObject::ItemWalkerObject(const filesys::WalkSettings& settings) : walk_(settings) { com_server::lock(); }
ItemWalkerObject::~ItemWalkerObject() { com_server::unlock(); }

ItemWalkerObject* ItemWalkerObject::create(const filesys::WalkSettings& settings) {
    return new (std::nothrow) ItemWalkerObject(settings);
}

STDMETHODIMP ItemWalkerObject::QueryInterface(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IEnumVARIANT)) return E_NOINTERFACE;
    *out = static_cast<IEnumVARIANT*>(this);
    AddRef();
    return S_OK;
}
STDMETHODIMP_(ULONG) ItemWalkerObject::AddRef() { return ++refs_; }
STDMETHODIMP_(ULONG) ItemWalkerObject::Release() {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

STDMETHODIMP ItemWalkerObject::Next(ULONG count, VARIANT* items, ULONG* fetched) {
    if (fetched) *fetched = 0;
    if (count == 0) return S_OK;
    if (!items) return E_POINTER;
    ULONG filled = 0;
    filesys::WalkItem found;
    while (filled < count && walk_.next(&found)) {
        ItemObject* item = ItemObject::create(found);
        if (!item) {
            if (fetched) *fetched = filled;
            return E_OUTOFMEMORY;
        }
        VARIANT& slot = items[filled];
        VariantInit(&slot);
        V_VT(&slot) = VT_DISPATCH;
        V_DISPATCH(&slot) = static_cast<IItem*>(item);  // the creation reference
        ++filled;
    }
    if (fetched) *fetched = filled;
    return filled == count ? S_OK : S_FALSE;
}

STDMETHODIMP ItemWalkerObject::Skip(ULONG count) {
    for (ULONG i = 0; i < count; ++i) {
        VARIANT scratch;
        VariantInit(&scratch);
        HRESULT hr = Next(1, &scratch, nullptr);
        VariantClear(&scratch);
        if (hr != S_OK) return hr;
    }
    return S_OK;
}

STDMETHODIMP ItemWalkerObject::Reset() {
    walk_.reset();
    return S_OK;
}

STDMETHODIMP ItemWalkerObject::Clone(IEnumVARIANT** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return E_NOTIMPL;
}

// ---- Item ----------------------------------------------------------------------

ItemObject::ItemObject(const filesys::WalkItem& item) : Dispatch(IID_IItem), item_(item) { com_server::lock(); }
ItemObject::~ItemObject() {
    if (smallIcon_) DestroyIcon(smallIcon_);
    if (largeIcon_) DestroyIcon(largeIcon_);
    com_server::unlock();
}

ItemObject* ItemObject::create(const filesys::WalkItem& item) { return new (std::nothrow) ItemObject(item); }

STDMETHODIMP ItemObject::QueryInterface(REFIID riid, void** out) {
    return queryDual<ItemObject, IItem>(this, IID_IItem, riid, out);
}
STDMETHODIMP_(ULONG) ItemObject::AddRef() { return ++refs_; }
STDMETHODIMP_(ULONG) ItemObject::Release() {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

#define ITEM_TEXT(Property, expression)                   \
    STDMETHODIMP ItemObject::get_##Property(BSTR* value) { \
        if (!value) return E_POINTER;                      \
        *value = nullptr;                                  \
        return toBstr(expression, value);                  \
    }

ITEM_TEXT(Name, filesys::itemName(item_))
ITEM_TEXT(ShortName, filesys::itemShortName(&item_.record))
ITEM_TEXT(Ext, filesys::itemExt(item_))
ITEM_TEXT(Path, filesys::itemPath(item_))
ITEM_TEXT(Drive, filesys::itemDrive(item_))
ITEM_TEXT(Dir, filesys::itemDir(item_))
#undef ITEM_TEXT

STDMETHODIMP ItemObject::get_Attributes(FileAttributes* value) {
    if (!value) return E_POINTER;
    *value = FileAttributes(filesys::itemAttributes(item_));
    return S_OK;
}

HRESULT ItemObject::date(int which, VARIANT* value) {
    if (!value) return E_POINTER;
    VariantInit(value);
    V_VT(value) = VT_DATE;
    V_DATE(value) = 0;
    return filesys::itemDate(item_, filesys::ItemTime(which), &V_DATE(value)) ? S_OK : E_FAIL;
}

STDMETHODIMP ItemObject::get_DateCreated(VARIANT* value) { return date(int(filesys::ItemTime::Created), value); }
STDMETHODIMP ItemObject::get_DateLastAccessed(VARIANT* value) {
    return date(int(filesys::ItemTime::LastAccessed), value);
}
STDMETHODIMP ItemObject::get_DateLastModified(VARIANT* value) {
    return date(int(filesys::ItemTime::LastModified), value);
}

STDMETHODIMP ItemObject::get_FileSizeHigh(LONG* value) {
    if (!value) return E_POINTER;
    *value = LONG(filesys::itemFileSizeHigh(item_));
    return S_OK;
}

STDMETHODIMP ItemObject::get_FileSize(LONG* value) {
    if (!value) return E_POINTER;
    *value = LONG(filesys::itemFileSize(item_));
    return S_OK;
}

STDMETHODIMP ItemObject::get_CompressedFileSizeHigh(LONG* value) { return value ? E_NOTIMPL : E_POINTER; }
STDMETHODIMP ItemObject::get_CompressedFileSize(LONG* value) { return value ? E_NOTIMPL : E_POINTER; }

// The item keeps one shell icon per size for its life; every picture gets
// a copy of its own, so a picture that outlives the item still draws.
STDMETHODIMP ItemObject::get_Icon(IconSize size, IDispatch** value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    bool small = size == qvSmall_16x16;
    HICON& icon = small ? smallIcon_ : largeIcon_;
    if (!icon) {
        SHFILEINFOA info = {};
        UINT flags = SHGFI_ICON | (small ? SHGFI_SMALLICON : 0);
        if (!SHGetFileInfoA(filesys::itemPath(item_).c_str(), 0, &info, sizeof info, flags) || !info.hIcon) {
            reportItemFailure(CLSID_Item, fromLastError(GetLastError()));
            return S_OK;  // no picture
        }
        icon = info.hIcon;
    }
    PICTDESC desc = {};
    desc.cbSizeofstruct = sizeof desc;
    desc.picType = PICTYPE_ICON;
    desc.icon.hicon = CopyIcon(icon);
    if (!desc.icon.hicon) return reportItemFailure(CLSID_Item, fromLastError(GetLastError()));
    IPicture* picture = nullptr;
    HRESULT hr = OleCreatePictureIndirect(&desc, IID_IPicture, TRUE, reinterpret_cast<void**>(&picture));
    if (FAILED(hr)) {
        DestroyIcon(desc.icon.hicon);
        return reportItemFailure(CLSID_Item, hr);
    }
    hr = picture->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(value));
    picture->Release();
    return hr;
}

// Asked of the shell on first use; an empty answer is not kept, so the
// next read asks again.
STDMETHODIMP ItemObject::get_TypeName(BSTR* value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    if (typeName_.empty()) {
        SHFILEINFOA info = {};
        SetLastError(0);
        if (!SHGetFileInfoA(filesys::itemPath(item_).c_str(), 0, &info, sizeof info, SHGFI_TYPENAME)) {
            HRESULT code = fromLastError(GetLastError());
            if (code != 0) return reportItemFailure(CLSID_Item, code);
        }
        typeName_.assign(info.szTypeName, strnlen(info.szTypeName, kMaxTypeName));
    }
    return toBstr(typeName_, value);
}

STDMETHODIMP ItemObject::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualIID(riid, IID_IItem) ? S_OK : S_FALSE;
}
