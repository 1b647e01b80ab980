#include "app/globals.h"

std::atomic<int> g_forceCheck{0};
LANGID g_forcedLangId = 0;
HANDLE g_instanceMutex = nullptr;

// Registered during static initialisation, before the entry point runs, and
// in this order. Every copy of the program registers the same names and so
// holds the same numbers within the logon session, which lets one copy
// address another.
UINT g_updateNowMessage = ::RegisterWindowMessageA("WM_TAVRIN_BRENLO_UPDATE_NOW");
UINT g_exitMessage = ::RegisterWindowMessageA("WM_TAVRIN_BRENLO_EXIT");
