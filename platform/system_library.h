// Loading the platform's DLLs from the system folder only. The exe runs from
// folders the user writes to (the roaming application data, a downloads
// folder), and a DLL of a system DLL's name placed there must never be
// loaded in its stead.
#pragma once

#include <windows.h>

// First thing at start, on the main thread: every later load searches the
// system folder alone (where the platform cannot, at least not the current
// folder), and the platform shows no error box of its own for a load or a
// file that fails. The error mode is the process's, so programs started by
// this one inherit it.
void RestrictLibrarySearch() noexcept;

// The system folder's DLL `name` ("wininet.dll"), by the system folder's path
// whatever the search order: null, with the last error set, when it cannot
// be loaded. Any thread.
HMODULE LoadSystemLibrary(const wchar_t* name) noexcept;
