#include "desktop/browser_host.h"

#include <ole2.h>

#include <gtest/gtest.h>

namespace {

BOOL CALLBACK countChild(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

int childrenOf(HWND parent) {
    int count = 0;
    EnumChildWindows(parent, countChild, reinterpret_cast<LPARAM>(&count));
    return count;
}

// Where an HTML engine works the control is made, navigates and goes
// again with destroy(); where none does (the test prefix disables it),
// create() fails and leaves no window behind. Either way the parent ends
// without children.
TEST(BrowserHost, EmbedsTheControlOrLeavesNothing) {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    // A message-only parent: the test runs without a display.
    HWND parent = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 300, 250, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    {
        BrowserHost host;
        const RECT area = {0, 20, 300, 250};
        const bool made = host.create(parent, area);
        EXPECT_EQ(host.created(), made);
        EXPECT_EQ(host.navigate("about:blank"), made);
        host.resize({0, 0, 200, 200});
        host.destroy();
        EXPECT_FALSE(host.created());
        EXPECT_FALSE(host.navigate("about:blank"));
        RecordProperty("html_engine", made ? "yes" : "no");
    }
    EXPECT_EQ(childrenOf(parent), 0);
    DestroyWindow(parent);
    OleUninitialize();
}

}  // namespace
