#include "desktop/frame.h"

#include <commctrl.h>
#include <cderr.h>
#include <commdlg.h>
#include <shellapi.h>

#include <exception>
#include <fstream>
#include <sstream>
#include <vector>

#include "desktop/dialog_text.h"
#include "desktop/layout.h"
#include "desktop/resource.h"
#include "desktop/wait_seconds.h"
#include "frontend/page_text.h"
#include "frontend/scratch_folders.h"

namespace {

const char kWindowClass[] = "frmBackupFiles";
const char kCaption[] = "Orvanta  ";

// Sent by the worker: lParam points at a std::function to run here.
constexpr UINT kRunHere = WM_APP + 1;
// Posted by the worker when its command has ended.
constexpr UINT kWorkDone = WM_APP + 2;

const char kAdsClass[] = "frmBrowser";
const char kAdsCaption[] = "Ads by sponsors";
const char kAdsTips[] = "Tips: Click ads if you like or drag to the corner.\r\n";
// The advertisement window's client area: 4215 by 3510 twips.
constexpr int kAdsWidth = 4215 / 15, kAdsHeight = 3510 / 15, kAdsTipsHeight = 46;
constexpr int kAdsPasses = 9999, kAdsRefreshSeconds = 360;

const char kMakerPage[] = "https://orvanta.example/";
const char kAlbumPage[] = "https://orvanta.example/calyx-album/";

// The SFX window's tooltips.
const struct {
    int id;
    const char* tip;
} kSfxTips[] = {
    {IDC_SFX_FBROWSE, "Select files or fold to be a standalone .exe file  by  ctrl + mouse left key  and shift + mouse left key."},
    {IDC_SFX_TEXT3, "The text box will show the amount of selected files."},
    {IDC_SFX_FILEREMOVE, "Remove selected item in the file list box."},
    {IDC_SFX_ALLCLEAR, "Remove all items in file list box."},
    {IDC_SFX_LABEL1, "These are optional items, system default items are as below text boxes if you skip Step 2."},
    {IDC_SFX_ICONSEL, "Click this button to select an icon for *.exe file."},
    {IDC_SFX_ICONLIST, "This one is system default component, you can  select one to replace it."},
    {IDC_SFX_ICONLISTREM, "Remove all in the left text box."},
    {IDC_SFX_CREATEALBUM, "This will save files as xxxx.exe file. Users will not need a Zip program to unzip the files."},
    {IDC_SFX_MP3, "Selecting an xxx.exe file. This file will run after users extracted this SFX file."},
    {IDC_SFX_MP3TEXT, "This one is system default component, you can  select one to replace it."},
    {IDC_SFX_COMMAND1, "Remove all in the left text box."},
    {IDC_SFX_PAS2, "Set password for the .exe file."},
    {IDC_SFX_COMMAND2, "This will save files as xxxx.exe file. Users will not need a Zip program to unzip the files."},
};

// How often busy() shows the state at most, unless the progress moved.
constexpr DWORD kBusyIntervalMs = 40;

// The buttons of the busy set, in the order of BusyButton.
const int kBusyIds[] = {IDC_FBROWSE,     IDC_FILEREMOVE,  IDC_ALLCLEAR, IDC_MP3,    IDC_ICONSEL, IDC_DELMP3,
                        IDC_ICONLISTREM, IDC_CREATEALBUM, IDC_CMDSYSTEM, IDC_WWWBOOK, IDC_COMMAND4};

std::string textOf(HWND h) {
    std::vector<char> buf(size_t(GetWindowTextLengthA(h)) + 1, 0);
    GetWindowTextA(h, buf.data(), int(buf.size()));
    return buf.data();
}

std::string programFolder() {
    char path[MAX_PATH * 4] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return n && n < sizeof path ? fileops::folderOf(path) : ".";
}

int selectionOf(HWND list) {
    const LRESULT i = SendMessageA(list, LB_GETCURSEL, 0, 0);
    return i == LB_ERR ? -1 : int(i);
}

void fillList(HWND list, const std::vector<std::string>& items, int selected) {
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    LONG widest = 0;
    HDC dc = GetDC(list);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(list, WM_GETFONT, 0, 0)));
    for (const std::string& s : items) {
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str()));
        SIZE size = {};
        if (GetTextExtentPoint32A(dc, s.c_str(), int(s.size()), &size) && size.cx > widest) widest = size.cx;
    }
    SelectObject(dc, old);
    ReleaseDC(list, dc);
    SendMessageA(list, LB_SETHORIZONTALEXTENT, WPARAM(widest + 8), 0);
    SendMessageA(list, LB_SETCURSEL, WPARAM(selected), 0);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

void addTip(HWND tips, HWND owner, HWND control, const char* text) {
    TOOLINFOA ti = {};
    ti.cbSize = sizeof ti;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = owner;
    ti.uId = reinterpret_cast<UINT_PTR>(control);
    ti.lpszText = const_cast<char*>(text);
    SendMessageA(tips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
}

void updateTip(HWND tips, HWND owner, HWND control, const std::string& text) {
    TOOLINFOA ti = {};
    ti.cbSize = sizeof ti;
    ti.hwnd = owner;
    ti.uId = reinterpret_cast<UINT_PTR>(control);
    ti.lpszText = const_cast<char*>(text.c_str());
    SendMessageA(tips, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&ti));
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

bool isInput(UINT msg) {
    return (msg >= WM_KEYFIRST && msg <= WM_KEYLAST) || (msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST);
}

}  // namespace

Frame::Frame(HINSTANCE instance) : instance_(instance), windowThread_(GetCurrentThreadId()) {
    MainWindowSetup setup;
    setup.programFolder = programFolder();
    logic_.reset(new MainWindow(*this, setup));
    // Text2 shows the second scratch folder, which the window logic of
    // this half does not keep in its state.
    shown_ = logic_->state();
}

Frame::~Frame() {
    if (worker_) {
        WaitForSingleObject(worker_, INFINITE);
        CloseHandle(worker_);
    }
    if (font_) DeleteObject(font_);
    if (boldFont_) DeleteObject(boldFont_);
}

bool Frame::create(int show) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = mainProc;
    wc.hInstance = instance_;
    wc.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINMENU);
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassExA(&wc)) return false;
    accelerators_ = LoadAcceleratorsA(instance_, MAKEINTRESOURCEA(IDR_ACCELERATORS));

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT r = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&r, style, TRUE, 0);
    window_ = CreateWindowExA(0, kWindowClass, kCaption, style, CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left,
                              r.bottom - r.top, nullptr, nullptr, instance_, this);
    if (!window_) return false;
    createControls();
    ShowWindow(window_, show);
    UpdateWindow(window_);
    return true;
}

void Frame::createControls() {
    LOGFONTA lf = {};
    lf.lfHeight = -13;
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpyA(lf.lfFaceName, "Arial");
    font_ = CreateFontIndirectA(&lf);
    lf.lfWeight = FW_BOLD;
    boldFont_ = CreateFontIndirectA(&lf);

    tooltips_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr,
                                instance_, nullptr);
    SendMessageA(tooltips_, TTM_SETMAXTIPWIDTH, 0, 420);
    for (size_t i = 0; i < kControlCount; i++) {
        const ControlSpec& c = kControls[i];
        const bool edit = lstrcmpA(c.windowClass, WC_EDITA) == 0 || lstrcmpA(c.windowClass, WC_LISTBOXA) == 0;
        HWND h = CreateWindowExA(edit ? WS_EX_CLIENTEDGE : 0, c.windowClass, c.text, WS_CHILD | WS_VISIBLE | c.style,
                                 c.x, c.y, c.width, c.height, window_, reinterpret_cast<HMENU>(INT_PTR(c.id)),
                                 instance_, nullptr);
        SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(c.bold ? boldFont_ : font_), FALSE);
        if (c.tip) addTip(tooltips_, window_, h, c.tip);
    }
    // The lists' tooltips show the entry clicked last.
    addTip(tooltips_, window_, item(IDC_FILELIST), "");
    addTip(tooltips_, window_, item(IDC_LIST1), "");
    SendMessageA(item(IDC_PROGRESSBAR1), PBM_SETRANGE32, 0, 100);
    SetWindowTextA(item(IDC_TEXT2), logic_->scratch().second().c_str());
    pushing_ = true;
    SetWindowTextA(item(IDC_TEXT4), shown_.Text4.c_str());
    SetWindowTextA(item(IDC_ICONLIST), shown_.iconlist.c_str());
    pushing_ = false;
}

int Frame::run() {
    // The start-up shows the advertisement window, whose refresh loop
    // carries every other window until the program ends.
    logic_->start();
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) dispatch(msg);
    return int(msg.wParam);
}

void Frame::dispatch(MSG& msg) {
    // An accelerator pressed while a command runs becomes a command that
    // waits for it, as a menu chosen meanwhile does.
    if (window_ && !sfx_ && (msg.hwnd == window_ || IsChild(window_, msg.hwnd)) &&
        TranslateAcceleratorA(window_, accelerators_, &msg))
        return;
    if (refusesInput(msg)) return;
    if (sfx_ && IsDialogMessageA(sfx_, &msg)) return;
    if (password_ && IsDialogMessageA(password_, &msg)) return;
    if (window_ && IsDialogMessageA(window_, &msg)) return;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

bool Frame::refusesInput(const MSG& msg) const {
    if (!running_ || !isInput(msg.message) || !msg.hwnd) return false;
    for (HWND w : {window_, password_, sfx_})
        if (w && (msg.hwnd == w || IsChild(w, msg.hwnd))) return true;
    return false;
}

// ---- Window procedures ----------------------------------------------------------

// The dialog procedure of one of our dialogs: the Frame rides in DWLP_USER
// and the dialog's handle is kept in *window from WM_INITDIALOG on.
template <HWND Frame::*window, INT_PTR (Frame::*handler)(UINT, WPARAM, LPARAM)>
INT_PTR CALLBACK Frame::dialogProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) SetWindowLongPtrA(h, DWLP_USER, lp);
    auto* frame = reinterpret_cast<Frame*>(GetWindowLongPtrA(h, DWLP_USER));
    if (!frame) return FALSE;
    if (msg == WM_INITDIALOG) frame->*window = h;
    return (frame->*handler)(msg, wp, lp);
}

LRESULT CALLBACK Frame::mainProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* frame = static_cast<Frame*>(reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams);
        SetWindowLongPtrA(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(frame));
        frame->window_ = h;
    }
    auto* frame = reinterpret_cast<Frame*>(GetWindowLongPtrA(h, GWLP_USERDATA));
    return frame ? frame->onMessage(msg, wp, lp) : DefWindowProcA(h, msg, wp, lp);
}

LRESULT Frame::onMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND:
        onCommand(LOWORD(wp), HIWORD(wp), lp);
        return 0;
    case kRunHere:
        push();
        (*reinterpret_cast<const std::function<void()>*>(lp))();
        return 0;
    case kWorkDone:
        workDone();
        return 0;
    case WM_SETCURSOR:
        if (running_ && LOWORD(lp) == HTCLIENT) {
            SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_APPSTARTING)));
            return TRUE;
        }
        break;
    case WM_CLOSE:
        requestClose();
        return 0;
    case WM_DESTROY:
        ended_ = true;
        if (password_) DestroyWindow(password_);
        if (ads_) DestroyWindow(ads_);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window_, msg, wp, lp);
}

void Frame::requestClose() {
    if (!running_) {
        DestroyWindow(window_);
        return;
    }
    // The command ends first (an archive is finished and renamed into
    // place); the windows go now and nothing more is asked or told.
    closing_ = true;
    for (HWND w : {window_, password_, sfx_, ads_})
        if (w) ShowWindow(w, SW_HIDE);
}

void Frame::onCommand(int id, int code, LPARAM lp) {
    // Menus and accelerators send 0 or 1, buttons BN_CLICKED (0), the
    // lists LBN_SELCHANGE when clicked.
    Command command = nullptr;
    bool work = false;
    if (id == IDC_FILELIST || id == IDC_LIST1) {
        if (code == LBN_SELCHANGE) command = id == IDC_FILELIST ? &MainWindow::fileListClicked : &MainWindow::list1Clicked;
    } else if (code == BN_CLICKED || code == 1) {
        work = true;
        switch (id) {
        case IDC_FBROWSE:
        case IDM_SELECTFILES: command = &MainWindow::selectFiles; break;
        case IDC_ZIPFOLDER: command = &MainWindow::pickZipFolder; break;
        case IDC_WWWBOOK: command = &MainWindow::saveZip; break;
        case IDM_SOVFA: command = &MainWindow::saveZipFromMenu; break;
        case IDC_MP3: command = &MainWindow::selectAndOpenZip; break;
        case IDM_SZF: command = &MainWindow::selectZipPathOnly; break;
        case IDC_COMMAND3: command = &MainWindow::openZipFromText; break;
        case IDC_COMMAND2: command = &MainWindow::unzipToPickedFolder; break;
        case IDC_COMMAND5: command = &MainWindow::unzipBeside; break;
        case IDM_BR13: command = &MainWindow::unzipBesideFromMenu; break;
        case IDM_UNZIP: command = &MainWindow::unzipToDestination; break;
        case IDC_ICONSEL: command = &MainWindow::pickIcon; break;
        case IDC_CREATEALBUM: command = &MainWindow::buildSelfExtractor; break;
        default: work = false;
        }
        switch (id) {
        case IDC_FILEREMOVE: command = &MainWindow::removeFile; break;
        case IDC_ALLCLEAR: command = &MainWindow::clearAll; break;
        case IDC_COMMAND6: command = &MainWindow::clearZipFolder; break;
        case IDC_DELMP3: command = &MainWindow::forgetZip; break;
        case IDC_COMMAND1:
        case IDM_OSF:
        case IDM_HELP_ABOUT:
            if (running_) return defer(window_, MAKEWPARAM(id, code), lp);
            return runModal(id == IDM_HELP_ABOUT ? &MainWindow::showAbout : &MainWindow::openSfxWindow);
        case IDM_HELPFILE: command = &MainWindow::openHelp; break;
        case IDC_ICONLISTREM: command = &MainWindow::removeIcon; break;
        case IDC_CMDSYSTEM: command = &MainWindow::runBuilt; break;
        case IDC_COMMAND4:
        case IDM_EXIT:
            if (running_) return requestClose();
            command = &MainWindow::exitProgram;
            break;
        }
    }
    if (!command) return;
    if (running_) return defer(window_, MAKEWPARAM(id, code), lp);
    work ? runWork(command) : runNow(command);
}

void Frame::defer(HWND target, WPARAM wp, LPARAM lp) {
    if (pending_.size() < kMaxPending) pending_.push_back({target, wp, lp});
}

void Frame::replayDeferred() {
    std::deque<Deferred> all;
    all.swap(pending_);
    for (const Deferred& d : all) PostMessageA(d.target, WM_COMMAND, d.wp, d.lp);
}

// ---- Running commands -------------------------------------------------------------

void Frame::runNow(const Task& task) {
    if (running_ || ended_) return;
    pull();
    running_ = true;
    task();
    running_ = false;
    push();
    replayDeferred();
}

void Frame::runModal(Command command) {
    if (running_ || ended_) return;
    pull();
    (logic_.get()->*command)();
    push();
}

void Frame::runWork(const Task& task) {
    if (running_ || ended_) return;
    pull();
    running_ = true;
    work_ = task;
    workFailure_.clear();
    lastBusy_ = GetTickCount();
    lastProgress_ = logic_->state().ProgressBar1;
    worker_ = CreateThread(nullptr, 0, workerMain, this, 0, nullptr);
    if (!worker_) {  // no thread to be had: the command runs here
        running_ = false;
        runNow(task);
    }
}

DWORD WINAPI Frame::workerMain(void* p) {
    auto* frame = static_cast<Frame*>(p);
    try {
        frame->work_();
    } catch (const std::exception& e) {
        frame->workFailure_ = e.what();
    } catch (...) {
        frame->workFailure_ = "unknown failure";
    }
    PostMessageA(frame->window_, kWorkDone, 0, 0);
    return 0;
}

void Frame::workDone() {
    WaitForSingleObject(worker_, INFINITE);
    CloseHandle(worker_);
    worker_ = nullptr;
    running_ = false;
    if (closing_) {
        DestroyWindow(window_);
        return;
    }
    push();
    if (!workFailure_.empty())
        message("The command failed unexpectedly: " + workFailure_ + "    ", "Warning", MessageIcon::Information);
    replayDeferred();
}

void Frame::onWindowThread(const std::function<void()>& fn) {
    if (GetCurrentThreadId() == windowThread_) {
        push();
        fn();
        return;
    }
    SendMessageA(window_, kRunHere, 0, reinterpret_cast<LPARAM>(&fn));
}

// ---- State and controls -------------------------------------------------------------

void Frame::pull() {
    if (ended_) return;
    MainWindowState& s = logic_->state();
    s.FileListSelected = shown_.FileListSelected = selectionOf(item(IDC_FILELIST));
    s.List1Selected = shown_.List1Selected = selectionOf(item(IDC_LIST1));
    s.zdir = shown_.zdir = textOf(item(IDC_ZDIR));
    s.pas1 = shown_.pas1 = textOf(item(IDC_PAS1));
    s.mp3text = shown_.mp3text = textOf(item(IDC_MP3TEXT));
    s.pas2 = shown_.pas2 = textOf(item(IDC_PAS2));
    const std::string dest = textOf(item(IDC_DESTDIR));
    if (dest != s.DestDir) logic_->destDirChanged(dest);
    shown_.DestDir = s.DestDir;
    if (password_) s.passwordText = textOf(GetDlgItem(password_, IDC_PW_TEXT1));
    s.iconlist = shown_.iconlist = textOf(item(IDC_ICONLIST));
    pullSfx();
}

void Frame::push() {
    if (ended_) return;
    const MainWindowState& s = logic_->state();
    pushing_ = true;
    auto text = [&](int id, const std::string& now, std::string& was) {
        if (now != was) SetWindowTextA(item(id), now.c_str());
        was = now;
    };
    text(IDC_TEXT3, s.Text3, shown_.Text3);
    text(IDC_TEXT6, s.Text6, shown_.Text6);
    text(IDC_ZDIR, s.zdir, shown_.zdir);
    text(IDC_PAS1, s.pas1, shown_.pas1);
    text(IDC_MP3TEXT, s.mp3text, shown_.mp3text);
    text(IDC_PAS2, s.pas2, shown_.pas2);
    text(IDC_DESTDIR, s.DestDir, shown_.DestDir);
    text(IDC_TEXT4, s.Text4, shown_.Text4);
    text(IDC_ICONLIST, s.iconlist, shown_.iconlist);
    if (s.FileList != shown_.FileList) {
        fillList(item(IDC_FILELIST), s.FileList, s.FileListSelected);
        shown_.FileList = s.FileList;
        shown_.FileListSelected = s.FileListSelected;
    }
    if (s.List1 != shown_.List1) {
        fillList(item(IDC_LIST1), s.List1, s.List1Selected);
        shown_.List1 = s.List1;
        shown_.List1Selected = s.List1Selected;
    }
    if (s.FileListSelected != shown_.FileListSelected)
        SendMessageA(item(IDC_FILELIST), LB_SETCURSEL, WPARAM(shown_.FileListSelected = s.FileListSelected), 0);
    if (s.List1Selected != shown_.List1Selected)
        SendMessageA(item(IDC_LIST1), LB_SETCURSEL, WPARAM(shown_.List1Selected = s.List1Selected), 0);
    if (s.FileListTip != shown_.FileListTip) updateTip(tooltips_, window_, item(IDC_FILELIST), shown_.FileListTip = s.FileListTip);
    if (s.List1Tip != shown_.List1Tip) updateTip(tooltips_, window_, item(IDC_LIST1), shown_.List1Tip = s.List1Tip);
    if (s.ProgressBar1 != shown_.ProgressBar1)
        SendMessageA(item(IDC_PROGRESSBAR1), PBM_SETPOS, WPARAM(shown_.ProgressBar1 = s.ProgressBar1), 0);
    for (BusyButton b : kBusySet) {
        const size_t i = size_t(b);
        if (s.enabled[i] != shown_.enabled[i]) EnableWindow(item(kBusyIds[i]), shown_.enabled[i] = s.enabled[i]);
    }
    pushing_ = false;
    pushSfx();
}

void Frame::pullSfx() {
    if (!sfx_ || !sfxLogic_) return;
    SfxWindowState& s = sfxLogic_->state();
    auto text = [&](int id, std::string& now, std::string& shown) { now = shown = textOf(GetDlgItem(sfx_, id)); };
    s.FileListSelected = sfxShown_.FileListSelected = selectionOf(GetDlgItem(sfx_, IDC_SFX_FILELIST));
    text(IDC_SFX_ICONLIST, s.iconlist, sfxShown_.iconlist);
    text(IDC_SFX_PAS1, s.pas1, sfxShown_.pas1);
    text(IDC_SFX_MP3TEXT, s.mp3text, sfxShown_.mp3text);
    text(IDC_SFX_PAS2, s.pas2, sfxShown_.pas2);
    text(IDC_SFX_SFX2DIR, s.sfx2dir, sfxShown_.sfx2dir);
}

void Frame::pushSfx() {
    if (!sfx_ || !sfxLogic_) return;
    const SfxWindowState& s = sfxLogic_->state();
    pushing_ = true;
    auto text = [&](int id, const std::string& now, std::string& was) {
        if (now != was) SetDlgItemTextA(sfx_, id, now.c_str());
        was = now;
    };
    text(IDC_SFX_TEXT3, s.Text3, sfxShown_.Text3);
    text(IDC_SFX_ICONLIST, s.iconlist, sfxShown_.iconlist);
    text(IDC_SFX_PAS1, s.pas1, sfxShown_.pas1);
    text(IDC_SFX_MP3TEXT, s.mp3text, sfxShown_.mp3text);
    text(IDC_SFX_PAS2, s.pas2, sfxShown_.pas2);
    text(IDC_SFX_SFX2DIR, s.sfx2dir, sfxShown_.sfx2dir);
    text(IDC_SFX_TEXT4, s.Text4, sfxShown_.Text4);
    HWND list = GetDlgItem(sfx_, IDC_SFX_FILELIST);
    if (s.FileList != sfxShown_.FileList) {
        fillList(list, s.FileList, s.FileListSelected);
        sfxShown_.FileList = s.FileList;
        sfxShown_.FileListSelected = s.FileListSelected;
    }
    if (s.FileListSelected != sfxShown_.FileListSelected)
        SendMessageA(list, LB_SETCURSEL, WPARAM(sfxShown_.FileListSelected = s.FileListSelected), 0);
    if (s.FileListTip != sfxShown_.FileListTip) updateTip(sfxTips_, sfx_, list, sfxShown_.FileListTip = s.FileListTip);
    pushing_ = false;
}

// ---- WindowHost ----------------------------------------------------------------------

bool Frame::fileDialog(const FileDialog& dialog, std::string* answer) {
    bool chosen = false;
    onWindowThread([&] {
        if (closing_) return;
        const std::string filter = dialogFilter(dialog.filter);
        // The answer's room: the longest name asked for, and at least a
        // path's worth.
        std::vector<char> buf(std::max<size_t>(dialog.maxFileLength, MAX_PATH) + 2, 0);
        lstrcpynA(buf.data(), dialog.fileName.c_str(), int(buf.size()));
        OPENFILENAMEA ofn = {};
        ofn.lStructSize = sizeof ofn;
        ofn.hwndOwner = sfx_ ? sfx_ : window_;
        ofn.lpstrDefExt = dialog.defaultExtension.empty() ? nullptr : dialog.defaultExtension.c_str();
        ofn.lpstrFilter = filter.c_str();
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = buf.data();
        ofn.nMaxFile = DWORD(buf.size() - 1);
        ofn.lpstrInitialDir = dialog.initialFolder.empty() ? nullptr : dialog.initialFolder.c_str();
        ofn.lpstrTitle = dialog.title.c_str();
        ofn.Flags = dialog.flags;
        chosen = dialog.kind == FileDialog::Save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
        if (chosen) {
            *answer = dialogAnswer(buf.data(), buf.size());
        } else if (CommDlgExtendedError() == FNERR_BUFFERTOOSMALL) {
            // Said, not taken for a cancel: the user chose files and would
            // otherwise not know why none were added.
            MessageBoxA(ofn.hwndOwner, "Too many files were chosen at once. Choose fewer files at a time.    ", "Warning",
                        MB_OK | MB_ICONINFORMATION);
        }
    });
    return chosen;
}

void Frame::message(const std::string& text, const std::string& title, MessageIcon icon) {
    onWindowThread([&] {
        if (closing_ || ended_) return;
        UINT style = MB_OK;
        if (icon == MessageIcon::Information) style |= MB_ICONINFORMATION;
        if (icon == MessageIcon::Exclamation) style |= MB_ICONEXCLAMATION;
        // Owned by the password window when a command of that window speaks.
        HWND owner = GetActiveWindow() == password_ && password_ ? password_ : sfx_ ? sfx_ : window_;
        MessageBoxA(owner, text.c_str(), title.c_str(), style);
    });
}

void Frame::showPasswordWindow() {
    onWindowThread([&] {
        if (closing_ || ended_) return;
        if (!password_)
            password_ = CreateDialogParamA(instance_, MAKEINTRESOURCEA(IDD_PASSWORD), window_,
                                           dialogProc<&Frame::password_, &Frame::onPasswordMessage>,
                                           reinterpret_cast<LPARAM>(this));
        if (password_) {
            ShowWindow(password_, SW_SHOW);
            SetActiveWindow(password_);
        }
    });
}

void Frame::showSfxWindow(SfxWindow& logic) {
    if (sfx_ || ended_ || closing_) return;
    sfxLogic_ = &logic;
    sfxShown_ = SfxWindowState();
    sfxShown_.sfx2dir.clear();
    if (!CreateDialogParamA(instance_, MAKEINTRESOURCEA(IDD_SFX), window_, dialogProc<&Frame::sfx_, &Frame::onSfxMessage>,
                            reinterpret_cast<LPARAM>(this))) {
        sfxLogic_ = nullptr;
        return;
    }
    pushSfx();
    EnableWindow(window_, FALSE);
    ShowWindow(sfx_, SW_SHOW);
    // Modal: this loop runs until the window is gone (Exit, or the program
    // ending, which destroys it with the main window).
    MSG msg;
    while (sfx_) {
        if (GetMessageA(&msg, nullptr, 0, 0) <= 0) {
            PostQuitMessage(int(msg.wParam));  // for the loop we return to
            break;
        }
        dispatch(msg);
    }
    if (sfx_) DestroyWindow(sfx_);
    sfxLogic_ = nullptr;
    if (!ended_) {
        EnableWindow(window_, TRUE);
        SetActiveWindow(window_);
    }
}

void Frame::showAboutWindow() {
    if (ended_ || closing_) return;
    DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_ABOUT), window_, aboutProc, reinterpret_cast<LPARAM>(this));
}

bool Frame::createAdvertisementWindow() {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = adsProc;
    wc.hInstance = instance_;
    wc.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kAdsClass;
    if (!RegisterClassExA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    RECT r = {0, 0, kAdsWidth, kAdsHeight};
    AdjustWindowRectEx(&r, style, FALSE, WS_EX_TOOLWINDOW);
    // In the corner of the screen, out of the main window's way.
    RECT work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const int w = r.right - r.left, h = r.bottom - r.top;
    ads_ = CreateWindowExA(WS_EX_TOOLWINDOW, kAdsClass, kAdsCaption, style, work.right - w - 8, work.bottom - h - 8, w,
                           h, nullptr, nullptr, instance_, this);
    if (!ads_) return false;
    HWND tips = CreateWindowExA(0, WC_EDITA, kAdsTips, WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY, 4, 4,
                                kAdsWidth - 8, kAdsTipsHeight - 8, ads_, reinterpret_cast<HMENU>(INT_PTR(IDC_ADS_TEXT1)),
                                instance_, nullptr);
    SendMessageA(tips, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    const RECT page = {0, kAdsTipsHeight, kAdsWidth, kAdsHeight};
    browser_.reset(new BrowserHost());
    if (!browser_->create(ads_, page)) {
        // No browser engine that works: the page's text instead.
        browser_.reset();
        adsPage_ = CreateWindowExA(WS_EX_CLIENTEDGE, WC_EDITA, "",
                                   WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY, page.left, page.top,
                                   page.right - page.left, page.bottom - page.top, ads_,
                                   reinterpret_cast<HMENU>(INT_PTR(IDC_ADS_PAGE)), instance_, nullptr);
        SendMessageA(adsPage_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    }
    return true;
}

void Frame::showAdvertisementWindow() {
    if (ended_ || !createAdvertisementWindow()) return;
    const std::string page = programFolder() + "\\ads.html";
    for (int pass = 1; pass <= kAdsPasses && ads_ && !ended_; pass++) {
        if (!closing_) ShowWindow(ads_, SW_SHOW);
        SetWindowPos(ads_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        if (browser_)
            browser_->navigate(page);
        else if (adsPage_)
            SetWindowTextA(adsPage_, pageText(readFile(page)).c_str());
        if (!WaitSeconds(kAdsRefreshSeconds, [this](MSG& msg) {
                dispatch(msg);
                return true;
            }))
            break;
    }
}

bool Frame::startProgram(const std::string& commandLine) {
    if (closing_) return false;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

void Frame::endProgram() {
    onWindowThread([&] {
        if (!ended_) DestroyWindow(window_);
    });
}

void Frame::busy() {
    if (GetCurrentThreadId() == windowThread_) return push();
    // On the worker: show the state when the progress moved, else now and
    // then (the window answers the system meanwhile on its own).
    const int progress = logic_->state().ProgressBar1;
    const DWORD now = GetTickCount();
    if (progress == lastProgress_ && now - lastBusy_ < kBusyIntervalMs) return;
    lastProgress_ = progress;
    lastBusy_ = now;
    static const std::function<void()> nothing = [] {};
    onWindowThread(nothing);
}

// ---- The password window ------------------------------------------------------------

INT_PTR Frame::onPasswordMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG:
        SendDlgItemMessageA(password_, IDC_PW_TEXT1, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        return TRUE;
    case WM_COMMAND:
        if (running_ && (LOWORD(wp) != IDC_PW_TEXT1 || HIWORD(wp) == EN_CHANGE)) {
            defer(password_, wp, lp);
            return TRUE;
        }
        switch (LOWORD(wp)) {
        case IDC_PW_TEXT1:
            // Every keystroke goes on to the main window's password box.
            if (HIWORD(wp) == EN_CHANGE && !pushing_) {
                const std::string text = textOf(GetDlgItem(password_, IDC_PW_TEXT1));
                logic_->passwordTextChanged(text);
                push();
            }
            return TRUE;
        case IDOK:
            runWork(&MainWindow::passwordEnter);
            return TRUE;
        case IDCANCEL:
            runNow(&MainWindow::passwordCancel);
            DestroyWindow(password_);
            return TRUE;
        }
        break;
    case WM_DESTROY:
        password_ = nullptr;
        return TRUE;
    }
    return FALSE;
}

// ---- The SFX window ----------------------------------------------------------------

INT_PTR Frame::onSfxMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG: {
        sfxTips_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, sfx_, nullptr, instance_,
                                   nullptr);
        SendMessageA(sfxTips_, TTM_SETMAXTIPWIDTH, 0, 420);
        for (const auto& t : kSfxTips) addTip(sfxTips_, sfx_, GetDlgItem(sfx_, t.id), t.tip);
        addTip(sfxTips_, sfx_, GetDlgItem(sfx_, IDC_SFX_FILELIST), "");
        for (int id : {IDC_SFX_LABEL2, IDC_SFX_LABEL3})
            SendDlgItemMessageA(sfx_, id, WM_SETFONT, reinterpret_cast<WPARAM>(boldFont_), FALSE);
        return TRUE;
    }
    case WM_COMMAND: {
        const int id = LOWORD(wp), code = HIWORD(wp);
        // A command (Exit included) that comes while a build runs waits.
        const bool typing = code == EN_CHANGE || code == EN_UPDATE || code == EN_SETFOCUS || code == EN_KILLFOCUS;
        if (running_ && !typing) {
            defer(sfx_, wp, lp);
            return TRUE;
        }
        SfxCommand command = nullptr;
        bool work = false;
        if (id == IDC_SFX_FILELIST) {
            if (code == LBN_SELCHANGE) command = &SfxWindow::fileListClicked;
        } else if (code == BN_CLICKED || code == STN_CLICKED) {
            switch (id) {
            case IDC_SFX_FBROWSE: command = &SfxWindow::selectFiles, work = true; break;
            case IDC_SFX_ICONSEL: command = &SfxWindow::pickIcon, work = true; break;
            case IDC_SFX_MP3: command = &SfxWindow::pickProgram, work = true; break;
            case IDC_SFX_CREATEALBUM: command = &SfxWindow::buildModel1, work = true; break;
            case IDC_SFX_COMMAND2: command = &SfxWindow::buildModel2, work = true; break;
            case IDC_SFX_EXTRACT2: command = &SfxWindow::pickExtractFolder, work = true; break;
            case IDC_SFX_FILEREMOVE: command = &SfxWindow::removeFile; break;
            case IDC_SFX_ALLCLEAR: command = &SfxWindow::clearAll; break;
            case IDC_SFX_ICONLISTREM: command = &SfxWindow::removeIcon; break;
            case IDC_SFX_COMMAND1: command = &SfxWindow::removeProgram; break;
            case IDCANCEL: DestroyWindow(sfx_); return TRUE;
            }
        }
        if (!command || !sfxLogic_) return FALSE;
        SfxWindow* logic = sfxLogic_;
        const Task task = [logic, command] { (logic->*command)(); };
        work ? runWork(task) : runNow(task);
        return TRUE;
    }
    case WM_DESTROY:
        if (sfxTips_) DestroyWindow(sfxTips_);
        sfxTips_ = nullptr;
        sfx_ = nullptr;
        return TRUE;
    }
    return FALSE;
}

// ---- The About window -----------------------------------------------------------------

INT_PTR CALLBACK Frame::aboutProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_CTLCOLORSTATIC: {
        // The two addresses look like links.
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lp));
        if (id != IDC_ABOUT_LABEL4 && id != IDC_ABOUT_LABEL5) break;
        HDC dc = reinterpret_cast<HDC>(wp);
        SetTextColor(dc, RGB(0, 0, 204));
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case IDC_ABOUT_LABEL4:
        case IDC_ABOUT_LABEL5:
            if (HIWORD(wp) == STN_CLICKED)
                // Failures are not reported: a missing browser is the
                // system's business.
                ShellExecuteA(h, "Open", LOWORD(wp) == IDC_ABOUT_LABEL4 ? kMakerPage : kAlbumPage, "",
                              programFolder().c_str(), SW_SHOWNORMAL);
            return TRUE;
        case IDOK:
        case IDCANCEL:
            EndDialog(h, LOWORD(wp));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// ---- The advertisement window ---------------------------------------------------------

LRESULT CALLBACK Frame::adsProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE)
        SetWindowLongPtrA(h, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams));
    auto* frame = reinterpret_cast<Frame*>(GetWindowLongPtrA(h, GWLP_USERDATA));
    return frame ? frame->onAdsMessage(h, msg, wp, lp) : DefWindowProcA(h, msg, wp, lp);
}

LRESULT Frame::onAdsMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_CLOSE:
        // Closing this window ends the program; a command that writes a
        // file ends first, so nothing half-written is left under its name.
        requestClose();
        if (running_) ShowWindow(h, SW_HIDE);
        return 0;
    case WM_DESTROY:
        if (browser_) browser_->destroy();
        browser_.reset();
        adsPage_ = nullptr;
        ads_ = nullptr;
        return 0;
    }
    return DefWindowProcA(h, msg, wp, lp);
}
