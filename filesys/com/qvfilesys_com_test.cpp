// The file-system helper DLL as an early-bound COM client sees it: loaded
// from its file and registered, the Enumerator created by ProgID, its
// settings, the walk through IEnumVARIANT over a prepared folder tree, the
// items' values, the class object's refusals, the module count,
// unregistration and the type library the DLL carries, read back.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "filesys/com/qvfilesys.h"

namespace {

using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using NoArgFn = HRESULT(WINAPI*)();

template <class Fn>
Fn exported(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

HMODULE g_module = nullptr;
GetClassObjectFn g_getClassObject = nullptr;
NoArgFn g_canUnloadNow = nullptr;
std::string g_root;  // the prepared tree, with a trailing "\"

void writeFile(const std::string& path, size_t size) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    std::string data(size, 'x');
    DWORD written = 0;
    WriteFile(h, data.data(), DWORD(size), &written, nullptr);
    // 2000-01-01 12:00:00.750 UTC as the last write.
    SYSTEMTIME t = {2000, 1, 6, 1, 12, 0, 0, 750};
    FILETIME ft;
    SystemTimeToFileTime(&t, &ft);
    SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
}

// Registered DLL beside the program, and a tree of five .txt files, one
// .log and a subfolder with one more .txt.
class ComEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        wchar_t self[MAX_PATH];
        DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring dir(self, n);
        dir.erase(dir.find_last_of(L"\\/") + 1);
        g_module = LoadLibraryW((dir + L"qvFileSys.dll").c_str());
        ASSERT_NE(g_module, nullptr) << "qvFileSys.dll beside the test program";
        g_getClassObject = exported<GetClassObjectFn>(g_module, "DllGetClassObject");
        g_canUnloadNow = exported<NoArgFn>(g_module, "DllCanUnloadNow");
        ASSERT_EQ(exported<NoArgFn>(g_module, "DllRegisterServer")(), S_OK);

        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        g_root = std::string(temp) + "qvfilesys-com-" + std::to_string(GetCurrentProcessId()) + "\\";
        ASSERT_TRUE(CreateDirectoryA(g_root.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((g_root + "sub").c_str(), nullptr));
        for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"}) writeFile(g_root + name, 3);
        writeFile(g_root + "f.log", 1);
        writeFile(g_root + "sub\\g.txt", 1234);
    }
    void TearDown() override {
        for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt", "f.log", "sub\\g.txt"})
            DeleteFileA((g_root + name).c_str());
        RemoveDirectoryA((g_root + "sub").c_str());
        RemoveDirectoryA(g_root.c_str());
        CoUninitialize();
    }
};

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string narrow(BSTR b) {
    std::string s;
    for (UINT i = 0; b && i < SysStringLen(b); ++i) s.push_back(char(b[i]));
    return s;
}

IEnumerator* createByProgId(const wchar_t* progId) {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(progId, &clsid))) return nullptr;
    IEnumerator* e = nullptr;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IEnumerator, reinterpret_cast<void**>(&e));
    return e;
}

// A walker over the prepared tree with a mask, recursion off.
IEnumVARIANT* walker(IEnumerator* e, const wchar_t* mask) {
    BSTR root = SysAllocString(wide(g_root).c_str());
    BSTR m = SysAllocString(mask);
    e->put_RootPath(root);
    e->put_NameMask(m);
    e->put_Recurse(VARIANT_FALSE);
    SysFreeString(root);
    SysFreeString(m);
    IItems* items = nullptr;
    if (e->get_Items(&items) != S_OK) return nullptr;
    IUnknown* unknown = nullptr;
    items->get__NewEnum(&unknown);
    items->Release();
    IEnumVARIANT* walk = nullptr;
    if (unknown) unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&walk));
    if (unknown) unknown->Release();
    return walk;
}

std::string nameOf(VARIANT& v) {
    IItem* item = nullptr;
    if (V_VT(&v) != VT_DISPATCH || FAILED(V_DISPATCH(&v)->QueryInterface(IID_IItem, reinterpret_cast<void**>(&item))))
        return "?";
    BSTR b = nullptr;
    item->get_Name(&b);
    item->Release();
    std::string s = narrow(b);
    SysFreeString(b);
    return s;
}

// The first item of a walk over the prepared tree, all else released.
IItem* firstItem(const wchar_t* mask) {
    IEnumerator* e = createByProgId(L"QVFileSys.Enumerator");
    if (!e) return nullptr;
    IEnumVARIANT* walk = walker(e, mask);
    e->Release();
    if (!walk) return nullptr;
    VARIANT v;
    VariantInit(&v);
    HRESULT hr = walk->Next(1, &v, nullptr);
    walk->Release();
    IItem* item = nullptr;
    if (hr == S_OK) V_DISPATCH(&v)->QueryInterface(IID_IItem, reinterpret_cast<void**>(&item));
    VariantClear(&v);
    return item;
}

TEST(QvFileSysCom, BothProgIdsCreateTheEnumerator) {
    for (const wchar_t* progId : {L"QVFileSys.Enumerator", L"QVFileSys.Enumerator.1"}) {
        CLSID clsid;
        ASSERT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
        EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Enumerator));
        IEnumerator* e = createByProgId(progId);
        ASSERT_NE(e, nullptr);
        e->Release();
    }
}

TEST(QvFileSysCom, SettingsReadBackAsStored) {
    IEnumerator* e = createByProgId(L"QVFileSys.Enumerator");
    ASSERT_NE(e, nullptr);
    FileAttributes mask = FileAttributes(0);
    VARIANT_BOOL recurse = 0;
    EXPECT_EQ(e->get_AttributeMask(&mask), S_OK);
    EXPECT_EQ(mask, qvfAll);
    EXPECT_EQ(e->get_Recurse(&recurse), S_OK);
    EXPECT_EQ(recurse, 1);  // until written
    e->put_Recurse(VARIANT_TRUE);
    e->get_Recurse(&recurse);
    EXPECT_EQ(recurse, VARIANT_TRUE);
    e->put_AttributeMask(FileAttributes(0x12345));  // not validated
    e->get_AttributeMask(&mask);
    EXPECT_EQ(int(mask), 0x12345);

    using Put = HRESULT (STDMETHODCALLTYPE IEnumerator::*)(BSTR);
    using Get = HRESULT (STDMETHODCALLTYPE IEnumerator::*)(BSTR*);
    struct Case {
        Put put;
        Get get;
        const wchar_t* written;  // null: a null BSTR
        const char* readBack;    // null: a null BSTR
    };
    const Case cases[] = {
        {&IEnumerator::put_RootPath, &IEnumerator::get_RootPath, nullptr, nullptr},
        {&IEnumerator::put_RootPath, &IEnumerator::get_RootPath, L"C:\\data\\", "C:\\data\\"},
        {&IEnumerator::put_NameMask, &IEnumerator::get_NameMask, L"*.txt", "*.txt"},
        {&IEnumerator::put_ExcludedExt, &IEnumerator::get_ExcludedExt, nullptr, nullptr},
        {&IEnumerator::put_ExcludedExt, &IEnumerator::get_ExcludedExt, L"tmp:bak", "tmp:bak:"},
        {&IEnumerator::put_ExcludedExt, &IEnumerator::get_ExcludedExt, L"", ":"},
        {&IEnumerator::put_ExcludedFolders, &IEnumerator::get_ExcludedFolders, L"temp", "temp:"},
        {&IEnumerator::put_ExcludedFolders, &IEnumerator::get_ExcludedFolders, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        BSTR in = c.written ? SysAllocString(c.written) : nullptr;
        EXPECT_EQ((e->*c.put)(in), S_OK);
        SysFreeString(in);
        BSTR out = reinterpret_cast<BSTR>(1);
        EXPECT_EQ((e->*c.get)(&out), S_OK);
        if (c.readBack) {
            EXPECT_EQ(narrow(out), c.readBack);
        } else {
            EXPECT_EQ(out, nullptr);
        }
        SysFreeString(out);
        EXPECT_EQ((e->*c.get)(nullptr), E_POINTER);
    }
    EXPECT_EQ(e->get_AttributeMask(nullptr), E_POINTER);
    EXPECT_EQ(e->get_Recurse(nullptr), E_POINTER);
    EXPECT_EQ(e->get_Items(nullptr), E_POINTER);
    e->Release();
}

TEST(QvFileSysCom, NextSkipResetAndClone) {
    IEnumerator* e = createByProgId(L"QVFileSys.Enumerator");
    ASSERT_NE(e, nullptr);
    IEnumVARIANT* walk = walker(e, L"*.txt");
    ASSERT_NE(walk, nullptr);
    e->Release();

    // Next with 1, then 5 with four left, then past the end.
    struct Step {
        ULONG count;
        HRESULT result;
        ULONG fetched;
    };
    const Step steps[] = {{1, S_OK, 1}, {5, S_FALSE, 4}, {1, S_FALSE, 0}, {0, S_OK, 0}};
    std::set<std::string> names;
    for (const Step& s : steps) {
        VARIANT v[5];
        ULONG fetched = 99;
        EXPECT_EQ(walk->Next(s.count, v, &fetched), s.result) << s.count;
        EXPECT_EQ(fetched, s.fetched) << s.count;
        for (ULONG i = 0; i < fetched && i < 5; ++i) {
            names.insert(nameOf(v[i]));
            VariantClear(&v[i]);
        }
    }
    EXPECT_EQ(names, (std::set<std::string>{"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"}));

    EXPECT_EQ(walk->Reset(), S_OK);
    EXPECT_EQ(walk->Skip(3), S_OK);
    EXPECT_EQ(walk->Skip(5), S_FALSE);  // two were left
    EXPECT_EQ(walk->Skip(0), S_OK);
    EXPECT_EQ(walk->Reset(), S_OK);
    VARIANT v[5];
    ULONG fetched = 0;
    EXPECT_EQ(walk->Next(5, v, &fetched), S_OK);
    EXPECT_EQ(fetched, 5u);
    for (VARIANT& x : v) VariantClear(&x);

    IEnumVARIANT* clone = reinterpret_cast<IEnumVARIANT*>(1);
    EXPECT_EQ(walk->Clone(&clone), E_NOTIMPL);
    EXPECT_EQ(clone, nullptr);
    EXPECT_EQ(walk->Clone(nullptr), E_POINTER);
    IDispatch* dispatch = reinterpret_cast<IDispatch*>(1);
    EXPECT_EQ(walk->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), E_NOINTERFACE);
    EXPECT_EQ(dispatch, nullptr);
    walk->Release();
}

TEST(QvFileSysCom, ItemValuesAndTheModuleCount) {
    IItem* item = firstItem(L"c.txt");
    ASSERT_NE(item, nullptr);

    // Only the item is left, and it keeps the server loaded.
    EXPECT_EQ(g_canUnloadNow(), S_FALSE);

    using Text = HRESULT (STDMETHODCALLTYPE IItem::*)(BSTR*);
    struct TextCase {
        Text get;
        std::string expected;
    };
    const TextCase texts[] = {
        {&IItem::get_Name, "c.txt"},
        {&IItem::get_Ext, ".txt"},
        {&IItem::get_Path, g_root + "c.txt"},
        {&IItem::get_Drive, g_root.substr(0, 2)},
        {&IItem::get_Dir, g_root.substr(2)},
    };
    for (const TextCase& c : texts) {
        BSTR b = nullptr;
        EXPECT_EQ((item->*c.get)(&b), S_OK);
        EXPECT_EQ(narrow(b), c.expected);
        SysFreeString(b);
        EXPECT_EQ((item->*c.get)(nullptr), E_POINTER);
    }
    LONG size = 0;
    EXPECT_EQ(item->get_FileSize(&size), S_OK);
    EXPECT_EQ(size, 3);
    EXPECT_EQ(item->get_FileSizeHigh(&size), S_OK);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(item->get_CompressedFileSize(&size), E_NOTIMPL);
    EXPECT_EQ(item->get_CompressedFileSizeHigh(&size), E_NOTIMPL);
    EXPECT_EQ(item->get_CompressedFileSize(nullptr), E_POINTER);
    FileAttributes attributes = FileAttributes(0);
    EXPECT_EQ(item->get_Attributes(&attributes), S_OK);
    EXPECT_EQ(attributes & qvfDirectory, 0);
    VARIANT date;
    EXPECT_EQ(item->get_DateLastModified(&date), S_OK);
    EXPECT_EQ(V_VT(&date), VT_DATE);
    EXPECT_EQ(V_DATE(&date), 36526.5);  // midday UTC, milliseconds dropped
    EXPECT_EQ(item->get_DateCreated(nullptr), E_POINTER);

    // The shell's type name, the same on the second read.
    BSTR type1 = nullptr, type2 = nullptr;
    EXPECT_EQ(item->get_TypeName(&type1), S_OK);
    EXPECT_EQ(item->get_TypeName(&type2), S_OK);
    EXPECT_FALSE(narrow(type1).empty());
    EXPECT_EQ(narrow(type1), narrow(type2));
    SysFreeString(type1);
    SysFreeString(type2);
    EXPECT_EQ(item->get_TypeName(nullptr), E_POINTER);

    // Icons: 16 the small one, any other size the large one; each picture
    // still draws after the item is gone.
    struct IconCase {
        IconSize size;
        OLE_XSIZE_HIMETRIC width;  // of the picture, in HIMETRIC
    };
    OLE_XSIZE_HIMETRIC small = MulDiv(16, 2540, 96), large = MulDiv(32, 2540, 96);
    const IconCase icons[] = {{qvSmall_16x16, small}, {qvBig_32x32, large}, {IconSize(48), large}};
    for (const IconCase& c : icons) {
        IDispatch* dispatch = nullptr;
        ASSERT_EQ(item->get_Icon(c.size, &dispatch), S_OK);
        ASSERT_NE(dispatch, nullptr);
        IPicture* picture = nullptr;
        ASSERT_EQ(dispatch->QueryInterface(IID_IPicture, reinterpret_cast<void**>(&picture)), S_OK);
        OLE_XSIZE_HIMETRIC width = 0;
        SHORT type = 0;
        picture->get_Width(&width);
        picture->get_Type(&type);
        EXPECT_EQ(type, PICTYPE_ICON);
        EXPECT_NEAR(width, c.width, 30) << int(c.size);
        picture->Release();
        dispatch->Release();
    }
    EXPECT_EQ(item->get_Icon(qvBig_32x32, nullptr), E_POINTER);
    IDispatch* survivor = nullptr;
    ASSERT_EQ(item->get_Icon(qvSmall_16x16, &survivor), S_OK);

    // Late-bound: Path under another case, through the type information.
    LPOLESTR name = const_cast<LPOLESTR>(L"PATH");
    DISPID id = 0;
    ASSERT_EQ(item->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 3);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(item->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(narrow(V_BSTR(&result)), g_root + "c.txt");
    VariantClear(&result);

    item->Release();
    EXPECT_EQ(g_canUnloadNow(), S_OK);

    // The picture's icon is its own, alive after the item is gone.
    IPicture* picture = nullptr;
    ASSERT_EQ(survivor->QueryInterface(IID_IPicture, reinterpret_cast<void**>(&picture)), S_OK);
    OLE_HANDLE handle = 0;
    EXPECT_EQ(picture->get_Handle(&handle), S_OK);
    ICONINFO info = {};
    EXPECT_TRUE(GetIconInfo(reinterpret_cast<HICON>(static_cast<UINT_PTR>(handle)), &info));
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    picture->Release();
    survivor->Release();
}

// An item whose file is gone by the time its type name is asked for.
TEST(QvFileSysCom, TypeNameOfAVanishedFileFailsWithErrorInfo) {
    writeFile(g_root + "gone.txt", 1);
    IItem* item = firstItem(L"gone.txt");
    ASSERT_NE(item, nullptr);
    ASSERT_TRUE(DeleteFileA((g_root + "gone.txt").c_str()));
    SetErrorInfo(0, nullptr);
    BSTR type = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(item->get_TypeName(&type), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(type, nullptr);
    // The error object: the system's text for the code, no source (the
    // Item class is not registered).
    IErrorInfo* error = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &error), S_OK);
    ASSERT_NE(error, nullptr);
    BSTR description = nullptr, source = nullptr;
    error->GetDescription(&description);
    error->GetSource(&source);
    char system[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   DWORD(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)), 0, system, 511, nullptr);
    EXPECT_FALSE(narrow(description).empty());
    EXPECT_EQ(narrow(description), system);
    EXPECT_EQ(SysStringLen(source), 0u);
    SysFreeString(description);
    SysFreeString(source);
    error->Release();
    item->Release();
}

TEST(QvFileSysCom, ErrorInfoIsSupportedForTheOwnInterfaceOnly) {
    IEnumerator* e = createByProgId(L"QVFileSys.Enumerator");
    ASSERT_NE(e, nullptr);
    IItems* items = nullptr;
    ASSERT_EQ(e->get_Items(&items), S_OK);
    struct Case {
        IUnknown* object;
        const IID* own;
    };
    const Case cases[] = {{e, &IID_IEnumerator}, {items, &IID_IItems}};
    for (const Case& c : cases) {
        ISupportErrorInfo* support = nullptr;
        ASSERT_EQ(c.object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)), S_OK);
        EXPECT_EQ(support->InterfaceSupportsErrorInfo(*c.own), S_OK);
        EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
        support->Release();
    }
    items->Release();
    e->Release();
}

TEST(QvFileSysCom, ClassObjectRefusals) {
    IClassFactory* factory = reinterpret_cast<IClassFactory*>(1);
    struct Case {
        const CLSID* clsid;
        HRESULT result;
    };
    const Case cases[] = {{&CLSID_Items, CLASS_E_CLASSNOTAVAILABLE},
                          {&CLSID_Item, CLASS_E_CLASSNOTAVAILABLE},
                          {&CLSID_Enumerator, S_OK}};
    for (const Case& c : cases) {
        factory = reinterpret_cast<IClassFactory*>(1);
        EXPECT_EQ(g_getClassObject(*c.clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), c.result);
        if (c.result != S_OK) {
            EXPECT_EQ(factory, nullptr);
        }
    }
    EXPECT_EQ(g_getClassObject(CLSID_Enumerator, IID_IClassFactory, nullptr), E_POINTER);
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(g_canUnloadNow(), S_FALSE);  // a held class object counts

    IUnknown* outer = factory;  // any object will do as the would-be outer
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(outer, IID_IEnumerator, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    factory->Release();
    EXPECT_EQ(g_canUnloadNow(), S_OK);
}

// The type library in the DLL, read back as any client reads it.
struct Member {  // one function of an interface, in virtual table order
    INVOKEKIND kind;
    MEMBERID id;
    SHORT params;          // the result parameter included
    WORD flags;
    const wchar_t* names;  // GetNames of the id, space-separated
    const wchar_t* help;   // null: none
};
struct Constant {
    const wchar_t* name;
    LONG value;
    const wchar_t* help;  // null: none
};
struct Type {
    const wchar_t* name;
    TYPEKIND kind;
    const wchar_t* guid;  // null: none
    WORD flags;
    const wchar_t* help;
    const wchar_t* base;  // the interface derived from, or a class's default one
    std::vector<Member> members;
    std::vector<Constant> constants;
};

std::wstring text(BSTR b) { return b ? std::wstring(b, SysStringLen(b)) : L"(none)"; }
std::wstring text(const wchar_t* s) { return s ? s : L"(none)"; }

std::wstring nameOfType(ITypeInfo* info, HREFTYPE ref) {
    ITypeInfo* other = nullptr;
    BSTR name = nullptr;
    if (SUCCEEDED(info->GetRefTypeInfo(ref, &other))) {
        other->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
        other->Release();
    }
    std::wstring s = text(name);
    SysFreeString(name);
    return s;
}

std::vector<Type> expectedTypes() {
    const WORD dual = TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE;  // the dispatch view's
    const INVOKEKIND put = INVOKE_PROPERTYPUT, get = INVOKE_PROPERTYGET;
    struct Setting {
        const wchar_t* name;
        const wchar_t* help;
    };
    const Setting settings[] = {
        {L"RootPath", L"Returns or sets root path for this enumerator"},
        {L"NameMask", L"Returns or sets file/directory name mask"},
        {L"AttributeMask", L"Enumerator matches items that have any attribute specified in the AttributeMask property"},
        {L"Recurse", L"Returns or sets recurse flag"},
        {L"ExcludedFolders", L"Returns or sets folders that are not enumerated"},
        {L"ExcludedExt", L"Returns or sets file extensions that are not enumerated"},
    };
    std::vector<Member> enumerator;  // a write entry, then a read entry
    for (const Setting& s : settings) {
        MEMBERID id = MEMBERID(enumerator.size() / 2 + 1);
        enumerator.push_back({put, id, 1, 0, s.name, s.help});
        enumerator.push_back({get, id, 1, 0, s.name, s.help});
    }
    enumerator.push_back({get, 7, 1, 0, L"Items res", L"Returns collection of file system items"});
    const std::vector<Member> item = {
        {get, 0, 1, 0, L"Name res", L"Returns item's name"},
        {get, 1, 1, 0, L"ShortName res", L"Returns file name in the classic 8.3 (filename.ext) filename format"},
        {get, 2, 1, 0, L"Ext res", L"Returns file name extension"},
        {get, 3, 1, 0, L"path res", L"Returns full path with file name and extension"},  // as RootPath's parameter
        {get, 4, 1, 0, L"Drive res", L"Returns drive letter, followed by a colon (:)"},
        {get, 5, 1, 0, L"Dir res", L"Returns directory path, including trailing slash"},
        {get, 6, 1, 0, L"Attributes res", L"Returns the file attributes"},
        {get, 7, 1, 0, L"DateCreated res", L"Returns the time the file was created."},
        {get, 8, 1, 0, L"DateLastAccessed res", L"Returns the time that the file was last accessed."},
        {get, 9, 1, 0, L"DateLastModified res", L"Returns time that the file was last written to."},
        {get, 10, 1, 0, L"FileSizeHigh res", L"Returns the high-order value of the file size, in bytes."},
        {get, 11, 1, 0, L"FileSize res", L"Returns the low-order value of the file size, in bytes."},
        {get, 12, 1, 0, L"CompressedFileSizeHigh res",
         L"Returns the high-order value of the the actual number of bytes of disk storage used to store a specified file."},
        {get, 13, 1, 0, L"CompressedFileSize res",
         L"Returns the low-order value of the the actual number of bytes of disk storage used to store a specified file."},
        {get, 15, 2, 0, L"Icon size Icon", L"Returns icon that represents the file."},
        {get, 16, 1, 0, L"TypeName res", L"Returns the string that describes the file's type."},
    };
    const std::vector<Constant> attributes = {
        {L"qvfArchive", 32, L"The file or directory is an archive file or directory. Applications use this attribute to mark files for backup or removal."},
        {L"qvfCompressed", 2048, L"The file or directory is compressed. For a file, this means that all of the data in the file is compressed. For a directory, this means that compression is the default for newly created files and subdirectories."},
        {L"qvfDirectory", 16, L"The item identifies a directory."},
        {L"qvfEncrypted", 64, L"The file or directory is encrypted. For a file, this means that all data streams are encrypted. For a directory, this means that encryption is the default for newly created files and subdirectories."},
        {L"qvfHidden", 2, L"The file or directory is hidden. It is not included in an ordinary directory listing."},
        {L"qvfNormal", 128, L"The file or directory has no other attributes set. This attribute is valid only if used alone."},
        {L"qvfOffline", 4096, L"The file data is not immediately available. Indicates that the file data has been physically moved to offline storage."},
        {L"qvfReadOnly", 1, L"The file or directory is read-only. Applications can read the file but cannot write to it or delete it. In the case of a directory, applications cannot delete it."},
        {L"qvfReparsePoint", 1024, L"The file has an associated reparse point."},
        {L"qvfSparseFile", 512, L"The file is a sparse file."},
        {L"qvfSystem", 4, L"The file or directory is part of the operating system or is used exclusively by the operating system."},
        {L"qvfTemporary", 256, L"The file is being used for temporary storage. File systems attempt to keep all of the data in memory for quicker access, rather than flushing it back to mass storage. A temporary file should be deleted by the application as soon as it is no longer needed."},
        {L"qvfAll", 8183, L"All flags."},
    };
    return {
        {L"IEnumerator", TKIND_DISPATCH, L"{F6D331E5-3AAD-11D2-9889-204C4F4F5020}", dual, L"IEnumerator Interface",
         L"IDispatch", enumerator, {}},
        {L"IItems", TKIND_DISPATCH, L"{AC1ECC62-3AA9-11D2-9889-204C4F4F5020}", dual, L"IItems Interface", L"IDispatch",
         {{get, DISPID_NEWENUM, 1, FUNCFLAG_FRESTRICTED, L"_NewEnum res", nullptr}}, {}},
        {L"IItem", TKIND_DISPATCH, L"{F6D331E7-3AAD-11D2-9889-204C4F4F5020}", dual, L"IItem Interface", L"IDispatch",
         item, {}},
        {L"Enumerator", TKIND_COCLASS, L"{F6D331E6-3AAD-11D2-9889-204C4F4F5020}", TYPEFLAG_FCANCREATE,
         L"File System Enumerator Object", L"IEnumerator", {}, {}},
        {L"Items", TKIND_COCLASS, L"{AC1ECC63-3AA9-11D2-9889-204C4F4F5020}", 0, L"File System Items Collection",
         L"IItems", {}, {}},
        {L"Item", TKIND_COCLASS, L"{F6D331E8-3AAD-11D2-9889-204C4F4F5020}", 0, L"File System Item", L"IItem", {}, {}},
        {L"FileAttributes", TKIND_ENUM, nullptr, 0, nullptr, nullptr, {}, attributes},
        {L"IconSize", TKIND_ENUM, nullptr, 0, nullptr, nullptr, {},
         {{L"qvSmall_16x16", 16, nullptr}, {L"qvBig_32x32", 32, nullptr}}},
    };
}

void checkMembers(ITypeInfo* dispatch, const Type& t) {
    // The interface's own view, flagged for OLE Automation, lists its
    // members after IDispatch's seven.
    HREFTYPE ref = 0;
    ITypeInfo* info = nullptr;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(-1, &ref), S_OK) << t.name;
    ASSERT_EQ(dispatch->GetRefTypeInfo(ref, &info), S_OK) << t.name;
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE) << t.name;
    EXPECT_EQ(attr->wTypeFlags, t.flags | TYPEFLAG_FOLEAUTOMATION) << t.name;
    EXPECT_EQ(size_t(attr->cFuncs), t.members.size()) << t.name;
    for (UINT i = 0; i < attr->cFuncs && i < t.members.size(); ++i) {
        const Member& m = t.members[i];
        FUNCDESC* f = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &f), S_OK);
        BSTR names[4] = {};
        UINT count = 0;
        info->GetNames(f->memid, names, 4, &count);
        std::wstring joined;
        for (UINT n = 0; n < count; ++n) joined += (n ? L" " : L"") + text(names[n]);
        BSTR help = nullptr;
        info->GetDocumentation(f->memid, nullptr, &help, nullptr, nullptr);
        EXPECT_EQ(joined, m.names) << t.name << " #" << i;
        EXPECT_EQ(f->memid, m.id) << joined;
        EXPECT_EQ(f->invkind, m.kind) << joined;
        EXPECT_EQ(f->cParams, m.params) << joined;
        EXPECT_EQ(f->wFuncFlags, m.flags) << joined;
        EXPECT_EQ(f->oVft, SHORT((7 + i) * sizeof(void*))) << joined;
        EXPECT_EQ(text(help), text(m.help)) << joined;
        if (m.params == 2) {  // Icon: the size as an IconSize, going in
            EXPECT_EQ(f->lprgelemdescParam[0].tdesc.vt, VT_USERDEFINED);
            EXPECT_EQ(f->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FIN);
            EXPECT_EQ(nameOfType(info, f->lprgelemdescParam[0].tdesc.hreftype), L"IconSize");
        }
        for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
        SysFreeString(help);
        info->ReleaseFuncDesc(f);
    }
    info->ReleaseTypeAttr(attr);
    info->Release();
}

void checkConstants(ITypeInfo* info, const Type& t) {
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(size_t(attr->cVars), t.constants.size()) << t.name;
    for (UINT i = 0; i < attr->cVars && i < t.constants.size(); ++i) {
        const Constant& c = t.constants[i];
        VARDESC* v = nullptr;
        ASSERT_EQ(info->GetVarDesc(i, &v), S_OK);
        BSTR name = nullptr, help = nullptr;
        info->GetDocumentation(v->memid, &name, &help, nullptr, nullptr);
        EXPECT_EQ(text(name), c.name) << t.name << " #" << i;
        EXPECT_EQ(text(help), text(c.help)) << c.name;
        ASSERT_EQ(v->varkind, VAR_CONST) << c.name;
        EXPECT_EQ(V_VT(v->lpvarValue), VT_I4) << c.name;
        EXPECT_EQ(V_I4(v->lpvarValue), c.value) << c.name;
        SysFreeString(name);
        SysFreeString(help);
        info->ReleaseVarDesc(v);
    }
    info->ReleaseTypeAttr(attr);
}

TEST(QvFileSysCom, TypeLibraryReadsBackAsDeclared) {
    wchar_t path[MAX_PATH];
    ASSERT_NE(GetModuleFileNameW(g_module, path, MAX_PATH), 0u);
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadTypeLibEx(path, REGKIND_NONE, &lib), S_OK);
    TLIBATTR* libAttr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&libAttr), S_OK);
    GUID libId;
    CLSIDFromString(L"{AC1ECC53-3AA9-11D2-9889-204C4F4F5020}", &libId);
    EXPECT_TRUE(IsEqualGUID(libAttr->guid, libId));
    EXPECT_EQ(libAttr->wMajorVerNum, 1);
    EXPECT_EQ(libAttr->wMinorVerNum, 0);
    EXPECT_EQ(libAttr->lcid, 0x0409u);
    lib->ReleaseTLibAttr(libAttr);
    BSTR name = nullptr, help = nullptr, helpFile = nullptr;
    DWORD context = 99;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, &help, &context, &helpFile), S_OK);
    EXPECT_EQ(text(name), L"QVFileSys");
    EXPECT_EQ(text(help), L"Quiver File System Helpers");
    EXPECT_EQ(text(helpFile), L"qvFileSys.chm");
    EXPECT_EQ(context, 0u);
    SysFreeString(name);
    SysFreeString(help);
    SysFreeString(helpFile);

    const std::vector<Type> types = expectedTypes();
    EXPECT_EQ(lib->GetTypeInfoCount(), types.size());
    for (const Type& t : types) {
        ITypeInfo* info = nullptr;
        for (UINT i = 0; !info && i < lib->GetTypeInfoCount(); ++i) {
            BSTR n = nullptr;
            lib->GetDocumentation(INT(i), &n, nullptr, nullptr, nullptr);
            if (text(n) == t.name) lib->GetTypeInfo(i, &info);
            SysFreeString(n);
        }
        ASSERT_NE(info, nullptr) << t.name;
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
        GUID guid = GUID_NULL;
        if (t.guid) CLSIDFromString(t.guid, &guid);
        EXPECT_EQ(attr->typekind, t.kind) << t.name;
        EXPECT_TRUE(IsEqualGUID(attr->guid, guid)) << t.name;
        EXPECT_EQ(attr->wTypeFlags, t.flags) << t.name;
        EXPECT_EQ(attr->wMajorVerNum, 0) << t.name;
        info->ReleaseTypeAttr(attr);
        BSTR doc = nullptr;
        info->GetDocumentation(MEMBERID_NIL, nullptr, &doc, nullptr, nullptr);
        EXPECT_EQ(text(doc), text(t.help)) << t.name;
        SysFreeString(doc);
        if (t.base) {
            HREFTYPE ref = 0;
            EXPECT_EQ(info->GetRefTypeOfImplType(0, &ref), S_OK) << t.name;
            EXPECT_EQ(nameOfType(info, ref), t.base) << t.name;
            INT implFlags = 0;
            info->GetImplTypeFlags(0, &implFlags);
            EXPECT_EQ(implFlags, t.kind == TKIND_COCLASS ? IMPLTYPEFLAG_FDEFAULT : 0) << t.name;
        }
        if (t.kind == TKIND_DISPATCH) checkMembers(info, t);
        if (t.kind == TKIND_ENUM) checkConstants(info, t);
        info->Release();
    }
    lib->Release();
}

// Last: unregistration removes the ProgIDs and keeps the type library.
TEST(QvFileSysCom, UnregistrationKeepsTheTypeLibrary) {
    ASSERT_EQ(exported<NoArgFn>(g_module, "DllUnregisterServer")(), S_OK);
    CLSID clsid;
    EXPECT_NE(CLSIDFromProgID(L"QVFileSys.Enumerator", &clsid), S_OK);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "TypeLib\\{AC1ECC53-3AA9-11D2-9889-204C4F4F5020}\\1.0", 0, KEY_READ,
                            &key),
              ERROR_SUCCESS);
    if (key) RegCloseKey(key);
}

}  // namespace
