// The self-extractor's windows: the hidden main window, the unzip dialog
// (129), the password dialog (130), the progress dialog of the automatic
// run (138), message boxes, the folder picker and the program start. All
// decisions live in stub_core; this file only shows them.
//
// One thread. The work runs inside the dialogs' command handlers; while it
// runs, the progress bars are repainted at once and messages sent from
// other threads (text queries, for instance) are still answered, but
// nothing posted (clicks, keys, the timer) is handled until it is done.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <memory>
#include <string>

#include "exeimage/exe_image.h"
#include "sfxstub/stub_core.h"
#include "sfxstub/stub_resource.h"
#include "support/log_base.h"
#include "support/platform.h"

namespace {

constexpr uint32_t kMaxPassword = 499;    // characters kept from the password edit
constexpr uint32_t kMaxFolder = 1023;     // characters read from the folder edit

HINSTANCE g_instance = nullptr;
HICON g_icon = nullptr;

// Answers messages that other threads or processes send to our windows
// while a long operation keeps this thread from its message loop.
void answerSentMessages() {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

// The Win32 face of the stub's logic. `dialog` is the window currently
// open: it owns message boxes, the password dialog and started programs,
// and it receives the progress (none in silent mode: reports are dropped).
class DialogUi : public StubUi {
public:
    HWND dialog = nullptr;

    bool askPassword(StringBuffer& password) override;
    void showMessage(const char* text, const char* title) override {
        MessageBoxA(dialog, text, title, MB_OK);
    }
    void setStatus(const char* text) override {
        HWND label = dialog ? GetDlgItem(dialog, IDC_STATUS) : nullptr;
        if (!label) return;
        SetWindowTextA(label, text);
        UpdateWindow(label);
        answerSentMessages();
    }
    void decryptProgress(uint32_t percent) override { setBar(IDC_DECRYPT_BAR, percent); }
    void unzipProgress(uint32_t percent) override { setBar(IDC_UNZIP_BAR, percent); }
    bool runProgram(const char* path, const char* params, const char* workDir) override {
        HINSTANCE r = ShellExecuteA(dialog, "open", path, params, workDir, SW_SHOWNORMAL);
        return reinterpret_cast<INT_PTR>(r) > 32;
    }

private:
    void setBar(int id, uint32_t percent) {
        HWND bar = dialog ? GetDlgItem(dialog, id) : nullptr;
        if (!bar) return;
        SendMessageA(bar, PBM_SETPOS, percent, 0);
        UpdateWindow(bar);
        answerSentMessages();
    }

    // The password of the process: OK replaces it, Cancel clears it,
    // closing the dialog leaves it as it was.
    StringBuffer password_;
};

// ---- Password dialog 130 -------------------------------------------------

struct PasswordDialogState {
    StringBuffer* password;  // the process's password, changed by OK and Cancel
    bool entered = false;
};

INT_PTR CALLBACK passwordProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    auto* state = reinterpret_cast<PasswordDialogState*>(GetWindowLongPtrA(dlg, DWLP_USER));
    switch (msg) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dlg, DWLP_USER, lp);
        SendDlgItemMessageA(dlg, IDC_PASSWORD, EM_LIMITTEXT, kMaxPassword, 0);
        if (g_icon) SendMessageA(dlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(g_icon));
        return TRUE;  // focus on the first control: the edit
    case WM_COMMAND:
        if (LOWORD(wp) == IDOK) {
            char text[kMaxPassword + 1] = {};
            GetDlgItemTextA(dlg, IDC_PASSWORD, text, sizeof text);
            state->password->assign(text);
            SecureZeroMemory(text, sizeof text);
            state->entered = true;
            EndDialog(dlg, IDOK);
            return TRUE;
        }
        if (LOWORD(wp) == IDCANCEL) {
            state->password->clear();
            EndDialog(dlg, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:  // the close box: no password, the old one stays
        EndDialog(dlg, 0);
        return TRUE;
    }
    return FALSE;
}

bool DialogUi::askPassword(StringBuffer& password) {
    PasswordDialogState state;
    state.password = &password_;
    DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_PASSWORD), dialog, passwordProc,
                    reinterpret_cast<LPARAM>(&state));
    if (!state.entered) return false;
    password.assign(password_.str());
    return true;
}

// ---- Unzip dialog 129 -------------------------------------------------------

struct DialogContext {
    const StubParameters* params;
    DialogUi* ui;
    StubSession* session;
    bool started = false;  // the progress dialog's run has begun
};

void applyTitle(HWND dlg, const StubParameters& p) {
    if (!p.appTitle.isEmpty()) SetWindowTextA(dlg, p.appTitle.str());
    if (g_icon) SendMessageA(dlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(g_icon));
}

void browseForFolder(HWND dlg) {
    BROWSEINFOA info = {};
    info.hwndOwner = dlg;
    info.lpszTitle = StubText::kBrowseTitle;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
    if (!chosen) return;  // cancelled: the folder stays as typed
    char path[MAX_PATH] = {};
    if (SHGetPathFromIDListA(chosen, path)) SetDlgItemTextA(dlg, IDC_FOLDER, path);
    CoTaskMemFree(chosen);
}

// The dialog's context: kept with the window from WM_INITDIALOG on (null
// for the messages that come before it).
DialogContext* contextOf(HWND dlg, UINT msg, LPARAM lp) {
    if (msg == WM_INITDIALOG) SetWindowLongPtrA(dlg, DWLP_USER, lp);
    return reinterpret_cast<DialogContext*>(GetWindowLongPtrA(dlg, DWLP_USER));
}

// What the unzip and progress dialogs do alike: Cancel (also Escape) and
// the close box end the dialog; once it is destroyed the stub no longer
// reports to it.
INT_PTR closingMessage(HWND dlg, UINT msg, WPARAM wp, DialogContext* ctx) {
    switch (msg) {
    case WM_COMMAND:
        if (LOWORD(wp) != IDCANCEL) return FALSE;
        EndDialog(dlg, IDCANCEL);
        return TRUE;
    case WM_CLOSE:
        EndDialog(dlg, IDCANCEL);
        return TRUE;
    case WM_DESTROY:
        if (ctx) ctx->ui->dialog = nullptr;
        return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK unzipProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    DialogContext* ctx = contextOf(dlg, msg, lp);
    switch (msg) {
    case WM_INITDIALOG: {
        char folder[kMaxFolder + 1] = {};
        if (platform::currentDirectory(folder, sizeof folder) == 0) folder[0] = 0;
        SetDlgItemTextA(dlg, IDC_FOLDER, folder);
        applyTitle(dlg, *ctx->params);
        ctx->ui->dialog = dlg;
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case IDC_BROWSE:
            browseForFolder(dlg);
            return TRUE;
        case IDC_UNZIP: {
            char folder[kMaxFolder + 1] = {};
            GetDlgItemTextA(dlg, IDC_FOLDER, folder, sizeof folder);
            ctx->session->runInteractive(folder);
            return TRUE;  // the dialog stays open for another unzip
        }
        }
        break;
    }
    return closingMessage(dlg, msg, wp, ctx);
}

// ---- Progress dialog 138 -----------------------------------------------------

constexpr UINT_PTR kStartTimer = 1;
constexpr UINT kStartDelayMs = 200;

INT_PTR CALLBACK progressProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    DialogContext* ctx = contextOf(dlg, msg, lp);
    switch (msg) {
    case WM_INITDIALOG: {
        const StubParameters& p = *ctx->params;
        if (!p.encrypted) {  // nothing to decrypt: only the unzip bar shows
            SetDlgItemTextA(dlg, IDC_DECRYPT_LABEL, " ");
            ShowWindow(GetDlgItem(dlg, IDC_DECRYPT_BAR), SW_HIDE);
        }
        applyTitle(dlg, p);
        if (!p.progressCaption.isEmpty()) SetDlgItemTextA(dlg, IDC_UNZIP_LABEL, p.progressCaption.str());
        ctx->ui->dialog = dlg;
        SetTimer(dlg, kStartTimer, kStartDelayMs, nullptr);
        return TRUE;
    }
    case WM_TIMER:
        if (wp == kStartTimer) PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_START_AUTOMATIC, 0), 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wp) == IDC_START_AUTOMATIC) {
            if (ctx->started) return TRUE;  // later ticks
            ctx->started = true;
            KillTimer(dlg, kStartTimer);
            ctx->session->runAutomatic();
            EndDialog(dlg, IDOK);
            return TRUE;
        }
        break;
    case WM_DESTROY:
        KillTimer(dlg, kStartTimer);
        break;
    }
    return closingMessage(dlg, msg, wp, ctx);
}

// ---- Start ----------------------------------------------------------------------

// The hidden main window: it is never shown, but it gives the process its
// class and title.
HWND createMainWindow() {
    char title[64] = {};
    char className[64] = {};
    LoadStringA(g_instance, IDS_MAIN_TITLE, title, sizeof title);
    LoadStringA(g_instance, IDS_MAIN_CLASS, className, sizeof className);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = g_instance;
    wc.hIcon = g_icon;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = className;
    RegisterClassA(&wc);
    return CreateWindowA(className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                         CW_USEDEFAULT, nullptr, nullptr, g_instance, nullptr);
}

// A self-extractor is often started from a download folder, where anyone
// may have left a DLL named like one the system loads by name. From here
// on, DLLs loaded by name (by us or by the system DLLs) come from the system
// folder only. Looked up at run time, so that systems without it still
// start; there at least the current folder leaves the search. True when
// the search is restricted.
bool restrictDllSearch() {
    using SetDefaultDirs = BOOL(WINAPI*)(DWORD);
    auto setDefaultDirs = reinterpret_cast<SetDefaultDirs>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefaultDirs && setDefaultDirs(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
    SetDllDirectoryA("");
    return false;
}

// The progress bar class. The common controls are not a static import:
// they are not among the DLLs that the system always takes from its own
// folder. By name (so that the manifest's version 6 is found) when the
// search is restricted, else by the system folder's full path.
void initCommonControls(bool searchRestricted) {
    char path[MAX_PATH + 16] = "comctl32.dll";
    if (!searchRestricted) {
        UINT n = GetSystemDirectoryA(path, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return;
        lstrcpyA(path + n, "\\comctl32.dll");
    }
    HMODULE comctl = LoadLibraryA(path);
    using InitControls = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    auto init = comctl ? reinterpret_cast<InitControls>(
                             reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControlsEx")))
                       : nullptr;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    if (init) init(&controls);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    initCommonControls(restrictDllSearch());  // before anything else loads a DLL
    g_instance = instance;
    CoInitialize(nullptr);  // the folder picker needs COM
    g_icon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_STUB_GROUP));
    HWND mainWindow = createMainWindow();

    // The parameters come from our own file, read through the PE model.
    // A file that cannot be read gives no parameters: the unzip dialog
    // then says that the archive cannot be opened.
    LogNull log;
    StubParameters params;
    std::unique_ptr<ExeImage> image;
    char self[MAX_PATH * 2] = {};
    if (platform::modulePath(nullptr, self, sizeof self) != 0) image.reset(ExeImage::loadFromFile(self, &log));
    if (image) readStubParameters(*image, params);

    DialogUi ui;
    StubSession session(params, ui);
    DialogContext ctx;
    ctx.params = &params;
    ctx.ui = &ui;
    ctx.session = &session;

    int exitCode = kExitDialogClosed;
    switch (chooseStubMode(params)) {
    case StubMode::Silent:
        exitCode = session.runAutomatic() == UnzipOutcome::Unzipped ? kExitSilentSuccess : kExitSilentFailure;
        break;
    case StubMode::Automatic:
        DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, progressProc,
                        reinterpret_cast<LPARAM>(&ctx));
        break;
    case StubMode::Interactive:
        DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_UNZIP), nullptr, unzipProc, reinterpret_cast<LPARAM>(&ctx));
        break;
    }
    if (mainWindow) DestroyWindow(mainWindow);
    image.reset();
    CoUninitialize();
    return exitCode;
}
