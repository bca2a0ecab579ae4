#include "com/control/control_base.h"

#include <gtest/gtest.h>

#include <olectl.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// {5C0E6F2A-3B71-4D7E-9A51-0F2B8C7D1E46}: a class identifier registered nowhere.
const CLSID kTestClsid = {0x5c0e6f2a, 0x3b71, 0x4d7e, {0x9a, 0x51, 0x0f, 0x2b, 0x8c, 0x7d, 0x1e, 0x46}};
// The standard font object: registered in every prefix, with a user type name.
const CLSID kStdFontClsid = {0x0be35203, 0x8f91, 0x11ce, {0x9d, 0xe3, 0x00, 0xaa, 0x00, 0x4b, 0xb8, 0x51}};
constexpr DWORD kMiscStatus = 132497;  // 0x20591, what the builder passes
const char kText[] = "Orvanta : Test";
void* const kSentinel = reinterpret_cast<void*>(static_cast<uintptr_t>(0x5a5a5a5a));

// A COM class that is a control: its own IUnknown, the rest from ControlBase.
class TestControl final : public ControlBase {
public:
    explicit TestControl(REFCLSID clsid = kTestClsid) : ControlBase(clsid, kMiscStatus, kText) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *out = static_cast<IOleObject*>(this);
            AddRef();
            return S_OK;
        }
        return queryControlInterface(riid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs;
        if (left == 0) delete this;
        return left;
    }
    ULONG refs = 1;
};

template <typename T>
struct Ref {
    T* p = nullptr;
    Ref() = default;
    explicit Ref(T* q) : p(q) {}
    ~Ref() {
        if (p) p->Release();
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T* operator->() const { return p; }
    void** out() { return reinterpret_cast<void**>(&p); }
};

// Counts what the control tells its sinks.
class TestSink final : public IAdviseSinkEx {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        *out = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IAdviseSink) ||
            IsEqualIID(riid, IID_IAdviseSinkEx)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }  // lives on the stack
    void STDMETHODCALLTYPE OnDataChange(FORMATETC*, STGMEDIUM*) override { ++dataChanges; }
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override { ++viewChanges; }
    void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
    void STDMETHODCALLTYPE OnSave() override {}
    void STDMETHODCALLTYPE OnClose() override { ++closes; }
    void STDMETHODCALLTYPE OnViewStatusChange(DWORD) override {}
    ULONG refs = 1;
    int dataChanges = 0, viewChanges = 0, closes = 0;
};

// A container site over a real parent window. Plain answers IOleInPlaceSite
// only; Ex adds IOleInPlaceSiteEx; Windowless and WindowlessRefused add
// IOleInPlaceSiteWindowless (the latter refuses windowless activation).
enum class SiteKind { Plain, Ex, Windowless, WindowlessRefused };

class TestSite final : public IOleClientSite, public IOleInPlaceSiteWindowless {
public:
    TestSite(HWND parent, RECT pos, SiteKind kind) : parent_(parent), pos_(pos), kind_(kind) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        *out = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite))
            *out = static_cast<IOleClientSite*>(this);
        else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceSite))
            *out = static_cast<IOleInPlaceSite*>(this);
        else if (IsEqualIID(riid, IID_IOleInPlaceSiteEx) && kind_ != SiteKind::Plain)
            *out = static_cast<IOleInPlaceSiteEx*>(this);
        else if (IsEqualIID(riid, IID_IOleInPlaceSiteWindowless) &&
                 (kind_ == SiteKind::Windowless || kind_ == SiteKind::WindowlessRefused))
            *out = static_cast<IOleInPlaceSiteWindowless*>(this);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }  // lives on the stack
    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override {
        ++saves;
        return saveResult;
    }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** m) override {
        *m = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** c) override {
        *c = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override {
        ++shows;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnShowWindow(WINBOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }
    // IOleWindow
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* h) override {
        *h = parent_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(WINBOOL) override { return E_NOTIMPL; }
    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override {
        ++activations;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override {
        ++uiActivations;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                               LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
        *frame = nullptr;
        *doc = nullptr;
        *pos = pos_;
        *clip = pos_;
        info->fMDIApp = FALSE;
        info->hwndFrame = parent_;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(WINBOOL) override {
        ++uiDeactivations;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override {
        ++deactivations;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }
    // IOleInPlaceSiteEx
    HRESULT STDMETHODCALLTYPE OnInPlaceActivateEx(WINBOOL* noRedraw, DWORD flags) override {
        if (noRedraw) *noRedraw = FALSE;
        ++activationsEx;
        activateExFlags = flags;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivateEx(WINBOOL) override {
        ++deactivationsEx;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RequestUIActivate() override { return S_OK; }
    // IOleInPlaceSiteWindowless
    HRESULT STDMETHODCALLTYPE CanWindowlessActivate() override {
        return kind_ == SiteKind::Windowless ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetCapture() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetCapture(WINBOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetFocus() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetFocus(WINBOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetDC(LPCRECT, DWORD, HDC* dc) override {
        *dc = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReleaseDC(HDC) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InvalidateRect(LPCRECT, WINBOOL) override {
        ++invalidations;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE InvalidateRgn(HRGN, WINBOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ScrollRect(INT, INT, LPCRECT, LPCRECT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AdjustRect(LPRECT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDefWindowMessage(UINT, WPARAM, LPARAM, LRESULT* r) override {
        *r = 0;
        return S_OK;
    }

    ULONG refs = 1;
    HRESULT saveResult = S_OK;
    int saves = 0, shows = 0, activations = 0, activationsEx = 0, uiActivations = 0;
    int uiDeactivations = 0, deactivations = 0, deactivationsEx = 0, invalidations = 0;
    DWORD activateExFlags = 0xffffffff;

private:
    HWND parent_;
    RECT pos_;
    SiteKind kind_;
};

// A 32-bit top-down DIB section in a memory DC, filled with a marker colour.
constexpr uint32_t kMarker = 0x00ff00ff;
struct Canvas {
    Canvas(int w, int h) : width(w), height(h) {
        BITMAPINFO bi;
        std::memset(&bi, 0, sizeof bi);
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        dc = CreateCompatibleDC(nullptr);
        void* p = nullptr;
        bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &p, nullptr, 0);
        bits = static_cast<uint32_t*>(p);
        old = SelectObject(dc, bitmap);
        for (int i = 0; i < w * h; ++i) bits[i] = kMarker;
    }
    ~Canvas() {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    uint32_t at(int x, int y) const {
        GdiFlush();
        return bits[y * width + x] & 0xffffff;
    }
    int width, height;
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    uint32_t* bits = nullptr;
};

// The picture of the control inside bounds b: a black frame along b, white
// inside except the text's ink, which lies on and above the vertical middle
// and is centred horizontally; nothing drawn outside b.
void expectControlPicture(const Canvas& c, const RECT& b) {
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x)
            if (x < b.left || x >= b.right || y < b.top || y >= b.bottom) {
                ASSERT_EQ(c.at(x, y), kMarker) << "drawn outside the bounds at " << x << "," << y;
            }
    for (int x = b.left; x < b.right; ++x) {
        ASSERT_EQ(c.at(x, b.top), 0u) << "top edge at x=" << x;
        ASSERT_EQ(c.at(x, b.bottom - 1), 0u) << "bottom edge at x=" << x;
    }
    for (int y = b.top; y < b.bottom; ++y) {
        ASSERT_EQ(c.at(b.left, y), 0u) << "left edge at y=" << y;
        ASSERT_EQ(c.at(b.right - 1, y), 0u) << "right edge at y=" << y;
    }
    int minX = INT32_MAX, maxX = -1, minY = INT32_MAX, maxY = -1, ink = 0, white = 0;
    for (int y = b.top + 1; y < b.bottom - 1; ++y)
        for (int x = b.left + 1; x < b.right - 1; ++x) {
            const uint32_t px = c.at(x, y);
            ASSERT_NE(px, kMarker) << "interior not painted at " << x << "," << y;
            if (px == 0xffffff) {
                ++white;
                continue;
            }
            ++ink;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    ASSERT_GT(ink, 20) << "no text drawn";
    EXPECT_GT(white, ink) << "interior not filled white";
    const int midX = b.left + (b.right - b.left) / 2;
    const int midY = b.top + (b.bottom - b.top) / 2;
    EXPECT_LT(minY, midY) << "no ink above the baseline";
    EXPECT_LE(maxY, midY + 1) << "ink below the baseline";
    EXPECT_GT(maxX - minX, 20) << "text too narrow";
    EXPECT_LE(std::abs((minX + maxX) / 2 - midX), 3) << "text not centred: " << minX << ".." << maxX;
}

// The test's windows go on a desktop of its own: Wine opens a new desktop
// with the display this process has, also when the prefix's default desktop
// was opened by a program without one (then windows there cannot be made).
class OwnDesktop : public ::testing::Environment {
public:
    void SetUp() override {
        std::wstring name = L"orvanta-control-" + std::to_wstring(GetCurrentProcessId());
        HDESK desktop = CreateDesktopW(name.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        ASSERT_NE(desktop, nullptr);
        ASSERT_TRUE(SetThreadDesktop(desktop));
    }
};

const ::testing::Environment* const g_ownDesktop = ::testing::AddGlobalTestEnvironment(new OwnDesktop);

class ControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        WNDCLASSW wc;
        std::memset(&wc, 0, sizeof wc);
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"ControlTestParent";
        RegisterClassW(&wc);
        parent = CreateWindowExW(0, L"ControlTestParent", L"parent", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                                 nullptr, wc.hInstance, nullptr);
        ASSERT_NE(parent, nullptr);
        control = new TestControl();
    }
    void TearDown() override {
        if (control) {
            EXPECT_EQ(control->Release(), 0u) << "references leaked";
        }
        DestroyWindow(parent);
        OleUninitialize();
    }
    HWND parent = nullptr;
    TestControl* control = nullptr;
    const RECT pos = {10, 20, 170, 120};
};

TEST_F(ControlTest, AnswersEachControlInterfaceWithOneIdentity) {
    const IID* iids[] = {&IID_IViewObjectEx,
                         &IID_IViewObject2,
                         &IID_IViewObject,
                         &IID_IOleInPlaceObjectWindowless,
                         &IID_IOleInPlaceObject,
                         &IID_IOleWindow,
                         &IID_IOleInPlaceActiveObject,
                         &IID_IOleControl,
                         &IID_IOleObject,
                         &IID_IPersistStreamInit,
                         &IID_IPersist,
                         &IID_ISpecifyPropertyPages,
                         &IID_IQuickActivate,
                         &IID_IPersistStorage,
                         &IID_IDataObject};
    Ref<IUnknown> identity;
    ASSERT_EQ(control->QueryInterface(IID_IUnknown, identity.out()), S_OK);
    for (const IID* iid : iids) {
        const ULONG before = control->refs;
        Ref<IUnknown> itf;
        ASSERT_EQ(control->queryControlInterface(*iid, itf.out()), S_OK);
        ASSERT_NE(itf.p, nullptr);
        EXPECT_EQ(control->refs, before + 1) << "not AddRef'd through the derived class";
        Ref<IUnknown> back;
        ASSERT_EQ(itf->QueryInterface(IID_IUnknown, back.out()), S_OK);
        EXPECT_EQ(back.p, identity.p);
        Ref<IUnknown> again;  // the same interface pointer each time
        ASSERT_EQ(back->QueryInterface(*iid, again.out()), S_OK);
        EXPECT_EQ(again.p, itf.p);
    }
    const IID* foreign[] = {&IID_IDispatch, &IID_IPersistPropertyBag, &IID_IProvideClassInfo, &IID_IUnknown,
                            &IID_IOleInPlaceSite};
    for (const IID* iid : foreign) {
        void* out = kSentinel;
        EXPECT_EQ(control->queryControlInterface(*iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(control->queryControlInterface(IID_IOleObject, nullptr), E_POINTER);
}

TEST_F(ControlTest, ReportsItsClassStatusAndDefaultExtent) {
    DWORD status = 0;
    EXPECT_EQ(control->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
    EXPECT_EQ(status, 0x20591u);
    EXPECT_EQ(control->GetViewStatus(&status), S_OK);
    EXPECT_EQ(status, DWORD(VIEWSTATUS_SOLIDBKGND | VIEWSTATUS_OPAQUE));
    CLSID id;
    EXPECT_EQ(control->GetUserClassID(&id), S_OK);
    EXPECT_TRUE(IsEqualCLSID(id, kTestClsid));
    EXPECT_EQ(control->GetClassID(&id), S_OK);
    EXPECT_TRUE(IsEqualCLSID(id, kTestClsid));
    SIZEL size = {1, 1};
    EXPECT_EQ(control->GetExtent(DVASPECT_CONTENT, &size), S_OK);
    EXPECT_EQ(size.cx, 2540);
    EXPECT_EQ(size.cy, 2540);
    EXPECT_EQ(control->GetExtent(DVASPECT_ICON, &size), E_FAIL);
    EXPECT_EQ(control->SetExtent(DVASPECT_ICON, &size), E_FAIL);
    SIZEL negative = {-1, 100};
    EXPECT_EQ(control->SetExtent(DVASPECT_CONTENT, &negative), E_INVALIDARG);
    EXPECT_EQ(control->IsDirty(), S_FALSE);
    RECTL r;
    EXPECT_EQ(control->GetRect(DVASPECT_CONTENT, &r), S_OK);
    EXPECT_EQ(r.right, 2540);
    EXPECT_EQ(r.bottom, 2540);
    EXPECT_EQ(control->GetRect(DVASPECT_ICON, &r), E_NOTIMPL);
    CAUUID pages = {5, reinterpret_cast<GUID*>(kSentinel)};
    EXPECT_EQ(control->GetPages(&pages), S_OK);
    EXPECT_EQ(pages.cElems, 0u);
    EXPECT_EQ(pages.pElems, nullptr);
    CONTROLINFO info;
    std::memset(&info, 0xcd, sizeof info);
    EXPECT_EQ(control->GetControlInfo(&info), S_OK);
    EXPECT_EQ(info.cb, sizeof info);
    EXPECT_EQ(info.cAccel, 0);
    EXPECT_EQ(info.hAccel, nullptr);
    EXPECT_EQ(info.dwFlags, 0u);
}

TEST_F(ControlTest, UserTypeAndVerbsComeFromTheRegistry) {
    LPOLESTR name = static_cast<LPOLESTR>(kSentinel);
    LPOLESTR expected = nullptr;
    const HRESULT direct = OleRegGetUserType(kTestClsid, USERCLASSTYPE_FULL, &expected);
    EXPECT_TRUE(FAILED(direct));
    EXPECT_EQ(control->GetUserType(USERCLASSTYPE_FULL, &name), direct);
    EXPECT_EQ(name, nullptr);
    IEnumOLEVERB* verbs = static_cast<IEnumOLEVERB*>(kSentinel);
    IEnumOLEVERB* directVerbs = nullptr;
    const HRESULT verbsHr = OleRegEnumVerbs(kTestClsid, &directVerbs);
    EXPECT_TRUE(FAILED(verbsHr));
    EXPECT_EQ(control->EnumVerbs(&verbs), verbsHr);
    EXPECT_EQ(verbs, nullptr);

    Ref<TestControl> font(new TestControl(kStdFontClsid));
    ASSERT_EQ(font->GetUserType(USERCLASSTYPE_FULL, &name), S_OK);
    EXPECT_EQ(std::wstring(name), L"Standard Font");
    CoTaskMemFree(name);

    // Other aspects than the content come from the registry too.
    DWORD status = 0xdead, directStatus = 0xbeef;
    const HRESULT statusHr = OleRegGetMiscStatus(kTestClsid, DVASPECT_ICON, &directStatus);
    EXPECT_EQ(control->GetMiscStatus(DVASPECT_ICON, &status), statusHr);
    EXPECT_EQ(status, directStatus);
    EXPECT_EQ(control->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
    EXPECT_EQ(status, kMiscStatus) << "content status comes from the constructor, not the registry";
}

TEST_F(ControlTest, StreamRoundTripKeepsTheExtentInEightBytes) {
    SIZEL size = {1234, 0x01020304};
    ASSERT_EQ(control->SetExtent(DVASPECT_CONTENT, &size), S_OK);
    EXPECT_EQ(control->IsDirty(), S_OK);
    ULARGE_INTEGER max;
    EXPECT_EQ(control->GetSizeMax(&max), S_OK);
    EXPECT_EQ(max.QuadPart, 8u);

    Ref<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, reinterpret_cast<IStream**>(stream.out())), S_OK);
    ASSERT_EQ(control->Save(stream.p, FALSE), S_OK);
    EXPECT_EQ(control->IsDirty(), S_OK) << "Save without fClearDirty cleared the flag";
    STATSTG st;
    ASSERT_EQ(stream->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, 8u);
    HGLOBAL global = nullptr;
    ASSERT_EQ(GetHGlobalFromStream(stream.p, &global), S_OK);
    const unsigned char* bytes = static_cast<const unsigned char*>(GlobalLock(global));
    const std::vector<unsigned char> got(bytes, bytes + 8);
    GlobalUnlock(global);
    EXPECT_EQ(got, (std::vector<unsigned char>{0xd2, 0x04, 0, 0, 0x04, 0x03, 0x02, 0x01}));

    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ASSERT_EQ(control->Save(stream.p, TRUE), S_OK);
    EXPECT_EQ(control->IsDirty(), S_FALSE);

    Ref<TestControl> other(new TestControl());
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ASSERT_EQ(other->Load(stream.p), S_OK);
    SIZEL loaded;
    ASSERT_EQ(other->GetExtent(DVASPECT_CONTENT, &loaded), S_OK);
    EXPECT_EQ(loaded.cx, 1234);
    EXPECT_EQ(loaded.cy, 0x01020304);
    EXPECT_EQ(other->IsDirty(), S_FALSE);
    EXPECT_EQ(other->InitNew(), E_UNEXPECTED) << "InitNew after Load";
    EXPECT_EQ(control->InitNew(), S_OK);
}

TEST_F(ControlTest, StreamLoadRefusesTruncatedAndUnrepresentableState) {
    struct Case {
        std::vector<unsigned char> bytes;
        HRESULT expected;
    };
    std::vector<Case> cases;
    const std::vector<unsigned char> good = {0x10, 0, 0, 0, 0x20, 0, 0, 0};
    for (size_t n = 0; n < good.size(); ++n)
        cases.push_back({std::vector<unsigned char>(good.begin(), good.begin() + n), STG_E_READFAULT});
    cases.push_back({{0, 0, 0, 0x80, 0x20, 0, 0, 0}, E_INVALIDARG});           // _cx above LONG_MAX
    cases.push_back({{0x10, 0, 0, 0, 0xff, 0xff, 0xff, 0xff}, E_INVALIDARG});  // _cy
    cases.push_back({good, S_OK});
    for (const Case& c : cases) {
        Ref<TestControl> fresh(new TestControl());
        Ref<IStream> stream;
        ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, reinterpret_cast<IStream**>(stream.out())), S_OK);
        if (!c.bytes.empty()) {
            ASSERT_EQ(stream->Write(c.bytes.data(), ULONG(c.bytes.size()), nullptr), S_OK);
        }
        LARGE_INTEGER zero = {};
        stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        EXPECT_EQ(fresh->Load(stream.p), c.expected) << c.bytes.size() << " bytes";
        SIZEL size;
        fresh->GetExtent(DVASPECT_CONTENT, &size);
        EXPECT_EQ(size.cx, c.expected == S_OK ? 0x10 : 2540) << "extent changed by a failed load";
        EXPECT_EQ(fresh->InitNew(), c.expected == S_OK ? E_UNEXPECTED : S_OK);
    }
}

TEST_F(ControlTest, StorageRoundTripUsesTheContentsStream) {
    Ref<ILockBytes> bytes;
    ASSERT_EQ(CreateILockBytesOnHGlobal(nullptr, TRUE, reinterpret_cast<ILockBytes**>(bytes.out())), S_OK);
    Ref<IStorage> stg;
    ASSERT_EQ(StgCreateDocfileOnILockBytes(bytes.p, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                           reinterpret_cast<IStorage**>(stg.out())),
              S_OK);
    EXPECT_EQ(control->SaveCompleted(nullptr), E_UNEXPECTED) << "nothing saved yet";
    ASSERT_EQ(control->InitNew(stg.p), S_OK);
    EXPECT_EQ(control->IsDirty(), S_OK);
    EXPECT_EQ(control->InitNew(stg.p), CO_E_ALREADYINITIALIZED);
    EXPECT_EQ(control->Load(stg.p), CO_E_ALREADYINITIALIZED);
    SIZEL size = {300, 400};
    ASSERT_EQ(control->SetExtent(DVASPECT_CONTENT, &size), S_OK);
    ASSERT_EQ(control->Save(stg.p, TRUE), S_OK);
    EXPECT_EQ(control->IsDirty(), S_OK) << "cleared before SaveCompleted";
    ASSERT_EQ(control->SaveCompleted(nullptr), S_OK);
    EXPECT_EQ(control->IsDirty(), S_FALSE);
    EXPECT_EQ(control->SaveCompleted(nullptr), E_UNEXPECTED);
    {
        Ref<IStream> contents;
        ASSERT_EQ(stg->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                  reinterpret_cast<IStream**>(contents.out())),
                  S_OK);
        STATSTG st;
        ASSERT_EQ(contents->Stat(&st, STATFLAG_NONAME), S_OK);
        EXPECT_EQ(st.cbSize.QuadPart, 8u);
    }
    ASSERT_EQ(control->HandsOffStorage(), S_OK);
    EXPECT_EQ(control->SaveCompleted(nullptr), E_INVALIDARG);
    EXPECT_EQ(control->SaveCompleted(stg.p), S_OK);

    Ref<TestControl> other(new TestControl());
    ASSERT_EQ(other->Load(stg.p), S_OK);
    SIZEL loaded;
    other->GetExtent(DVASPECT_CONTENT, &loaded);
    EXPECT_EQ(loaded.cx, 300);
    EXPECT_EQ(loaded.cy, 400);
    EXPECT_EQ(other->IsDirty(), S_FALSE);

    Ref<IStorage> empty;
    ASSERT_EQ(stg->CreateStorage(L"empty", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                 reinterpret_cast<IStorage**>(empty.out())),
              S_OK);
    Ref<TestControl> third(new TestControl());
    EXPECT_EQ(third->Load(empty.p), STG_E_FILENOTFOUND);
    EXPECT_EQ(third->InitNew(empty.p), S_OK) << "a failed Load left the object initialised";
}

TEST_F(ControlTest, NullPointersAreRefused) {
    std::vector<std::pair<const char*, std::function<HRESULT()>>> calls = {
        {"GetMiscStatus", [&] { return control->GetMiscStatus(DVASPECT_CONTENT, nullptr); }},
        {"GetExtent", [&] { return control->GetExtent(DVASPECT_CONTENT, static_cast<SIZEL*>(nullptr)); }},
        {"SetExtent", [&] { return control->SetExtent(DVASPECT_CONTENT, nullptr); }},
        {"ViewGetExtent", [&] { return control->GetExtent(DVASPECT_CONTENT, -1, nullptr, nullptr); }},
        {"GetClientSite", [&] { return control->GetClientSite(nullptr); }},
        {"GetUserClassID", [&] { return control->GetUserClassID(nullptr); }},
        {"GetUserType", [&] { return control->GetUserType(USERCLASSTYPE_FULL, nullptr); }},
        {"EnumVerbs", [&] { return control->EnumVerbs(nullptr); }},
        {"Advise",
         [&] {
             DWORD c;
             return control->Advise(nullptr, &c);
         }},
        {"EnumAdvise", [&] { return control->EnumAdvise(nullptr); }},
        {"GetClassID", [&] { return control->GetClassID(nullptr); }},
        {"LoadStream", [&] { return control->Load(static_cast<IStream*>(nullptr)); }},
        {"SaveStream", [&] { return control->Save(static_cast<IStream*>(nullptr), TRUE); }},
        {"GetSizeMax", [&] { return control->GetSizeMax(nullptr); }},
        {"InitNewStorage", [&] { return control->InitNew(static_cast<IStorage*>(nullptr)); }},
        {"LoadStorage", [&] { return control->Load(static_cast<IStorage*>(nullptr)); }},
        {"SaveStorage", [&] { return control->Save(static_cast<IStorage*>(nullptr), TRUE); }},
        {"GetPages", [&] { return control->GetPages(nullptr); }},
        {"QuickActivate",
         [&] {
             QACONTROL q;
             std::memset(&q, 0, sizeof q);
             q.cbSize = sizeof q;
             return control->QuickActivate(nullptr, &q);
         }},
        {"SetContentExtent", [&] { return control->SetContentExtent(nullptr); }},
        {"GetContentExtent", [&] { return control->GetContentExtent(nullptr); }},
        {"GetData", [&] { return control->GetData(nullptr, nullptr); }},
        {"QueryGetData", [&] { return control->QueryGetData(nullptr); }},
        {"DAdvise",
         [&] {
             DWORD c;
             return control->DAdvise(nullptr, 0, nullptr, &c);
         }},
        {"EnumDAdvise", [&] { return control->EnumDAdvise(nullptr); }},
        {"GetWindow", [&] { return control->GetWindow(nullptr); }},
        {"SetObjectRects", [&] { return control->SetObjectRects(nullptr, nullptr); }},
        {"OnWindowMessage", [&] { return control->OnWindowMessage(WM_PAINT, 0, 0, nullptr); }},
        {"GetDropTarget", [&] { return control->GetDropTarget(nullptr); }},
        {"GetViewStatus", [&] { return control->GetViewStatus(nullptr); }},
        {"GetRect", [&] { return control->GetRect(DVASPECT_CONTENT, nullptr); }},
        {"QueryHitPoint",
         [&] {
             return control->QueryHitPoint(DVASPECT_CONTENT, nullptr, POINT{0, 0}, 0, nullptr);
         }},
        {"GetControlInfo", [&] { return control->GetControlInfo(nullptr); }},
        {"TranslateAccelerator", [&] { return control->TranslateAccelerator(nullptr); }},
    };
    for (auto& call : calls) EXPECT_EQ(call.second(), E_POINTER) << call.first;
    // Out-parameters come back cleared on failure.
    void* out = kSentinel;
    EXPECT_EQ(control->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_OBJFULL, reinterpret_cast<IMoniker**>(&out)),
              E_NOTIMPL);
    EXPECT_EQ(out, nullptr);
    out = kSentinel;
    EXPECT_EQ(control->GetClipboardData(0, reinterpret_cast<IDataObject**>(&out)), E_NOTIMPL);
    EXPECT_EQ(out, nullptr);
    out = kSentinel;
    EXPECT_EQ(control->EnumFormatEtc(DATADIR_GET, reinterpret_cast<IEnumFORMATETC**>(&out)), OLE_S_USEREG);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(control->EnumFormatEtc(DATADIR_SET, reinterpret_cast<IEnumFORMATETC**>(&out)), E_NOTIMPL);
    DWORD cookie = 77;
    EXPECT_EQ(control->DAdvise(nullptr, 0, nullptr, &cookie), E_POINTER);
    EXPECT_EQ(cookie, 0u);
    HWND hwnd = reinterpret_cast<HWND>(kSentinel);
    EXPECT_EQ(control->GetWindow(&hwnd), E_FAIL) << "not active: no window";
    EXPECT_EQ(hwnd, nullptr);
}

TEST_F(ControlTest, FixedAnswersOfUnsupportedMembers) {
    DWORD freeze = 9;
    LOGPALETTE* palette = nullptr;
    MSG msg = {};
    LRESULT result = 5;
    SIZEL size;
    FORMATETC fe = {CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
    FORMATETC feOut;
    STGMEDIUM medium = {};
    const std::vector<std::pair<HRESULT, HRESULT>> answers = {
        {control->GetColorSet(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, &palette), E_NOTIMPL},
        {control->Freeze(DVASPECT_CONTENT, -1, nullptr, &freeze), E_NOTIMPL},
        {control->Unfreeze(1), E_NOTIMPL},
        {control->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, &size), E_NOTIMPL},
        {control->SetMoniker(OLEWHICHMK_OBJFULL, nullptr), E_NOTIMPL},
        {control->InitFromData(nullptr, TRUE, 0), E_NOTIMPL},
        {control->SetColorScheme(nullptr), E_NOTIMPL},
        {control->ContextSensitiveHelp(TRUE), E_NOTIMPL},
        {control->ReactivateAndUndo(), E_NOTIMPL},
        {control->GetDataHere(&fe, &medium), E_NOTIMPL},
        {control->GetCanonicalFormatEtc(&fe, &feOut), E_NOTIMPL},
        {control->SetData(&fe, &medium, FALSE), E_NOTIMPL},
        {control->Update(), S_OK},
        {control->IsUpToDate(), S_OK},
        {control->SetHostNames(L"app", L"doc"), S_OK},
        {control->OnMnemonic(&msg), S_OK},
        {control->OnAmbientPropertyChange(DISPID_UNKNOWN), S_OK},
        {control->FreezeEvents(TRUE), S_OK},
        {control->OnFrameWindowActivate(TRUE), S_OK},
        {control->OnDocWindowActivate(TRUE), S_OK},
        {control->ResizeBorder(nullptr, nullptr, TRUE), S_OK},
        {control->EnableModeless(TRUE), S_OK},
        {control->TranslateAccelerator(&msg), S_FALSE},
        {control->OnWindowMessage(WM_LBUTTONDOWN, 0, 0, &result), S_FALSE},
        {control->Unadvise(1), OLE_E_NOCONNECTION},
        {control->DUnadvise(1), OLE_E_NOCONNECTION},
        {control->Close(7), E_INVALIDARG},
    };
    for (size_t i = 0; i < answers.size(); ++i) EXPECT_EQ(answers[i].first, answers[i].second) << "answer #" << i;
    EXPECT_EQ(freeze, 0u);
    EXPECT_EQ(result, 0);
}

TEST_F(ControlTest, HitTestsAgainstTheGivenBounds) {
    const RECT bounds = {10, 10, 50, 30};
    struct Case {
        POINT pt;
        DWORD expected;
    } cases[] = {{{10, 10}, HITRESULT_HIT},
                 {{49, 29}, HITRESULT_HIT},
                 {{50, 20}, HITRESULT_OUTSIDE},
                 {{9, 20}, HITRESULT_OUTSIDE},
                 {{20, 30}, HITRESULT_OUTSIDE}};
    for (const Case& c : cases) {
        DWORD hit = 99;
        EXPECT_EQ(control->QueryHitPoint(DVASPECT_CONTENT, &bounds, c.pt, 0, &hit), S_OK);
        EXPECT_EQ(hit, c.expected) << c.pt.x << "," << c.pt.y;
    }
    const RECT touching = {45, 25, 80, 80}, apart = {60, 0, 80, 80};
    DWORD hit = 99;
    EXPECT_EQ(control->QueryHitRect(DVASPECT_CONTENT, &bounds, &touching, 0, &hit), S_OK);
    EXPECT_EQ(hit, DWORD(HITRESULT_HIT));
    EXPECT_EQ(control->QueryHitRect(DVASPECT_CONTENT, &bounds, &apart, 0, &hit), S_OK);
    EXPECT_EQ(hit, DWORD(HITRESULT_OUTSIDE));
}

TEST_F(ControlTest, DrawPaintsFrameAndCentredTextWithinTheBounds) {
    Canvas canvas(200, 140);
    const RECTL bounds = {20, 15, 180, 115};
    ASSERT_EQ(control->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.dc, &bounds, nullptr, nullptr, 0),
              S_OK);
    expectControlPicture(canvas, RECT{20, 15, 180, 115});

    // Narrower than the text: the text is cut at the bounds.
    Canvas narrow(100, 60);
    const RECTL small = {30, 10, 70, 50};
    ASSERT_EQ(control->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, narrow.dc, &small, nullptr, nullptr, 0),
              S_OK);
    for (int y = 0; y < narrow.height; ++y)
        for (int x = 0; x < narrow.width; ++x)
            if (x < 30 || x >= 70 || y < 10 || y >= 50) {
                ASSERT_EQ(narrow.at(x, y), kMarker) << x << "," << y;
            }

    EXPECT_EQ(control->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, canvas.dc, &bounds, nullptr, nullptr, 0),
              DV_E_DVASPECT);
    EXPECT_EQ(control->Draw(DVASPECT_CONTENT, 0, nullptr, nullptr, nullptr, canvas.dc, &bounds, nullptr, nullptr, 0),
              DV_E_LINDEX);
    EXPECT_EQ(control->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, nullptr, &bounds, nullptr, nullptr, 0),
              E_INVALIDARG);
    EXPECT_EQ(control->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.dc, nullptr, nullptr, nullptr, 0),
              E_INVALIDARG)
        << "no bounds and not windowless in place";
}

TEST_F(ControlTest, MetafilePicturePlaysBackTheSameDrawing) {
    FORMATETC fe = {CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
    EXPECT_EQ(control->QueryGetData(&fe), S_OK);
    const struct {
        FORMATETC fe;
        HRESULT expected;
    } wrong[] = {{{CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}, DV_E_FORMATETC},
                 {{CF_ENHMETAFILE, nullptr, DVASPECT_CONTENT, -1, TYMED_ENHMF}, DV_E_FORMATETC},
                 {{CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}, DV_E_TYMED},
                 {{CF_METAFILEPICT, nullptr, DVASPECT_ICON, -1, TYMED_MFPICT}, DV_E_DVASPECT},
                 {{CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, 0, TYMED_MFPICT}, DV_E_LINDEX}};
    for (const auto& w : wrong) {
        FORMATETC copy = w.fe;
        EXPECT_EQ(control->QueryGetData(&copy), w.expected);
        STGMEDIUM m;
        std::memset(&m, 0xcd, sizeof m);
        EXPECT_EQ(control->GetData(&copy, &m), w.expected);
        EXPECT_EQ(m.tymed, DWORD(TYMED_NULL));
        EXPECT_EQ(m.pUnkForRelease, nullptr);
    }

    SIZEL size = {4000, 2500};
    ASSERT_EQ(control->SetExtent(DVASPECT_CONTENT, &size), S_OK);
    STGMEDIUM medium;
    ASSERT_EQ(control->GetData(&fe, &medium), S_OK);
    ASSERT_EQ(medium.tymed, DWORD(TYMED_MFPICT));
    EXPECT_EQ(medium.pUnkForRelease, nullptr);
    const METAFILEPICT* pict = static_cast<const METAFILEPICT*>(GlobalLock(medium.hMetaFilePict));
    ASSERT_NE(pict, nullptr);
    EXPECT_EQ(pict->mm, MM_ANISOTROPIC);
    EXPECT_EQ(pict->xExt, 4000);
    EXPECT_EQ(pict->yExt, 2500);
    // Play it 1:1 in screen pixels at an offset, as a container would.
    HDC screen = GetDC(nullptr);
    const int w = MulDiv(4000, GetDeviceCaps(screen, LOGPIXELSX), 2540);
    const int h = MulDiv(2500, GetDeviceCaps(screen, LOGPIXELSY), 2540);
    ReleaseDC(nullptr, screen);
    Canvas canvas(w + 40, h + 30);
    SetMapMode(canvas.dc, MM_ANISOTROPIC);
    SetViewportOrgEx(canvas.dc, 25, 12, nullptr);
    SetViewportExtEx(canvas.dc, w, h, nullptr);
    ASSERT_TRUE(PlayMetaFile(canvas.dc, pict->hMF));
    GlobalUnlock(medium.hMetaFilePict);
    ReleaseStgMedium(&medium);
    SetMapMode(canvas.dc, MM_TEXT);
    expectControlPicture(canvas, RECT{25, 12, 25 + w, 12 + h});
}

TEST_F(ControlTest, WindowedActivationCreatesAChildWindowAtThePositionRect) {
    TestSite site(parent, pos, SiteKind::Plain);
    ASSERT_EQ(control->SetClientSite(&site), S_OK);
    EXPECT_EQ(site.refs, 2u);
    ASSERT_EQ(control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, -1, parent, &pos), S_OK);
    EXPECT_EQ(site.activations, 1);
    EXPECT_EQ(site.shows, 1);
    EXPECT_EQ(site.uiActivations, 0);
    HWND hwnd = nullptr;
    ASSERT_EQ(control->GetWindow(&hwnd), S_OK);
    ASSERT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(GetParent(hwnd), parent);
    RECT r;
    GetWindowRect(hwnd, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_TRUE(EqualRect(&r, &pos)) << r.left << "," << r.top << "," << r.right << "," << r.bottom;
    // The window paints the control's drawing.
    Canvas canvas(160, 100);
    SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc), PRF_CLIENT);
    expectControlPicture(canvas, RECT{0, 0, 160, 100});

    const RECT moved = {30, 40, 130, 90};
    ASSERT_EQ(control->SetObjectRects(&moved, &moved), S_OK);
    GetWindowRect(hwnd, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_TRUE(EqualRect(&r, &moved));

    ASSERT_EQ(control->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site, -1, parent, &pos), S_OK);
    EXPECT_EQ(site.uiActivations, 1);
    EXPECT_EQ(site.activations, 1) << "already in place";
    ASSERT_EQ(control->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(site.uiDeactivations, 1);
    EXPECT_EQ(site.deactivations, 1);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(control->GetWindow(&hwnd), E_FAIL);
    EXPECT_EQ(control->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(site.deactivations, 1) << "deactivated twice";
    ASSERT_EQ(control->SetClientSite(nullptr), S_OK);
    EXPECT_EQ(site.refs, 1u);

    // Without windows left, the module may drop its window class; the next
    // activation registers it again.
    WNDCLASSEXW wc;
    std::memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    ControlBase::unregisterWindowClass();
    EXPECT_FALSE(GetClassInfoExW(GetModuleHandleW(nullptr), ControlBase::kWindowClassName, &wc));
    ASSERT_EQ(control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, -1, parent, &pos), S_OK);
    EXPECT_TRUE(IsWindow(control->controlWindow()));
    EXPECT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), ControlBase::kWindowClassName, &wc));
    EXPECT_EQ(control->DoVerb(OLEIVERB_HIDE, nullptr, &site, -1, parent, &pos), S_OK);
    EXPECT_EQ(control->controlWindow(), nullptr);
    EXPECT_EQ(site.refs, 1u);
}

TEST_F(ControlTest, ActivationFollowsWhatTheSiteOffers) {
    struct Case {
        SiteKind kind;
        bool windowless;
        int activations, activationsEx;
        DWORD flags;
    };
    const Case cases[] = {{SiteKind::Plain, false, 1, 0, 0xffffffff},
                          {SiteKind::Ex, false, 0, 1, 0},
                          {SiteKind::WindowlessRefused, false, 0, 1, 0},
                          {SiteKind::Windowless, true, 0, 1, ACTIVATE_WINDOWLESS}};
    for (const Case& c : cases) {
        TestSite site(parent, pos, c.kind);
        Ref<TestControl> ctl(new TestControl());
        ASSERT_EQ(ctl->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, -1, parent, &pos), S_OK);
        EXPECT_EQ(site.activations, c.activations);
        EXPECT_EQ(site.activationsEx, c.activationsEx);
        EXPECT_EQ(site.activateExFlags, c.flags);
        HWND hwnd = reinterpret_cast<HWND>(kSentinel);
        EXPECT_EQ(ctl->GetWindow(&hwnd), c.windowless ? E_FAIL : S_OK);
        EXPECT_EQ(hwnd == nullptr, c.windowless);
        EXPECT_EQ(GetWindow(parent, GW_CHILD) == nullptr, c.windowless) << "child windows of the parent";
        if (c.windowless) {
            // Without bounds, a windowless control draws at its position.
            Canvas canvas(200, 150);
            ASSERT_EQ(
                ctl->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.dc, nullptr, nullptr, nullptr, 0),
                S_OK);
            expectControlPicture(canvas, pos);
        }
        ASSERT_EQ(ctl->InPlaceDeactivate(), S_OK);
        EXPECT_EQ(site.deactivations + site.deactivationsEx, 1);
        EXPECT_EQ(site.deactivationsEx, c.activationsEx);
        EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
        EXPECT_EQ(site.refs, 1u);
    }
}

TEST_F(ControlTest, VerbsAndTheirResults) {
    TestSite site(parent, pos, SiteKind::Plain);
    EXPECT_EQ(control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, -1, parent, &pos), E_UNEXPECTED)
        << "no site at all";
    control->SetClientSite(&site);
    EXPECT_EQ(control->DoVerb(OLEIVERB_OPEN, nullptr, nullptr, -1, parent, &pos), E_NOTIMPL);
    EXPECT_EQ(control->DoVerb(OLEIVERB_PROPERTIES, nullptr, nullptr, -1, parent, &pos), E_NOTIMPL);
    EXPECT_EQ(control->DoVerb(OLEIVERB_DISCARDUNDOSTATE, nullptr, nullptr, -1, parent, &pos), S_OK);
    EXPECT_FALSE(control->inPlaceActive());
    EXPECT_EQ(control->DoVerb(7, nullptr, nullptr, -1, parent, &pos), OLEOBJ_S_INVALIDVERB);
    EXPECT_TRUE(control->uiActive()) << "an unknown positive verb acts as the primary verb";
    EXPECT_EQ(control->DoVerb(OLEIVERB_HIDE, nullptr, nullptr, -1, parent, &pos), S_OK);
    EXPECT_FALSE(control->inPlaceActive());
    EXPECT_EQ(control->DoVerb(OLEIVERB_PRIMARY, nullptr, nullptr, -1, parent, &pos), S_OK);
    EXPECT_TRUE(control->uiActive());
    EXPECT_EQ(control->UIDeactivate(), S_OK);
    EXPECT_TRUE(control->inPlaceActive());
    EXPECT_FALSE(control->uiActive());
    EXPECT_EQ(site.uiDeactivations, 2);
    EXPECT_EQ(control->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(site.refs, 1u);
}

TEST_F(ControlTest, CloseSavesWhenDirtyAndLetsGoOfSiteAndSinks) {
    TestSite site(parent, pos, SiteKind::Plain);
    TestSink sink;
    control->SetClientSite(&site);
    DWORD cookie = 0;
    ASSERT_EQ(control->Advise(&sink, &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    EXPECT_EQ(control->Unadvise(cookie + 100), OLE_E_NOCONNECTION);
    ASSERT_EQ(control->SetAdvise(DVASPECT_CONTENT, 0, &sink), S_OK);
    ASSERT_EQ(control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, -1, parent, &pos), S_OK);
    HWND hwnd = control->controlWindow();
    SIZEL size = {100, 100};
    control->SetExtent(DVASPECT_CONTENT, &size);
    EXPECT_EQ(sink.viewChanges, 1);

    // A container that cannot save keeps the control open.
    site.saveResult = E_FAIL;
    EXPECT_EQ(control->Close(OLECLOSE_SAVEIFDIRTY), E_FAIL);
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(site.refs, 3u) << "client site and in-place site still held";
    site.saveResult = S_OK;
    ASSERT_EQ(control->Close(OLECLOSE_PROMPTSAVE), S_OK);
    EXPECT_EQ(site.saves, 2);
    EXPECT_EQ(sink.closes, 1);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(site.refs, 1u) << "site kept after Close";
    EXPECT_EQ(sink.refs, 1u) << "sinks kept after Close";
    IOleClientSite* got = reinterpret_cast<IOleClientSite*>(kSentinel);
    EXPECT_EQ(control->GetClientSite(&got), S_OK);
    EXPECT_EQ(got, nullptr);

    // The destructor lets go too, window included.
    TestControl* other = new TestControl();
    other->SetClientSite(&site);
    ASSERT_EQ(other->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, -1, parent, &pos), S_OK);
    hwnd = other->controlWindow();
    DWORD dataCookie = 0;
    FORMATETC fe = {CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
    ASSERT_EQ(other->DAdvise(&fe, 0, &sink, &dataCookie), S_OK);
    other->SetExtent(DVASPECT_CONTENT, &size);
    EXPECT_EQ(sink.dataChanges, 1);
    EXPECT_EQ(other->Release(), 0u);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(site.refs, 1u);
    EXPECT_EQ(sink.refs, 1u);
}

TEST_F(ControlTest, ViewAdviseFlags) {
    TestSink sink;
    ASSERT_EQ(control->SetAdvise(DVASPECT_CONTENT, ADVF_PRIMEFIRST, &sink), S_OK);
    EXPECT_EQ(sink.viewChanges, 1) << "PRIMEFIRST notifies at once";
    DWORD aspects = 0, advf = 0;
    IAdviseSink* got = nullptr;
    ASSERT_EQ(control->GetAdvise(&aspects, &advf, &got), S_OK);
    EXPECT_EQ(got, static_cast<IAdviseSink*>(&sink));
    EXPECT_EQ(aspects, DWORD(DVASPECT_CONTENT));
    EXPECT_EQ(advf, DWORD(ADVF_PRIMEFIRST));
    got->Release();
    ASSERT_EQ(control->SetAdvise(DVASPECT_CONTENT, ADVF_ONLYONCE, &sink), S_OK);
    SIZEL size = {10, 10};
    control->SetExtent(DVASPECT_CONTENT, &size);
    control->SetExtent(DVASPECT_CONTENT, &size);
    EXPECT_EQ(sink.viewChanges, 2) << "ONLYONCE notified more than once";
    ASSERT_EQ(control->GetAdvise(nullptr, nullptr, &got), S_OK);
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(sink.refs, 1u);
}

TEST_F(ControlTest, QuickActivateTakesTheSiteAndFillsTheControlBlock) {
    TestSite site(parent, pos, SiteKind::Plain);
    TestSink sink;
    QACONTAINER container;
    std::memset(&container, 0, sizeof container);
    container.cbSize = sizeof container;
    container.pClientSite = &site;
    container.pAdviseSink = &sink;
    QACONTROL qa;
    std::memset(&qa, 0xcd, sizeof qa);
    qa.cbSize = sizeof qa;
    ASSERT_EQ(control->QuickActivate(&container, &qa), S_OK);
    EXPECT_EQ(qa.cbSize, sizeof qa);
    EXPECT_EQ(qa.dwMiscStatus, 0x20591u);
    EXPECT_EQ(qa.dwViewStatus, DWORD(VIEWSTATUS_SOLIDBKGND | VIEWSTATUS_OPAQUE));
    EXPECT_EQ(qa.dwEventCookie, 0u);
    EXPECT_EQ(qa.dwPropNotifyCookie, 0u);
    EXPECT_EQ(qa.dwPointerActivationPolicy, 0u);
    EXPECT_EQ(site.refs, 2u);
    IAdviseSink* got = nullptr;
    DWORD aspects = 0;
    ASSERT_EQ(control->GetAdvise(&aspects, nullptr, &got), S_OK);
    EXPECT_EQ(got, static_cast<IAdviseSink*>(&sink));
    EXPECT_EQ(aspects, DWORD(DVASPECT_CONTENT));
    got->Release();

    // An older, shorter control block: the last field is not written.
    QACONTROL old;
    std::memset(&old, 0xcd, sizeof old);
    old.cbSize = offsetof(QACONTROL, dwPointerActivationPolicy);
    ASSERT_EQ(control->QuickActivate(&container, &old), S_OK);
    EXPECT_EQ(old.dwMiscStatus, 0x20591u);
    EXPECT_EQ(old.dwPointerActivationPolicy, 0xcdcdcdcdu);
    old.cbSize = 8;
    EXPECT_EQ(control->QuickActivate(&container, &old), E_INVALIDARG);
    container.cbSize = 4;
    EXPECT_EQ(control->QuickActivate(&container, &qa), E_INVALIDARG);

    SIZEL size = {777, 888};
    ASSERT_EQ(control->SetContentExtent(&size), S_OK);
    SIZEL back = {};
    ASSERT_EQ(control->GetContentExtent(&back), S_OK);
    EXPECT_EQ(back.cx, 777);
    EXPECT_EQ(back.cy, 888);
    EXPECT_EQ(control->IsDirty(), S_OK);
    control->Close(OLECLOSE_NOSAVE);
    EXPECT_EQ(site.refs, 1u);
    EXPECT_EQ(sink.refs, 1u);
}

}  // namespace
