// ControlBase: the ActiveX control side of a COM class, written against the
// Win32/COM interfaces only (no template library).
//
// A COM class becomes an embeddable control by deriving from ControlBase and
// implementing IUnknown once (its QueryInterface/AddRef/Release override the
// IUnknown slots of every base; it may delegate to an outer unknown when it
// is aggregated). Its QueryInterface asks queryControlInterface() for the
// control interfaces; ControlBase never answers IUnknown itself, so the
// identity of the object stays with the derived class.
//
// What the control is: a rectangle along its bounds with one line of text
// centred horizontally on the middle of the bounds, its baseline on the
// vertical middle. It can be placed on a form by a visual design tool (in
// place, windowed or windowless), drawn by the container, saved and loaded,
// and copied as a metafile picture. It has no property pages, fires no
// events and handles no window messages.
//
// Persistent state is the extent only, in HIMETRIC units (0.01 mm), as two
// 4-byte unsigned values "_cx" and "_cy". The serialized form, used both by
// IPersistStreamInit and by the "Contents" stream of an IPersistStorage
// storage, is exactly 8 bytes:
//     offset 0  _cx  uint32 little-endian
//     offset 4  _cy  uint32 little-endian
// A new control is kDefaultExtent x kDefaultExtent (one inch square).
// Values above 0x7FFFFFFF are refused on load: the extent crosses the
// interfaces as a signed SIZEL, so such a value could never be reported back.
//
// Threading: apartment model; an object is used on one thread and takes no
// locks. The window class of the windowed in-place control is registered on
// first use in the module that contains this code; call
// ControlBase::unregisterWindowClass() when the module can unload (when
// DllCanUnloadNow answers S_OK, no control window exists any more).
#pragma once

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <oleidl.h>
#include <objidl.h>

#include <string>

class ControlBase : public IViewObjectEx,
                    public IOleInPlaceObjectWindowless,
                    public IOleInPlaceActiveObject,
                    public IOleControl,
                    public IOleObject,
                    public IPersistStreamInit,
                    public ISpecifyPropertyPages,
                    public IQuickActivate,
                    public IPersistStorage,
                    public IDataObject {
public:
    // One inch in HIMETRIC units.
    static constexpr LONG kDefaultExtent = 2540;
    // Size of the serialized state (see above).
    static constexpr ULONG kPersistedSize = 8;
    // VIEWSTATUS flags reported by GetViewStatus and QuickActivate.
    static constexpr DWORD kViewStatus = VIEWSTATUS_SOLIDBKGND | VIEWSTATUS_OPAQUE;
    // Name of the stream inside an IPersistStorage storage.
    static const wchar_t kContentsStream[];
    // Name of the window class of the windowed in-place control.
    static const wchar_t kWindowClassName[];

    // clsid: reported by GetUserClassID and GetClassID and used for the
    //   registry look-ups of GetUserType, EnumVerbs and GetMiscStatus of
    //   aspects other than DVASPECT_CONTENT.
    // miscStatus: the OLEMISC flags of DVASPECT_CONTENT.
    // drawText: the text the control draws (ANSI).
    ControlBase(REFCLSID clsid, DWORD miscStatus, const char* drawText);
    virtual ~ControlBase();
    ControlBase(const ControlBase&) = delete;
    ControlBase& operator=(const ControlBase&) = delete;

    // Answers the control interfaces (IViewObjectEx, IViewObject2,
    // IViewObject, IOleInPlaceObjectWindowless, IOleInPlaceObject,
    // IOleWindow, IOleInPlaceActiveObject, IOleControl, IOleObject,
    // IPersistStreamInit, IPersist, ISpecifyPropertyPages, IQuickActivate,
    // IPersistStorage, IDataObject) with a reference added through the
    // derived class's AddRef; E_NOINTERFACE (and *out cleared) otherwise,
    // E_POINTER for a null out.
    HRESULT queryControlInterface(REFIID riid, void** out);

    // Unregisters the window class of the control windows in this module.
    // Fails harmlessly while a control window still exists.
    static void unregisterWindowClass();

    // Draws the control into hdc with the given bounds (logical units of
    // hdc): a black rectangle filled white and the text. Nothing is drawn
    // outside the bounds. The DC's state is restored afterwards.
    void drawContent(HDC hdc, const RECT& bounds) const;

    // State, for the derived class and for tests.
    SIZEL extent() const { return extent_; }
    bool dirty() const { return dirty_; }
    bool inPlaceActive() const { return inPlaceActive_; }
    bool uiActive() const { return uiActive_; }
    bool windowless() const { return inPlaceActive_ && windowlessSite_ != nullptr; }
    HWND controlWindow() const { return hwnd_; }
    const RECT& positionRect() const { return posRect_; }

    // ---- IViewObject / IViewObject2 / IViewObjectEx ----
    HRESULT STDMETHODCALLTYPE Draw(DWORD dwDrawAspect, LONG lindex, void* pvAspect, DVTARGETDEVICE* ptd,
                                   HDC hdcTargetDev, HDC hdcDraw, LPCRECTL lprcBounds, LPCRECTL lprcWBounds,
                                   WINBOOL(STDMETHODCALLTYPE* pfnContinue)(ULONG_PTR), ULONG_PTR dwContinue) override;
    HRESULT STDMETHODCALLTYPE GetColorSet(DWORD dwDrawAspect, LONG lindex, void* pvAspect, DVTARGETDEVICE* ptd,
                                          HDC hicTargetDev, LOGPALETTE** ppColorSet) override;
    HRESULT STDMETHODCALLTYPE Freeze(DWORD dwDrawAspect, LONG lindex, void* pvAspect, DWORD* pdwFreeze) override;
    HRESULT STDMETHODCALLTYPE Unfreeze(DWORD dwFreeze) override;
    HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* pAdvSink) override;
    HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* pAspects, DWORD* pAdvf, IAdviseSink** ppAdvSink) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD dwDrawAspect, LONG lindex, DVTARGETDEVICE* ptd, LPSIZEL lpsizel) override;
    HRESULT STDMETHODCALLTYPE GetRect(DWORD dwAspect, LPRECTL pRect) override;
    HRESULT STDMETHODCALLTYPE GetViewStatus(DWORD* pdwStatus) override;
    HRESULT STDMETHODCALLTYPE QueryHitPoint(DWORD dwAspect, LPCRECT pRectBounds, POINT ptlLoc, LONG lCloseHint,
                                            DWORD* pHitResult) override;
    HRESULT STDMETHODCALLTYPE QueryHitRect(DWORD dwAspect, LPCRECT pRectBounds, LPCRECT pRectLoc, LONG lCloseHint,
                                           DWORD* pHitResult) override;
    HRESULT STDMETHODCALLTYPE GetNaturalExtent(DWORD dwAspect, LONG lindex, DVTARGETDEVICE* ptd, HDC hicTargetDev,
                                               DVEXTENTINFO* pExtentInfo, LPSIZEL pSizel) override;

    // ---- IOleWindow / IOleInPlaceObject / IOleInPlaceObjectWindowless ----
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* phwnd) override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(WINBOOL fEnterMode) override;
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
    HRESULT STDMETHODCALLTYPE UIDeactivate() override;
    HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT lprcPosRect, LPCRECT lprcClipRect) override;
    HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override;
    HRESULT STDMETHODCALLTYPE OnWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* plResult) override;
    HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget** ppDropTarget) override;

    // ---- IOleInPlaceActiveObject ----
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG lpmsg) override;
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(WINBOOL fActivate) override;
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(WINBOOL fActivate) override;
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT prcBorder, IOleInPlaceUIWindow* pUIWindow,
                                           WINBOOL fFrameWindow) override;
    HRESULT STDMETHODCALLTYPE EnableModeless(WINBOOL fEnable) override;

    // ---- IOleControl ----
    HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* pCI) override;
    HRESULT STDMETHODCALLTYPE OnMnemonic(MSG* pMsg) override;
    HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID dispID) override;
    HRESULT STDMETHODCALLTYPE FreezeEvents(WINBOOL bFreeze) override;

    // ---- IOleObject ----
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* pClientSite) override;
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** ppClientSite) override;
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR szContainerApp, LPCOLESTR szContainerObj) override;
    HRESULT STDMETHODCALLTYPE Close(DWORD dwSaveOption) override;
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD dwWhichMoniker, IMoniker* pmk) override;
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) override;
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject* pDataObject, WINBOOL fCreation, DWORD dwReserved) override;
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD dwReserved, IDataObject** ppDataObject) override;
    HRESULT STDMETHODCALLTYPE DoVerb(LONG iVerb, LPMSG lpmsg, IOleClientSite* pActiveSite, LONG lindex, HWND hwndParent,
                                     LPCRECT lprcPosRect) override;
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** ppEnumOleVerb) override;
    HRESULT STDMETHODCALLTYPE Update() override;
    HRESULT STDMETHODCALLTYPE IsUpToDate() override;
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* pClsid) override;
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD dwFormOfType, LPOLESTR* pszUserType) override;
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD dwDrawAspect, SIZEL* psizel) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD dwDrawAspect, SIZEL* psizel) override;
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* pAdvSink, DWORD* pdwConnection) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwConnection) override;
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** ppenumAdvise) override;
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD dwAspect, DWORD* pdwStatus) override;
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE* pLogpal) override;

    // ---- IPersist / IPersistStreamInit / IPersistStorage ----
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    HRESULT STDMETHODCALLTYPE Load(LPSTREAM pStm) override;
    HRESULT STDMETHODCALLTYPE Save(LPSTREAM pStm, WINBOOL fClearDirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* pCbSize) override;
    HRESULT STDMETHODCALLTYPE InitNew() override;
    HRESULT STDMETHODCALLTYPE InitNew(IStorage* pStg) override;
    HRESULT STDMETHODCALLTYPE Load(IStorage* pStg) override;
    HRESULT STDMETHODCALLTYPE Save(IStorage* pStgSave, WINBOOL fSameAsLoad) override;
    HRESULT STDMETHODCALLTYPE SaveCompleted(IStorage* pStgNew) override;
    HRESULT STDMETHODCALLTYPE HandsOffStorage() override;

    // ---- ISpecifyPropertyPages ----
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pPages) override;

    // ---- IQuickActivate ----
    HRESULT STDMETHODCALLTYPE QuickActivate(QACONTAINER* pQaContainer, QACONTROL* pQaControl) override;
    HRESULT STDMETHODCALLTYPE SetContentExtent(LPSIZEL pSizel) override;
    HRESULT STDMETHODCALLTYPE GetContentExtent(LPSIZEL pSizel) override;

    // ---- IDataObject ----
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) override;
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium) override;
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* pformatetc) override;
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC* pformatectIn, FORMATETC* pformatetcOut) override;
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium, WINBOOL fRelease) override;
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) override;
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                                      DWORD* pdwConnection) override;
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD dwConnection) override;
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA** ppenumAdvise) override;

private:
    // IPersistStorage modes, as the storage protocol names them.
    enum class StorageMode { Uninitialized, Normal, NoScribble, HandsOffAfterSave, HandsOffFromNormal };

    HRESULT setExtentValue(const SIZEL& size);
    HRESULT readState(IStream* stream);
    HRESULT writeState(IStream* stream) const;
    void contentChanged();
    void sendViewChange();
    HRESULT ensureOleAdviseHolder();
    HRESULT ensureDataAdviseHolder();
    HRESULT activate(IOleClientSite* site, bool uiActivate);
    bool createControlWindow(HWND parent);
    void destroyControlWindow();
    void applyWindowRects();
    void releaseAll();
    static HRESULT checkPictureFormat(const FORMATETC* format);
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    CLSID clsid_;
    DWORD miscStatus_;
    std::string text_;

    SIZEL extent_;
    bool dirty_ = false;
    bool streamLoaded_ = false;
    StorageMode storageMode_ = StorageMode::Uninitialized;
    IStorage* storage_ = nullptr;
    bool saveWasSameAsLoad_ = false;

    IOleClientSite* clientSite_ = nullptr;
    IOleAdviseHolder* oleAdviseHolder_ = nullptr;
    IDataAdviseHolder* dataAdviseHolder_ = nullptr;
    IAdviseSink* viewSink_ = nullptr;
    DWORD viewAspects_ = 0;
    DWORD viewAdvf_ = 0;

    // In-place state.
    bool inPlaceActive_ = false;
    bool uiActive_ = false;
    bool activatedEx_ = false;
    IOleInPlaceSite* inPlaceSite_ = nullptr;
    IOleInPlaceSiteWindowless* windowlessSite_ = nullptr;
    IOleInPlaceFrame* frame_ = nullptr;
    IOleInPlaceUIWindow* uiWindow_ = nullptr;
    HWND hwnd_ = nullptr;
    RECT posRect_ = {0, 0, 0, 0};
    RECT clipRect_ = {0, 0, 0, 0};
};
