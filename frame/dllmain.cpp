// Load-time entry of setupsup.dll. The library sets nothing up at load and
// tears nothing down at unload: every export acquires what it needs within
// the call, so the entry point only reports success.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
