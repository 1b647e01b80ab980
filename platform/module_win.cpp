#include "platform/module.h"

// The linker places this at the start of the image that holds it, so its
// address is the module handle of whichever executable links this file.
extern "C" IMAGE_DOS_HEADER __ImageBase;

HINSTANCE ModuleInstance() noexcept { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

int RunMessageLoop() noexcept {
  MSG message;
  for (;;) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == -1) continue;
    if (got == 0) return static_cast<int>(message.wParam);
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}
