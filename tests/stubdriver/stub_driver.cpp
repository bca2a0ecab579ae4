// Drives self-extractor stubs through their real windows, the way a user
// would, and prints what it sees. One driver process runs a whole script
// of scenarios (important where every Windows process start is slow).
//
//   stub_driver SCRIPT [TRANSCRIPT]
//
// The output goes to standard output and, when named, to the file
// TRANSCRIPT (for runs whose standard output is not ours, such as under
// Wine's desktop program).
//
// A script is one command per line; '#' starts a comment line. Arguments
// that are texts (titles, folders, command lines) run to the end of the
// line. Commands:
//
//   scenario NAME      begin a scenario: the previous one ends (its stub is
//                      ended if it still runs); after a failed wait the rest
//                      of a scenario is skipped
//   timeout MS         how long the waits below wait (default 30000)
//   cwd DIR            current folder of the next stub started
//   start CMDLINE      start a stub
//   window TITLE       wait for a visible window of the stub with exactly
//                      this title; it becomes the current and main window
//   message TITLE|*    wait for a message box (a dialog-class window that no
//                      `window` command named) with this title, or any title;
//                      print its title and text; it becomes current
//   picker TEXT        wait for a dialog of the stub holding a label TEXT
//                      (the folder picker); it becomes current
//   title              print the current window's title
//   topmost            print whether the current window stays above others
//   text ID            print the text of control ID
//   style ID           print the style of control ID (hexadecimal)
//   class ID           print the window class of control ID
//   visible ID         print whether control ID is visible
//   labels             print the texts of all labels of the current window
//   rect               print the current window's rectangle (screen pixels)
//   snap REQUEST       write the current window's rectangle into the file
//                      REQUEST and wait until someone deletes it (a
//                      screenshot taker outside Wine)
//   settext ID TEXT    set the text of control ID (an empty TEXT empties it)
//   click ID           post a button press of ID to the current window
//   close              post the close command to the current window
//   quiet MS           watch for MS milliseconds that no window appears
//                      besides those `window` named; print what appears
//   foreign TEXT       wait for a window of another process whose title
//                      holds TEXT (a program the stub started); close it
//   gone MS            wait until the main window is gone
//   exit [MS]          wait for the stub to end; print its exit code and how
//                      many windows it showed while waited for
//   sleep MS
//   echo TEXT
//
// For programs with a main window and common dialogs (orvantarun):
//
//   dialog TITLE       wait for a dialog (as `message`) with this title,
//                      print only the title; it becomes current
//   main               the main window becomes current again
//   filename TEXT      type TEXT into the current common dialog's file name
//                      box, again until it keeps it (a dialog still setting
//                      itself up may overwrite it), then press its OK button
//   children           print every child control: id, class and text
//   items ID           print the entries of list box ID
//   select ID INDEX    select entry INDEX of list box ID and tell the
//                      window, as a click in the list does
//   enabled ID [yes|no]  print whether control ID is enabled; with an
//                      answer, first wait (up to the time-out) for it
//   waittext ID TEXT   wait (up to the time-out) until control ID shows
//                      TEXT; print what it shows
//   type ID TEXT       type TEXT into control ID, one character at a time
//   key VK             post a press of the virtual key VK (hexadecimal) to
//                      the current window
//   ping MS [ID]       send WM_NULL to the main window (1 s time-out) every
//                      few milliseconds until a new dialog appears (it
//                      becomes current) or MS pass; print how many were
//                      answered, the slowest answer, and with ID the
//                      positions seen of that progress bar
//
// Output lines start with the command they answer; a failed wait prints a
// line starting with "FAIL".
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr UINT kSendTimeoutMs = 5000;
constexpr int kFileNameBox = 0x47c;  // cmb13: the file name box of the common file dialogs
constexpr DWORD kPollMs = 5;

struct Driver {
    PROCESS_INFORMATION process = {};
    bool running = false;
    HWND current = nullptr;
    HWND main = nullptr;
    std::set<HWND> known;  // the windows named by `window` in this scenario
    DWORD timeoutMs = 30000;
    std::string cwd;
    bool skipping = false;
};

FILE* g_transcript = nullptr;  // a copy of the output, when asked for

// Texts are printed on one line: a line break shows as "\n".
std::string oneLine(const std::string& text) {
    std::string r;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (text[i] == '\r' || text[i] == '\n') {
            r += "\\n";
        } else {
            r += text[i];
        }
    }
    return r;
}

void out(const std::string& text) {
    const std::string line = oneLine(text);
    for (FILE* f : {stdout, g_transcript}) {
        if (!f) continue;
        std::fputs(line.c_str(), f);
        std::fputc('\n', f);
        std::fflush(f);
    }
}

std::string windowTitle(HWND h) {
    char buf[1024] = {};
    GetWindowTextA(h, buf, sizeof buf);
    return buf;
}

std::string windowClass(HWND h) {
    char buf[256] = {};
    GetClassNameA(h, buf, sizeof buf);
    return buf;
}

// The text of a window of another process (the system carries WM_GETTEXT
// across processes); "<no answer>" when the window does not answer.
std::string controlText(HWND h) {
    std::vector<char> buf(4096, 0);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG,
                             kSendTimeoutMs, &result))
        return "<no answer>";
    return std::string(buf.data());
}

bool ownedByStub(const Driver& d, HWND h) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return d.running && pid == d.process.dwProcessId;
}

// Every window of the walk, into the vector that lp points at.
BOOL CALLBACK collectWindow(HWND h, LPARAM lp) {
    reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
    return TRUE;
}

std::vector<HWND> topLevelWindows() {
    std::vector<HWND> all;
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&all));
    return all;
}

std::vector<HWND> stubWindows(const Driver& d) {
    std::vector<HWND> found;
    for (HWND h : topLevelWindows())
        if (IsWindowVisible(h) && ownedByStub(d, h)) found.push_back(h);
    return found;
}

std::vector<HWND> children(HWND parent) {
    std::vector<HWND> found;
    EnumChildWindows(parent, collectWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string labels(HWND parent) {
    std::string all;
    for (HWND c : children(parent)) {
        if (_stricmp(windowClass(c).c_str(), "Static") != 0) continue;
        std::string t = controlText(c);
        if (t.empty()) continue;
        if (!all.empty()) all += " | ";
        all += t;
    }
    return all;
}

bool isDialog(HWND h) { return windowClass(h) == "#32770"; }

// Polls until pick() names a window or the time is up.
template <typename Pick>
HWND waitFor(Driver& d, DWORD ms, Pick pick) {
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        for (HWND h : stubWindows(d))
            if (pick(h)) return h;
        auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        if (spent.count() >= ms) return nullptr;
        if (d.running && WaitForSingleObject(d.process.hProcess, 0) == WAIT_OBJECT_0) {
            // One last look: the window may have come and gone.
            for (HWND h : stubWindows(d))
                if (pick(h)) return h;
            return nullptr;
        }
        Sleep(kPollMs);
    }
}

void fail(Driver& d, const std::string& what) {
    std::string line = "FAIL " + what;
    DWORD code = 0;
    if (d.running && WaitForSingleObject(d.process.hProcess, 0) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(d.process.hProcess, &code))
        line += " (the stub had ended with code " + std::to_string(code) + ")";
    out(line);
    d.skipping = true;
}

void endStub(Driver& d) {
    if (!d.running) return;
    if (WaitForSingleObject(d.process.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(d.process.hProcess, 99);
        WaitForSingleObject(d.process.hProcess, 10000);
        out("ended stub that was still running");
    }
    CloseHandle(d.process.hProcess);
    CloseHandle(d.process.hThread);
    d.process = {};
    d.running = false;
    d.current = d.main = nullptr;
    d.known.clear();
}

int idArg(const std::string& rest) { return std::atoi(rest.c_str()); }

// "ID TEXT": the id, and the text after one space (may be empty).
void splitIdText(const std::string& rest, int& id, std::string& text) {
    size_t space = rest.find(' ');
    id = std::atoi(rest.substr(0, space).c_str());
    text = space == std::string::npos ? std::string() : rest.substr(space + 1);
}

HWND control(Driver& d, int id, const char* command) {
    HWND c = d.current ? GetDlgItem(d.current, id) : nullptr;
    if (!c) fail(d, std::string(command) + " " + std::to_string(id) + ": no such control");
    return c;
}

void run(Driver& d, const std::string& cmd, const std::string& rest) {
    if (cmd == "timeout") {
        d.timeoutMs = static_cast<DWORD>(std::strtoul(rest.c_str(), nullptr, 10));
    } else if (cmd == "cwd") {
        d.cwd = rest;
    } else if (cmd == "start") {
        std::vector<char> line(rest.begin(), rest.end());
        line.push_back(0);
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            d.cwd.empty() ? nullptr : d.cwd.c_str(), &si, &d.process)) {
            fail(d, "start: CreateProcess failed, error " + std::to_string(GetLastError()));
            return;
        }
        d.running = true;
        out("start ok");
    } else if (cmd == "window") {
        HWND h = waitFor(d, d.timeoutMs, [&](HWND w) { return windowTitle(w) == rest; });
        if (!h) return fail(d, "window " + rest + ": did not appear");
        d.current = d.main = h;
        d.known.insert(h);
        out("window " + rest);
    } else if (cmd == "message") {
        HWND h = waitFor(d, d.timeoutMs, [&](HWND w) {
            return !d.known.count(w) && isDialog(w) && (rest == "*" || windowTitle(w) == rest);
        });
        if (!h) return fail(d, "message " + rest + ": no message box");
        d.current = h;
        out("message [" + windowTitle(h) + "] " + labels(h));
    } else if (cmd == "picker") {
        HWND h = waitFor(d, d.timeoutMs, [&](HWND w) {
            if (d.known.count(w) || !isDialog(w)) return false;
            for (HWND c : children(w))
                if (controlText(c) == rest) return true;
            return false;
        });
        if (!h) return fail(d, "picker: no dialog with the label " + rest);
        d.current = h;
        out("picker [" + windowTitle(h) + "]");
    } else if (cmd == "topmost") {
        const LONG ex = d.current ? GetWindowLongA(d.current, GWL_EXSTYLE) : 0;
        out(std::string("topmost ") + (ex & WS_EX_TOPMOST ? "yes" : "no"));
    } else if (cmd == "title") {
        out("title [" + (d.current ? windowTitle(d.current) : std::string()) + "]");
    } else if (cmd == "text") {
        if (HWND c = control(d, idArg(rest), "text")) out("text " + rest + " [" + controlText(c) + "]");
    } else if (cmd == "style") {
        if (HWND c = control(d, idArg(rest), "style")) {
            char hex[32];
            std::snprintf(hex, sizeof hex, "0x%08lx", static_cast<unsigned long>(GetWindowLongA(c, GWL_STYLE)));
            out("style " + rest + " " + hex);
        }
    } else if (cmd == "class") {
        if (HWND c = control(d, idArg(rest), "class")) out("class " + rest + " [" + windowClass(c) + "]");
    } else if (cmd == "visible") {
        if (HWND c = control(d, idArg(rest), "visible")) out("visible " + rest + (IsWindowVisible(c) ? " yes" : " no"));
    } else if (cmd == "labels") {
        out("labels " + (d.current ? labels(d.current) : std::string()));
    } else if (cmd == "rect") {
        RECT r = {};
        if (d.current) GetWindowRect(d.current, &r);
        out("rect " + std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
            std::to_string(r.bottom));
    } else if (cmd == "snap") {
        // Hands the current window's rectangle to a helper outside Wine
        // (a screenshot) through the file REQUEST, and waits until the
        // helper has deleted it.
        RECT r = {};
        if (!d.current || !GetWindowRect(d.current, &r)) return fail(d, "snap: no window");
        FILE* f = std::fopen(rest.c_str(), "w");
        if (!f) return fail(d, "snap: cannot write " + rest);
        std::fprintf(f, "%ld %ld %ld %ld\n", static_cast<long>(r.left), static_cast<long>(r.top),
                     static_cast<long>(r.right), static_cast<long>(r.bottom));
        std::fclose(f);
        auto start = GetTickCount();
        while (GetFileAttributesA(rest.c_str()) != INVALID_FILE_ATTRIBUTES) {
            if (GetTickCount() - start >= d.timeoutMs) return fail(d, "snap: nobody took the picture");
            Sleep(kPollMs);
        }
        out("snap ok");
    } else if (cmd == "settext") {
        int id = 0;
        std::string text;
        splitIdText(rest, id, text);
        HWND c = control(d, id, "settext");
        if (!c) return;
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                                 kSendTimeoutMs, &result))
            return fail(d, "settext " + std::to_string(id) + ": no answer");
        out("settext " + std::to_string(id));
    } else if (cmd == "click") {
        // Posted, not sent: the press may open a modal window that the
        // next commands have to answer.
        int id = idArg(rest);
        if (!d.current) return fail(d, "click: no window");
        PostMessageA(d.current, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(d.current, id)));
        out("click " + rest);
    } else if (cmd == "close") {
        if (!d.current) return fail(d, "close: no window");
        PostMessageA(d.current, WM_CLOSE, 0, 0);
        out("close");
    } else if (cmd == "quiet") {
        DWORD ms = static_cast<DWORD>(std::strtoul(rest.c_str(), nullptr, 10));
        HWND h = waitFor(d, ms, [&](HWND w) { return !d.known.count(w); });
        if (h) {
            d.current = h;
            out("quiet: appeared [" + windowTitle(h) + "] " + labels(h));
        } else {
            out("quiet ok");
        }
    } else if (cmd == "foreign") {
        // A window of another process (one the stub started) whose title
        // holds TEXT; it is closed once seen.
        HWND found = nullptr;
        auto start = GetTickCount();
        for (;;) {
            for (HWND h : topLevelWindows())
                if (IsWindowVisible(h) && !ownedByStub(d, h) && windowTitle(h).find(rest) != std::string::npos) found = h;
            if (found || GetTickCount() - start >= d.timeoutMs) break;
            Sleep(50);
        }
        if (!found) return fail(d, "foreign: no window with " + rest);
        out("foreign [" + windowTitle(found) + "]");
        PostMessageA(found, WM_CLOSE, 0, 0);
    } else if (cmd == "gone") {
        DWORD ms = static_cast<DWORD>(std::strtoul(rest.c_str(), nullptr, 10));
        auto start = GetTickCount();
        while (d.main && IsWindow(d.main) && IsWindowVisible(d.main) && GetTickCount() - start < ms) Sleep(kPollMs);
        if (d.main && IsWindow(d.main) && IsWindowVisible(d.main)) return fail(d, "gone: the window stays");
        out("gone");
    } else if (cmd == "exit") {
        if (!d.running) return fail(d, "exit: no stub");
        DWORD ms = rest.empty() ? d.timeoutMs : static_cast<DWORD>(std::strtoul(rest.c_str(), nullptr, 10));
        std::set<HWND> seen;
        auto start = GetTickCount();
        while (WaitForSingleObject(d.process.hProcess, kPollMs) == WAIT_TIMEOUT) {
            for (HWND h : stubWindows(d)) seen.insert(h);
            if (GetTickCount() - start >= ms) return fail(d, "exit: the stub still runs");
        }
        DWORD code = 0;
        GetExitCodeProcess(d.process.hProcess, &code);
        out("exit " + std::to_string(code) + " windows " + std::to_string(seen.size()));
        endStub(d);
    } else if (cmd == "dialog") {
        HWND h = waitFor(d, d.timeoutMs, [&](HWND w) { return !d.known.count(w) && isDialog(w) && windowTitle(w) == rest; });
        if (!h) return fail(d, "dialog " + rest + ": did not appear");
        d.current = h;
        out("dialog [" + rest + "]");
    } else if (cmd == "filename") {
        HWND box = control(d, kFileNameBox, "filename");
        if (!box) return;
        const DWORD start = GetTickCount();
        for (;;) {
            DWORD_PTR result = 0;
            SendMessageTimeoutA(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(rest.c_str()), SMTO_ABORTIFHUNG,
                                kSendTimeoutMs, &result);
            Sleep(250);
            if (controlText(box) == rest) break;
            if (GetTickCount() - start >= d.timeoutMs) return fail(d, "filename: the dialog does not keep " + rest);
        }
        PostMessageA(d.current, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(d.current, IDOK)));
        out("filename " + rest);
    } else if (cmd == "main") {
        if (!d.main || !IsWindow(d.main)) return fail(d, "main: no main window");
        d.current = d.main;
        out("main");
    } else if (cmd == "children") {
        if (!d.current) return fail(d, "children: no window");
        for (HWND c : children(d.current))
            out("child " + std::to_string(GetDlgCtrlID(c)) + " " + windowClass(c) + " [" + controlText(c) + "]");
    } else if (cmd == "items") {
        HWND c = control(d, idArg(rest), "items");
        if (!c) return;
        DWORD_PTR count = 0;
        SendMessageTimeoutA(c, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &count);
        std::string all;
        for (DWORD_PTR i = 0; i < count; i++) {
            // Asked for in UTF-16, which the system carries across processes
            // for list boxes of either kind.
            std::vector<wchar_t> wide(4096, 0);
            DWORD_PTR got = 0;
            SendMessageTimeoutW(c, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide.data()), SMTO_ABORTIFHUNG,
                                kSendTimeoutMs, &got);
            char buf[8192] = {};
            WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, buf, sizeof buf - 1, nullptr, nullptr);
            all += (i ? " | " : "") + std::string(buf);
        }
        out("items " + std::to_string(idArg(rest)) + " " + std::to_string(count) + " [" + all + "]");
    } else if (cmd == "select") {
        int id = 0;
        std::string index;
        splitIdText(rest, id, index);
        HWND c = control(d, id, "select");
        if (!c) return;
        DWORD_PTR result = 0;
        SendMessageTimeoutA(c, LB_SETCURSEL, std::atoi(index.c_str()), 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
        PostMessageA(d.current, WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE), reinterpret_cast<LPARAM>(c));
        out("select " + rest);
    } else if (cmd == "enabled") {
        int id = 0;
        std::string want;
        splitIdText(rest, id, want);
        HWND c = control(d, id, "enabled");
        if (!c) return;
        auto state = [&] { return std::string(IsWindowEnabled(c) ? "yes" : "no"); };
        const DWORD start = GetTickCount();
        while (!want.empty() && state() != want && GetTickCount() - start < d.timeoutMs) Sleep(kPollMs);
        out("enabled " + std::to_string(id) + " " + state());
    } else if (cmd == "waittext") {
        int id = 0;
        std::string want;
        splitIdText(rest, id, want);
        HWND c = control(d, id, "waittext");
        if (!c) return;
        const DWORD start = GetTickCount();
        while (controlText(c) != want && GetTickCount() - start < d.timeoutMs) Sleep(kPollMs);
        out("waittext " + std::to_string(id) + " [" + controlText(c) + "]");
    } else if (cmd == "type") {
        int id = 0;
        std::string text;
        splitIdText(rest, id, text);
        HWND c = control(d, id, "type");
        if (!c) return;
        for (unsigned char ch : text) {
            DWORD_PTR result = 0;
            // Sent, so that each character is taken before the next.
            SendMessageTimeoutA(c, WM_CHAR, ch, 1, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
        }
        out("type " + std::to_string(id));
    } else if (cmd == "key") {
        if (!d.current) return fail(d, "key: no window");
        const WPARAM vk = std::strtoul(rest.c_str(), nullptr, 16);
        PostMessageA(d.current, WM_KEYDOWN, vk, 1);
        PostMessageA(d.current, WM_KEYUP, vk, 0xC0000001);
        out("key " + rest);
    } else if (cmd == "ping") {
        // Whether the main window answers the system while it works.
        int limit = 0;
        std::string barId;
        splitIdText(rest, limit, barId);
        if (!d.main) return fail(d, "ping: no main window");
        HWND bar = barId.empty() ? nullptr : GetDlgItem(d.main, std::atoi(barId.c_str()));
        std::vector<int> positions;
        int sent = 0, answered = 0;
        DWORD slowest = 0;
        HWND appeared = nullptr;
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < DWORD(limit)) {
            const DWORD before = GetTickCount();
            DWORD_PTR result = 0;
            sent++;
            if (SendMessageTimeoutA(d.main, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result)) answered++;
            slowest = std::max<DWORD>(slowest, GetTickCount() - before);
            if (bar) {
                DWORD_PTR pos = 0;
                if (SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_NORMAL, 1000, &pos) &&
                    (positions.empty() || positions.back() != int(pos)))
                    positions.push_back(int(pos));
            }
            for (HWND w : stubWindows(d))
                if (!d.known.count(w) && isDialog(w)) appeared = w;
            if (appeared) break;
            Sleep(20);
        }
        if (appeared) d.current = appeared;
        std::string seen;
        for (int p : positions) seen += (seen.empty() ? "" : " ") + std::to_string(p);
        out("ping sent " + std::to_string(sent) + " answered " + std::to_string(answered) + " slowest " +
            std::to_string(slowest) + " ms" + (bar ? " progress [" + seen + "]" : std::string()) +
            (appeared ? " then [" + windowTitle(appeared) + "]" : " then nothing"));
    } else if (cmd == "sleep") {
        Sleep(static_cast<DWORD>(std::strtoul(rest.c_str(), nullptr, 10)));
    } else if (cmd == "echo") {
        out("echo " + rest);
    } else {
        fail(d, "unknown command " + cmd);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fputs("usage: stub_driver SCRIPT [TRANSCRIPT]\n", stderr);
        return 2;
    }
    if (argc == 3 && !(g_transcript = std::fopen(argv[2], "w"))) {
        std::fprintf(stderr, "stub_driver: cannot write %s\n", argv[2]);
        return 2;
    }
    std::ifstream script(argv[1]);
    if (!script) {
        std::fprintf(stderr, "stub_driver: cannot read %s\n", argv[1]);
        return 2;
    }
    Driver d;
    DWORD begin = GetTickCount();
    DWORD scenarioStart = begin;
    bool inScenario = false;
    std::string line;
    while (std::getline(script, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        size_t space = line.find(' ');
        std::string cmd = line.substr(0, space);
        std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (cmd == "scenario") {
            endStub(d);
            if (inScenario) out("took " + std::to_string(GetTickCount() - scenarioStart) + " ms");
            inScenario = true;
            d.skipping = false;
            d.cwd.clear();
            scenarioStart = GetTickCount();
            out("scenario " + rest);
            continue;
        }
        if (d.skipping) continue;
        run(d, cmd, rest);
    }
    endStub(d);
    if (inScenario) out("took " + std::to_string(GetTickCount() - scenarioStart) + " ms");
    out("done in " + std::to_string(GetTickCount() - begin) + " ms");
    if (g_transcript) std::fclose(g_transcript);
    return 0;
}
