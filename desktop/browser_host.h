// The advertisement window's page view: the system's web browser control
// embedded in a child area of a window, through a minimal OLE container
// of our own (client site, in-place site and frame; nothing else). Win32
// only; uses ole32 and oleaut32. The caller owns OleInitialize.
//
// create() first checks that an HTML engine can be made at all; where none
// works the caller shows the page's text instead (frontend/page_text.h).
#pragma once

#include <windows.h>

#include <string>

struct IOleObject;
struct IWebBrowser2;
class BrowserSite;

class BrowserHost {
public:
    BrowserHost() = default;
    ~BrowserHost();  // destroy()
    BrowserHost(const BrowserHost&) = delete;
    BrowserHost& operator=(const BrowserHost&) = delete;

    // Embeds and activates the control in `area` (client coordinates of
    // parent). False when no HTML engine works or any step fails; nothing
    // is left behind then.
    bool create(HWND parent, const RECT& area);
    // Starts loading url (ANSI); false without a control or when refused.
    bool navigate(const std::string& url);
    // Moves the control to a new area of the parent.
    void resize(const RECT& area);
    // Closes and releases the control; harmless when there is none.
    void destroy();
    bool created() const { return browser_ != nullptr; }

private:
    BrowserSite* site_ = nullptr;
    IOleObject* object_ = nullptr;
    IWebBrowser2* browser_ = nullptr;
};
