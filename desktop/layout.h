// The main window's controls: class, caption or initial text, style,
// place (client pixels at 96 dpi) and tooltip, row by row. The window
// creates them from this table; nothing else places a control.
#pragma once

#include <windows.h>

#include <cstddef>

struct ControlSpec {
    int id;
    const char* windowClass;  // WC_BUTTON, WC_EDIT, ...
    const char* text;         // caption or initial text
    DWORD style;              // besides WS_CHILD | WS_VISIBLE
    int x, y, width, height;
    const char* tip;          // nullptr: no tooltip
    bool bold;                // the step headings
};

extern const ControlSpec kControls[];
extern const size_t kControlCount;

// The client area that holds every control.
constexpr int kClientWidth = 780;
constexpr int kClientHeight = 660;
