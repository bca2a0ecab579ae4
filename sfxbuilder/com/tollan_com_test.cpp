// The builder DLL as COM clients see it: loaded from its file, its class
// object, the object's properties, interfaces and builds (early-bound
// through ITollan and late-bound through IDispatch), error information,
// the module count, aggregation and self-registration.
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crypto/easy_crypt.h"
#include "exeimage/exe_image.h"
#include "sfxbuilder/com/tollan.h"
#include "support/data_buffer.h"
#include "support/testing/scratch_dir.h"

namespace {

using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using NoArgFn = HRESULT(WINAPI*)();

struct Dll {
    HMODULE module = nullptr;
    std::wstring path;
    GetClassObjectFn getClassObject = nullptr;
    NoArgFn canUnloadNow = nullptr;
    NoArgFn registerServer = nullptr;
    NoArgFn unregisterServer = nullptr;
};

Dll g_dll;

// An exported function as its real type (through void*, which the
// function-cast warning accepts).
template <class Fn>
Fn exported(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// COM on this thread, and the DLL beside the test program.
class ComEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        wchar_t self[MAX_PATH];
        DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
        ASSERT_GT(n, 0u);
        std::wstring dir(self, n);
        dir.erase(dir.find_last_of(L"\\/") + 1);
        g_dll.path = dir + L"Tollan.dll";
        g_dll.module = LoadLibraryW(g_dll.path.c_str());
        ASSERT_NE(g_dll.module, nullptr) << "Tollan.dll beside the test program";
        g_dll.getClassObject = exported<GetClassObjectFn>(g_dll.module, "DllGetClassObject");
        g_dll.canUnloadNow = exported<NoArgFn>(g_dll.module, "DllCanUnloadNow");
        g_dll.registerServer = exported<NoArgFn>(g_dll.module, "DllRegisterServer");
        g_dll.unregisterServer = exported<NoArgFn>(g_dll.module, "DllUnregisterServer");
        ASSERT_TRUE(g_dll.getClassObject && g_dll.canUnloadNow && g_dll.registerServer && g_dll.unregisterServer);
        // A temporary folder of this run's own, so that what the builds
        // leave there can be listed without other programs' files.
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        tempDir_ = std::string(base) + "tollan-com-" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryA(tempDir_.c_str(), nullptr));
        SetEnvironmentVariableA("TMP", tempDir_.c_str());
        SetEnvironmentVariableA("TEMP", tempDir_.c_str());
    }
    void TearDown() override {
        CoUninitialize();
        EXPECT_TRUE(RemoveDirectoryA(tempDir_.c_str())) << "the temporary folder is empty at the end";
    }

private:
    std::string tempDir_;
};

const ::testing::Environment* const g_env = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

// An owned interface pointer.
template <class T>
struct Ptr {
    T* p = nullptr;
    Ptr() = default;
    Ptr(const Ptr&) = delete;
    ~Ptr() { reset(); }
    void reset() {
        if (p) p->Release();
        p = nullptr;
    }
    T** out() {
        reset();
        return &p;
    }
    void** outVoid() { return reinterpret_cast<void**>(out()); }
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

struct Bstr {
    BSTR b = nullptr;
    Bstr() = default;
    explicit Bstr(const wchar_t* s) : b(SysAllocString(s)) {}
    explicit Bstr(const std::string& s) {
        std::wstring w(s.begin(), s.end());
        b = SysAllocStringLen(w.data(), UINT(w.size()));
    }
    ~Bstr() { SysFreeString(b); }
    Bstr(const Bstr&) = delete;
    BSTR* out() {
        SysFreeString(b);
        b = nullptr;
        return &b;
    }
    std::wstring str() const { return b ? std::wstring(b, SysStringLen(b)) : L"<null>"; }
};

HRESULT createTollan(REFIID riid, void** out, IUnknown* outer = nullptr) {
    Ptr<IClassFactory> factory;
    HRESULT hr = g_dll.getClassObject(CLSID_Tollan, IID_IClassFactory, factory.outVoid());
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(outer, riid, out);
}

std::string toAnsi(const std::wstring& w) {
    int n = WideCharToMultiByte(CP_ACP, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, w.data(), int(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

// The named RT_RCDATA entries of a written executable, in stored order.
struct Entries {
    bool loaded = false;
    std::vector<std::string> names;
    std::vector<std::string> data;
    std::string get(const std::string& name) const {
        for (size_t i = 0; i < names.size(); i++)
            if (names[i] == name) return data[i];
        return "<missing>";
    }
};

Entries readEntries(const std::string& path) {
    Entries e;
    std::unique_ptr<ExeImage> img(ExeImage::loadFromFile(path.c_str(), nullptr));
    if (!img || !img->resources()) return e;
    e.loaded = true;
    const ExeResource* root = img->resources();
    for (int i = 0; i < root->idCount(); i++) {
        const ExeResource* type = root->idChild(i);
        if (type->id != 10) continue;
        for (int k = 0; k < type->namedCount(); k++) {
            const ExeResource* r = type->namedChild(k);
            const ExeResource* leaf = r->idCount() == 1 ? r->idChild(0) : nullptr;
            e.names.push_back(r->name.str());
            e.data.push_back(leaf && leaf->dataPointer()
                                 ? std::string(reinterpret_cast<const char*>(leaf->dataPointer()), leaf->dataSize)
                                 : std::string("<no data>"));
        }
    }
    return e;
}

std::string zipBytes() {
    std::string s = "PK\x03\x04";
    for (int i = 0; i < 3000; i++) s += char('a' + i % 23);
    return s;
}

std::string text0(const char* s) { return std::string(s) + std::string(1, '\0'); }

// The thread's error object, as a late-bound client would read it.
struct ThreadError {
    bool present = false;
    std::wstring source, description;
    GUID guid = GUID_NULL;
};

ThreadError takeErrorInfo() {
    ThreadError t;
    Ptr<IErrorInfo> info;
    if (GetErrorInfo(0, info.out()) != S_OK || !info) return t;
    t.present = true;
    Bstr source, description;
    info->GetSource(source.out());
    info->GetDescription(description.out());
    info->GetGUID(&t.guid);
    t.source = source.str();
    t.description = description.str();
    return t;
}

std::vector<std::string> tempFilesNamed(const char* prefix) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    std::vector<std::string> found;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((std::string(dir) + prefix + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return found;
    do found.push_back(fd.cFileName);
    while (FindNextFileA(h, &fd));
    FindClose(h);
    return found;
}

// ---- Properties --------------------------------------------------------------

TEST(TollanObject, NewObjectDefaults) {
    Ptr<ITollan> t;
    ASSERT_EQ(createTollan(IID_ITollan, t.outVoid()), S_OK);
    LONG v = 77;
    EXPECT_EQ(t->get_UnzipToTemp(&v), S_OK);
    EXPECT_EQ(v, 1);
    v = 77;
    EXPECT_EQ(t->get_ExeNoInterface(&v), S_OK);
    EXPECT_EQ(v, 0);
    HRESULT (STDMETHODCALLTYPE ITollan::*getters[])(BSTR*) = {
        &ITollan::get_AutoRunParams, &ITollan::get_ExeTitle, &ITollan::get_ExeIconFile,
        &ITollan::get_ExeUnzipCaption, &ITollan::get_ExeUnzipDir};
    for (auto g : getters) {
        Bstr s;
        EXPECT_EQ((t.p->*g)(s.out()), S_OK);
        ASSERT_NE(s.b, nullptr) << "an empty string, not a null one";
        EXPECT_EQ(SysStringLen(s.b), 0u);
    }
}

TEST(TollanObject, PropertyValues) {
    Ptr<ITollan> t;
    ASSERT_EQ(createTollan(IID_ITollan, t.outVoid()), S_OK);
    struct FlagCase {
        LONG in, out;
    } flags[] = {{-1, 1}, {0, 0}, {7, 1}, {LONG(0x80000000), 1}, {1, 1}};
    for (const FlagCase& c : flags) {
        LONG v = 55;
        EXPECT_EQ(t->put_UnzipToTemp(c.in), S_OK);
        EXPECT_EQ(t->get_UnzipToTemp(&v), S_OK);
        EXPECT_EQ(v, c.out) << c.in;
        EXPECT_EQ(t->put_ExeNoInterface(c.in), S_OK);
        EXPECT_EQ(t->get_ExeNoInterface(&v), S_OK);
        EXPECT_EQ(v, c.out) << c.in;
    }

    // Each string property keeps its own value; a null BSTR stores "".
    Bstr a(L"params -x"), b(L"My title"), c(L"c:\\icons\\a.ico"), d(L"Unpacking"), e(L"c:\\target");
    EXPECT_EQ(t->put_AutoRunParams(a.b), S_OK);
    EXPECT_EQ(t->put_ExeTitle(b.b), S_OK);
    EXPECT_EQ(t->put_ExeIconFile(c.b), S_OK);
    EXPECT_EQ(t->put_ExeUnzipCaption(d.b), S_OK);
    EXPECT_EQ(t->put_ExeUnzipDir(e.b), S_OK);
    Bstr got;
    EXPECT_EQ(t->get_AutoRunParams(got.out()), S_OK);
    EXPECT_EQ(got.str(), L"params -x");
    EXPECT_EQ(t->get_ExeTitle(got.out()), S_OK);
    EXPECT_EQ(got.str(), L"My title");
    EXPECT_EQ(t->get_ExeIconFile(got.out()), S_OK);
    EXPECT_EQ(got.str(), L"c:\\icons\\a.ico");
    EXPECT_EQ(t->get_ExeUnzipCaption(got.out()), S_OK);
    EXPECT_EQ(got.str(), L"Unpacking");
    EXPECT_EQ(t->get_ExeUnzipDir(got.out()), S_OK);
    EXPECT_EQ(got.str(), L"c:\\target");

    EXPECT_EQ(t->put_ExeTitle(nullptr), S_OK);
    EXPECT_EQ(t->get_ExeTitle(got.out()), S_OK);
    ASSERT_NE(got.b, nullptr);
    EXPECT_EQ(SysStringLen(got.b), 0u);

    // Text survives the trip through the ANSI code page when it can.
    Bstr accented(L"Caf\u00e9 d\u00e9j\u00e0");
    EXPECT_EQ(t->put_ExeTitle(accented.b), S_OK);
    EXPECT_EQ(t->get_ExeTitle(got.out()), S_OK);
    EXPECT_EQ(got.str(), L"Caf\u00e9 d\u00e9j\u00e0");

    // Null out-pointers.
    EXPECT_EQ(t->get_UnzipToTemp(nullptr), E_POINTER);
    EXPECT_EQ(t->get_ExeNoInterface(nullptr), E_POINTER);
    EXPECT_EQ(t->get_ExeTitle(nullptr), E_POINTER);
    EXPECT_EQ(t->get_ExeUnzipDir(nullptr), E_POINTER);
}

// ---- Interfaces, class object, module count ------------------------------------

TEST(TollanObject, AnswersTheControlInterfaces) {
    Ptr<IUnknown> unk;
    ASSERT_EQ(createTollan(IID_IUnknown, unk.outVoid()), S_OK);
    const IID* answered[] = {&IID_ITollan, &IID_IDispatch, &IID_IViewObjectEx, &IID_IViewObject2,
                             &IID_IViewObject, &IID_IOleInPlaceObjectWindowless, &IID_IOleInPlaceObject,
                             &IID_IOleWindow, &IID_IOleInPlaceActiveObject, &IID_IOleControl, &IID_IOleObject,
                             &IID_IPersistStreamInit, &IID_IPersist, &IID_ISpecifyPropertyPages,
                             &IID_IQuickActivate, &IID_IPersistStorage, &IID_IDataObject,
                             &IID_IProvideClassInfo, &IID_IProvideClassInfo2, &IID_ISupportErrorInfo};
    for (size_t i = 0; i < sizeof answered / sizeof answered[0]; i++) {
        Ptr<IUnknown> itf;
        ASSERT_EQ(unk->QueryInterface(*answered[i], itf.outVoid()), S_OK) << "interface #" << i;
        // Every interface leads back to the same identity.
        Ptr<IUnknown> again;
        ASSERT_EQ(itf->QueryInterface(IID_IUnknown, again.outVoid()), S_OK);
        EXPECT_EQ(again.p, unk.p) << "interface #" << i;
    }
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(unk->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(unk->QueryInterface(IID_IEnumVARIANT, &out), E_NOINTERFACE);
    EXPECT_EQ(unk->QueryInterface(IID_ITollan, nullptr), E_POINTER);

    Ptr<ISupportErrorInfo> sei;
    ASSERT_EQ(unk->QueryInterface(IID_ISupportErrorInfo, sei.outVoid()), S_OK);
    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_ITollan), S_OK);
    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);

    Ptr<IOleObject> ole;
    ASSERT_EQ(unk->QueryInterface(IID_IOleObject, ole.outVoid()), S_OK);
    DWORD misc = 0;
    EXPECT_EQ(ole->GetMiscStatus(DVASPECT_CONTENT, &misc), S_OK);
    EXPECT_EQ(misc, 132497u);
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(ole->GetUserClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Tollan));

    Ptr<IProvideClassInfo2> pci;
    ASSERT_EQ(unk->QueryInterface(IID_IProvideClassInfo2, pci.outVoid()), S_OK);
    Ptr<ITypeInfo> classInfo;
    ASSERT_EQ(pci->GetClassInfo(classInfo.out()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(classInfo->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_TRUE(IsEqualGUID(attr->guid, CLSID_Tollan));
    classInfo->ReleaseTypeAttr(attr);
    GUID source = IID_ITollan;
    EXPECT_EQ(pci->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
    EXPECT_TRUE(IsEqualGUID(source, GUID_NULL)) << "no events";
    EXPECT_EQ(pci->GetGUID(99, &source), E_INVALIDARG);
    EXPECT_EQ(pci->GetClassInfo(nullptr), E_POINTER);
}

TEST(TollanModule, ClassObjectAndUnloadCount) {
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(g_dll.getClassObject(IID_ITollan, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(g_dll.getClassObject(CLSID_Tollan, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(g_dll.canUnloadNow(), S_OK);

    Ptr<IClassFactory> factory;
    ASSERT_EQ(g_dll.getClassObject(CLSID_Tollan, IID_IClassFactory, factory.outVoid()), S_OK);
    EXPECT_EQ(g_dll.canUnloadNow(), S_FALSE) << "a held class object keeps the module";
    {
        Ptr<ITollan> t;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITollan, t.outVoid()), S_OK);
        factory.reset();
        EXPECT_EQ(g_dll.canUnloadNow(), S_FALSE) << "a live object keeps the module";
    }
    EXPECT_EQ(g_dll.canUnloadNow(), S_OK);
    ASSERT_EQ(g_dll.getClassObject(CLSID_Tollan, IID_IClassFactory, factory.outVoid()), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    EXPECT_EQ(g_dll.canUnloadNow(), S_FALSE) << "a server lock keeps the module";
    ASSERT_EQ(g_dll.getClassObject(CLSID_Tollan, IID_IClassFactory, factory.outVoid()), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory.reset();
    EXPECT_EQ(g_dll.canUnloadNow(), S_OK);
}

// An outer object that aggregates the builder and counts what reaches it.
struct Outer : IUnknown {
    LONG refs = 1;
    int queries = 0;
    IUnknown* inner = nullptr;
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        queries++;
        if (!out) return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, out) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(++refs); }
    STDMETHODIMP_(ULONG) Release() override { return ULONG(--refs); }
};

TEST(TollanObject, Aggregation) {
    Outer outer;
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(createTollan(IID_ITollan, &out, &outer), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);

    ASSERT_EQ(createTollan(IID_IUnknown, reinterpret_cast<void**>(&outer.inner), &outer), S_OK);
    ASSERT_NE(outer.inner, static_cast<IUnknown*>(&outer));
    ITollan* t = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_ITollan, reinterpret_cast<void**>(&t)), S_OK);
    LONG before = outer.refs;
    // The interface's IUnknown is the outer object's.
    IUnknown* identity = nullptr;
    int queries = outer.queries;
    ASSERT_EQ(t->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    EXPECT_GT(outer.queries, queries);
    identity->Release();
    t->AddRef();
    EXPECT_EQ(outer.refs, before + 1) << "AddRef reaches the outer object";
    t->Release();
    t->Release();  // the reference QueryInterface gave (on the outer object)
    LONG v = 0;
    EXPECT_EQ(t->get_UnzipToTemp(&v), S_OK);  // still alive: the inner reference holds it
    EXPECT_EQ(outer.inner->Release(), 0u);
    outer.inner = nullptr;
    EXPECT_EQ(g_dll.canUnloadNow(), S_OK);
}

// ---- Builds ---------------------------------------------------------------------

class Builds : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(createTollan(IID_ITollan, t.outVoid()), S_OK);
        dir.write("a.zip", zipBytes());
        zip = dir.file("a.zip");
        stubCopiesBefore = tempFilesNamed("tln");
    }
    void TearDown() override { EXPECT_EQ(tempFilesNamed("tln"), stubCopiesBefore) << "stub copies left behind"; }
    std::string out(const char* name) {
        dir.track(dir.file(name));
        return dir.file(name);
    }

    Ptr<ITollan> t;
    ScratchDir dir;
    std::string zip;
    std::vector<std::string> stubCopiesBefore;
};

TEST_F(Builds, EachMethodWritesItsEntries) {
    Bstr title(L"Tollan test"), caption(L"Unpacking"), unzipDir(L"c:\\target"), params(L"-q");
    ASSERT_EQ(t->put_ExeTitle(title.b), S_OK);
    ASSERT_EQ(t->put_ExeUnzipCaption(caption.b), S_OK);
    ASSERT_EQ(t->put_ExeUnzipDir(unzipDir.b), S_OK);
    ASSERT_EQ(t->put_AutoRunParams(params.b), S_OK);
    ASSERT_EQ(t->put_ExeNoInterface(-1), S_OK);
    Bstr zipB(zip), program(L"setup.exe"), pw(L"s3cret");

    std::string plain = out("plain.exe");
    Bstr plainB(plain);
    ASSERT_EQ(t->CreateExe(zipB.b, plainB.b), S_OK);
    Entries e = readEntries(plain);
    ASSERT_TRUE(e.loaded);
    EXPECT_EQ(e.names, (std::vector<std::string>{"appTitle", "progressCaption", "unzipDir", "autoParams",
                                                  "noInterface", "zip"}));
    EXPECT_EQ(e.get("appTitle"), text0("Tollan test"));
    EXPECT_EQ(e.get("noInterface"), std::string("yes\0", 4));
    EXPECT_EQ(e.get("zip"), zipBytes());

    std::string withProgram = out("prog.exe");
    Bstr withProgramB(withProgram);
    ASSERT_EQ(t->CreateExe2(zipB.b, program.b, withProgramB.b), S_OK);
    e = readEntries(withProgram);
    ASSERT_FALSE(e.names.empty());
    EXPECT_EQ(e.names.front(), "autotemp") << "UnzipToTemp is true by default";
    EXPECT_EQ(e.get("autotemp"), text0("setup.exe"));
    ASSERT_EQ(t->put_UnzipToTemp(0), S_OK);
    ASSERT_EQ(t->CreateExe2(zipB.b, program.b, withProgramB.b), S_OK);
    e = readEntries(withProgram);
    ASSERT_FALSE(e.names.empty());
    EXPECT_EQ(e.names.front(), "autorun");

    std::string encrypted = out("enc.exe");
    Bstr encryptedB(encrypted);
    ASSERT_EQ(t->CreateExe3(zipB.b, 193, pw.b, encryptedB.b), S_OK);
    e = readEntries(encrypted);
    EXPECT_EQ(e.names, (std::vector<std::string>{"encrypted", "appTitle", "progressCaption", "unzipDir",
                                                  "autoParams", "noInterface", "zip"}));
    std::string check = e.get("encrypted");
    ASSERT_EQ(check.size(), 36u);
    uint32_t bits = 0;
    std::memcpy(&bits, check.data(), 4);
    EXPECT_EQ(bits, 256u) << "193 rounds up to 256";
    DataBuffer plainPayload;
    std::string payload = e.get("zip");
    ASSERT_TRUE(EasyCrypt::decryptBytes(kAlgorithmAes, 256, "s3cret", payload.data(), uint32_t(payload.size()),
                                        plainPayload));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(plainPayload.data()), plainPayload.length()), zipBytes());

    ASSERT_EQ(t->CreateExe4(zipB.b, program.b, -5, pw.b, encryptedB.b), S_OK);
    e = readEntries(encrypted);
    EXPECT_EQ(e.names, (std::vector<std::string>{"encrypted", "appTitle", "progressCaption", "unzipDir",
                                                  "autoParams", "noInterface", "autorun", "zip"}));
    check = e.get("encrypted");
    ASSERT_EQ(check.size(), 36u);
    std::memcpy(&bits, check.data(), 4);
    EXPECT_EQ(bits, 128u) << "-5 gives 128";
}

TEST_F(Builds, NullArgumentsAreEmptyStrings) {
    // CreateExe4 with a null program writes an empty "autotemp"; a null
    // password is the empty password.
    Bstr zipB(zip);
    std::string exe = out("nulls.exe");
    Bstr exeB(exe);
    ASSERT_EQ(t->CreateExe4(zipB.b, nullptr, 128, nullptr, exeB.b), S_OK);
    Entries e = readEntries(exe);
    EXPECT_EQ(e.names, (std::vector<std::string>{"encrypted", "autotemp", "zip"}));
    EXPECT_EQ(e.get("autotemp"), std::string(1, '\0'));
    std::string payload = e.get("zip");
    DataBuffer plainPayload;
    EXPECT_TRUE(EasyCrypt::decryptBytes(kAlgorithmAes, 128, "", payload.data(), uint32_t(payload.size()),
                                        plainPayload));
}

TEST_F(Builds, FailureLeavesErrorInformation) {
    std::string missing = dir.file("missing.zip");
    std::string exe = out("never.exe");
    Bstr missingB(missing), exeB(exe);
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(t->CreateExe(missingB.b, exeB.b), E_FAIL);
    ThreadError err = takeErrorInfo();
    ASSERT_TRUE(err.present);
    EXPECT_EQ(err.source, L"Tollan.Tollan");
    EXPECT_TRUE(IsEqualGUID(err.guid, IID_ITollan));
    EXPECT_NE(err.description.find(L"CreateExe"), std::wstring::npos) << toAnsi(err.description);
    EXPECT_FALSE(fileIsThere(exe));

    // An output folder that does not exist.
    std::string nowhere = dir.file("no-such-folder\\out.exe");
    Bstr zipB(zip), nowhereB(nowhere);
    EXPECT_EQ(t->CreateExe3(zipB.b, 256, nullptr, nowhereB.b), E_FAIL);
    err = takeErrorInfo();
    ASSERT_TRUE(err.present);
    EXPECT_NE(err.description.find(L"Failed to create file"), std::wstring::npos) << toAnsi(err.description);

    // The log gathered both calls; SaveXmlLog writes it and never fails.
    std::string logPath = out("log.xml");
    Bstr logB(logPath);
    EXPECT_EQ(t->SaveXmlLog(logB.b), S_OK);
    bool ok = false;
    std::string xml = readWholeFile(logPath, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(xml.compare(0, 5, "<?xml"), 0);
    EXPECT_NE(xml.find("CreateExe3"), std::string::npos);
    EXPECT_NE(xml.find("<CreateExe>"), std::string::npos);
    Bstr badLog(dir.file("no-such-folder\\log.xml"));
    EXPECT_EQ(t->SaveXmlLog(badLog.b), S_OK);
    EXPECT_EQ(t->SaveXmlLog(nullptr), S_OK);
}

// ---- Late binding -------------------------------------------------------------------

HRESULT invoke(IDispatch* d, const wchar_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result,
               EXCEPINFO* excep) {
    LPOLESTR n = const_cast<LPOLESTR>(name);
    DISPID id = 0;
    HRESULT hr = d->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    // Arguments go in reverse order.
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, UINT(reversed.size()), 0};
    DISPID named = DISPID_PROPERTYPUT;
    if (flags & DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &named;
        params.cNamedArgs = 1;
    }
    UINT argErr = 0;
    return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, excep, &argErr);
}

VARIANT bstrArg(const std::wstring& s) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(s.c_str());
    return v;
}

VARIANT intArg(LONG n) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = n;
    return v;
}

TEST(TollanDispatch, NamesIdsAndCalls) {
    Ptr<IDispatch> d;
    ASSERT_EQ(createTollan(IID_IDispatch, d.outVoid()), S_OK);
    UINT count = 0;
    EXPECT_EQ(d->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    Ptr<ITypeInfo> info;
    EXPECT_EQ(d->GetTypeInfo(1, 0, info.out()), DISP_E_BADINDEX);
    ASSERT_EQ(d->GetTypeInfo(0, 0, info.out()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID_ITollan));
    info->ReleaseTypeAttr(attr);

    struct NameId {
        const wchar_t* name;
        DISPID id;
    } ids[] = {{L"CreateExe", 1},  {L"createexe2", 2},      {L"CREATEEXE3", 3},    {L"CreateExe4", 4},
               {L"SaveXmlLog", 5}, {L"UnzipToTemp", 6},     {L"AutoRunParams", 7}, {L"exetitle", 8},
               {L"ExeIconFile", 9}, {L"ExeUnzipCaption", 10}, {L"ExeUnzipDir", 11},  {L"ExeNoInterface", 12}};
    for (const NameId& c : ids) {
        LPOLESTR n = const_cast<LPOLESTR>(c.name);
        DISPID id = -7;
        EXPECT_EQ(d->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &id), S_OK) << toAnsi(c.name);
        EXPECT_EQ(id, c.id) << toAnsi(c.name);
    }
    LPOLESTR unknown = const_cast<LPOLESTR>(L"NoSuchMember");
    DISPID id = 0;
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, &unknown, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(d->GetIDsOfNames(IID_ITollan, &unknown, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNINTERFACE);

    // A property through Invoke, as a script sets and reads it.
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(invoke(d.p, L"ExeTitle", DISPATCH_PROPERTYPUT, {bstrArg(L"Late")}, nullptr, nullptr), S_OK);
    EXPECT_EQ(invoke(d.p, L"ExeTitle", DISPATCH_PROPERTYGET, {}, &result, nullptr), S_OK);
    ASSERT_EQ(V_VT(&result), VT_BSTR);
    EXPECT_EQ(std::wstring(V_BSTR(&result)), L"Late");
    VariantClear(&result);
    EXPECT_EQ(invoke(d.p, L"UnzipToTemp", DISPATCH_PROPERTYPUT, {intArg(-1)}, nullptr, nullptr), S_OK);
    EXPECT_EQ(invoke(d.p, L"UnzipToTemp", DISPATCH_PROPERTYGET, {}, &result, nullptr), S_OK);
    ASSERT_EQ(V_VT(&result), VT_I4);
    EXPECT_EQ(V_I4(&result), 1);

    // A failed build is an exception whose source is the builder.
    EXCEPINFO excep;
    std::memset(&excep, 0, sizeof excep);
    HRESULT hr = invoke(d.p, L"CreateExe", DISPATCH_METHOD,
                        {bstrArg(L"c:\\no\\such\\archive.zip"), bstrArg(L"c:\\no\\such\\out.exe")}, nullptr, &excep);
    EXPECT_EQ(hr, DISP_E_EXCEPTION);
    ASSERT_NE(excep.bstrSource, nullptr);
    EXPECT_EQ(std::wstring(excep.bstrSource), L"Tollan.Tollan");
    ASSERT_NE(excep.bstrDescription, nullptr);
    EXPECT_NE(std::wstring(excep.bstrDescription).find(L"CreateExe"), std::wstring::npos);
    EXPECT_EQ(excep.scode, E_FAIL);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
}

// ---- The type library ----------------------------------------------------------------

std::wstring docString(ITypeInfo* info, MEMBERID id) {
    Bstr name, doc;
    if (FAILED(info->GetDocumentation(id, name.out(), doc.out(), nullptr, nullptr))) return L"<none>";
    return doc.str();
}

std::wstring memberName(ITypeInfo* info, MEMBERID id) {
    Bstr name;
    if (FAILED(info->GetDocumentation(id, name.out(), nullptr, nullptr, nullptr))) return L"<none>";
    return name.str();
}

TEST(TollanTypeLibrary, DescribesLibraryClassAndInterface) {
    Ptr<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLibEx(g_dll.path.c_str(), REGKIND_NONE, lib.out()), S_OK) << "TYPELIB 1 of the DLL";
    TLIBATTR* libAttr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&libAttr), S_OK);
    EXPECT_TRUE(IsEqualGUID(libAttr->guid, LIBID_TOLLANLib));
    EXPECT_EQ(libAttr->lcid, 0x409u);
    EXPECT_EQ(libAttr->wMajorVerNum, 1);
    EXPECT_EQ(libAttr->wMinorVerNum, 0);
    lib->ReleaseTLibAttr(libAttr);
    Bstr libName, libDoc;
    ASSERT_EQ(lib->GetDocumentation(-1, libName.out(), libDoc.out(), nullptr, nullptr), S_OK);
    EXPECT_EQ(libName.str(), L"TOLLANLib");
    EXPECT_EQ(libDoc.str(), L"Varnock Tollan 1.1");

    Ptr<ITypeInfo> coclass;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_Tollan, coclass.out()), S_OK);
    EXPECT_EQ(docString(coclass.p, MEMBERID_NIL), L"Tollan Class");
    EXPECT_EQ(memberName(coclass.p, MEMBERID_NIL), L"Tollan");
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    ASSERT_EQ(attr->cImplTypes, 1);
    coclass->ReleaseTypeAttr(attr);
    INT implFlags = 0;
    EXPECT_EQ(coclass->GetImplTypeFlags(0, &implFlags), S_OK);
    EXPECT_TRUE(implFlags & IMPLTYPEFLAG_FDEFAULT);

    // The dual interface as its vtable part: the members in vtable order
    // after IUnknown and IDispatch, with their dispatch ids and help strings.
    Ptr<ITypeInfo> dispatchPart, itf;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_ITollan, dispatchPart.out()), S_OK);
    HREFTYPE ref = 0;
    ASSERT_EQ(dispatchPart->GetRefTypeOfImplType(-1, &ref), S_OK) << "a dual interface";
    ASSERT_EQ(dispatchPart->GetRefTypeInfo(ref, itf.out()), S_OK);
    ASSERT_EQ(itf->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
    ASSERT_EQ(attr->cFuncs, 19);
    itf->ReleaseTypeAttr(attr);
    EXPECT_EQ(docString(itf.p, MEMBERID_NIL), L"ITollan Interface");

    struct Member {
        const wchar_t* name;
        MEMBERID id;
        INVOKEKIND kind;
        const wchar_t* help;
        int params;
    } members[] = {
        {L"CreateExe", 1, INVOKE_FUNC, L"method CreateExe", 2},
        {L"CreateExe2", 2, INVOKE_FUNC, L"method CreateExe2", 3},
        {L"CreateExe3", 3, INVOKE_FUNC, L"method CreateExe3", 4},
        {L"CreateExe4", 4, INVOKE_FUNC, L"method CreateExe4", 5},
        {L"SaveXmlLog", 5, INVOKE_FUNC, L"method SaveXmlLog", 1},
        {L"UnzipToTemp", 6, INVOKE_PROPERTYGET, L"property UnzipToTemp", 1},
        {L"UnzipToTemp", 6, INVOKE_PROPERTYPUT, L"property UnzipToTemp", 1},
        {L"AutoRunParams", 7, INVOKE_PROPERTYGET, L"property AutoRunParams", 1},
        {L"AutoRunParams", 7, INVOKE_PROPERTYPUT, L"property AutoRunParams", 1},
        {L"ExeTitle", 8, INVOKE_PROPERTYGET, L"property ExeTitle", 1},
        {L"ExeTitle", 8, INVOKE_PROPERTYPUT, L"property ExeTitle", 1},
        {L"ExeIconFile", 9, INVOKE_PROPERTYGET, L"property ExeIconFile", 1},
        {L"ExeIconFile", 9, INVOKE_PROPERTYPUT, L"property ExeIconFile", 1},
        {L"ExeUnzipCaption", 10, INVOKE_PROPERTYGET, L"property ExeUnzipCaption", 1},
        {L"ExeUnzipCaption", 10, INVOKE_PROPERTYPUT, L"property ExeUnzipCaption", 1},
        {L"ExeUnzipDir", 11, INVOKE_PROPERTYGET, L"property ExeUnzipDir", 1},
        {L"ExeUnzipDir", 11, INVOKE_PROPERTYPUT, L"property ExeUnzipDir", 1},
        {L"ExeNoInterface", 12, INVOKE_PROPERTYGET, L"property ExeNoInterface", 1},
        {L"ExeNoInterface", 12, INVOKE_PROPERTYPUT, L"property ExeNoInterface", 1},
    };
    for (UINT i = 0; i < 19; i++) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(itf->GetFuncDesc(i, &f), S_OK);
        const Member& m = members[i];
        EXPECT_EQ(f->memid, m.id) << i;
        EXPECT_EQ(f->invkind, m.kind) << i;
        EXPECT_EQ(f->cParams, m.params) << i;
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT) << i;
        // Seven slots of IUnknown and IDispatch come first.
        EXPECT_EQ(f->oVft, SHORT((7 + i) * sizeof(void*))) << i;
        EXPECT_EQ(memberName(itf.p, f->memid), m.name) << i;
        EXPECT_EQ(docString(itf.p, f->memid), m.help) << i;
        itf->ReleaseFuncDesc(f);
    }
}

// ---- Registration ---------------------------------------------------------------------

std::string regText(const std::string& key, const char* value = nullptr) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return "<no key>";
    char buf[2048];
    DWORD size = sizeof buf, type = 0;
    LONG rc = RegQueryValueExA(h, value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS) return "<no value>";
    if (type != REG_SZ) return "<not a string>";
    return std::string(buf, size && buf[size - 1] == 0 ? size - 1 : size);
}

bool regKeyExists(const std::string& key) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

TEST(TollanRegistration, RegisterCreateUnregister) {
    const std::string clsid = "CLSID\\{906275AA-BAA3-49B7-B463-8EAAF3CD4BC3}";
    const std::string typelib = "TypeLib\\{89BE3C9F-BCC0-4A7A-939B-BC66E4D3CA19}";
    std::string path = toAnsi(g_dll.path);
    // A stray key under the class key is gone after registration.
    HKEY stray = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, (clsid + "\\Stray").c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &stray, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(stray);

    ASSERT_EQ(g_dll.registerServer(), S_OK);
    EXPECT_EQ(regText("Tollan.Tollan.1"), "Tollan Class");
    EXPECT_EQ(regText("Tollan.Tollan.1\\CLSID"), "{906275AA-BAA3-49B7-B463-8EAAF3CD4BC3}");
    EXPECT_TRUE(regKeyExists("Tollan.Tollan.1\\Insertable"));
    EXPECT_EQ(regText("Tollan.Tollan"), "Tollan Class");
    EXPECT_EQ(regText("Tollan.Tollan\\CurVer"), "Tollan.Tollan.1");
    EXPECT_EQ(regText(clsid), "Tollan Class");
    EXPECT_EQ(regText(clsid + "\\ProgID"), "Tollan.Tollan.1");
    EXPECT_EQ(regText(clsid + "\\VersionIndependentProgID"), "Tollan.Tollan");
    EXPECT_EQ(regText(clsid + "\\InprocServer32"), path);
    EXPECT_EQ(regText(clsid + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(regText(clsid + "\\ToolboxBitmap32"), path + ", 101");
    EXPECT_EQ(regText(clsid + "\\MiscStatus"), "0");
    EXPECT_EQ(regText(clsid + "\\MiscStatus\\1"), "132497");
    EXPECT_EQ(regText(clsid + "\\TypeLib"), "{89BE3C9F-BCC0-4A7A-939B-BC66E4D3CA19}");
    EXPECT_EQ(regText(clsid + "\\Version"), "1.0");
    for (const char* k : {"Programmable", "Control", "Insertable"}) EXPECT_TRUE(regKeyExists(clsid + "\\" + k)) << k;
    EXPECT_FALSE(regKeyExists(clsid + "\\Stray"));
    EXPECT_EQ(regText(typelib + "\\1.0"), "Varnock Tollan 1.1");
    // The library's file for this program's platform, under its locale 409
    // (the other platform's DLL may be registered beside it under the same
    // version key).
    const std::string platformKey = typelib + (sizeof(void*) == 8 ? "\\1.0\\409\\win64" : "\\1.0\\409\\win32");
    EXPECT_EQ(regText(platformKey), path);

    // Created the way clients do it: by ProgID.
    CLSID fromProgId = GUID_NULL;
    ASSERT_EQ(CLSIDFromProgID(L"Tollan.Tollan", &fromProgId), S_OK);
    EXPECT_TRUE(IsEqualCLSID(fromProgId, CLSID_Tollan));
    {
        Ptr<ITollan> t;
        ASSERT_EQ(CoCreateInstance(fromProgId, nullptr, CLSCTX_INPROC_SERVER, IID_ITollan, t.outVoid()), S_OK);
        LONG v = 0;
        EXPECT_EQ(t->get_UnzipToTemp(&v), S_OK);
        EXPECT_EQ(v, 1);
        // The registered type library serves the automation marshaller too.
        Ptr<ITypeLib> lib;
        EXPECT_EQ(LoadRegTypeLib(LIBID_TOLLANLib, 1, 0, 0x409, lib.out()), S_OK);
    }

    EXPECT_EQ(g_dll.unregisterServer(), S_OK);
    EXPECT_FALSE(regKeyExists("Tollan.Tollan"));
    EXPECT_FALSE(regKeyExists("Tollan.Tollan.1"));
    EXPECT_FALSE(regKeyExists(clsid));
    EXPECT_TRUE(regKeyExists("CLSID")) << "the CLSID key itself stays";
    EXPECT_FALSE(regKeyExists(platformKey));
    // Unregistering twice is fine.
    EXPECT_EQ(g_dll.unregisterServer(), S_OK);
}

}  // namespace
