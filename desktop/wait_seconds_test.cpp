#include "desktop/wait_seconds.h"

#include <gtest/gtest.h>

namespace {

constexpr UINT kPing = WM_APP + 7;

// Posts kPing to the thread whose id is `thread` a little later.
DWORD WINAPI postLater(void* thread) {
    Sleep(200);
    PostThreadMessageA(DWORD(reinterpret_cast<uintptr_t>(thread)), kPing, 0, 0);
    return 0;
}

TEST(WaitSeconds, TimerIsNamedAfterTheProgram) {
    EXPECT_EQ(waitTimerName(), "desktop_testTimer");
}

// A one-second wait passes the time while messages posted meanwhile reach
// dispatch; with the timer made beforehand (a second copy of the program)
// the wait shares it, so the other copy's handle is signalled afterwards.
TEST(WaitSeconds, PassesTheTimeWhileDispatching) {
    for (const bool secondCopy : {false, true}) {
        SCOPED_TRACE(secondCopy ? "timer existing" : "timer new");
        MSG m;
        PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);  // this thread's queue
        HANDLE other = secondCopy ? CreateWaitableTimerA(nullptr, TRUE, waitTimerName().c_str()) : nullptr;
        ASSERT_EQ(secondCopy, other != nullptr);

        const auto self = reinterpret_cast<void*>(uintptr_t(GetCurrentThreadId()));
        HANDLE thread = CreateThread(nullptr, 0, postLater, self, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        int pings = 0;
        bool existed = !secondCopy;
        const ULONGLONG start = GetTickCount64();
        const bool passed = WaitSeconds(
            1,
            [&](MSG& msg) {
                pings += msg.message == kPing;
                DispatchMessageA(&msg);
                return true;
            },
            &existed);
        const ULONGLONG tookMs = GetTickCount64() - start;
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);

        EXPECT_TRUE(passed);
        EXPECT_GE(tookMs, 950u);
        EXPECT_EQ(pings, 1);
        EXPECT_EQ(existed, secondCopy);
        if (other) {
            EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_OBJECT_0);
            CloseHandle(other);
        }
    }
}

// The program ending (WM_QUIT) or dispatch asking to stop ends the wait at
// once; the WM_QUIT stays queued for the caller's loop.
TEST(WaitSeconds, EndsEarlyAndKeepsTheQuit) {
    const struct {
        bool quit;
        bool dispatchStops;
    } cases[] = {{true, false}, {false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.quit ? "WM_QUIT" : "dispatch stops");
        if (c.quit) PostQuitMessage(7);
        else PostThreadMessageA(GetCurrentThreadId(), kPing, 0, 0);
        int seen = 0;
        EXPECT_FALSE(WaitSeconds(30, [&](MSG&) { return ++seen, !c.dispatchStops; }));
        EXPECT_EQ(seen, c.quit ? 0 : 1);
        MSG m = {};
        const bool quitQueued = PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        EXPECT_EQ(quitQueued, c.quit);
        if (c.quit) {
            EXPECT_EQ(m.wParam, 7u);
        }
    }
}

}  // namespace
