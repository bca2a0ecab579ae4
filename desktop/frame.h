// The main window frmBackupFiles, the password window, the SFX window, the
// About window and the advertisement window as Win32 windows over the
// window logic of frontend/: the controls are created from the
// layout table, their texts and lists are copied into MainWindowState
// before a command and back after it, and the commands of frontend's
// MainWindow run on a click.
//
// Long commands (dialogs, the engine, file copies) run on a worker thread,
// one at a time, while this thread keeps answering the system: paint,
// timers, messages other programs send. Every WindowHost call of a
// command on the worker (dialogs, messages, busy) is carried out on this
// thread through a sent message, while the worker waits; so the state is
// only ever touched by one thread at a time. While a command runs, mouse
// and keyboard input to the windows' client areas is dropped, commands
// that come all the same (a menu) wait for it to end, and closing
// the window hides it and ends the program once the command has ended, so
// an archive being written is finished and renamed into place, not cut.
//
// The SFX window is modal over the main window through a loop of our own,
// so its builds run on the worker like the main window's. The
// advertisement window's refresh loop runs from the start-up: every other
// window runs from the messages its wait hands on.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "desktop/browser_host.h"
#include "frontend/main_window.h"

class Frame : public WindowHost {
public:
    explicit Frame(HINSTANCE instance);
    ~Frame() override;
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    // Creates and shows the main window; false when it cannot.
    bool create(int show);
    // The message loop; the program's exit code.
    int run();

    // ---- WindowHost ---------------------------------------------------------
    bool fileDialog(const FileDialog& dialog, std::string* answer) override;
    void message(const std::string& text, const std::string& title, MessageIcon icon) override;
    void showPasswordWindow() override;
    void showSfxWindow(SfxWindow& logic) override;
    void showAboutWindow() override;
    void showAdvertisementWindow() override;
    bool startProgram(const std::string& commandLine) override;
    void endProgram() override;
    void busy() override;

private:
    using Command = void (MainWindow::*)();
    using SfxCommand = void (SfxWindow::*)();
    using Task = std::function<void()>;

    static LRESULT CALLBACK mainProc(HWND, UINT, WPARAM, LPARAM);
    template <HWND Frame::*window, INT_PTR (Frame::*handler)(UINT, WPARAM, LPARAM)>
    static INT_PTR CALLBACK dialogProc(HWND, UINT, WPARAM, LPARAM);
    static INT_PTR CALLBACK aboutProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK adsProc(HWND, UINT, WPARAM, LPARAM);
    INT_PTR onSfxMessage(UINT msg, WPARAM wp, LPARAM lp);
    LRESULT onAdsMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp);
    bool createAdvertisementWindow();
    // One message of any of the program's loops: input refused while a
    // command runs, dialog keys, the accelerators, then the window.
    void dispatch(MSG& msg);
    LRESULT onMessage(UINT msg, WPARAM wp, LPARAM lp);
    INT_PTR onPasswordMessage(UINT msg, WPARAM wp, LPARAM lp);
    void createControls();
    void onCommand(int id, int code, LPARAM lp);
    // A command that comes while another runs (a menu chosen meanwhile,
    // a click another program posts) waits for it, in order.
    void defer(HWND target, WPARAM wp, LPARAM lp);
    void replayDeferred();

    // A short command, here and now; refused while another runs.
    void runNow(const Task& task);
    void runNow(Command command) { runNow([this, command] { (logic_.get()->*command)(); }); }
    // A long command, on the worker thread; refused while another runs.
    void runWork(const Task& task);
    void runWork(Command command) { runWork([this, command] { (logic_.get()->*command)(); }); }
    // A command that opens a modal window: not a running command itself.
    void runModal(Command command);
    static DWORD WINAPI workerMain(void* frame);
    void workDone();
    // Runs fn on the window's thread (at once when called there), after
    // showing the state so far.
    void onWindowThread(const std::function<void()>& fn);
    bool refusesInput(const MSG& msg) const;
    void requestClose();

    // Controls -> state (what the user typed and selected) and state ->
    // controls (only what changed since last shown).
    void pull();
    void push();
    void pullSfx();
    void pushSfx();
    HWND item(int id) const { return GetDlgItem(window_, id); }

    HINSTANCE instance_;
    HWND window_ = nullptr;
    HWND password_ = nullptr;  // the password window while it is open
    HWND sfx_ = nullptr;       // the SFX window while it is open
    SfxWindow* sfxLogic_ = nullptr;
    SfxWindowState sfxShown_;  // what the SFX window's controls show
    HWND sfxTips_ = nullptr;
    HWND ads_ = nullptr;       // the advertisement window
    HWND adsPage_ = nullptr;   // its page as plain text, without a browser
    std::unique_ptr<BrowserHost> browser_;
    HWND tooltips_ = nullptr;
    HACCEL accelerators_ = nullptr;
    HFONT font_ = nullptr, boldFont_ = nullptr;
    DWORD windowThread_;
    std::unique_ptr<MainWindow> logic_;
    MainWindowState shown_;   // what the controls show
    bool pushing_ = false;    // our own text changes: not the user's
    bool running_ = false;    // a command runs
    bool closing_ = false;    // close asked for while a command ran
    bool ended_ = false;      // the main window is gone
    HANDLE worker_ = nullptr;
    Task work_;
    std::string workFailure_;  // an unexpected failure of the worker's command
    struct Deferred {
        HWND target;
        WPARAM wp;
        LPARAM lp;
    };
    static constexpr size_t kMaxPending = 16;
    std::deque<Deferred> pending_;
    DWORD lastBusy_ = 0;       // worker: when busy() last showed the state
    int lastProgress_ = -1;    // worker: the progress it showed then
};
