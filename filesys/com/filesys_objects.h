// The file-system helper's COM objects over the folder walk: Enumerator
// (the six settings, the one class clients create), Items (a snapshot of
// the settings whose _NewEnum starts a walk), ItemWalker (the walk as
// IEnumVARIANT) and Item (one file or folder found). Apartment-threaded:
// reference counts are plain counters; only the module count is atomic.
// Windows only.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>

#include "com/server.h"
#include "filesys/com/qvfilesys.h"  // generated from qvfilesys.idl
#include "filesys/item_walk.h"
#include "filesys/walk_settings.h"

class EnumeratorObject final : public com_server::Dispatch<IEnumerator>,
                               public ISupportErrorInfo,
                               public com_server::Aggregated<EnumeratorObject> {
public:

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP put_RootPath(BSTR value) override;
    STDMETHODIMP get_RootPath(BSTR* value) override;
    STDMETHODIMP put_NameMask(BSTR value) override;
    STDMETHODIMP get_NameMask(BSTR* value) override;
    STDMETHODIMP put_AttributeMask(FileAttributes value) override;
    STDMETHODIMP get_AttributeMask(FileAttributes* value) override;
    STDMETHODIMP put_Recurse(VARIANT_BOOL value) override;
    STDMETHODIMP get_Recurse(VARIANT_BOOL* value) override;
    STDMETHODIMP put_ExcludedFolders(BSTR value) override;
    STDMETHODIMP get_ExcludedFolders(BSTR* value) override;
    STDMETHODIMP put_ExcludedExt(BSTR value) override;
    STDMETHODIMP get_ExcludedExt(BSTR* value) override;
    STDMETHODIMP get_Items(IItems** value) override;

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

private:
    friend class com_server::Aggregated<EnumeratorObject>;
    explicit EnumeratorObject(IUnknown* outer);
    ~EnumeratorObject();
    HRESULT queryOwnInterface(REFIID riid, void** out);

    filesys::WalkSettings settings_;
};

class ItemsObject final : public com_server::Dispatch<IItems>, public ISupportErrorInfo {
public:
    // A new collection with one reference, or null when out of memory.
    static ItemsObject* create(const filesys::WalkSettings& settings);

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP get__NewEnum(IUnknown** value) override;
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

private:
    explicit ItemsObject(const filesys::WalkSettings& settings);
    ~ItemsObject();

    ULONG refs_ = 1;
    filesys::WalkSettings settings_;
};

class ItemWalkerObject final : public IEnumVARIANT {
public:
    // A new walk at its start with one reference, or null.
    static ItemWalkerObject* create(const filesys::WalkSettings& settings);

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP Next(ULONG count, VARIANT* items, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumVARIANT** out) override;

private:
    explicit ItemWalkerObject(const filesys::WalkSettings& settings);
    ~ItemWalkerObject();

    ULONG refs_ = 1;
    filesys::ItemWalk walk_;
};

class ItemObject final : public com_server::Dispatch<IItem>, public ISupportErrorInfo {
public:
    // A new item with one reference, or null.
    static ItemObject* create(const filesys::WalkItem& item);

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP get_Name(BSTR* value) override;
    STDMETHODIMP get_ShortName(BSTR* value) override;
    STDMETHODIMP get_Ext(BSTR* value) override;
    STDMETHODIMP get_Path(BSTR* value) override;
    STDMETHODIMP get_Drive(BSTR* value) override;
    STDMETHODIMP get_Dir(BSTR* value) override;
    STDMETHODIMP get_Attributes(FileAttributes* value) override;
    STDMETHODIMP get_DateCreated(VARIANT* value) override;
    STDMETHODIMP get_DateLastAccessed(VARIANT* value) override;
    STDMETHODIMP get_DateLastModified(VARIANT* value) override;
    STDMETHODIMP get_FileSizeHigh(LONG* value) override;
    STDMETHODIMP get_FileSize(LONG* value) override;
    STDMETHODIMP get_CompressedFileSizeHigh(LONG* value) override;
    STDMETHODIMP get_CompressedFileSize(LONG* value) override;
    STDMETHODIMP get_Icon(IconSize size, IDispatch** value) override;
    STDMETHODIMP get_TypeName(BSTR* value) override;

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

private:
    explicit ItemObject(const filesys::WalkItem& item);
    ~ItemObject();
    HRESULT date(int which, VARIANT* value);

    static constexpr size_t kMaxTypeName = 79;

    ULONG refs_ = 1;
    filesys::WalkItem item_;
    std::string typeName_;  // the shell's, once asked
    HICON smallIcon_ = nullptr;
    HICON largeIcon_ = nullptr;
};
