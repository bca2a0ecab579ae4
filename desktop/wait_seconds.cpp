#include "desktop/wait_seconds.h"

namespace {

// Relative due times count in units of 100 nanoseconds, negative.
constexpr int64_t kUnitsPerSecond = 10000000;
// Wake for every kind of input (QS_ALLINPUT without raw input, which the
// program does not register for).
constexpr DWORD kWakeMask = 0xFF;

LARGE_INTEGER relativeDueTime(int64_t units) {
    const int64_t value = -units;
    LARGE_INTEGER due;
    due.LowPart = DWORD(uint64_t(value) & 0xffffffffu);
    due.HighPart = LONG(value >> 32);
    return due;
}

bool arm(HANDLE timer, int64_t units) {
    const LARGE_INTEGER due = relativeDueTime(units);
    return SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) != 0;
}

enum class Drain { Go, Stop };

// Hands every pending message to dispatch. A WM_QUIT goes back into the
// queue so that the caller's loop ends too.
Drain drainMessages(const std::function<bool(MSG&)>& dispatch) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(int(msg.wParam));
            return Drain::Stop;
        }
        if (!dispatch(msg)) return Drain::Stop;
    }
    return Drain::Go;
}

}  // namespace

std::string waitTimerName() {
    char path[MAX_PATH * 4] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string name(path, n < sizeof path ? n : 0);
    const size_t slash = name.find_last_of("\\/:");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name + "Timer";
}

bool WaitSeconds(int32_t seconds, const std::function<bool(MSG&)>& dispatch, bool* timerExisted) {
    if (timerExisted) *timerExisted = false;
    HANDLE timer = CreateWaitableTimerA(nullptr, TRUE, waitTimerName().c_str());
    if (!timer) return false;
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (timerExisted) *timerExisted = existed;

    // A due time of 0 would be an absolute time; no wait is at least 100 ns.
    const int64_t units = seconds > 0 ? int64_t(seconds) * kUnitsPerSecond : 1;
    bool ok = (existed || arm(timer, 1)) && arm(timer, units);
    // Messages already in the queue do not wake the wait below (it wakes
    // for new input only), so they are handed on first.
    if (ok && drainMessages(dispatch) == Drain::Stop) ok = false;
    while (ok) {
        const DWORD r = MsgWaitForMultipleObjects(1, &timer, FALSE, INFINITE, kWakeMask);
        if (r == WAIT_OBJECT_0) break;
        if (r != WAIT_OBJECT_0 + 1 || drainMessages(dispatch) == Drain::Stop) ok = false;
    }
    CloseHandle(timer);
    return ok;
}
