/* stubcarrier.dll: a resource-only PE32 module that holds the stubs for the
   native orvanta tool. No runtime library; the entry only says yes. */
#include <windows.h>

BOOL WINAPI orv_carrier_entry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
