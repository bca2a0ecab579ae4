// orvantarun: the desktop program. Starts OLE (the advertisement window's
// browser control), the common controls and the main window, and runs its
// message loop.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include "desktop/frame.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    const bool ole = SUCCEEDED(OleInitialize(nullptr));
    int code = 1;
    {
        Frame frame(instance);
        if (frame.create(show))
            code = frame.run();
        else
            MessageBoxA(nullptr, "The main window cannot be created.", "Orvanta", MB_OK | MB_ICONINFORMATION);
    }
    if (ole) OleUninitialize();
    return code;
}
