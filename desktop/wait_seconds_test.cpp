#include "desktop/wait_seconds.h"

#include <gtest/gtest.h>

namespace {

constexpr UINT kPing = WM_APP + 7;

struct Poster {
    DWORD thread;
};

DWORD WINAPI postLater(void* p) {
    Sleep(200);
    PostThreadMessageA(static_cast<Poster*>(p)->thread, kPing, 0, 0);
    return 0;
}

double secondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, freq;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&freq);
    return double(now.QuadPart - start.QuadPart) / double(freq.QuadPart);
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

        Poster poster = {GetCurrentThreadId()};
        HANDLE thread = CreateThread(nullptr, 0, postLater, &poster, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        int pings = 0;
        bool existed = !secondCopy;
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        const bool passed = WaitSeconds(
            1,
            [&](MSG& msg) {
                pings += msg.message == kPing;
                DispatchMessageA(&msg);
                return true;
            },
            &existed);
        const double took = secondsSince(start);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);

        EXPECT_TRUE(passed);
        EXPECT_GE(took, 0.95);
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
