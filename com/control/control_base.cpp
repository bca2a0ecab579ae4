#include "com/control/control_base.h"

#include <olectl.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

const wchar_t ControlBase::kContentsStream[] = L"Contents";
const wchar_t ControlBase::kWindowClassName[] = L"OrvantaControlWindow";

namespace {

// The module that holds this code (the DLL of the server, or the program
// of a test): window classes belong to it.
HINSTANCE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&thisModule), &module);
    return module;
}

template <typename T>
void releaseAndClear(T*& p) {
    if (p) {
        T* old = p;
        p = nullptr;
        old->Release();
    }
}

RECT normalized(LONG left, LONG top, LONG right, LONG bottom) {
    RECT r;
    r.left = left < right ? left : right;
    r.right = left < right ? right : left;
    r.top = top < bottom ? top : bottom;
    r.bottom = top < bottom ? bottom : top;
    return r;
}

void putU32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

uint32_t getU32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

ControlBase::ControlBase(REFCLSID clsid, DWORD miscStatus, const char* drawText)
    : clsid_(clsid), miscStatus_(miscStatus), text_(drawText ? drawText : "") {
    extent_.cx = kDefaultExtent;
    extent_.cy = kDefaultExtent;
}

// The derived part of the object is already gone here, so nothing may call
// back into the object: the window is destroyed and every held interface is
// released without notifying the container (a container that still had the
// control in place would not have released its last reference).
ControlBase::~ControlBase() {
    destroyControlWindow();
    releaseAll();
}

void ControlBase::releaseAll() {
    inPlaceActive_ = false;
    uiActive_ = false;
    releaseAndClear(frame_);
    releaseAndClear(uiWindow_);
    releaseAndClear(windowlessSite_);
    releaseAndClear(inPlaceSite_);
    releaseAndClear(viewSink_);
    releaseAndClear(oleAdviseHolder_);
    releaseAndClear(dataAdviseHolder_);
    releaseAndClear(clientSite_);
    releaseAndClear(storage_);
}

HRESULT ControlBase::queryControlInterface(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    IUnknown* found = nullptr;
    if (IsEqualIID(riid, IID_IViewObjectEx))
        found = static_cast<IViewObjectEx*>(this);
    else if (IsEqualIID(riid, IID_IViewObject2))
        found = static_cast<IViewObject2*>(this);
    else if (IsEqualIID(riid, IID_IViewObject))
        found = static_cast<IViewObject*>(this);
    else if (IsEqualIID(riid, IID_IOleInPlaceObjectWindowless))
        found = static_cast<IOleInPlaceObjectWindowless*>(this);
    else if (IsEqualIID(riid, IID_IOleInPlaceObject))
        found = static_cast<IOleInPlaceObject*>(this);
    else if (IsEqualIID(riid, IID_IOleWindow))
        found = static_cast<IOleWindow*>(static_cast<IOleInPlaceObject*>(this));
    else if (IsEqualIID(riid, IID_IOleInPlaceActiveObject))
        found = static_cast<IOleInPlaceActiveObject*>(this);
    else if (IsEqualIID(riid, IID_IOleControl))
        found = static_cast<IOleControl*>(this);
    else if (IsEqualIID(riid, IID_IOleObject))
        found = static_cast<IOleObject*>(this);
    else if (IsEqualIID(riid, IID_IPersistStreamInit))
        found = static_cast<IPersistStreamInit*>(this);
    else if (IsEqualIID(riid, IID_IPersist))
        found = static_cast<IPersist*>(static_cast<IPersistStreamInit*>(this));
    else if (IsEqualIID(riid, IID_ISpecifyPropertyPages))
        found = static_cast<ISpecifyPropertyPages*>(this);
    else if (IsEqualIID(riid, IID_IQuickActivate))
        found = static_cast<IQuickActivate*>(this);
    else if (IsEqualIID(riid, IID_IPersistStorage))
        found = static_cast<IPersistStorage*>(this);
    else if (IsEqualIID(riid, IID_IDataObject))
        found = static_cast<IDataObject*>(this);
    if (!found) return E_NOINTERFACE;
    found->AddRef();  // the derived class's AddRef (it overrides every slot)
    *out = found;
    return S_OK;
}

// ---- Drawing ---------------------------------------------------------------

void ControlBase::drawContent(HDC hdc, const RECT& bounds) const {
    const int saved = SaveDC(hdc);
    IntersectClipRect(hdc, bounds.left, bounds.top, bounds.right, bounds.bottom);
    SelectObject(hdc, GetStockObject(BLACK_PEN));
    SelectObject(hdc, GetStockObject(WHITE_BRUSH));
    Rectangle(hdc, bounds.left, bounds.top, bounds.right, bounds.bottom);
    SetTextAlign(hdc, TA_CENTER | TA_BASELINE);
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, RGB(0, 0, 0));
    const int x = bounds.left + (bounds.right - bounds.left) / 2;
    const int y = bounds.top + (bounds.bottom - bounds.top) / 2;
    TextOutA(hdc, x, y, text_.c_str(), static_cast<int>(text_.size()));
    RestoreDC(hdc, saved);
}

// ---- IViewObject / IViewObject2 / IViewObjectEx ------------------------------

HRESULT STDMETHODCALLTYPE ControlBase::Draw(DWORD dwDrawAspect, LONG lindex, void*, DVTARGETDEVICE*, HDC, HDC hdcDraw,
                                            LPCRECTL lprcBounds, LPCRECTL, WINBOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                                            ULONG_PTR) {
    if (!hdcDraw) return E_INVALIDARG;
    if (dwDrawAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (lindex != -1) return DV_E_LINDEX;
    RECT bounds;
    if (lprcBounds)
        bounds = normalized(lprcBounds->left, lprcBounds->top, lprcBounds->right, lprcBounds->bottom);
    else if (windowless())
        bounds = posRect_;  // a windowless control draws at its place in the container
    else
        return E_INVALIDARG;
    drawContent(hdcDraw, bounds);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** ppColorSet) {
    if (!ppColorSet) return E_POINTER;
    *ppColorSet = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::Freeze(DWORD, LONG, void*, DWORD* pdwFreeze) {
    if (!pdwFreeze) return E_POINTER;
    *pdwFreeze = 0;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::Unfreeze(DWORD) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE ControlBase::SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* pAdvSink) {
    if (pAdvSink) pAdvSink->AddRef();
    releaseAndClear(viewSink_);
    viewSink_ = pAdvSink;
    viewAspects_ = pAdvSink ? aspects : 0;
    viewAdvf_ = pAdvSink ? advf : 0;
    if (viewSink_ && (viewAdvf_ & ADVF_PRIMEFIRST)) sendViewChange();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetAdvise(DWORD* pAspects, DWORD* pAdvf, IAdviseSink** ppAdvSink) {
    // Each out-parameter is optional.
    if (pAspects) *pAspects = viewAspects_;
    if (pAdvf) *pAdvf = viewAdvf_;
    if (ppAdvSink) {
        *ppAdvSink = viewSink_;
        if (viewSink_) viewSink_->AddRef();
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetExtent(DWORD dwDrawAspect, LONG, DVTARGETDEVICE*, LPSIZEL lpsizel) {
    return GetExtent(dwDrawAspect, lpsizel);
}

HRESULT STDMETHODCALLTYPE ControlBase::GetRect(DWORD dwAspect, LPRECTL pRect) {
    if (!pRect) return E_POINTER;
    std::memset(pRect, 0, sizeof *pRect);
    if (dwAspect != DVASPECT_CONTENT) return E_NOTIMPL;
    // HIMETRIC, relative to the drawing origin of the object.
    pRect->right = extent_.cx;
    pRect->bottom = extent_.cy;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetViewStatus(DWORD* pdwStatus) {
    if (!pdwStatus) return E_POINTER;
    *pdwStatus = kViewStatus;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::QueryHitPoint(DWORD dwAspect, LPCRECT pRectBounds, POINT ptlLoc, LONG,
                                                     DWORD* pHitResult) {
    if (pHitResult) *pHitResult = HITRESULT_OUTSIDE;
    if (!pRectBounds || !pHitResult) return E_POINTER;
    if (dwAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *pHitResult = PtInRect(pRectBounds, ptlLoc) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::QueryHitRect(DWORD dwAspect, LPCRECT pRectBounds, LPCRECT pRectLoc, LONG,
                                                    DWORD* pHitResult) {
    if (pHitResult) *pHitResult = HITRESULT_OUTSIDE;
    if (!pRectBounds || !pRectLoc || !pHitResult) return E_POINTER;
    if (dwAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    RECT common;
    *pHitResult = IntersectRect(&common, pRectBounds, pRectLoc) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetNaturalExtent(DWORD, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO*, LPSIZEL) {
    return E_NOTIMPL;
}

// ---- IOleWindow / IOleInPlaceObject / IOleInPlaceObjectWindowless -------------

HRESULT STDMETHODCALLTYPE ControlBase::GetWindow(HWND* phwnd) {
    if (!phwnd) return E_POINTER;
    *phwnd = hwnd_;
    return hwnd_ ? S_OK : E_FAIL;  // windowless or not active: no window
}

HRESULT STDMETHODCALLTYPE ControlBase::ContextSensitiveHelp(WINBOOL) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE ControlBase::InPlaceDeactivate() {
    if (!inPlaceActive_) return S_OK;
    UIDeactivate();
    inPlaceActive_ = false;
    destroyControlWindow();
    releaseAndClear(frame_);
    releaseAndClear(uiWindow_);
    releaseAndClear(windowlessSite_);
    // Detached before the call: the site may call back into the object.
    IOleInPlaceSite* site = inPlaceSite_;
    inPlaceSite_ = nullptr;
    if (site) {
        IOleInPlaceSiteEx* siteEx = nullptr;
        if (activatedEx_ && SUCCEEDED(site->QueryInterface(IID_IOleInPlaceSiteEx, reinterpret_cast<void**>(&siteEx))) &&
            siteEx) {
            siteEx->OnInPlaceDeactivateEx(TRUE);
            siteEx->Release();
        } else {
            site->OnInPlaceDeactivate();
        }
        site->Release();
    }
    activatedEx_ = false;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::UIDeactivate() {
    if (!uiActive_) return S_OK;
    uiActive_ = false;
    if (uiWindow_) uiWindow_->SetActiveObject(nullptr, nullptr);
    if (frame_) frame_->SetActiveObject(nullptr, nullptr);
    if (windowlessSite_) windowlessSite_->SetFocus(FALSE);
    if (inPlaceSite_) inPlaceSite_->OnUIDeactivate(FALSE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::SetObjectRects(LPCRECT lprcPosRect, LPCRECT lprcClipRect) {
    if (!lprcPosRect) return E_POINTER;
    posRect_ = *lprcPosRect;
    // A missing clip rectangle means no clipping beyond the position.
    clipRect_ = lprcClipRect ? *lprcClipRect : *lprcPosRect;
    applyWindowRects();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::ReactivateAndUndo() { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE ControlBase::OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT* plResult) {
    if (!plResult) return E_POINTER;
    *plResult = 0;
    return S_FALSE;  // the control handles no messages
}

HRESULT STDMETHODCALLTYPE ControlBase::GetDropTarget(IDropTarget** ppDropTarget) {
    if (!ppDropTarget) return E_POINTER;
    *ppDropTarget = nullptr;
    return E_NOTIMPL;
}

// ---- IOleInPlaceActiveObject ---------------------------------------------------

HRESULT STDMETHODCALLTYPE ControlBase::TranslateAccelerator(LPMSG lpmsg) {
    if (!lpmsg) return E_POINTER;
    return S_FALSE;
}

HRESULT STDMETHODCALLTYPE ControlBase::OnFrameWindowActivate(WINBOOL) { return S_OK; }

HRESULT STDMETHODCALLTYPE ControlBase::OnDocWindowActivate(WINBOOL) { return S_OK; }

HRESULT STDMETHODCALLTYPE ControlBase::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, WINBOOL) { return S_OK; }

HRESULT STDMETHODCALLTYPE ControlBase::EnableModeless(WINBOOL) { return S_OK; }

// ---- IOleControl -----------------------------------------------------------------

HRESULT STDMETHODCALLTYPE ControlBase::GetControlInfo(CONTROLINFO* pCI) {
    if (!pCI) return E_POINTER;
    // No mnemonics: an empty accelerator table.
    pCI->cb = sizeof(CONTROLINFO);
    pCI->hAccel = nullptr;
    pCI->cAccel = 0;
    pCI->dwFlags = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::OnMnemonic(MSG* pMsg) {
    if (!pMsg) return E_POINTER;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::OnAmbientPropertyChange(DISPID) { return S_OK; }

HRESULT STDMETHODCALLTYPE ControlBase::FreezeEvents(WINBOOL) { return S_OK; }

// ---- IOleObject ---------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE ControlBase::SetClientSite(IOleClientSite* pClientSite) {
    if (pClientSite) pClientSite->AddRef();
    releaseAndClear(clientSite_);
    clientSite_ = pClientSite;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetClientSite(IOleClientSite** ppClientSite) {
    if (!ppClientSite) return E_POINTER;
    *ppClientSite = clientSite_;
    if (clientSite_) clientSite_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

// Close saves through the site when asked to and the extent changed, leaves
// the in-place state, tells advise sinks, and lets go of the site and of
// every sink. A failed save through the site aborts the close, so that a
// container that cannot save does not lose the change silently.
HRESULT STDMETHODCALLTYPE ControlBase::Close(DWORD dwSaveOption) {
    if (dwSaveOption != OLECLOSE_SAVEIFDIRTY && dwSaveOption != OLECLOSE_NOSAVE && dwSaveOption != OLECLOSE_PROMPTSAVE)
        return E_INVALIDARG;
    // The control has no user interface to prompt with: PROMPTSAVE saves
    // when dirty, like SAVEIFDIRTY.
    if (dwSaveOption != OLECLOSE_NOSAVE && dirty_ && clientSite_) {
        const HRESULT hr = clientSite_->SaveObject();
        if (FAILED(hr)) return hr;
    }
    InPlaceDeactivate();
    if (oleAdviseHolder_) oleAdviseHolder_->SendOnClose();
    releaseAndClear(oleAdviseHolder_);
    releaseAndClear(dataAdviseHolder_);
    releaseAndClear(viewSink_);
    viewAspects_ = 0;
    viewAdvf_ = 0;
    releaseAndClear(clientSite_);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE ControlBase::GetMoniker(DWORD, DWORD, IMoniker** ppmk) {
    if (!ppmk) return E_POINTER;
    *ppmk = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::InitFromData(IDataObject*, WINBOOL, DWORD) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE ControlBase::GetClipboardData(DWORD, IDataObject** ppDataObject) {
    if (!ppDataObject) return E_POINTER;
    *ppDataObject = nullptr;
    return E_NOTIMPL;
}

// Verbs: PRIMARY, SHOW and UIACTIVATE activate in place with the control's
// user interface, INPLACEACTIVATE without it; HIDE leaves the in-place state;
// DISCARDUNDOSTATE has nothing to discard. A positive verb the control does
// not know is carried out as PRIMARY and reported with OLEOBJ_S_INVALIDVERB;
// any other negative verb (OPEN, PROPERTIES, ...) is E_NOTIMPL.
HRESULT STDMETHODCALLTYPE ControlBase::DoVerb(LONG iVerb, LPMSG, IOleClientSite* pActiveSite, LONG, HWND, LPCRECT) {
    IOleClientSite* site = pActiveSite ? pActiveSite : clientSite_;
    switch (iVerb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_UIACTIVATE:
            return activate(site, true);
        case OLEIVERB_INPLACEACTIVATE:
            return activate(site, false);
        case OLEIVERB_HIDE:
            return InPlaceDeactivate();
        case OLEIVERB_DISCARDUNDOSTATE:
            return S_OK;
        default:
            if (iVerb > 0) {
                const HRESULT hr = activate(site, true);
                return FAILED(hr) ? hr : OLEOBJ_S_INVALIDVERB;
            }
            return E_NOTIMPL;
    }
}

HRESULT STDMETHODCALLTYPE ControlBase::EnumVerbs(IEnumOLEVERB** ppEnumOleVerb) {
    if (!ppEnumOleVerb) return E_POINTER;
    *ppEnumOleVerb = nullptr;
    return OleRegEnumVerbs(clsid_, ppEnumOleVerb);
}

HRESULT STDMETHODCALLTYPE ControlBase::Update() { return S_OK; }

HRESULT STDMETHODCALLTYPE ControlBase::IsUpToDate() { return S_OK; }

HRESULT STDMETHODCALLTYPE ControlBase::GetUserClassID(CLSID* pClsid) {
    if (!pClsid) return E_POINTER;
    *pClsid = clsid_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetUserType(DWORD dwFormOfType, LPOLESTR* pszUserType) {
    if (!pszUserType) return E_POINTER;
    *pszUserType = nullptr;
    return OleRegGetUserType(clsid_, dwFormOfType, pszUserType);
}

HRESULT STDMETHODCALLTYPE ControlBase::SetExtent(DWORD dwDrawAspect, SIZEL* psizel) {
    if (!psizel) return E_POINTER;
    if (dwDrawAspect != DVASPECT_CONTENT) return E_FAIL;
    return setExtentValue(*psizel);
}

HRESULT STDMETHODCALLTYPE ControlBase::GetExtent(DWORD dwDrawAspect, SIZEL* psizel) {
    if (!psizel) return E_POINTER;
    psizel->cx = 0;
    psizel->cy = 0;
    if (dwDrawAspect != DVASPECT_CONTENT) return E_FAIL;
    *psizel = extent_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::Advise(IAdviseSink* pAdvSink, DWORD* pdwConnection) {
    if (pdwConnection) *pdwConnection = 0;
    if (!pAdvSink || !pdwConnection) return E_POINTER;
    const HRESULT hr = ensureOleAdviseHolder();
    if (FAILED(hr)) return hr;
    return oleAdviseHolder_->Advise(pAdvSink, pdwConnection);
}

HRESULT STDMETHODCALLTYPE ControlBase::Unadvise(DWORD dwConnection) {
    if (!oleAdviseHolder_) return OLE_E_NOCONNECTION;
    return oleAdviseHolder_->Unadvise(dwConnection);
}

HRESULT STDMETHODCALLTYPE ControlBase::EnumAdvise(IEnumSTATDATA** ppenumAdvise) {
    if (!ppenumAdvise) return E_POINTER;
    *ppenumAdvise = nullptr;
    const HRESULT hr = ensureOleAdviseHolder();
    if (FAILED(hr)) return hr;
    return oleAdviseHolder_->EnumAdvise(ppenumAdvise);
}

HRESULT STDMETHODCALLTYPE ControlBase::GetMiscStatus(DWORD dwAspect, DWORD* pdwStatus) {
    if (!pdwStatus) return E_POINTER;
    *pdwStatus = 0;
    if (dwAspect == DVASPECT_CONTENT) {
        *pdwStatus = miscStatus_;
        return S_OK;
    }
    return OleRegGetMiscStatus(clsid_, dwAspect, pdwStatus);
}

HRESULT STDMETHODCALLTYPE ControlBase::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// ---- Persistence -------------------------------------------------------------------

HRESULT ControlBase::setExtentValue(const SIZEL& size) {
    if (size.cx < 0 || size.cy < 0) return E_INVALIDARG;
    extent_ = size;
    dirty_ = true;
    contentChanged();
    return S_OK;
}

// Reads the 8-byte state; the extent changes only when all of it is valid.
HRESULT ControlBase::readState(IStream* stream) {
    unsigned char bytes[kPersistedSize];
    ULONG got = 0;
    const HRESULT hr = stream->Read(bytes, kPersistedSize, &got);
    if (FAILED(hr)) return hr;
    if (got != kPersistedSize) return STG_E_READFAULT;  // the stream ends inside the state
    const uint32_t cx = getU32(bytes);
    const uint32_t cy = getU32(bytes + 4);
    if (cx > static_cast<uint32_t>(LONG_MAX) || cy > static_cast<uint32_t>(LONG_MAX))
        return E_INVALIDARG;  // not representable as a SIZEL
    extent_.cx = static_cast<LONG>(cx);
    extent_.cy = static_cast<LONG>(cy);
    dirty_ = false;
    contentChanged();
    return S_OK;
}

HRESULT ControlBase::writeState(IStream* stream) const {
    unsigned char bytes[kPersistedSize];
    putU32(bytes, static_cast<uint32_t>(extent_.cx));
    putU32(bytes + 4, static_cast<uint32_t>(extent_.cy));
    ULONG written = 0;
    const HRESULT hr = stream->Write(bytes, kPersistedSize, &written);
    if (FAILED(hr)) return hr;
    return written == kPersistedSize ? S_OK : STG_E_MEDIUMFULL;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetClassID(CLSID* pClassID) {
    if (!pClassID) return E_POINTER;
    *pClassID = clsid_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::IsDirty() { return dirty_ ? S_OK : S_FALSE; }

HRESULT STDMETHODCALLTYPE ControlBase::Load(LPSTREAM pStm) {
    if (!pStm) return E_POINTER;
    const HRESULT hr = readState(pStm);
    if (SUCCEEDED(hr)) streamLoaded_ = true;
    return hr;
}

HRESULT STDMETHODCALLTYPE ControlBase::Save(LPSTREAM pStm, WINBOOL fClearDirty) {
    if (!pStm) return E_POINTER;
    const HRESULT hr = writeState(pStm);
    if (SUCCEEDED(hr) && fClearDirty) dirty_ = false;
    return hr;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetSizeMax(ULARGE_INTEGER* pCbSize) {
    if (!pCbSize) return E_POINTER;
    pCbSize->QuadPart = kPersistedSize;
    return S_OK;
}

// A new control already has the default extent; InitNew keeps an extent a
// container may have set before it. After Load it is a protocol error.
HRESULT STDMETHODCALLTYPE ControlBase::InitNew() {
    if (streamLoaded_) return E_UNEXPECTED;
    dirty_ = false;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::InitNew(IStorage* pStg) {
    if (!pStg) return E_POINTER;
    if (storageMode_ != StorageMode::Uninitialized) return CO_E_ALREADYINITIALIZED;
    pStg->AddRef();
    storage_ = pStg;
    storageMode_ = StorageMode::Normal;
    dirty_ = true;  // nothing of the object is in the new storage yet
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::Load(IStorage* pStg) {
    if (!pStg) return E_POINTER;
    if (storageMode_ != StorageMode::Uninitialized) return CO_E_ALREADYINITIALIZED;
    IStream* stream = nullptr;
    HRESULT hr = pStg->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream);
    if (FAILED(hr)) return hr;
    hr = readState(stream);
    stream->Release();
    if (FAILED(hr)) return hr;
    pStg->AddRef();
    storage_ = pStg;
    storageMode_ = StorageMode::Normal;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::Save(IStorage* pStgSave, WINBOOL fSameAsLoad) {
    if (!pStgSave) return E_POINTER;
    IStream* stream = nullptr;
    HRESULT hr =
        pStgSave->CreateStream(kContentsStream, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream);
    if (FAILED(hr)) return hr;
    hr = writeState(stream);
    stream->Release();
    if (FAILED(hr)) return hr;
    saveWasSameAsLoad_ = fSameAsLoad != FALSE;
    if (storageMode_ == StorageMode::Normal || storageMode_ == StorageMode::Uninitialized)
        storageMode_ = StorageMode::NoScribble;
    return S_OK;
}

// Back to Normal mode. The dirty flag clears when the saved storage is the
// object's own (Save with fSameAsLoad) or becomes its own (pStgNew).
HRESULT STDMETHODCALLTYPE ControlBase::SaveCompleted(IStorage* pStgNew) {
    const bool handsOff =
        storageMode_ == StorageMode::HandsOffAfterSave || storageMode_ == StorageMode::HandsOffFromNormal;
    if (storageMode_ != StorageMode::NoScribble && !handsOff) return E_UNEXPECTED;
    if (handsOff && !pStgNew) return E_INVALIDARG;
    const bool afterSave = storageMode_ != StorageMode::HandsOffFromNormal;
    if (pStgNew) {
        pStgNew->AddRef();
        releaseAndClear(storage_);
        storage_ = pStgNew;
    }
    if (afterSave && (saveWasSameAsLoad_ || pStgNew)) dirty_ = false;
    saveWasSameAsLoad_ = false;
    storageMode_ = StorageMode::Normal;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::HandsOffStorage() {
    releaseAndClear(storage_);
    storageMode_ =
        storageMode_ == StorageMode::NoScribble ? StorageMode::HandsOffAfterSave : StorageMode::HandsOffFromNormal;
    return S_OK;
}

// ---- ISpecifyPropertyPages / IQuickActivate --------------------------------------

HRESULT STDMETHODCALLTYPE ControlBase::GetPages(CAUUID* pPages) {
    if (!pPages) return E_POINTER;
    pPages->cElems = 0;
    pPages->pElems = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::QuickActivate(QACONTAINER* pQaContainer, QACONTROL* pQaControl) {
    if (!pQaContainer || !pQaControl) return E_POINTER;
    // The container sets both sizes; older containers pass shorter
    // structures. We read the client site and the advise sink, and write
    // everything before dwPointerActivationPolicy (that one only when the
    // caller's structure has it).
    if (pQaContainer->cbSize < offsetof(QACONTAINER, pPropertyNotifySink) ||
        pQaControl->cbSize < offsetof(QACONTROL, dwPointerActivationPolicy))
        return E_INVALIDARG;
    const ULONG controlSize = pQaControl->cbSize;
    std::memset(reinterpret_cast<char*>(pQaControl) + sizeof(ULONG), 0,
                (controlSize < sizeof(QACONTROL) ? controlSize : sizeof(QACONTROL)) - sizeof(ULONG));
    HRESULT hr = SetClientSite(pQaContainer->pClientSite);
    if (FAILED(hr)) return hr;
    if (pQaContainer->pAdviseSink) {
        hr = SetAdvise(DVASPECT_CONTENT, 0, pQaContainer->pAdviseSink);
        if (FAILED(hr)) return hr;
    }
    pQaControl->dwMiscStatus = miscStatus_;
    pQaControl->dwViewStatus = kViewStatus;
    pQaControl->dwEventCookie = 0;       // no events
    pQaControl->dwPropNotifyCookie = 0;  // no property notifications
    if (controlSize >= sizeof(QACONTROL)) pQaControl->dwPointerActivationPolicy = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::SetContentExtent(LPSIZEL pSizel) {
    if (!pSizel) return E_POINTER;
    return setExtentValue(*pSizel);
}

HRESULT STDMETHODCALLTYPE ControlBase::GetContentExtent(LPSIZEL pSizel) {
    if (!pSizel) return E_POINTER;
    *pSizel = extent_;
    return S_OK;
}

// ---- IDataObject ---------------------------------------------------------------------

HRESULT ControlBase::checkPictureFormat(const FORMATETC* format) {
    if (format->cfFormat != CF_METAFILEPICT) return DV_E_FORMATETC;
    if (!(format->tymed & TYMED_MFPICT)) return DV_E_TYMED;
    if (format->dwAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (format->lindex != -1) return DV_E_LINDEX;
    return S_OK;
}

// The picture: a metafile in screen pixels of the extent, with its window
// extent recorded, so that a player scales it to any rectangle
// (MM_ANISOTROPIC); xExt/yExt carry the extent in HIMETRIC.
HRESULT STDMETHODCALLTYPE ControlBase::GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) {
    if (pmedium) std::memset(pmedium, 0, sizeof *pmedium);  // TYMED_NULL
    if (!pformatetcIn || !pmedium) return E_POINTER;
    HRESULT hr = checkPictureFormat(pformatetcIn);
    if (FAILED(hr)) return hr;

    int dpiX = 96, dpiY = 96;
    if (HDC screen = GetDC(nullptr)) {
        dpiX = GetDeviceCaps(screen, LOGPIXELSX);
        dpiY = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
    }
    const int width = MulDiv(extent_.cx, dpiX, 2540);
    const int height = MulDiv(extent_.cy, dpiY, 2540);
    const RECT bounds = {0, 0, width > 0 ? width : 1, height > 0 ? height : 1};

    HDC mdc = CreateMetaFileW(nullptr);
    if (!mdc) return E_OUTOFMEMORY;
    SetWindowOrgEx(mdc, 0, 0, nullptr);
    SetWindowExtEx(mdc, bounds.right, bounds.bottom, nullptr);
    drawContent(mdc, bounds);
    HMETAFILE metafile = CloseMetaFile(mdc);
    if (!metafile) return E_OUTOFMEMORY;
    HGLOBAL global = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, sizeof(METAFILEPICT));
    METAFILEPICT* picture = global ? static_cast<METAFILEPICT*>(GlobalLock(global)) : nullptr;
    if (!picture) {
        if (global) GlobalFree(global);
        DeleteMetaFile(metafile);
        return E_OUTOFMEMORY;
    }
    picture->mm = MM_ANISOTROPIC;
    picture->xExt = extent_.cx;
    picture->yExt = extent_.cy;
    picture->hMF = metafile;
    GlobalUnlock(global);
    pmedium->tymed = TYMED_MFPICT;
    pmedium->hMetaFilePict = global;
    pmedium->pUnkForRelease = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ControlBase::GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium) {
    if (!pformatetc || !pmedium) return E_POINTER;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::QueryGetData(FORMATETC* pformatetc) {
    if (!pformatetc) return E_POINTER;
    return checkPictureFormat(pformatetc);
}

HRESULT STDMETHODCALLTYPE ControlBase::GetCanonicalFormatEtc(FORMATETC* pformatectIn, FORMATETC* pformatetcOut) {
    if (pformatetcOut) pformatetcOut->ptd = nullptr;
    if (!pformatectIn || !pformatetcOut) return E_POINTER;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium, WINBOOL) {
    if (!pformatetc || !pmedium) return E_POINTER;
    return E_NOTIMPL;
}

// The formats are those of the registry (DataFormats of the class).
HRESULT STDMETHODCALLTYPE ControlBase::EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) {
    if (!ppenumFormatEtc) return E_POINTER;
    *ppenumFormatEtc = nullptr;
    return dwDirection == DATADIR_GET ? OLE_S_USEREG : E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ControlBase::DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                                               DWORD* pdwConnection) {
    if (pdwConnection) *pdwConnection = 0;
    if (!pformatetc || !pAdvSink || !pdwConnection) return E_POINTER;
    const HRESULT hr = ensureDataAdviseHolder();
    if (FAILED(hr)) return hr;
    return dataAdviseHolder_->Advise(static_cast<IDataObject*>(this), pformatetc, advf, pAdvSink, pdwConnection);
}

HRESULT STDMETHODCALLTYPE ControlBase::DUnadvise(DWORD dwConnection) {
    if (!dataAdviseHolder_) return OLE_E_NOCONNECTION;
    return dataAdviseHolder_->Unadvise(dwConnection);
}

HRESULT STDMETHODCALLTYPE ControlBase::EnumDAdvise(IEnumSTATDATA** ppenumAdvise) {
    if (!ppenumAdvise) return E_POINTER;
    *ppenumAdvise = nullptr;
    const HRESULT hr = ensureDataAdviseHolder();
    if (FAILED(hr)) return hr;
    return dataAdviseHolder_->EnumAdvise(ppenumAdvise);
}

// ---- Notifications ---------------------------------------------------------------------

void ControlBase::contentChanged() {
    sendViewChange();
    if (dataAdviseHolder_) dataAdviseHolder_->SendOnDataChange(static_cast<IDataObject*>(this), 0, 0);
    if (hwnd_)
        InvalidateRect(hwnd_, nullptr, TRUE);
    else if (windowless() && windowlessSite_)
        windowlessSite_->InvalidateRect(&posRect_, TRUE);
}

void ControlBase::sendViewChange() {
    if (!viewSink_ || !(viewAspects_ & DVASPECT_CONTENT)) return;
    IAdviseSink* sink = viewSink_;
    sink->AddRef();  // the sink may call SetAdvise from inside
    if (viewAdvf_ & ADVF_ONLYONCE) {
        releaseAndClear(viewSink_);
        viewAspects_ = 0;
        viewAdvf_ = 0;
    }
    sink->OnViewChange(DVASPECT_CONTENT, -1);
    sink->Release();
}

HRESULT ControlBase::ensureOleAdviseHolder() {
    return oleAdviseHolder_ ? S_OK : CreateOleAdviseHolder(&oleAdviseHolder_);
}

HRESULT ControlBase::ensureDataAdviseHolder() {
    return dataAdviseHolder_ ? S_OK : CreateDataAdviseHolder(&dataAdviseHolder_);
}

// ---- In-place activation -----------------------------------------------------------------

HRESULT ControlBase::activate(IOleClientSite* site, bool uiActivate) {
    if (!inPlaceActive_) {
        if (!site) return E_UNEXPECTED;  // no container to activate in
        IOleInPlaceSite* ips = nullptr;
        HRESULT hr = site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&ips));
        if (FAILED(hr) || !ips) return FAILED(hr) ? hr : E_NOINTERFACE;
        if (ips->CanInPlaceActivate() != S_OK) {
            ips->Release();
            return E_FAIL;
        }
        IOleInPlaceSiteWindowless* wls = nullptr;
        if (FAILED(ips->QueryInterface(IID_IOleInPlaceSiteWindowless, reinterpret_cast<void**>(&wls)))) wls = nullptr;
        IOleInPlaceSiteEx* ex = nullptr;
        if (FAILED(ips->QueryInterface(IID_IOleInPlaceSiteEx, reinterpret_cast<void**>(&ex)))) ex = nullptr;
        const bool goWindowless = wls && wls->CanWindowlessActivate() == S_OK;
        BOOL noRedraw = FALSE;
        if (goWindowless)
            hr = wls->OnInPlaceActivateEx(&noRedraw, ACTIVATE_WINDOWLESS);
        else if (ex)
            hr = ex->OnInPlaceActivateEx(&noRedraw, 0);
        else
            hr = ips->OnInPlaceActivate();
        activatedEx_ = goWindowless || ex;
        if (ex) ex->Release();
        if (!goWindowless && wls) {
            wls->Release();
            wls = nullptr;
        }
        if (FAILED(hr)) {
            if (wls) wls->Release();
            ips->Release();
            return hr;
        }
        inPlaceActive_ = true;
        inPlaceSite_ = ips;
        windowlessSite_ = wls;

        HWND parent = nullptr;
        OLEINPLACEFRAMEINFO frameInfo;
        std::memset(&frameInfo, 0, sizeof frameInfo);
        frameInfo.cb = sizeof frameInfo;
        RECT pos = {0, 0, 0, 0};
        RECT clip = {0, 0, 0, 0};
        // The position comes from the site (DoVerb's rectangle is only a
        // hint); a windowed control also needs the site's window as parent.
        hr = ips->GetWindowContext(&frame_, &uiWindow_, &pos, &clip, &frameInfo);
        if (SUCCEEDED(hr)) {
            posRect_ = pos;
            clipRect_ = clip;
            if (!goWindowless) {
                hr = ips->GetWindow(&parent);
                if (SUCCEEDED(hr) && !createControlWindow(parent)) hr = E_FAIL;
            }
        }
        if (FAILED(hr)) {
            InPlaceDeactivate();
            return hr;
        }
        if (clientSite_) clientSite_->ShowObject();
    }
    if (uiActivate && !uiActive_) {
        HRESULT hr = inPlaceSite_->OnUIActivate();
        if (FAILED(hr)) return hr;
        uiActive_ = true;
        if (windowlessSite_)
            windowlessSite_->SetFocus(TRUE);
        else if (hwnd_)
            ::SetFocus(hwnd_);
        IOleInPlaceActiveObject* self = this;
        if (frame_) {
            frame_->SetActiveObject(self, nullptr);
            frame_->SetBorderSpace(nullptr);
        }
        if (uiWindow_) {
            uiWindow_->SetActiveObject(self, nullptr);
            uiWindow_->SetBorderSpace(nullptr);
        }
    }
    return S_OK;
}

bool ControlBase::createControlWindow(HWND parent) {
    if (!parent) return false;
    HINSTANCE module = thisModule();
    WNDCLASSEXW wc;
    std::memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = &ControlBase::windowProc;
    wc.hInstance = module;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = kWindowClassName;
    // Registered on first use; an existing registration (another object
    // of this module) is fine.
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    hwnd_ = CreateWindowExW(0, kWindowClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                            posRect_.left, posRect_.top, posRect_.right - posRect_.left, posRect_.bottom - posRect_.top,
                            parent, nullptr, module, this);
    if (!hwnd_) return false;
    applyWindowRects();
    return true;
}

void ControlBase::destroyControlWindow() {
    if (!hwnd_) return;
    HWND hwnd = hwnd_;
    hwnd_ = nullptr;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    DestroyWindow(hwnd);
}

// Moves the window to the position rectangle and clips it to the visible
// part (the clip rectangle, in the same parent coordinates).
void ControlBase::applyWindowRects() {
    if (!hwnd_) return;
    SetWindowPos(hwnd_, nullptr, posRect_.left, posRect_.top, posRect_.right - posRect_.left,
                 posRect_.bottom - posRect_.top, SWP_NOZORDER | SWP_NOACTIVATE);
    RECT visible;
    if (IntersectRect(&visible, &posRect_, &clipRect_) && !EqualRect(&visible, &posRect_)) {
        OffsetRect(&visible, -posRect_.left, -posRect_.top);
        HRGN region = CreateRectRgnIndirect(&visible);
        if (region && !SetWindowRgn(hwnd_, region, TRUE)) DeleteObject(region);  // the window did not take ownership
    } else {
        SetWindowRgn(hwnd_, nullptr, TRUE);
    }
}

void ControlBase::unregisterWindowClass() { UnregisterClassW(kWindowClassName, thisModule()); }

LRESULT CALLBACK ControlBase::windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        const CREATESTRUCTW* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    ControlBase* self = reinterpret_cast<ControlBase*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
        case WM_ERASEBKGND:
            if (self) return 1;  // WM_PAINT covers the whole client area
            break;
        case WM_PAINT:
            if (self) {
                PAINTSTRUCT ps;
                HDC hdc = BeginPaint(hwnd, &ps);
                RECT client;
                GetClientRect(hwnd, &client);
                self->drawContent(hdc, client);
                EndPaint(hwnd, &ps);
                return 0;
            }
            break;
        case WM_PRINTCLIENT:
            if (self) {
                RECT client;
                GetClientRect(hwnd, &client);
                self->drawContent(reinterpret_cast<HDC>(wParam), client);
                return 0;
            }
            break;
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            break;
        default:
            break;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}
