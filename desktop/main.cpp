// orvantarun: the desktop program. Starts the common controls and the main
// window, and runs its message loop.
#include <windows.h>
#include <commctrl.h>

#include "desktop/frame.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    Frame frame(instance);
    if (!frame.create(show)) {
        MessageBoxA(nullptr, "The main window cannot be created.", "Orvanta", MB_OK | MB_ICONINFORMATION);
        return 1;
    }
    return frame.run();
}
