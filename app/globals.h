// Process-wide values shared by the entry point and the dialog.
#pragma once

#include <windows.h>

#include <atomic>

// The check was asked for explicitly (/f or the update-now message). Written
// on the main thread only, and only ever from 0 to 1; read by the check thread.
extern std::atomic<int> g_forceCheck;
// Language forced for every text by the machine, or 0.
extern LANGID g_forcedLangId;
// The single-instance mutex; closed at the end of the process, or earlier,
// just before the program starts its own copy.
extern HANDLE g_instanceMutex;
// Registered window messages, the same numbers in every copy of the program.
extern UINT g_updateNowMessage;
extern UINT g_exitMessage;
