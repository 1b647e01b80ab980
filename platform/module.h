// The program's module and the main thread's message loop.
#pragma once

#include <windows.h>

// The module whose code is running: the exe, or a test exe that links the
// same sources. Its resources hold the dialog templates, texts and artwork.
HINSTANCE ModuleInstance() noexcept;

// Retrieves, translates and dispatches the calling thread's messages until
// WM_QUIT and returns the quit message's code. A dialog's messages go
// through its keyboard navigation first (Tab, Enter, Space, Escape); a
// popup menu keeps its own loop and keys. A failed retrieval is retried
// rather than ending the loop.
int RunMessageLoop() noexcept;
